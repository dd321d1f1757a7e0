// Reading form templates: what a good file gives, and the file and line a bad one is refused at.
#include "common/DataFixture.h"
#include "data/Error.h"
#include "data/SjisText.h"
#include "report/ReportTemplate.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace halvenna;

namespace {

const QString kPath = QStringLiteral("/forms/Test.Rav");
const QByteArray kHead = "page width=100 height=50\nreport name=R connection=rvtbPrintMaster\n";

QString templatesDir()
{
    return QStringLiteral(HALVENNA_TEMPLATES_DIR);
}

QStringList names(const TemplateReport& r, TemplateText::Source source)
{
    QStringList out;
    for (const TemplateText& t : r.texts)
        if (t.source == source && !out.contains(t.name))
            out << t.name;
    return out;
}

} // namespace

class TestReportTemplate : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void goodFilesAreRead_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("height");
        QTest::addColumn<bool>("landscape");
        QTest::addColumn<QStringList>("reports");
        QTest::addColumn<int>("defaultReport");
        QTest::addColumn<int>("texts");
        QTest::addColumn<int>("outline");

        QTest::newRow("smallest") << kHead << 100.0 << 50.0 << false << QStringList{"R"} << 0 << 0 << 0;
        QTest::newRow("comments, blank lines, CRLF, BOM, tabs, blanks around =")
            << QByteArray("\xEF\xBB\xBF# a comment\r\n\r\n\tpage width = 100.5  height=50 # size\r\n"
                          "report name=R connection=rvtbPrintMaster # the only one\r\n"
                          "  text field=name x=1 y=2\r\n# text field=notes x=1 y=2\r\n")
            << 100.5 << 50.0 << false << QStringList{"R"} << 0 << 1 << 0;
        QTest::newRow("landscape slip, page given last")
            << QByteArray("report name=Slip connection=rvtbPrintMaster\n"
                          "page width=219 height=95 orientation=landscape\n")
            << 219.0 << 95.0 << true << QStringList{"Slip"} << 0 << 0 << 0;
        QTest::newRow("first report is the default when none is active")
            << QByteArray(kHead + "report name=S connection=rvtbAccount\ntext fixed=\"x\" x=0 y=0\n") << 100.0 << 50.0
            << false << QStringList{"R", "S"} << 0 << 0 << 0;
        QTest::newRow("the active report is the default")
            << QByteArray(kHead + "report name=S connection=rvtbAccount active=yes\ntext fixed=\"x\" x=0 y=0\n"
                                  "report name=T connection=rvtbAccount active=no\n")
            << 100.0 << 50.0 << false << QStringList{"R", "S", "T"} << 1 << 1 << 0;
        QTest::newRow("outline items")
            << QByteArray(kHead + "box x=1 y=2 width=3 height=4\nline x1=0 y1=0 x2=10 y2=0\n"
                                  "label text=\"お届け先\" x=1 y=1 size=6 bold=yes\ntext param=SenderName x=1 y=9\n")
            << 100.0 << 50.0 << false << QStringList{"R"} << 0 << 1 << 3;
        QTest::newRow("file without a final line break")
            << QByteArray("page width=10 height=2000\nreport name=R connection=c\ntext field=a x=0 y=0") << 10.0
            << 2000.0 << false << QStringList{"R"} << 0 << 1 << 0;
    }
    void goodFilesAreRead()
    {
        QFETCH(QByteArray, text);
        QFETCH(double, width);
        QFETCH(double, height);
        QFETCH(bool, landscape);
        QFETCH(QStringList, reports);
        QFETCH(int, defaultReport);
        QFETCH(int, texts);
        QFETCH(int, outline);
        const ReportTemplate t = ReportTemplate::parse(text, kPath);
        QCOMPARE(t.path(), kPath);
        QCOMPARE(t.pageWidth(), width);
        QCOMPARE(t.pageHeight(), height);
        QCOMPARE(t.orientation() == PageOrientation::Landscape, landscape);
        QStringList got;
        for (const TemplateReport& r : t.reports())
            got << r.name;
        QCOMPARE(got, reports);
        QCOMPARE(t.defaultReport(), defaultReport);
        const TemplateReport& r = t.reports().at(defaultReport);
        QCOMPARE(r.texts.size(), texts);
        QCOMPARE(r.outline.size(), outline);
    }

    void textItemKeepsEverythingItSays()
    {
        const ReportTemplate t = ReportTemplate::parse(
            kHead + "text field=zip_f x=10.5 y=2 width=20 height=6.5 size=11.5 bold=yes align=right pitch=1.667 "
                    "font=\"IPAGothic\"\n"
                    "text fixed=\"様 \\\"A\\\" \\\\ #\" x=.5 y=+3 # the rest is a comment\n"
                    "text param=SenderName x=0 y=0 align=centre width=30\n",
            kPath);
        const QList<TemplateText>& texts = t.reports().at(0).texts;
        QCOMPARE(texts.size(), 3);
        const TemplateText& a = texts.at(0);
        QCOMPARE(int(a.source), int(TemplateText::Source::Field));
        QCOMPARE(a.name, QStringLiteral("zip_f"));
        QCOMPARE(a.x, 10.5);
        QCOMPARE(a.y, 2.0);
        QCOMPARE(a.width, 20.0);
        QCOMPARE(a.height, 6.5);
        QCOMPARE(a.size, 11.5);
        QVERIFY(a.bold);
        QCOMPARE(int(a.align), int(TextAlign::Right));
        QCOMPARE(a.pitch, 1.667);
        QCOMPARE(a.font, QStringLiteral("IPAGothic"));
        QCOMPARE(a.line, 3);
        const TemplateText& b = texts.at(1);
        QCOMPARE(int(b.source), int(TemplateText::Source::Fixed));
        QCOMPARE(b.fixed, sjis::fromUnicode(QStringLiteral("様 \"A\" \\ #")));
        QCOMPARE(b.x, 0.5);
        QCOMPARE(b.y, 3.0);
        // Defaults: the program's form font at 10 pt, regular, left, no pitch, no cells; the box's width
        // and height to be taken from the sheet and the font.
        QCOMPARE(b.font, QStringLiteral("ＭＳ Ｐゴシック"));
        QCOMPARE(b.width, 0.0);
        QCOMPARE(b.height, 0.0);
        QCOMPARE(b.cells, 0);
        QCOMPARE(b.size, 10.0);
        QVERIFY(!b.bold);
        QCOMPARE(int(b.align), int(TextAlign::Left));
        QCOMPARE(b.pitch, 0.0);
        QCOMPARE(int(texts.at(2).source), int(TemplateText::Source::Param));
        QCOMPARE(texts.at(2).name, QStringLiteral("SenderName"));
        QCOMPARE(int(texts.at(2).align), int(TextAlign::Center));
    }

    // Digit cells: the cell width from the box, or the box from the cells, and where they fill from.
    void digitCells_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("cells");
        QTest::addColumn<double>("pitch");
        QTest::addColumn<double>("width");
        QTest::addColumn<bool>("fromRight");
        QTest::newRow("box divided into cells")
            << QByteArray("text param=AccountNo3 x=39.56 y=15 width=35.56 height=8 cells=7 fill=right\n") << 7 << 5.08
            << 35.56 << true;
        QTest::newRow("cells of a pitch make the box")
            << QByteArray("text field=zip_f x=14.5 y=58 height=4 cells=3 pitch=2.5\n") << 3 << 2.5 << 7.5 << false;
        QTest::newRow("cells narrower than their box")
            << QByteArray("text field=a x=0 y=0 width=12 cells=2 pitch=5 fill=left\n") << 2 << 5.0 << 12.0 << false;
        QTest::newRow("a drawing's rounding")
            << QByteArray("text field=a x=0 y=0 width=25.4 cells=5 pitch=5.082\n") << 5 << 5.082 << 25.4 << false;
    }
    void digitCells()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, cells);
        QFETCH(double, pitch);
        QFETCH(double, width);
        QFETCH(bool, fromRight);
        const ReportTemplate t =
            ReportTemplate::parse("page width=180 height=114\nreport name=R connection=c\n" + line, kPath);
        const TemplateText& text = t.reports().at(0).texts.at(0);
        QCOMPARE(text.cells, cells);
        QCOMPARE(text.pitch, pitch);
        QCOMPARE(text.width, width);
        QCOMPARE(text.fillFromRight, fromRight);
    }

    void badFilesNameTheFileAndLine_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("says");

        QTest::newRow("unknown key") << QByteArray("page width=100 height=50 colour=red\n") << 1
                                     << QStringLiteral("不明なキー 'colour'");
        QTest::newRow("decimal comma") << QByteArray("# size\npage width=10,5 height=50\n") << 2
                                       << QStringLiteral("'width' の値 '10,5' は数ではありません");
        QTest::newRow("exponent") << QByteArray(kHead + "text field=a x=1e3 y=0\n") << 3
                                  << QStringLiteral("'x' の値 '1e3' は数ではありません");
        QTest::newRow("unit after number") << QByteArray(kHead + "text field=a x=12mm y=0\n") << 3
                                           << QStringLiteral("'x' の値 '12mm' は数ではありません");
        QTest::newRow("sign alone") << QByteArray(kHead + "text field=a x=- y=0\n") << 3
                                    << QStringLiteral("'x' の値 '-' は数ではありません");
        QTest::newRow("page too small") << QByteArray("page width=5 height=50\n") << 1
                                        << QStringLiteral("'width' の値 5 は 10 から 2000");
        QTest::newRow("font size zero") << QByteArray(kHead + "text field=a x=0 y=0 size=0\n") << 3
                                        << QStringLiteral("'size' の値 0 は 1 から 200");
        QTest::newRow("missing page, named at the last line")
            << QByteArray("report name=R connection=c\n\ntext field=a x=0 y=0\n# end\n") << 4
            << QStringLiteral("page (用紙の幅と高さ) がありません");
        QTest::newRow("empty file") << QByteArray() << 1 << QStringLiteral("page (用紙の幅と高さ) がありません");
        QTest::newRow("no report") << QByteArray("page width=100 height=50\n\n") << 2
                                   << QStringLiteral("report がありません");
        QTest::newRow("second page") << QByteArray(kHead + "page width=100 height=50\n") << 3
                                     << QStringLiteral("page は 1 行目にもう書かれています");
        QTest::newRow("unknown statement")
            << QByteArray(kHead + "txet field=a x=0 y=0\n") << 3 << QStringLiteral("'txet' は page、report、text");
        QTest::newRow("text before any report") << QByteArray("page width=100 height=50\ntext field=a x=0 y=0\n") << 2
                                                << QStringLiteral("text は report の行の後に書きます");
        QTest::newRow("two sources") << QByteArray(kHead + "text field=a param=b x=0 y=0\n") << 3
                                     << QStringLiteral("field=、param=、fixed= のどれか一つ");
        QTest::newRow("no source") << QByteArray(kHead + "text x=0 y=0\n") << 3
                                   << QStringLiteral("field=、param=、fixed= のどれか一つ");
        QTest::newRow("missing y") << QByteArray(kHead + "text field=a x=0\n") << 3
                                   << QStringLiteral("text には y= が要ります");
        QTest::newRow("open quote") << QByteArray(kHead + "text fixed=\"様 x=0 y=0\n") << 3
                                    << QStringLiteral("引用符 \" が閉じていません");
        QTest::newRow("text glued to a quote") << QByteArray(kHead + "text fixed=\"a\"x=0 y=0\n") << 3
                                               << QStringLiteral("閉じる引用符の後に空白がありません");
        QTest::newRow("no value") << QByteArray(kHead + "text field=a x= y=0\n") << 3
                                  << QStringLiteral("'x' に値がありません");
        QTest::newRow("no equals sign") << QByteArray("page width 100 height=50\n") << 1
                                        << QStringLiteral("'width' の後に = がありません");
        QTest::newRow("key given twice") << QByteArray(kHead + "text field=a x=0 y=0 x=1\n") << 3
                                         << QStringLiteral("'x' が二度書かれています");
        QTest::newRow("two active reports")
            << QByteArray("page width=100 height=50\nreport name=A connection=c active=yes\n"
                          "report name=B connection=c active=yes\n")
            << 3 << QStringLiteral("active=yes の report は 2 行目にもあります");
        QTest::newRow("same report name twice") << QByteArray(kHead + "report name=r connection=c\n") << 3
                                                << QStringLiteral("report 'r' は 2 行目にもあります");
        QTest::newRow("report without connection") << QByteArray("page width=100 height=50\nreport name=A\n") << 2
                                                   << QStringLiteral("report には connection= が要ります");
        QTest::newRow("field name with a hyphen") << QByteArray(kHead + "text field=zip-f x=0 y=0\n") << 3
                                                  << QStringLiteral("'field' の値 'zip-f' は名前に使えません");
        QTest::newRow("right without a box") << QByteArray(kHead + "text field=a x=0 y=0 align=right\n") << 3
                                             << QStringLiteral("align=right には箱の幅 width= が要ります");
        QTest::newRow("unknown alignment") << QByteArray(kHead + "text field=a x=0 y=0 align=justify\n") << 3
                                           << QStringLiteral("'align' の値 'justify'");
        QTest::newRow("yes or no") << QByteArray(kHead + "text field=a x=0 y=0 bold=1\n") << 3
                                   << QStringLiteral("'bold' の値 '1' は yes か no");
        QTest::newRow("landscape that is taller than wide")
            << QByteArray("page width=95 height=219 orientation=landscape\n") << 1
            << QStringLiteral("width を height 以上にしてください");
        QTest::newRow("not UTF-8") << QByteArray(kHead + "label text=\"\x82\xa0\" x=0 y=0\n") << 3
                                   << QStringLiteral("UTF-8 として読めない文字があります");
        QTest::newRow("NUL byte") << QByteArray(kHead + QByteArray("text field=a\0 x=0 y=0\n", 22)) << 3
                                  << QStringLiteral("制御文字 (0x00)");
        QTest::newRow("fixed text code page 932 cannot hold")
            << QByteArray(kHead + "text fixed=\"\xF0\x9F\x98\x80\" x=0 y=0\n") << 3 << QStringLiteral("Shift-JIS");
        QTest::newRow("label without text")
            << QByteArray(kHead + "label x=0 y=0\n") << 3 << QStringLiteral("label には text= が要ります");
        QTest::newRow("box without height")
            << QByteArray(kHead + "box x=0 y=0 width=3\n") << 3 << QStringLiteral("box には height= が要ります");
        QTest::newRow("box beyond the right edge") << QByteArray(kHead + "text field=a x=90 y=0 width=20\n") << 3
                                                   << QStringLiteral("用紙 (100 × 50 mm) の外に出ています");
        QTest::newRow("box below the sheet")
            << QByteArray(kHead + "text field=a x=0 y=45 height=6\n") << 3 << QStringLiteral("の外に出ています");
        QTest::newRow("box left of the sheet")
            << QByteArray(kHead + "text field=a x=-1 y=0 width=5\n") << 3 << QStringLiteral("の外に出ています");
        QTest::newRow("box starting right of the sheet")
            << QByteArray(kHead + "text field=a x=100 y=0\n") << 3 << QStringLiteral("の外に出ています");
        QTest::newRow("box named before the page it leaves")
            << QByteArray("report name=R connection=c\ntext field=a x=0 y=48 height=5\npage width=100 height=50\n") << 2
            << QStringLiteral("の外に出ています");
        QTest::newRow("zero width") << QByteArray(kHead + "text field=a x=0 y=0 width=0\n") << 3
                                    << QStringLiteral("'width' の値 0 は");
        QTest::newRow("negative height") << QByteArray(kHead + "text field=a x=0 y=0 height=-3\n") << 3
                                         << QStringLiteral("'height' の値 -3 は");
        QTest::newRow("zero pitch") << QByteArray(kHead + "text field=a x=0 y=0 pitch=0\n") << 3
                                    << QStringLiteral("'pitch' の値 0 は");
        QTest::newRow("zero cells") << QByteArray(kHead + "text field=a x=0 y=0 width=10 cells=0\n") << 3
                                    << QStringLiteral("'cells' の値 0 は");
        QTest::newRow("cells that are no whole number")
            << QByteArray(kHead + "text field=a x=0 y=0 width=10 cells=2.5\n") << 3 << QStringLiteral("整数");
        QTest::newRow("cells wider than their box")
            << QByteArray(kHead + "text field=a x=0 y=0 width=20 cells=5 pitch=5\n") << 3
            << QStringLiteral("cells=5 の枠 (pitch=5) は width=20 の箱に収まりません");
        QTest::newRow("cells too narrow to draw in")
            << QByteArray(kHead + "text field=a x=0 y=0 width=0.1 cells=5 fill=right\n") << 3
            << QStringLiteral("cells=5 の枠は width=0.1 の箱では狭すぎます");
        QTest::newRow("one cell wider than any pitch")
            << QByteArray(kHead + "text field=a x=0 y=0 width=150 cells=1\n") << 3
            << QStringLiteral("cells=1 の枠は width=150 の箱では広すぎます");
        QTest::newRow("cells without a width") << QByteArray(kHead + "text field=a x=0 y=0 cells=3\n") << 3
                                               << QStringLiteral("width= か一枠の幅 pitch= が要ります");
        QTest::newRow("cells aligned") << QByteArray(kHead + "text field=a x=0 y=0 width=10 cells=2 align=right\n") << 3
                                       << QStringLiteral("align= は使いません");
        QTest::newRow("fill without cells") << QByteArray(kHead + "text field=a x=0 y=0 fill=right\n") << 3
                                            << QStringLiteral("fill= は cells= と一緒に");
        QTest::newRow("unknown fill") << QByteArray(kHead + "text field=a x=0 y=0 width=10 cells=2 fill=up\n") << 3
                                      << QStringLiteral("'fill' の値 'up'");
        QTest::newRow("statement glued to a quote")
            << QByteArray("\"page\" width=100 height=50\n") << 1 << QStringLiteral("行の始めに page、report");
    }
    void badFilesNameTheFileAndLine()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, line);
        QFETCH(QString, says);
        try {
            (void)ReportTemplate::parse(text, kPath);
            QFAIL("a bad template was read");
        } catch (const Error& e) {
            const QString where = QStringLiteral("%1 の %2 行目: ").arg(kPath).arg(line);
            QVERIFY2(e.message().startsWith(where), qPrintable(e.message()));
            QVERIFY2(e.message().contains(says), qPrintable(e.message()));
        }
    }

    void loadNamesTheFullPath()
    {
        QTemporaryDir dir;
        const QString path = QDir(dir.path()).filePath(QStringLiteral("Invoice.Rav"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("page width=100 height=50\nreport name=R connection=c\n\n\n\n\n\n\n\n\n\ntext fnt=x x=0 y=0\n");
        f.close();
        try {
            (void)ReportTemplate::load(path);
            QFAIL("a bad template was read");
        } catch (const Error& e) {
            QCOMPARE(e.message(), QStringLiteral("%1 の 12 行目: text に不明なキー 'fnt' があります").arg(path));
        }
    }

    void oversizedAndUnreadableFilesAreRefused()
    {
        QTemporaryDir dir;
        const QString big = QDir(dir.path()).filePath(QStringLiteral("Big.Rav"));
        QFile f(big);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QByteArray text = kHead;
        text += QByteArray(ReportTemplate::kMaxFileSize, '#');
        f.write(text);
        f.close();
        QVERIFY_THROWS_EXCEPTION(Error, ReportTemplate::load(big));
        try {
            (void)ReportTemplate::load(big);
        } catch (const Error& e) {
            QVERIFY2(e.message().startsWith(big) && e.message().contains(QStringLiteral("大きすぎて")),
                     qPrintable(e.message()));
        }
        try {
            (void)ReportTemplate::load(dir.path());
            QFAIL("a folder was read as a template");
        } catch (const Error& e) {
            QVERIFY2(e.message().startsWith(dir.path()) && e.message().contains(QStringLiteral("読めません")),
                     qPrintable(e.message()));
        }
    }

    // The two shipped templates read cleanly, use every parameter their run sets, read only fields
    // the staging table has, and put every text on the sheet.
    void shippedTemplates_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("height");
        QTest::addColumn<QStringList>("params");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("waybill") << QStringLiteral("Invoice.Rav") << 108.0 << 178.0
                                 << QStringList{"SenderName",      "SenderZipF",      "SenderZipR",  "SenderAddress1",
                                                "SenderAddress2",  "SenderTelF",      "SenderTelM",  "SenderTelR",
                                                "SenderShopCode1", "SenderShopCode2", "CustomerCode"}
                                 << QStringList{"zip_f",       "zip_r",         "tel_f",          "tel_m",
                                                "tel_r",       "address1",      "address2",       "name",
                                                "item",        "value",         "receipt_year",   "receipt_month",
                                                "receipt_day", "delivery_year", "delivery_month", "delivery_day"};
        QTest::newRow("payment slip") << QStringLiteral("Account.Rav") << 180.0 << 114.0
                                      << QStringList{"AccountNo1", "AccountNo2", "AccountNo3", "SenderName"}
                                      << QStringList{"zip_f", "zip_r", "address1", "address2",  "name",
                                                     "tel_f", "tel_m", "tel_r",    "amount_prn"};
    }
    void shippedTemplates()
    {
        QFETCH(QString, file);
        QFETCH(double, width);
        QFETCH(double, height);
        QFETCH(QStringList, params);
        QFETCH(QStringList, fields);
        const ReportTemplate t = ReportTemplate::load(QDir(templatesDir()).filePath(file));
        QCOMPARE(t.pageWidth(), width);
        QCOMPARE(t.pageHeight(), height);
        const TemplateReport& r = t.reports().at(t.defaultReport());
        QCOMPARE(r.connection, QStringLiteral("rvtbPrintMaster"));
        QStringList usedParams = names(r, TemplateText::Source::Param);
        QStringList usedFields = names(r, TemplateText::Source::Field);
        usedParams.sort();
        usedFields.sort();
        params.sort();
        fields.sort();
        QCOMPARE(usedParams, params);
        QCOMPARE(usedFields, fields);

        DataFixture fx;
        for (const QString& f : std::as_const(fields))
            QVERIFY2(fx.dm->tbPrintMember.fieldIndex(f) >= 0, qPrintable(f));
        // Every text has a box of its own, on the sheet.
        for (const TemplateText& text : r.texts) {
            QVERIFY2(text.width > 0 && text.height > 0, qPrintable(QStringLiteral("line %1").arg(text.line)));
            QVERIFY2(text.x >= 0 && text.x + text.width <= width && text.y >= 0 && text.y + text.height <= height,
                     qPrintable(QStringLiteral("line %1").arg(text.line)));
            // Named as the form shows it, for the list of what did not fit.
            QVERIFY2(!text.caption.isEmpty(), qPrintable(QStringLiteral("line %1").arg(text.line)));
        }
        // The payment slip's two amounts are told apart.
        QStringList amounts;
        for (const TemplateText& text : r.texts)
            if (text.name == u"amount_prn")
                amounts << text.caption;
        if (file == u"Account.Rav")
            QCOMPARE(amounts, (QStringList{QStringLiteral("金額 (払込票)"), QStringLiteral("金額 (受領証)")}));
    }
};

QTEST_GUILESS_MAIN(TestReportTemplate)
#include "tst_reporttemplate.moc"
