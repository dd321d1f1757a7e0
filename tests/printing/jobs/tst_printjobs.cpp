// The print jobs' staging and the report run's parameters, without a window.
#include "common/DataFixture.h"
#include "common/StoredRows.h"
#include "data/Error.h"
#include "printing/jobs/PrintJobs.h"
#include "report/ReportProject.h"

#include <QTest>

using namespace halvenna;

namespace {

FieldValue txt(const char* s)
{
    return s ? FieldValue::text(QByteArray(s)) : FieldValue();
}

// A member with its print mark and, when value is given, a contents row.
void addMember(DataFixture& f, int id, std::optional<bool> mark, std::optional<QByteArray> value = {},
               const char* item = "item")
{
    f.addMember(id, QStringLiteral("m%1").arg(id), QStringLiteral("123-4567"), QStringLiteral("03-1234-5678"));
    Table& m = f.dm->tbMemberMaster;
    if (mark) {
        m.edit();
        m.setFieldValue(QStringLiteral("print"), FieldValue::logical(*mark));
        m.post();
    }
    if (value) {
        Table& c = f.dm->tbContents;
        c.edit();
        c.setFieldValue(QStringLiteral("item"), FieldValue::text(item));
        c.setFieldValue(QStringLiteral("value"), FieldValue::text(*value));
        c.post();
    }
}

// The staging rows as "id:field1|field2..." for the fields asked.
QStringList staged(DataFixture& f, const QStringList& fields)
{
    QStringList rows;
    Table& p = f.dm->tbPrintMember;
    for (p.first(); !p.eof(); p.next()) {
        QStringList values;
        for (const QString& field : fields) {
            const FieldValue v = p.fieldValue(field);
            values << (v.isNull() ? QStringLiteral("<null>") : v.asString());
        }
        rows << values.join(u'|');
    }
    return rows;
}

PanelDates panel2024()
{
    return {true, "2024", "12", "31", "2025", "1", "1"};
}

// An output that only records what it was asked to print.
class RecordingOutput : public ReportOutput
{
public:
    int runs = 0;
    void output(const ReportDocument&) override { ++runs; }
};

} // namespace

