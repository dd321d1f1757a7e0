#include "data/Error.h"
#include "settings/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using halvenna::IniFile;

namespace {

const QByteArray kDefault = "<default>";

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

// Sets the immutable attribute (which stops even root from writing) and clears it again on the way
// out, whatever the test did, so the temporary directory can be removed.
class Immutable
{
public:
    // An empty path sets nothing.
    explicit Immutable(QString path) : path_(std::move(path))
    {
        set_ = !path_.isEmpty() && QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path_}) == 0;
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

class TestIniFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A fresh directory for every row.
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
    }

    void readKey_data();
    void readKey();
    void readKeyWithoutFile();
    void writeKeys_data();
    void writeKeys();
    void valueRoundTrip_data();
    void valueRoundTrip();
    void writeFailureLeavesFile_data();
    void writeFailureLeavesFile();

private:
    QString path() const { return dir_->filePath(QStringLiteral("test.ini")); }
    std::unique_ptr<QTemporaryDir> dir_;
};

void TestIniFile::readKey_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray s = "Main", k = "SenderName";
    QTest::newRow("plain") << QByteArray("[Main]\nSenderName=abc\n") << s << k << QByteArray("abc");
    QTest::newRow("CR LF lines") << QByteArray("[Main]\r\nX=1\r\nSenderName=abc\r\nY=2\r\n") << s << k
                                 << QByteArray("abc");
    QTest::newRow("no final line end") << QByteArray("[Main]\nSenderName=abc") << s << k << QByteArray("abc");
    QTest::newRow("section in other case") << QByteArray("[mAIN]\nSenderName=abc\n") << s << k << QByteArray("abc");
    QTest::newRow("key in other case") << QByteArray("[Main]\nSENDERname=abc\n") << s << k << QByteArray("abc");
    QTest::newRow("blanks around names and value")
        << QByteArray("  [ Main ]  \r\n\t SenderName \t=  \t abc def \t \r\n") << s << k << QByteArray("abc def");
    QTest::newRow("double quotes removed, blanks inside kept")
        << QByteArray("[Main]\nSenderName=  \"  abc  \"  \n") << s << k << QByteArray("  abc  ");
    QTest::newRow("single quotes removed") << QByteArray("[Main]\nSenderName='abc'\n") << s << k << QByteArray("abc");
    QTest::newRow("only the outer pair removed")
        << QByteArray("[Main]\nSenderName=\"\"abc\"\"\n") << s << k << QByteArray("\"abc\"");
    QTest::newRow("unmatched quotes kept")
        << QByteArray("[Main]\nSenderName=\"abc'\n") << s << k << QByteArray("\"abc'");
    QTest::newRow("lone quote kept") << QByteArray("[Main]\nSenderName=\"\n") << s << k << QByteArray("\"");
    QTest::newRow("inner quotes kept") << QByteArray("[Main]\nSenderName=a\"b\"c\n") << s << k << QByteArray("a\"b\"c");
    QTest::newRow("full-width blank is data")
        << QByteArray("[Main]\nSenderName=\x81\x40x\x81\x40\n") << s << k << QByteArray("\x81\x40x\x81\x40");
    QTest::newRow("empty value is not missing") << QByteArray("[Main]\nSenderName=\n") << s << k << QByteArray();
    QTest::newRow("value holding =") << QByteArray("[Main]\nSenderName=a=b\n") << s << k << QByteArray("a=b");
    QTest::newRow("first of two equal keys")
        << QByteArray("[Main]\nSenderName=1\nsendername=2\n") << s << k << QByteArray("1");
    QTest::newRow("header with text after it")
        << QByteArray("[Main] ; sender\nSenderName=x\n") << s << k << QByteArray("x");
    QTest::newRow("Japanese value") << QByteArray("[Main]\nSenderName=\x8e\x52\x93\x63\x91\xbe\x98\x59\n") << s << k
                                    << QByteArray("\x8e\x52\x93\x63\x91\xbe\x98\x59"); // 山田太郎
    // ゾ is 83 5D: its second byte is "]" and must not end the header.
    QTest::newRow("second byte like ] after header")
        << QByteArray("[Main]\x83\x5d\nSenderName=x\n") << s << k << QByteArray("x");
    // 表 (95 5C) and ア (83 41) as section and key names.
    QTest::newRow("Japanese section and key") << QByteArray("[\x95\x5c]\n\x83\x41=x\n") << QByteArray("\x95\x5c")
                                              << QByteArray("\x83\x41") << QByteArray("x");
    // ヂ is 83 61: folding its second byte "a" to "A" would make it ア (83 41).
    QTest::newRow("second byte not case-folded")
        << QByteArray("[Main]\n\x83\x61=x\n") << s << QByteArray("\x83\x41") << kDefault;

    QTest::newRow("missing key") << QByteArray("[Main]\nSenderZip=1\n") << s << k << kDefault;
    QTest::newRow("missing section") << QByteArray("[Other]\nSenderName=x\n") << s << k << kDefault;
    QTest::newRow("key before any section") << QByteArray("SenderName=x\n[Main]\n") << s << k << kDefault;
    QTest::newRow("key of the next section")
        << QByteArray("[Main]\nA=1\n[Other]\nSenderName=x\n") << s << k << kDefault;
    QTest::newRow("commented-out key") << QByteArray("[Main]\n ;SenderName=x\n") << s << k << kDefault;
    QTest::newRow("line without =") << QByteArray("[Main]\nSenderName\n") << s << k << kDefault;
    QTest::newRow("empty file") << QByteArray() << s << k << kDefault;

    const QByteArray a2047(2047, 'a');
    QTest::newRow("2047 bytes kept") << "[Main]\nSenderName=" + a2047 + "\n" << s << k << a2047;
    QTest::newRow("longer value cut to 2047 bytes") << "[Main]\nSenderName=" + QByteArray(3000, 'b') + "\n"
                                                    << s << k << QByteArray(2047, 'b');
    QTest::newRow("cut after blanks and quotes are removed")
        << "[Main]\nSenderName=  \"" + QByteArray(2047, 'c') + "\"  \n"
        << s << k << QByteArray(2047, 'c');
    QTest::newRow("double-byte character that would not fit whole is dropped")
        << "[Main]\nSenderName=" + QByteArray(2046, 'a') + "\x95\x5c" + "\n"
        << s << k << QByteArray(2046, 'a');
    QTest::newRow("double-byte character that fits is kept")
        << "[Main]\nSenderName=" + QByteArray(2045, 'a') + "\x95\x5cz" + "\n"
        << s << k << QByteArray(2045, 'a') + "\x95\x5c";
}

