#include "printing/PrintPosition.h"

#include "gui/ErrorReporter.h"
#include "gui/FileDialog.h"
#include "gui/ProgramIcon.h"
#include "printing/jobs/PrintJobs.h"
#include "report/BackgroundImage.h"
#include "report/ReportDocument.h"
#include "report/ReportTemplate.h"
#include "report/dialogs/StandardReportOutput.h"
#include "settings/SenderSettings.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QScopeGuard>
#include <QVBoxLayout>

#include <memory>

using halvenna::FormFitting;
using halvenna::PrintOffset;

namespace {

QDoubleSpinBox* offsetBox(QWidget* parent, const char* name)
{
    auto* box = new QDoubleSpinBox(parent);
    box->setObjectName(QLatin1String(name));
    // The range and the step are the settings file's: anything else is refused as it is typed.
    box->setRange(-FormFitting::kLimit, FormFitting::kLimit);
    box->setDecimals(1);
    box->setSingleStep(0.1);
    box->setSuffix(QStringLiteral(" mm"));
    box->setAccelerated(true);
    return box;
}

// How far the scan's corner may lie from the sheet's, as the settings file allows.
constexpr double kBackgroundLimit = 10000;

} // namespace

TPrintPositionForm::TPrintPositionForm(halvenna::StandardReportOutput* output, const QString& appDir, QWidget* parent)
    : QDialog(parent), appDir_(appDir), output_(output), stored_(FormFitting::load(halvenna::settingsFilePath(appDir_)))
{
    setObjectName(QStringLiteral("PrintPositionForm"));
    setWindowTitle(QStringLiteral("印字位置調整"));
    setWindowIcon(halvenna::programIcon());

    cmbForm = new QComboBox(this);
    cmbForm->setObjectName(QStringLiteral("cmbForm"));
    cmbForm->addItem(QStringLiteral("送り状"), QStringLiteral("Invoice"));
    cmbForm->addItem(QStringLiteral("払込取扱票"), QStringLiteral("Account"));
    lblForm = new QLabel(QStringLiteral("用紙(&F):"), this);
    lblForm->setBuddy(cmbForm);

    cmbPrinter = new QComboBox(this);
    cmbPrinter->setObjectName(QStringLiteral("cmbPrinter"));
    for (const QString& name : QPrinterInfo::availablePrinterNames())
        cmbPrinter->addItem(name, name);
    cmbPrinter->addItem(QStringLiteral("PDF ファイル"), FormFitting::pdfPrinter());
    // The printer last set up in the print window, else the system's default.
    QString current = output_ ? output_->printer().printerName() : QString();
    if (current.isEmpty())
        current = QPrinterInfo::defaultPrinterName();
    if (const int at = cmbPrinter->findData(current); at >= 0)
        cmbPrinter->setCurrentIndex(at);
    lblPrinter = new QLabel(QStringLiteral("プリンタ(&P):"), this);
    lblPrinter->setBuddy(cmbPrinter);

    edX = offsetBox(this, "edX");
    lblX = new QLabel(QStringLiteral("横方向(&X):"), this);
    lblX->setBuddy(edX);
    edX->setToolTip(QStringLiteral("右へ動かすときはプラス、左へはマイナス"));
    edX->setAccessibleDescription(edX->toolTip());
    edY = offsetBox(this, "edY");
    lblY = new QLabel(QStringLiteral("縦方向(&Y):"), this);
    lblY->setBuddy(edY);
    edY->setToolTip(QStringLiteral("下へ動かすときはプラス、上へはマイナス"));
    edY->setAccessibleDescription(edY->toolTip());

    edBackground = new QLineEdit(this);
    edBackground->setObjectName(QStringLiteral("edBackground"));
    edBackground->setReadOnly(true);
    edBackground->setPlaceholderText(QStringLiteral("(なし)"));
    lblBackground = new QLabel(QStringLiteral("背景画像:"), this);
    lblBackground->setBuddy(edBackground);
    btnBackground = new QPushButton(QStringLiteral("背景画像(&B)..."), this);
    btnBackground->setObjectName(QStringLiteral("btnBackground"));
    btnBackground->setAutoDefault(false);
    btnBackground->setToolTip(QStringLiteral(
        "用紙を読み取った画像 (PNG、JPEG、PDF の 1 ページ目) をプレビューの下に敷きます。印刷はされません"));
    btnNoBackground = new QPushButton(QStringLiteral("背景なし(&N)"), this);
    btnNoBackground->setObjectName(QStringLiteral("btnNoBackground"));
    btnNoBackground->setAutoDefault(false);
    const auto mmBox = [this](const char* name, double min, double max, const QString& suffix, int decimals) {
        auto* box = new QDoubleSpinBox(this);
        box->setObjectName(QLatin1String(name));
        box->setRange(min, max);
        box->setDecimals(decimals);
        box->setSuffix(suffix);
        return box;
    };
    // A placement made by two points holds any scale and any corner (a whole page scanned around a
    // small slip lies far above and left of it): the boxes show it to 0.01 and keep it as it is
    // until the user changes a figure, and then only that figure.
    edDpi = mmBox("edDpi", 1, 100000, QStringLiteral(" dpi"), 2);
    lblDpi = new QLabel(QStringLiteral("読み取り解像度(&R):"), this);
    lblDpi->setBuddy(edDpi);
    lblDpiNote = new QLabel(this);
    lblDpiNote->setObjectName(QStringLiteral("lblDpiNote"));
    lblDpiNote->setText(QStringLiteral(
        "この画像には解像度が書かれていません。読み取ったときの解像度を入れてください (300 dpi としています)"));
    lblDpiNote->setWordWrap(true);
    lblDpiNote->setVisible(false);
    edLeft = mmBox("edLeft", -kBackgroundLimit, kBackgroundLimit, QStringLiteral(" mm"), 2);
    lblLeft = new QLabel(QStringLiteral("画像の左端(&L):"), this);
    lblLeft->setBuddy(edLeft);
    edTop = mmBox("edTop", -kBackgroundLimit, kBackgroundLimit, QStringLiteral(" mm"), 2);
    // The arrow keys nudge the corner by 0.1 mm, as the offsets above.
    edLeft->setSingleStep(0.1);
    edTop->setSingleStep(0.1);
    lblTop = new QLabel(QStringLiteral("画像の上端(&O):"), this);
    lblTop->setBuddy(edTop);

    btnTestSheet = new QPushButton(QStringLiteral("テスト印刷(&T)"), this);
    btnTestSheet->setObjectName(QStringLiteral("btnTestSheet"));
    btnTestSheet->setAutoDefault(false);

    auto* buttons = new QDialogButtonBox(this);
    btnOk = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnCancel = buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));

    auto* form = new QFormLayout;
    form->addRow(lblForm, cmbForm);
    form->addRow(lblPrinter, cmbPrinter);
    form->addRow(lblX, edX);
    form->addRow(lblY, edY);
    auto* backgroundRow = new QHBoxLayout;
    backgroundRow->addWidget(edBackground, 1);
    backgroundRow->addWidget(btnBackground);
    backgroundRow->addWidget(btnNoBackground);
    form->addRow(lblBackground, backgroundRow);
    form->addRow(lblDpi, edDpi);
    form->addRow(lblDpiNote);
    form->addRow(lblLeft, edLeft);
    form->addRow(lblTop, edTop);
    auto* note =
        new QLabel(QStringLiteral("印字を右・下へ動かすときはプラスの値にします。0.1 mm 単位、±20 mm まで。"), this);
    note->setWordWrap(true);
    auto* tools = new QHBoxLayout;
    tools->addWidget(btnTestSheet);
    tools->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addLayout(tools);
    layout->addWidget(buttons);
    setMinimumWidth(380);

    setTabOrder(cmbForm, cmbPrinter);
    setTabOrder(cmbPrinter, edX);
    setTabOrder(edX, edY);
    setTabOrder(edY, edBackground);
    setTabOrder(edBackground, btnBackground);
    setTabOrder(btnBackground, btnNoBackground);
    setTabOrder(btnNoBackground, edDpi);
    setTabOrder(edDpi, edLeft);
    setTabOrder(edLeft, edTop);
    setTabOrder(edTop, btnTestSheet);
    setTabOrder(btnTestSheet, btnOk);
    setTabOrder(btnOk, btnCancel);

    connect(cmbForm, &QComboBox::currentIndexChanged, this, [this] {
        showPair();
        showBackground();
    });
    connect(cmbPrinter, &QComboBox::currentIndexChanged, this, [this] { showPair(); });
    connect(edX, &QDoubleSpinBox::valueChanged, this, [this] { keepPair(); });
    connect(edY, &QDoubleSpinBox::valueChanged, this, [this] { keepPair(); });
    for (QDoubleSpinBox* box : {edDpi, edLeft, edTop})
        connect(box, &QDoubleSpinBox::valueChanged, this, [this, box] { keepBackground(box); });
    halvenna::connectGuarded(btnBackground, &QPushButton::clicked, this, &TPrintPositionForm::btnBackgroundClick);
    connect(btnNoBackground, &QPushButton::clicked, this, [this] {
        backgrounds_.insert(this->form(), halvenna::FormBackground{});
        showBackground();
    });
    halvenna::connectGuarded(btnTestSheet, &QPushButton::clicked, this, &TPrintPositionForm::btnTestSheetClick);
    halvenna::connectGuarded(btnOk, &QPushButton::clicked, this, &TPrintPositionForm::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    showPair();
    showBackground();
    cmbForm->setFocus();
}

