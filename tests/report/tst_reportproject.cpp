// The report project component and its connections: parameters, opening and closing, the errors a
// print job shows, running a report to a PDF through the standard output, and the tables left
// exactly as they were found.
#include "ReportTestSupport.h"
#include "common/DataFixture.h"
#include "common/Errors.h"
#include "common/Seams.h"
#include "data/DataSource.h"
#include "data/Error.h"
#include "data/SjisText.h"
#include "gui/DbGrid.h"
#include "gui/MessageBox.h"
#include "report/ReportProject.h"
#include "report/dialogs/StandardReportOutput.h"
#include "roster/model/RecordRules.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

using namespace halvenna;
using reporttest::sj;

namespace {

QString templatesDir()
{
    return QStringLiteral(HALVENNA_TEMPLATES_DIR);
}

QString writeFile(const QString& dir, const QString& name, const QByteArray& text)
{
    const QString path = QDir(dir).filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    f.write(text);
    return path;
}

// Records what a data source tells its controls.
class CountingLink : public DataLink
{
public:
    int scrolled = 0;
    int changed = 0;

protected:
    void dataSetChanged() override { ++changed; }
    void dataSetScrolled() override { ++scrolled; }
};

// An output of the test's own: keeps what it was handed.
class KeepingOutput : public ReportOutput
{
public:
    void output(const ReportDocument& document) override
    {
        ++calls;
        report = document.report().name;
        pages = document.pageCount();
    }
    int calls = 0;
    QString report;
    int pages = -1;
};

struct StagedRow
{
    QString name, address1, address2, zip, tel, item, value;
    int amount = 0;
};

const QList<StagedRow> kRows = {
    {QStringLiteral("山田太郎"), QStringLiteral("東京都渋谷区神宮前1-2-3"), QStringLiteral("ハイツ201号室"),
     QStringLiteral("150-0001"), QStringLiteral("03-1234-5678"), QStringLiteral("りんごジュース"), QStringLiteral("2"),
     98765},
    {QStringLiteral("佐藤花子"), QStringLiteral("大阪府大阪市北区梅田9-8"), QStringLiteral("梅田ビル7階"),
     QStringLiteral("530-0001"), QStringLiteral("06-9876-5432"), QStringLiteral("みかん"), QStringLiteral("1"), 1200},
    {QStringLiteral("鈴木一郎"), QStringLiteral("北海道札幌市中央区北一条西4"), QStringLiteral("札幌荘3号"),
     QStringLiteral("060-0001"), QStringLiteral("011-222-3333"), QStringLiteral("メロン"), QStringLiteral("10"), 50},
};

} // namespace

class TestReportProject : public QObject
{
    Q_OBJECT

    std::unique_ptr<DataFixture> fx;
    std::unique_ptr<ReportConnection> rvtbPrintMaster;
    std::unique_ptr<ReportConnection> rvtbAccount;
    std::unique_ptr<StandardReportOutput> output;
    std::unique_ptr<ReportProject> rvpjInvoice;
    std::unique_ptr<QTemporaryDir> tmp;

    // Fills the staging table the way a print job does: one row per sheet, with the derived fields.
    void stage(const QList<StagedRow>& rows)
    {
        Table& t = fx->dm->tbPrintMember;
        for (const StagedRow& r : rows) {
            t.append();
            const rules::ZipAndTel split = rules::splitZipAndTel(DataFixture::text(r.zip), DataFixture::text(r.tel));
            const auto set = [&](const char* field, const QString& v) {
                t.setFieldValue(QLatin1String(field), DataFixture::text(v));
            };
            set("name", r.name);
            set("address1", r.address1);
            set("address2", r.address2);
            set("zip", r.zip);
            set("tel", r.tel);
            set("item", r.item);
            set("value", r.value);
            set("receipt_year", QStringLiteral("2024"));
            set("receipt_month", QStringLiteral("12"));
            set("receipt_day", QStringLiteral("31"));
            set("delivery_year", QStringLiteral("2025"));
            set("delivery_month", QStringLiteral("1"));
            set("delivery_day", QStringLiteral("1"));
            t.setFieldValue(QStringLiteral("zip_f"), FieldValue::text(split.zipF));
            t.setFieldValue(QStringLiteral("zip_r"), FieldValue::text(split.zipR));
            t.setFieldValue(QStringLiteral("tel_f"), FieldValue::text(split.telF));
            t.setFieldValue(QStringLiteral("tel_m"), FieldValue::text(split.telM));
            t.setFieldValue(QStringLiteral("tel_r"), FieldValue::text(split.telR));
            t.setFieldValue(QStringLiteral("amount"), FieldValue::integer(r.amount));
            t.setFieldValue(QStringLiteral("amount_prn"),
                            FieldValue::text(rules::amountPrintForm(FieldValue::integer(r.amount))));
            t.post();
        }
    }

