// The two shipped forms printed at their worst: every field at its full width in bytes, all
// double-byte, a telephone number without hyphens, a ten-digit amount. Read back from the PDF's word
// boxes (pdftotext -bbox): no text leaves its box or the sheet, no two items overlap, and the payment
// slip's digits sit in the measured cells of the standard counter slip.
#include "common/DataFixture.h"
#include "common/Seams.h"
#include "printing/jobs/PrintJobs.h"
#include "report/ReportConnection.h"
#include "report/ReportProject.h"
#include "report/ReportTemplate.h"
#include "report/ReportTestSupport.h"
#include "report/dialogs/StandardReportOutput.h"

#include <QDir>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

using namespace halvenna;
using reporttest::sj;

namespace {

constexpr double kMmPerPt = 25.4 / 72;

QString templatesDir()
{
    return QStringLiteral(HALVENNA_TEMPLATES_DIR "/");
}

struct Word
{
    QString text;
    QRectF mm;
};

// The words of every page with their boxes in millimetres from the sheet's top-left corner.
QList<QList<Word>> pdfWords(const QString& pdf)
{
    const QString html = QString::fromUtf8(
        reporttest::poppler(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")}));
    QList<QList<Word>> pages;
    static const QRegularExpression tag(QStringLiteral(
        R"re(<page [^>]*>|<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"));
    for (auto it = tag.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (m.captured(0).startsWith(QStringLiteral("<page"))) {
            pages.append(QList<Word>());
            continue;
        }
        if (pages.isEmpty())
            continue;
        const QPointF topLeft(m.captured(1).toDouble() * kMmPerPt, m.captured(2).toDouble() * kMmPerPt);
        const QPointF bottomRight(m.captured(3).toDouble() * kMmPerPt, m.captured(4).toDouble() * kMmPerPt);
        pages.last().append({m.captured(5), QRectF(topLeft, bottomRight)});
    }
    return pages;
}

// The boxes a template's texts are set in (a digit-cell item's box holds all its cells).
struct Box
{
    QRectF mm;
    QString item; // the field or parameter
};

QList<Box> boxesOf(const QString& file)
{
    const ReportTemplate t = ReportTemplate::load(templatesDir() + file);
    QList<Box> boxes;
    for (const TemplateText& text : t.reports().at(t.defaultReport()).texts)
        boxes.append({QRectF(text.x, text.y, text.width, text.height), text.name});
    return boxes;
}

// The box a word was set in: the one that holds its middle.
const Box* boxOf(const QList<Box>& boxes, const Word& w)
{
    for (const Box& b : boxes)
        if (b.mm.contains(w.mm.center()))
            return &b;
    return nullptr;
}

} // namespace

class TestFormsFit : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> tmp_;
    std::unique_ptr<DataFixture> fx_;
    std::unique_ptr<StandardReportOutput> output_;
    std::unique_ptr<ReportProject> project_;
    std::unique_ptr<ReportConnection> rvtbPrintMaster_;
    std::unique_ptr<ReportConnection> rvtbAccount_;

    static QString kanji(int n) { return QString(n, u'漢'); }

    // A member whose every field is full to its width with double-byte characters, marked, with a
    // contents row and an amount.
    void addWorstMember(int id, qint32 amount)
    {
        Table& m = fx_->dm->tbMemberMaster;
        m.append();
        m.setFieldValue(QStringLiteral("id_no"), FieldValue::integer(id));
        for (const char* f : {"name", "name_kana"})
            m.setFieldValue(QLatin1String(f), FieldValue::fromString(kanji(m.fieldDef(QLatin1String(f)).width / 2)));
        m.setFieldValue(QStringLiteral("zip"), FieldValue::text("123-4567"));
        for (const char* f : {"address1", "address2", "notes"})
            m.setFieldValue(QLatin1String(f), FieldValue::fromString(kanji(m.fieldDef(QLatin1String(f)).width / 2)));
        m.setFieldValue(QStringLiteral("tel"), FieldValue::text("03123456789012345678"));
        m.setFieldValue(QStringLiteral("print"), FieldValue::logical(true));
        m.post();
        Table& c = fx_->dm->tbContents;
        c.edit();
        c.setFieldValue(QStringLiteral("item"),
                        FieldValue::fromString(kanji(c.fieldDef(QStringLiteral("item")).width / 2)));
        c.setFieldValue(QStringLiteral("value"), FieldValue::text("1"));
        c.post();
        Table& a = fx_->dm->tbAccount;
        a.edit();
        a.setFieldValue(QStringLiteral("amount"), FieldValue::integer(amount));
        a.post();
    }

    SenderSettingsData worstSender(const QByteArray& accountNo3) const
    {
        SenderSettingsData s;
        s.SenderName = sj(kanji(20));
        s.SenderZip = "123-4567";
        s.SenderAddress1 = sj(kanji(40));
        s.SenderAddress2 = sj(kanji(40));
        s.SenderTel = "0312345678"; // no hyphens: the whole number goes to the last group
        s.SenderShopCode1 = "1234567890";
        s.SenderShopCode2 = "1234567890";
        s.CustomerCode = "12345678901234567890";
        s.AccountNo1 = "00120";
        s.AccountNo2 = "7";
        s.AccountNo3 = accountNo3;
        return s;
    }

    // Stages the marked members for a form, runs its template to a PDF, returns the PDF's path.
    QString printToPdf(FormKind form, const SenderSettingsData& sender)
    {
        PrintJobs jobs(*fx_->dm);
        if (form == FormKind::Waybill) {
            jobs.stageBulkWaybills(PanelDates{});
            prepareInvoiceReport(*project_, sender, templatesDir());
        } else {
            jobs.stageBulkPaymentSlips();
            prepareAccountReport(*project_, sender, templatesDir());
        }
        const QString pdf =
            tmp_->filePath(form == FormKind::Waybill ? QStringLiteral("waybill.pdf") : QStringLiteral("slip.pdf"));
        QFile::remove(pdf);
        StandardReportOutput::optionsSeam().answer(OutputChoice{OutputChoice::Destination::File, 1, pdf});
        runPreparedReport(*project_);
        return pdf;
    }

private Q_SLOTS:
    void initTestCase() { reporttest::useFormFont(); }

    void init()
    {
        seams::begin();
        tmp_ = std::make_unique<QTemporaryDir>();
        fx_ = std::make_unique<DataFixture>();
        // No settings file in the test's folder: every form unmoved.
        output_ = std::make_unique<StandardReportOutput>(tmp_->filePath(QStringLiteral("Kelvaro.ini")));
        project_ = std::make_unique<ReportProject>(output_.get());
        rvtbPrintMaster_ =
            std::make_unique<ReportConnection>(QStringLiteral("rvtbPrintMaster"), &fx_->dm->tbPrintMember);
        rvtbAccount_ = std::make_unique<ReportConnection>(QStringLiteral("rvtbAccount"), &fx_->dm->tbAccount);
        project_->addConnection(*rvtbPrintMaster_);
        project_->addConnection(*rvtbAccount_);
    }

    void cleanup()
    {
        project_.reset();
        output_.reset();
        rvtbAccount_.reset();
        rvtbPrintMaster_.reset();
        fx_.reset();
        seams::end();
    }

    void worstCaseStaysInItsBoxes_data()
    {
        QTest::addColumn<int>("form");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QSizeF>("sheet");
        QTest::addColumn<QStringList>("misfits"); // the items that cannot fit, in the run's list
        // The widest telephone number, without "-", cannot be cut into its groups: none is printed,
        // and each sheet is listed for it.
        const QString tel = QStringLiteral("電話番号「03123456789012345678」は区切れません");
        QTest::newRow("waybill") << int(FormKind::Waybill) << QStringLiteral("Invoice.Rav") << QSizeF(108, 178)
                                 << QStringList{tel, tel};
        // Ten digits for eight cells: the amount cannot fit, on the slip and on the receipt.
        const QStringList slip{QStringLiteral("金額 (払込票)"), QStringLiteral("金額 (受領証)"), tel};
        QTest::newRow("payment slip") << int(FormKind::PaymentSlip) << QStringLiteral("Account.Rav") << QSizeF(180, 114)
                                      << slip + slip;
    }
    void worstCaseStaysInItsBoxes()
    {
        QFETCH(int, form);
        QFETCH(QString, file);
        QFETCH(QSizeF, sheet);
        QFETCH(QStringList, misfits);
        addWorstMember(1, 2147483647);
        addWorstMember(2, 2147483647);
        const QString pdf = printToPdf(FormKind(form), worstSender("123456"));
        QCOMPARE(reporttest::pdfPages(pdf), 2);
        // The run told of what could not fit, sheet by sheet.
        const auto asked = StandardReportOutput::optionsSeam().requests();
        QCOMPARE(asked.size(), 1);
        QStringList items;
        for (const QString& line : asked.first().misfits)
            items << line.section(u':', 1).trimmed().split(QStringLiteral("、"));
        QCOMPARE(items, misfits);

        const QList<Box> boxes = boxesOf(file);
        const QList<QList<Word>> pages = pdfWords(pdf);
        QCOMPARE(pages.size(), 2);
        for (const QList<Word>& words : pages) {
            QVERIFY(words.size() > 10);
            QList<std::pair<const Box*, QRectF>> placed;
            for (const Word& w : words) {
                const QString where = QStringLiteral("'%1' at %2,%3-%4,%5 mm")
                                          .arg(w.text)
                                          .arg(w.mm.left())
                                          .arg(w.mm.top())
                                          .arg(w.mm.right())
                                          .arg(w.mm.bottom());
                QVERIFY2(QRectF(QPointF(0, 0), sheet).contains(w.mm),
                         qPrintable(where + QStringLiteral(" off the sheet")));
                const Box* box = boxOf(boxes, w);
                QVERIFY2(box, qPrintable(where + QStringLiteral(" in no box")));
                QVERIFY2(w.mm.left() >= box->mm.left() - 0.2 && w.mm.right() <= box->mm.right() + 0.2,
                         qPrintable(where + QStringLiteral(" leaves the box of ") + box->item));
                // The middle band of each word, to tell items apart whatever the font's extents.
                const QRectF band(w.mm.left(), w.mm.center().y() - 0.3 * w.mm.height(), w.mm.width(),
                                  0.6 * w.mm.height());
                for (const auto& [other, otherBand] : std::as_const(placed))
                    if (other != box)
                        QVERIFY2(!band.adjusted(0.05, 0, -0.05, 0).intersects(otherBand.adjusted(0.05, 0, -0.05, 0)),
                                 qPrintable(where + QStringLiteral(" overlaps ") + other->item));
                placed.append({box, band});
            }
        }
    }

    // The payment slip's digits in the measured cells of the standard counter slip: the account
    // number filling its seven cells from the right, the amount ending in the cell marked 円.
    void slipDigitsSitInTheirCells_data()
    {
        QTest::addColumn<QByteArray>("accountNo3");
        QTest::addColumn<qint32>("amount");
        QTest::addColumn<QList<int>>("accountCells"); // cells 1-7 the digits fill
        QTest::addColumn<QList<int>>("amountCells");  // cells 1-8
        QTest::newRow("123456 and 12,500")
            << QByteArray("123456") << qint32(12500) << QList<int>{2, 3, 4, 5, 6, 7} << QList<int>{4, 5, 6, 7, 8};
        QTest::newRow("12 and 3,000") << QByteArray("12") << qint32(3000) << QList<int>{6, 7} << QList<int>{5, 6, 7, 8};
    }
    void slipDigitsSitInTheirCells()
    {
        QFETCH(QByteArray, accountNo3);
        QFETCH(qint32, amount);
        QFETCH(QList<int>, accountCells);
        QFETCH(QList<int>, amountCells);
        fx_->addMember(1, QStringLiteral("山田太郎"), QStringLiteral("150-0001"), QStringLiteral("03-1234-5678"));
        Table& m = fx_->dm->tbMemberMaster;
        m.edit();
        m.setFieldValue(QStringLiteral("print"), FieldValue::logical(true));
        m.post();
        Table& a = fx_->dm->tbAccount;
        a.edit();
        a.setFieldValue(QStringLiteral("amount"), FieldValue::integer(amount));
        a.post();
        const QString pdf = printToPdf(FormKind::PaymentSlip, worstSender(accountNo3));
        const QList<Word> words = pdfWords(pdf).value(0);

        // Measured: x of each group's first cell, its y, the cell count; slip and receipt.
        struct Cells
        {
            const char* what;
            double x, y;
            int count;
            QString digits;
            QList<int> cells;
        };
        const QString amountDigits = QString::number(amount);
        const QList<Cells> groups{
            {"account symbol", 4.00, 15, 5, QStringLiteral("00120"), {1, 2, 3, 4, 5}},
            {"account symbol 2", 31.94, 15, 1, QStringLiteral("7"), {1}},
            {"account number", 39.56, 15, 7, QString::fromLatin1(accountNo3), accountCells},
            {"amount", 80.20, 15, 8, amountDigits, amountCells},
            {"receipt: account symbol", 136.08, 15, 5, QStringLiteral("00120"), {1, 2, 3, 4, 5}},
            {"receipt: account number", 141.16, 26, 7, QString::fromLatin1(accountNo3), accountCells},
            {"receipt: amount", 136.08, 47, 8, amountDigits, amountCells},
        };
        for (const Cells& g : groups) {
            // Neighbouring digits come back as one word: its middle is the middle of the cells its
            // digits fill, and its width spans them, one cell's pitch from digit to digit.
            QString found;
            QList<int> at;
            for (const Word& w : words) {
                const QPointF c = w.mm.center();
                if (c.y() < g.y || c.y() > g.y + 8 || c.x() < g.x || c.x() > g.x + g.count * 5.08)
                    continue;
                const qsizetype n = w.text.size();
                const double digit = w.mm.width() - (n - 1) * 5.08;
                QVERIFY2(
                    digit > 2 && digit < 5.08,
                    qPrintable(
                        QStringLiteral("%1: '%2' is %3 mm wide").arg(QLatin1String(g.what), w.text).arg(w.mm.width())));
                const double firstCentre = w.mm.left() + digit / 2;
                const int firstCell = qRound((firstCentre - g.x) / 5.08 + 0.5);
                QVERIFY2(qAbs(firstCentre - (g.x + (firstCell - 0.5) * 5.08)) < 0.2,
                         qPrintable(QStringLiteral("%1: '%2' starts centred at %3 mm")
                                        .arg(QLatin1String(g.what), w.text)
                                        .arg(firstCentre)));
                QVERIFY2(
                    qAbs(c.y() - (g.y + 4)) < 1.0,
                    qPrintable(QStringLiteral("%1: '%2' at y %3 mm").arg(QLatin1String(g.what), w.text).arg(c.y())));
                found += w.text;
                for (qsizetype k = 0; k < n; ++k)
                    at << firstCell + int(k);
            }
            QCOMPARE(found, g.digits);
            QCOMPARE(at, g.cells);
        }
    }
};

QTEST_MAIN(TestFormsFit)
#include "tst_formsfit.moc"