QString TPrintPositionForm::form() const
{
    return cmbForm->currentData().toString();
}

QString TPrintPositionForm::printer() const
{
    return cmbPrinter->currentData().toString();
}

PrintOffset TPrintPositionForm::shownOffset() const
{
    return {edX->value(), edY->value()};
}

void TPrintPositionForm::showPair()
{
    const auto key = qMakePair(form(), printer());
    const PrintOffset o = edited_.value(key, stored_.offset(key.first, key.second));
    showing_ = true;
    edX->setValue(o.x);
    edY->setValue(o.y);
    showing_ = false;
}

void TPrintPositionForm::keepPair()
{
    if (!showing_)
        edited_.insert(qMakePair(form(), printer()), shownOffset());
}

halvenna::FormBackground TPrintPositionForm::shownBackground() const
{
    return backgrounds_.value(form(), stored_.background(form()));
}

void TPrintPositionForm::showBackground()
{
    const halvenna::FormBackground b = shownBackground();
    showing_ = true;
    edBackground->setText(b.path);
    edDpi->setValue(b.mmPerPixel > 0 ? 25.4 / b.mmPerPixel : 300);
    edLeft->setValue(b.left);
    edTop->setValue(b.top);
    for (QWidget* w : std::initializer_list<QWidget*>{edDpi, edLeft, edTop, btnNoBackground})
        w->setEnabled(!b.path.isEmpty());
    lblDpiNote->setVisible(unstated_.contains(form()));
    showing_ = false;
}

