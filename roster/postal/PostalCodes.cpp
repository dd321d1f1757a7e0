#include "roster/postal/PostalCodes.h"

#include "data/Error.h"
#include "data/SjisText.h"

#include <QFile>
#include <QSaveFile>
#include <QSysInfo>
#include <QtEndian>

#include <iconv.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <utility>

namespace halvenna {

namespace {

// Entry lines are marked about this far apart: a lookup reads one or two such stretches.
constexpr qint64 kStretchBytes = 2048;
// A file is read through a buffer of this size (a multiple of 64), never held whole: fresh memory
// for a whole file costs more than reading it (a page fault for every 4 KiB), and grep, which the
// first lookup is measured against, does not pay for it either.
constexpr qsizetype kReadBytes = 64 * 1024;

[[noreturn]] void throwUnreadable(const QString& path, const QString& why)
{
    throw Error(QStringLiteral("%1 を読めません (%2)").arg(path, why));
}

std::unique_ptr<QFile> openFile(const QString& path)
{
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throwUnreadable(path, file->errorString());
    if (file->size() > PostalCodes::kMaxFileBytes)
        throw Error(QStringLiteral("%1 は大きすぎて読めません (%2 MiB まで)")
                        .arg(path)
                        .arg(PostalCodes::kMaxFileBytes / (1024 * 1024)));
    return file;
}

// Fills buffer with the next size bytes of file.
void readFully(QFile& file, const QString& path, char* buffer, qint64 size)
{
    qint64 got = 0;
    while (got < size) {
        const qint64 n = file.read(buffer + got, size - got);
        if (n < 0)
            throwUnreadable(path, file.errorString());
        if (n == 0)
            throwUnreadable(path, QStringLiteral("読んでいる間に短くなりました"));
        got += n;
    }
}

// ------------------------------------------------------------------ faults

enum class Fault { None, Form, Order, Encoding, Control };

QString encodingName(bool utf8)
{
    return utf8 ? QStringLiteral("UTF-8") : QStringLiteral("EUC-JIS-2004");
}

QString lineFault(const QString& path, qint64 line, const QString& why)
{
    return QStringLiteral("%1 の %2 行目は郵便番号の行として読めません (%3)").arg(path).arg(line).arg(why);
}

QString faultText(Fault fault, bool utf8)
{
    switch (fault) {
    case Fault::Encoding:
        return QStringLiteral("%1 の文字ではないバイトがあります").arg(encodingName(utf8));
    case Fault::Control:
        return QStringLiteral("制御文字があります");
    case Fault::Order:
        return QStringLiteral("番号の順に並んでいません");
    case Fault::Form:
    case Fault::None:
        break;
    }
    return QStringLiteral("「1500001 /東京都渋谷区神宮前/」の形ではありません");
}

// ------------------------------------------------------------------ classes of 64 bytes at a time

// One bit per byte of a block of 64, bit i for byte i. Only what the block's encoding needs is set.
struct Masks
{
    quint64 newline = 0;
    quint64 slash = 0;
    quint64 control = 0; // below 0x20 but the line feed, and DEL
    quint64 high = 0;    // 0x80 and above
    // EUC-JIS-2004: bytes no character uses (0x80 to 0xA0 but the two single shifts, 0xFF), and the
    // single shifts 0x8E (half-width kana) and 0x8F (the second plane).
    quint64 eucBad = 0;
    quint64 eucShift = 0;
    // UTF-8: continuation bytes, the first bytes of two, three and four byte sequences, the first
    // bytes whose next byte has a narrower range, and the continuation bytes below 0x90 and 0xA0.
    quint64 cont = 0;
    quint64 lead2 = 0;
    quint64 lead3 = 0;
    quint64 lead4 = 0;
    quint64 e0 = 0;
    quint64 ed = 0;
    quint64 f0 = 0;
    quint64 f4 = 0;
    quint64 below90 = 0;
    quint64 belowA0 = 0;
};

// Every class, a byte at a time: for the blocks that hold an unusual byte, and where there is no SSE2.
template <bool Utf8> Masks classifyBytes(const uchar* p)
{
    Masks m;
    for (int i = 0; i < 64; ++i) {
        const uchar b = p[i];
        const quint64 bit = quint64(1) << i;
        const auto set = [bit](quint64& mask, bool on) { mask |= on ? bit : 0; };
        set(m.newline, b == '\n');
        set(m.slash, b == '/');
        set(m.control, (b < 0x20 && b != '\n') || b == 0x7F);
        set(m.high, b >= 0x80);
        if constexpr (Utf8) {
            set(m.cont, b >= 0x80 && b <= 0xBF);
            set(m.lead2, b >= 0xC2 && b <= 0xDF);
            set(m.lead3, b >= 0xE0 && b <= 0xEF);
            set(m.lead4, b >= 0xF0 && b <= 0xF4);
            set(m.e0, b == 0xE0);
            set(m.ed, b == 0xED);
            set(m.f0, b == 0xF0);
            set(m.f4, b == 0xF4);
            set(m.below90, b >= 0x80 && b <= 0x8F);
            set(m.belowA0, b >= 0x80 && b <= 0x9F);
        } else {
            set(m.eucShift, b == 0x8E || b == 0x8F);
            set(m.eucBad, (b >= 0x80 && b <= 0xA0 && b != 0x8E && b != 0x8F) || b == 0xFF);
        }
    }
    return m;
}

#if defined(__SSE2__)

template <typename Test> inline quint64 collect(const __m128i* v, Test test)
{
    return quint64(quint32(_mm_movemask_epi8(test(v[0])))) | quint64(quint32(_mm_movemask_epi8(test(v[1])))) << 16 |
           quint64(quint32(_mm_movemask_epi8(test(v[2])))) << 32 |
           quint64(quint32(_mm_movemask_epi8(test(v[3])))) << 48;
}

inline __m128i splat(int byte)
{
    return _mm_set1_epi8(char(byte));
}

// The usual bytes at the speed of SSE2: line feeds, slashes, high bytes and, for UTF-8, the
// continuation bytes and the first bytes of three-byte sequences (Japanese text). False when the
// block holds anything else (a control byte, a byte no character uses, a single shift, a UTF-8
// first byte of two or four bytes or with a narrower second byte): classifyBytes then. SSE2
// compares bytes as signed, 0x80 to 0xFF being -128 to -1.
template <bool Utf8> bool classifyUsual(const uchar* p, Masks& m)
{
    const __m128i v[4] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48))};
    const __m128i zero = _mm_setzero_si128();
    const __m128i newline = splat('\n');
    const auto control = [&](__m128i x) {
        const __m128i low = _mm_and_si128(_mm_cmplt_epi8(x, splat(0x20)), _mm_cmpgt_epi8(x, splat(-1)));
        return _mm_or_si128(_mm_andnot_si128(_mm_cmpeq_epi8(x, newline), low), _mm_cmpeq_epi8(x, splat(0x7F)));
    };
    quint64 unusual = 0;
    if constexpr (Utf8) {
        unusual = collect(v, [&](__m128i x) {
            const __m128i narrow = _mm_or_si128(_mm_cmpeq_epi8(x, splat(0xE0)), _mm_cmpeq_epi8(x, splat(0xED)));
            const __m128i c0df =
                _mm_and_si128(_mm_cmpgt_epi8(x, splat(0xBF - 0x100)), _mm_cmplt_epi8(x, splat(0xE0 - 0x100)));
            const __m128i f0up = _mm_and_si128(_mm_cmpgt_epi8(x, splat(0xEF - 0x100)), _mm_cmplt_epi8(x, zero));
            return _mm_or_si128(_mm_or_si128(control(x), narrow), _mm_or_si128(c0df, f0up));
        });
    } else {
        unusual = collect(v, [&](__m128i x) {
            const __m128i noCharacter =
                _mm_or_si128(_mm_cmplt_epi8(x, splat(0xA1 - 0x100)), _mm_cmpeq_epi8(x, splat(0xFF)));
            return _mm_or_si128(control(x), noCharacter);
        });
    }
    if (unusual)
        return false;
    m.newline = collect(v, [&](__m128i x) { return _mm_cmpeq_epi8(x, newline); });
    m.slash = collect(v, [&](__m128i x) { return _mm_cmpeq_epi8(x, splat('/')); });
    m.high = collect(v, [](__m128i x) { return x; });
    if constexpr (Utf8) {
        m.lead3 = collect(v, [&](__m128i x) { return _mm_cmpgt_epi8(x, splat(0xDF - 0x100)); }) & m.high;
        m.cont = m.high & ~m.lead3;
    }
    return true;
}

