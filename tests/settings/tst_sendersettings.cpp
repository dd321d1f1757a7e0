#include "app/Program.h"
#include "data/Error.h"
#include "settings/SenderSettings.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using halvenna::SenderSettingsData;

Q_DECLARE_METATYPE(halvenna::SenderSettingsData)

namespace halvenna {
// Shown by QCOMPARE when two sets differ.
char* toString(const SenderSettingsData& d)
{
    QByteArray text;
    for (const auto& field : senderSettingsFields)
        text += QByteArray(field.key) + "=" + (d.*field.member).toHex() + " ";
    return qstrdup(text.constData());
}
} // namespace halvenna

namespace {

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Every member set to its own marker, so that a value landing in the wrong member shows.
SenderSettingsData marked(const QByteArray& mark)
{
    SenderSettingsData d;
    d.SenderName = mark + "1";
    d.SenderZip = mark + "2";
    d.SenderAddress1 = mark + "3";
    d.SenderAddress2 = mark + "4";
    d.SenderTel = mark + "5";
    d.SenderShopCode1 = mark + "6";
    d.SenderShopCode2 = mark + "7";
    d.CustomerCode = mark + "8";
    d.AccountNo1 = mark + "9";
    d.AccountNo2 = mark + "10";
    d.AccountNo3 = mark + "11";
    return d;
}

// Code page 932 texts, some with second bytes that look like "\", "]" or a letter.
SenderSettingsData japanese()
{
    SenderSettingsData d;
    d.SenderName = QByteArray::fromHex("8a948eae89ef8ed0836e838b8394834683938369"); // 株式会社ハルヴェンナ
    d.SenderZip = "100-0005";
    d.SenderAddress1 = QByteArray::fromHex("938c8b9e937390e791e393638be68adb82cc93e08250817c8251817c8252");
    d.SenderAddress2 = QByteArray::fromHex("835c83748367955c8ea68372838b82548a4b"); // ソフト表示ビル５階
    d.SenderTel = "03-1234-5678";
    d.SenderShopCode1 = QByteArray::fromHex("835d815b8393"); // ゾーン
    d.SenderShopCode2 = QByteArray::fromHex("83418343");     // アイ
    d.CustomerCode = " 0123 ";                               // blanks that must survive
    d.AccountNo1 = "\"00120\"";                              // quotes that must survive
    d.AccountNo2 = "'6'";
    d.AccountNo3 = QByteArray::fromHex("8e52936391be9859817c8160"); // 山田太郎－～
    return d;
}

class Immutable
{
public:
    explicit Immutable(QString path) : path_(std::move(path))
    {
        set_ = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path_}) == 0;
    }
    ~Immutable()
    {
        if (set_)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path_});
    }
    Immutable(const Immutable&) = delete;
    Immutable& operator=(const Immutable&) = delete;
    bool isSet() const { return set_; }

private:
    QString path_;
    bool set_ = false;
};

} // namespace

class TestSenderSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
    }

    void globalsStartEmpty();
    void fieldTable();
    void settingsFilePath();
    void firstSaveCreatesFile();
    void load_data();
    void load();
    void saveKeepsRestOfFile();
    void roundTrip();
    void saveFailure();

private:
    QString path() const { return halvenna::settingsFilePath(dir_->path() + u'/'); }
    std::unique_ptr<QTemporaryDir> dir_;
};

void TestSenderSettings::globalsStartEmpty()
{
    // The shell's program, reached through its handles as well.
    QCOMPARE(halvenna::Program::shell().senderSettings, SenderSettingsData{});
    QVERIFY(halvenna::Program::shell().appDir.isEmpty());
    QCOMPARE(SenderSettings, SenderSettingsData{});
    QVERIFY(AppDir.isEmpty());
    QVERIFY(&AppDir == &halvenna::Program::shell().appDir);
}

void TestSenderSettings::fieldTable()
{
    QStringList keys;
    SenderSettingsData d;
    for (const auto& field : halvenna::senderSettingsFields) {
        keys << QString::fromLatin1(field.key);
        d.*field.member = field.key;
    }
    QCOMPARE(keys,
             (QStringList{"SenderName", "SenderZip", "SenderAddress1", "SenderAddress2", "SenderTel", "SenderShopCode1",
                          "SenderShopCode2", "CustomerCode", "AccountNo1", "AccountNo2", "AccountNo3"}));
    // Each key is bound to the member of its own name.
    QCOMPARE(d.SenderName, "SenderName");
    QCOMPARE(d.SenderZip, "SenderZip");
    QCOMPARE(d.SenderAddress1, "SenderAddress1");
    QCOMPARE(d.SenderAddress2, "SenderAddress2");
    QCOMPARE(d.SenderTel, "SenderTel");
    QCOMPARE(d.SenderShopCode1, "SenderShopCode1");
    QCOMPARE(d.SenderShopCode2, "SenderShopCode2");
    QCOMPARE(d.CustomerCode, "CustomerCode");
    QCOMPARE(d.AccountNo1, "AccountNo1");
    QCOMPARE(d.AccountNo2, "AccountNo2");
    QCOMPARE(d.AccountNo3, "AccountNo3");
}

