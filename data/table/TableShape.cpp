#include "data/table/TableShape.h"

namespace halvenna::table {

void TableShape::open(sql::Connection& db, const QString& tableName, const QString& indexField)
{
    const sql::TableColumns columns = db.columns(tableName);
    if (columns.columns.isEmpty())
        throw DatabaseError(
            QStringLiteral("%1: テーブル %2 が %3 にありません").arg(component_, tableName, db.location()));
    QList<FieldDef> fields;
    QHash<QString, int> byName;
    for (const sql::Column& c : columns.columns) {
        byName.insert(c.name, int(fields.size()));
        fields.append(FieldDef{c.name, c.kind, c.width});
    }
    fields_ = std::move(fields);
    fieldsByName_ = std::move(byName);
    try {
        identityField_ = columns.identity;
        orderField_ = indexField.isEmpty() ? identityField_ : require(indexField);
        // The fields written since editing began are kept as bits of one 64-bit word.
        if (fields_.size() > 64)
            throw DatabaseError(QStringLiteral("%1: テーブル %2 の項目が多すぎます").arg(component_, db.location()));
    } catch (...) {
        close();
        throw;
    }
    db_ = &db;
    table_ = db.quoted(tableName);
    rowid_ = columns.identitySql;
    version_ = columns.versioned ? db.quoted(QStringLiteral("version")) : QString();
    QStringList list;
    for (const FieldDef& f : std::as_const(fields_))
        list << db.quoted(f.name);
    list << rowid_;
    if (columns.versioned)
        list << version_;
    selectFrom_ = QStringLiteral("SELECT %1 FROM %2").arg(list.join(u", "), table_);
}

void TableShape::close()
{
    db_ = nullptr;
    table_.clear();
    rowid_.clear();
    version_.clear();
    selectFrom_.clear();
    fields_.clear();
    fieldsByName_.clear();
    identityField_ = -1;
    orderField_ = -1;
}

int TableShape::find(const QString& name) const
{
    if (const auto it = fieldsByName_.constFind(name); it != fieldsByName_.cend())
        return *it;
    for (int i = 0; i < fields_.size(); ++i) {
        const QString& candidate = fields_.at(i).name;
        if (candidate.size() == name.size() && candidate.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int TableShape::require(const QString& name) const
{
    const int i = find(name);
    if (i < 0)
        throw DatabaseError(QStringLiteral("%1: 項目 '%2' が見つかりません").arg(component_, name));
    return i;
}

void TableShape::throwNoField(int index) const
{
    throw DatabaseError(QStringLiteral("%1: 項目番号 %2 が見つかりません").arg(component_).arg(index));
}

QString TableShape::orderBy(bool descending, bool restricted) const
{
    const QLatin1String direction(descending ? " DESC" : "");
    if (!orderedByField(restricted))
        return QStringLiteral(" ORDER BY %1%2").arg(rowid_, direction);
    return QStringLiteral(" ORDER BY %1%2, %3%2").arg(quotedField(orderField_), direction, rowid_);
}

void TableShape::throwNoRow(QStringView what) const
{
    throw DatabaseError(sql::failureMessage(sql::Failure::Other, component_, db_->location(), what, QString()));
}

} // namespace halvenna::table