#endif

// full: every class is needed (a UTF-8 block that starts with the second byte of a narrow lead).
template <bool Utf8> Masks classify(const uchar* p, bool full)
{
#if defined(__SSE2__)
    Masks m;
    if (!full && classifyUsual<Utf8>(p, m))
        return m;
#else
    Q_UNUSED(full);
#endif
    return classifyBytes<Utf8>(p);
}

// Positions just after each run of high bytes of odd length. Without single shifts every high
// byte of EUC-JIS-2004 is half of a two-byte character, so such a run holds a cut character.
// Additions carry each run's start to its end (simdjson's way of finding odd runs of backslashes);
// carry says whether the run open at the end of the block so far has odd length.
quint64 oddRunEnds(quint64 high, quint64& carry)
{
    constexpr quint64 even = 0x5555555555555555ULL;
    const quint64 starts = high & ~(high << 1);
    const quint64 evenStartMask = even ^ carry;
    const quint64 evenStarts = starts & evenStartMask;
    const quint64 oddStarts = starts & ~evenStartMask;
    const quint64 evenCarries = high + evenStarts;
    quint64 oddCarries = high + oddStarts;
    const bool overflow = oddCarries < high;
    oddCarries |= carry;
    carry = overflow ? 1 : 0;
    return (evenCarries & ~high & ~even) | (oddCarries & ~high & even);
}