class TestPrintJobs : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Select-all and clear need no window: every member marked (or unmarked) and posted through the
    // member rule, stored in one transaction, the first member current afterwards.
    void setAllPrintMarksWithoutAWindow_data()
    {
        QTest::addColumn<bool>("marked");
        QTest::newRow("すべて") << true;
        QTest::newRow("クリア") << false;
    }
    void setAllPrintMarksWithoutAWindow()
    {
        QFETCH(bool, marked);
        DataFixture f;
        for (int id : {3, 5, 8})
            f.addMember(id, QStringLiteral("会員%1").arg(id), QStringLiteral("150-0001"),
                        QStringLiteral("03-1234-5678"));
        Table& m = f.dm->tbMemberMaster;
        m.last();
        m.edit();
        m.setFieldValue(QStringLiteral("print"), FieldValue::logical(!marked));
        m.post();
        setAllPrintMarks(m, marked);
        QCOMPARE(m.fieldValue(QStringLiteral("id_no")).asInteger(), 3);
        QCOMPARE(m.state(), TableState::Browse);
        QVERIFY(!m.controlsDisabled());
        QCOMPARE(storedRows(m.filePath(), "SELECT id_no, print, zip_f FROM MemberMaster ORDER BY id_no"),
                 (QList<QStringList>{{"3", marked ? "1" : "0", "1  5  0"},
                                     {"5", marked ? "1" : "0", "1  5  0"},
                                     {"8", marked ? "1" : "0", "1  5  0"}}));
    }

    void senderZipParts_data()
    {
        QTest::addColumn<QByteArray>("zip");
        QTest::addColumn<QByteArray>("front");
        QTest::addColumn<QByteArray>("rear");
        QTest::newRow("123-4567") << QByteArray("123-4567") << QByteArray("1  2  3") << QByteArray("4  5  6  7");
        QTest::newRow("no hyphen") << QByteArray("1234567") << QByteArray("1  2  3") << QByteArray("5  6  7  ");
        QTest::newRow("123-45") << QByteArray("123-45") << QByteArray("1  2  3") << QByteArray("4  5    ");
        QTest::newRow("empty") << QByteArray() << QByteArray("    ") << QByteArray("      ");
    }
    void senderZipParts()
    {
        QFETCH(QByteArray, zip);
        QFETCH(QByteArray, front);
        QFETCH(QByteArray, rear);
        const auto parts = halvenna::senderZipParts(zip);
        QCOMPARE(parts.first, front);
        QCOMPARE(parts.second, rear);
    }

    void senderTelGroups_data()
    {
        QTest::addColumn<QByteArray>("tel");
        QTest::addColumn<QByteArrayList>("groups");
        QTest::newRow("three groups") << QByteArray("090-1234-5678") << QByteArrayList{"090", "1234", "5678"};
        QTest::newRow("one hyphen") << QByteArray("03-12345678") << QByteArrayList{"03", "", "12345678"};
        QTest::newRow("no hyphen") << QByteArray("0312345678") << QByteArrayList{"", "", "0312345678"};
        QTest::newRow("third hyphen stays") << QByteArray("03-12-34-56") << QByteArrayList{"03", "12", "34-56"};
        QTest::newRow("leading hyphen") << QByteArray("-12-34") << QByteArrayList{"", "12", "34"};
    }
    void senderTelGroups()
    {
        QFETCH(QByteArray, tel);
        QFETCH(QByteArrayList, groups);
        const auto got = halvenna::senderTelGroups(tel);
        QCOMPARE((QByteArrayList{got[0], got[1], got[2]}), groups);
    }

    void spacedAccountNo_data()
    {
        QTest::addColumn<QByteArray>("part");
        QTest::addColumn<QByteArray>("spaced");
        QTest::newRow("12345") << QByteArray("12345") << QByteArray("1 2 3 4 5");
        QTest::newRow("123456") << QByteArray("123456") << QByteArray("1 2 3 4 56");
        QTest::newRow("1234") << QByteArray("1234") << QByteArray("1 2 3 4 ");
        QTest::newRow("1234567") << QByteArray("1234567") << QByteArray("1 2 3 4 567");
        QTest::newRow("empty") << QByteArray() << QByteArray("    ");
    }
    void spacedAccountNo()
    {
        QFETCH(QByteArray, part);
        QFETCH(QByteArray, spaced);
        QCOMPARE(halvenna::spacedAccountNo(part), spaced);
    }

    void copyCount_data()
    {
        QTest::addColumn<FieldValue>("value");
        QTest::addColumn<qint64>("count");
        QTest::newRow("null") << txt(nullptr) << qint64(1);
        QTest::newRow("2") << txt("2") << qint64(2);
        QTest::newRow("25") << txt("25") << qint64(25);
        QTest::newRow("0") << txt("0") << qint64(0);
        QTest::newRow("-1") << txt("-1") << qint64(-1);
        QTest::newRow("leading blank") << txt(" 3") << qint64(3);
        QTest::newRow("trailing blank") << txt("3 ") << qint64(1);
        QTest::newRow("two spaces") << txt("  ") << qint64(1);
        QTest::newRow("empty") << txt("") << qint64(1);
        QTest::newRow("letters") << txt("abc") << qint64(1);
        QTest::newRow("dollar hex") << txt("$A") << qint64(10);
        QTest::newRow("0x hex") << txt("0x10") << qint64(16);
        QTest::newRow("plus sign") << txt("+4") << qint64(4);
        QTest::newRow("two signs") << txt("--4") << qint64(1);
        QTest::newRow("beyond 32 bits") << txt("4294967296") << qint64(1);
        QTest::newRow("full-width digit") << FieldValue::fromString(QStringLiteral("３")) << qint64(1);
    }
    void copyCount()
    {
        QFETCH(FieldValue, value);
        QFETCH(qint64, count);
        QCOMPARE(halvenna::copyCount(value), count);
    }

    // Four marked members, value 2 / null / two spaces on the second to fourth; the first member is
    // printed too (every marked member is).
    void bulkWaybillsStageOneRowPerSheetInMemberOrder()
    {
        DataFixture f;
        addMember(f, 1, true, QByteArray("1"));
        addMember(f, 2, true, QByteArray("2"));
        addMember(f, 3, true);
        f.dm->tbContents.edit();
        f.dm->tbContents.setFieldValue(QStringLiteral("item"), txt("x"));
        f.dm->tbContents.post(); // a contents row whose value is null
        addMember(f, 4, true, QByteArray("  "));
        addMember(f, 5, std::nullopt, QByteArray("3")); // print null: not marked
        addMember(f, 6, false, QByteArray("3"));
        addMember(f, 7, true, QByteArray("0"));
        addMember(f, 8, true, QByteArray("-1"));
        addMember(f, 9, true); // no contents row
        f.dm->tbMemberMaster.locate(QStringLiteral("id_no"), FieldValue::integer(4));

        PrintJobs jobs(*f.dm);
        jobs.stageBulkWaybills(PanelDates{});
        QCOMPARE(staged(f, {"id_no", "value", "zip_f", "amount"}),
                 (QStringList{"1|1|1  2  3|<null>", "2|2|1  2  3|<null>", "2|2|1  2  3|<null>",
                              "3|<null>|1  2  3|<null>", "4|  |1  2  3|<null>", "9|<null>|1  2  3|<null>"}));
        QCOMPARE(f.dm->tbMemberMaster.fieldValue(QStringLiteral("id_no")).asInteger(), 1); // back on the first
        // The member without contents has only the member fields.
        f.dm->tbPrintMember.last();
        QVERIFY(f.dm->tbPrintMember.fieldValue(QStringLiteral("receipt_year")).isNull());
    }

    void thePanelReplacesTheDatesOfWaybillsOnly()
    {
        DataFixture f;
        addMember(f, 1, true, QByteArray("1"));
        addMember(f, 2, true); // no contents
        const QString today = QString::number(QDate::currentDate().year());
        const QStringList dates{"receipt_year",  "receipt_month",  "receipt_day",
                                "delivery_year", "delivery_month", "delivery_day"};
        PrintJobs jobs(*f.dm);
        jobs.stageBulkWaybills(panel2024());
        QCOMPARE(staged(f, dates), (QStringList{"2024|12|31|2025|1|1", "2024|12|31|2025|1|1"}));

        PanelDates twoSpaces = panel2024();
        twoSpaces.receiptMonth = "  ";
        twoSpaces.deliveryDay = "abc";
        f.dm->tbMemberMaster.first();
        jobs.stageOneWaybill(twoSpaces);
        QCOMPARE(staged(f, dates), QStringList{"2024|  |31|2025|1|abc"});

        // Payment slips carry the member's own dates whatever the panel says.
        jobs.stageOnePaymentSlip();
        QCOMPARE(staged(f, {"receipt_year"}), QStringList{today});
        jobs.stageBulkPaymentSlips();
        QCOMPARE(staged(f, {"id_no", "receipt_year", "item"}),
                 (QStringList{QStringLiteral("1|%1|item").arg(today), "2|<null>|<null>"}));
    }

    void singleJobsStageOneRowAndKeepTheCurrentMember()
    {
        DataFixture f;
        addMember(f, 1, false, QByteArray("5"));
        addMember(f, 2, false, QByteArray("5"));
        Table& a = f.dm->tbAccount;
        a.edit();
        a.setFieldValue(QStringLiteral("amount"), FieldValue::integer(3000));
        // The amount is still pending: the prologue posts it (and its rule derives amount_prn).
        PrintJobs jobs(*f.dm);
        jobs.stageOnePaymentSlip();
        QCOMPARE(staged(f, {"id_no", "value", "amount", "amount_prn"}), QStringList{"2|5|3000|3 0 0 0"});
        QCOMPARE(f.dm->tbMemberMaster.fieldValue(QStringLiteral("id_no")).asInteger(), 2);
        // Two single waybills in a row print one sheet each, not one and then two.
        jobs.stageOneWaybill(PanelDates{});
        jobs.stageOneWaybill(PanelDates{});
        QCOMPARE(staged(f, {"id_no", "value", "amount"}), QStringList{"2|5|<null>"});
    }

    void emptyRosterAndNothingMarked()
    {
        DataFixture f;
        PrintJobs jobs(*f.dm);
        jobs.stageBulkWaybills(PanelDates{});
        QVERIFY(staged(f, {"id_no"}).isEmpty());
        jobs.stageOneWaybill(PanelDates{});
        QCOMPARE(staged(f, {"id_no", "name", "item"}), QStringList{"<null>|<null>|<null>"});
        addMember(f, 1, false, QByteArray("1"));
        jobs.stageBulkPaymentSlips();
        QVERIFY(staged(f, {"id_no"}).isEmpty());
    }

    void aFailedStagingRowKeepsTheRowsBeforeAndStopsThere()
    {
        DataFixture f;
        for (int id = 1; id <= 3; ++id)
            addMember(f, id, true, QByteArray("1"));
        // The staging table refuses the second member's row.
        f.dm->tbPrintMember.beforePost = [](Table& p) {
            if (p.fieldValue(QStringLiteral("id_no")).asInteger() == 2)
                throw DatabaseError(QStringLiteral("tbPrintMember: refused"));
        };
        PrintJobs jobs(*f.dm);
        QVERIFY_THROWS_EXCEPTION(DatabaseError, jobs.stageBulkWaybills(PanelDates{}));
        f.dm->tbPrintMember.cancel();
        QCOMPARE(staged(f, {"id_no"}), QStringList{"1"});
        QCOMPARE(f.dm->tbMemberMaster.fieldValue(QStringLiteral("id_no")).asInteger(), 2); // where it stopped
    }

    void parametersSurviveRunsAndAreSetAfreshEachTime()
    {
        QTemporaryDir dir;
        const QString appDir = dir.path() + u'/';
        SenderSettingsData s;
        s.SenderName = halvenna::sjis::fromUnicode(QStringLiteral("佐藤商店"));
        s.SenderZip = "123-4567";
        s.SenderTel = "03-1234-5678";
        s.AccountNo1 = "12345";
        s.AccountNo2 = "6";
        s.AccountNo3 = "123456";
        RecordingOutput output;
        ReportProject project(&output);
        prepareAccountReport(project, s, appDir);
        QCOMPARE(project.ProjectFile, appDir + QStringLiteral("Account.Rav"));
        s.SenderZip = "987-6543";
        prepareInvoiceReport(project, s, appDir);
        QCOMPARE(project.ProjectFile, appDir + QStringLiteral("Invoice.Rav"));
        QStringList names;
        for (const auto& p : project.reportParams())
            names << p.first;
        QCOMPARE(names, (QStringList{"AccountNo1", "AccountNo2", "AccountNo3", "SenderName", "SenderZipF", "SenderZipR",
                                     "SenderAddress1", "SenderAddress2", "SenderTelF", "SenderTelM", "SenderTelR",
                                     "SenderShopCode1", "SenderShopCode2", "CustomerCode"}));
        auto param = [&](const char* n) {
            for (const auto& p : project.reportParams())
                if (p.first == QLatin1String(n))
                    return p.second;
            return QByteArray("<none>");
        };
        QCOMPARE(param("AccountNo1"), QByteArray("1 2 3 4 5"));
        QCOMPARE(param("AccountNo3"), QByteArray("1 2 3 4 56"));
        QCOMPARE(param("SenderZipF"), QByteArray("9  8  7"));
        QCOMPARE(param("SenderTelM"), QByteArray("1234"));
    }

    void aMissingTemplateIsReportedAndTheProjectLeftClosed()
    {
        QTemporaryDir dir;
        const QString appDir = dir.path() + u'/';
        RecordingOutput output;
        ReportProject project(&output);
        prepareAccountReport(project, SenderSettingsData{}, appDir);
        try {
            runPreparedReport(project);
            QFAIL("no error for a missing template");
        } catch (const Error& e) {
            QCOMPARE(e.message(), QStringLiteral("The following reporting project does not exist:\n\"%1\"")
                                      .arg(ReportProject::fullPath(appDir + QStringLiteral("Account.Rav"))));
        }
        QVERIFY(!project.isOpen());
        QCOMPARE(output.runs, 0);
    }
};

QTEST_GUILESS_MAIN(TestPrintJobs)
#include "tst_printjobs.moc"
