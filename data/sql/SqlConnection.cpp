#include "data/sql/SqlConnection.h"

namespace halvenna::sql {

QString failureMessage(Failure failure, const QString& label, const QString& location, QStringView what,
                       const QString& detail)
{
    switch (failure) {
    case Failure::DuplicateKey:
        return QStringLiteral("%1: キーが重複しています (%2)").arg(label, detail);
    case Failure::InUse:
        return QStringLiteral("%1: テーブル %2 は他のプログラムが使用中です").arg(label, location);
    case Failure::DiskFull:
        return QStringLiteral("%1: ディスクがいっぱいで %2 に書き込めません").arg(label, location);
    case Failure::ReadOnly:
        return QStringLiteral("%1: %2 に書き込めません").arg(label, location);
    case Failure::Damaged:
        return QStringLiteral("%1: テーブル %2 が壊れています (%3)").arg(label, location, detail);
    case Failure::Unreachable:
        return QStringLiteral("%1: サーバー %2 に接続できません (%3)").arg(label, location, detail);
    case Failure::Other:
        break;
    }
    return QStringLiteral("%1: %2 (%3)").arg(label, what.toString(), detail);
}

QString Connection::quoted(const QString& identifier) const
{
    QString q = identifier;
    q.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + q + u'"';
}

void Connection::updateRows(const QString& table, const QString& identity, const QStringList& columns,
                            const QList<FieldKind>& kinds, const std::vector<qint64>& ids,
                            const std::vector<std::vector<std::optional<QByteArray>>>& rows, QStringView what)
{
    Q_UNUSED(kinds);
    // Row by row, one prepared statement: an engine on a local file pays no round trip for each.
    QStringList sets;
    for (const QString& c : columns)
        sets << c + QStringLiteral(" = ?");
    Statement& st =
        prepare(QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?").arg(table, sets.join(QStringLiteral(", ")), identity));
    for (size_t r = 0; r < ids.size(); ++r) {
        Query q(st);
        int index = 1;
        for (const std::optional<QByteArray>& v : rows[r]) {
            if (v)
                q->bindText(index++, *v);
            else
                q->bindNull(index++);
        }
        q->bindInteger(index, ids[r]);
        q->step(what);
    }
}

void Connection::mergeRows(const QString& table, const QStringList& columns, const QList<FieldKind>& kinds,
                           std::vector<std::vector<std::optional<QByteArray>>> rows, QStringView what)
{
    Q_UNUSED(kinds);
    QStringList marks;
    QStringList sets;
    for (qsizetype c = 0; c < columns.size(); ++c) {
        marks << QStringLiteral("?");
        if (c > 0)
            sets << QStringLiteral("%1 = excluded.%1").arg(columns.at(c));
    }
    Statement& st = prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) ON CONFLICT (%4) DO UPDATE SET %5")
                                .arg(table, columns.join(QStringLiteral(", ")), marks.join(u','), columns.at(0),
                                     sets.join(QStringLiteral(", "))));
    for (const auto& row : rows) {
        Query q(st);
        int index = 1;
        for (const std::optional<QByteArray>& v : row) {
            if (v)
                q->bindText(index++, *v);
            else
                q->bindNull(index++);
        }
        q->step(what);
    }
}

} // namespace halvenna::sql
