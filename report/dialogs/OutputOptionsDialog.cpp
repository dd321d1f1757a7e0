#include "report/dialogs/OutputOptionsDialog.h"

#include "gui/ErrorReporter.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace halvenna {

OutputOptionsDialog::OutputOptionsDialog(const OutputChoice& offered, const QString& reportName, int pageCount,
                                         const QStringList& misfits, QWidget* parent)
    : QDialog(parent), misfits_(misfits)
{
    setObjectName(QStringLiteral("OutputOptions"));
    setWindowTitle(QStringLiteral("Output Options"));

    auto* lblReport = new QLabel(QStringLiteral("%1: %2 %3")
                                     .arg(reportName)
                                     .arg(pageCount)
                                     .arg(pageCount == 1 ? QStringLiteral("page") : QStringLiteral("pages")),
                                 this);
    lblReport->setObjectName(QStringLiteral("lblReport"));
    auto* lblSheets = new QLabel(QStringLiteral("%1 枚").arg(pageCount), this);
    lblSheets->setObjectName(QStringLiteral("lblSheets"));

    // Printing is not blocked: the user is told, and can see where.
    QWidget* misfitRow = nullptr;
    if (!misfits_.isEmpty()) {
        misfitRow = new QWidget(this);
        auto* lblMisfits =
            new QLabel(QStringLiteral("%1 枚に収まらない文字があります").arg(misfits_.size()), misfitRow);
        lblMisfits->setObjectName(QStringLiteral("lblMisfits"));
        QPalette red = lblMisfits->palette();
        red.setColor(QPalette::WindowText, QColor(200, 0, 0));
        lblMisfits->setPalette(red);
        auto* btnMisfits = new QPushButton(QStringLiteral("一覧(&L)..."), misfitRow);
        btnMisfits->setObjectName(QStringLiteral("btnMisfits"));
        btnMisfits->setAutoDefault(false);
        btnMisfits->setAccessibleDescription(lblMisfits->text());
        auto* row = new QHBoxLayout(misfitRow);
        row->setContentsMargins(0, 0, 0, 0);
        row->addWidget(lblMisfits, 1);
        row->addWidget(btnMisfits);
        connect(btnMisfits, &QPushButton::clicked, this, &OutputOptionsDialog::showMisfits);
    }

    auto* gbDestination = new QGroupBox(QStringLiteral("Destination"), this);
    gbDestination->setObjectName(QStringLiteral("gbDestination"));
    rbPrinter = new QRadioButton(QStringLiteral("&Printer"), gbDestination);
    rbPrinter->setObjectName(QStringLiteral("rbPrinter"));
    rbPreview = new QRadioButton(QStringLiteral("Pre&view"), gbDestination);
    rbPreview->setObjectName(QStringLiteral("rbPreview"));
    rbFile = new QRadioButton(QStringLiteral("&File (PDF)"), gbDestination);
    rbFile->setObjectName(QStringLiteral("rbFile"));
    auto* group = new QButtonGroup(this);
    group->addButton(rbPrinter);
    group->addButton(rbPreview);
    group->addButton(rbFile);

    edCopies = new QSpinBox(gbDestination);
    edCopies->setObjectName(QStringLiteral("edCopies"));
    edCopies->setRange(1, 999);
    edCopies->setValue(qBound(1, offered.copies, 999));
    auto* lblCopies = new QLabel(QStringLiteral("&Copies:"), gbDestination);
    lblCopies->setBuddy(edCopies);
    btnSetup = new QPushButton(QStringLiteral("&Setup..."), gbDestination);
    btnSetup->setObjectName(QStringLiteral("btnSetup"));
    btnSetup->setAutoDefault(false);

    edFileName = new QLineEdit(offered.fileName, gbDestination);
    edFileName->setObjectName(QStringLiteral("edFileName"));
    edFileName->setMinimumWidth(280);
    auto* lblFileName = new QLabel(QStringLiteral("File &name:"), gbDestination);
    lblFileName->setBuddy(edFileName);
    btnBrowse = new QPushButton(QStringLiteral("&Browse..."), gbDestination);
    btnBrowse->setObjectName(QStringLiteral("btnBrowse"));
    btnBrowse->setAutoDefault(false);

    auto* grid = new QGridLayout(gbDestination);
    grid->addWidget(rbPrinter, 0, 0, 1, 4);
    grid->addWidget(lblCopies, 1, 1);
    grid->addWidget(edCopies, 1, 2);
    grid->addWidget(btnSetup, 1, 3);
    grid->addWidget(rbPreview, 2, 0, 1, 4);
    grid->addWidget(rbFile, 3, 0, 1, 4);
    grid->addWidget(lblFileName, 4, 1);
    grid->addWidget(edFileName, 4, 2);
    grid->addWidget(btnBrowse, 4, 3);
    grid->setColumnMinimumWidth(0, 16);
    grid->setColumnStretch(2, 1);

    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("btnOK"));
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("btnCancel"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblReport);
    layout->addWidget(lblSheets);
    if (misfitRow)
        layout->addWidget(misfitRow);
    layout->addWidget(gbDestination);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    switch (offered.destination) {
    case OutputChoice::Destination::Printer:
        rbPrinter->setChecked(true);
        break;
    case OutputChoice::Destination::Preview:
        rbPreview->setChecked(true);
        break;
    case OutputChoice::Destination::File:
        rbFile->setChecked(true);
        break;
    }

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    for (QRadioButton* rb : {rbPrinter, rbPreview, rbFile})
        connect(rb, &QRadioButton::toggled, this, &OutputOptionsDialog::updateEnabled);
    connect(edFileName, &QLineEdit::textChanged, this, &OutputOptionsDialog::updateEnabled);
    connectGuarded(btnSetup, &QPushButton::clicked, this, [this] {
        if (!printerSetup)
            return;
        // The copies chosen under Setup are the ones printed, so the box takes them.
        if (const std::optional<int> copies = printerSetup(this, edCopies->value()))
            edCopies->setValue(qBound(1, *copies, 999));
    });
    connectGuarded(btnBrowse, &QPushButton::clicked, this, &OutputOptionsDialog::browse);

    updateEnabled();
    // The destination chosen is where the keyboard starts: arrows move between the three.
    (rbPrinter->isChecked() ? rbPrinter : rbFile->isChecked() ? rbFile : rbPreview)->setFocus();
}

