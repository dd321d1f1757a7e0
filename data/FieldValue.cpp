#include "data/FieldValue.h"

#include "data/Error.h"
#include "data/SjisText.h"

#include <limits>

namespace halvenna {

namespace {

[[noreturn]] void throwNullConversion(const char* to)
{
    throw ConversionError(
        QStringLiteral("%1型から %2 型へのバリアント型変換はできません").arg(u"Null", QLatin1String(to)));
}

} // namespace

FieldValue FieldValue::fromString(const QString& unicode)
{
    return text(sjis::fromUnicode(unicode));
}

bool parseWholeNumber(const QByteArray& text, qint32& out)
{
    qsizetype i = 0, n = text.size();
    while (i < n && text.at(i) == ' ')
        ++i;
    while (n > i && text.at(n - 1) == ' ')
        --n;
    if (i == n)
        return false;
    bool negative = false;
    if (text.at(i) == '+' || text.at(i) == '-') {
        negative = text.at(i) == '-';
        ++i;
    }
    if (i == n)
        return false;
    qint64 value = 0;
    for (; i < n; ++i) {
        const char c = text.at(i);
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
        if (value > qint64(std::numeric_limits<qint32>::max()) + 1)
            return false;
    }
    if (negative)
        value = -value;
    if (value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        return false;
    out = qint32(value);
    return true;
}

QByteArray FieldValue::asText() const
{
    if (auto* t = std::get_if<QByteArray>(&value_))
        return *t;
    if (auto* i = std::get_if<qint32>(&value_))
        return QByteArray::number(*i);
    if (auto* b = std::get_if<bool>(&value_))
        return *b ? QByteArrayLiteral("True") : QByteArrayLiteral("False");
    throwNullConversion("String");
}

QString FieldValue::asString() const
{
    return sjis::toUnicode(asText());
}

qint32 FieldValue::asInteger() const
{
    if (auto* i = std::get_if<qint32>(&value_))
        return *i;
    if (auto* b = std::get_if<bool>(&value_))
        return *b ? -1 : 0;
    if (auto* t = std::get_if<QByteArray>(&value_)) {
        qint32 v = 0;
        if (!parseWholeNumber(*t, v))
            throw ConversionError(QStringLiteral("'%1' は有効な整数値ではありません").arg(sjis::toUnicode(*t)));
        return v;
    }
    throwNullConversion("Integer");
}

bool FieldValue::asBoolean() const
{
    if (auto* b = std::get_if<bool>(&value_))
        return *b;
    if (auto* i = std::get_if<qint32>(&value_))
        return *i != 0;
    if (auto* t = std::get_if<QByteArray>(&value_)) {
        const QByteArray lower = t->trimmed().toLower();
        if (lower == "true")
            return true;
        if (lower == "false")
            return false;
        throw ConversionError(QStringLiteral("'%1' は有効な論理値ではありません").arg(sjis::toUnicode(*t)));
    }
    throwNullConversion("Boolean");
}

QString FieldValue::displayText() const
{
    return isNull() ? QString() : asString();
}

} // namespace halvenna