// Where the bytes of EUC-JIS-2004 stand between characters (0), before the last byte of one (1),
// after 0x8E (2) and after 0x8F (3).
enum EucState { Between = 0, LastByte, AfterSs2, AfterSs3 };

// Follows p[0, n) from state; the position of the first byte out of form, or -1.
int followEuc(const uchar* p, int n, int& state)
{
    for (int i = 0; i < n; ++i) {
        const uchar b = p[i];
        const bool trail = b >= 0xA1 && b <= 0xFE;
        switch (state) {
        case Between:
            if (b == 0x8E)
                state = AfterSs2;
            else if (b == 0x8F)
                state = AfterSs3;
            else if (trail)
                state = LastByte;
            else if (b >= 0x80)
                return i;
            break;
        case LastByte:
            if (!trail)
                return i;
            state = Between;
            break;
        case AfterSs2:
            if (b < 0xA1 || b > 0xDF)
                return i;
            state = Between;
            break;
        case AfterSs3:
            if (!trail)
                return i;
            state = LastByte;
            break;
        }
    }
    return -1;
}

// ------------------------------------------------------------------ decoding a line

// The dictionary is EUC-JIS-2004 (JIS X 0213). Qt's ICU has no converter for it, only EUC-JP
// (JIS X 0208 and 0212), which gives U+FFFD for the characters JIS X 0213 added and reads the
// 0x8F plane as JIS X 0212, which those bytes do not mean here. A town printed with a wrong or
// missing character is worse than none, so the C library's EUC-JISX0213 converter decodes (on
// Debian it comes with libc6). It is opened per line: that costs well under a microsecond once
// the first one has loaded the tables, and a lookup stays free to run on any thread.
std::optional<QString> decodeEucJis2004(const char* data, qsizetype size)
{
    constexpr const char* kUtf16 = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? "UTF-16LE" : "UTF-16BE";
    iconv_t cd = iconv_open(kUtf16, "EUC-JISX0213");
    if (cd == iconv_t(-1))
        throw Error(QStringLiteral("EUC-JIS-2004 の文字を読む変換がこのシステムにありません (%1)")
                        .arg(QString::fromLocal8Bit(std::strerror(errno))));
    // A byte gives at most one UTF-16 unit: a two-byte character one or two, a three-byte one two.
    QString text(size, Qt::Uninitialized);
    char* in = const_cast<char*>(data); // iconv's signature; it only reads the input
    size_t inLeft = size_t(size);
    char* out = reinterpret_cast<char*>(text.data());
    size_t outLeft = size_t(size) * 2;
    const bool ok = iconv(cd, &in, &inLeft, &out, &outLeft) != size_t(-1) &&
                    iconv(cd, nullptr, nullptr, &out, &outLeft) != size_t(-1) && inLeft == 0;
    iconv_close(cd);
    if (!ok)
        return std::nullopt;
    text.truncate(qsizetype(size_t(size) * 2 - outLeft) / 2);
    return text;
}

bool isSevenDigits(QStringView s, quint32* code = nullptr)
{
    if (s.size() != 7)
        return false;
    quint32 value = 0;
    for (QChar c : s) {
        if (c < u'0' || c > u'9')
            return false;
        value = value * 10 + quint32(c.unicode() - u'0');
    }
    if (code)
        *code = value;
    return true;
}

// What codeOf and entryCode give for a line that has none (codes have seven digits).
constexpr quint32 kNoCode = 0xFFFFFFFF;

// The code of a line starting "1500001 /" (nine bytes), or kNoCode. Runs for every line of a file,
// so the first eight bytes are taken as one number (byte 0 lowest): the seven digits are checked
// and added up together (the way simdjson parses eight digits), and the result is no
// std::optional, which GCC returns through memory.
[[gnu::always_inline]] inline quint32 codeOf(const char* head)
{
    const quint64 x = qFromLittleEndian<quint64>(head);
    constexpr quint64 kHighNibbles = 0x00F0F0F0F0F0F0F0ULL;
    constexpr quint64 kDigitsAndBlank = 0x2030303030303030ULL; // "0000000 "
    const bool digits = (x & (kHighNibbles | 0xFF00000000000000ULL)) == kDigitsAndBlank &&
                        ((x + 0x0006060606060606ULL) & kHighNibbles) == (kDigitsAndBlank & kHighNibbles);
    if (!digits || head[8] != '/')
        return kNoCode;
    // "0" and the seven digits, most significant first, as eight values 0 to 9.
    quint64 v = (x << 8) & 0x0F0F0F0F0F0F0F0FULL;
    v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFULL;
    v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFULL;
    return quint32((v * 10000 + (v >> 32)) & 0xFFFFFFFFULL);
}

// The code of an entry line ("1500001 /…/" without its line end), or kNoCode.
quint32 entryCode(const char* line, qsizetype length)
{
    return length < 11 || line[length - 1] != '/' ? kNoCode : codeOf(line);
}

