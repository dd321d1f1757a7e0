#include "roster/model/RecordRules.h"

#include "data/SjisText.h"
#include "data/Table.h"

namespace halvenna::rules {

namespace {

const QByteArray kTwoSpaces("  ");

bool nullOrEmpty(const FieldValue& v)
{
    return v.isNull() || v.asText().isEmpty();
}

// The numbers whose groups are known from their first digits alone.
struct TelPattern
{
    const char* prefix;
    int groups[3];
};
// The longer prefixes first: 0800 is no mobile number.
constexpr TelPattern kTelPatterns[] = {
    {"0120", {4, 3, 3}}, {"0570", {4, 3, 3}}, {"0800", {4, 3, 4}}, {"070", {3, 4, 4}},
    {"080", {3, 4, 4}},  {"090", {3, 4, 4}},  {"050", {3, 4, 4}},
};

// The pattern of a number without "-", or none.
const TelPattern* telPattern(const QByteArray& s)
{
    for (const char c : s)
        if (c < '0' || c > '9')
            return nullptr;
    for (const TelPattern& p : kTelPatterns)
        if (s.startsWith(p.prefix) && s.size() == p.groups[0] + p.groups[1] + p.groups[2])
            return &p;
    return nullptr;
}

} // namespace

ZipAndTel splitZipAndTel(const FieldValue& zip, const FieldValue& tel)
{
    using namespace halvenna::sjis;
    ZipAndTel r;
    if (!nullOrEmpty(zip)) {
        QByteArray s = zip.asText();
        const int p = find(s, '-');
        r.zipF = head(s, p - 1);
        s = drop(s, p);
        r.zipR = head(s, 4);
        r.zipF = insertAt(insertAt(r.zipF, kTwoSpaces, 2), kTwoSpaces, 5);
        r.zipR = insertAt(insertAt(insertAt(r.zipR, kTwoSpaces, 2), kTwoSpaces, 5), kTwoSpaces, 8);
    }
    if (!nullOrEmpty(tel) && find(tel.asText(), '-') == 0) {
        const QByteArray s = tel.asText();
        if (const TelPattern* p = telPattern(s)) {
            r.telF = s.left(p->groups[0]);
            r.telM = s.mid(p->groups[0], p->groups[1]);
            r.telR = s.mid(p->groups[0] + p->groups[1]);
        }
        // Any other is left out rather than printed in the wrong boxes; the run lists it.
    } else if (!nullOrEmpty(tel)) {
        QByteArray s = tel.asText();
        int p = find(s, '-');
        r.telF = head(s, p - 1);
        s = drop(s, p);
        p = find(s, '-');
        r.telM = head(s, p - 1);
        s = drop(s, p);
        r.telR = head(s, 4);
    }
    return r;
}

bool telSplits(const FieldValue& tel)
{
    if (nullOrEmpty(tel))
        return true;
    const QByteArray s = tel.asText();
    return sjis::find(s, '-') > 0 || telPattern(s) != nullptr;
}

const FieldNames& memberSourceFields()
{
    static const FieldNames names{"zip", "tel"};
    return names;
}

const FieldNames& memberDerivedFields()
{
    static const FieldNames names{"zip_f", "zip_r", "tel_f", "tel_m", "tel_r"};
    return names;
}

void deriveMemberFields(std::span<const FieldValue> sources, std::vector<FieldValue>& out)
{
    const ZipAndTel r = splitZipAndTel(sources[0], sources[1]);
    out.push_back(FieldValue::text(r.zipF));
    out.push_back(FieldValue::text(r.zipR));
    out.push_back(FieldValue::text(r.telF));
    out.push_back(FieldValue::text(r.telM));
    out.push_back(FieldValue::text(r.telR));
}

void deriveMemberFields(Table& t)
{
    // Runs at every post of a member: the table looks the fields up once.
    const std::vector<int>& from = t.resolve(memberSourceFields());
    const std::vector<int>& to = t.resolve(memberDerivedFields());
    // Kept between posts, so that a post allocates nothing for them.
    thread_local std::vector<FieldValue> sources;
    thread_local std::vector<FieldValue> derived;
    sources.clear();
    derived.clear();
    for (const int f : from)
        sources.push_back(t.fieldValue(f));
    deriveMemberFields(sources, derived);
    for (size_t k = 0; k < to.size(); ++k)
        t.setFieldValue(to[k], derived[k]);
}

QByteArray amountPrintForm(const FieldValue& amount)
{
    if (amount.isNull())
        return QByteArray();
    QByteArray s = QByteArray::number(amount.asInteger());
    const int length = int(s.size());
    for (int i = 1; i <= length - 1; ++i)
        s = sjis::insertAt(s, " ", 2 * i);
    return s;
}

void amountPrintForm(Table& t)
{
    t.setFieldValue(QStringLiteral("amount_prn"),
                    FieldValue::text(amountPrintForm(t.fieldValue(QStringLiteral("amount")))));
}

void defaultDates(Table& t, QDate today)
{
    const QDate tomorrow = today.addDays(1);
    t.setFieldValue(QStringLiteral("receipt_year"), FieldValue::integer(today.year()));
    t.setFieldValue(QStringLiteral("receipt_month"), FieldValue::integer(today.month()));
    t.setFieldValue(QStringLiteral("receipt_day"), FieldValue::integer(today.day()));
    t.setFieldValue(QStringLiteral("delivery_year"), FieldValue::integer(tomorrow.year()));
    t.setFieldValue(QStringLiteral("delivery_month"), FieldValue::integer(tomorrow.month()));
    t.setFieldValue(QStringLiteral("delivery_day"), FieldValue::integer(tomorrow.day()));
}

} // namespace halvenna::rules
