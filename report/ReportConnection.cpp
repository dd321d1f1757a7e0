#include "report/ReportConnection.h"

#include "data/Table.h"

#include <exception>
#include <limits>

namespace halvenna {

ReportRows::ReportRows(QStringList fields) : fields_(std::move(fields)) {}

int ReportRows::fieldIndex(const QString& name) const
{
    for (int i = 0; i < fields_.size(); ++i)
        if (fields_.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QByteArrayView ReportRows::value(int row, int field) const
{
    if (row < 0 || row >= rows_ || field < 0 || field >= fields_.size())
        return {};
    const size_t index = size_t(row) * size_t(fields_.size()) + size_t(field);
    const quint32 begin = index == 0 ? 0 : ends_[index - 1];
    return QByteArrayView(data_.constData() + begin, ends_[index] - begin);
}

void ReportRows::appendRow(const QList<QByteArray>& values)
{
    for (int i = 0; i < fields_.size(); ++i) {
        const QByteArray& v = i < values.size() ? values.at(i) : QByteArray();
        if (quint64(data_.size()) + quint64(v.size()) > std::numeric_limits<quint32>::max())
            throw Error(QStringLiteral("帳票のデータが大きすぎます"));
        data_.append(v);
        ends_.push_back(quint32(data_.size()));
    }
    ++rows_;
}

ReportConnection::ReportConnection(QString objectName, Table* table) : name_(std::move(objectName)), table_(table) {}

ReportRows ReportConnection::read(const QStringList& fields) const
{
    if (!table_)
        throw Error(QStringLiteral("%1 にはテーブルがつながっていません").arg(name_));
    Table& t = *table_;
    const bool wasActive = t.active();
    // A detail table follows its master lazily: settle it before noting where it stands.
    if (wasActive)
        (void)t.eof();
    const bool hadRow = wasActive && t.hasCurrentRow();
    const qint64 rowid = hadRow ? t.currentRowid() : 0;
    const bool wasLifted = t.masterLinkLifted();
    bool lifted = false;

    // Puts every part back even when an earlier part fails; the first failure is thrown.
    const auto restore = [&] {
        std::exception_ptr first;
        const auto step = [&](auto&& f) {
            try {
                f();
            } catch (...) {
                if (!first)
                    first = std::current_exception();
            }
        };
        if (lifted)
            step([&] { t.liftMasterLink(false); });
        if (wasActive && t.active())
            step([&] { hadRow ? t.gotoRow(rowid, -1) : t.first(); });
        if (!wasActive)
            step([&] { t.close(); });
        t.enableControls();
        if (first)
            std::rethrow_exception(first);
    };

    t.disableControls();
    ReportRows rows(fields);
    try {
        if (!wasActive)
            t.open();
        if (!wasLifted) {
            lifted = true;
            t.liftMasterLink(true);
        }
        for (const QString& f : fields)
            if (t.fieldIndex(f) < 0)
                throw MissingFieldError(QStringLiteral("%1 (%2) に項目 '%3' がありません").arg(name_, t.tableName(), f),
                                        f);
        QList<QByteArray> values(fields.size());
        for (t.first(); !t.eof(); t.next()) {
            for (int i = 0; i < fields.size(); ++i) {
                const FieldValue v = t.fieldValue(fields.at(i));
                values[i] = v.isNull() ? QByteArray() : v.asText();
            }
            rows.appendRow(values);
        }
    } catch (...) {
        try {
            restore();
        } catch (...) {
            // The failure that stopped the reading is the one to report.
        }
        throw;
    }
    restore();
    return rows;
}

} // namespace halvenna
