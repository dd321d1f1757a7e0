#include "printing/Invoice.h"

#include "app/AboutBox.h"
#include "app/ErrorReporter.h"

TInvoiceForm* InvoiceForm = nullptr;
FixedDatesData FixedDates;

FixedDatesData initialFixedDates(const QDate& today)
{
    const QDate tomorrow = today.addDays(1);
    return {QByteArray::number(today.year()),     QByteArray::number(today.month()),
            QByteArray::number(today.day()),      QByteArray::number(tomorrow.year()),
            QByteArray::number(tomorrow.month()), QByteArray::number(tomorrow.day())};
}

TInvoiceForm::TInvoiceForm(QWidget* parent) : QDialog(parent)
{
    InvoiceForm = this;
    setObjectName(QStringLiteral("InvoiceForm"));
    setWindowTitle(QStringLiteral("Halvenna"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(halvenna::programIcon());
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPixelSize(12);
    setFont(font);
    setSizeGripEnabled(true);
    resize(674, 573);

    halvenna::guarded([this] { FormCreate(); });
}

TInvoiceForm::~TInvoiceForm()
{
    if (InvoiceForm == this)
        InvoiceForm = nullptr;
}

void TInvoiceForm::FormCreate()
{
    FixedDates = initialFixedDates(QDate::currentDate());
}