    // An Account row for the member with this number.
    void addAmount(int id, int amount)
    {
        QVERIFY(fx->dm->tbMemberMaster.locate(QStringLiteral("id_no"), FieldValue::integer(id)));
        Table& a = fx->dm->tbAccount;
        a.append();
        a.setFieldValue(QStringLiteral("amount"), FieldValue::integer(amount));
        a.post();
    }

    void setSenderParams()
    {
        rvpjInvoice->SetReportParam(QStringLiteral("SenderName"), sj(QStringLiteral("株式会社ハルヴェナ")));
        rvpjInvoice->SetReportParam(QStringLiteral("SenderAddress1"), sj(QStringLiteral("京都府京都市中京区")));
        rvpjInvoice->SetReportParam(QStringLiteral("CustomerCode"), "CUST-4711");
        rvpjInvoice->SetReportParam(QStringLiteral("AccountNo1"), "0 0 1 2 0");
        rvpjInvoice->SetReportParam(QStringLiteral("AccountNo2"), "7");
        rvpjInvoice->SetReportParam(QStringLiteral("AccountNo3"), "1 2 3 4 56");
    }

private Q_SLOTS:
    void initTestCase() { reporttest::useFormFont(); }

    void init()
    {
        tmp = std::make_unique<QTemporaryDir>();
        fx = std::make_unique<DataFixture>();
        rvtbPrintMaster = std::make_unique<ReportConnection>(QStringLiteral("rvtbPrintMaster"), &fx->dm->tbPrintMember);
        rvtbAccount = std::make_unique<ReportConnection>(QStringLiteral("rvtbAccount"), &fx->dm->tbAccount);
        // No settings file in the test's folder: every form unmoved.
        output = std::make_unique<StandardReportOutput>(tmp->filePath(QStringLiteral("Kelvaro.ini")));
        rvpjInvoice = std::make_unique<ReportProject>(output.get());
        rvpjInvoice->addConnection(*rvtbPrintMaster);
        rvpjInvoice->addConnection(*rvtbAccount);
        seams::begin();
    }

    void cleanup()
    {
        seams::end();
        rvpjInvoice.reset();
        output.reset();
        rvtbAccount.reset();
        rvtbPrintMaster.reset();
        fx.reset();
    }

