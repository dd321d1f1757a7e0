#include "roster/model/DataModule.h"

#include "data/sql/PostgresConnection.h"
#include "roster/model/RecordRules.h"
#include "roster/model/Schema.h"

#include <QAbstractEventDispatcher>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QWindow>

using halvenna::Table;

TDataModule1::TDataModule1(const QString& databaseDir, QObject* parent) : QObject(parent)
{
    setObjectName(QStringLiteral("DataModule1"));
    for (Table* t : {&tbMemberMaster, &tbContents, &tbAccount, &tbPrintMember})
        t->setDatabaseDir(databaseDir);
    // A shared table lacking a field, its version or the trigger would let one PC overwrite
    // another's change unnoticed: it is refused as it opens.
    for (Table* t : {&tbMemberMaster, &tbContents, &tbAccount})
        t->setServerCheck(&halvenna::schema::checkServerTable);

    tbMemberMasterDataSource.setDataSet(&tbMemberMaster);
    tbContentsDataSource.setDataSet(&tbContents);
    tbAccountDataSource.setDataSet(&tbAccount);

    tbContents.setIndexFieldName(QStringLiteral("id_no"));
    tbContents.setMasterSource(&tbMemberMasterDataSource, QStringLiteral("id_no"), QStringLiteral("id_no"));
    tbAccount.setIndexFieldName(QStringLiteral("id_no"));
    tbAccount.setMasterSource(&tbMemberMasterDataSource, QStringLiteral("id_no"), QStringLiteral("id_no"));

    // Whenever the program waits for the user, the tables let go of their read locks, so that
    // another program can write the files while a window merely shows a member.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
            for (Table* t : {&tbMemberMaster, &tbContents, &tbAccount, &tbPrintMember})
                t->releaseReadLock();
            // A table that was busy when another PC changed it is read once it is at rest.
            for (Table* t : {&tbMemberMaster, &tbContents, &tbAccount})
                if (t->readAgainPending() && mayReadAgain(*t))
                    QMetaObject::invokeMethod(
                        this,
                        [this, t] {
                            if (t->readAgainPending())
                                readAgain(*t);
                        },
                        Qt::QueuedConnection);
        });
    // Without notifications (the server restarted, the network was away) a window coming to the
    // front shows what the server holds now.
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(gui, &QGuiApplication::focusWindowChanged, this, &TDataModule1::windowActivated);

    tbMemberMaster.beforePost = [this](Table& t) { tbMemberMasterBeforePost(t); };
    tbAccount.beforePost = [this](Table& t) { tbAccountBeforePost(t); };
    tbContents.newRecord = [this](Table& t) { tbContentsNewRecord(t); };
}

TDataModule1::~TDataModule1()
{
    stopWatching();
}

void TDataModule1::setServer(const QString& conninfo)
{
    for (Table* t : {&tbMemberMaster, &tbContents, &tbAccount})
        t->setServer(conninfo);
}

QString TDataModule1::tablesPlace() const
{
    if (server().isEmpty())
        return QStringLiteral("テーブル: このPCのフォルダー %1 (SQLite)")
            .arg(QDir::toNativeSeparators(QFileInfo(tbMemberMaster.filePath()).absolutePath()));
    // Never the string itself: it may hold a password.
    const QString where = halvenna::sql::PostgresConnection::describe(server());
    if (where.isEmpty())
        return QStringLiteral("テーブル: PostgreSQL サーバー: %1")
            .arg(halvenna::sql::PostgresConnection::unreadable(server()));
    return QStringLiteral("テーブル: PostgreSQL サーバー %1").arg(where);
}

void TDataModule1::SetTablesActive(bool value)
{
    for (Table* t : {&tbMemberMaster, &tbContents, &tbAccount, &tbPrintMember})
        t->setActive(value);
}

void TDataModule1::DataModuleCreate()
{
    SetTablesActive(true);
    watchServer();
}

