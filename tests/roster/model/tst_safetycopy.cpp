// Safety copies of the roster's tables: whole or not at all, the ten newest kept, listed newest
// first (anything that is not a whole copy left out), and restored file by file.
#include "common/DataFixture.h"
#include "common/Errors.h"
#include "common/FaultTools.h"
#include "roster/model/SafetyCopy.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

using halvenna::SafetyCopy;
using halvenna::SafetyCopyInfo;

class TestSafetyCopy : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DataFixture> f_;
    QString backup() const { return QDir(f_->dir.path()).filePath(QStringLiteral("backup")); }
    QStringList reasons() const
    {
        QStringList out;
        for (const SafetyCopyInfo& c : SafetyCopy::list(f_->dir.path()))
            out << c.reason;
        return out;
    }

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

    // Copies of an unchanged roster (imports that stored nothing after a clearing) never push out
    // the newest copy of another roster; once the roster changes again the usual ten are kept.
    void copiesOfAnUnchangedRosterKeepTheLastOtherOne()
    {
        f_->addMembers(300);
        SafetyCopy::take(f_->dir.path(), QStringLiteral("全名簿データ消去"));
        f_->members().close();
        f_->members().emptyTable();
        f_->members().open();
        for (int i = 0; i < 12; ++i)
            SafetyCopy::take(f_->dir.path(), QStringLiteral("CSV 読込 %1").arg(i));
        QList<SafetyCopyInfo> copies = SafetyCopy::list(f_->dir.path());
        QCOMPARE(copies.size(), SafetyCopy::kKept + 1);
        QCOMPARE(copies.first().reason, QStringLiteral("CSV 読込 11"));
        QCOMPARE(copies.last().reason, QStringLiteral("全名簿データ消去"));
        QCOMPARE(copies.last().members, 300);
        QCOMPARE(copies.at(SafetyCopy::kKept - 1).reason, QStringLiteral("CSV 読込 2"));

        // The same count is not the same roster: a member renamed makes the cleared copy's
        // neighbours different again, and the ten newest are all that is kept.
        f_->addMember(1, QStringLiteral("一"));
        SafetyCopy::take(f_->dir.path(), QStringLiteral("A"));
        f_->members().first();
        f_->members().edit();
        f_->members().setFieldValue(QStringLiteral("name"), halvenna::FieldValue::fromString(QStringLiteral("二")));
        f_->members().post();
        const SafetyCopyInfo renamed = SafetyCopy::take(f_->dir.path(), QStringLiteral("B"));
        copies = SafetyCopy::list(f_->dir.path());
        QCOMPARE(copies.first().members, 1);
        QCOMPARE(copies.at(1).members, 1);
        QVERIFY(copies.first().checksum != copies.at(1).checksum);
        QCOMPARE(copies.size(), SafetyCopy::kKept);
        QVERIFY(!reasons().contains(QStringLiteral("全名簿データ消去")));
        QCOMPARE(renamed.folder, copies.first().folder);
    }

    // A damaged copy is found, named and refused before anything is copied or replaced.
    void aDamagedCopyIsRefusedByName_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("damage");
        QTest::newRow("members overwritten in the middle") << QStringLiteral("MemberMaster.db") << "middle";
        QTest::newRow("members cut short") << QStringLiteral("MemberMaster.db") << "cut";
        QTest::newRow("amounts not a table file") << QStringLiteral("Account.db") << "garbage";
    }

    void aDamagedCopyIsRefusedByName()
    {
        QFETCH(QString, table);
        QFETCH(QString, damage);
        f_->addMembers(2000);
        const SafetyCopyInfo copy = SafetyCopy::take(f_->dir.path(), QStringLiteral("damaged"));
        QCOMPARE(SafetyCopy::check(copy, true), QString());
        f_->addMember(5000, QStringLiteral("後から"));
        {
            QFile file(QDir(copy.folder).filePath(table));
            QVERIFY(file.open(QIODevice::ReadWrite));
            const qint64 size = file.size();
            QVERIFY(size > 64 * 1024 || damage == "garbage");
            if (damage == "middle") {
                QVERIFY(file.seek(size / 2 - 4096));
                QVERIFY(file.write(QByteArray(8192, '\x5a')) == 8192);
            } else if (damage == "cut") {
                QVERIFY(file.resize(size / 2 + 100));
            } else {
                QVERIFY(file.resize(0));
                QVERIFY(file.write(QByteArray(5000, 'x')) == 5000);
            }
        }
        const QString expected = QStringLiteral("コピー %1 の %2 が壊れています").arg(copy.folder, table);
        QCOMPARE(SafetyCopy::check(copy, true), expected);
        if (damage != "cut") // a file cut short passes the quick look until a page it lost is read
            QCOMPARE(SafetyCopy::check(copy, false), expected);

        f_->members().close();
        QCOMPARE(errorOf([&] { SafetyCopy::restore(f_->dir.path(), copy); }), expected);
        QCOMPARE(reasons(), QStringList{QStringLiteral("damaged")});
        f_->members().open();
        QCOMPARE(f_->members().recordCount(), 2001);
        QCOMPARE(faults::integrityCheck(QDir(f_->dir.path()).filePath(QStringLiteral("MemberMaster.db"))),
                 QStringLiteral("ok"));
    }

    // A restore copies the roster as it is first, so that restoring the wrong copy is undone by
    // restoring that one; the copy chosen stays even when it is the oldest of a full list.
    void aRestoreCanBeUndone()
    {
        f_->addMember(1, QStringLiteral("一"));
        const SafetyCopyInfo oldest = SafetyCopy::take(f_->dir.path(), QStringLiteral("oldest"));
        f_->addMember(2, QStringLiteral("二"));
        for (int i = 1; i < SafetyCopy::kKept; ++i)
            SafetyCopy::take(f_->dir.path(), QStringLiteral("copy %1").arg(i));
        f_->addMember(3, QStringLiteral("三"));
        QCOMPARE(SafetyCopy::list(f_->dir.path()).last().folder, oldest.folder);

        f_->members().close();
        SafetyCopy::restore(f_->dir.path(), oldest);
        f_->members().open();
        QCOMPARE(f_->members().recordCount(), 1);
        const QList<SafetyCopyInfo> copies = SafetyCopy::list(f_->dir.path());
        QCOMPARE(copies.first().reason, QStringLiteral("バックアップから復元"));
        QCOMPARE(copies.first().members, 3);
        QVERIFY(QDir(oldest.folder).exists());

        f_->members().close();
        SafetyCopy::restore(f_->dir.path(), copies.first());
        f_->members().open();
        QCOMPARE(f_->members().recordCount(), 3);
    }

    // A copy on a full disk says so in Japanese, and leaves nothing behind.
    void aFullDiskIsSaidInJapanese()
    {
        f_->addMembers(500);
        QString message;
        {
            faults::FullDisk disk("backup", 4096);
            QVERIFY(disk.registered());
            message = errorOf([&] { SafetyCopy::take(f_->dir.path(), QStringLiteral("full")); });
        }
        static const QRegularExpression expected(
            QStringLiteral("^安全のためのコピーを %1/\\d{8}-\\d{6}-\\d{3} に作れません \\(ディスクがいっぱいです\\)$")
                .arg(QRegularExpression::escape(backup())));
        QVERIFY2(expected.match(message).hasMatch(), qPrintable(message));
        QCOMPARE(QDir(backup()).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestSafetyCopy)
#include "tst_safetycopy.moc"
