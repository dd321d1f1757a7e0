#include "data/table/DetailRange.h"

#include "data/DataSource.h"
#include "data/SjisText.h"
#include "data/Table.h"

namespace halvenna::table {

class DetailRange::MasterLink : public DataLink
{
public:
    explicit MasterLink(DetailRange& range) : range_(range) {}

protected:
    void activeChanged() override { range_.masterChanged(); }
    void dataSetChanged() override { range_.masterChanged(); }
    void dataSetScrolled() override { range_.masterChanged(); }
    void recordChanged(const QString& field) override
    {
        if (field.isEmpty() || field.compare(range_.masterField_, Qt::CaseInsensitive) == 0)
            range_.masterChanged();
    }
    void checkBrowseMode() override { range_.finishPending(); }

private:
    DetailRange& range_;
};

DetailRange::DetailRange(Table& detail) : detail_(detail) {}

void DetailRange::finishPending()
{
    detail_.checkBrowseMode();
}

void DetailRange::masterChanged()
{
    detail_.checkBrowseMode();
    detail_.refreshRange();
}

DetailRange::~DetailRange() = default;

void DetailRange::setMaster(DataSource* master, const QString& masterField, const QString& detailField)
{
    link_.reset();
    masterField_ = masterField;
    detailField_ = detailField;
    if (master) {
        link_ = std::make_unique<MasterLink>(*this);
        link_->setDataSource(master);
    }
}

void DetailRange::settle()
{
    stale_ = false;
    Table* master = link_ ? link_->table() : nullptr;
    restricted_ = master && master->active() && !lifted_;
    value_ = FieldValue();
    if (restricted_ && master->hasCurrentRow())
        value_ = master->fieldValue(masterField_);
}

QString DetailRange::where(const TableShape& table) const
{
    switch (shape()) {
    case 0:
        return QStringLiteral(" WHERE TRUE");
    case 1:
        return QStringLiteral(" WHERE FALSE");
    default:
        return QStringLiteral(" WHERE %1 = ?").arg(table.quotedField(table.require(detailField_)));
    }
}

void DetailRange::bind(sql::Statement& statement, int& index) const
{
    if (shape() == 2)
        bindValue(statement, index++, value_);
}

void bindValue(sql::Statement& statement, int index, const FieldValue& v)
{
    if (v.isNull())
        statement.bindNull(index);
    else if (v.isInteger())
        statement.bindInteger(index, v.asInteger());
    else if (v.isLogical())
        statement.bindInteger(index, v.asBoolean() ? 1 : 0);
    else
        statement.bindText(index, sjis::toUnicode(v.asText()).toUtf8());
}

} // namespace halvenna::table