void TestIniFile::readKey()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, expected);

    QVERIFY(writeFile(path(), content));
    QCOMPARE(IniFile::readKey(path(), section, key, kDefault), expected);
}

void TestIniFile::readKeyWithoutFile()
{
    QCOMPARE(IniFile::readKey(path(), "Main", "SenderName", kDefault), kDefault);
    QCOMPARE(IniFile::readKey(dir_->path(), "Main", "SenderName", kDefault), kDefault);
}

void TestIniFile::writeKeys_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<IniFile::KeysAndValues>("keys");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("new file") << false << QByteArray() << IniFile::KeysAndValues{{"A", "1"}, {"B", ""}, {"C", "x"}}
                              << QByteArray("[Main]\r\nA=1\r\nB=\r\nC=x\r\n");
    QTest::newRow("empty file") << true << QByteArray() << IniFile::KeysAndValues{{"A", "1"}, {"B", ""}}
                                << QByteArray("[Main]\r\nA=1\r\nB=\r\n");
    QTest::newRow("key replaced in place, as the file spells it")
        << true << QByteArray("[main]\n  sendername = old value  \nOther=1\n")
        << IniFile::KeysAndValues{{"SenderName", "new"}} << QByteArray("[main]\n  sendername =new\nOther=1\n");
    QTest::newRow("missing key after the section's last key")
        << true << QByteArray("; head\n[Main]\nA=1\n\n; next\n[Other]\nB=2\n") << IniFile::KeysAndValues{{"C", "3"}}
        << QByteArray("; head\n[Main]\nA=1\nC=3\n\n; next\n[Other]\nB=2\n");
    QTest::newRow("new keys in the order given")
        << true << QByteArray("[Main]\nB=old\n") << IniFile::KeysAndValues{{"A", "1"}, {"B", "2"}, {"C", "3"}}
        << QByteArray("[Main]\nB=2\nA=1\nC=3\n");
    QTest::newRow("section without keys")
        << true << QByteArray("[Main]\n; none yet\n[Other]\nA=2\n") << IniFile::KeysAndValues{{"A", "1"}}
        << QByteArray("[Main]\nA=1\n; none yet\n[Other]\nA=2\n");
    QTest::newRow("same key in another section untouched")
        << true << QByteArray("[Other]\nA=1\n[Main]\nB=2\n") << IniFile::KeysAndValues{{"A", "x"}}
        << QByteArray("[Other]\nA=1\n[Main]\nB=2\nA=x\n");
    QTest::newRow("missing section at the end")
        << true << QByteArray("[Other]\r\nB=2\r\n") << IniFile::KeysAndValues{{"A", "1"}, {"C", ""}}
        << QByteArray("[Other]\r\nB=2\r\n[Main]\r\nA=1\r\nC=\r\n");
    QTest::newRow("LF file stays LF") << true << QByteArray("[Other]\nB=2\n") << IniFile::KeysAndValues{{"A", "1"}}
                                      << QByteArray("[Other]\nB=2\n[Main]\nA=1\n");
    QTest::newRow("CR LF file stays CR LF") << true << QByteArray("[Main]\r\nA=1\r\n\r\n[Other]\r\nB=2\r\n")
                                            << IniFile::KeysAndValues{{"A", "x"}, {"C", "y"}}
                                            << QByteArray("[Main]\r\nA=x\r\nC=y\r\n\r\n[Other]\r\nB=2\r\n");
    QTest::newRow("last line gets a line end when a key follows it")
        << true << QByteArray("[Main]\nA=1") << IniFile::KeysAndValues{{"B", "2"}} << QByteArray("[Main]\nA=1\nB=2\n");
    QTest::newRow("last line gets a line end when a section follows it")
        << true << QByteArray("[Other]\r\nB=2") << IniFile::KeysAndValues{{"A", "1"}}
        << QByteArray("[Other]\r\nB=2\r\n[Main]\r\nA=1\r\n");
    QTest::newRow("replaced last line keeps having no line end")
        << true << QByteArray("[Main]\nA=1") << IniFile::KeysAndValues{{"A", "2"}} << QByteArray("[Main]\nA=2");
    QTest::newRow("only the first of two equal keys replaced")
        << true << QByteArray("[Main]\nA=1\na=2\n") << IniFile::KeysAndValues{{"A", "3"}}
        << QByteArray("[Main]\nA=3\na=2\n");
    // Comments, odd lines, trailing blanks, Japanese bytes and other sections, all kept byte for byte.
    QTest::newRow("every other byte kept")
        << true
        << QByteArray("\xef\xbb\xbf; top \t\r\n\r\n[\x95\x5c]\r\nA = \x83\x5d \r\n  junk line\r\n"
                      "[Main]  ; sender\r\nX=  \"q\"  \r\n\tA\t=\t1\t\r\n;A=old\r\n  \r\n[Z]\r\nC=3")
        << IniFile::KeysAndValues{{"A", "\x83\x41"}, {"B", "b"}}
        << QByteArray("\xef\xbb\xbf; top \t\r\n\r\n[\x95\x5c]\r\nA = \x83\x5d \r\n  junk line\r\n"
                      "[Main]  ; sender\r\nX=  \"q\"  \r\n\tA\t=\x83\x41\r\nB=b\r\n;A=old\r\n  \r\n[Z]\r\nC=3");
}

