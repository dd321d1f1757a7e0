#include "printing/jobs/PrintJobs.h"

#include "data/SjisText.h"
#include "report/ReportProject.h"
#include "roster/model/DataModule.h"
#include "roster/model/RecordRules.h"

#include <iterator>
#include <limits>

namespace halvenna {

namespace {

const QByteArray kTwoSpaces("  ");

// The member's fields a sheet is staged with: what was typed, what the record rules derived, the notes.
const QStringList& stagedMemberFields()
{
    static const QStringList fields =
        QStringList{QStringLiteral("id_no"), QStringLiteral("name"),     QStringLiteral("name_kana"),
                    QStringLiteral("zip"),   QStringLiteral("address1"), QStringLiteral("address2"),
                    QStringLiteral("tel"),   QStringLiteral("fax")} +
        rules::memberDerivedFields().names() + QStringList{QStringLiteral("notes")};
    return fields;
}
const QStringList kContentsFields{QStringLiteral("item"), QStringLiteral("value")};
const QStringList kDateFields{QStringLiteral("receipt_year"),   QStringLiteral("receipt_month"),
                              QStringLiteral("receipt_day"),    QStringLiteral("delivery_year"),
                              QStringLiteral("delivery_month"), QStringLiteral("delivery_day")};
const QStringList kItemKindFields{QStringLiteral("item_kind1"), QStringLiteral("item_kind2")};
const QStringList kAccountFields{QStringLiteral("amount"), QStringLiteral("amount_prn")};

// The platform's integer parsing: leading blanks, one sign, decimal digits or "$"/"0x" hexadecimal,
// nothing after them, within 32 bits.
std::optional<qint32> parseInteger(const QByteArray& text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text.at(i) == ' ')
        ++i;
    bool negative = false;
    if (i < n && (text.at(i) == '+' || text.at(i) == '-')) {
        negative = text.at(i) == '-';
        ++i;
    }
    int base = 10;
    if (i < n && text.at(i) == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < n && text.at(i) == '0' && (text.at(i + 1) == 'x' || text.at(i + 1) == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == n)
        return std::nullopt;
    qint64 value = 0;
    for (; i < n; ++i) {
        const char c = text.at(i);
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * base + digit;
        if (value > qint64(std::numeric_limits<qint32>::max()) + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<qint32>::max() || value < std::numeric_limits<qint32>::min())
        return std::nullopt;
    return qint32(value);
}

} // namespace

std::pair<QByteArray, QByteArray> senderZipParts(const QByteArray& zip)
{
    QByteArray front = zip.left(3);
    QByteArray rear = zip.size() >= 5 ? zip.mid(4, 4) : QByteArray();
    front = sjis::insertAt(sjis::insertAt(front, kTwoSpaces, 2), kTwoSpaces, 5);
    rear = sjis::insertAt(sjis::insertAt(sjis::insertAt(rear, kTwoSpaces, 2), kTwoSpaces, 5), kTwoSpaces, 8);
    return {front, rear};
}

std::array<QByteArray, 3> senderTelGroups(const QByteArray& tel)
{
    std::array<QByteArray, 3> groups;
    QByteArray rest = tel;
    for (int g = 0; g < 2; ++g) {
        const int p = sjis::find(rest, '-');
        groups[g] = sjis::head(rest, p - 1);
        rest = sjis::drop(rest, p);
    }
    groups[2] = rest;
    return groups;
}

QByteArray spacedAccountNo(const QByteArray& part)
{
    QByteArray s = part;
    for (int p : {2, 4, 6, 8})
        s = sjis::insertAt(s, " ", p);
    return s;
}

QString templatePath(FormKind form, const QString& appDir)
{
    return appDir + (form == FormKind::Waybill ? QStringLiteral("Invoice.Rav") : QStringLiteral("Account.Rav"));
}

SheetRules memberSheetRules()
{
    SheetRules rules;
    rules.keyField = QStringLiteral("id_no");
    rules.checks.append(SheetRules::Check{QStringLiteral("tel"),
                                          {QStringLiteral("tel_f"), QStringLiteral("tel_m"), QStringLiteral("tel_r")},
                                          [](QStringView tel) {
                                              // The rule reads code page 932 bytes, as the table stores them.
                                              const QByteArray bytes = sjis::fromUnicode(tel.toString());
                                              return rules::telSplits(FieldValue::text(bytes))
                                                         ? QString()
                                                         : QStringLiteral("電話番号「%1」は区切れません").arg(tel);
                                          }});
    return rules;
}

void prepareInvoiceReport(ReportProject& project, const SenderSettingsData& s, const QString& appDir)
{
    project.setSheetRules(memberSheetRules());
    const auto [zipF, zipR] = senderZipParts(s.SenderZip);
    const auto tel = senderTelGroups(s.SenderTel);
    project.ProjectFile = templatePath(FormKind::Waybill, appDir);
    project.SetReportParam(QStringLiteral("SenderName"), s.SenderName);
    project.SetReportParam(QStringLiteral("SenderZipF"), zipF);
    project.SetReportParam(QStringLiteral("SenderZipR"), zipR);
    project.SetReportParam(QStringLiteral("SenderAddress1"), s.SenderAddress1);
    project.SetReportParam(QStringLiteral("SenderAddress2"), s.SenderAddress2);
    project.SetReportParam(QStringLiteral("SenderTelF"), tel[0]);
    project.SetReportParam(QStringLiteral("SenderTelM"), tel[1]);
    project.SetReportParam(QStringLiteral("SenderTelR"), tel[2]);
    project.SetReportParam(QStringLiteral("SenderShopCode1"), s.SenderShopCode1);
    project.SetReportParam(QStringLiteral("SenderShopCode2"), s.SenderShopCode2);
    project.SetReportParam(QStringLiteral("CustomerCode"), s.CustomerCode);
}

void prepareAccountReport(ReportProject& project, const SenderSettingsData& s, const QString& appDir)
{
    project.setSheetRules(memberSheetRules());
    project.ProjectFile = templatePath(FormKind::PaymentSlip, appDir);
    const QByteArray account1 = spacedAccountNo(s.AccountNo1);
    const QByteArray account3 = spacedAccountNo(s.AccountNo3);
    project.SetReportParam(QStringLiteral("AccountNo1"), account1);
    project.SetReportParam(QStringLiteral("AccountNo2"), s.AccountNo2);
    project.SetReportParam(QStringLiteral("AccountNo3"), account3);
    project.SetReportParam(QStringLiteral("SenderName"), s.SenderName);
}

void runPreparedReport(ReportProject& project)
{
    struct CloseOnExit
    {
        ReportProject& p;
        ~CloseOnExit() { p.CloseProject(); }
    } closer{project};
    project.OpenProject();
    project.RunReport();
}

void setAllPrintMarks(Table& members, bool marked)
{
    static const FieldNames kPrint{"print"};
    if (members.storesInBulk()) {
        // A page of members in one statement instead of a round trip to the server for each: the
        // mark, and the print fields the member rule derives at every store.
        static const FieldNames kPrintAndDerived = [] {
            QStringList names{QStringLiteral("print")};
            names << rules::memberDerivedFields().names();
            return FieldNames(names);
        }();
        Table::ControlsSuspended suspended(members);
        members.rewriteEveryRow(rules::memberSourceFields(), kPrintAndDerived,
                                [marked](const std::vector<FieldValue>& in, std::vector<FieldValue>& out) {
                                    out.push_back(FieldValue::logical(marked));
                                    rules::deriveMemberFields(in, out);
                                });
        members.first();
        return;
    }
    Table::ControlsSuspended suspended(members);
    {
        Table::Batch batch(members);
        members.first();
        const int print = members.resolve(kPrint).front();
        while (!members.eof()) {
            members.edit();
            members.setFieldValue(print, FieldValue::logical(marked));
            members.post();
            members.next();
        }
    }
    members.first();
}

qint64 copyCount(const FieldValue& value)
{
    if (value.isNull())
        return 1;
    const std::optional<qint32> parsed = parseInteger(value.asText());
    return parsed ? *parsed : 1;
}

// ---------------------------------------------------------------- staging

void PrintJobs::stagingPrologue()
{
    for (Table* t : {&dm_.tbMemberMaster, &dm_.tbContents, &dm_.tbAccount})
        if (t->editing())
            t->post();
    Table& p = dm_.tbPrintMember;
    p.close();
    p.emptyTable();
    p.open();
}

bool PrintJobs::memberMarked()
{
    const FieldValue mark = dm_.tbMemberMaster.fieldValue(QStringLiteral("print"));
    return !mark.isNull() && mark.asBoolean();
}

void PrintJobs::copyFields(Table& source, CopyPlan& plan, const QStringList& fields)
{
    Table& p = dm_.tbPrintMember;
    if (plan.empty())
        for (const QString& f : fields)
            plan.push_back({source.fieldIndex(f), p.fieldIndex(f), f});
    for (const auto& [from, to, f] : plan) {
        if (from < 0 || to < 0)
            p.copyField(source, f); // reports the missing field by name
        else
            p.copyField(source, from, to);
    }
}

void PrintJobs::copyMemberFields()
{
    copyFields(dm_.tbMemberMaster, memberPlan_, stagedMemberFields());
}

void PrintJobs::copyContents(bool withDates)
{
    copyFields(dm_.tbContents, contentsPlan_, kContentsFields);
    if (withDates)
        copyFields(dm_.tbContents, datesPlan_, kDateFields);
}

void PrintJobs::copyItemKinds()
{
    copyFields(dm_.tbContents, itemKindsPlan_, kItemKindFields);
}

void PrintJobs::writeDates(const PanelDates& panel)
{
    Table& p = dm_.tbPrintMember;
    if (!panel.constDate) {
        copyFields(dm_.tbContents, datesPlan_, kDateFields);
        return;
    }
    const QByteArray* texts[] = {&panel.receiptYear,  &panel.receiptMonth,  &panel.receiptDay,
                                 &panel.deliveryYear, &panel.deliveryMonth, &panel.deliveryDay};
    for (int i = 0; i < 6; ++i)
        p.setFieldValue(kDateFields[i], FieldValue::text(*texts[i]));
}

void PrintJobs::copyAccount()
{
    copyFields(dm_.tbAccount, accountPlan_, kAccountFields);
}

void PrintJobs::stageOneWaybill(const PanelDates& panel)
{
    stagingPrologue();
    Table& p = dm_.tbPrintMember;
    p.append();
    copyMemberFields();
    copyContents(false);
    writeDates(panel);
    copyItemKinds();
    p.post();
}

void PrintJobs::stageOnePaymentSlip()
{
    stagingPrologue();
    Table& p = dm_.tbPrintMember;
    p.append();
    copyMemberFields();
    copyContents(true);
    copyItemKinds();
    copyAccount();
    p.post();
}

void PrintJobs::stageBulkWaybills(const PanelDates& panel)
{
    stagingPrologue();
    Table& m = dm_.tbMemberMaster;
    Table& c = dm_.tbContents;
    Table& p = dm_.tbPrintMember;
    {
        Table::Batch batch(p); // one transaction; what was posted before an error stays
        // One read transaction on each table read: the engine keeps its lock and page cache across
        // the per-member lookups instead of taking and checking them again for every query.
        Table::Batch readMembers(m);
        Table::Batch readContents(c);
        // Every member from the first: a marked first member is printed too.
        for (m.first(); !m.eof(); m.next()) {
            const qint32 id = m.fieldValue(QStringLiteral("id_no")).asInteger();
            if (!memberMarked())
                continue;
            if (c.locate(QStringLiteral("id_no"), FieldValue::integer(id))) {
                const qint64 copies = copyCount(c.fieldValue(QStringLiteral("value")));
                for (qint64 i = 0; i < copies; ++i) {
                    p.append();
                    copyMemberFields();
                    copyContents(false);
                    writeDates(panel);
                    copyItemKinds();
                    p.post();
                }
            } else {
                p.append();
                copyMemberFields();
                if (panel.constDate)
                    writeDates(panel);
                p.post();
            }
        }
    }
    m.first();
}

void PrintJobs::stageBulkPaymentSlips()
{
    stagingPrologue();
    Table& m = dm_.tbMemberMaster;
    Table& c = dm_.tbContents;
    Table& p = dm_.tbPrintMember;
    {
        Table::Batch batch(p);
        Table::Batch readMembers(m);
        Table::Batch readContents(c);
        Table::Batch readAccounts(dm_.tbAccount);
        for (m.first(); !m.eof(); m.next()) {
            if (!memberMarked())
                continue;
            p.append();
            copyMemberFields();
            copyContents(true);
            copyItemKinds();
            copyAccount();
            p.post();
        }
    }
    m.first();
}

} // namespace halvenna
