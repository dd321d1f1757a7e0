#include "data/DataModule.h"

#include "data/RecordRules.h"
#include "data/sql/PostgresConnection.h"

#include <QAbstractEventDispatcher>
#include <QDate>
#include <QDir>
#include <QFileInfo>

TDataModule1* DataModule1 = nullptr;

using halvenna::Table;

TDataModule1::TDataModule1(const QString& databaseDir, QObject* parent) : QObject(parent)
{
    DataModule1 = this;
    setObjectName(QStringLiteral("DataModule1"));
    for (Table* t : {&tbMemberMaster, &tbContents, &tbAccount, &tbPrintMember})
        t->setDatabaseDir(databaseDir);

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
        });

    tbMemberMaster.beforePost = [this](Table& t) { tbMemberMasterBeforePost(t); };
    tbAccount.beforePost = [this](Table& t) { tbAccountBeforePost(t); };
    tbContents.newRecord = [this](Table& t) { tbContentsNewRecord(t); };
}

TDataModule1::~TDataModule1()
{
    if (DataModule1 == this)
        DataModule1 = nullptr;
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
    const QString where = halvenna::sql::PostgresConnection::describe(server());
    return QStringLiteral("テーブル: PostgreSQL サーバー %1").arg(where.isEmpty() ? server() : where);
}

void TDataModule1::SetTablesActive(bool value)
{
    for (Table* t : {&tbMemberMaster, &tbContents, &tbAccount, &tbPrintMember})
        t->setActive(value);
}

void TDataModule1::DataModuleCreate()
{
    SetTablesActive(true);
}

void TDataModule1::DataModuleDestroy()
{
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
    if (splitZipAndTel)
        splitZipAndTel();
    else
        halvenna::rules::splitZipAndTel(tbMemberMaster);
}

void TDataModule1::tbAccountBeforePost(Table& /*dataSet*/)
{
    halvenna::rules::amountPrintForm(tbAccount);
}

void TDataModule1::tbContentsNewRecord(Table& /*dataSet*/)
{
    halvenna::rules::defaultDates(tbContents, QDate::currentDate());
}