void TestIniFile::writeKeys()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, before);
    QFETCH(IniFile::KeysAndValues, keys);
    QFETCH(QByteArray, after);

    if (exists)
        QVERIFY(writeFile(path(), before));
    IniFile::writeKeys(path(), "Main", keys);
    QCOMPARE(readFile(path()), after);
    // Nothing left beside it.
    QCOMPARE(QDir(dir_->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{QStringLiteral("test.ini")});
}

void TestIniFile::valueRoundTrip_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("readBack");

    const QByteArray name = "\x8a\x94\x8e\xae\x89\xef\x8e\xd0\x83\x6e\x83\x8b"; // 株式会社ハル
    QTest::newRow("plain") << QByteArray("abc") << QByteArray("abc") << QByteArray("abc");
    QTest::newRow("empty") << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("Japanese") << name << name << name;
    QTest::newRow("second bytes like \\ and ]")
        << QByteArray("\x83\x5c\x95\x5c\x83\x5d") << QByteArray("\x83\x5c\x95\x5c\x83\x5d")
        << QByteArray("\x83\x5c\x95\x5c\x83\x5d");
    QTest::newRow("inner blanks and quotes")
        << QByteArray("a \"b\" 'c' d") << QByteArray("a \"b\" 'c' d") << QByteArray("a \"b\" 'c' d");
    QTest::newRow("LF") << QByteArray("a\nb") << QByteArray("a b") << QByteArray("a b");
    QTest::newRow("CR LF") << QByteArray("a\r\nb") << QByteArray("a b") << QByteArray("a b");
    QTest::newRow("CR") << QByteArray("a\rb") << QByteArray("a b") << QByteArray("a b");
    QTest::newRow("LF CR is two breaks") << QByteArray("a\n\rb") << QByteArray("a  b") << QByteArray("a  b");
    QTest::newRow("line break into a section and a key")
        << QByteArray("x\r\n[Main]\r\nB=evil") << QByteArray("x [Main] B=evil") << QByteArray("x [Main] B=evil");
    QTest::newRow("trailing line break") << QByteArray("abc\r\n") << QByteArray("\"abc \"") << QByteArray("abc ");
    QTest::newRow("leading and trailing blanks")
        << QByteArray("  abc\t") << QByteArray("\"  abc\t\"") << QByteArray("  abc\t");
    QTest::newRow("blank only") << QByteArray(" ") << QByteArray("\" \"") << QByteArray(" ");
    QTest::newRow("double-quoted") << QByteArray("\"abc\"") << QByteArray("\"\"abc\"\"") << QByteArray("\"abc\"");
    QTest::newRow("single-quoted") << QByteArray("'abc'") << QByteArray("\"'abc'\"") << QByteArray("'abc'");
    QTest::newRow("quote at the start only") << QByteArray("\"abc") << QByteArray("\"\"abc\"") << QByteArray("\"abc");
    QTest::newRow("quote at the end only") << QByteArray("abc'") << QByteArray("\"abc'\"") << QByteArray("abc'");
    QTest::newRow("lone quote") << QByteArray("\"") << QByteArray("\"\"\"") << QByteArray("\"");
    QTest::newRow("Japanese between blanks") << " " + name + " "
                                             << "\" " + name + " \""
                                             << " " + name + " ";
}

