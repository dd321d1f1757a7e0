#include "data/Table.h"

#include "data/Error.h"
#include "data/SjisText.h"
#include "data/sql/PostgresConnection.h"
#include "data/sql/SqliteConnection.h"

#include <QDir>
#include <QFileInfo>

#include <charconv>
#include <exception>
#include <limits>
#include <optional>
#include <utility>

namespace halvenna {

FieldNames::FieldNames(std::initializer_list<const char*> names)
{
    for (const char* name : names)
        names_ << QString::fromLatin1(name);
}

Table::Table(QString componentName, QString fileName, QString tableName)
    : name_(std::move(componentName)), fileName_(std::move(fileName)), tableName_(std::move(tableName)), shape_(name_),
      row_(shape_), range_(*this), cursor_(shape_, range_, row_), grid_(shape_, range_, cursor_, row_)
{}

Table::~Table()
{
    try {
        close();
    } catch (...) {
        // Closing drops what is pending; a failure to close the file cannot be reported from here.
    }
    for (DataSource* s : std::as_const(sources_))
        s->table_ = nullptr;
}

QString Table::filePath() const
{
    return QDir(dir_).filePath(fileName_);
}

void Table::setMasterSource(DataSource* master, const QString& masterField, const QString& detailField)
{
    range_.setMaster(master, masterField, detailField);
    refreshRange();
}

// ---------------------------------------------------------------- errors and fields

void Table::throwClosed() const
{
    throw DatabaseError(
        QStringLiteral("%1: %2").arg(name_, QStringLiteral("データセットは閉じているため, この操作は実行できません")));
}

void Table::checkActive() const
{
    if (!db_)
        throwClosed();
}

void Table::checkEditing() const
{
    if (!editing())
        throw DatabaseError(QStringLiteral("%1: データセットが編集モードでも挿入モードでもありません").arg(name_));
}

int Table::fieldIndex(const QString& name) const
{
    return shape_.find(name);
}

const std::vector<int>& Table::resolve(const FieldNames& names) const
{
    for (const auto& [key, positions] : resolved_)
        if (key == &names)
            return positions;
    std::vector<int> positions;
    for (const QString& name : names.names())
        positions.push_back(shape_.require(name));
    return resolved_.emplace_back(&names, std::move(positions)).second;
}

const FieldDef& Table::fieldDef(const QString& name) const
{
    return shape_.field(shape_.require(name));
}

const FieldDef& Table::fieldDef(int field) const
{
    shape_.checkIndex(field);
    return shape_.field(field);
}

// ---------------------------------------------------------------- open and close

std::unique_ptr<sql::Connection> Table::connect(const QString& path) const
{
    if (!server_.isEmpty())
        return sql::PostgresConnection::open(server_, name_);
    // A table file is never made by opening it: a missing one is reported as missing.
    if (dir_.isEmpty() || !QFileInfo(path).isFile())
        throw DatabaseError(QStringLiteral("%1: テーブル ファイル %2 が見つかりません").arg(name_, path));
    return sql::SqliteConnection::open(path, name_);
}

void Table::open()
{
    if (db_)
        return;
    std::unique_ptr<sql::Connection> db = connect(filePath());
    if (!server_.isEmpty() && serverCheck_)
        serverCheck_(*db, tableName_, name_);
    shape_.open(*db, tableName_, indexField_); // on failure the connection closes as it goes
    db_ = std::move(db);
    resolved_.clear();

    state_ = TableState::Browse;
    modified_ = false;
    cursor_.setKnownCount(-1);
    range_.markStale();
    ensureRange();
    notify(DataSource::Event::Active, QString());
    notify(DataSource::Event::DataSet, QString());
}

void Table::close()
{
    if (!db_)
        return;
    // Closing drops whatever is pending, unstored; what a batch still open has stored is kept.
    state_ = TableState::Inactive;
    modified_ = false;
    std::exception_ptr failure;
    if (batchDepth_ > 0) {
        batchDepth_ = 0;
        // (The engine may have ended it already, after an I/O error or a full disk.)
        if (db_->inTransaction()) {
            try {
                db_->commit(u"変更を保存できません");
            } catch (...) {
                failure = std::current_exception(); // reported once the table is closed
            }
        }
    }
    cursor_.forgetStatements();
    row_.forgetStatements();
    grid_.forgetStatements();
    row_.clear();
    db_.reset();
    shape_.close();
    resolved_.clear();
    cursor_.clear();
    cursor_.setKnownCount(-1);
    notify(DataSource::Event::Active, QString());
    notify(DataSource::Event::DataSet, QString());
    if (failure)
        std::rethrow_exception(failure);
}

// ---------------------------------------------------------------- the range of a detail table

void Table::refreshRange()
{
    range_.markStale();
    if (db_)
        notify(DataSource::Event::DataSet, QString());
}

void Table::liftMasterLink(bool lifted)
{
    if (range_.lifted() == lifted)
        return;
    checkBrowseMode();
    range_.setLifted(lifted);
    refreshRange();
    ensureRange();
    // The range was just read: another PC's change met during a walk is in it.
    if (atRest())
        readAgainPending_ = false;
}

void Table::ensureRange()
{
    if (!range_.stale() || !db_)
        return;
    range_.settle();
    cursor_.setKnownCount(-1);
    cursor_.first();
}

// ---------------------------------------------------------------- moving

void Table::beforeMove()
{
    checkActive();
    ensureRange();
    checkBrowseMode();
    finishDetailsBeforeChange();
}

void Table::afterMove()
{
    notify(DataSource::Event::Scroll, QString());
}

void Table::finishDetailsBeforeChange()
{
    notify(DataSource::Event::CheckBrowseMode, QString());
}

void Table::first()
{
    beforeMove();
    cursor_.first();
    afterMove();
}

void Table::next()
{
    beforeMove();
    if (cursor_.next())
        afterMove();
}

void Table::prior()
{
    beforeMove();
    if (cursor_.prior())
        afterMove();
}

void Table::last()
{
    beforeMove();
    cursor_.last();
    afterMove();
}

bool Table::eof()
{
    checkActive();
    ensureRange();
    return cursor_.eof();
}

bool Table::bof()
{
    checkActive();
    ensureRange();
    return cursor_.bof();
}

int Table::recordCount()
{
    checkActive();
    ensureRange();
    return cursor_.count();
}

int Table::estimatedRecordCount()
{
    checkActive();
    ensureRange();
    return grid_.estimatedCount();
}

bool Table::isEmpty()
{
    checkActive();
    ensureRange();
    return !cursor_.hasRow() && state_ != TableState::Insert;
}

int Table::recNo()
{
    checkActive();
    ensureRange();
    return cursor_.position();
}

bool Table::locate(const QString& field, const FieldValue& value, LocateOptions options)
{
    beforeMove();
    return findAndMove(shape_.require(field), value, options);
}

bool Table::locate(int field, const FieldValue& value, LocateOptions options)
{
    beforeMove();
    shape_.checkIndex(field);
    return findAndMove(field, value, options);
}

bool Table::findAndMove(int field, const FieldValue& value, LocateOptions options)
{
    const FieldDef& def = shape_.field(field);
    const FieldValue& master = range_.value();
    if (range_.restricted() && value.isInteger() && !master.isNull() && master.isInteger() &&
        value.asInteger() == master.asInteger() && field == shape_.find(range_.detailField())) {
        if (!cursor_.findRangeStart())
            return false;
        afterMove();
        return true;
    }
    FieldValue key = value;
    if (def.kind == FieldKind::Integer && !value.isNull() && !value.isInteger()) {
        qint32 v = 0;
        if (!parseWholeNumber(value.asText(), v))
            throw ConversionError(QStringLiteral("項目 '%1' の値として不正です").arg(def.name));
        key = FieldValue::integer(v);
    }
    if (!cursor_.find(field, key, options))
        return false;
    afterMove();
    return true;
}

void Table::gotoRow(qint64 rowid, int position)
{
    beforeMove();
    if (cursor_.hasRow() && rowid == cursor_.rowid())
        return;
    cursor_.load(rowid);
    cursor_.arrivedAt(cursor_.rowid() == rowid ? position : cursor_.knownPosition());
    afterMove();
}

// ---------------------------------------------------------------- changing

void Table::startNewRow(bool atEnd)
{
    checkActive();
    ensureRange();
    checkBrowseMode();
    finishDetailsBeforeChange();
    savedHasRow_ = cursor_.hasRow();
    savedRowid_ = cursor_.rowid();
    savedRecNo_ = cursor_.knownPosition();
    insertPos_ = atEnd ? -2 : (cursor_.hasRow() ? recNo() : 0);
    cursor_.standOnNew();
    state_ = TableState::Insert;
    modified_ = false;
    row_.clearDirty();
    typed_ = 0;

    inNewRecordEvent_ = true;
    try {
        if (range_.linked() && range_.restricted() && !range_.value().isNull())
            setFieldValue(range_.detailField(), range_.value());
        if (newRecord)
            newRecord(*this);
    } catch (...) {
        inNewRecordEvent_ = false;
        cancel();
        throw;
    }
    inNewRecordEvent_ = false;
    modified_ = false;
    notify(DataSource::Event::DataSet, QString());
    notify(DataSource::Event::Editing, QString());
}

int Table::insertPosition()
{
    if (state_ != TableState::Insert)
        return -1;
    if (insertPos_ == -2)
        return recordCount();
    return insertPos_;
}

void Table::append()
{
    startNewRow(true);
}

void Table::insert()
{
    startNewRow(false);
}

void Table::edit()
{
    checkActive();
    ensureRange();
    if (editing())
        return;
    if (!cursor_.hasRow()) {
        append();
        return;
    }
    finishDetailsBeforeChange();
    // The row's values stay where they are read from until a move or a store needs them copied.
    savedHasRow_ = true;
    savedRowid_ = cursor_.rowid();
    savedRecNo_ = cursor_.knownPosition();
    state_ = TableState::Edit;
    modified_ = false;
    row_.clearDirty();
    typed_ = 0;
    notify(DataSource::Event::Editing, QString());
}

void Table::updateRecord()
{
    notify(DataSource::Event::UpdateData, QString());
}

void Table::post()
{
    checkActive();
    updateRecord();
    if (!editing())
        return;
    finishDetailsBeforeChange();
    if (beforePost) {
        // What the rules derive (print fields) is no input of the user's.
        inRules_ = true;
        try {
            beforePost(*this);
        } catch (...) {
            inRules_ = false;
            throw;
        }
        inRules_ = false;
    }
    try {
        storeRow();
    } catch (const table::StaleRow&) {
        rereadStaleRow(false);
    }
    state_ = TableState::Browse;
    modified_ = false;
    rereadPendingQuietly();
    notify(DataSource::Event::Editing, QString());
    notify(DataSource::Event::DataSet, QString());
}

void Table::storeRow()
{
    if (state_ == TableState::Insert) {
        cursor_.inserted(row_.insert());
        insertPos_ = -1;
        return;
    }
    // Only the fields written since editing began are stored.
    const qint64 before = cursor_.rowid();
    qint64 rowid = before;
    if (row_.update(rowid))
        cursor_.updated(rowid, rowid != before || shape_.orderedByField(false));
}

void Table::rereadStaleRow(bool deleting)
{
    // Another PC changed or deleted the row since it was read here. What was typed here is named in
    // the message, since the row is read again as the other PC left it.
    static const QString kKey = QStringLiteral("id_no");
    const int key = shape_.find(kKey);
    const qint64 rowid = cursor_.rowid();
    QString id = QString::number(rowid);
    QStringList typed;
    try {
        if (key >= 0)
            id = row_.value(key).displayText();
        if (!deleting)
            for (int i = 0; i < shape_.fieldCount(); ++i)
                if (typed_ & (quint64(1) << i))
                    typed << QStringLiteral("%1 = %2").arg(fieldCaption(shape_.field(i).name),
                                                           row_.value(i).displayText());
    } catch (...) {
        // The message goes without what cannot be read.
    }
    state_ = TableState::Browse;
    modified_ = false;
    insertPos_ = -1;
    row_.clearDirty();
    typed_ = 0;
    bool gone = true;
    try {
        cursor_.load(rowid);
        gone = !cursor_.hasRow() || cursor_.rowid() != rowid;
        cursor_.setKnownCount(-1);
        cursor_.setKnownPosition(-1);
    } catch (...) {
        // Read again at the next move; the conflict is the error to report.
    }
    notify(DataSource::Event::Editing, QString());
    notify(DataSource::Event::DataSet, QString());
    QString message = gone ? QStringLiteral("ID %1 は他の端末で削除されました").arg(id)
                           : QStringLiteral("ID %1 は他の端末で変更されました").arg(id);
    message += QStringLiteral("。最新の内容を読み込みます");
    if (!typed.isEmpty())
        message += QStringLiteral("。\n保存されなかった入力: %1").arg(typed.join(QStringLiteral(", ")));
    throw DatabaseError(message);
}

void Table::cancel()
{
    checkActive();
    if (!editing())
        return;
    finishDetailsBeforeChange();
    const TableState was = state_;
    state_ = TableState::Browse;
    modified_ = false;
    if (was == TableState::Insert) {
        insertPos_ = -1;
        row_.clear();
        if (savedHasRow_) {
            cursor_.load(savedRowid_);
            cursor_.setKnownPosition(savedRecNo_);
        } else {
            cursor_.clear();
            cursor_.first();
        }
    } else {
        cursor_.load(cursor_.rowid());
        cursor_.setKnownPosition(savedRecNo_);
    }
    rereadPendingQuietly();
    notify(DataSource::Event::Editing, QString());
    notify(DataSource::Event::DataSet, QString());
}

void Table::deleteRecord()
{
    checkActive();
    ensureRange();
    if (state_ == TableState::Insert) {
        cancel();
        return;
    }
    if (!cursor_.hasRow())
        throw DatabaseError(QStringLiteral("%1: データセットが空のため, この操作は実行できません").arg(name_));
    finishDetailsBeforeChange();
    row_.materialize();
    const int position = cursor_.knownPosition();
    try {
        row_.remove(cursor_.rowid());
    } catch (const table::StaleRow&) {
        rereadStaleRow(true);
    }
    state_ = TableState::Browse;
    modified_ = false;
    // The row after the deleted one becomes current, or the one before it at the end.
    cursor_.afterDelete(position);
    notify(DataSource::Event::Editing, QString());
    notify(DataSource::Event::DataSet, QString());
}

void Table::checkBrowseMode()
{
    if (!db_ || !editing())
        return;
    updateRecord();
    if (modified_)
        post();
    else
        cancel();
}

void Table::emptyTable()
{
    if (db_) {
        if (editing()) {
            state_ = TableState::Browse;
            modified_ = false;
            row_.clear();
        }
        cursor_.letGo();
        const QString sql = QStringLiteral("DELETE FROM %1").arg(shape_.table());
        db_->execute(sql, sql);
        cursor_.setKnownCount(0);
        cursor_.clear();
        cursor_.first();
        notify(DataSource::Event::DataSet, QString());
        return;
    }
    const std::unique_ptr<sql::Connection> db = connect(filePath());
    db->execute(QStringLiteral("DELETE FROM %1").arg(db->quoted(tableName_)), u"テーブルを空にできません");
}

// ---------------------------------------------------------------- fields

FieldValue Table::fieldValue(const QString& name)
{
    return fieldValue(shape_.require(name));
}

FieldValue Table::fieldValue(int field)
{
    shape_.checkIndex(field);
    ensureRange();
    if (!cursor_.hasRow())
        return FieldValue();
    return row_.value(field);
}

void Table::setFieldValue(const QString& name, const FieldValue& value)
{
    setFieldValue(shape_.require(name), value);
}

void Table::setFieldValue(int field, const FieldValue& value)
{
    shape_.checkIndex(field);
    checkEditing();
    row_.write(field, value);
    wrote(field);
}

void Table::wrote(int field)
{
    if (!inNewRecordEvent_)
        modified_ = true;
    // Kept through a store that failed (a lost server), so that a later refusal still names it.
    if (!inNewRecordEvent_ && !inRules_ && field < 64)
        typed_ |= quint64(1) << field;
    notify(DataSource::Event::Record, shape_.field(field).name);
}

void Table::setFieldText(const QString& name, const QByteArray& sjisText)
{
    setFieldValue(shape_.require(name), FieldValue::text(sjisText));
}

void Table::setFieldText(int field, const QByteArray& sjisText)
{
    setFieldValue(field, FieldValue::text(sjisText));
}

void Table::checkText(int field, const QByteArray& sjisText) const
{
    shape_.checkIndex(field);
    row_.checkText(field, sjisText);
}

void Table::copyField(Table& source, const QString& name)
{
    copyField(source, source.shape_.require(name), shape_.require(name));
}

void Table::copyField(Table& source, int from, int to)
{
    checkEditing();
    source.ensureRange();
    source.shape_.checkIndex(from);
    shape_.checkIndex(to);
    const FieldDef& def = shape_.field(to);
    // Text as stored is handed over as it is when it surely fits: code page 932 never takes more
    // bytes than UTF-8 for the same text. Anything else goes through the usual conversion.
    QByteArrayView stored;
    if (def.kind == FieldKind::Text && source.cursor_.hasRow() && source.row_.storedText(from, stored) &&
        (def.width == 0 || stored.size() <= def.width)) {
        row_.writeStoredText(to, stored);
        wrote(to);
        return;
    }
    setFieldValue(to, source.cursor_.hasRow() ? source.row_.value(from) : FieldValue());
}

// ---------------------------------------------------------------- bound controls and batches

void Table::attachSource(DataSource* s)
{
    if (!sources_.contains(s))
        sources_.append(s);
}

void Table::detachSource(DataSource* s)
{
    sources_.removeAll(s);
}

void Table::notify(DataSource::Event event, const QString& field)
{
    // Suspended controls hear nothing but the requests to finish pending input and changes.
    if (sources_.isEmpty() ||
        (disableCount_ > 0 && event != DataSource::Event::UpdateData && event != DataSource::Event::CheckBrowseMode))
        return;
    // A source may be detached while told: walk a copy.
    for (DataSource* s : PointerSnapshot<DataSource>(sources_))
        s->notify(event, field);
}

void Table::disableControls()
{
    ++disableCount_;
}

void Table::enableControls()
{
    if (disableCount_ == 0)
        return;
    if (--disableCount_ == 0)
        notify(DataSource::Event::DataSet, QString());
}

void Table::releaseReadLock() noexcept
{
    if (batchDepth_ > 0)
        return;
    // Other PCs add and delete shared rows meanwhile: the count is asked again after each wait.
    if (db_ && !server_.isEmpty())
        cursor_.setKnownCount(-1);
    if (!cursor_.holdsStatement())
        return;
    try {
        row_.materialize();
    } catch (...) {
        return; // the row is still read through the cursor; the lock is let go another time
    }
    cursor_.letGo();
}

bool Table::readAgain()
{
    if (!db_)
        return false;
    if (!atRest()) {
        readAgainPending_ = true;
        return false;
    }
    readAgainPending_ = false;
    rereadRows();
    notify(DataSource::Event::DataSet, QString());
    return true;
}

void Table::rereadRows()
{
    if (range_.linked()) {
        // A detail follows its master: its range is read again from the start.
        range_.markStale();
        ensureRange();
        return;
    }
    const bool hadRow = cursor_.hasRow();
    const qint64 rowid = cursor_.rowid();
    cursor_.setKnownCount(-1);
    cursor_.setKnownPosition(-1);
    if (hadRow)
        cursor_.load(rowid);
    else
        cursor_.first();
    cursor_.setKnownPosition(-1);
}

void Table::rereadPendingQuietly() noexcept
{
    // What another PC changed while this row was being edited is read with the end of the edit.
    // A failure leaves it pending: it is read (and reported) at the next wait for the user.
    if (!readAgainPending_ || !db_ || !atRest())
        return;
    try {
        rereadRows();
        readAgainPending_ = false;
    } catch (...) {
    }
}

void Table::setFieldCaption(const QString& field, const QString& caption)
{
    captions_.insert(field.toLower(), caption);
}

QString Table::fieldCaption(const QString& field) const
{
    return captions_.value(field.toLower(), field);
}

qint64 Table::sessionId() const
{
    return db_ ? db_->sessionId() : 0;
}

void Table::beginBatch()
{
    checkActive();
    if (batchDepth_++ == 0) {
        try {
            db_->begin(u"トランザクションを開始できません");
        } catch (...) {
            batchDepth_ = 0;
            throw;
        }
    }
}

void Table::endBatch()
{
    if (!db_ || batchDepth_ == 0)
        return;
    if (--batchDepth_ > 0)
        return;
    // A row found inside the transaction is copied off its statement, which lets go of it.
    cursor_.leaveTransaction();
    if (!db_->inTransaction()) {
        forgetRolledBackRows(); // the engine already ended it (after an I/O error or a full disk)
        return;
    }
    try {
        db_->commit(u"変更を保存できません", [this] { row_.materialize(); });
    } catch (...) {
        cursor_.letGo();
        forgetRolledBackRows();
        throw;
    }
}

void Table::forgetRolledBackRows()
{
    // The rows stored in the transaction are gone with it: the count and the current row, which
    // may be one of them, are read again, and bound controls show the table as it is.
    cursor_.setKnownCount(-1);
    cursor_.setKnownPosition(-1);
    try {
        if (!editing() && cursor_.hasRow())
            cursor_.load(cursor_.rowid());
        notify(DataSource::Event::DataSet, QString());
    } catch (...) {
        // The error that ended the transaction is the one to report.
    }
}

Table::Batch::~Batch() noexcept(false)
{
    if (std::uncaught_exceptions() > uncaught_) {
        try {
            t_.endBatch();
        } catch (...) {
            // The error already on its way is the one the user sees.
        }
        return;
    }
    t_.endBatch();
}

Table::ControlsSuspended::~ControlsSuspended() noexcept
{
    try {
        t_.enableControls();
    } catch (const std::exception& e) {
        if (std::uncaught_exceptions() == uncaught_)
            reportUnthrowable(e);
    } catch (...) {
        if (std::uncaught_exceptions() == uncaught_)
            reportUnthrowable(Error(QStringLiteral("不明なエラーが発生しました")));
    }
}

// ---------------------------------------------------------------- bulk work

bool Table::storesInBulk() const
{
    return db_ && db_->cursorPage() > 0;
}

void Table::rewriteEveryRow(const FieldNames& reads, const FieldNames& writes, const RowRewrite& compute)
{
    checkActive();
    ensureRange();
    checkBrowseMode();
    if (range_.restricted())
        throw Error(QStringLiteral("%1: 詳細テーブルの行はまとめて書き換えられません").arg(name_));
    const std::vector<int> in = resolve(reads);
    const std::vector<int> out = resolve(writes);
    QStringList readColumns;
    for (const int f : in)
        readColumns << shape_.quotedField(f);
    QStringList writeColumns;
    QList<FieldKind> kinds;
    for (const int f : out) {
        writeColumns << shape_.quotedField(f);
        kinds << shape_.field(f).kind;
    }
    const int n = int(in.size());
    constexpr int kPage = 5000;
    {
        Batch batch(*this);
        cursor_.letGo();
        row_.materialize();
        sql::Statement& page =
            db_->prepare(QStringLiteral("SELECT %1, %2 FROM %3 WHERE %2 > CAST(? AS BIGINT) ORDER BY %2 LIMIT ?%4")
                             .arg(readColumns.join(u", "), shape_.rowid(), shape_.table(), db_->lockingRead()));
        qint64 after = std::numeric_limits<qint64>::min();
        for (;;) {
            std::vector<qint64> ids;
            std::vector<std::vector<std::optional<QByteArray>>> rows;
            {
                sql::Query q(page);
                q->bindInteger(1, after);
                q->bindInteger(2, kPage);
                std::vector<FieldValue> values(static_cast<size_t>(n));
                std::vector<FieldValue> results;
                while (q->step(u"テーブルを読めません")) {
                    for (int i = 0; i < n; ++i) {
                        const sql::ValueType type = q->type(i);
                        values[size_t(i)] =
                            type == sql::ValueType::Null ? FieldValue()
                            : type == sql::ValueType::Integer
                                ? FieldValue::integer(qint32(q->integer(i)))
                                : FieldValue::text(sjis::isAscii(q->text(i))
                                                       ? q->text(i).toByteArray()
                                                       : sjis::fromUnicode(QString::fromUtf8(q->text(i))));
                    }
                    results.clear();
                    compute(values, results);
                    std::vector<std::optional<QByteArray>> stored;
                    for (size_t k = 0; k < out.size(); ++k)
                        stored.push_back(row_.storedForm(out[k], k < results.size() ? results[k] : FieldValue()));
                    rows.push_back(std::move(stored));
                    after = q->integer(n);
                    ids.push_back(after);
                }
            }
            db_->updateRows(shape_.table(), shape_.rowid(), writeColumns, kinds, ids, rows, u"行を保存できません");
            if (int(ids.size()) < kPage)
                break;
        }
    }
    // The current row as it is now; counts and positions are unchanged.
    if (cursor_.hasRow()) {
        const int position = cursor_.knownPosition();
        cursor_.load(cursor_.rowid());
        cursor_.setKnownPosition(position);
    }
    notify(DataSource::Event::DataSet, QString());
}

FieldValue Table::convertedValue(int field, const FieldValue& value) const
{
    shape_.checkIndex(field);
    return row_.convertedValue(field, value);
}

void Table::mergeRows(const std::vector<int>& fields, const std::vector<std::vector<FieldValue>>& rows)
{
    checkActive();
    if (rows.empty())
        return;
    QStringList columns;
    QList<FieldKind> kinds;
    for (const int f : fields) {
        shape_.checkIndex(f);
        columns << shape_.quotedField(f);
        kinds << shape_.field(f).kind;
    }
    std::vector<std::vector<std::optional<QByteArray>>> stored;
    stored.reserve(rows.size());
    for (const std::vector<FieldValue>& row : rows) {
        std::vector<std::optional<QByteArray>> values;
        values.reserve(fields.size());
        for (size_t k = 0; k < fields.size(); ++k)
            values.push_back(row_.storedForm(fields[k], k < row.size() ? row[k] : FieldValue()));
        stored.push_back(std::move(values));
    }
    db_->mergeRows(shape_.table(), columns, kinds, std::move(stored), u"行を保存できません");
    cursor_.setKnownCount(-1);
}

// ---------------------------------------------------------------- reading rows for grids

QList<RowSnapshot> Table::readRows(int from, int count)
{
    checkActive();
    ensureRange();
    return grid_.read(from, count, false);
}

QList<RowSnapshot> Table::readRowsFromEnd(int fromEnd, int count)
{
    checkActive();
    ensureRange();
    return grid_.read(fromEnd, count, true);
}

QList<RowSnapshot> Table::readRowsAfter(qint64 rowid, int count, bool backwards, const std::vector<int>& fields)
{
    checkActive();
    ensureRange();
    return grid_.readAfter(rowid, count, backwards, fields);
}

RowSnapshot Table::currentSnapshot()
{
    return grid_.current();
}

void Table::StoredRow::appendText(int column, QString& out) const
{
    switch (statement_.type(column)) {
    case sql::ValueType::Null:
        return;
    case sql::ValueType::Integer: {
        const qint64 v = statement_.integer(column);
        switch (kinds_[size_t(column)]) {
        case FieldKind::Logical:
            out += v != 0 ? QLatin1String("True") : QLatin1String("False");
            return;
        case FieldKind::Integer:
        case FieldKind::Text: {
            char digits[24];
            const qint64 shown = kinds_[size_t(column)] == FieldKind::Integer ? qint64(qint32(v)) : v;
            const auto end = std::to_chars(digits, digits + sizeof digits, shown).ptr;
            out += QLatin1String(digits, end - digits);
            return;
        }
        }
        return;
    }
    case sql::ValueType::Text: {
        // Decoded straight into the reader's text: UTF-16 never takes more units than UTF-8 bytes.
        // Stored by this program the text is code page 932's already; by another, its JIS forms are
        // read as code page 932 holds them, as every reader of the table sees them.
        const QByteArrayView utf8 = statement_.text(column);
        const qsizetype at = out.size();
        if (out.capacity() < at + utf8.size())
            out.reserve(qMax(at + utf8.size(), 2 * out.capacity())); // resizing alone would grow it by the value
        out.resize(at + utf8.size());
        QChar* const begin = out.data() + at;
        QChar* const end = decoder_.appendToBuffer(begin, utf8);
        sjis::toCodePageForms(begin, end);
        out.truncate(end - out.constData());
        return;
    }
    }
}

Table::StoredRead Table::readStoredRows(const QStringList& fields, const QStringList& optional,
                                        const std::function<void(const StoredRow&)>& row)
{
    std::unique_ptr<sql::Connection> own;
    std::optional<table::TableShape> ownShape;
    const table::TableShape* shape = &shape_;
    if (!db_) {
        own = connect(filePath());
        if (!server_.isEmpty() && serverCheck_)
            serverCheck_(*own, tableName_, name_);
        ownShape.emplace(name_);
        ownShape->open(*own, tableName_, indexField_);
        shape = &*ownShape;
    }
    StoredRead read;
    QString columns;
    std::vector<FieldKind> kinds;
    const auto take = [&](const QString& name, int index) {
        read.fields << name;
        kinds.push_back(shape->field(index).kind);
        columns += (columns.isEmpty() ? QString() : QStringLiteral(", ")) + shape->quotedField(index);
    };
    for (const QString& f : fields) {
        const int index = shape->find(f);
        if (index < 0)
            return StoredRead{{}, f};
        take(f, index);
    }
    for (const QString& f : optional)
        if (const int index = shape->find(f); index >= 0 && !read.fields.contains(f, Qt::CaseInsensitive))
            take(f, index);
    if (columns.isEmpty())
        columns = QStringLiteral("1"); // rows without values, counted
    sql::Query q(shape->db().prepare(
        QStringLiteral("SELECT %1 FROM %2%3").arg(columns, shape->table(), shape->orderBy(false, false))));
    const StoredRow stored(*q, read.fields, kinds);
    while (q->step(u"テーブルを読めません"))
        row(stored);
    return read;
}

} // namespace halvenna
