#include "data/SjisText.h"

#include "data/Error.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <optional>
#include <utility>

namespace halvenna::sjis {

namespace {

constexpr const char* kCodePage = "windows-31j";

// One converter per thread: opening the converter costs more than converting a short value.
// After a character it could not map, a converter keeps reporting the error (resetting its state
// does not clear it): a new one is made in place. Never by assignment: the ICU converter keeps
// counting errors into the object it was made in, so a moved one would report none of them.
template <typename Converter> Converter& makeConverter(std::optional<Converter>& converter)
{
    if (!converter || converter->hasError())
        converter.emplace(kCodePage, QStringConverter::Flag::Stateless);
    else
        converter->resetState();
    if (!converter->isValid())
        throw Error(QStringLiteral("文字コード %1 を扱えません (Qt が ICU なしで作られています)").arg(kCodePage));
    return *converter;
}

QStringEncoder& makeEncoder()
{
    thread_local std::optional<QStringEncoder> encoder;
    return makeConverter(encoder);
}

QStringDecoder& makeDecoder()
{
    thread_local std::optional<QStringDecoder> decoder;
    return makeConverter(decoder);
}

bool isAsciiText(const QString& text)
{
    for (QChar c : text)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

// Encodes text and tells whether it came back unchanged: the converter silently substitutes
// characters it cannot map, so the round trip is the test.
bool encodeExactly(const QString& original, QByteArray& bytes)
{
    const QString text = withCodePageForms(original);
    QStringEncoder& encoder = makeEncoder();
    bytes = encoder.encode(text);
    if (encoder.hasError())
        return false;
    QStringDecoder& decoder = makeDecoder();
    const QString back = decoder.decode(bytes);
    return !decoder.hasError() && back == text;
}

// The first character of text that code page 932 cannot hold, or -1.
qsizetype firstUnencodable(const QString& text)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype len = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        if (!encodeExactly(text.mid(i, len), bytes))
            return i;
        i += len - 1;
    }
    return -1;
}

} // namespace

// Characters that Japanese input methods and Unicode text on this desktop carry in their JIS forms,
// which code page 932 holds under other code points: taken as those, as Windows does. The wave dash
// typed as "〜" is stored as code page 932's "～".
void toCodePageForms(QChar* begin, QChar* end)
{
    for (QChar* c = begin; c != end; ++c) {
        switch (c->unicode()) {
        case 0x301C: // wave dash -> full-width tilde
            *c = QChar(0xFF5E);
            break;
        case 0x2016: // double vertical line -> parallel to
            *c = QChar(0x2225);
            break;
        case 0x2212: // minus sign -> full-width hyphen-minus
            *c = QChar(0xFF0D);
            break;
        case 0x2014: // em dash -> horizontal bar
            *c = QChar(0x2015);
            break;
        case 0x00A2: // cent sign -> full-width cent sign
            *c = QChar(0xFFE0);
            break;
        case 0x00A3: // pound sign -> full-width pound sign
            *c = QChar(0xFFE1);
            break;
        case 0x00AC: // not sign -> full-width not sign
            *c = QChar(0xFFE2);
            break;
        default:
            break;
        }
    }
}

QString withCodePageForms(const QString& text)
{
    QString result = text;
    toCodePageForms(result.begin(), result.end());
    return result;
}

QByteArray fromUnicode(const QString& text)
{
    if (isAsciiText(text))
        return text.toLatin1();
    QByteArray bytes;
    if (!encodeExactly(text, bytes)) {
        const qsizetype at = firstUnencodable(text);
        const QString bad = at >= 0 ? text.mid(at, text.at(at).isHighSurrogate() ? 2 : 1) : QString();
        throw ConversionError(QStringLiteral("文字 '%1' は Shift-JIS で表せません").arg(bad));
    }
    return bytes;
}

bool canEncode(const QString& text)
{
    if (isAsciiText(text))
        return true;
    QByteArray bytes;
    return encodeExactly(text, bytes);
}

bool isAscii(QByteArrayView bytes)
{
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

QString toUnicode(const char* bytes, qsizetype size)
{
    if (isAscii(QByteArrayView(bytes, size)))
        return QString::fromLatin1(bytes, size);
    QStringDecoder& decoder = makeDecoder();
    return decoder.decode(QByteArrayView(bytes, size));
}

bool isValid(const QByteArray& bytes)
{
    if (isAscii(bytes))
        return true;
    QStringDecoder& decoder = makeDecoder();
    const QString text = decoder.decode(bytes); // converts now; hasError() tells of what went wrong
    return !decoder.hasError();
}

QString toUnicode(const QByteArray& bytes)
{
    return toUnicode(bytes.constData(), bytes.size());
}

int find(const QByteArray& s, char c)
{
    const int n = int(s.size());
    for (int i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(s.at(i));
        if (isLeadByte(b)) {
            ++i; // skip the trail byte
            continue;
        }
        if (s.at(i) == c)
            return i + 1;
    }
    return 0;
}

QByteArray head(const QByteArray& s, int n)
{
    if (n <= 0)
        return QByteArray();
    return s.left(n);
}

QByteArray drop(const QByteArray& s, int n)
{
    if (n <= 0)
        return s;
    return s.mid(n);
}

QByteArray insertAt(const QByteArray& s, const QByteArray& t, int p)
{
    if (p > s.size())
        return s + t;
    QByteArray result = s;
    result.insert(qMax(0, p - 1), t);
    return result;
}

QByteArray cutToWidth(const QByteArray& s, int width)
{
    if (s.size() <= width)
        return s;
    int end = 0;
    while (end < width) {
        const int len = isLeadByte(static_cast<unsigned char>(s.at(end))) ? 2 : 1;
        if (end + len > width)
            break;
        end += len;
    }
    return s.left(end);
}

} // namespace halvenna::sjis