void TestIniFile::valueRoundTrip()
{
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, readBack);

    IniFile::writeKeys(path(), "Main", {{"A", value}, {"B", "next"}});
    QCOMPARE(readFile(path()), "[Main]\r\nA=" + line + "\r\nB=next\r\n");
    QCOMPARE(IniFile::readKey(path(), "Main", "A", kDefault), readBack);
    QCOMPARE(IniFile::readKey(path(), "Main", "B", kDefault), QByteArray("next"));

    // Written again over itself, the value stays on its line.
    IniFile::writeKeys(path(), "Main", {{"A", value}});
    QCOMPARE(readFile(path()), "[Main]\r\nA=" + line + "\r\nB=next\r\n");
}

void TestIniFile::writeFailureLeavesFile_data()
{
    QTest::addColumn<QString>("immutable"); // "file", "dir" or empty
    QTest::addColumn<bool>("exists");
    QTest::addColumn<bool>("pathIsDirectory");

    QTest::newRow("file cannot be replaced") << QStringLiteral("file") << true << false;
    QTest::newRow("directory cannot be written") << QStringLiteral("dir") << true << false;
    QTest::newRow("new file in a directory that cannot be written") << QStringLiteral("dir") << false << false;
    QTest::newRow("path is a directory") << QString() << false << true;
}

void TestIniFile::writeFailureLeavesFile()
{
    QFETCH(QString, immutable);
    QFETCH(bool, exists);
    QFETCH(bool, pathIsDirectory);

    const QByteArray before = "; kept\r\n[Main]\r\nA=old\r\n[Other]\r\nB=2"; // no final line end: must stay so
    if (exists)
        QVERIFY(writeFile(path(), before));
    if (pathIsDirectory)
        QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("test.ini")));
    const QDir dir(dir_->path());
    const QStringList entriesBefore = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);

    const Immutable guard(immutable.isEmpty() ? QString() : immutable == u"file" ? path() : dir_->path());
    if (!immutable.isEmpty() && !guard.isSet())
        QSKIP("chattr +i is not available here");

    QString message;
    try {
        IniFile::writeKeys(path(), "Main", {{"A", "new"}, {"C", "3"}});
    } catch (const halvenna::Error& e) {
        message = e.message();
    }
    QCOMPARE(message, path() + QStringLiteral(" に書き込めません"));

    QCOMPARE(dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), entriesBefore);
    if (exists)
        QCOMPARE(readFile(path()), before);
    QCOMPARE(QFileInfo(path()).isDir(), pathIsDirectory);
}

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
