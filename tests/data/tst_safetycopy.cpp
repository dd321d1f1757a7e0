// Safety copies of the roster's tables: whole or not at all, the ten newest kept, listed newest
// first (anything that is not a whole copy left out), and restored file by file.
#include "common/DataFixture.h"
#include "common/Errors.h"
#include "data/SafetyCopy.h"

#include <QDir>
#include <QFile>
#include <QtTest>

using halvenna::SafetyCopy;
using halvenna::SafetyCopyInfo;

class TestSafetyCopy : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DataFixture> f_;
    QString backup() const { return QDir(f_->dir.path()).filePath(QStringLiteral("backup")); }

private Q_SLOTS:
    void init() { f_ = std::make_unique<DataFixture>(); }
    void cleanup() { f_.reset(); }

    // Twelve copies leave the ten newest, newest first, each with its three tables and its count.
    void keepsTheTenNewest()
    {
        f_->addMember(1, QStringLiteral("一"));
        QList<QString> taken;
        for (int i = 0; i < 12; ++i) {
            if (i == 11)
                f_->addMember(2, QStringLiteral("二"));
            taken << SafetyCopy::take(f_->dir.path(), QStringLiteral("copy %1").arg(i)).folder;
        }
        const QList<SafetyCopyInfo> copies = SafetyCopy::list(f_->dir.path());
        QCOMPARE(copies.size(), SafetyCopy::kKept);
        QCOMPARE(copies.first().reason, QStringLiteral("copy 11"));
        QCOMPARE(copies.first().members, 2);
        QCOMPARE(copies.last().reason, QStringLiteral("copy 2"));
        QCOMPARE(copies.last().members, 1);
        QCOMPARE(QDir(backup()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), SafetyCopy::kKept);
        QVERIFY(!QDir(taken.at(0)).exists());
        for (const QString& table : SafetyCopy::tableFiles())
            QVERIFY(QFile::exists(QDir(copies.first().folder).filePath(table)));
    }

    // A half-written copy, a folder without its description and a copy that lost a table are not
    // offered; a copy whose folder went is an error naming it, the tables untouched.
    void onlyWholeCopiesAreOffered()
    {
        f_->addMember(1, QStringLiteral("一"));
        const SafetyCopyInfo whole = SafetyCopy::take(f_->dir.path(), QStringLiteral("whole"));
        const SafetyCopyInfo broken = SafetyCopy::take(f_->dir.path(), QStringLiteral("broken"));
        QVERIFY(QFile::remove(QDir(broken.folder).filePath(QStringLiteral("Account.db"))));
        QVERIFY(QDir(backup()).mkpath(QStringLiteral(".partial-20260101-000000")));
        QVERIFY(QDir(backup()).mkpath(QStringLiteral("20260101-000001")));
        const QList<SafetyCopyInfo> copies = SafetyCopy::list(f_->dir.path());
        QCOMPARE(copies.size(), 1);
        QCOMPARE(copies.at(0).reason, QStringLiteral("whole"));

        QVERIFY(QDir(whole.folder).removeRecursively());
        f_->members().close();
        const QString message = errorOf([&] { SafetyCopy::restore(f_->dir.path(), whole); });
        QVERIFY2(message.contains(QStringLiteral("MemberMaster.db がありません")), qPrintable(message));
        f_->members().open();
        QCOMPARE(f_->members().recordCount(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSafetyCopy)
#include "tst_safetycopy.moc"