void TestSenderSettings::settingsFilePath()
{
    QCOMPARE(halvenna::settingsFilePath(QStringLiteral("/opt/halvenna/")), QStringLiteral("/opt/halvenna/Kelvaro.ini"));
}

void TestSenderSettings::firstSaveCreatesFile()
{
    SenderSettingsData d;
    halvenna::loadSenderSettings(d, path());
    QCOMPARE(d, SenderSettingsData{});

    halvenna::saveSenderSettings(d, path());
    QCOMPARE(readFile(path()),
             QByteArray("[Main]\r\nSenderName=\r\nSenderZip=\r\nSenderAddress1=\r\nSenderAddress2=\r\n"
                        "SenderTel=\r\nSenderShopCode1=\r\nSenderShopCode2=\r\nCustomerCode=\r\n"
                        "AccountNo1=\r\nAccountNo2=\r\nAccountNo3=\r\n"));
}

void TestSenderSettings::load_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<SenderSettingsData>("expected");

    const SenderSettingsData before = marked("before");
    QTest::newRow("no file") << false << QByteArray() << before;
    QTest::newRow("empty file") << true << QByteArray() << before;
    QTest::newRow("other section only") << true << QByteArray("[Other]\r\nSenderName=x\r\n") << before;

    SenderSettingsData partial = before;
    partial.SenderTel = "0123-45-6789";
    partial.SenderName = "\x8e\x52\x93\x63"; // 山田
    partial.AccountNo3 = "";
    partial.SenderZip = "123-4567";
    QTest::newRow("some keys, other case and order")
        << true
        << QByteArray("[Other]\nSenderZip=no\n[mAiN]\nsendertel=0123-45-6789\nACCOUNTNO3=\n"
                      "Unknown=1\nSenderName = \x8e\x52\x93\x63\n; SenderZip=no\nSenderZip=  \"123-4567\"  \n")
        << partial;

    QByteArray all = "[Main]\r\n";
    for (const auto& field : halvenna::senderSettingsFields)
        all += QByteArray(field.key) + "=  '" + marked("file").*field.member + "'\r\n";
    QTest::newRow("all keys, quoted") << true << all << marked("file");
}

void TestSenderSettings::load()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, content);
    QFETCH(SenderSettingsData, expected);

    if (exists)
        QVERIFY(writeFile(path(), content));
    SenderSettingsData d = marked("before");
    halvenna::loadSenderSettings(d, path());
    QCOMPARE(d, expected);
}

void TestSenderSettings::saveKeepsRestOfFile()
{
    // Written by hand and by another program since the last save: another section, comments, an
    // unknown key, and one of ours changed behind our back (ours wins, the others stay).
    QVERIFY(writeFile(path(), "; Halvenna\n[Printer]\nOffset=2\n\n[main]\nsendertel = 999\nExtra=keep me\n"
                              "; end of main\n\n[Other]\nSenderName=other\n"));
    SenderSettingsData d = marked("v");
    halvenna::saveSenderSettings(d, path());
    QCOMPARE(readFile(path()),
             QByteArray("; Halvenna\n[Printer]\nOffset=2\n\n[main]\nsendertel =v5\nExtra=keep me\n"
                        "SenderName=v1\nSenderZip=v2\nSenderAddress1=v3\nSenderAddress2=v4\n"
                        "SenderShopCode1=v6\nSenderShopCode2=v7\nCustomerCode=v8\nAccountNo1=v9\n"
                        "AccountNo2=v10\nAccountNo3=v11\n; end of main\n\n[Other]\nSenderName=other\n"));
}

void TestSenderSettings::roundTrip()
{
    const SenderSettingsData saved = japanese();
    halvenna::saveSenderSettings(saved, path());
    SenderSettingsData loaded;
    halvenna::loadSenderSettings(loaded, path());
    QCOMPARE(loaded, saved);

    // Saving what was loaded changes no byte.
    const QByteArray first = readFile(path());
    halvenna::saveSenderSettings(loaded, path());
    QCOMPARE(readFile(path()), first);
}

void TestSenderSettings::saveFailure()
{
    const QByteArray before = "[Main]\r\nSenderName=old\r\n";
    QVERIFY(writeFile(path(), before));
    const Immutable guard(path());
    if (!guard.isSet())
        QSKIP("chattr +i is not available here");

    QString message;
    try {
        halvenna::saveSenderSettings(marked("new"), path());
    } catch (const halvenna::Error& e) {
        message = e.message();
    }
    QCOMPARE(message, dir_->path() + QStringLiteral("/Kelvaro.ini に書き込めません"));
    QCOMPARE(readFile(path()), before);
}

QTEST_GUILESS_MAIN(TestSenderSettings)
#include "tst_sendersettings.moc"
