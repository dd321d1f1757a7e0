#include "data/FieldText.h"

#include "data/Error.h"
#include "data/SjisText.h"
#include "data/Table.h"

namespace halvenna::fieldtext {

namespace {

bool isIntegerCharacter(QChar c)
{
    return (c >= u'0' && c <= u'9') || c == u'+' || c == u'-';
}

} // namespace

bool isTypable(FieldKind kind, const QString& text)
{
    if (kind == FieldKind::Integer) {
        for (QChar c : text)
            if (!isIntegerCharacter(c))
                return false;
        return true;
    }
    return sjis::canEncode(text);
}

FieldValue valueOf(const FieldDef& field, const QString& text)
{
    if (text.isEmpty())
        return FieldValue();
    if (field.kind == FieldKind::Integer) {
        qint32 v = 0;
        // Only the integer characters get this far from an editor, but a pasted or stored text may
        // hold others; neither kind of text may reach the conversion as a non-number.
        if (!isTypable(FieldKind::Integer, text) || !parseWholeNumber(text.toLatin1(), v))
            throw ConversionError(
                QStringLiteral("'%1' は項目 '%2' に適した整数値ではありません").arg(text, field.name));
        return FieldValue::integer(v);
    }
    return FieldValue::fromString(text);
}

void write(Table& table, const QString& field, const QString& text)
{
    table.setFieldValue(field, valueOf(table.fieldDef(field), text));
}

} // namespace halvenna::fieldtext
