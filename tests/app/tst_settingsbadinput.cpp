// Sender settings that are not ordinary text: values of 100 KB, values with quotes, blanks and the
// INI file's own marks, names in odd letter case, bytes that are no code page 932 character, and
// characters code page 932 cannot hold typed into the sender dialog. Saved and loaded through the
// main window's store and the real settings file; the dialog driven with keys.
#include "app/Program.h"
#include "app/Sender.h"
#include "app/Startup.h"
#include "app/Top.h"
#include "common/GuiFixture.h"
#include "common/Seams.h"
#include "data/SjisText.h"
#include "gui/Beep.h"
#include "gui/DbControls.h"
#include "gui/MessageBox.h"
#include "settings/IniFile.h"
#include "settings/SenderSettings.h"

#include <QClipboard>
#include <QFile>
#include <QInputMethodEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using halvenna::FieldLineEdit;
using halvenna::IniFile;
using halvenna::MessageBox;

namespace {

QByteArray sj(const QString& s)
{
    return halvenna::sjis::fromUnicode(s);
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

FieldLineEdit* boxOf(const char* key)
{
    return SenderForm->findChild<FieldLineEdit*>(QStringLiteral("ed") + QLatin1String(key));
}

// Written by hand or by another program: comments, other sections whose values hold the file's own
// marks, the section and two of our keys in odd case, and no line end after the last line.
const QByteArray kHandWritten = "; settings\r\n"
                                "[Other]\r\n"
                                "Keep = a=b;[c]\r\n"
                                "SenderName=not ours\r\n"
                                "[mAiN]\r\n"
                                "sENDERnAME=old\r\n"
                                "; about the account\r\n"
                                "ACCOUNTNO3 = 'old'\r\n"
                                "[Printer]\r\n"
                                "Offset=\"2\"";

} // namespace

class TestSettingsBadInput : public QObject
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
    }

    void pressOk()
    {
        SenderForm->findChild<QPushButton*>(QStringLiteral("btnOk"))->click();
        QTRY_VERIFY(!SenderForm->isVisible());
    }

    // A new run: the settings start empty and are read from the file.
    void restart()
    {
        program_.senderSettings = {};
        TopForm->LoadSenderSettings();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
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
        seams::begin();
        QFile::remove(ini());
        program_.senderSettings = {};
    }

    void cleanup()
    {
        SenderForm->hide();
        seams::end();
    }

    void saveAndLoadKeepsTheRestOfTheFile_data();
    void saveAndLoadKeepsTheRestOfTheFile();
    void readingRulesApplyToWhatTheFileHolds();
    void typedValuesComeBackAfterRestart_data();
    void typedValuesComeBackAfterRestart();
    void charactersCodePage932CannotHoldAreRefused_data();
    void charactersCodePage932CannotHoldAreRefused();
    void bytesThatAreNoCharacterSurviveTheDialog_data();
    void bytesThatAreNoCharacterSurviveTheDialog();
};

void TestSettingsBadInput::saveAndLoadKeepsTheRestOfTheFile_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("loaded");

    const QByteArray kanji = sj(QStringLiteral("漢"));
    // Values are written whole; reading gives at most 2047 bytes, never half a character.
    QTest::newRow("100 KB") << QByteArray(100 * 1024, 'x') << QByteArray(2047, 'x');
    QTest::newRow("100 KB of double-byte characters") << kanji.repeated(50 * 1024) << kanji.repeated(1023);
    QTest::newRow("100 KB, one byte then double-byte characters")
        << "a" + kanji.repeated(50 * 1024) << "a" + kanji.repeated(1023);
    QTest::newRow("100 KB between blanks") << " " + QByteArray(100 * 1024, 'y') + " "
                                           << " " + QByteArray(2046, 'y');
    // Quotes and blanks at the ends are written enclosed in double quotes, which reading removes:
    // what was saved comes back.
    for (const char* v : {"\"abc\"", "'abc'", "\"abc'", "\"", "''", "  abc  ", "\tabc", " ", "\" a \"", "a=b", "=",
                          "[Main]", "[", "]", ";", "; not a comment", "a;b", "key=value ; [x]", "SenderZip=123-4567"})
        QTest::addRow("%s", v) << QByteArray(v) << QByteArray(v);
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

