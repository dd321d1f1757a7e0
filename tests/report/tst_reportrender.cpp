// Drawing sheets: where texts land (digit-box pitch, alignment), which values they show, that the
// outline is for the preview only, and that a PDF is the template's own size, millimetre for millimetre.
#include "PaintRecorder.h"
#include "ReportTestSupport.h"
#include "data/Error.h"
#include "printing/jobs/PrintJobs.h"
#include "report/ReportDocument.h"

#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QPainter>
#include <QRegularExpression>
#include <QTest>

using namespace halvenna;
using reporttest::sj;

namespace {

constexpr double kPxPerMm = 10; // RecordingDevice at 254 dpi

ReportDocument document(const QByteArray& body, const QStringList& fields, const QList<QList<QByteArray>>& rows,
                        const ReportParams& params = {}, const QByteArray& page = "page width=108 height=178\n")
{
    auto t = std::make_shared<const ReportTemplate>(
        ReportTemplate::parse(page + "report name=R connection=rvtbPrintMaster\n" + body, QStringLiteral("T.Rav")));
    ReportRows r(fields);
    for (const QList<QByteArray>& row : rows)
        r.appendRow(row);
    return ReportDocument(t, t->defaultReport(), params, std::move(r), memberSheetRules());
}

Recording record(const ReportDocument& doc, int page, bool outline)
{
    RecordingDevice device;
    QPainter p(&device);
    doc.drawPage(p, page, outline);
    p.end();
    return device.recording();
}

QList<RecordedText> draw(const ReportDocument& doc, int page)
{
    return record(doc, page, false).texts;
}

qreal advance(const RecordedText& t)
{
    RecordingDevice device;
    return QFontMetricsF(t.font, &device).horizontalAdvance(t.text);
}

qreal ascent(const RecordedText& t)
{
    RecordingDevice device;
    return QFontMetricsF(t.font, &device).ascent();
}

} // namespace