QByteArray codeText(quint32 code)
{
    return QByteArray::number(code).rightJustified(7, '0');
}

// ------------------------------------------------------------------ the postal service's list

// The fields of one CSV line: quoted ("" inside for a quote) or bare. Nothing when a quote is left
// open or followed by anything but a comma.
std::optional<QStringList> splitCsv(QStringView line)
{
    QStringList fields;
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (true) {
        QString field;
        if (i < n && line[i] == u'"') {
            ++i;
            while (true) {
                if (i >= n)
                    return std::nullopt;
                if (line[i] == u'"') {
                    if (i + 1 < n && line[i + 1] == u'"') {
                        field += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line[i++];
            }
            if (i < n && line[i] != u',')
                return std::nullopt;
        } else {
            const qsizetype comma = line.indexOf(u',', i);
            const qsizetype end = comma < 0 ? n : comma;
            field = line.mid(i, end - i).toString();
            i = end;
        }
        fields << field;
        if (i >= n)
            return fields;
        ++i; // the comma
    }
}

// Open "（" not yet closed in text.
int openParentheses(QStringView text)
{
    return int(text.count(u'（')) - int(text.count(u'）'));
}

// text without its remarks in "（…）" (nested ones too, and one left open runs to the end).
QString withoutRemarks(QStringView text)
{
    QString kept;
    int depth = 0;
    for (QChar c : text) {
        if (c == u'（')
            ++depth;
        else if (c == u'）' && depth > 0)
            --depth;
        else if (depth == 0)
            kept += c;
    }
    return kept;
}

// The address a row of the list gives for its code: prefecture, city and town; the town left out
// where the row stands for the whole city or for what the other rows do not name.
QString addressOf(const QString& prefecture, const QString& city, const QString& town)
{
    QString t = withoutRemarks(town);
    // "一円" alone is a real town (多賀町一円); "奥多摩町一円" means all of the town.
    if (t == u"以下に掲載がない場合" || t.endsWith(u"の次に番地がくる場合") || (t.endsWith(u"一円") && t != u"一円"))
        t.clear();
    return prefecture + city + t;
}

constexpr int kListColumns = 15;

} // namespace

// ------------------------------------------------------------------ the text

// The text an index points into: the file it was read from, kept open (a file since replaced by a
// new one is still read as it was), or bytes in memory.
class PostalCodes::Text
{
public:
    explicit Text(QByteArray bytes) : bytes_(std::move(bytes)), size_(bytes_.size()) {}
    Text(std::unique_ptr<QFile> file, qint64 size) : file_(std::move(file)), size_(size) {}

    qint64 size() const { return size_; }
    qint64 heldBytes() const { return qint64(sizeof(*this)) + bytes_.capacity() + (file_ ? qint64(sizeof(QFile)) : 0); }

    // Bytes [offset, offset + length). Throws when the file no longer holds them.
    QByteArray read(const QString& fileName, qint64 offset, qint64 length) const
    {
        if (!file_)
            return QByteArray::fromRawData(bytes_.constData() + offset, length);
        QByteArray bytes(length, Qt::Uninitialized);
        qint64 got = 0;
        while (got < length) {
            const ssize_t n = ::pread(file_->handle(), bytes.data() + got, size_t(length - got), off_t(offset + got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                throwUnreadable(fileName, QString::fromLocal8Bit(std::strerror(errno)));
            if (n == 0)
                throwUnreadable(fileName, QStringLiteral("読み込んだ後に短くなりました"));
            got += n;
        }
        return bytes;
    }

private:
    QByteArray bytes_;
    std::unique_ptr<QFile> file_;
    qint64 size_ = 0;
};

// ------------------------------------------------------------------ the pass

// The one pass over a text, fed in chunks: the classes of its bytes, 64 at a time, say where lines
// end and whether every byte belongs to a character of the encoding; each line is then checked for
// its form and order, and one every kStretchBytes is marked. The first line at fault (the one
// nearest the start) is reported.
class PostalCodes::Scanner
{
    struct Lines
    {
        qint64 start = 0;  // of the current line
        qint64 number = 1; // of the current line
        qsizetype codes = 0;
        quint32 previousCode = 0;
        qint64 nextMark = 0; // a line starting here or later is marked
    };

public:
    Scanner(QString fileName, Encoding encoding) : fileName_(std::move(fileName)), utf8_(encoding == Encoding::Utf8) {}

    // The next bytes of the text: a multiple of 64 bytes, but for the last chunk.
    void feed(const char* data, qsizetype size)
    {
        chunk_ = data;
        chunkStart_ = total_;
        const auto* p = reinterpret_cast<const uchar*>(data);
        qsizetype i = 0;
        for (; i + 64 <= size && !faultLine_; i += 64)
            block(p + i, 64);
        if (i < size && !faultLine_)
            last(p + i, int(size - i));
        keepHead();
        chunk_ = nullptr;
    }
    bool failed() const { return faultLine_ != 0; }

    // After the last chunk: throws for the first line at fault, or for a text with no entry line.
    void finish(std::vector<Mark>& marks, qsizetype& codes)
    {
        if (!ended_ && !faultLine_)
            last(nullptr, 0);
        if (!faultLine_ && lines_.start < total_)
            takeLine(lines_, total_, previous_); // the last line, without a line feed
        if (faultLine_)
            throw Error(lineFault(fileName_, faultLine_, faultText(fault_, utf8_)));
        if (marks_.empty())
            throw Error(QStringLiteral("%1 には郵便番号の行がありません").arg(fileName_));
        marks = std::move(marks_);
        codes = lines_.codes;
    }

private:
    // The last bytes, fewer than 64, copied into zeros so that what a character cut at the end
    // still needs shows as missing.
    void last(const uchar* p, int n)
    {
        alignas(16) uchar padded[64] = {};
        if (n > 0)
            std::memcpy(padded, p, size_t(n));
        block(padded, n);
        ended_ = true;
    }

    void block(const uchar* p, int n)
    {
        if (utf8_)
            block<true>(p, n);
        else
            block<false>(p, n);
        total_ += n;
    }

    template <bool Utf8> void block(const uchar* p, int n)
    {
        const qint64 base = total_;
        const Masks m = classify<Utf8>(p, Utf8 && narrowCarry_ != 0);
        const quint64 valid = n == 64 ? ~quint64(0) : (quint64(1) << n) - 1;
        const quint64 newlines = m.newline & valid;
        // The lines' state in a local, which the compiler can keep in registers: the bytes read as
        // char could be any member.
        Lines lines = lines_;
        const qint64 blockLine = lines.number;
        const auto lineOf = [&](int bit) {
            return blockLine + qint64(qPopulationCount(newlines & ((quint64(1) << bit) - 1)));
        };

        quint64 bad = 0; // bytes out of the encoding's form; in the last block possibly past the end
        if constexpr (Utf8) {
            const quint64 leads = m.lead2 | m.lead3 | m.lead4;
            const quint64 longer = m.lead3 | m.lead4;
            const quint64 need = (leads << 1) | (longer << 2) | (m.lead4 << 3) | needCarry_;
            needCarry_ = (leads >> 63) | (longer >> 62) | (m.lead4 >> 61);
            const quint64 e0 = (m.e0 << 1) | (narrowCarry_ & 1);
            const quint64 ed = (m.ed << 1) | ((narrowCarry_ >> 1) & 1);
            const quint64 f0 = (m.f0 << 1) | ((narrowCarry_ >> 2) & 1);
            const quint64 f4 = (m.f4 << 1) | ((narrowCarry_ >> 3) & 1);
            narrowCarry_ = (m.e0 >> 63) | (m.ed >> 63) << 1 | (m.f0 >> 63) << 2 | (m.f4 >> 63) << 3;
            // A continuation byte where none is due and none where one is, bytes no sequence starts
            // with, and the second bytes that would make an overlong form, a surrogate or a code
            // point past U+10FFFF.
            bad = (need ^ m.cont) | (m.high & ~(m.cont | leads) & valid) | (e0 & m.belowA0) |
                  (ed & m.cont & ~m.belowA0) | (f0 & m.below90) | (f4 & m.cont & ~m.below90);
        } else {
            if (!exactEuc_ && (m.eucShift & valid)) {
                // From the first single shift on, the characters are followed byte by byte: the
                // lengths of the runs of high bytes no longer tell.
                exactEuc_ = true;
                eucState_ = oddCarry_ ? LastByte : Between;
            }
            if (exactEuc_) {
                const int at = followEuc(p, n, eucState_);
                if (at >= 0)
                    bad = quint64(1) << at;
                else if (n < 64 && eucState_ != Between)
                    bad = quint64(1) << n; // a character cut at the end
            } else {
                bad = (m.eucBad & valid) | oddRunEnds(m.high, oddCarry_);
            }
        }
        const quint64 control = m.control & valid;
        if (bad | control) {
            const int first = qCountTrailingZeroBits(bad | control);
            faultAt(lineOf(first), (control >> first) & 1 ? Fault::Control : Fault::Encoding);
        }
        // "//": a town with no name. Rare enough to look at the line of each.
        for (quint64 pairs = m.slash & ((m.slash << 1) | slashCarry_) & valid; pairs; pairs &= pairs - 1) {
            const int bit = qCountTrailingZeroBits(pairs);
            const quint64 before = newlines & ((quint64(1) << bit) - 1);
            const qint64 start = before ? base + 64 - qCountLeadingZeroBits(before) : lines.start;
            const char first = start >= chunkStart_ ? chunk_[start - chunkStart_] : head_[0];
            if (first != ';')
                faultAt(lineOf(bit), Fault::Form);
        }
        slashCarry_ = m.slash >> 63;

        for (quint64 ends = newlines; ends; ends &= ends - 1) {
            const int bit = qCountTrailingZeroBits(ends);
            takeLine(lines, base + bit, bit > 0 ? p[bit - 1] : previous_);
            lines.start = base + bit + 1;
            ++lines.number;
        }
        lines_ = lines;
        if (n > 0)
            previous_ = p[n - 1];
    }

    // The first bytes of the current line, which ends at end: in the chunk being fed, or kept from
    // the chunk before (a line across two chunks).
    [[gnu::always_inline]] const char* head(qint64 start, qint64 end)
    {
        if (chunk_ && start >= chunkStart_)
            return chunk_ + (start - chunkStart_);
        for (qint64 i = std::max(start + headLength_, chunkStart_); chunk_ && i < std::min(start + 9, end); ++i)
            head_[i - start] = chunk_[i - chunkStart_];
        headLength_ = int(std::min<qint64>(9, end - start));
        return head_;
    }

    // At the end of a chunk: keeps the first bytes of the line that goes on into the next.
    void keepHead()
    {
        const qint64 start = lines_.start;
        if (start >= chunkStart_)
            headLength_ = 0;
        const qint64 from = std::max(start + headLength_, chunkStart_);
        const qint64 to = std::min(start + 9, total_);
        for (qint64 i = from; i < to; ++i)
            head_[i - start] = chunk_[i - chunkStart_];
        headLength_ = int(std::max<qint64>(headLength_, to - start));
    }

    // The line lines.start ends at end; last is its last byte. Inlined, so that lines stays in
    // registers.
    [[gnu::always_inline]] void takeLine(Lines& lines, qint64 end, uchar last)
    {
        const qint64 length = end - lines.start;
        if (length == 0)
            return; // a blank line
        const char* first = head(lines.start, end);
        if (first[0] == ';')
            return; // a comment
        const quint32 code = length < 11 || last != '/' ? kNoCode : codeOf(first);
        if (code == kNoCode)
            return faultAt(lines.number, Fault::Form);
        if (lines.codes > 0 && code < lines.previousCode)
            return faultAt(lines.number, Fault::Order);
        if (lines.codes == 0 || code != lines.previousCode)
            ++lines.codes;
        lines.previousCode = code;
        if (lines.start >= lines.nextMark) {
            marks_.push_back({code, quint32(lines.start)});
            lines.nextMark = lines.start + kStretchBytes;
        }
    }

    void faultAt(qint64 line, Fault kind)
    {
        if (faultLine_ == 0 || line < faultLine_) {
            faultLine_ = line;
            fault_ = kind;
        }
    }

    const QString fileName_;
    const bool utf8_;
    qint64 total_ = 0; // bytes taken
    bool ended_ = false;

    Lines lines_;
    const char* chunk_ = nullptr; // the chunk being fed, from offset chunkStart_
    qint64 chunkStart_ = 0;
    char head_[9] = {}; // the first bytes (code and " /") of a line begun in an earlier chunk
    int headLength_ = 0;
    uchar previous_ = 0; // the byte before the block

    quint64 slashCarry_ = 0;
    quint64 oddCarry_ = 0;    // EUC: the run of high bytes open at the block's end has odd length
    bool exactEuc_ = false;   // EUC: single shifts seen, characters followed byte by byte
    int eucState_ = Between;  // EUC: where the bytes stand then
    quint64 needCarry_ = 0;   // UTF-8: continuation bytes due at the start of the next block
    quint64 narrowCarry_ = 0; // UTF-8: E0, ED, F0, F4 as the block's last byte (bits 0 to 3)

    std::vector<Mark> marks_;

    qint64 faultLine_ = 0;
    Fault fault_ = Fault::None;
};

// ------------------------------------------------------------------ normalize

std::optional<QString> PostalCodes::normalize(QStringView typed)
{
    QStringView s = typed.trimmed();
    if (s.startsWith(u'〒'))
        s = s.mid(1).trimmed();
    QString digits;
    bool hyphen = false;
    for (QChar c : s) {
        const char16_t u = c.unicode();
        if (u >= u'0' && u <= u'9') {
            digits += c;
        } else if (u >= u'０' && u <= u'９') {
            digits += QChar(u'0' + (u - u'０'));
        } else if (u == u'-' || u == u'－' || u == u'‐' || u == u'−' || u == u'ー' || u == u'ｰ') {
            // Only after the third digit, once. "ー" is what an input method writes for "-" in
            // kana mode; "−" is how JIS text carries the full-width hyphen.
            if (hyphen || digits.size() != 3)
                return std::nullopt;
            hyphen = true;
        } else {
            return std::nullopt;
        }
    }
    if (digits.size() != 7)
        return std::nullopt;
    return digits;
}

std::optional<QString> PostalCodes::written(QStringView typed)
{
    const std::optional<QString> digits = normalize(typed);
    if (!digits)
        return std::nullopt;
    return digits->left(3) + u'-' + digits->mid(3);
}

// ------------------------------------------------------------------ loading

PostalCodes PostalCodes::fromSkkDictionary(const QString& path)
{
    return fromFile(path, Encoding::EucJis2004);
}

PostalCodes PostalCodes::fromOwnFile(const QString& path)
{
    return fromFile(path, Encoding::Utf8);
}

PostalCodes PostalCodes::fromFile(const QString& path, Encoding encoding)
{
    std::unique_ptr<QFile> file = openFile(path);
    const qint64 size = file->size();
    Scanner scanner(path, encoding);
    const std::unique_ptr<char[]> buffer(new char[size_t(kReadBytes)]);
    for (qint64 done = 0; done < size && !scanner.failed();) {
        const qint64 chunk = std::min<qint64>(kReadBytes, size - done);
        readFully(*file, path, buffer.get(), chunk);
        scanner.feed(buffer.get(), chunk);
        done += chunk;
    }
    PostalCodes codes;
    scanner.finish(codes.marks_, codes.codes_);
    codes.fileName_ = path;
    codes.encoding_ = encoding;
    codes.text_ = std::make_shared<const Text>(std::move(file), size);
    return codes;
}

PostalCodes PostalCodes::fromBytes(const QString& fileName, const QByteArray& bytes, Encoding encoding)
{
    Scanner scanner(fileName, encoding);
    scanner.feed(bytes.constData(), bytes.size());
    PostalCodes codes;
    scanner.finish(codes.marks_, codes.codes_);
    codes.fileName_ = fileName;
    codes.encoding_ = encoding;
    codes.text_ = std::make_shared<const Text>(bytes);
    return codes;
}

// ------------------------------------------------------------------ the postal service's list

PostalCodes PostalCodes::fromPostalServiceList(const QString& path)
{
    const std::unique_ptr<QFile> file = openFile(path);
    QByteArray bytes(file->size(), Qt::Uninitialized);
    readFully(*file, path, bytes.data(), bytes.size());
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);

    // The lines, without their line ends.
    std::vector<QByteArrayView> lines;
    for (qsizetype start = 0; start < bytes.size();) {
        qsizetype end = bytes.indexOf('\n', start);
        const qsizetype next = end < 0 ? bytes.size() : end + 1;
        if (end < 0)
            end = bytes.size();
        if (end > start && bytes[end - 1] == '\r')
            --end;
        lines.emplace_back(bytes.constData() + start, end - start);
        start = next;
    }
    // The encoding is that of the first line with anything but ASCII in it: a line of code page
    // 932 Japanese is no valid UTF-8.
    bool utf8 = true;
    for (QByteArrayView l : lines) {
        if (!sjis::isAscii(l)) {
            utf8 = l.isValidUtf8();
            break;
        }
    }
    const auto refuse = [&](size_t index, const QString& why) {
        throw Error(QStringLiteral("%1 の %2 行目は郵便番号データの行として読めません (%3)")
                        .arg(path)
                        .arg(qulonglong(index + 1))
                        .arg(why));
    };

    // Each code's addresses without repeats, in the order of the rows.
    std::map<quint32, QStringList> towns;
    struct Row
    {
        quint32 code = 0;
        QString prefecture, city, town;
        size_t index = 0;
    };
    std::optional<Row> open; // a row whose town may go on in the next
    const auto finish = [&](const Row& row) {
        const QString address = addressOf(row.prefecture, row.city, row.town);
        if (address.contains(u'/'))
            refuse(row.index, QStringLiteral("住所に「/」があり、保存できません"));
        QStringList& list = towns[row.code];
        if (!list.contains(address))
            list << address;
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        const QByteArrayView l = lines[i];
        if (l.isEmpty())
            continue;
        QString text;
        if (utf8) {
            if (!l.isValidUtf8())
                refuse(i, QStringLiteral("UTF-8 の文字ではないバイトがあります"));
            text = QString::fromUtf8(l);
        } else {
            const QByteArray raw = QByteArray::fromRawData(l.data(), l.size());
            if (!sjis::isValid(raw))
                refuse(i, QStringLiteral("シフト JIS (コードページ 932) の文字ではないバイトがあります"));
            text = sjis::toUnicode(raw);
        }
        for (QChar c : text)
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                refuse(i, QStringLiteral("制御文字があります"));
        const std::optional<QStringList> fields = splitCsv(text);
        if (!fields)
            refuse(i, QStringLiteral("引用符が正しく閉じていません"));
        if (fields->size() != kListColumns)
            refuse(i, QStringLiteral("列が %1 個あります。%2 個のはずです").arg(fields->size()).arg(kListColumns));
        Row row;
        if (!isSevenDigits(fields->at(2), &row.code))
            refuse(i, QStringLiteral("郵便番号「%1」が 7 桁の数字ではありません").arg(fields->at(2)));
        row.prefecture = fields->at(6);
        row.city = fields->at(7);
        row.town = fields->at(8);
        row.index = i;
        if (row.prefecture.isEmpty())
            refuse(i, QStringLiteral("都道府県名がありません"));
        // A town too long for one row goes on in the next rows of the same code until its "（"
        // is closed.
        if (open && open->code == row.code && openParentheses(open->town) > 0) {
            open->town += row.town;
            continue;
        }
        if (open)
            finish(*open);
        open = row;
    }
    if (open)
        finish(*open);
    // Every row of the list ends its line: a last row without its end is a file cut short, however
    // whole its columns look.
    if (!bytes.isEmpty() && !bytes.endsWith('\n'))
        refuse(lines.size() - 1, QStringLiteral("行が途中で切れています"));

    QByteArray own;
    own.reserve(bytes.size());
    for (const auto& [code, list] : towns) {
        own += codeText(code) + " /";
        for (const QString& address : list)
            own += address.toUtf8() + '/';
        own += '\n';
    }
    return fromBytes(path, own, Encoding::Utf8);
}

// ------------------------------------------------------------------ reading the index

template <typename Take> void PostalCodes::forEachEntry(size_t first, Take take) const
{
    for (size_t i = first; i < marks_.size(); ++i) {
        const qint64 from = marks_[i].offset;
        const qint64 to = i + 1 < marks_.size() ? qint64(marks_[i + 1].offset) : text_->size();
        const QByteArray bytes = text_->read(fileName_, from, to - from);
        for (qsizetype start = 0; start < bytes.size();) {
            qsizetype end = bytes.indexOf('\n', start);
            if (end < 0)
                end = bytes.size();
            const char* line = bytes.constData() + start;
            const qsizetype length = end - start;
            if (length > 0 && line[0] != ';') {
                // The load checked every line: a line out of form now was written since.
                const quint32 code = entryCode(line, length);
                if (code == kNoCode)
                    throw Error(QStringLiteral("%1 は読み込んだ後に書き換えられました").arg(fileName_));
                if (!take(code, line + 9, length - 10, from + start))
                    return;
            }
            start = end + 1;
        }
    }
}

QStringList PostalCodes::decode(const char* towns, qsizetype size, qint64 lineOffset) const
{
    std::optional<QString> text;
    if (encoding_ == Encoding::Utf8)
        text = QString::fromUtf8(towns, size);
    else if ((text = decodeEucJis2004(towns, size)))
        // JIS X 0213 gives the minus sign, the wave dash... their JIS code points; the list and
        // the rest of the program use code page 932's, so a town reads the same from either file.
        text = sjis::withCodePageForms(*text);
    if (!text) {
        qint64 line = 1;
        for (qint64 at = 0; at < lineOffset; at += kReadBytes) {
            const QByteArray bytes = text_->read(fileName_, at, std::min<qint64>(kReadBytes, lineOffset - at));
            line += bytes.count('\n');
        }
        throw Error(lineFault(fileName_, line, QStringLiteral("%1 にない文字があります").arg(encodingName(false))));
    }
    return text->split(u'/');
}

QStringList PostalCodes::lookup(QStringView sevenDigits) const
{
    quint32 code = 0;
    if (!isSevenDigits(sevenDigits, &code) || marks_.empty())
        return {};
    // The code's first line is in the stretch before the first that starts at or past it.
    const auto next = std::lower_bound(marks_.cbegin(), marks_.cend(), code,
                                       [](const Mark& mark, quint32 c) { return mark.code < c; });
    QStringList towns;
    forEachEntry(next == marks_.cbegin() ? 0 : size_t(next - marks_.cbegin()) - 1,
                 [&](quint32 lineCode, const char* text, qsizetype size, qint64 offset) {
                     if (lineCode == code)
                         towns += decode(text, size, offset);
                     return lineCode <= code;
                 });
    towns.removeDuplicates();
    return towns;
}

// ------------------------------------------------------------------ saving

void PostalCodes::save(const QString& path) const
{
    if (marks_.empty())
        throw Error(QStringLiteral("%1 に書き込めません (郵便番号がひとつもありません)").arg(path));
    QByteArray out = ";; -*- coding: utf-8 -*-\n";
    out.reserve(text_->size() * 3 / 2);
    std::optional<quint32> code;
    QStringList towns;
    const auto write = [&] {
        towns.removeDuplicates();
        out += codeText(*code) + " /";
        for (const QString& town : towns)
            out += town.toUtf8() + '/';
        out += '\n';
        towns.clear();
    };
    forEachEntry(0, [&](quint32 lineCode, const char* text, qsizetype size, qint64 offset) {
        if (code && *code != lineCode)
            write();
        code = lineCode;
        towns += decode(text, size, offset);
        return true;
    });
    write();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size() || !file.commit())
        throw Error(QStringLiteral("%1 に書き込めません (%2)").arg(path, file.errorString()));
}

qint64 PostalCodes::memoryBytes() const
{
    return qint64(sizeof(*this)) + qint64(marks_.capacity() * sizeof(Mark)) +
           fileName_.capacity() * qint64(sizeof(QChar)) + (text_ ? text_->heldBytes() : 0);
}

} // namespace halvenna
