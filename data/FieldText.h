#pragma once

#include "data/FieldValue.h"

#include <QString>

namespace halvenna {

class Table;
struct FieldDef;

// What an editor bound to a field lets the user type, and what it hands to the field. Shared by the
// grid's cell editor and the single-field editors so that both refuse and convert alike.
namespace fieldtext {

// Whether text may stand in an editor of a field of this kind: code page 932 must hold it, and an
// integer field takes only the digits 0-9, "+" and "-".
bool isTypable(FieldKind kind, const QString& text);

// The value an editor's text stands for: null when empty; for an integer field a whole number, else
// ConversionError "'<text>' は項目 '<field>' に適した整数値ではありません"; text as typed otherwise (the
// table converts it to the field's kind and cuts it to the field's width).
FieldValue valueOf(const FieldDef& field, const QString& text);

// Writes an editor's text into the named field of the current row. Throws.
void write(Table& table, const QString& field, const QString& text);

} // namespace fieldtext
} // namespace halvenna
