#pragma once

#include "data/FieldValue.h"
#include "report/ReportDocument.h"
#include "settings/SenderSettings.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>
#include <utility>
#include <vector>

class TDataModule1;

namespace halvenna {

class ReportProject;
class Table;

// The fixed-date panel of the print window as the print jobs read it.
struct PanelDates
{
    bool constDate = false; // "印刷時この日付を使用する"
    QByteArray receiptYear, receiptMonth, receiptDay, deliveryYear, deliveryMonth, deliveryDay;
};

// --- what the report run hands to the templates, derived from the sender settings

// The postal code's front and rear at fixed byte positions (1-3 and 5-8), spaced for the boxes.
std::pair<QByteArray, QByteArray> senderZipParts(const QByteArray& zip);
// The telephone number's three groups, split at its first two single-byte hyphens.
std::array<QByteArray, 3> senderTelGroups(const QByteArray& tel);
// An account-number part spaced for the slip's digit boxes: a space at 2, 4, 6 and 8.
QByteArray spacedAccountNo(const QByteArray& part);

enum class FormKind { Waybill, PaymentSlip };

// The template file of a form: "Invoice.Rav" or "Account.Rav" in the program's folder.
QString templatePath(FormKind form, const QString& appDir);
// Points the project at the waybill template and sets its eleven parameters, in their order.
void prepareInvoiceReport(ReportProject& project, const SenderSettingsData& settings, const QString& appDir);
// Points the project at the payment-slip template and sets its four parameters, in their order.
void prepareAccountReport(ReportProject& project, const SenderSettingsData& settings, const QString& appDir);
// What a report run is told of the staging rows: a sheet is named by its member's number (id_no), and
// a sheet printing the telephone groups of a number the member rule cannot cut is listed with
// "電話番号「…」は区切れません". Both preparations set it on the project.
SheetRules memberSheetRules();
// Opens, runs and closes the prepared project. The project is closed on every way out, so the next
// job always runs the template it prepared.
void runPreparedReport(ReportProject& project);

// --- marking

// "すべて" and "クリア": sets every member's print mark to `marked`, each member posted so that the
// member record rule runs, in one transaction with the bound controls (and the detail tables) kept
// still; ends on the first member. A failed post stops it there: what was stored before stays.
void setAllPrintMarks(Table& members, bool marked);

// --- the staging of the four print jobs

// The number of sheets a member's number of parcels asks for: 1 for null or for text that is no
// whole number (leading blanks, one sign, decimal or "$"/"0x" hexadecimal, within 32 bits).
qint64 copyCount(const FieldValue& value);

// Fills the staging table PrintMember with one row per sheet, copied from the members' rows.
class PrintJobs
{
public:
    explicit PrintJobs(TDataModule1& dm) : dm_(dm) {}

    // Posts what is pending in the member, contents and account tables, then empties the staging table.
    void stagingPrologue();
    // One waybill for the current member; the current member stays.
    void stageOneWaybill(const PanelDates& panel);
    // One payment slip for the current member, with the member's own dates; the current member stays.
    void stageOnePaymentSlip();
    // Waybills for every marked member, as many as each one's number of parcels asks for; ends on the
    // first member.
    void stageBulkWaybills(const PanelDates& panel);
    // A payment slip for every marked member; ends on the first member.
    void stageBulkPaymentSlips();

private:
    struct FieldCopy
    {
        int from;
        int to;
        QString name;
    };
    using CopyPlan = std::vector<FieldCopy>;

    void copyFields(Table& source, CopyPlan& plan, const QStringList& fields);
    void copyMemberFields();
    void copyContents(bool withDates);
    void copyItemKinds();
    void writeDates(const PanelDates& panel);
    void copyAccount();
    bool memberMarked();

    TDataModule1& dm_;
    // The fields' positions, looked up once per job object rather than once per row.
    CopyPlan memberPlan_, contentsPlan_, datesPlan_, itemKindsPlan_, accountPlan_;
};

} // namespace halvenna
