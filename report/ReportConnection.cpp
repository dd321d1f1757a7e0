#include "report/ReportConnection.h"

#include "data/SjisText.h"
#include "data/Table.h"

#include <optional>

namespace halvenna {

ReportRows::ReportRows(QStringList fields) : fields_(std::move(fields)) {}

int ReportRows::fieldIndex(const QString& name) const
{
    for (int i = 0; i < fields_.size(); ++i)
        if (fields_.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QStringView ReportRows::text(int row, int field) const
{
    if (row < 0 || row >= rows_ || field < 0 || field >= fields_.size())
        return {};
    const size_t index = size_t(row) * size_t(fields_.size()) + size_t(field);
    const qsizetype begin = index == 0 ? 0 : ends_[index - 1];
    return QStringView(data_).mid(begin, ends_[index] - begin);
}

void ReportRows::appendRow(const QList<QByteArray>& values)
{
    for (int i = 0; i < fields_.size(); ++i)
        appendValue([&](QString& out) {
            if (i < values.size())
                out += sjis::toUnicode(values.at(i));
        });
    endRow();
}

void ReportRows::endRow()
{
    if (ends_.size() != size_t(rows_ + 1) * size_t(fields_.size()))
        throw Error(QStringLiteral("帳票のデータの行がそろっていません"));
    ++rows_;
}

ReportConnection::ReportConnection(QString objectName, Table* table) : name_(std::move(objectName)), table_(table) {}

ReportRows ReportConnection::read(const QStringList& fields, const QStringList& optional) const
{
    if (!table_)
        throw Error(QStringLiteral("%1 にはテーブルがつながっていません").arg(name_));
    std::optional<ReportRows> rows;
    const Table::StoredRead read = table_->readStoredRows(fields, optional, [&](const Table::StoredRow& row) {
        if (!rows)
            rows.emplace(row.fields());
        const int count = int(row.fields().size());
        for (int i = 0; i < count; ++i)
            rows->appendValue([&](QString& out) { row.appendText(i, out); });
        rows->endRow();
    });
    if (!read.missing.isEmpty())
        throw MissingFieldError(
            QStringLiteral("%1 (%2) に項目 '%3' がありません").arg(name_, table_->tableName(), read.missing),
            read.missing);
    return rows ? std::move(*rows) : ReportRows(read.fields);
}

} // namespace halvenna