// Every one of the eleven keys saved with the value and read back after a restart; the other
// sections, keys, comments and the spelling of our keys stay as they were.
void TestSettingsBadInput::saveAndLoadKeepsTheRestOfTheFile()
{
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, loaded);
    QVERIFY(writeFile(ini(), kHandWritten));

    for (const auto& f : halvenna::senderSettingsFields)
        program_.senderSettings.*f.member = value;
    TopForm->SaveSenderSettings();
    QVERIFY(MessageBox::seam().requests().isEmpty());

    const QByteArray file = fileBytes(ini());
    QVERIFY(file.startsWith("; settings\r\n[Other]\r\nKeep = a=b;[c]\r\nSenderName=not ours\r\n[mAiN]\r\nsENDERnAME="));
    QVERIFY(file.contains("\r\n; about the account\r\nACCOUNTNO3 ="));
    QVERIFY(file.endsWith("\r\n[Printer]\r\nOffset=\"2\""));
    QCOMPARE(IniFile::readKey(ini(), "Other", "Keep", "<missing>"), QByteArray("a=b;[c]"));
    QCOMPARE(IniFile::readKey(ini(), "Other", "SenderName", "<missing>"), QByteArray("not ours"));
    QCOMPARE(IniFile::readKey(ini(), "Printer", "Offset", "<missing>"), QByteArray("2"));
    // One line per key: each key once in its section, whatever the value holds.
    QCOMPARE(file.count("\r\n"), 9 + 9);

    restart();
    for (const auto& f : halvenna::senderSettingsFields)
        QCOMPARE(program_.senderSettings.*f.member, loaded);

    // Saving what was loaded again changes the file only where a value was cut on reading.
    TopForm->SaveSenderSettings();
    if (loaded == value)
        QCOMPARE(fileBytes(ini()), file);
}

// A file written by hand: the reading rules strip blanks around a value and one pair of matching
// quotes, and return at most 2047 bytes. The next save writes the value as it was read.
void TestSettingsBadInput::readingRulesApplyToWhatTheFileHolds()
{
    QVERIFY(writeFile(ini(), "[MAIN]\r\n"
                             "sendername =   \"  Halvenna  \"   \r\n"
                             "SENDERZIP='123-4567'\r\n"
                             "senderaddress1=\"unmatched'\r\n"
                             "SenderAddress2=\"\"twice\"\"\r\n"
                             "SenderTel=" +
                                 QByteArray(100 * 1024, '9') +
                                 "\r\n"
                                 "SenderShopCode1= \t \r\n"
                                 "SenderShopCode2=a \"b\" c\r\n"
                                 "CustomerCode=x=y;z\r\n"
                                 "[Main]\r\n"
                                 "AccountNo1=second section is not read\r\n"));
    program_.senderSettings.AccountNo1 = "kept";
    TopForm->LoadSenderSettings();
    QCOMPARE(program_.senderSettings.SenderName, QByteArray("  Halvenna  "));
    QCOMPARE(program_.senderSettings.SenderZip, QByteArray("123-4567"));
    QCOMPARE(program_.senderSettings.SenderAddress1, QByteArray("\"unmatched'"));
    QCOMPARE(program_.senderSettings.SenderAddress2, QByteArray("\"twice\""));
    QCOMPARE(program_.senderSettings.SenderTel, QByteArray(2047, '9'));
    QCOMPARE(program_.senderSettings.SenderShopCode1, QByteArray());
    QCOMPARE(program_.senderSettings.SenderShopCode2, QByteArray("a \"b\" c"));
    QCOMPARE(program_.senderSettings.CustomerCode, QByteArray("x=y;z"));
    QCOMPARE(program_.senderSettings.AccountNo1, QByteArray("kept"));

    const halvenna::SenderSettingsData read = program_.senderSettings;
    TopForm->SaveSenderSettings();
    restart();
    QVERIFY(program_.senderSettings == read);
}

void TestSettingsBadInput::typedValuesComeBackAfterRestart_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("double quotes") << QStringLiteral("\"株式会社\"");
    QTest::newRow("single quotes") << QStringLiteral("'abc'");
    QTest::newRow("blanks around") << QStringLiteral("  山田  ");
    QTest::newRow("full-width blanks") << QStringLiteral("　山田　");
    QTest::newRow("INI marks") << QStringLiteral("[Main] a=b; c");
    QTest::newRow("section header") << QStringLiteral("[Main]");
}