class TestReportRender : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { reporttest::useFormFont(); }

    // Each byte takes one pitch step; a character is centred on its steps (a double-byte one on two).
    void pitchPutsEveryByteInItsCell_data()
    {
        QTest::addColumn<QByteArray>("item");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QList<double>>("centresMm");

        const QByteArray left = "text field=f x=10 y=5 pitch=2";
        QTest::newRow("postal code front, 3 bytes per box")
            << left << QByteArray("1  2  3") << QStringList{"1", "2", "3"} << QList<double>{11, 17, 23};
        QTest::newRow("postal code rear")
            << left << QByteArray("4  5  6  7") << QStringList{"4", "5", "6", "7"} << QList<double>{11, 17, 23, 29};
        QTest::newRow("right-aligned amount ends in the last cell")
            << QByteArray("text field=f x=10 y=5 width=12 pitch=2 align=right") << QByteArray("1 2 3")
            << QStringList{"1", "2", "3"} << QList<double>{13, 17, 21};
        QTest::newRow("right-aligned, as many bytes as cells")
            << QByteArray("text field=f x=10 y=5 width=6 pitch=2 align=right") << QByteArray("987")
            << QStringList{"9", "8", "7"} << QList<double>{11, 13, 15};
        QTest::newRow("centred") << QByteArray("text field=f x=10 y=5 width=10 pitch=2 align=center")
                                 << QByteArray("12") << QStringList{"1", "2"} << QList<double>{13, 15};
        QTest::newRow("double-byte character spans two steps")
            << left << sj(QStringLiteral("山1")) << QStringList{"山", "1"} << QList<double>{12, 15};
        QTest::newRow("half-width katakana is one step")
            << left << sj(QStringLiteral("ｱ1")) << QStringList{"ｱ", "1"} << QList<double>{11, 13};
        QTest::newRow("account part with the last two digits together")
            << QByteArray("text field=f x=10 y=5 pitch=2.5") << QByteArray("1 2 3 4 56")
            << QStringList{"1", "2", "3", "4", "5", "6"} << QList<double>{11.25, 16.25, 21.25, 26.25, 31.25, 33.75};
        QTest::newRow("blanks only draw nothing") << left << QByteArray("      ") << QStringList{} << QList<double>{};
    }
    void pitchPutsEveryByteInItsCell()
    {
        QFETCH(QByteArray, item);
        QFETCH(QByteArray, value);
        QFETCH(QStringList, texts);
        QFETCH(QList<double>, centresMm);
        const ReportDocument doc = document(item + " size=10\n", {"f"}, {{value}});
        const QList<RecordedText> drawn = draw(doc, 0);
        QStringList got;
        for (const RecordedText& t : drawn)
            got << t.text;
        QCOMPARE(got, texts);
        for (int i = 0; i < drawn.size(); ++i) {
            const RecordedText& t = drawn.at(i);
            QVERIFY2(qAbs(t.at.x() + advance(t) / 2 - centresMm.at(i) * kPxPerMm) < 0.01,
                     qPrintable(QStringLiteral("%1 centred at %2 px, not %3 mm")
                                    .arg(t.text)
                                    .arg(t.at.x() + advance(t) / 2)
                                    .arg(centresMm.at(i))));
            // The box's top is y: the baseline sits one ascent below it.
            QVERIFY(qAbs(t.at.y() - (5 * kPxPerMm + ascent(t))) < 0.01);
        }
    }

    void plainTextIsAlignedInItsBox_data()
    {
        QTest::addColumn<QByteArray>("align");
        QTest::addColumn<double>("anchorMm"); // where the left end, centre or right end falls
        QTest::addColumn<double>("part");     // 0 left end, 0.5 centre, 1 right end
        QTest::newRow("left") << QByteArray("left") << 10.0 << 0.0;
        QTest::newRow("centre") << QByteArray("center") << 25.0 << 0.5;
        QTest::newRow("right") << QByteArray("right") << 40.0 << 1.0;
    }
    void plainTextIsAlignedInItsBox()
    {
        QFETCH(QByteArray, align);
        QFETCH(double, anchorMm);
        QFETCH(double, part);
        const ReportDocument doc = document("text field=name x=10 y=20 width=30 size=12 align=" + align + "\n",
                                            {"name"}, {{sj(QStringLiteral("山田太郎"))}});
        const QList<RecordedText> drawn = draw(doc, 0);
        QCOMPARE(drawn.size(), 1);
        QCOMPARE(drawn.at(0).text, QStringLiteral("山田太郎"));
        QVERIFY(qAbs(drawn.at(0).at.x() + part * advance(drawn.at(0)) - anchorMm * kPxPerMm) < 0.01);
        QCOMPARE(drawn.at(0).font.family(), QStringLiteral("ＭＳ Ｐゴシック"));
        QCOMPARE(drawn.at(0).font.pointSizeF(), 12.0);
    }

    // Digit cells: one character a cell, centred, the blanks a value carries skipped, filling from the
    // right or from the left; more characters than cells keep those nearest the side filled from.
    void digitCellsTakeOneCharacterEach_data()
    {
        QTest::addColumn<QByteArray>("item");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QList<int>>("cells"); // from 1
        QTest::addColumn<bool>("misfit");
        const QByteArray account = "text field=f x=39.56 y=15 width=35.56 height=8 cells=7 fill=right size=14";
        QTest::newRow("account number 123456 in cells 2-7 of 7")
            << account << QByteArray("1 2 3 4 56") << QStringList{"1", "2", "3", "4", "5", "6"}
            << QList<int>{2, 3, 4, 5, 6, 7} << false;
        QTest::newRow("12 in cells 6-7") << account << QByteArray("1 2") << QStringList{"1", "2"} << QList<int>{6, 7}
                                         << false;
        QTest::newRow("seven digits fill every cell")
            << account << QByteArray("1 2 3 4 5 6 7") << QStringList{"1", "2", "3", "4", "5", "6", "7"}
            << QList<int>{1, 2, 3, 4, 5, 6, 7} << false;
        QTest::newRow("nine digits: the last seven, marked")
            << account << QByteArray("123456789") << QStringList{"3", "4", "5", "6", "7", "8", "9"}
            << QList<int>{1, 2, 3, 4, 5, 6, 7} << true;
        const QByteArray amount = "text field=f x=80.2 y=15 width=40.64 height=8 cells=8 fill=right size=14";
        QTest::newRow("amount 12500 ends in the last cell")
            << amount << QByteArray("1 2 5 0 0") << QStringList{"1", "2", "5", "0", "0"} << QList<int>{4, 5, 6, 7, 8}
            << false;
        const QByteArray zip = "text field=f x=14.5 y=58 height=4 cells=3 pitch=2.5 fill=left size=8";
        QTest::newRow("postal code front from the left, its spacing skipped")
            << zip << QByteArray("1  2  3") << QStringList{"1", "2", "3"} << QList<int>{1, 2, 3} << false;
        QTest::newRow("two digits from the left")
            << zip << QByteArray("1  2") << QStringList{"1", "2"} << QList<int>{1, 2} << false;
        QTest::newRow("four digits from the left: the first three, marked")
            << zip << QByteArray("1234") << QStringList{"1", "2", "3"} << QList<int>{1, 2, 3} << true;
        QTest::newRow("double-byte digits and ideographic blanks")
            << QByteArray("text field=f x=10 y=10 width=30 height=8 cells=3 fill=right size=12")
            << sj(QStringLiteral("１　２")) << QStringList{"１", "２"} << QList<int>{2, 3} << false;
        QTest::newRow("blanks only draw nothing")
            << account << QByteArray("   ") << QStringList{} << QList<int>{} << false;
    }
    void digitCellsTakeOneCharacterEach()
    {
        QFETCH(QByteArray, item);
        QFETCH(QByteArray, value);
        QFETCH(QStringList, texts);
        QFETCH(QList<int>, cells);
        QFETCH(bool, misfit);
        const ReportDocument doc = document(item + "\n", {"f"}, {{value}}, {}, "page width=180 height=114\n");
        const TemplateText& t = doc.report().texts.at(0);
        const QList<RecordedText> drawn = draw(doc, 0);
        QStringList got;
        for (const RecordedText& d : drawn)
            got << d.text;
        QCOMPARE(got, texts);
        for (int i = 0; i < drawn.size(); ++i) {
            const RecordedText& d = drawn.at(i);
            const double centre = (d.at.x() + d.stretch * advance(d) / 2) / kPxPerMm;
            const double expected = t.x + (cells.at(i) - 0.5) * t.pitch;
            QVERIFY2(qAbs(centre - expected) < 0.01, qPrintable(QStringLiteral("%1 centred at %2 mm, not %3 (cell %4)")
                                                                    .arg(d.text)
                                                                    .arg(centre)
                                                                    .arg(expected)
                                                                    .arg(cells.at(i))));
            // Inside its cell, and in the box's height.
            QVERIFY(d.at.x() >= (t.x + (cells.at(i) - 1) * t.pitch) * kPxPerMm - 0.01);
            QVERIFY(d.at.x() + d.stretch * advance(d) <= (t.x + cells.at(i) * t.pitch) * kPxPerMm + 0.01);
            QVERIFY(d.at.y() - ascent(d) >= t.y * kPxPerMm - 0.01);
        }
        QCOMPARE(doc.misfit(0, 0), misfit);
        QCOMPARE(doc.misfits().size(), misfit ? 1 : 0);
    }

    // A text wider than its box is condensed, then set smaller, then broken into two lines where the
    // box is tall enough; what still does not fit is clipped. Never does it leave its box.
    void textIsFittedIntoItsBox_data()
    {
        QTest::addColumn<QByteArray>("box");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("lines");
        QTest::addColumn<bool>("condensed");
        QTest::addColumn<bool>("smaller");
        QTest::addColumn<bool>("misfit");
        const QString name20 = QString(20, u'漢');
        QTest::newRow("fits as it is") << QByteArray("width=60 height=6 size=10") << QStringLiteral("山田太郎") << 1
                                       << false << false << false;
        QTest::newRow("a little too wide: condensed")
            << QByteArray("width=40 height=6 size=12") << QString(12, u'漢') << 1 << true << false << false;
        QTest::newRow("much too wide: condensed and smaller")
            << QByteArray("width=30 height=6 size=12") << name20 << 1 << true << true << false;
        QTest::newRow("too wide for one line at the smallest: two lines")
            << QByteArray("width=20 height=10 size=12") << name20 << 2 << true << true << false;
        QTest::newRow("two lines broken at a blank")
            << QByteArray("width=16 height=12 size=12") << QStringLiteral("東京都千代田区 千代田一丁目一番地") << 2
            << true << true << false;
        QTest::newRow("too wide for its short box: clipped")
            << QByteArray("width=10 height=4 size=12") << name20 << 1 << true << true << true;
        QTest::newRow("too much for two lines: clipped")
            << QByteArray("width=10 height=8 size=12") << QString(40, u'漢') << 2 << true << true << true;
        QTest::newRow("right-aligned, condensed")
            << QByteArray("width=30 height=6 size=12 align=right") << QString(11, u'漢') << 1 << true << false << false;
        QTest::newRow("centred, smaller")
            << QByteArray("width=20 height=6 size=12 align=center") << QString(10, u'漢') << 1 << true << true << false;
        QTest::newRow("a box lower than the font: smaller")
            << QByteArray("width=60 height=3 size=14") << QStringLiteral("山田") << 1 << false << true << false;
    }
    void textIsFittedIntoItsBox()
    {
        QFETCH(QByteArray, box);
        QFETCH(QString, text);
        QFETCH(int, lines);
        QFETCH(bool, condensed);
        QFETCH(bool, smaller);
        QFETCH(bool, misfit);
        const ReportDocument doc = document("text field=f x=10 y=20 " + box + "\n", {"f"}, {{sj(text)}});
        const QRectF boxPx(doc.itemBox(0).topLeft() * kPxPerMm, doc.itemBox(0).size() * kPxPerMm);
        const QList<RecordedText> drawn = draw(doc, 0);
        QCOMPARE(drawn.size(), lines);
        QString shown;
        for (const RecordedText& d : drawn)
            shown += d.text;
        if (!misfit)
            QCOMPARE(QString(shown).remove(u' '), QString(text).remove(u' '));
        bool wasCondensed = false;
        bool wasSmaller = false;
        for (const RecordedText& d : drawn) {
            wasCondensed = wasCondensed || d.stretch < 0.999;
            wasSmaller = wasSmaller || d.font.pointSizeF() < doc.report().texts.at(0).size - 0.01;
            // (A device's rounding may condense a text a hair more than the floor.)
            QVERIFY2(d.stretch >= 0.6 * 0.98, qPrintable(QString::number(d.stretch)));
            QVERIFY2(d.font.pointSizeF() >= 6 - 1e-9, qPrintable(QString::number(d.font.pointSizeF())));
            const QRectF ink(d.at.x(), d.at.y() - ascent(d), d.stretch * advance(d), ascent(d));
            if (misfit) {
                // What does not fit is cut at the box.
                QVERIFY(!d.clip.isEmpty());
                QVERIFY2(boxPx.adjusted(-0.5, -0.5, 0.5, 0.5).contains(d.clip),
                         qPrintable(QStringLiteral("clip %1,%2 %3x%4")
                                        .arg(d.clip.x())
                                        .arg(d.clip.y())
                                        .arg(d.clip.width())
                                        .arg(d.clip.height())));
            } else {
                QVERIFY2(boxPx.adjusted(-0.02, -0.02, 0.02, 0.02).contains(ink),
                         qPrintable(QStringLiteral("%1 at %2,%3 width %4 leaves box %5,%6 %7x%8")
                                        .arg(d.text)
                                        .arg(ink.x())
                                        .arg(ink.y())
                                        .arg(ink.width())
                                        .arg(boxPx.x())
                                        .arg(boxPx.y())
                                        .arg(boxPx.width())
                                        .arg(boxPx.height())));
            }
        }
        QCOMPARE(wasCondensed, condensed);
        QCOMPARE(wasSmaller, smaller);
        QCOMPARE(doc.misfit(0, 0), misfit);
        if (drawn.size() == 2) {
            QVERIFY(drawn.at(1).at.y() > drawn.at(0).at.y());
            // Two lines part at a blank where there is one.
            if (!misfit && text.contains(u' '))
                QCOMPARE(drawn.at(0).text, text.section(u' ', 0, 0));
        }
        if (box.contains("align=right"))
            QVERIFY(qAbs(drawn.at(0).at.x() + drawn.at(0).stretch * advance(drawn.at(0)) - boxPx.right()) < 0.05);
        if (box.contains("align=center"))
            QVERIFY(qAbs(drawn.at(0).at.x() + drawn.at(0).stretch * advance(drawn.at(0)) / 2 - boxPx.center().x()) <
                    0.05);
    }

    // The list names a box as the form shows it (its caption), each once: the slip's and the
    // receipt's amount are told apart; a box without a caption goes by its field's name, once.
    void misfitsNameEachBoxOnceAsTheFormShowsIt()
    {
        const ReportDocument doc =
            document("text field=amount_prn caption=\"金額 (払込票)\" x=10 y=10 width=10 height=6 cells=2 size=12\n"
                     "text field=amount_prn caption=\"金額 (受領証)\" x=10 y=20 width=10 height=6 cells=2 size=12\n"
                     "text field=name x=10 y=30 width=5 height=4 size=12\n"
                     "text field=name x=10 y=40 width=5 height=4 size=12\n",
                     {"amount_prn", "name", "id_no"},
                     {{"1 2 3", sj(QStringLiteral("山田太郎")), "3"}, {"1 2", sj(QStringLiteral("山")), "4"}});
        const QList<ReportDocument::Misfit>& misfits = doc.misfits();
        QCOMPARE(misfits.size(), 1);
        QCOMPARE(misfits.at(0).memberNo, QStringLiteral("3"));
        QCOMPARE(misfits.at(0).items, (QStringList{QStringLiteral("金額 (払込票)"), QStringLiteral("金額 (受領証)"),
                                                   QStringLiteral("name")}));
    }

    // A sheet that prints the telephone's groups of a number the member rule could not cut is listed,
    // with the number; numbers cut at "-" or by their pattern are not, nor a report without the groups.
    void aTelephoneThatCannotBeCutIsListed()
    {
        const QStringList fields{"tel", "tel_f", "tel_m", "tel_r", "id_no"};
        const QList<QList<QByteArray>> rows{{"0312345678", "", "", "", "1"},
                                            {"03-1234-5678", "03", "1234", "5678", "2"},
                                            {"09012345678", "090", "1234", "5678", "3"},
                                            {"", "", "", "", "4"}};
        const ReportDocument groups = document("text field=tel_f x=10 y=10 width=60 height=6 size=10\n"
                                               "text field=tel_m x=10 y=20 width=20 height=6 size=10\n",
                                               fields, rows);
        QCOMPARE(groups.misfits().size(), 1);
        QCOMPARE(groups.misfits().at(0).memberNo, QStringLiteral("1"));
        QCOMPARE(groups.misfits().at(0).items, QStringList{QStringLiteral("電話番号「0312345678」は区切れません")});
        const ReportDocument whole = document("text field=tel x=10 y=10 width=60 height=6 size=10\n", fields, rows);
        QVERIFY(whole.misfits().isEmpty());
    }

    // The sheets where something did not fit are known before output, with the member's number and
    // the names of what did not fit; the preview marks those boxes, a printed sheet never.
    void sheetsThatDidNotFitAreListedAndMarked()
    {
        const ReportDocument doc = document("text field=name x=10 y=10 width=20 height=4 size=12\n"
                                            "text field=address1 x=10 y=20 width=40 height=4 size=12\n"
                                            "text param=SenderName x=10 y=30 width=60 height=5\n",
                                            {"name", "address1", "id_no"},
                                            {{sj(QStringLiteral("山田")), sj(QStringLiteral("東京")), "1"},
                                             {sj(QString(30, u'漢')), sj(QStringLiteral("東京")), "2"},
                                             {sj(QStringLiteral("佐藤")), sj(QString(60, u'住')), "3"},
                                             {sj(QString(30, u'漢')), sj(QString(60, u'住')), "4"}},
                                            {{QStringLiteral("SenderName"), sj(QStringLiteral("差出人"))}});
        const QList<ReportDocument::Misfit>& misfits = doc.misfits();
        QCOMPARE(misfits.size(), 3);
        QCOMPARE(misfits.at(0).sheet, 1);
        QCOMPARE(misfits.at(0).memberNo, QStringLiteral("2"));
        QCOMPARE(misfits.at(0).items, QStringList{"name"});
        QCOMPARE(misfits.at(1).memberNo, QStringLiteral("3"));
        QCOMPARE(misfits.at(1).items, QStringList{"address1"});
        QCOMPARE(misfits.at(2).items, (QStringList{"name", "address1"}));
        // Marks: one red box per item that did not fit, in the preview only.
        const auto marks = [&](int page, bool mark) {
            RecordingDevice device;
            QPainter p(&device);
            doc.drawPage(p, page, false, mark);
            p.end();
            return device.recording().rects;
        };
        QCOMPARE(marks(0, true), 0);
        QCOMPARE(marks(1, true), 1);
        QCOMPARE(marks(3, true), 2);
        QCOMPARE(marks(3, false), 0);
    }

    // Each sheet shows its own row; parameters and fixed texts are the same on all; a value
    // never set or null prints nothing.
    void valuesComeFromRowsParametersAndTheTemplate()
    {
        const ReportDocument doc =
            document("text field=name x=0 y=0\n"
                     "text param=sendername x=0 y=10\n"
                     "text param=NeverSet x=0 y=20\n"
                     "text fixed=\"様\" x=50 y=0 bold=yes\n",
                     {"name"}, {{sj(QStringLiteral("山田"))}, {QByteArray()}, {"Sato"}},
                     {{QStringLiteral("SenderName"), sj(QStringLiteral("差出人"))}, {QStringLiteral("Other"), "x"}});
        QCOMPARE(doc.pageCount(), 3);
        const auto texts = [&](int page) {
            QStringList out;
            for (const RecordedText& t : draw(doc, page))
                out << t.text;
            return out;
        };
        QCOMPARE(texts(0), (QStringList{"山田", "差出人", "様"}));
        QCOMPARE(texts(1), (QStringList{"差出人", "様"}));
        QCOMPARE(texts(2), (QStringList{"Sato", "差出人", "様"}));
        QVERIFY(draw(doc, 0).at(2).font.bold());
        QVERIFY(draw(doc, 3).isEmpty()); // past the last sheet
    }

    void outlineIsDrawnOnlyWhenAsked()
    {
        const ReportDocument doc = document("box x=1 y=1 width=10 height=5\nline x1=0 y1=0 x2=10 y2=0\n"
                                            "label text=\"お届け先\" x=1 y=1\ntext field=name x=2 y=2\n",
                                            {"name"}, {{"A"}});
        const Recording plain = record(doc, 0, false);
        QCOMPARE(plain.texts.size(), 1);
        QCOMPARE(plain.rects + plain.lines + plain.paths, 0);
        const Recording withOutline = record(doc, 0, true);
        QString texts;
        for (const RecordedText& t : withOutline.texts)
            texts += t.text;
        QCOMPARE(texts, QStringLiteral("お届け先A")); // the form first, the data over it
        QCOMPARE(withOutline.rects, 1);
        QCOMPARE(withOutline.lines, 1);
    }

    // The PDF's sheet is the template's size; a text placed at x mm lands x mm from the left.
    void pdfIsTheTemplatesSheetMillimetreForMillimetre_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QSizeF>("sizeMm");
        QTest::newRow("waybill, portrait") << QByteArray("page width=108 height=178\n") << QSizeF(108, 178);
        QTest::newRow("payment slip, landscape")
            << QByteArray("page width=219 height=95 orientation=landscape\n") << QSizeF(219, 95);
        QTest::newRow("wide sheet fed portrait") << QByteArray("page width=219 height=95\n") << QSizeF(219, 95);
    }
    void pdfIsTheTemplatesSheetMillimetreForMillimetre()
    {
        QFETCH(QByteArray, page);
        QFETCH(QSizeF, sizeMm);
        const ReportDocument doc = document("text field=code x=20 y=30 size=10\n", {"code"}, {{"XQZ"}}, {}, page);
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
        QVERIFY(doc.writePdf(pdf));
        const QSizeF pt = reporttest::pdfPageSizePt(pdf);
        QVERIFY2(qAbs(pt.width() - sizeMm.width() / 25.4 * 72) < 0.5 &&
                     qAbs(pt.height() - sizeMm.height() / 25.4 * 72) < 0.5,
                 qPrintable(QStringLiteral("%1 x %2 pt").arg(pt.width()).arg(pt.height())));
        const QString boxes = QString::fromUtf8(
            reporttest::poppler(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")}));
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\"[^>]*>XQZ</word>"))
                .match(boxes);
        QVERIFY2(m.hasMatch(), qPrintable(boxes));
        QVERIFY2(qAbs(m.captured(1).toDouble() - 20 / 25.4 * 72) < 1, qPrintable(m.captured(1)));
        QVERIFY2(qAbs(m.captured(2).toDouble() - 30 / 25.4 * 72) < 2, qPrintable(m.captured(2)));
    }

    // A PDF's sheet is the template's exact size, not rounded to whole points (180 × 114 mm is
    // 510.236 × 323.150 pt, and was 510 × 323), and a text stands as far from the top-left corner as
    // on a sheet whose size is whole points; every page is so.
    void pdfSheetIsTheExactSize_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QSizeF>("sizeMm");
        QTest::newRow("payment slip, landscape")
            << QByteArray("page width=180 height=114 orientation=landscape\n") << QSizeF(180, 114);
        QTest::newRow("waybill") << QByteArray("page width=108 height=178\n") << QSizeF(108, 178);
        QTest::newRow("rounded up") << QByteArray("page width=100.3 height=50.4\n") << QSizeF(100.3, 50.4);
    }
    void pdfSheetIsTheExactSize()
    {
        QFETCH(QByteArray, page);
        QFETCH(QSizeF, sizeMm);
        QTemporaryDir dir;
        const auto wordAt = [](const QString& pdf) {
            const QString boxes = QString::fromUtf8(
                reporttest::poppler(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")}));
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral("<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\"[^>]*>XQZ</word>"))
                    .match(boxes);
            return m.hasMatch() ? QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()) : QPointF(-1, -1);
        };
        const QString pdf = dir.filePath(QStringLiteral("exact.pdf"));
        const ReportDocument doc =
            document("text field=code x=20 y=30 size=10\n", {"code"}, {{"XQZ"}, {"XQZ"}}, {}, page);
        QVERIFY(doc.writePdf(pdf));
        QCOMPARE(reporttest::pdfPages(pdf), 2);
        const QByteArray info =
            reporttest::poppler(QStringLiteral("pdfinfo"), {QStringLiteral("-l"), QStringLiteral("2"), pdf});
        for (const char* line : {"Page    1 size:", "Page    2 size:"}) {
            const qsizetype at = info.indexOf(line);
            QVERIFY2(at >= 0, info.constData());
            const QList<QByteArray> parts = info.mid(at + qstrlen(line)).split('\n').first().simplified().split(' ');
            QVERIFY(parts.size() >= 3);
            QVERIFY2(qAbs(parts.at(0).toDouble() - sizeMm.width() / 25.4 * 72) < 0.002 &&
                         qAbs(parts.at(2).toDouble() - sizeMm.height() / 25.4 * 72) < 0.002,
                     info.constData());
        }
        // 254 × 127 mm is 720 × 360 pt exactly.
        const QString whole = dir.filePath(QStringLiteral("whole.pdf"));
        QVERIFY(document("text field=code x=20 y=30 size=10\n", {"code"}, {{"XQZ"}}, {}, "page width=254 height=127\n")
                    .writePdf(whole));
        const QPointF a = wordAt(pdf);
        const QPointF b = wordAt(whole);
        QVERIFY(a.x() > 0 && b.x() > 0);
        QVERIFY2(qAbs(a.x() - b.x()) < 0.01 && qAbs(a.y() - b.y()) < 0.01,
                 qPrintable(QStringLiteral("%1, %2 against %3, %4").arg(a.x()).arg(a.y()).arg(b.x()).arg(b.y())));
    }

    void pdfCarriesJapaneseInAnEmbeddedFont()
    {
        const ReportDocument doc = document("text field=name x=10 y=10 size=14\ntext fixed=\"様\" x=80 y=10 size=14\n",
                                            {"name"}, {{sj(QStringLiteral("山田太郎"))}});
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("jp.pdf"));
        QVERIFY(doc.writePdf(pdf));
        const QString text = reporttest::pdfText(pdf, 1);
        QVERIFY2(text.contains(QRegularExpression(QStringLiteral("山田太郎\\s+様"))), qPrintable(text));
        const QString fonts = QString::fromUtf8(reporttest::poppler(QStringLiteral("pdffonts"), {pdf}));
        QVERIFY2(fonts.contains(QRegularExpression(QStringLiteral("IPAPGothic\\s.*\\syes\\s"))), qPrintable(fonts));
    }

    // What the preview shows of the form is never in a file: no ink of the outline's colour on
    // the PDF's sheet, though the same sheet drawn for the preview has it.
    void outlineNeverReachesThePdf()
    {
        const ReportDocument doc = document(
            "box x=5 y=5 width=90 height=60\nline x1=5 y1=30 x2=95 y2=30\nlabel text=\"お届け先\" x=6 y=6 size=12\n"
            "text field=name x=10 y=10 size=14\n",
            {"name"}, {{sj(QStringLiteral("山田太郎"))}});
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("o.pdf"));
        QVERIFY(doc.writePdf(pdf));
        const QImage printed = reporttest::pdfImage(pdf, 1, 100);
        QVERIFY(!printed.isNull());
        QCOMPARE(reporttest::inkPixels(printed), 0);
        QVERIFY(reporttest::darkPixels(printed) > 50);
        QVERIFY(!reporttest::pdfText(pdf, 1).contains(QStringLiteral("お届け先")));

        QImage preview(425, 701, QImage::Format_RGB32);
        preview.setDotsPerMeterX(3937);
        preview.setDotsPerMeterY(3937);
        preview.fill(Qt::white);
        QPainter p(&preview);
        doc.drawPage(p, 0, true);
        p.end();
        QVERIFY(reporttest::inkPixels(preview) > 100);
    }

    void reportWithoutRowsWritesOneBlankSheet()
    {
        const ReportDocument doc = document("text field=name x=10 y=10\ntext fixed=\"様\" x=80 y=10\n", {"name"}, {});
        QCOMPARE(doc.pageCount(), 0);
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("empty.pdf"));
        QVERIFY(doc.writePdf(pdf));
        QCOMPARE(reporttest::pdfPages(pdf), 1);
        QCOMPARE(reporttest::pdfText(pdf, 1).trimmed(), QString());
    }

    // A stopped output leaves no file, and a file that was there before stays as it was.
    void stoppedPdfLeavesNoFile_data()
    {
        QTest::addColumn<bool>("existed");
        QTest::newRow("new file") << false;
        QTest::newRow("file there before") << true;
    }
    void stoppedPdfLeavesNoFile()
    {
        QFETCH(bool, existed);
        const ReportDocument doc = document("text field=name x=10 y=10\n", {"name"}, {{"a"}, {"b"}, {"c"}});
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("stop.pdf"));
        if (existed) {
            QFile f(pdf);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("old");
        }
        QList<int> seen;
        QVERIFY(!doc.writePdf(pdf, [&](int done, int total) {
            seen << done << total;
            return done < 2;
        }));
        QCOMPARE(seen, (QList<int>{1, 3, 2, 3}));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), existed ? QStringList{"stop.pdf"} : QStringList{});
        if (existed) {
            QFile f(pdf);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("old"));
        }
    }

    void unwritablePdfIsAnError()
    {
        const ReportDocument doc = document("text field=name x=10 y=10\n", {"name"}, {{"a"}});
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("no/such/folder/x.pdf"));
        try {
            doc.writePdf(pdf);
            QFAIL("no error for a file that cannot be written");
        } catch (const Error& e) {
            QVERIFY2(e.message().startsWith(pdf + QStringLiteral(" に書き込めません")), qPrintable(e.message()));
        }
    }
};

QTEST_MAIN(TestReportRender)
#include "tst_reportrender.moc"
