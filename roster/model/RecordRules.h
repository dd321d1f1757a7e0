#pragma once

#include "data/FieldValue.h"

#include <QByteArray>
#include <QDate>

#include <span>
#include <vector>

namespace halvenna {
class FieldNames;
class Table;
} // namespace halvenna

// The rules that keep the print fields in step with what they are derived from, and the default
// dates of a new waybill-contents row. The byte steps are exactly those of the printed forms'
// boxes: they count code page 932 bytes and treat every byte alike but "-".
namespace halvenna::rules {

struct ZipAndTel
{
    QByteArray zipF, zipR, telF, telM, telR;
};

// The postal code and telephone cut into the groups of the form's boxes, pre-spaced. A telephone
// number with "-" is cut at them; one without is cut by the fixed pattern of its kind (mobile and IP
// 070/080/090/050: 3-4-4; free dial 0120 and navi dial 0570: 4-3-3, free dial 0800: 4-3-4). Any
// other number without "-" (a landline's area code has 2 to 5 digits) cannot be cut: its three
// groups are empty rather than wrong, and telSplits tells it.
ZipAndTel splitZipAndTel(const FieldValue& zip, const FieldValue& tel);
// False for a telephone number that splitZipAndTel cannot cut into its groups.
bool telSplits(const FieldValue& tel);

// --- a member's derived fields: the one list and the one rule
// Every road that stores a member derives them here: posting (the data module's beforePost), the
// import's pages and select-all's pages. A new derived field is a name in memberDerivedFields and
// its value in deriveMemberFields (a field it is derived from: a name in memberSourceFields), plus
// its column in the schema; none of those roads names a derived field.

// The member fields the derived ones are derived from, in the order deriveMemberFields reads them.
const FieldNames& memberSourceFields();
// The derived fields, in the order deriveMemberFields gives them.
const FieldNames& memberDerivedFields();
// Appends to out the values of memberDerivedFields, derived from sources: the values of
// memberSourceFields, in their order.
void deriveMemberFields(std::span<const FieldValue> sources, std::vector<FieldValue>& out);
// Writes the derived fields of the member row being posted.
void deriveMemberFields(Table& memberMaster);

// The amount's digits separated by single spaces; empty for null.
QByteArray amountPrintForm(const FieldValue& amount);
// Writes amount_prn of the account row being posted.
void amountPrintForm(Table& account);

// Writes today's date into the receipt fields and the day after into the delivery fields.
void defaultDates(Table& contents, QDate today);

} // namespace halvenna::rules
