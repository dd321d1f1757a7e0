#pragma once

#include "data/FieldValue.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace halvenna {

enum class TableState { Inactive, Browse, Edit, Insert };

struct FieldDef
{
    QString name;
    FieldKind kind = FieldKind::Text;
    int width = 0; // code page 932 bytes for text; 0 = no limit
};

struct LocateOptions
{
    bool caseInsensitive = false;
    bool partialKey = false;
};

// One row of a table as a grid shows it: its identity and the display text of each field.
struct RowSnapshot
{
    qint64 rowid = 0;
    QStringList texts;
    QList<bool> nulls;
};

} // namespace halvenna
