// The sender dialog: filled from the settings on every opening, OK copies and saves at once,
// Cancel / Esc / the close box copy nothing, and a failed save still closes it.
#include "app/Program.h"
#include "app/Sender.h"
#include "app/Startup.h"
#include "app/Top.h"
#include "common/ErrorBoxes.h"
#include "common/GuiFixture.h"
#include "common/PostalFixture.h"
#include "common/Seams.h"
#include "data/SjisText.h"
#include "gui/DbControls.h"
#include "gui/MessageBox.h"
#include "gui/TownChooser.h"
#include "roster/postal/PostalCodeLookup.h"
#include "settings/SenderSettings.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

using halvenna::FieldLineEdit;
using halvenna::MessageBox;

namespace {

QByteArray sj(const QString& s)
{
    return halvenna::sjis::fromUnicode(s);
}

FieldLineEdit* box(const char* name)
{
    return SenderForm->findChild<FieldLineEdit*>(QLatin1String(name));
}

// The box of a settings key: "ed" + the key.
FieldLineEdit* boxOf(const char* key)
{
    return SenderForm->findChild<FieldLineEdit*>(QStringLiteral("ed") + QLatin1String(key));
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestSender : public QObject
{
    Q_OBJECT

private:
    // What the main window and the sender dialog are given, as the shell gives it.
    halvenna::Program program_;
    QTemporaryDir dir_;
    QString ini() const { return dir_.filePath(QStringLiteral("Kelvaro.ini")); }

    void open()
    {
        SenderForm->show();
        QVERIFY(QTest::qWaitForWindowExposed(SenderForm));
        SenderForm->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(SenderForm));
        // Shown again after a click closed it, the window is not always made active by the offscreen
        // platform: tests that use the keyboard need it to be.
        if (QApplication::activeWindow() != SenderForm)
            QApplication::setActiveWindow(SenderForm);
        QTRY_COMPARE(QApplication::activeWindow(), SenderForm);
    }

    void setAll(const QString& prefix)
    {
        int i = 0;
        for (const auto& f : halvenna::senderSettingsFields)
            program_.senderSettings.*f.member = sj(prefix + QString::number(i++));
    }

    // The lookup reads a small dictionary in the test's folder, never the machine's files.
    void usePostalFixture()
    {
        postaltest::useDictionary(program_.postalCodes, dir_.filePath(QStringLiteral("zipcode")),
                                  dir_.filePath(QStringLiteral("none.txt")));
    }

private Q_SLOTS:
    void initTestCase()
    {
        halvenna::installJapaneseFont();
        new TTopForm(program_);
        new TSenderForm(program_);
        program_.appDir = dir_.path() + u'/';
    }

    void cleanupTestCase()
    {
        delete SenderForm;
        delete TopForm;
    }

    void init()
    {
        // No postal data unless a test gives some: the machine's dictionary would fill addresses.
        program_.postalCodes.setFiles(QString(), QString());
        seams::begin();
        QFile::remove(ini());
        program_.senderSettings = {};
    }

    void cleanup()
    {
        SenderForm->hide();
        seams::end();
    }

    void layoutAndKeyboard()
    {
        QCOMPARE(SenderForm->windowTitle(), QStringLiteral("差出人データ"));
        QCOMPARE(SenderForm->size(), QSize(368, 304));
        QCOMPARE(box("edSenderName")->geometry(), QRect(88, 24, 121, 20));
        QCOMPARE(box("edAccountNo2")->geometry(), QRect(176, 216, 25, 20));
        auto* ok = SenderForm->findChild<QPushButton*>(QStringLiteral("btnOk"));
        auto* cancel = SenderForm->findChild<QPushButton*>(QStringLiteral("btnCancel"));
        QCOMPARE(ok->geometry(), QRect(216, 264, 91, 25));
        QCOMPARE(cancel->text(), QStringLiteral("キャンセル"));
        QVERIFY(ok->isDefault());
        QVERIFY(!ok->icon().isNull() && !cancel->icon().isNull());
        QCOMPARE(SenderForm->findChild<QLabel*>(QStringLiteral("Label10"))->text(), QStringLiteral("○○○－△△△△"));
        QCOMPARE(SenderForm->findChild<QLabel*>(QStringLiteral("Label1"))->buddy(), box("edSenderName"));
        QCOMPARE(SenderForm->findChild<QWidget*>(QStringLiteral("Shape1"))->geometry(), QRect(152, 168, 25, 2));

        // Tab walks the eleven boxes in their order, then OK and Cancel.
        open();
        QTRY_COMPARE(QApplication::focusWidget(), box("edSenderName"));
        QStringList visited;
        for (int i = 0; i < 13; ++i) {
            visited << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QStringList expected;
        for (const auto& f : halvenna::senderSettingsFields)
            expected << QStringLiteral("ed") + QLatin1String(f.key);
        expected << QStringLiteral("btnOk") << QStringLiteral("btnCancel");
        QCOMPARE(visited, expected);
        QCOMPARE(badlyNamedInWalk(SenderForm), QStringList());
    }

    void opensWithTheCurrentSettings()
    {
        setAll(QStringLiteral("山田"));
        box("edSenderZip")->setText(QStringLiteral("left over"));
        open();
        int i = 0;
        for (const auto& f : halvenna::senderSettingsFields)
            QCOMPARE(boxOf(f.key)->text(), QStringLiteral("山田%1").arg(i++));
    }

    // OK by click, by Enter in a box, or by Space or Enter on the button: copied and saved at once.
    // Enter in a box presses OK even after the focus has been on Cancel and come back.
    void okCopiesAndSaves_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("click") << "click";
        QTest::newRow("enter in a box") << "enter";
        QTest::newRow("space on the button") << "space";
        QTest::newRow("enter on the button") << "enter on ok";
        QTest::newRow("enter in a box after tabbing past cancel") << "enter after cancel";
    }
    void okCopiesAndSaves()
    {
        QFETCH(QString, how);
        open();
        typeText(box("edSenderName"), QStringLiteral("佐藤商店"));
        typeText(box("edSenderTel"), QStringLiteral("03-1234-5678"));
        auto* ok = SenderForm->findChild<QPushButton*>(QStringLiteral("btnOk"));
        if (how == u"click") {
            QTest::mouseClick(ok, Qt::LeftButton);
        } else if (how == u"enter") {
            QTest::keyClick(box("edSenderTel"), Qt::Key_Return);
        } else if (how == u"enter on ok") {
            box("edAccountNo3")->setFocus();
            QTRY_COMPARE(QApplication::focusWidget(), box("edAccountNo3"));
            QTest::keyClick(box("edAccountNo3"), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), ok);
            QTest::keyClick(ok, Qt::Key_Return);
        } else if (how == u"enter after cancel") {
            box("edAccountNo3")->setFocus();
            QTRY_COMPARE(QApplication::focusWidget(), box("edAccountNo3"));
            for (int i = 0; i < 2; ++i)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("btnCancel"));
            for (int i = 0; i < 2; ++i)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
            QCOMPARE(QApplication::focusWidget(), box("edAccountNo3"));
            QTest::keyClick(box("edAccountNo3"), Qt::Key_Return);
        } else {
            ok->setFocus();
            QTest::keyClick(ok, Qt::Key_Space);
        }
        QTRY_VERIFY(!SenderForm->isVisible());
        QCOMPARE(SenderForm->result(), int(QDialog::Accepted));
        QCOMPARE(program_.senderSettings.SenderName, sj(QStringLiteral("佐藤商店")));
        QCOMPARE(program_.senderSettings.SenderTel, QByteArray("03-1234-5678"));
        const QByteArray written = fileBytes(ini());
        QVERIFY(written.contains("SenderName=" + sj(QStringLiteral("佐藤商店"))));
        QVERIFY(written.contains("SenderTel=03-1234-5678"));
        QVERIFY(MessageBox::seam().requests().isEmpty());
    }

    void okWithNothingChangedStillWrites()
    {
        open();
        QTest::mouseClick(SenderForm->findChild<QPushButton*>(QStringLiteral("btnOk")), Qt::LeftButton);
        QTRY_VERIFY(!SenderForm->isVisible());
        QVERIFY(QFile::exists(ini()));
    }

    // Cancel (clicked, or reached with Tab and pressed with Enter), Esc and the close box copy nothing
    // and save nothing; the next opening shows the old values.
    void cancelCopiesNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("button") << "button";
        QTest::newRow("enter on the button") << "enter";
        QTest::newRow("esc") << "esc";
        QTest::newRow("close box") << "close";
    }
    void cancelCopiesNothing()
    {
        QFETCH(QString, how);
        setAll(QStringLiteral("old"));
        const auto before = program_.senderSettings;
        open();
        typeText(box("edSenderName"), QStringLiteral("new"));
        if (how == u"button") {
            QTest::mouseClick(SenderForm->findChild<QPushButton*>(QStringLiteral("btnCancel")), Qt::LeftButton);
        } else if (how == u"enter") {
            box("edAccountNo3")->setFocus();
            QTRY_COMPARE(QApplication::focusWidget(), box("edAccountNo3"));
            for (int i = 0; i < 2; ++i)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("btnCancel"));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        } else if (how == u"esc") {
            QTest::keyClick(box("edSenderName"), Qt::Key_Escape);
        } else {
            SenderForm->close();
        }
        QTRY_VERIFY(!SenderForm->isVisible());
        QCOMPARE(SenderForm->result(), int(QDialog::Rejected));
        QVERIFY(program_.senderSettings == before);
        QVERIFY(!QFile::exists(ini()));
        open();
        QCOMPARE(box("edSenderName")->text(), QStringLiteral("old0"));
    }

    void textCodePage932CannotHoldIsRefusedWhereTyped()
    {
        open();
        typeText(box("edSenderName"), QStringLiteral("山田"));
        typeText(box("edSenderName"), QStringLiteral("😀"));
        QCOMPARE(box("edSenderName")->text(), QStringLiteral("山田"));
    }

    // A save that fails shows its box while the dialog is still open; it then closes all the same and
    // the new values stay in memory.
    void aFailedSaveIsShownAndTheDialogClosesAllTheSame()
    {
        QVERIFY(QDir().mkpath(ini())); // a folder where the file should be: it cannot be replaced
        open();
        // The user is in the first box (an earlier opening may have left the focus on a button).
        box("edSenderName")->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), box("edSenderName"));
        typeText(box("edSenderName"), QStringLiteral("新しい名前"));
        bool visibleDuringBox = false;
        MessageBox::seam().answerWith([&](const MessageBox::Request&) {
            visibleDuringBox = SenderForm->isVisible();
            return QMessageBox::Ok;
        });
        QTest::keyClick(box("edSenderName"), Qt::Key_Return);
        QTRY_VERIFY(!SenderForm->isVisible());
        QVERIFY(visibleDuringBox);
        errorboxes::expectOne(MessageBox::seam().requests(), ini() + QStringLiteral(" に書き込めません."));
        QCOMPARE(program_.senderSettings.SenderName, sj(QStringLiteral("新しい名前")));
        QDir().rmdir(ini());
    }

    // The postal code box left holding a code fills an empty 住所１, through the list where the
    // code covers several towns; an address already there stays; OK keeps what was filled.
    void zipFillsAnEmptyAddress()
    {
        const QString dictionary = dir_.filePath(QStringLiteral("zipcode"));
        QFile out(dictionary);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(QStringEncoder("EUC-JP")(QStringLiteral("1500001 /東京都渋谷区神宮前/\n"
                                                          "4980000 /愛知県弥富市/三重県桑名郡木曽岬町/\n")));
        out.close();
        program_.postalCodes.setFiles(dir_.filePath(QStringLiteral("none.txt")), dictionary);
        open();
        halvenna::TownChooser::seam().answer(std::optional<int>(1));
        box("edSenderZip")->setFocus(Qt::TabFocusReason);
        typeText(QStringLiteral("498-0000"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), box("edSenderAddress1"));
        QCOMPARE(box("edSenderAddress1")->text(), QStringLiteral("三重県桑名郡木曽岬町"));
        QCOMPARE(halvenna::TownChooser::seam().requests().size(), 1);

        // Another code with the address already there: nothing asked, nothing changed.
        box("edSenderZip")->setFocus(Qt::TabFocusReason);
        box("edSenderZip")->selectAll();
        typeText(QStringLiteral("150-0001"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(box("edSenderAddress1")->text(), QStringLiteral("三重県桑名郡木曽岬町"));
        QCOMPARE(halvenna::TownChooser::seam().requests().size(), 1);

        // Emptied, the one-town code fills it without asking.
        box("edSenderAddress1")->clear();
        box("edSenderZip")->setFocus(Qt::TabFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(box("edSenderAddress1")->text(), QStringLiteral("東京都渋谷区神宮前"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_VERIFY(!SenderForm->isVisible());
        QCOMPARE(program_.senderSettings.SenderAddress1, sj(QStringLiteral("東京都渋谷区神宮前")));
        QCOMPARE(program_.senderSettings.SenderZip, QByteArray("150-0001"));
    }

    // Leaving the postal code box toward キャンセル (clicked, or Esc) is no entry: no list of towns
    // opens in the way, and the dialog closes with nothing kept.
    void cancelIsNotSwallowedByTheTownList_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("キャンセル clicked") << "button";
        QTest::newRow("Esc") << "esc";
    }
    void cancelIsNotSwallowedByTheTownList()
    {
        QFETCH(QString, how);
        usePostalFixture();
        open();
        // The list would be answered with Esc, and the click then lost under it.
        halvenna::TownChooser::seam().answer(std::nullopt);
        box("edSenderZip")->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), box("edSenderZip"));
        typeText(QStringLiteral("4980000"));
        if (how == u"button")
            QTest::mouseClick(SenderForm->findChild<QPushButton*>(QStringLiteral("btnCancel")), Qt::LeftButton);
        else
            QTest::keyClick(box("edSenderZip"), Qt::Key_Escape);
        QTRY_VERIFY(!SenderForm->isVisible());
        QCOMPARE(SenderForm->result(), int(QDialog::Rejected));
        QCOMPARE(halvenna::TownChooser::seam().requests().size(), 0);
        halvenna::TownChooser::seam().reset();
        QCOMPARE(program_.senderSettings.SenderZip, QByteArray());
        QVERIFY(!QFile::exists(ini()));
    }

    // A code the lookup reads is kept as the waybill's boxes print it, 150-0001, however it was
    // typed (full width, without its hyphen, with the kana hyphen, after 〒); anything else stays
    // as typed.
    void zipIsKeptAsTheWaybillPrintsIt_data() { postaltest::typedCodes(); }
    void zipIsKeptAsTheWaybillPrintsIt()
    {
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        QFETCH(QString, filled);
        usePostalFixture();
        open();
        box("edSenderZip")->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), box("edSenderZip"));
        typeText(typed);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(box("edSenderZip")->text(), kept);
        QCOMPARE(box("edSenderAddress1")->text(), filled);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_VERIFY(!SenderForm->isVisible());
        QCOMPARE(program_.senderSettings.SenderZip, sj(kept));
    }
};

QTEST_MAIN(TestSender)
#include "tst_sender.moc"
