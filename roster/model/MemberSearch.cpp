#include "roster/model/MemberSearch.h"

#include "data/Table.h"

#include <iterator>
#include <limits>

namespace halvenna {

namespace {

// Half-width katakana and punctuation (U+FF61 to U+FF9F) as their full-width forms.
constexpr char16_t kHalfWidthKana[] = {
    u'。', u'「', u'」', u'、', u'・', u'ヲ', u'ァ', u'ィ', u'ゥ', u'ェ', u'ォ', u'ャ', u'ュ', u'ョ', u'ッ', u'ー',
    u'ア', u'イ', u'ウ', u'エ', u'オ', u'カ', u'キ', u'ク', u'ケ', u'コ', u'サ', u'シ', u'ス', u'セ', u'ソ', u'タ',
    u'チ', u'ツ', u'テ', u'ト', u'ナ', u'ニ', u'ヌ', u'ネ', u'ノ', u'ハ', u'ヒ', u'フ', u'ヘ', u'ホ', u'マ', u'ミ',
    u'ム', u'メ', u'モ', u'ヤ', u'ユ', u'ヨ', u'ラ', u'リ', u'ル', u'レ', u'ロ', u'ワ', u'ン', u'゛', u'゜'};
static_assert(std::size(kHalfWidthKana) == 0xFF9F - 0xFF61 + 1);

constexpr char16_t kVoicedMark = 0xFF9E;
constexpr char16_t kSemiVoicedMark = 0xFF9F;

bool takesSemiVoicedMark(char16_t c)
{
    return c >= u'ハ' && c <= u'ホ' && (c - u'ハ') % 3 == 0;
}

bool takesVoicedMark(char16_t c)
{
    // カ to ト (every other code point, ッ aside) and ハ to ホ (every third).
    if (c >= u'カ' && c <= u'チ')
        return (c - u'カ') % 2 == 0;
    if (c >= u'ツ' && c <= u'ト')
        return (c - u'ツ') % 2 == 0;
    return takesSemiVoicedMark(c);
}

void foldInto(QStringView text, QString& out)
{
    out.resize(0);
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        char16_t c = text[i].unicode();
        if (c < 0x80) {
            if (c == u' ')
                continue;
            if (c >= u'A' && c <= u'Z')
                c = char16_t(c + 0x20);
            out.append(QChar(c));
            continue;
        }
        if (c == 0x3000)
            continue;
        if (c >= 0x3041 && c <= 0x3096) { // hiragana
            c = char16_t(c + 0x60);
        } else if (c == 0x309D || c == 0x309E) { // ゝ ゞ
            c = char16_t(c + 0x60);
        } else if (c >= 0xFF01 && c <= 0xFF5E) { // full-width ASCII
            c = char16_t(c - 0xFEE0);
            if (c >= u'A' && c <= u'Z')
                c = char16_t(c + 0x20);
        } else if (c >= 0xFF61 && c <= 0xFF9F) {
            const char16_t base = kHalfWidthKana[c - 0xFF61];
            const char16_t mark = i + 1 < n ? text[i + 1].unicode() : 0;
            if (mark == kVoicedMark && base == u'ウ') {
                c = u'ヴ';
                ++i;
            } else if (mark == kVoicedMark && takesVoicedMark(base)) {
                c = char16_t(base + 1);
                ++i;
            } else if (mark == kSemiVoicedMark && takesSemiVoicedMark(base)) {
                c = char16_t(base + 2);
                ++i;
            } else {
                c = base;
            }
        } else if (!QChar::isSurrogate(c)) {
            c = char16_t(QChar::toCaseFolded(char32_t(c)));
        }
        out.append(QChar(c));
    }
}

// A hyphen, a minus or a long-vowel mark typed for one: telephone numbers and postal codes are
// written with any of them, and input methods in kana mode write "ー" for "-".
bool isDashLike(char16_t c)
{
    return c == u'-' || (c >= 0x2010 && c <= 0x2015) || c == 0x2212 || c == 0x2500 || c == 0x30FC || c == 0xFE63;
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Folded text as a number is compared: the dashes beside a digit dropped, so that 1500001 finds
// 150-0001 and 03ー1234 finds 03-1234 (a dash typed last, "150-", still finds it).
void dropDashesByDigits(QString& text)
{
    qsizetype kept = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (isDashLike(c.unicode()) && ((i > 0 && isDigit(text.at(i - 1))) || (i + 1 < n && isDigit(text.at(i + 1)))))
            continue;
        text[kept++] = c;
    }
    text.truncate(kept);
}

// The needle as the leading digits of an id_no: all ASCII digits, leading zeros dropped.
QString idDigits(const QString& needle)
{
    if (needle.isEmpty())
        return {};
    for (const QChar c : needle)
        if (c < u'0' || c > u'9')
            return {};
    qsizetype zeros = 0;
    while (zeros + 1 < needle.size() && needle[zeros] == u'0')
        ++zeros;
    return needle.mid(zeros);
}

// Where tel and zip stand among the texts read (see start()).
constexpr qsizetype kTel = 2;
constexpr qsizetype kZip = 3;

constexpr qint64 kBeforeFirst = std::numeric_limits<qint64>::min();
constexpr qint64 kAfterLast = std::numeric_limits<qint64>::max();

} // namespace

