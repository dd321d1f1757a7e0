#pragma once

#include "data/DataSource.h"
#include "data/Table.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class QSocketNotifier;
class QWindow;

namespace halvenna::sql {
class PostgresConnection;
}

// The data module: the four tables, the three data sources the windows bind to, and the record
// rules hung on the tables' events. The shell makes one (its handle DataModule1) for the whole run
// and hands it to each window.
class TDataModule1 : public QObject
{
    Q_OBJECT
public:
    // databaseDir: the folder the alias Dostrel stands for (the program's folder + "Dostrel").
    explicit TDataModule1(const QString& databaseDir, QObject* parent = nullptr);
    ~TDataModule1() override;

    halvenna::Table tbMemberMaster{QStringLiteral("tbMemberMaster"), QStringLiteral("MemberMaster.db"),
                                   QStringLiteral("MemberMaster")};
    halvenna::Table tbContents{QStringLiteral("tbContents"), QStringLiteral("Contents.db"), QStringLiteral("Contents")};
    halvenna::Table tbAccount{QStringLiteral("tbAccount"), QStringLiteral("Account.db"), QStringLiteral("Account")};
    halvenna::DataSource tbMemberMasterDataSource{QStringLiteral("tbMemberMasterDataSource")};
    halvenna::DataSource tbContentsDataSource{QStringLiteral("tbContentsDataSource")};
    halvenna::DataSource tbAccountDataSource{QStringLiteral("tbAccountDataSource")};
    halvenna::Table tbPrintMember{QStringLiteral("tbPrintMember"), QStringLiteral("PrintMember.db"),
                                  QStringLiteral("PrintMember")};

    // The PostgreSQL server (a libpq connection string or URI) that keeps the shared tables, the
    // members, their contents and amounts; empty: the folder keeps them. The staging table stays in
    // the folder either way: each PC stages its own print jobs. Set before the tables open.
    void setServer(const QString& conninfo);
    const QString& server() const { return tbMemberMaster.server(); }
    // Which engine keeps the shared tables, and where, in one line for the user.
    QString tablesPlace() const;

    // Opens (true) or closes (false) the four tables, always in the order
    // MemberMaster, Contents, Account, PrintMember. The first failure stops it and is thrown.
    void SetTablesActive(bool value);
    // Creation and destruction handlers.
    void DataModuleCreate();
    void DataModuleDestroy();

    // Record rules on the tables' events.
    void tbMemberMasterBeforePost(halvenna::Table& dataSet);
    void tbAccountBeforePost(halvenna::Table& dataSet);
    void tbContentsNewRecord(halvenna::Table& dataSet);

    // Where errors met during destruction go (the application's error box); they never stop the exit.
    std::function<void(const std::exception&)> reportError;

    // Finishes what is pending at exit, as a move to another row would: each table still in edit or
    // insert state is posted if changed and dropped if not, details first. Errors go to reportError.
    void settlePending();

    // --- other PCs' changes (a server only)
    // The server tells of every change of a shared table (LISTEN/NOTIFY); a table another PC
    // changed is read again (Table::readAgain), so that open windows show what the server holds.
    // Started by DataModuleCreate. Whether the notifications are being received.
    bool watchingServer() const { return watch_ != nullptr; }
    // Reads the notifications that came and reads again each table another PC changed; what the
    // socket's readiness runs, and a test that cannot wait for it.
    void takeServerChanges();
    // Reads every shared table again: on a window's activation when notifications are not being
    // received (and after they start again, for what came meanwhile). Errors: reportError, once
    // until a reading succeeds again.
    void readSharedTablesAgain();

private:
    void watchServer();
    void stopWatching();
    void windowActivated(QWindow* window);
    void readAgain(halvenna::Table& t);
    bool mayReadAgain(const halvenna::Table& t) const;

    std::unique_ptr<halvenna::sql::PostgresConnection> watch_;
    QSocketNotifier* watchSocket_ = nullptr;
    bool readFailed_ = false;
};
