// The print-field rules and the default dates, as pure steps and as they run on posting.
#include "common/DataFixture.h"
#include "common/StoredRows.h"
#include "printing/jobs/PrintJobs.h"
#include "roster/import/MemberImport.h"
#include "roster/model/RecordRules.h"

#include <QTemporaryDir>
#include <QTest>

#include <utility>

using namespace halvenna;

namespace {
FieldValue val(const char* s)
{
    return s ? FieldValue::text(QByteArray(s)) : FieldValue();
}
} // namespace

class TestRecordRules : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void zipParts_data()
    {
        QTest::addColumn<FieldValue>("zip");
        QTest::addColumn<QByteArray>("zipF");
        QTest::addColumn<QByteArray>("zipR");
        QTest::newRow("123-4567") << val("123-4567") << QByteArray("1  2  3") << QByteArray("4  5  6  7");
        QTest::newRow("123-45678") << val("123-45678") << QByteArray("1  2  3") << QByteArray("4  5  6  7");
        QTest::newRow("1234-5678") << val("1234-5678") << QByteArray("1  2  34") << QByteArray("5  6  7  8");
        QTest::newRow("12-345") << val("12-345") << QByteArray("1  2  ") << QByteArray("3  4  5  ");
        QTest::newRow("no hyphen") << val("1234567") << QByteArray("    ") << QByteArray("1  2  3  4");
        QTest::newRow("123-") << val("123-") << QByteArray("1  2  3") << QByteArray("      ");
        QTest::newRow("null") << val(nullptr) << QByteArray() << QByteArray();
        QTest::newRow("empty") << val("") << QByteArray() << QByteArray();
    }
    void zipParts()
    {
        QFETCH(FieldValue, zip);
        QFETCH(QByteArray, zipF);
        QFETCH(QByteArray, zipR);
        const rules::ZipAndTel r = rules::splitZipAndTel(zip, FieldValue());
        QCOMPARE(r.zipF, zipF);
        QCOMPARE(r.zipR, zipR);
    }

    void telParts_data()
    {
        QTest::addColumn<FieldValue>("tel");
        QTest::addColumn<QByteArray>("telF");
        QTest::addColumn<QByteArray>("telM");
        QTest::addColumn<QByteArray>("telR");
        QTest::newRow("03-1234-5678") << val("03-1234-5678") << QByteArray("03") << QByteArray("1234")
                                      << QByteArray("5678");
        QTest::newRow("0120-12-3456") << val("0120-12-3456") << QByteArray("0120") << QByteArray("12")
                                      << QByteArray("3456");
        QTest::newRow("long last group") << val("03-1234-56789") << QByteArray("03") << QByteArray("1234")
                                         << QByteArray("5678");
        QTest::newRow("one hyphen") << val("03-12345678") << QByteArray("03") << QByteArray() << QByteArray("1234");
        // Without "-": the fixed patterns; a landline's area code cannot be told, so no group is
        // printed rather than a wrong one (and the run lists the sheet).
        QTest::newRow("no hyphen, landline") << val("0312345678") << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("mobile 090") << val("09012345678") << QByteArray("090") << QByteArray("1234")
                                    << QByteArray("5678");
        QTest::newRow("mobile 080") << val("08012345678") << QByteArray("080") << QByteArray("1234")
                                    << QByteArray("5678");
        QTest::newRow("mobile 070") << val("07012345678") << QByteArray("070") << QByteArray("1234")
                                    << QByteArray("5678");
        QTest::newRow("IP 050") << val("05012345678") << QByteArray("050") << QByteArray("1234") << QByteArray("5678");
        QTest::newRow("free dial 0120") << val("0120123456") << QByteArray("0120") << QByteArray("123")
                                        << QByteArray("456");
        QTest::newRow("free dial 0800") << val("08001234567") << QByteArray("0800") << QByteArray("123")
                                        << QByteArray("4567");
        QTest::newRow("navi dial 0570") << val("0570123456") << QByteArray("0570") << QByteArray("123")
                                        << QByteArray("456");
        QTest::newRow("mobile one digit short") << val("0901234567") << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("free dial one digit long") << val("01201234567") << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("mobile with a blank") << val("090 1234 5678") << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("full-width mobile")
            << val("\x82\x4F\x82\x58\x82\x4F") << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("null") << val(nullptr) << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("empty") << val("") << QByteArray() << QByteArray() << QByteArray();
    }
    void telParts()
    {
        QFETCH(FieldValue, tel);
        QFETCH(QByteArray, telF);
        QFETCH(QByteArray, telM);
        QFETCH(QByteArray, telR);
        const rules::ZipAndTel r = rules::splitZipAndTel(FieldValue(), tel);
        QCOMPARE(r.telF, telF);
        QCOMPARE(r.telM, telM);
        QCOMPARE(r.telR, telR);
    }

    // Which numbers the run lists as not cut into their groups.
    void telSplits_data()
    {
        QTest::addColumn<FieldValue>("tel");
        QTest::addColumn<bool>("splits");
        QTest::newRow("hyphens") << val("03-1234-5678") << true;
        QTest::newRow("one hyphen") << val("03-12345678") << true;
        QTest::newRow("mobile") << val("09012345678") << true;
        QTest::newRow("0120") << val("0120123456") << true;
        QTest::newRow("0800") << val("08001234567") << true;
        QTest::newRow("0570") << val("0570123456") << true;
        QTest::newRow("050") << val("05012345678") << true;
        QTest::newRow("landline") << val("0312345678") << false;
        QTest::newRow("mobile one short") << val("0901234567") << false;
        QTest::newRow("blanks") << val("090 1234 5678") << false;
        QTest::newRow("null") << val(nullptr) << true;
        QTest::newRow("empty") << val("") << true;
    }
    void telSplits()
    {
        QFETCH(FieldValue, tel);
        QFETCH(bool, splits);
        QCOMPARE(rules::telSplits(tel), splits);
    }

    void amountPrintForm_data()
    {
        QTest::addColumn<FieldValue>("amount");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("3000") << FieldValue::integer(3000) << QByteArray("3 0 0 0");
        QTest::newRow("12") << FieldValue::integer(12) << QByteArray("1 2");
        QTest::newRow("7") << FieldValue::integer(7) << QByteArray("7");
        QTest::newRow("0") << FieldValue::integer(0) << QByteArray("0");
        QTest::newRow("-50") << FieldValue::integer(-50) << QByteArray("- 5 0");
        QTest::newRow("widest") << FieldValue::integer(-2147483647 - 1) << QByteArray("- 2 1 4 7 4 8 3 6 4 8");
        QTest::newRow("null") << FieldValue() << QByteArray();
    }
    void amountPrintForm()
    {
        QFETCH(FieldValue, amount);
        QFETCH(QByteArray, expected);
        QCOMPARE(rules::amountPrintForm(amount), expected);
    }

    // The rules as the user meets them: on every post of the row, whatever the fields held before.
    void memberPostDerivesAndClearsPrintFields()
    {
        DataFixture f;
        Table& t = f.dm->tbMemberMaster;
        f.addMember(1, QStringLiteral("山田太郎"), QStringLiteral("123-4567"), QStringLiteral("03-1234-5678"));
        QCOMPARE(f.str(t, "zip_f"), QStringLiteral("1  2  3"));
        QCOMPARE(f.str(t, "zip_r"), QStringLiteral("4  5  6  7"));
        QCOMPARE(f.str(t, "tel_f"), QStringLiteral("03"));
        QCOMPARE(f.str(t, "tel_m"), QStringLiteral("1234"));
        QCOMPARE(f.str(t, "tel_r"), QStringLiteral("5678"));

        // Clearing zip and emptying tel empties all five, also after a reopen (they were stored).
        t.edit();
        t.setFieldValue(QStringLiteral("zip"), FieldValue());
        t.setFieldValue(QStringLiteral("tel"), FieldValue::text(""));
        t.post();
        t.close();
        t.open();
        for (const char* field : {"zip_f", "zip_r", "tel_f", "tel_m", "tel_r"}) {
            QVERIFY2(f.str(t, field).isEmpty(), field);
            QVERIFY2(!t.fieldValue(QLatin1String(field)).isNull(), field); // empty text, not null
        }
    }

    // A mobile number typed without "-" is cut by its pattern when the member is posted.
    void memberPostCutsANumberWithoutHyphens()
    {
        DataFixture f;
        Table& t = f.dm->tbMemberMaster;
        f.addMember(1, QStringLiteral("山田太郎"), QStringLiteral("123-4567"), QStringLiteral("09012345678"));
        QCOMPARE(f.str(t, "tel_f"), QStringLiteral("090"));
        QCOMPARE(f.str(t, "tel_m"), QStringLiteral("1234"));
        QCOMPARE(f.str(t, "tel_r"), QStringLiteral("5678"));
    }

    // The byte rules count code page 932 bytes and treat every byte alike but "-": a double-byte
    // character (a full-width digit) can be cut in two. What is then stored is pinned here (and told
    // in docs/reliability.md): a lead byte cut from its second byte is no character and is stored as
    // U+001A (SUB); the second byte stays as the single-byte character it happens to be ("P" for the
    // second half of "１"). Read back, SUB comes back as 0x1A where the rest of the value is ASCII and
    // as 0x7F (the converter's form of U+001A) where it also holds double-byte characters.
    void doubleByteDigitsCutInTwo_data()
    {
        QTest::addColumn<QString>("zip");
        QTest::addColumn<QString>("tel");
        QTest::addColumn<QStringList>("stored");     // zip_f, zip_r, tel_f, tel_m, tel_r as stored (UTF-8)
        QTest::addColumn<QList<QByteArray>>("read"); // the same as read back through the table layer
        const QString sub(QChar(0x1A));
        QTest::newRow("full-width front of the postal code, of the telephone")
            << QStringLiteral("１５０-0001") << QStringLiteral("０３-1234-5678")
            << QStringList{sub + QStringLiteral("  P  ５０"), QStringLiteral("0  0  0  "), QStringLiteral("０３"),
                           QStringLiteral("1234"), QStringLiteral("5678")}
            << QList<QByteArray>{QByteArray("\x7F  P  \x82\x54\x82\x4F"), QByteArray("0  0  0  "),
                                 QByteArray("\x82\x4F\x82\x52"), QByteArray("1234"), QByteArray("5678")};
        QTest::newRow("full-width rear of the postal code, middle of the telephone")
            << QStringLiteral("150-０００１") << QStringLiteral("03-１２３４-5678")
            << QStringList{QStringLiteral("1  5  0"), sub + QStringLiteral("  O  ") + sub + QStringLiteral("  O"),
                           QStringLiteral("03"), QStringLiteral("１２３４"), QStringLiteral("5678")}
            << QList<QByteArray>{QByteArray("1  5  0"), QByteArray("\x1A  O  \x1A  O"), QByteArray("03"),
                                 QByteArray("\x82\x50\x82\x51\x82\x52\x82\x53"), QByteArray("5678")};
        QTest::newRow("full-width last telephone group: two characters fit its four bytes")
            << QStringLiteral("123-4567") << QStringLiteral("03-1234-５６７８")
            << QStringList{QStringLiteral("1  2  3"), QStringLiteral("4  5  6  7"), QStringLiteral("03"),
                           QStringLiteral("1234"), QStringLiteral("５６")}
            << QList<QByteArray>{QByteArray("1  2  3"), QByteArray("4  5  6  7"), QByteArray("03"), QByteArray("1234"),
                                 QByteArray("\x82\x54\x82\x55")};
    }
    void doubleByteDigitsCutInTwo()
    {
        QFETCH(QString, zip);
        QFETCH(QString, tel);
        QFETCH(QStringList, stored);
        QFETCH(QList<QByteArray>, read);
        DataFixture f;
        f.addMember(1, QStringLiteral("山田"), zip, tel);
        const QList<QStringList> rows =
            f.committedRows(f.dm->tbMemberMaster, "SELECT zip_f, zip_r, tel_f, tel_m, tel_r FROM \"MemberMaster\"");
        QCOMPARE(rows, QList<QStringList>{stored});
        Table& t = f.members();
        t.first();
        QList<QByteArray> got;
        for (const char* field : {"zip_f", "zip_r", "tel_f", "tel_m", "tel_r"})
            got << t.fieldValue(QLatin1String(field)).asText();
        QCOMPARE(got, read);
    }

    // The three roads that store a member derive its print fields by the one rule and its one list:
    // a post, an import line (on a server: stored in pages, no post), and select-all (a member stored
    // without the rule gets them; on a server: stored in pages). Every derived field agrees between
    // them, and with the rule asked directly (where the value reads back as it was stored: a
    // double-byte character cut in two does not, see doubleByteDigitsCutInTwo).
    void everyRoadDerivesTheSameFields_data()
    {
        QTest::addColumn<QString>("zip");
        QTest::addColumn<QString>("tel");
        QTest::addColumn<bool>("readsBackAsDerived");
        QTest::newRow("hyphens") << QStringLiteral("123-4567") << QStringLiteral("03-1234-5678") << true;
        QTest::newRow("mobile without hyphens") << QStringLiteral("150-0001") << QStringLiteral("09012345678") << true;
        QTest::newRow("landline without hyphens") << QStringLiteral("1234567") << QStringLiteral("0312345678") << true;
        QTest::newRow("free dial, long postal code")
            << QStringLiteral("1234-5678") << QStringLiteral("0120-12-3456") << true;
        QTest::newRow("full-width digits")
            << QStringLiteral("１５０-0001") << QStringLiteral("０３-1234-5678") << false;
        QTest::newRow("none") << QString() << QString() << true;
    }
    void everyRoadDerivesTheSameFields()
    {
        QFETCH(QString, zip);
        QFETCH(QString, tel);
        QFETCH(bool, readsBackAsDerived);
        DataFixture f;
        Table& t = f.members();
        // Road 1: posted.
        f.addMember(1, QStringLiteral("山田"), zip, tel);
        // Road 2: imported.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString csv = dir.filePath(QStringLiteral("members.csv"));
        {
            QFile file(csv);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(sjis::fromUnicode(QStringLiteral("2,山田,,%1,,,%2,\r\n").arg(zip, tel)));
        }
        QCOMPARE(MemberImport(t).run(csv), 1);
        // Road 3: stored without the rule, then derived by select-all.
        const auto rule = std::exchange(t.beforePost, nullptr);
        t.append();
        t.setFieldValue(QStringLiteral("id_no"), FieldValue::integer(3));
        t.setFieldValue(QStringLiteral("zip"), DataFixture::text(zip));
        t.setFieldValue(QStringLiteral("tel"), DataFixture::text(tel));
        t.post();
        t.beforePost = rule;
        for (const QString& field : rules::memberDerivedFields().names())
            QVERIFY2(t.fieldValue(field).isNull(), qPrintable(field)); // nothing derived yet
        setAllPrintMarks(t, true);

        const QStringList& derived = rules::memberDerivedFields().names();
        QHash<int, QList<QByteArray>> got;
        for (const int id : {1, 2, 3}) {
            QVERIFY(t.locate(QStringLiteral("id_no"), FieldValue::integer(id)));
            for (const QString& field : derived) {
                QVERIFY2(!t.fieldValue(field).isNull(), qPrintable(QStringLiteral("member %1: %2").arg(id).arg(field)));
                got[id] << t.fieldValue(field).asText();
            }
        }
        QCOMPARE(got[2], got[1]);
        QCOMPARE(got[3], got[1]);

        std::vector<FieldValue> values;
        rules::deriveMemberFields(std::vector<FieldValue>{DataFixture::text(zip), DataFixture::text(tel)}, values);
        QCOMPARE(values.size(), size_t(derived.size()));
        QList<QByteArray> expected;
        for (const FieldValue& v : values)
            expected << v.asText();
        if (readsBackAsDerived)
            QCOMPARE(got[1], expected);
        // Not three empty answers agreeing: a member with a postal code has its groups.
        if (!zip.isEmpty())
            QVERIFY(!got[1].front().isEmpty());
    }

    // The tests' set-up of many members (storeMembersInBulk) stores the rows posting them stores,
    // print fields included, and leaves the table standing on the last of them.
    void bulkSetUpStoresWhatPostingStores()
    {
        const QList<MemberRow> members{
            {1, QStringLiteral("山田"), QStringLiteral("150-0001"), QStringLiteral("03-1234-5678")},
            {2, QStringLiteral("鈴木"), QStringLiteral("１５０-0001"), QStringLiteral("０３-1234-5678")},
            {3, QStringLiteral("佐藤"), QStringLiteral("150-０００１"), QStringLiteral("03-1234-５６７８")},
            {4, QStringLiteral("田中"), QStringLiteral(""), QStringLiteral("09012345678")},
            {5, QStringLiteral("会員")}};
        DataFixture f;
        for (const MemberRow& m : members)
            f.addMember(m.id, m.name, m.zip, m.tel);
        QList<MemberRow> again;
        for (MemberRow m : members) {
            m.id += 100;
            again << m;
        }
        storeMembersInBulk(f.members(), again);
        QCOMPARE(f.members().recordCount(), 10);
        QCOMPARE(f.members().fieldValue(QStringLiteral("id_no")).asInteger(), 105);
        const QByteArray select = "SELECT id_no % 100, name, name_kana, zip, address1, address2, tel, fax, notes, "
                                  "print, zip_f, zip_r, tel_f, tel_m, tel_r FROM \"MemberMaster\" WHERE ";
        const QList<QStringList> posted =
            f.committedRows(f.members(), (select + "id_no < 100 ORDER BY id_no").constData());
        QCOMPARE(posted.size(), members.size());
        QCOMPARE(f.committedRows(f.members(), (select + "id_no > 100 ORDER BY id_no").constData()), posted);
    }

    void accountPostDerivesAmountPrintForm()
    {
        DataFixture f;
        f.addMember(1, QStringLiteral("山田"));
        Table& a = f.dm->tbAccount;
        a.edit(); // no row yet: starts one for the member
        QCOMPARE(a.state(), TableState::Insert);
        QCOMPARE(a.fieldValue(QStringLiteral("id_no")).asInteger(), 1);
        a.setFieldValue(QStringLiteral("amount"), FieldValue::integer(3000));
        a.post();
        QCOMPARE(f.str(a, "amount_prn"), QStringLiteral("3 0 0 0"));
        a.edit();
        a.setFieldValue(QStringLiteral("amount"), FieldValue());
        a.post();
        QCOMPARE(f.str(a, "amount_prn"), QString());
    }

    void defaultDates_data()
    {
        QTest::addColumn<QDate>("today");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("year end") << QDate(2024, 12, 31) << QStringList{"2024", "12", "31", "2025", "1", "1"};
        QTest::newRow("leap") << QDate(2024, 2, 28) << QStringList{"2024", "2", "28", "2024", "2", "29"};
        QTest::newRow("no leap") << QDate(2023, 2, 28) << QStringList{"2023", "2", "28", "2023", "3", "1"};
        QTest::newRow("month end") << QDate(2024, 7, 31) << QStringList{"2024", "7", "31", "2024", "8", "1"};
    }
    void defaultDates()
    {
        QFETCH(QDate, today);
        QFETCH(QStringList, expected);
        DataFixture f;
        f.addMember(1, QStringLiteral("山田"));
        Table& c = f.dm->tbContents;
        c.newRecord = [today](Table& t) { rules::defaultDates(t, today); };
        c.append();
        QStringList got;
        for (const char* field :
             {"receipt_year", "receipt_month", "receipt_day", "delivery_year", "delivery_month", "delivery_day"})
            got << f.str(c, field);
        QCOMPARE(got, expected);
        QVERIFY(!c.modified()); // defaults are no change of the user's
    }

    void newContentsRowGetsTodayThroughTheDataModule()
    {
        DataFixture f;
        f.addMember(4, QStringLiteral("山田"));
        Table& c = f.dm->tbContents;
        const QDate today = QDate::currentDate();
        c.edit();
        QCOMPARE(c.fieldValue(QStringLiteral("id_no")).asInteger(), 4);
        QCOMPARE(f.str(c, "receipt_day"), QString::number(today.day()));
        QCOMPARE(f.str(c, "delivery_day"), QString::number(today.addDays(1).day()));
    }
};

QTEST_GUILESS_MAIN(TestRecordRules)
#include "tst_recordrules.moc"
