#pragma once

#include "data/FieldValue.h"

#include <QByteArray>
#include <QDate>

namespace halvenna {
class Table;
}

// The rules that keep the print fields in step with what they are derived from, and the default
// dates of a new waybill-contents row. The byte steps are exactly those of the printed forms'
// boxes: they count code page 932 bytes and treat every byte alike but "-".
namespace halvenna::rules {

struct ZipAndTel
{
    QByteArray zipF, zipR, telF, telM, telR;
};

// The postal code and telephone cut into the groups of the form's boxes, pre-spaced.
ZipAndTel splitZipAndTel(const FieldValue& zip, const FieldValue& tel);
// Runs that on the member row being posted and writes zip_f, zip_r, tel_f, tel_m, tel_r.
void splitZipAndTel(Table& memberMaster);

// The amount's digits separated by single spaces; empty for null.
QByteArray amountPrintForm(const FieldValue& amount);
// Writes amount_prn of the account row being posted.
void amountPrintForm(Table& account);

// Writes today's date into the receipt fields and the day after into the delivery fields.
void defaultDates(Table& contents, QDate today);

} // namespace halvenna::rules