void OutputOptionsDialog::updateEnabled()
{
    const bool printer = rbPrinter->isChecked();
    const bool file = rbFile->isChecked();
    edCopies->setEnabled(printer);
    btnSetup->setEnabled(printer);
    edFileName->setEnabled(file);
    btnBrowse->setEnabled(file);
    buttons->button(QDialogButtonBox::Ok)->setEnabled(!file || !edFileName->text().trimmed().isEmpty());
}

void OutputOptionsDialog::showMisfits()
{
    QDialog list(this);
    list.setObjectName(QStringLiteral("MisfitList"));
    list.setWindowTitle(QStringLiteral("収まらない文字"));
    auto* label = new QLabel(QStringLiteral("次の枚の文字が枠に収まらず、枠の外は印刷されません(&S):"), &list);
    auto* lines = new QListWidget(&list);
    lines->setObjectName(QStringLiteral("lstMisfits"));
    lines->addItems(misfits_);
    lines->setCurrentRow(0);
    label->setBuddy(lines);
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, &list);
    close->button(QDialogButtonBox::Close)->setText(QStringLiteral("閉じる"));
    close->button(QDialogButtonBox::Close)->setDefault(true);
    connect(close, &QDialogButtonBox::rejected, &list, &QDialog::reject);
    auto* layout = new QVBoxLayout(&list);
    layout->addWidget(label);
    layout->addWidget(lines);
    layout->addWidget(close);
    list.resize(420, 300);
    list.exec();
}

void OutputOptionsDialog::browse()
{
    if (!chooseFile)
        return;
    const QString chosen = chooseFile(this, edFileName->text());
    if (!chosen.isEmpty()) {
        edFileName->setText(chosen);
        browsed_ = chosen;
    }
    edFileName->setFocus();
}

OutputChoice OutputOptionsDialog::choice() const
{
    OutputChoice c;
    c.destination = rbPrinter->isChecked() ? OutputChoice::Destination::Printer
                    : rbFile->isChecked()  ? OutputChoice::Destination::File
                                           : OutputChoice::Destination::Preview;
    c.copies = edCopies->value();
    c.fileName = edFileName->text().trimmed();
    c.replaceConfirmed =
        c.destination == OutputChoice::Destination::File && !browsed_.isEmpty() && c.fileName == browsed_;
    return c;
}

} // namespace halvenna
