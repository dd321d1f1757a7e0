// Fields by position: the same values as by name, positions that are no field refused, names
// resolved per table, and the check of code page 932 text as storing would keep it.
#include "common/DataFixture.h"
#include "common/Errors.h"
#include "data/Error.h"

#include <QTest>

#include <functional>

using namespace halvenna;

namespace {

QString shown(const FieldValue& v)
{
    return v.isNull() ? QStringLiteral("<null>") : v.asString();
}

} // namespace

class TestFieldAccess : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void byPositionAsByName_data()
    {
        QTest::addColumn<bool>("staging"); // the staging table takes the same number twice
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("stored");
        QTest::newRow("name") << false << "name" << QStringLiteral("山田花子") << QStringLiteral("山田花子");
        QTest::newRow("cut to the width")
            << false << "zip" << QStringLiteral("東京都渋谷区") << QStringLiteral("東京都渋谷");
        QTest::newRow("logical from text") << false << "print"
                                           << "True"
                                           << "True";
        QTest::newRow("empty logical is null") << false << "print"
                                               << ""
                                               << "<null>";
        QTest::newRow("spelled in capitals") << false << "NOTES"
                                             << "x"
                                             << "x";
        QTest::newRow("integer from text") << true << "id_no"
                                           << "007"
                                           << "7";
        QTest::newRow("empty integer is null") << true << "amount"
                                               << ""
                                               << "<null>";
    }
    void byPositionAsByName()
    {
        QFETCH(bool, staging);
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QString, stored);
        DataFixture f;
        Table& t = staging ? f.dm->tbPrintMember : f.dm->tbMemberMaster;
        const int position = t.fieldIndex(field);
        QVERIFY(position >= 0);
        QCOMPARE(&t.fieldDef(position), &t.fieldDef(field));
        const QByteArray bytes = sjis::fromUnicode(text);
        for (bool byPosition : {false, true}) {
            t.append();
            if (!staging)
                t.setFieldValue(QStringLiteral("id_no"), FieldValue::integer(byPosition ? 2 : 1));
            if (byPosition)
                t.setFieldText(position, bytes);
            else
                t.setFieldText(field, bytes);
            QCOMPARE(shown(t.fieldValue(position)), stored);
            t.post();
        }
        t.close();
        t.open();
        QCOMPARE(t.recordCount(), 2);
        for (t.first(); !t.eof(); t.next()) {
            QCOMPARE(shown(t.fieldValue(position)), stored);
            QCOMPARE(shown(t.fieldValue(field)), stored);
        }

        // Written by position, the row changes and the bound controls hear of the field by its name.
        struct Heard : DataLink
        {
            QStringList fields;
            void recordChanged(const QString& name) override { fields << name; }
        } heard;
        DataSource source;
        source.setDataSet(&t);
        heard.setDataSource(&source);
        t.first();
        t.edit();
        QVERIFY(!t.modified());
        t.setFieldValue(position, t.fieldValue(field));
        QVERIFY(t.modified());
        QCOMPARE(heard.fields, QStringList{t.fieldDef(position).name});
        t.cancel();
    }

    void positionsThatAreNoFieldAreRefused_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<bool>("open");
        QTest::newRow("before the first") << -1 << true;
        QTest::newRow("after the last") << 15 << true;
        QTest::newRow("far out") << 1000000 << true;
        QTest::newRow("closed table") << 0 << false;
    }
    void positionsThatAreNoFieldAreRefused()
    {
        QFETCH(int, position);
        QFETCH(bool, open);
        DataFixture f;
        f.addMember(1, QStringLiteral("m1"));
        Table& t = f.dm->tbMemberMaster;
        Table& p = f.dm->tbPrintMember;
        p.append();
        if (open)
            t.edit();
        else
            t.close();
        const QString refused = QStringLiteral("tbMemberMaster: 項目番号 %1 が見つかりません").arg(position);
        const std::function<void()> operations[] = {
            [&] { (void)t.fieldValue(position); },  [&] { t.setFieldValue(position, FieldValue::text("x")); },
            [&] { t.setFieldText(position, "x"); }, [&] { t.checkText(position, "x"); },
            [&] { (void)t.fieldDef(position); },    [&] { (void)t.locate(position, FieldValue::integer(1)); },
            [&] { p.copyField(t, position, 1); },
        };
        for (const auto& operation : operations) {
            const QString message = errorOf(operation);
            if (!open && message.contains(QStringLiteral("閉じている")))
                continue; // a move on a closed table is refused for that first
            QCOMPARE(message, refused);
        }
        if (open) {
            t.edit(); // the locate above settled the row
            QCOMPARE(errorOf([&] { t.copyField(p, 1, position); }), refused);
            QCOMPARE(t.state(), TableState::Edit);
            QVERIFY(!t.modified());
        }
    }

    // A list of names resolves per table: the same list gives each table its own positions.
    void namesResolvePerTable()
    {
        DataFixture f;
        static const FieldNames names{"item", "value", "ID_NO"};
        Table& contents = f.dm->tbContents;
        Table& staging = f.dm->tbPrintMember;
        for (Table* t : {&contents, &staging, &contents}) {
            const std::vector<int>& positions = t->resolve(names);
            QCOMPARE(positions.size(), size_t(3));
            for (size_t i = 0; i < positions.size(); ++i)
                QCOMPARE(positions[i], t->fieldIndex(names.names().at(qsizetype(i))));
        }
        QVERIFY(contents.resolve(names) != staging.resolve(names));

        static const FieldNames missing{"zip", "nosuch"};
        QCOMPARE(errorOf([&] { (void)f.dm->tbMemberMaster.resolve(missing); }),
                 QStringLiteral("tbMemberMaster: 項目 'nosuch' が見つかりません"));
        contents.close();
        QCOMPARE(errorOf([&] { (void)contents.resolve(names); }),
                 QStringLiteral("tbContents: 項目 'item' が見つかりません"));
        contents.open();
        QCOMPARE(contents.resolve(names)[0], contents.fieldIndex(QStringLiteral("item")));
    }

    void textIsCheckedAsStoringWouldKeepIt_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("accepted");
        // zip holds 10 bytes.
        QTest::newRow("ASCII") << "zip" << QByteArray("150-0001") << true;
        QTest::newRow("kanji") << "name" << sjis::fromUnicode(QStringLiteral("山田太郎")) << true;
        QTest::newRow("half-width katakana") << "name_kana" << QByteArray("\xd4\xcf\xc0\xde") << true;
        QTest::newRow("no character") << "name" << QByteArray("\x80") << false;
        QTest::newRow("0xFF") << "name" << QByteArray("ab\xff") << false;
        QTest::newRow("lone lead byte at the end") << "zip" << QByteArray("12\x82") << false;
        QTest::newRow("unassigned double-byte code") << "zip" << QByteArray("12345678\x85\x40") << false;
        QTest::newRow("no character only beyond the width") << "zip" << QByteArray("1234567890\xff\x80") << true;
        QTest::newRow("unassigned code cut in its middle") << "zip" << QByteArray("123456789\x85\x40") << true;
        QTest::newRow("kanji cut in its middle") << "zip" << QByteArray("123456789\x88\x9f") << true;
        QTest::newRow("bad byte kept by the cut") << "zip"
                                                  << QByteArray("1\x80"
                                                                "34567890ab")
                                                  << false;
        QTest::newRow("a number field is checked when written") << "id_no" << QByteArray("\x80") << true;
    }
    void textIsCheckedAsStoringWouldKeepIt()
    {
        QFETCH(QString, field);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, accepted);
        DataFixture f;
        f.addMember(1, QStringLiteral("m1"), QStringLiteral("100-0001"));
        Table& t = f.dm->tbMemberMaster;
        const int position = t.fieldIndex(field);
        const QString error = errorOf([&] { t.checkText(position, bytes); });
        QCOMPARE(error,
                 accepted ? QStringLiteral("<no error>") : QStringLiteral("項目 '%1' の値として不正です").arg(field));
        // Checking writes nothing and leaves the table as it was.
        QCOMPARE(t.state(), TableState::Browse);
        QCOMPARE(f.str(t, "zip"), QStringLiteral("100-0001"));
        if (!accepted || t.fieldDef(position).kind != FieldKind::Text)
            return;
        // What passed is kept whole: read back, it is the bytes cut to the width, nothing replaced.
        t.edit();
        t.setFieldText(position, bytes);
        t.post();
        t.close();
        t.open();
        const int width = t.fieldDef(position).width;
        QCOMPARE(t.fieldValue(position).asText(), width > 0 ? sjis::cutToWidth(bytes, width) : bytes);
    }
};

QTEST_GUILESS_MAIN(TestFieldAccess)
#include "tst_fieldaccess.moc"