void TPrintPositionForm::keepBackground(QDoubleSpinBox* changed)
{
    if (showing_)
        return;
    // Only the figure the user changed; the others stay as the placement holds them.
    halvenna::FormBackground b = shownBackground();
    if (changed == edDpi) {
        b.mmPerPixel = 25.4 / edDpi->value();
        unstated_.remove(form());
        lblDpiNote->setVisible(false);
    } else if (changed == edLeft) {
        b.left = edLeft->value();
    } else if (changed == edTop) {
        b.top = edTop->value();
    }
    backgrounds_.insert(form(), b);
}

void TPrintPositionForm::btnBackgroundClick()
{
    const QString path = halvenna::FileDialog::getOpenFileName(
        this, QStringLiteral("BackgroundImage"), QStringLiteral("背景画像"), edBackground->text(),
        QStringLiteral("用紙の画像 (*.png *.jpg *.jpeg *.pdf);;すべてのファイル (*)"));
    if (path.isEmpty())
        return;
    // Read now, so that an image that will not show is told at once, not at the next preview.
    const halvenna::BackgroundImage::Loaded loaded = halvenna::BackgroundImage::load(path);
    halvenna::FormBackground b;
    b.path = path;
    // A file that does not state its resolution is not given one as if it did: the user is asked for
    // it, the common resolution of a scan proposed.
    b.mmPerPixel = loaded.mmPerPixel > 0 ? loaded.mmPerPixel : 25.4 / 300;
    backgrounds_.insert(form(), b);
    if (loaded.mmPerPixel > 0)
        unstated_.remove(form());
    else
        unstated_.insert(form());
    showBackground();
    if (loaded.mmPerPixel <= 0) {
        edDpi->setFocus();
        edDpi->selectAll();
    }
}

void TPrintPositionForm::btnTestSheetClick()
{
    if (!output_)
        return;
    const auto sheet =
        std::make_shared<const halvenna::ReportTemplate>(halvenna::ReportTemplate::load(halvenna::templatePath(
            form() == u"Account" ? halvenna::FormKind::PaymentSlip : halvenna::FormKind::Waybill, appDir_)));
    const halvenna::ReportDocument document = halvenna::ReportDocument::testSheet(sheet);
    // On the printer chosen here, with the values shown here (stored or not).
    const QString chosen = printer();
    const PrintOffset shown = shownOffset();
    const QString sheetForm = form();
    auto stored = output_->offsets;
    const auto restore = qScopeGuard([&] { output_->offsets = stored; });
    output_->offsets = [&](const QString& f, const QString& p) {
        return f == sheetForm && p == chosen ? shown : stored(f, p);
    };
    if (chosen == FormFitting::pdfPrinter()) {
        output_->offerNext(halvenna::OutputChoice::Destination::File);
    } else {
        output_->printer().setPrinterName(chosen);
        output_->offerNext(halvenna::OutputChoice::Destination::Printer);
    }
    output_->output(document);
}

void TPrintPositionForm::btnOkClick()
{
    QList<FormFitting::Saved> changed;
    for (auto it = edited_.cbegin(); it != edited_.cend(); ++it)
        if (!(it.value() == stored_.offset(it.key().first, it.key().second)))
            changed.append({it.key().first, it.key().second, it.value()});
    // Stored all at once; should that fail, the box says so and the dialog stays with its values.
    FormFitting::saveOffsets(halvenna::settingsFilePath(appDir_), changed);
    for (auto it = backgrounds_.cbegin(); it != backgrounds_.cend(); ++it)
        if (!(it.value() == stored_.background(it.key())))
            FormFitting::saveBackground(halvenna::settingsFilePath(appDir_), it.key(), it.value());
    accept();
}
