#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QtGlobal>

#include <variant>

namespace halvenna {

enum class FieldKind { Text, Integer, Logical };

// A field's value as it passes between the code and the tables: null, or text (code page 932
// bytes), a 32-bit integer or a logical. Null equals only null; converting null is an error.
class FieldValue
{
public:
    FieldValue() = default; // null
    static FieldValue text(QByteArray sjis) { return FieldValue(Storage(std::move(sjis))); }
    static FieldValue fromString(const QString& unicode); // throws if code page 932 cannot hold it
    static FieldValue integer(qint32 v) { return FieldValue(Storage(v)); }
    static FieldValue logical(bool v) { return FieldValue(Storage(v)); }

    bool isNull() const { return std::holds_alternative<std::monostate>(value_); }
    bool isText() const { return std::holds_alternative<QByteArray>(value_); }
    bool isInteger() const { return std::holds_alternative<qint32>(value_); }
    bool isLogical() const { return std::holds_alternative<bool>(value_); }

    // Conversions; each throws ConversionError for null ("Null型から String 型へ…").
    QByteArray asText() const; // integer -> decimal, logical -> "True"/"False"
    QString asString() const;  // asText() decoded to Unicode
    qint32 asInteger() const;  // text parsed as a whole number
    bool asBoolean() const;    // text "True"/"False", integer non-zero

    // The text shown for a value in a grid or editor: empty for null.
    QString displayText() const;

    bool operator==(const FieldValue& other) const { return value_ == other.value_; }

private:
    using Storage = std::variant<std::monostate, QByteArray, qint32, bool>;
    explicit FieldValue(Storage s) : value_(std::move(s)) {}
    Storage value_;
};

// Parses a whole number: optional blanks around it, one optional sign, decimal digits, within 32 bits.
bool parseWholeNumber(const QByteArray& text, qint32& out);

} // namespace halvenna

Q_DECLARE_METATYPE(halvenna::FieldValue)
