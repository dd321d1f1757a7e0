// Writing a layout made by hand back into a template: only the figures of the items moved change,
// the file is replaced in one step or not at all, and the shipped template comes back byte for byte.
#include "common/Errors.h"
#include "common/FaultTools.h"
#include "data/Error.h"
#include "report/ReportTemplate.h"
#include "report/TemplateEditor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using halvenna::BoxEdit;
using halvenna::Error;
using halvenna::ReportTemplate;
using halvenna::TemplateEditor;

Q_DECLARE_METATYPE(BoxEdit)

namespace {

const QString kPath = QStringLiteral("/forms/Test.Rav");

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString shipped(const char* name)
{
    return QStringLiteral(HALVENNA_TEMPLATES_DIR "/") + QLatin1String(name);
}

// An item of a template's first report put at (x, y), found again by what it is.
halvenna::ItemEdit moved(const ReportTemplate& t, int text, double x, double y)
{
    halvenna::ItemEdit e = halvenna::ItemEdit::of(t, t.defaultReport(), text);
    e.x = x;
    e.y = y;
    return e;
}

} // namespace

class TestTemplateEditor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void formatMm_data()
    {
        QTest::addColumn<double>("mm");
        QTest::addColumn<QString>("written");
        QTest::newRow("whole") << 40.0 << "40";
        QTest::newRow("a tenth") << 12.5 << "12.5";
        QTest::newRow("hundredths") << 5.08 << "5.08";
        QTest::newRow("float noise of 0.1 steps") << 12.3 + 0.1 + 0.1 - 0.2 << "12.3";
        QTest::newRow("rounded to 0.01") << 7.006 << "7.01";
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("minus zero") << -0.001 << "0";
    }
    void formatMm()
    {
        QFETCH(double, mm);
        QFETCH(QString, written);
        QCOMPARE(TemplateEditor::formatMm(mm), written);
    }

    // The figures of the edited lines change in place; keys a line lacks are added at its end,
    // before its comment; quoted values that look like keys, other lines, comments, a BOM and CR LF
    // line ends stay as they were.
    void editsOnlyTheFiguresOfTheItemsMoved_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<BoxEdit>("edit");
        QTest::addColumn<QByteArray>("after");
        const QByteArray head = "# a form\npage width=100 height=50\nreport name=R connection=c\n";
        QTest::newRow("moved") << QByteArray(head + "text field=a   x=1 y=2 width=30 height=5 size=9  # the name\n")
                               << BoxEdit{4, 3.5, 2.1, 30.0, 5.0, {}}
                               << QByteArray(head +
                                             "text field=a   x=3.5 y=2.1 width=30 height=5 size=9  # the name\n");
        QTest::newRow("keys added before the comment")
            << QByteArray(head + "text field=a x=1 y=2 # left\n") << BoxEdit{4, 1, 2, 20.0, 4.0, {}}
            << QByteArray(head + "text field=a x=1 y=2 width=20 height=4 # left\n");
        QTest::newRow("a quoted value holding x= and #")
            << QByteArray(head + "text fixed=\"x=9 #\" y=2 x=1 width=10\n") << BoxEdit{4, 6, 7, 10.0, {}, {}}
            << QByteArray(head + "text fixed=\"x=9 #\" y=7 x=6 width=10\n");
        QTest::newRow("cells take their new pitch")
            << QByteArray(head + "text field=n x=1 y=1 width=20 cells=4 pitch=5 fill=right\n")
            << BoxEdit{4, 1, 1, 24.0, {}, 6.0}
            << QByteArray(head + "text field=n x=1 y=1 width=24 cells=4 pitch=6 fill=right\n");
        QTest::newRow("CR LF and a BOM kept")
            << QByteArray(
                   "\xEF\xBB\xBFreport name=R connection=c\r\ntext field=a x=1 y=2\r\npage width=100 height=50\r\n")
            << BoxEdit{2, 4, 5, {}, {}, {}}
            << QByteArray(
                   "\xEF\xBB\xBFreport name=R connection=c\r\ntext field=a x=4 y=5\r\npage width=100 height=50\r\n");
    }
    void editsOnlyTheFiguresOfTheItemsMoved()
    {
        QFETCH(QByteArray, before);
        QFETCH(BoxEdit, edit);
        QFETCH(QByteArray, after);
        QCOMPARE(TemplateEditor::edited(before, {edit}, kPath), after);
        (void)ReportTemplate::parse(after, kPath);
    }

    // The shipped templates, every item moved, read back with exactly the boxes written and every
    // other line unchanged.
    void everyShippedItemMovesAndReadsBack()
    {
        for (const char* name : {"Invoice.Rav", "Account.Rav"}) {
            const QByteArray text = readAll(shipped(name));
            const ReportTemplate before = ReportTemplate::parse(text, kPath);
            const halvenna::TemplateReport& r = before.reports().at(before.defaultReport());
            QList<BoxEdit> edits;
            for (const halvenna::TemplateText& t : r.texts)
                edits.append(BoxEdit{t.line, t.x + 0.3, t.y + 0.1, t.width > 0 ? std::optional(t.width) : std::nullopt,
                                     t.height > 0 ? std::optional(t.height) : std::nullopt, std::nullopt});
            const QByteArray out = TemplateEditor::edited(text, edits, kPath);
            const ReportTemplate after = ReportTemplate::parse(out, kPath);
            const halvenna::TemplateReport& moved = after.reports().at(after.defaultReport());
            QCOMPARE(moved.texts.size(), r.texts.size());
            for (qsizetype i = 0; i < r.texts.size(); ++i) {
                QCOMPARE(moved.texts.at(i).x, std::round((r.texts.at(i).x + 0.3) * 100) / 100);
                QCOMPARE(moved.texts.at(i).y, std::round((r.texts.at(i).y + 0.1) * 100) / 100);
                QCOMPARE(moved.texts.at(i).width, r.texts.at(i).width);
            }
            QList<int> textLines;
            for (const halvenna::TemplateText& t : r.texts)
                textLines << t.line;
            const QList<QByteArray> a = text.split('\n');
            const QList<QByteArray> b = out.split('\n');
            QCOMPARE(b.size(), a.size());
            for (qsizetype i = 0; i < a.size(); ++i)
                if (!textLines.contains(int(i + 1)))
                    QCOMPARE(b.at(i), a.at(i));
        }
    }

    // An edit that does not fit the file is refused whole, naming the file.
    void refusals_data()
    {
        QTest::addColumn<BoxEdit>("edit");
        QTest::addColumn<QString>("says");
        QTest::newRow("not a text line") << BoxEdit{2, 1, 1, {}, {}, {}} << "2 行目は text ではありません";
        QTest::newRow("no such line") << BoxEdit{40, 1, 1, {}, {}, {}} << "40 行目がありません";
        QTest::newRow("off the sheet") << BoxEdit{4, 90, 1, 20.0, {}, {}} << "の外に出ています";
    }
    void refusals()
    {
        QFETCH(BoxEdit, edit);
        QFETCH(QString, says);
        const QByteArray text = "page width=100 height=50\nreport name=R connection=c\n\ntext field=a x=1 y=1\n";
        try {
            (void)TemplateEditor::edited(text, {edit}, kPath);
            QFAIL("the edit was made");
        } catch (const Error& e) {
            QVERIFY2(e.message().startsWith(kPath), qPrintable(e.message()));
            QVERIFY2(e.message().contains(says), qPrintable(e.message()));
        }
    }

    // Saving replaces the file in one step: a reader that opened it before reads the old file whole,
    // and no temporary file is left behind.
    void saveIsOneAtomicReplacement()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Invoice.Rav"));
        QVERIFY(QFile::copy(shipped("Invoice.Rav"), path));
        const QByteArray old = readAll(path);
        const ReportTemplate t = ReportTemplate::load(path);
        const halvenna::TemplateText& first = t.reports().at(t.defaultReport()).texts.at(0);
        QFile reader(path);
        QVERIFY(reader.open(QIODevice::ReadOnly));
        struct stat before
        {
        };
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &before), 0);

        TemplateEditor::save(path, {moved(t, 0, first.x + 1, first.y + 2)});

        QCOMPARE(reader.readAll(), old);
        struct stat after
        {
        };
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &after), 0);
        QVERIFY(after.st_ino != before.st_ino);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("Invoice.Rav")});
        const ReportTemplate saved = ReportTemplate::load(path);
        QCOMPARE(saved.reports().at(saved.defaultReport()).texts.at(0).x, std::round((first.x + 1) * 100) / 100);
    }

    // A template that cannot be replaced stays as it was: "<path> に書き込めません".
    void unwritableTemplateStaysAsItWas()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Invoice.Rav"));
        QVERIFY(QFile::copy(shipped("Invoice.Rav"), path));
        const QByteArray old = readAll(path);
        const ReportTemplate t = ReportTemplate::load(path);
        faults::Unwritable folder(dir.path());
        if (!folder.isSet())
            QSKIP(qPrintable(folder.why()));
        const QString message = errorOf([&] { TemplateEditor::save(path, {moved(t, 0, 5, 5)}); });
        folder.undo();
        QCOMPARE(message, QStringLiteral("%1 に書き込めません").arg(path));
        QCOMPARE(readAll(path), old);
    }

    // 初期値に戻す: the shipped copy in templates/ replaces the user's byte for byte; without one, an
    // error and the user's template kept.
    void restorePutsTheShippedTemplateBack()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Account.Rav"));
        QCOMPARE(TemplateEditor::pristinePath(path), dir.filePath(QStringLiteral("templates/Account.Rav")));
        QVERIFY(QFile::copy(shipped("Account.Rav"), path));
        const ReportTemplate t = ReportTemplate::load(path);
        TemplateEditor::save(path, {moved(t, 2, 3, 3)});
        QVERIFY(readAll(path) != readAll(shipped("Account.Rav")));

        const QString missing = errorOf([&] { TemplateEditor::restore(path); });
        QVERIFY2(missing.startsWith(TemplateEditor::pristinePath(path) + QStringLiteral(" を読めません")),
                 qPrintable(missing));
        QVERIFY(readAll(path) != readAll(shipped("Account.Rav")));

        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("templates")));
        QVERIFY(QFile::copy(shipped("Account.Rav"), TemplateEditor::pristinePath(path)));
        TemplateEditor::restore(path);
        QCOMPARE(readAll(path), readAll(shipped("Account.Rav")));
    }

    // A save finds its item by what it is: lines added above it since the file was read move it
    // down, and the edit still lands on it, never on the line that now stands where it stood.
    void aSaveFindsTheItemByWhatItIs()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Invoice.Rav"));
        QVERIFY(QFile::copy(shipped("Invoice.Rav"), path));
        const ReportTemplate read = ReportTemplate::load(path);
        const QList<halvenna::TemplateText>& texts = read.reports().at(read.defaultReport()).texts;
        int address1 = -1;
        for (int i = 0; i < texts.size(); ++i)
            if (texts.at(i).name == QStringLiteral("address1"))
                address1 = i;
        QVERIFY(address1 >= 0 && texts.at(address1 + 1).name == QStringLiteral("address2"));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("# moved by hand\n# and once more\n" + readAll(shipped("Invoice.Rav")));
        }
        const halvenna::TemplateText was = texts.at(address1);
        const ReportTemplate written = TemplateEditor::save(path, {moved(read, address1, was.x + 1, was.y)});
        const ReportTemplate back = ReportTemplate::load(path);
        for (const ReportTemplate* t : {&written, &back}) {
            const QList<halvenna::TemplateText>& now = t->reports().at(t->defaultReport()).texts;
            QCOMPARE(now.at(address1).x, was.x + 1);
            QCOMPARE(now.at(address1).line, was.line + 2);
            QCOMPARE(now.at(address1 + 1).x, texts.at(address1 + 1).x);
            QCOMPARE(now.at(address1 + 1).y, texts.at(address1 + 1).y);
        }
    }

    // An item gone from the file, or standing elsewhere than when it was read, means someone else
    // changed the file: the save is refused, saying so, and the file stays as it is.
    void aFileChangedUnderTheEditorIsRefused_data()
    {
        QTest::addColumn<QByteArray>("now");
        QTest::addColumn<QString>("says");
        const QByteArray head = "page width=100 height=50\nreport name=R connection=c\n";
        QTest::newRow("moved by someone else")
            << QByteArray(head + "text field=a x=1 y=2\ntext field=b x=30 y=2\n") << "a の位置か大きさが変わっています";
        QTest::newRow("resized by someone else")
            << QByteArray(head + "text field=a x=1 y=1 width=12\ntext field=b x=30 y=2\n")
            << "a の位置か大きさが変わっています";
        QTest::newRow("taken out") << QByteArray(head + "text field=b x=30 y=2\n") << "a がありません";
        QTest::newRow("report renamed")
            << QByteArray("page width=100 height=50\nreport name=S connection=c\ntext field=a x=1 y=1\n")
            << "report R がありません";
    }
    void aFileChangedUnderTheEditorIsRefused()
    {
        QFETCH(QByteArray, now);
        QFETCH(QString, says);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Test.Rav"));
        const QByteArray before = "page width=100 height=50\nreport name=R connection=c\ntext field=a x=1 y=1\n"
                                  "text field=b x=30 y=2\n";
        const ReportTemplate read = ReportTemplate::parse(before, path);
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(now);
        }
        const QString message = errorOf([&] { TemplateEditor::save(path, {moved(read, 0, 5, 5)}); });
        QVERIFY2(message.startsWith(path + QStringLiteral(" は、このプレビューで開いた後にほかで書き換えられています")),
                 qPrintable(message));
        QVERIFY2(message.contains(says), qPrintable(message));
        QCOMPARE(readAll(path), now);
    }

    // Digit cells resized by hand read back with the width given: no pitch rounded to 0.01 mm is
    // written beside width= and cells= (one the file had is taken off), so every width saves.
    void digitCellsResizedReadBack_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<double>("width");
        QTest::addColumn<QByteArray>("written");
        const QByteArray amount = "text field=amount_prn x=80.2 y=15 width=40.64 height=8 cells=8 fill=right size=18";
        for (int tenths = -10; tenths <= 10; ++tenths) {
            const double width = std::round((40.64 + tenths / 10.0) * 100) / 100;
            const QByteArray w = TemplateEditor::formatMm(width).toLatin1();
            QTest::addRow("amount %+d tenths", tenths)
                << amount << width
                << "text field=amount_prn x=80.2 y=15 width=" + w + " height=8 cells=8 fill=right size=18";
        }
        QTest::newRow("a pitch the file had")
            << QByteArray("text field=n x=1 y=1 cells=4 pitch=5.08 fill=right # four") << 20.5
            << QByteArray("text field=n x=1 y=1 cells=4 fill=right width=20.5 # four");
        QTest::newRow("width and pitch both")
            << QByteArray("text field=n x=1 y=1 width=20.32 pitch=5.08 cells=4 fill=right") << 20.54
            << QByteArray("text field=n x=1 y=1 width=20.54 cells=4 fill=right");
    }
    void digitCellsResizedReadBack()
    {
        QFETCH(QByteArray, line);
        QFETCH(double, width);
        QFETCH(QByteArray, written);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Test.Rav"));
        const QByteArray head = "page width=180 height=114\nreport name=R connection=c\n";
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(head + line + "\n");
        }
        const ReportTemplate read = ReportTemplate::load(path);
        halvenna::ItemEdit e = moved(read, 0, read.reports().at(0).texts.at(0).x, read.reports().at(0).texts.at(0).y);
        e.width = width;
        const QString message = errorOf([&] { TemplateEditor::save(path, {e}); });
        QCOMPARE(message, QStringLiteral("<no error>"));
        QCOMPARE(readAll(path), head + written + "\n");
        const halvenna::TemplateText back = ReportTemplate::load(path).reports().at(0).texts.at(0);
        QCOMPARE(back.width, width);
        QVERIFY(std::abs(back.pitch * back.cells - width) < 1e-9);
    }

    // A box the template cannot hold is refused as what the user did: the item, the box asked for
    // and the rule, not a fault of a file and line the user never typed.
    void aBoxTheTemplateCannotHoldIsToldAsTheUsersAction()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Test.Rav"));
        const QByteArray text = "page width=100 height=50\nreport name=R connection=c\n"
                                "text field=n x=1 y=1 width=20 pitch=5 align=right\n";
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(text);
        }
        halvenna::ItemEdit e = moved(ReportTemplate::load(path), 0, 1, 1);
        e.width = 3;
        const QString message = errorOf([&] { TemplateEditor::save(path, {e}); });
        QVERIFY2(
            message.startsWith(QStringLiteral("n を x=1 y=1 幅=3 mm にした配置は保存できません: width は pitch 以上")),
            qPrintable(message));
        QVERIFY2(!message.contains(QStringLiteral("行目")), qPrintable(message));
        QCOMPARE(readAll(path), text);
    }
};

QTEST_GUILESS_MAIN(TestTemplateEditor)
#include "tst_templateeditor.moc"