    void parametersAreReplacedByName_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QList<QByteArray>>("values");
        QTest::addColumn<QStringList>("expectNames");
        QTest::addColumn<QList<QByteArray>>("expectValues");
        QTest::newRow("distinct names keep their order")
            << QStringList{"SenderName", "AccountNo1"} << QList<QByteArray>{"a", "b"}
            << QStringList{"SenderName", "AccountNo1"} << QList<QByteArray>{"a", "b"};
        QTest::newRow("a later value replaces in place")
            << QStringList{"SenderName", "AccountNo1", "SenderName"} << QList<QByteArray>{"a", "b", "c"}
            << QStringList{"SenderName", "AccountNo1"} << QList<QByteArray>{"c", "b"};
        QTest::newRow("names match whatever their case")
            << QStringList{"SenderName", "SENDERNAME"} << QList<QByteArray>{"a", "z"} << QStringList{"SenderName"}
            << QList<QByteArray>{"z"};
        QTest::newRow("an empty value reads back empty")
            << QStringList{"SenderZipR", "SenderZipR"} << QList<QByteArray>{"4  5  6  7", ""}
            << QStringList{"SenderZipR"} << QList<QByteArray>{""};
    }
    void parametersAreReplacedByName()
    {
        QFETCH(QStringList, names);
        QFETCH(QList<QByteArray>, values);
        QFETCH(QStringList, expectNames);
        QFETCH(QList<QByteArray>, expectValues);
        for (int i = 0; i < names.size(); ++i)
            rvpjInvoice->SetReportParam(names.at(i), values.at(i));
        QStringList gotNames;
        QList<QByteArray> gotValues;
        for (const auto& [n, v] : rvpjInvoice->reportParams()) {
            gotNames << n;
            gotValues << v;
        }
        QCOMPARE(gotNames, expectNames);
        QCOMPARE(gotValues, expectValues);
    }

    // The list belongs to the component: opening, running, closing and failing leave it as it is.
    void parametersSurviveOpenRunAndClose()
    {
        setSenderParams();
        const ReportParams before = rvpjInvoice->reportParams();
        rvpjInvoice->ProjectFile = QDir(templatesDir()).filePath(QStringLiteral("Invoice.Rav"));
        rvpjInvoice->OpenProject();
        QVERIFY(rvpjInvoice->isOpen());
        StandardReportOutput::optionsSeam().answer(std::nullopt);
        rvpjInvoice->RunReport();
        rvpjInvoice->CloseProject();
        QVERIFY(!rvpjInvoice->isOpen());
        rvpjInvoice->CloseProject(); // closing twice is nothing
        rvpjInvoice->ProjectFile = tmp->filePath(QStringLiteral("Gone.Rav"));
        QVERIFY_THROWS_EXCEPTION(Error, rvpjInvoice->OpenProject());
        QCOMPARE(rvpjInvoice->reportParams(), before);
    }

    void missingTemplateRaisesTheExactText_data()
    {
        QTest::addColumn<QString>("projectFile");
        QTest::addColumn<QString>("fullPath");
        const QString d = QStringLiteral("/nonexistent-forms");
        QTest::newRow("absolute") << d + QStringLiteral("/Account.Rav") << d + QStringLiteral("/Account.Rav");
        QTest::newRow("two separators, as a program folder with its own separator makes")
            << d + QStringLiteral("//Account.Rav") << d + QStringLiteral("/Account.Rav");
        QTest::newRow("relative to the working folder")
            << QStringLiteral("nowhere/Invoice.Rav") << QDir::current().filePath(QStringLiteral("nowhere/Invoice.Rav"));
    }
    void missingTemplateRaisesTheExactText()
    {
        QFETCH(QString, projectFile);
        QFETCH(QString, fullPath);
        rvpjInvoice->ProjectFile = projectFile;
        const QString expected =
            QStringLiteral("The following reporting project does not exist:\n\"%1\"").arg(fullPath);
        QCOMPARE(errorOf([&] { rvpjInvoice->OpenProject(); }), expected);
        QVERIFY(!rvpjInvoice->isOpen());
        // Running opens first, so it fails the same way, and nothing is shown.
        QCOMPARE(errorOf([&] { rvpjInvoice->RunReport(); }), expected);
        QVERIFY(!rvpjInvoice->isOpen());
    }

    void unreadableTemplateRaisesTheReadersError()
    {
        const QString path = writeFile(tmp->path(), QStringLiteral("Bad.Rav"),
                                       "page width=100 height=50\nreport name=R connection=rvtbPrintMaster\n"
                                       "text field=name x=1 y=2 colour=red\n");
        rvpjInvoice->ProjectFile = path;
        QCOMPARE(errorOf([&] { rvpjInvoice->OpenProject(); }),
                 QStringLiteral("%1 の 3 行目: text に不明なキー 'colour' があります").arg(path));
        QVERIFY(!rvpjInvoice->isOpen());
    }

    // Opening an open component does nothing: the template already loaded is the one that runs.
    void openingAnOpenComponentDoesNothing()
    {
        const QString path = writeFile(tmp->path(), QStringLiteral("One.Rav"),
                                       "page width=100 height=50\nreport name=One connection=rvtbPrintMaster\n");
        rvpjInvoice->ProjectFile = path;
        rvpjInvoice->OpenProject();
        QVERIFY(QFile::remove(path));
        rvpjInvoice->ProjectFile = tmp->filePath(QStringLiteral("Other.Rav"));
        rvpjInvoice->OpenProject();
        KeepingOutput keep;
        rvpjInvoice->Engine = &keep;
        rvpjInvoice->RunReport();
        QCOMPARE(keep.report, QStringLiteral("One"));
        rvpjInvoice->CloseProject();
        QVERIFY_THROWS_EXCEPTION(Error, rvpjInvoice->OpenProject());
    }

    // The active report runs, through its own connection, with every row of a detail table.
    void theActiveReportRunsThroughItsConnection()
    {
        fx->addMember(1, QStringLiteral("A"));
        fx->addMember(2, QStringLiteral("B"));
        addAmount(1, 100);
        addAmount(2, 200);
        addAmount(2, 300);
        stage({kRows.at(0)});
        rvpjInvoice->ProjectFile = writeFile(tmp->path(), QStringLiteral("Two.Rav"),
                                             "page width=100 height=50\n"
                                             "report name=Staging connection=rvtbPrintMaster\n"
                                             "report name=Amounts connection=rvtbAccount active=yes\n"
                                             "text field=amount_prn x=1 y=1\n");
        KeepingOutput keep;
        rvpjInvoice->Engine = &keep;
        rvpjInvoice->RunReport();
        QCOMPARE(keep.calls, 1);
        QCOMPARE(keep.report, QStringLiteral("Amounts"));
        QCOMPARE(keep.pages, 3);
        QVERIFY(rvpjInvoice->isOpen());
    }

    // A run that fails closes the component, so the next job loads the template it prepared.
    void failedRunClosesTheComponent_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("says");
        QTest::newRow("unknown connection") << QByteArray("report name=R connection=rvtbNope\n") << 2
                                            << QStringLiteral("データ接続 'rvtbNope' はありません");
        QTest::newRow("field the table lacks")
            << QByteArray("report name=R connection=rvtbPrintMaster\ntext field=name x=0 y=0\n"
                          "text field=zipf x=0 y=9\n")
            << 4 << QStringLiteral("rvtbPrintMaster (PrintMember) に項目 'zipf' がありません");
    }
    void failedRunClosesTheComponent()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, line);
        QFETCH(QString, says);
        const QString path = writeFile(tmp->path(), QStringLiteral("Fail.Rav"), "page width=100 height=50\n" + body);
        rvpjInvoice->ProjectFile = path;
        QCOMPARE(errorOf([&] { rvpjInvoice->RunReport(); }),
                 QStringLiteral("%1 の %2 行目: %3").arg(path).arg(line).arg(says));
        QVERIFY(!rvpjInvoice->isOpen());
        QVERIFY(fx->dm->tbPrintMember.active());
        QVERIFY(!fx->dm->tbPrintMember.controlsDisabled());
    }

    // The whole road: staged rows, the shipped template, the standard output told to write a
    // file. One page per staging row, in order, each with its own row's values and the sender's.
    void runReportWritesOnePagePerStagedRow_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("perRow"); // patterns with %1 = name, %2 = address1, %3 = item, %4 = amount
        QTest::addColumn<QStringList>("everyPage");
        QTest::newRow("waybill") << QStringLiteral("Invoice.Rav") << QStringList{"%1\\s+様", "%2", "%3"}
                                 << QStringList{"株式会社ハルヴェナ", "京都府京都市中京区", "CUST-4711", "2024",
                                                "2025"};
        QTest::newRow("payment slip") << QStringLiteral("Account.Rav") << QStringList{"%1", "%2", "%4"}
                                      << QStringList{"株式会社ハルヴェナ", "0\\s*0\\s*1\\s*2\\s*0"};
    }
    void runReportWritesOnePagePerStagedRow()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, perRow);
        QFETCH(QStringList, everyPage);
        stage(kRows);
        setSenderParams();
        const QString pdf = tmp->filePath(file + QStringLiteral(".pdf"));
        OutputChoice offered;
        StandardReportOutput::optionsSeam().answerWith([&](const StandardReportOutput::OptionsRequest& r) {
            offered = r.offered;
            return OutputChoice{OutputChoice::Destination::File, 1, pdf};
        });
        rvpjInvoice->ProjectFile = QDir(templatesDir()).filePath(file);
        rvpjInvoice->OpenProject();
        rvpjInvoice->RunReport();
        rvpjInvoice->CloseProject();
        QCOMPARE(int(offered.destination), int(OutputChoice::Destination::Preview));
        QCOMPARE(reporttest::pdfPages(pdf), kRows.size());
        for (int i = 0; i < kRows.size(); ++i) {
            const QString text = reporttest::pdfText(pdf, i + 1);
            const StagedRow& r = kRows.at(i);
            QString amountDigits;
            for (QChar c : QString::number(r.amount))
                amountDigits += QString(c) + QStringLiteral("\\s*");
            for (const QString& pattern : std::as_const(perRow)) {
                const QString re = QString(pattern).arg(r.name, r.address1, r.item, amountDigits);
                QVERIFY2(text.contains(QRegularExpression(re)),
                         qPrintable(QStringLiteral("page %1 lacks %2:\n%3").arg(i + 1).arg(re, text)));
            }
            for (const QString& pattern : std::as_const(everyPage))
                QVERIFY2(text.contains(QRegularExpression(pattern)), qPrintable(pattern + QStringLiteral("\n") + text));
            for (int j = 0; j < kRows.size(); ++j)
                if (j != i)
                    QVERIFY2(!text.contains(kRows.at(j).name), qPrintable(text));
        }
        QVERIFY(MessageBox::seam().requests().isEmpty());
    }

    // Cancelling, in "Output Options" or in "Report Status", writes nothing and says nothing.
    void cancelledOutputWritesNothing_data()
    {
        QTest::addColumn<bool>("atStatus");
        QTest::newRow("options cancelled") << false;
        QTest::newRow("status cancelled") << true;
    }
    void cancelledOutputWritesNothing()
    {
        QFETCH(bool, atStatus);
        stage(kRows);
        const QString pdf = tmp->filePath(QStringLiteral("cancel.pdf"));
        bool statusSeen = false;
        if (atStatus) {
            StandardReportOutput::optionsSeam().answer(OutputChoice{OutputChoice::Destination::File, 1, pdf});
            QTimer::singleShot(0, this, [&] {
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (w->isVisible() && w->windowTitle() == QStringLiteral("Report Status")) {
                        statusSeen = true;
                        QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("btnCancel")), Qt::LeftButton);
                    }
            });
        } else {
            StandardReportOutput::optionsSeam().answer(std::nullopt);
        }
        rvpjInvoice->ProjectFile = QDir(templatesDir()).filePath(QStringLiteral("Invoice.Rav"));
        rvpjInvoice->RunReport();
        QCOMPARE(statusSeen, atStatus);
        QVERIFY(!QFile::exists(pdf));
        QCOMPARE(QDir(tmp->path()).entryList(QDir::Files), QStringList());
        QVERIFY(MessageBox::seam().requests().isEmpty());
        QVERIFY(rvpjInvoice->isOpen()); // the job closes it as after any run
        // The next run works normally.
        StandardReportOutput::optionsSeam().answer(OutputChoice{OutputChoice::Destination::File, 1, pdf});
        rvpjInvoice->RunReport();
        QCOMPARE(reporttest::pdfPages(pdf), kRows.size());
    }

    // Reading through a connection leaves the table as it found it: open or closed, on the same
    // row, linked to the current member, its controls live and not told of anything meanwhile.
    void connectionLeavesTheTableAsItWas_data()
    {
        QTest::addColumn<int>("currentMember");
        QTest::addColumn<bool>("closedBefore");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<bool>("fails");
        QTest::newRow("on the member's row") << 3 << false << QStringList{"id_no", "amount_prn"} << false;
        QTest::newRow("member without a row") << 2 << false << QStringList{"id_no", "amount_prn"} << false;
        QTest::newRow("closed table") << 3 << true << QStringList{"id_no", "amount_prn"} << false;
        QTest::newRow("failing read") << 3 << false << QStringList{"id_no", "nosuch"} << true;
        QTest::newRow("failing read of a closed table") << 3 << true << QStringList{"nosuch"} << true;
    }
    void connectionLeavesTheTableAsItWas()
    {
        QFETCH(int, currentMember);
        QFETCH(bool, closedBefore);
        QFETCH(QStringList, fields);
        QFETCH(bool, fails);
        for (int id = 1; id <= 3; ++id)
            fx->addMember(id, QStringLiteral("M%1").arg(id));
        addAmount(1, 1000);
        addAmount(3, 98765);
        addAmount(3, 5);
        Table& account = fx->dm->tbAccount;
        QVERIFY(fx->dm->tbMemberMaster.locate(QStringLiteral("id_no"), FieldValue::integer(currentMember)));
        qint64 rowid = 0;
        bool hadRow = false;
        if (closedBefore) {
            account.close();
        } else {
            if (currentMember == 3) {
                account.last(); // the second of the member's two rows
                QCOMPARE(account.fieldValue(QStringLiteral("amount")).asInteger(), 5);
            }
            hadRow = !account.isEmpty() && account.hasCurrentRow();
            rowid = account.currentRowid();
            QCOMPARE(hadRow, currentMember == 3);
        }
        CountingLink link;
        link.setDataSource(&fx->dm->tbAccountDataSource);
        link.changed = 0; // attaching shows the current state

        ReportRows rows;
        const QString error = errorOf([&] { rows = rvtbAccount->read(fields); });
        QCOMPARE(error != QStringLiteral("<no error>"), fails);
        if (fails) {
            QCOMPARE(error, QStringLiteral("rvtbAccount (Account) に項目 'nosuch' がありません"));
        } else {
            // Every row of Account, not only the current member's, in table order.
            QCOMPARE(rows.rowCount(), 3);
            QCOMPARE(rows.text(0, 0).toString(), QStringLiteral("1"));
            QCOMPARE(rows.text(0, 1).toString(), QStringLiteral("1 0 0 0"));
            QCOMPARE(rows.text(1, 1).toString(), QStringLiteral("9 8 7 6 5"));
            QCOMPARE(rows.text(2, 1).toString(), QStringLiteral("5"));
        }
        QCOMPARE(account.active(), !closedBefore);
        QVERIFY(!account.masterLinkLifted());
        QVERIFY(!account.controlsDisabled());
        QCOMPARE(link.scrolled, 0);
        if (!closedBefore) {
            QCOMPARE(link.changed, 0); // the report reads through a cursor of its own: nothing to redraw
            QCOMPARE(account.hasCurrentRow(), hadRow);
            if (hadRow)
                QCOMPARE(account.currentRowid(), rowid);
            QCOMPARE(account.recordCount(), currentMember == 3 ? 2 : 0);
        }
        link.setDataSource(nullptr);
    }

    // A run while a grid shows the staging table and the print window's detail follows its member:
    // the report reads through a cursor of its own, so neither the grid nor any link is told of
    // anything, the grid keeps its row and the detail stays on its member's rows.
    void aRunLeavesAGridOnTheStagingTableAndTheDetailUntouched()
    {
        for (int id = 1; id <= 3; ++id)
            fx->addMember(id, QStringLiteral("M%1").arg(id));
        addAmount(1, 1000);
        addAmount(3, 5);
        QVERIFY(fx->dm->tbMemberMaster.locate(QStringLiteral("id_no"), FieldValue::integer(3)));
        stage(kRows);
        Table& t = fx->dm->tbPrintMember;
        DataSource staging(QStringLiteral("dsStaging"));
        staging.setDataSet(&t);
        DbGrid grid;
        grid.setDataSource(&staging);
        grid.resize(400, 300);
        grid.show();
        t.first();
        t.next();
        QCoreApplication::processEvents();
        const qint64 rowid = t.currentRowid();
        const int gridRow = grid.gridModel()->currentRow();
        QCOMPARE(gridRow, 1);
        CountingLink stagingLink;
        stagingLink.setDataSource(&staging);
        CountingLink accountLink;
        accountLink.setDataSource(&fx->dm->tbAccountDataSource);
        stagingLink.changed = accountLink.changed = 0; // attaching shows the current state

        rvpjInvoice->ProjectFile = QDir(templatesDir()).filePath(QStringLiteral("Invoice.Rav"));
        KeepingOutput keep;
        rvpjInvoice->Engine = &keep;
        rvpjInvoice->RunReport();
        QCoreApplication::processEvents();

        QCOMPARE(keep.pages, int(kRows.size()));
        QCOMPARE(stagingLink.changed, 0);
        QCOMPARE(stagingLink.scrolled, 0);
        QCOMPARE(accountLink.changed, 0);
        QCOMPARE(accountLink.scrolled, 0);
        QCOMPARE(t.currentRowid(), rowid);
        QCOMPARE(grid.gridModel()->currentRow(), gridRow);
        QVERIFY(!t.controlsDisabled());
        QVERIFY(!fx->dm->tbAccount.masterLinkLifted());
        QCOMPARE(fx->dm->tbAccount.recordCount(), 1); // member 3's one row
        stagingLink.setDataSource(nullptr);
        accountLink.setDataSource(nullptr);
        grid.setDataSource(nullptr);
    }

    // What the report reads is exactly what was posted, as the table itself shows it: text filling a
    // field's width in double-byte characters or in half-width katakana, the characters code page 932
    // holds under other code points, an empty text and a null (both read as empty), a number.
    void connectionReadsExactlyWhatWasPosted_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");  // null: a null is posted
        QTest::addColumn<bool>("fillWidth"); // value repeated to the field's full width
        QTest::newRow("double-byte at the width") << "name" << QStringLiteral("漢") << true;
        QTest::newRow("half-width katakana at the width") << "address1" << QStringLiteral("ｱ") << true;
        QTest::newRow("ASCII at the width") << "address2" << QStringLiteral("x") << true;
        QTest::newRow("mixed, odd width left") << "name" << QStringLiteral("ｱ漢") << true;
        QTest::newRow("code page 932's own forms") << "address1" << QStringLiteral("～－―∥￢①Ⅰ髙") << false;
        QTest::newRow("empty") << "name" << QStringLiteral("") << false;
        QTest::newRow("null") << "name" << QString() << false;
        QTest::newRow("number") << "id_no" << QStringLiteral("-2147483648") << false;
    }
    void connectionReadsExactlyWhatWasPosted()
    {
        QFETCH(QString, field);
        QFETCH(QString, value);
        QFETCH(bool, fillWidth);
        Table& t = fx->dm->tbPrintMember;
        const FieldDef& def = t.fieldDef(field);
        if (fillWidth) {
            QVERIFY(def.width > 0);
            const QString unit = value;
            while (sjis::fromUnicode(value + unit.at(value.size() % unit.size())).size() <= def.width)
                value += unit.at(value.size() % unit.size());
            QVERIFY(sjis::fromUnicode(value).size() >= def.width - 1);
        }
        t.append();
        if (value.isNull())
            t.setFieldValue(field, FieldValue());
        else if (def.kind == FieldKind::Integer)
            t.setFieldValue(field, FieldValue::integer(value.toInt()));
        else
            t.setFieldValue(field, FieldValue::text(sjis::fromUnicode(value)));
        t.post();
        t.first();
        const FieldValue posted = t.fieldValue(field);
        const QString shown = posted.isNull() ? QString() : sjis::toUnicode(posted.asText());

        const ReportRows rows = rvtbPrintMaster->read({field});
        QCOMPARE(rows.rowCount(), 1);
        QCOMPARE(rows.text(0, 0).toString(), shown);
        QCOMPARE(rows.text(0, 0).toString(), value.isNull() ? QString() : sjis::toUnicode(sjis::fromUnicode(value)));
        // Read again with the table closed: the report's own connection reads the same.
        t.close();
        QCOMPARE(rvtbPrintMaster->read({field}).text(0, 0).toString(), shown);
        QVERIFY(!t.active());
    }

    void connectionWithoutATableIsAnError()
    {
        ReportConnection loose(QStringLiteral("rvtbLoose"));
        QCOMPARE(errorOf([&] { (void)loose.read({}); }), QStringLiteral("rvtbLoose にはテーブルがつながっていません"));
    }

    // A run over the staging table leaves the print window's view of it untouched.
    void runLeavesTheStagingTableWhereItWas()
    {
        stage(kRows);
        Table& t = fx->dm->tbPrintMember;
        t.first();
        t.next();
        const qint64 rowid = t.currentRowid();
        rvpjInvoice->ProjectFile = QDir(templatesDir()).filePath(QStringLiteral("Invoice.Rav"));
        KeepingOutput keep;
        rvpjInvoice->Engine = &keep;
        rvpjInvoice->RunReport();
        QCOMPARE(keep.pages, 3);
        QCOMPARE(t.currentRowid(), rowid);
        QCOMPARE(t.fieldValue(QStringLiteral("name")).asString(), kRows.at(1).name);
    }
};

QTEST_MAIN(TestReportProject)
#include "tst_reportproject.moc"
