#pragma once

#include <QByteArray>
#include <QDate>
#include <QDialog>

// The texts of the fixed-date panel, kept from one showing of the print window to the next.
struct FixedDatesData
{
    QByteArray ReceiptYear;
    QByteArray ReceiptMonth;
    QByteArray ReceiptDay;
    QByteArray DeliveryYear;
    QByteArray DeliveryMonth;
    QByteArray DeliveryDay;

    bool operator==(const FixedDatesData&) const = default;
};

// Today as receipt date and tomorrow as delivery date, decimal without leading zeros.
FixedDatesData initialFixedDates(const QDate& today);

extern FixedDatesData FixedDates;

// The print window: print marks, waybill contents, amounts and the four print jobs.
class TInvoiceForm : public QDialog
{
    Q_OBJECT
public:
    explicit TInvoiceForm(QWidget* parent = nullptr);
    ~TInvoiceForm() override;

    void FormCreate();
};

extern TInvoiceForm* InvoiceForm;