// What the user types into the dialog is saved on OK and shown again after a restart, as typed.
void TestSettingsBadInput::typedValuesComeBackAfterRestart()
{
    QFETCH(QString, typed);
    open();
    for (const auto& f : halvenna::senderSettingsFields)
        typeText(boxOf(f.key), typed);
    pressOk();
    QVERIFY(MessageBox::seam().requests().isEmpty());

    restart();
    open();
    for (const auto& f : halvenna::senderSettingsFields) {
        QCOMPARE(program_.senderSettings.*f.member, sj(typed));
        QCOMPARE(boxOf(f.key)->text(), typed);
    }
}

void TestSettingsBadInput::charactersCodePage932CannotHoldAreRefused_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("text");

    // 𠮷 is in JIS X 0213 but not in code page 932.
    const QStringList characters{QStringLiteral("😀"), QStringLiteral("한"), QStringLiteral("𠮷")};
    const char* const keys[] = {"SenderName", "SenderAddress1", "AccountNo3"};
    int i = 0;
    for (const QString& c : characters) {
        for (const char* how : {"key", "input method", "paste"}) {
            const char* key = keys[i++ % 3];
            QTest::addRow("%s into %s by %s", qPrintable(c), key, how)
                << QString::fromLatin1(key) << QString::fromLatin1(how) << c;
        }
    }
}

// Refused where it comes in, with a beep: the box keeps what it had, and OK stores that, never a
// "?" or the text without the character.
void TestSettingsBadInput::charactersCodePage932CannotHoldAreRefused()
{
    QFETCH(QString, key);
    QFETCH(QString, how);
    QFETCH(QString, text);
    QVERIFY(!halvenna::sjis::canEncode(text));

    open();
    FieldLineEdit* box = SenderForm->findChild<FieldLineEdit*>(QStringLiteral("ed") + key);
    QVERIFY(box);
    box->setFocus();
    typeText(box, QStringLiteral("山田"));
    if (how == u"key") {
        typeText(box, text);
    } else if (how == u"input method") {
        QInputMethodEvent event;
        event.setCommitString(text);
        QCoreApplication::sendEvent(box, &event);
    } else {
        QGuiApplication::clipboard()->setText(u'a' + text);
        QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    }
    QCOMPARE(halvenna::Beep::seam().requests().size(), 1);
    QCOMPARE(box->text(), QStringLiteral("山田"));

    pressOk();
    QVERIFY(MessageBox::seam().requests().isEmpty());
    restart();
    for (const auto& f : halvenna::senderSettingsFields)
        QCOMPARE(program_.senderSettings.*f.member,
                 QLatin1String(f.key) == key ? sj(QStringLiteral("山田")) : QByteArray());
    QVERIFY(!fileBytes(ini()).contains('?'));
}

void TestSettingsBadInput::bytesThatAreNoCharacterSurviveTheDialog_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("0x80") << QByteArray("a\x80z");
    QTest::newRow("0xA0") << QByteArray("a\xa0z");
    QTest::newRow("0xFF") << QByteArray("\xff");
    QTest::newRow("lead byte at the end") << QByteArray("abc\x82");
    QTest::newRow("unassigned 0x8540") << QByteArray("\x85\x40");
}

// A settings file whose value is no code page 932 text (written by another program): the dialog
// shows it as best it can; OK with that box untouched saves the bytes as they were, and the other
// boxes as typed.
void TestSettingsBadInput::bytesThatAreNoCharacterSurviveTheDialog()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(writeFile(ini(), "[Main]\r\nSenderName=" + bytes + "\r\n"));
    restart();
    QCOMPARE(program_.senderSettings.SenderName, bytes);

    open();
    typeText(boxOf("SenderTel"), QStringLiteral("03-1234-5678"));
    pressOk();
    QVERIFY(MessageBox::seam().requests().isEmpty());
    QCOMPARE(program_.senderSettings.SenderName, bytes);
    QCOMPARE(program_.senderSettings.SenderTel, QByteArray("03-1234-5678"));
    restart();
    QCOMPARE(program_.senderSettings.SenderName, bytes);
    QCOMPARE(program_.senderSettings.SenderTel, QByteArray("03-1234-5678"));
}

QTEST_MAIN(TestSettingsBadInput)
#include "tst_settingsbadinput.moc"