void TDataModule1::DataModuleDestroy()
{
    stopWatching();
    settlePending();
    // Every table is closed even when one of them fails to close.
    for (Table* t : {&tbMemberMaster, &tbContents, &tbAccount, &tbPrintMember}) {
        try {
            t->close();
        } catch (const std::exception& e) {
            if (reportError)
                reportError(e);
        }
    }
}

void TDataModule1::watchServer()
{
    if (server().isEmpty() || watch_)
        return;
    // A connection of its own that only listens: the tables' connections are busy with their
    // statements and would swallow the notifications in between.
    auto watch = halvenna::sql::PostgresConnection::open(server(), objectName());
    watch->listen(halvenna::schema::changeChannel());
    watch_ = std::move(watch);
    watchSocket_ = new QSocketNotifier(qintptr(watch_->socket()), QSocketNotifier::Read, this);
    connect(watchSocket_, &QSocketNotifier::activated, this, [this] { takeServerChanges(); });
}

void TDataModule1::stopWatching()
{
    delete watchSocket_;
    watchSocket_ = nullptr;
    watch_.reset();
}

void TDataModule1::takeServerChanges()
{
    if (!watch_)
        return;
    QList<QPair<QString, qint64>> changes;
    if (!watch_->takeNotifications(changes)) {
        // The server or the network went away: windows read again on activation until the
        // notifications can start again.
        stopWatching();
        return;
    }
    QList<Table*> changed;
    for (const auto& [table, session] : std::as_const(changes))
        for (Table* t : {&tbMemberMaster, &tbContents, &tbAccount}) {
            // This PC's own stores are shown already.
            bool own = false;
            for (Table* mine : {&tbMemberMaster, &tbContents, &tbAccount})
                own = own || (session != 0 && mine->sessionId() == session);
            if (!own && t->tableName() == table && !changed.contains(t))
                changed << t;
        }
    for (Table* t : std::as_const(changed))
        readAgain(*t);
}

bool TDataModule1::mayReadAgain(const Table& t) const
{
    // Reading the members again would move their details, one of which a report is walking whole.
    if (&t == &tbMemberMaster && (tbContents.masterLinkLifted() || tbAccount.masterLinkLifted()))
        return false;
    return t.atRest();
}

void TDataModule1::readAgain(Table& t)
{
    if (!mayReadAgain(t)) {
        t.deferReadAgain();
        return;
    }
    try {
        if (t.readAgain())
            readFailed_ = false;
    } catch (const std::exception& e) {
        // Said once: every activation would say it again while the server is away.
        if (!readFailed_ && reportError)
            reportError(e);
        readFailed_ = true;
    }
}

void TDataModule1::readSharedTablesAgain()
{
    if (server().isEmpty())
        return;
    if (!watch_ && tbMemberMaster.sessionId() != 0) {
        try {
            watchServer();
        } catch (const std::exception&) {
            // Still away: read again at the next activation.
        }
    }
    for (Table* t : {&tbMemberMaster, &tbContents, &tbAccount})
        readAgain(*t);
}

void TDataModule1::windowActivated(QWindow* window)
{
    if (window && !watch_)
        readSharedTablesAgain();
}

void TDataModule1::settlePending()
{
    // As a move to another member would: the member's details first, then the member.
    for (Table* t : {&tbContents, &tbAccount, &tbMemberMaster, &tbPrintMember}) {
        try {
            t->checkBrowseMode();
        } catch (const std::exception& e) {
            if (reportError)
                reportError(e);
        }
    }
}

void TDataModule1::tbMemberMasterBeforePost(Table& /*dataSet*/)
{
    halvenna::rules::deriveMemberFields(tbMemberMaster);
}

void TDataModule1::tbAccountBeforePost(Table& /*dataSet*/)
{
    halvenna::rules::amountPrintForm(tbAccount);
}

void TDataModule1::tbContentsNewRecord(Table& /*dataSet*/)
{
    halvenna::rules::defaultDates(tbContents, QDate::currentDate());
}
