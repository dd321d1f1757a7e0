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

} // namespace halvenna::sql
