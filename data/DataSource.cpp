#include "data/DataSource.h"

#include "data/Table.h"

namespace halvenna {

DataLink::~DataLink()
{
    if (source_)
        source_->detach(this);
}

void DataLink::setDataSource(DataSource* source)
{
    if (source_ == source)
        return;
    if (source_)
        source_->detach(this);
    source_ = nullptr;
    if (source)
        source->attach(this);
    dataSetChanged();
}

Table* DataLink::table() const
{
    return source_ ? source_->dataSet() : nullptr;
}

DataSource::~DataSource()
{
    for (DataLink* link : links_)
        link->source_ = nullptr;
    if (table_)
        table_->detachSource(this);
}

void DataSource::setDataSet(Table* table)
{
    if (table_ == table)
        return;
    if (table_)
        table_->detachSource(this);
    table_ = table;
    if (table_)
        table_->attachSource(this);
    notify(Event::DataSet);
}

void DataSource::attach(DataLink* link)
{
    links_.append(link);
    ++linkChanges_;
    link->source_ = this;
}

void DataSource::detach(DataLink* link)
{
    links_.removeAll(link);
    ++linkChanges_;
    link->source_ = nullptr;
}

void DataSource::notify(Event event, const QString& field)
{
    if (links_.isEmpty())
        return;
    // A link may detach (or attach others) while being told: walk a copy, skip the gone ones.
    const quint64 changesBefore = linkChanges_;
    for (DataLink* link : PointerSnapshot<DataLink>(links_)) {
        if (linkChanges_ != changesBefore && !links_.contains(link))
            continue;
        switch (event) {
        case Event::Active:
            link->activeChanged();
            break;
        case Event::DataSet:
            link->dataSetChanged();
            break;
        case Event::Scroll:
            link->dataSetScrolled();
            break;
        case Event::Record:
            link->recordChanged(field);
            break;
        case Event::Editing:
            link->editingChanged();
            break;
        case Event::UpdateData:
            link->updateData();
            break;
        case Event::CheckBrowseMode:
            link->checkBrowseMode();
            break;
        }
    }
}

} // namespace halvenna