MemberSearch::MemberSearch(Table& members) : table_(members) {}

QString MemberSearch::fold(QStringView text)
{
    QString out;
    out.reserve(text.size());
    foldInto(text, out);
    return out;
}

void MemberSearch::start(const QString& text, std::optional<qint64> from, bool backwards)
{
    static const FieldNames kFields{"name", "name_kana", "tel", "zip", "address1"};
    fields_ = table_.resolve(kFields);
    needle_ = fold(text);
    digits_ = idDigits(needle_);
    number_ = needle_;
    dropDashesByDigits(number_);
    from_ = from;
    backwards_ = backwards;
    // Without a starting member one pass over the table is the whole round.
    wrapped_ = !from;
    cursor_ = from ? *from : backwards ? kAfterLast : kBeforeFirst;
    found_ = 0;
    result_ = needle_.isEmpty() ? Result::NotFound : Result::Searching;
}

MemberSearch::Result MemberSearch::step(int rows)
{
    // The round past the end goes on in the same step, so that a small table is one step.
    int budget = rows;
    while (result_ == Result::Searching && budget > 0) {
        const QList<RowSnapshot> batch = table_.readRowsAfter(cursor_, budget, backwards_, fields_);
        for (const RowSnapshot& row : batch) {
            // Round again past the starting member: it was the last to look at.
            if (wrapped_ && from_ && (backwards_ ? row.rowid < *from_ : row.rowid > *from_)) {
                result_ = Result::NotFound;
                return result_;
            }
            if (matches(row)) {
                found_ = row.rowid;
                result_ = Result::Found;
                return result_;
            }
            cursor_ = row.rowid;
        }
        if (batch.size() < budget) {
            if (wrapped_) {
                result_ = Result::NotFound;
            } else {
                wrapped_ = true;
                cursor_ = backwards_ ? kAfterLast : kBeforeFirst;
            }
        }
        budget -= int(batch.size());
    }
    return result_;
}

bool MemberSearch::matches(const RowSnapshot& row) const
{
    if (needle_.isEmpty())
        return false;
    if (!digits_.isEmpty() && QString::number(row.rowid).startsWith(digits_))
        return true;
    thread_local QString folded;
    for (qsizetype i = 0; i < row.texts.size(); ++i) {
        const QString& text = row.texts.at(i);
        if (text.size() == 0)
            continue;
        foldInto(text, folded);
        if (folded.contains(needle_))
            return true;
        if (i == kTel || i == kZip) {
            dropDashesByDigits(folded);
            if (!number_.isEmpty() && folded.contains(number_))
                return true;
        }
    }
    return false;
}

} // namespace halvenna
