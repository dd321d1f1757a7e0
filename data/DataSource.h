#pragma once

#include <QList>
#include <QString>

#include <algorithm>
#include <iterator>

namespace halvenna {

class Table;
class DataSource;

// The pointers of a list as they were when it was made, for walking while those told may change
// the list. Held on the stack for the few pointers there usually are: a move of a table tells its
// sources and links several times, and copying a QList would count references atomically.
template <typename T> class PointerSnapshot
{
public:
    explicit PointerSnapshot(const QList<T*>& list) : size_(list.size())
    {
        if (size_ > qsizetype(std::size(local_))) {
            heap_ = list;
            return;
        }
        // Pointer by pointer: a call to the library's copy for two or three pointers costs more than
        // the copy (it showed as a sixth of walking a table).
        T* const* from = list.constData();
        switch (size_) {
        case 8:
            local_[7] = from[7];
            [[fallthrough]];
        case 7:
            local_[6] = from[6];
            [[fallthrough]];
        case 6:
            local_[5] = from[5];
            [[fallthrough]];
        case 5:
            local_[4] = from[4];
            [[fallthrough]];
        case 4:
            local_[3] = from[3];
            [[fallthrough]];
        case 3:
            local_[2] = from[2];
            [[fallthrough]];
        case 2:
            local_[1] = from[1];
            [[fallthrough]];
        case 1:
            local_[0] = from[0];
            [[fallthrough]];
        default:
            break;
        }
    }
    T* const* begin() const { return size_ <= qsizetype(std::size(local_)) ? local_ : heap_.constData(); }
    T* const* end() const { return begin() + size_; }

private:
    qsizetype size_;
    T* local_[8];
    QList<T*> heap_;
};

// What a table tells the controls bound to it. A link is a plain C++ observer (not a Qt signal)
// so that an error raised while a control hands its pending input to the row (updateData)
// travels back to the table operation that asked for it.
class DataLink
{
public:
    virtual ~DataLink();

    DataSource* dataSource() const { return source_; }
    void setDataSource(DataSource* source);
    // The table behind the data source, or null.
    Table* table() const;

protected:
    friend class DataSource;
    // The table was opened or closed.
    virtual void activeChanged() {}
    // Everything may have changed: rows, order, current row.
    virtual void dataSetChanged() {}
    // The current row moved to another row.
    virtual void dataSetScrolled() {}
    // The current row's values changed; field is empty for "all fields".
    virtual void recordChanged(const QString& field) { (void)field; }
    // The table went into or out of edit or insert state.
    virtual void editingChanged() {}
    // Write any input still pending in the control into the current row. May throw.
    virtual void updateData() {}
    // The master row is about to change: finish a pending change of one's own (detail tables).
    virtual void checkBrowseMode() {}

private:
    DataSource* source_ = nullptr;
};

// Passes the current row of one table, and every change of it, to the controls bound to it.
class DataSource
{
public:
    explicit DataSource(QString name = {}) : name_(std::move(name)) {}
    ~DataSource();
    DataSource(const DataSource&) = delete;
    DataSource& operator=(const DataSource&) = delete;

    const QString& objectName() const { return name_; }
    Table* dataSet() const { return table_; }
    void setDataSet(Table* table);

private:
    friend class DataLink;
    friend class Table;
    void attach(DataLink* link);
    void detach(DataLink* link);

    enum class Event { Active, DataSet, Scroll, Record, Editing, UpdateData, CheckBrowseMode };
    void notify(Event event, const QString& field = {});

    QString name_;
    Table* table_ = nullptr;
    QList<DataLink*> links_;
    quint64 linkChanges_ = 0; // links attached or detached so far
};

} // namespace halvenna
