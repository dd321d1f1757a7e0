// The user's fitting of the forms in the settings file: print offsets per form and printer and the
// scanned form behind the preview, in a section of their own, written all or nothing, every other
// line of the file kept.
#include "common/FaultTools.h"
#include "data/Error.h"
#include "data/SjisText.h"
#include "settings/FormFitting.h"
#include "settings/SenderSettings.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using halvenna::Error;
using halvenna::FormBackground;
using halvenna::FormFitting;
using halvenna::PrintOffset;

Q_DECLARE_METATYPE(halvenna::PrintOffset)

namespace halvenna {
char* toString(const PrintOffset& o)
{
    return qstrdup(QByteArray("(" + QByteArray::number(o.x) + ", " + QByteArray::number(o.y) + ")").constData());
}
} // namespace halvenna

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class TestFormFitting : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString ini() const { return dir_->filePath(QStringLiteral("Kelvaro.ini")); }

private Q_SLOTS:
    void init()
    {
        // Beside the program, where the immutable flag works (a temporary folder may be tmpfs).
        dir_ = std::make_unique<QTemporaryDir>(QCoreApplication::applicationDirPath() + QStringLiteral("/fit-XXXXXX"));
        QVERIFY(dir_->isValid());
    }

    // Each form and printer keeps its own pair; nothing else changes; a file without the section
    // has no offset at all.
    void offsetsArePerFormAndPrinter()
    {
        QCOMPARE(FormFitting::load(ini()).offset(QStringLiteral("Invoice"), QStringLiteral("lp0")), PrintOffset{});
        FormFitting::saveOffset(ini(), QStringLiteral("Invoice"), QStringLiteral("lp0"), {-1.5, 2.04});
        FormFitting::saveOffset(ini(), QStringLiteral("Account"), QStringLiteral("lp0"), {3, -20});
        FormFitting::saveOffset(ini(), QStringLiteral("Invoice"), FormFitting::pdfPrinter(), {0.1, 0});
        const FormFitting f = FormFitting::load(ini());
        QCOMPARE(f.offset(QStringLiteral("Invoice"), QStringLiteral("lp0")), (PrintOffset{-1.5, 2.0}));
        QCOMPARE(f.offset(QStringLiteral("Account"), QStringLiteral("lp0")), (PrintOffset{3, -20}));
        QCOMPARE(f.offset(QStringLiteral("Invoice"), FormFitting::pdfPrinter()), (PrintOffset{0.1, 0}));
        QCOMPARE(f.offset(QStringLiteral("Account"), FormFitting::pdfPrinter()), PrintOffset{});
        QCOMPARE(f.offset(QStringLiteral("Invoice"), QStringLiteral("lp1")), PrintOffset{});
        QVERIFY(readFile(ini()).contains("[PrintOffset]"));
        QVERIFY(readFile(ini()).contains("Invoice.lp0.X=-1.5"));
    }

    // The sender settings, other sections, comments and unknown keys stay byte for byte; the
    // sender dialog's saving leaves the offsets as they are.
    void theRestOfTheFileIsKept()
    {
        const QByteArray before =
            "; 設定\r\n[Main]\r\nSenderName=" + halvenna::sjis::fromUnicode(QStringLiteral("佐藤")) +
            "\r\n[Other]\r\nx=1\r\n";
        QVERIFY(writeFile(ini(), before));
        FormFitting::saveOffset(ini(), QStringLiteral("Invoice"), QStringLiteral("lp0"), {1, 1});
        const QByteArray after = readFile(ini());
        QVERIFY2(after.startsWith(before), after.constData());
        halvenna::SenderSettingsData sender;
        halvenna::loadSenderSettings(sender, ini());
        QCOMPARE(sender.SenderName, halvenna::sjis::fromUnicode(QStringLiteral("佐藤")));
        sender.SenderTel = "03-1234-5678";
        halvenna::saveSenderSettings(sender, ini());
        QCOMPARE(FormFitting::load(ini()).offset(QStringLiteral("Invoice"), QStringLiteral("lp0")),
                 (PrintOffset{1, 1}));
    }

    // Any printer name is a key of its own, whatever it holds.
    void printerNamesOfAnyKind_data()
    {
        QTest::addColumn<QString>("printer");
        QTest::newRow("plain") << QStringLiteral("HP_LaserJet-4");
        QTest::newRow("dots and equals") << QStringLiteral("a.b=c");
        QTest::newRow("brackets and blanks") << QStringLiteral(" [x] ; y ");
        QTest::newRow("Japanese") << QStringLiteral("事務所のプリンタ");
        QTest::newRow("what code page 932 cannot hold") << QStringLiteral("😀");
        QTest::newRow("percent") << QStringLiteral("100%");
    }
    void printerNamesOfAnyKind()
    {
        QFETCH(QString, printer);
        FormFitting::saveOffset(ini(), QStringLiteral("Invoice"), printer, {4.2, -3.3});
        FormFitting::saveOffset(ini(), QStringLiteral("Invoice"), QStringLiteral("other"), {1, 1});
        const FormFitting f = FormFitting::load(ini());
        QCOMPARE(f.offset(QStringLiteral("Invoice"), printer), (PrintOffset{4.2, -3.3}));
        QCOMPARE(f.offset(QStringLiteral("Invoice"), QStringLiteral("other")), (PrintOffset{1, 1}));
        for (const char c : readFile(ini()))
            QVERIFY2(static_cast<unsigned char>(c) < 0x80, "keys and values stay ASCII");
    }

    // A queue named like the PDF file (Debian's cups-pdf makes one called "PDF") keeps its own pair,
    // in either order of storing and whatever the case of its name.
    void aQueueNamedPdfIsNotThePdfFile_data()
    {
        QTest::addColumn<QString>("queue");
        QTest::newRow("PDF") << QStringLiteral("PDF");
        QTest::newRow("pdf") << QStringLiteral("pdf");
        QTest::newRow("(PDF)") << QStringLiteral("(PDF)");
        QTest::newRow("%28PDF%29") << QStringLiteral("%28PDF%29");
    }
    void aQueueNamedPdfIsNotThePdfFile()
    {
        QFETCH(QString, queue);
        for (const char axis : {'X', 'Y'})
            QVERIFY(FormFitting::offsetKey(QStringLiteral("Invoice"), queue, axis)
                        .compare(FormFitting::offsetKey(QStringLiteral("Invoice"), FormFitting::pdfPrinter(), axis),
                                 Qt::CaseInsensitive) != 0);
        FormFitting::saveOffset(ini(), QStringLiteral("Invoice"), FormFitting::pdfPrinter(), {1.5, -2});
        FormFitting::saveOffset(ini(), QStringLiteral("Invoice"), queue, {3, 4});
        FormFitting::saveOffset(ini(), QStringLiteral("Account"), queue, {-3, -4});
        FormFitting::saveOffset(ini(), QStringLiteral("Account"), FormFitting::pdfPrinter(), {0.5, 0.5});
        const FormFitting f = FormFitting::load(ini());
        QCOMPARE(f.offset(QStringLiteral("Invoice"), FormFitting::pdfPrinter()), (PrintOffset{1.5, -2}));
        QCOMPARE(f.offset(QStringLiteral("Invoice"), queue), (PrintOffset{3, 4}));
        QCOMPARE(f.offset(QStringLiteral("Account"), queue), (PrintOffset{-3, -4}));
        QCOMPARE(f.offset(QStringLiteral("Account"), FormFitting::pdfPrinter()), (PrintOffset{0.5, 0.5}));
    }

    // A settings file written before the PDF file had a key of its own keeps its PDF offsets, also
    // once a queue called "PDF" stores its pair, and once the PDF file's pair is stored again.
    void aSettingsFileOfBeforeKeepsItsPdfOffsets()
    {
        QVERIFY(writeFile(ini(), "[PrintOffset]\r\nInvoice.PDF.X=1.5\r\nInvoice.PDF.Y=-2\r\n"
                                 "Account.PDF.X=0.3\r\nAccount.PDF.Y=0.4\r\n"));
        QCOMPARE(FormFitting::load(ini()).offset(QStringLiteral("Invoice"), FormFitting::pdfPrinter()),
                 (PrintOffset{1.5, -2}));
        QCOMPARE(FormFitting::load(ini()).offset(QStringLiteral("Account"), FormFitting::pdfPrinter()),
                 (PrintOffset{0.3, 0.4}));
        FormFitting::saveOffset(ini(), QStringLiteral("Invoice"), QStringLiteral("PDF"), {7, 8});
        FormFitting::saveOffset(ini(), QStringLiteral("Account"), FormFitting::pdfPrinter(), {-1, -1});
        FormFitting::saveOffset(ini(), QStringLiteral("Account"), QStringLiteral("PDF"), {9, 9});
        const FormFitting f = FormFitting::load(ini());
        QCOMPARE(f.offset(QStringLiteral("Invoice"), FormFitting::pdfPrinter()), (PrintOffset{1.5, -2}));
        QCOMPARE(f.offset(QStringLiteral("Invoice"), QStringLiteral("PDF")), (PrintOffset{7, 8}));
        QCOMPARE(f.offset(QStringLiteral("Account"), FormFitting::pdfPrinter()), (PrintOffset{-1, -1}));
        QCOMPARE(f.offset(QStringLiteral("Account"), QStringLiteral("PDF")), (PrintOffset{9, 9}));
    }

    // A value that is no number, or out of range, reads as 0; the other keys are kept.
    void garbledValuesReadAsZero_data()
    {
        QTest::addColumn<QByteArray>("x");
        QTest::addColumn<QByteArray>("y");
        QTest::addColumn<PrintOffset>("read");
        QTest::newRow("good") << QByteArray("1.5") << QByteArray("-2") << PrintOffset{1.5, -2};
        QTest::newRow("letters in x") << QByteArray("abc") << QByteArray("-2") << PrintOffset{0, -2};
        QTest::newRow("out of range y") << QByteArray("1.5") << QByteArray("25") << PrintOffset{1.5, 0};
        QTest::newRow("comma") << QByteArray("1,5") << QByteArray("3") << PrintOffset{0, 3};
        QTest::newRow("empty") << QByteArray("") << QByteArray("") << PrintOffset{};
        QTest::newRow("nan") << QByteArray("nan") << QByteArray("inf") << PrintOffset{};
        QTest::newRow("more than tenths") << QByteArray("1.26") << QByteArray("-0.04") << PrintOffset{1.3, 0};
    }
    void garbledValuesReadAsZero()
    {
        QFETCH(QByteArray, x);
        QFETCH(QByteArray, y);
        QFETCH(PrintOffset, read);
        QVERIFY(writeFile(ini(), "[PrintOffset]\nInvoice.lp0.X=" + x + "\nInvoice.lp0.Y=" + y + "\nAccount.lp0.X=4\n"));
        const FormFitting f = FormFitting::load(ini());
        QCOMPARE(f.offset(QStringLiteral("Invoice"), QStringLiteral("lp0")), read);
        QCOMPARE(f.offset(QStringLiteral("Account"), QStringLiteral("lp0")), (PrintOffset{4, 0}));
    }

    void outOfRangeIsRefusedAndNothingWritten()
    {
        QVERIFY(writeFile(ini(), "[Main]\r\nSenderName=x\r\n"));
        const QByteArray before = readFile(ini());
        for (const PrintOffset o : {PrintOffset{20.1, 0}, PrintOffset{0, -25}})
            QVERIFY_THROWS_EXCEPTION(Error,
                                     FormFitting::saveOffset(ini(), QStringLiteral("Invoice"), QStringLiteral("p"), o));
        QCOMPARE(readFile(ini()), before);
        FormFitting::saveOffset(ini(), QStringLiteral("Invoice"), QStringLiteral("p"), {20, -20});
        QCOMPARE(FormFitting::load(ini()).offset(QStringLiteral("Invoice"), QStringLiteral("p")),
                 (PrintOffset{20, -20}));
    }

    // An unwritable file: the error names it, and it keeps every byte.
    void anUnwritableFileIsAnErrorAndStaysAsItWas()
    {
        QVERIFY(writeFile(ini(), "[PrintOffset]\r\nInvoice.p.X=1\r\n"));
        const QByteArray before = readFile(ini());
        faults::Unwritable locked(ini());
        if (!locked.isSet())
            QSKIP(qPrintable(locked.why()));
        try {
            FormFitting::saveOffset(ini(), QStringLiteral("Invoice"), QStringLiteral("p"), {2, 2});
            QFAIL("the save went through");
        } catch (const Error& e) {
            QCOMPARE(e.message(), ini() + QStringLiteral(" に書き込めません"));
        }
        locked.undo();
        QCOMPARE(readFile(ini()), before);
    }

    // The scanned form: its path (any characters) and its placement come back as saved; a
    // placement that cannot be read places nothing.
    void backgroundRoundTrip()
    {
        const FormBackground b{QStringLiteral("/home/山田/スキャン 1 =[x].png"), 25.4 / 300, -1.25, 2.5, 0.3};
        FormFitting::saveBackground(ini(), QStringLiteral("Account"), b);
        FormFitting::saveOffset(ini(), QStringLiteral("Account"), QStringLiteral("p"), {1, 2});
        const FormFitting f = FormFitting::load(ini());
        const FormBackground read = f.background(QStringLiteral("Account"));
        QCOMPARE(read.path, b.path);
        QVERIFY(qAbs(read.mmPerPixel - b.mmPerPixel) < 1e-9);
        QCOMPARE(read.left, b.left);
        QCOMPARE(read.top, b.top);
        QCOMPARE(read.rotation, b.rotation);
        QVERIFY(!f.background(QStringLiteral("Invoice")).isSet());
        QVERIFY(writeFile(ini(), "[PrintOffset]\nAccount.Background=/a.png\nAccount.Background.Scale=x\n"));
        QVERIFY(!FormFitting::load(ini()).background(QStringLiteral("Account")).isSet());
    }
};

QTEST_GUILESS_MAIN(TestFormFitting)
#include "tst_formfitting.moc"
