#include "report/dialogs/ReportStatusDialog.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace halvenna {

namespace {
// Redrawing after every one of ten thousand sheets would cost more than the sheets.
constexpr qint64 kRedrawMs = 100;
} // namespace

ReportStatusDialog::ReportStatusDialog(const QString& reportName, const QString& destination, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("ReportStatus"));
    setWindowTitle(QStringLiteral("Report Status"));
    setWindowModality(Qt::ApplicationModal);

    auto* lblReport = new QLabel(QStringLiteral("%1 → %2").arg(reportName, destination), this);
    lblReport->setObjectName(QStringLiteral("lblReport"));
    lblStatus = new QLabel(QStringLiteral("Generating pages..."), this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setMinimumWidth(260);
    pbPages = new QProgressBar(this);
    pbPages->setObjectName(QStringLiteral("pbPages"));
    pbPages->setRange(0, 0);
    pbPages->setAccessibleName(QStringLiteral("Pages generated"));
    btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setDefault(true);

    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblReport);
    layout->addWidget(lblStatus);
    layout->addWidget(pbPages);
    layout->addLayout(row);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(btnCancel, &QPushButton::clicked, this, &ReportStatusDialog::reject);
}

void ReportStatusDialog::start()
{
    show();
    raise();
    activateWindow();
    btnCancel->setFocus();
    shown_.start();
    QCoreApplication::processEvents();
}

void ReportStatusDialog::showProgress(int done, int total)
{
    lblStatus->setText(QStringLiteral("Generating page %1 of %2").arg(done).arg(total));
    pbPages->setRange(0, qMax(total, 1));
    pbPages->setValue(done);
}

bool ReportStatusDialog::step(int done, int total)
{
    const qint64 now = shown_.isValid() ? shown_.elapsed() : 0;
    if (lastShown_ < 0 || done >= total || now - lastShown_ >= kRedrawMs) {
        showProgress(done, total);
        lastShown_ = now;
    }
    QCoreApplication::processEvents();
    return !cancelled_;
}

void ReportStatusDialog::reject()
{
    cancelled_ = true;
    lblStatus->setText(QStringLiteral("Cancelled"));
    QDialog::reject();
}

} // namespace halvenna
