// Roster files that are not what the import expects: a line of 100 MB, bytes that are no code page
// 932 character, NUL bytes. Each either gives the import's ordinary result or stops the run at its
// line with an error; the lines before it stay stored and nothing stored changes behind the user's
// back.
#include "common/DataFixture.h"
#include "common/StoredRows.h"
#include "data/Error.h"
#include "data/SjisText.h"
#include "roster/import/MemberImport.h"

#include <QFile>
#include <QTest>

#include <sqlite3.h>

#include <memory>

using halvenna::FieldValue;
using halvenna::MemberImport;
using halvenna::Table;
using halvenna::TableState;

namespace {

QByteArray cp932(const QString& text)
{
    return halvenna::sjis::fromUnicode(text);
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every stored member as another program sees it: id_no, then name and fax as stored (UTF-8).
QList<QStringList> stored(const QString& dbFile)
{
    return storedRows(dbFile, "SELECT id_no, name, fax FROM MemberMaster ORDER BY id_no");
}

// Kilobytes from a line of /proc/self/status ("VmHWM:   1234 kB").
qint64 statusKb(const QByteArray& key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(key + ':'))
            return line.mid(key.size() + 1).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// Starts a new peak of resident memory from what is resident now.
bool resetPeakMemory()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

// The roster file opened as the import opens it, keeping the largest single read asked of it: a
// reader that held the whole file would ask for all of it.
class WatchedFile : public QFile
{
public:
    using QFile::QFile;
    qint64 largestRead = 0;

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        largestRead = qMax(largestRead, maxSize);
        return QFile::readData(data, maxSize);
    }
};

const QString kId = QStringLiteral("id_no");
const QString kName = QStringLiteral("name");
const QString kFax = QStringLiteral("fax");

} // namespace

class TestImportBadInput : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void hugeLineIsCutToFieldWidths();
    void bytesThatAreNoCharacter_data();
    void bytesThatAreNoCharacter();

private:
    Table& members() { return fx_->dm->tbMemberMaster; }
    QString memberFile() const { return fx_->dir.filePath(QStringLiteral("MemberMaster.db")); }
    QString csvPath() const { return fx_->dir.filePath(QStringLiteral("members.csv")); }

    std::unique_ptr<DataFixture> fx_;
};

void TestImportBadInput::init()
{
    fx_ = std::make_unique<DataFixture>();
    QVERIFY(fx_->dir.isValid());
}

void TestImportBadInput::cleanup()
{
    fx_.reset();
}

// A line of 100 MB between two ordinary ones: its values are stored cut to their fields' widths
// (at a whole character), the lines around it are stored, the file is read a chunk at a time and
// memory grows with the line, not beyond a few times its size.
void TestImportBadInput::hugeLineIsCutToFieldWidths()
{
    constexpr qint64 kLineBytes = 100 * 1024 * 1024;
    const QByteArray kanji = cp932(QStringLiteral("漢"));
    {
        QFile file(csvPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write(cp932(QStringLiteral("1,一\r\n2,A"))) > 0);
        // "A" and then double-byte characters: the name's 40 bytes end in the middle of one.
        const QByteArray block = kanji.repeated(512 * 1024); // 1 MB
        for (qint64 written = 0; written < kLineBytes; written += block.size())
            QVERIFY(file.write(block) == block.size());
        QVERIFY(file.write(cp932(QStringLiteral(",ニ,100-0002,住所,,03-1234-5678,03-9999-0000\r\n3,三\r\n"))) > 0);
    }

    WatchedFile file(csvPath());
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    const qint64 residentBefore = statusKb("VmRSS");
    const bool peakReset = resetPeakMemory();
    MemberImport import(members());
    QCOMPARE(import.run(file, csvPath()), 3);
    const qint64 peak = statusKb("VmHWM");

    QCOMPARE(stored(memberFile()), (QList<QStringList>{
                                       {QStringLiteral("1"), QStringLiteral("一"), QString()},
                                       {QStringLiteral("2"), u'A' + QString(19, u'漢'), QStringLiteral("03-9999-0000")},
                                       {QStringLiteral("3"), QStringLiteral("三"), QString()},
                                   }));
    QVERIFY(members().locate(kId, FieldValue::integer(2)));
    QCOMPARE(members().fieldValue(kName).asText(), "A" + kanji.repeated(19));
    QCOMPARE(members().fieldValue(QStringLiteral("zip_r")).asText(), QByteArray("0  0  0  2"));
    QCOMPARE(members().state(), TableState::Browse);

    QVERIFY2(file.largestRead <= halvenna::CsvLineReader::kDefaultChunkSize,
             qPrintable(QStringLiteral("read %1 bytes at once").arg(file.largestRead)));
    if (!peakReset || residentBefore < 0 || peak < 0)
        QSKIP("the peak of resident memory cannot be measured here");
#if defined(__SANITIZE_ADDRESS__)
    constexpr qint64 kCopies = 4;
#else
    constexpr qint64 kCopies = 3;
#endif
    // The line itself and its second field are held once each; a third copy is allowed for the
    // allocator, a fourth under AddressSanitizer, which keeps freed blocks (those the line outgrew)
    // for a while. Converting the line to UTF-16 as well would not pass.
    const qint64 grewKb = peak - residentBefore;
    QVERIFY2(grewKb * 1024 < kCopies * kLineBytes + 64 * 1024 * 1024,
             qPrintable(QStringLiteral("resident memory grew by %1 MB").arg(grewKb / 1024)));
}

void TestImportBadInput::bytesThatAreNoCharacter_data()
{
    // Line 2 of the file, whose member 2 is already stored as "元の名前" with fax "03-0000-0000".
    QTest::addColumn<QByteArray>("line");
    // The error that stops the run at line 2; empty when the line is stored.
    QTest::addColumn<QString>("error");
    // What member 2's name and fax read back as afterwards (code page 932).
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("fax");

    const QByteArray oldName = cp932(QStringLiteral("元の名前"));
    const QByteArray oldFax = "03-0000-0000";
    // Every refusal names its line.
    const QString badName = QStringLiteral("2 行目: 項目 'name' の値として不正です");
    const QString badFax = QStringLiteral("2 行目: 項目 'fax' の値として不正です");
    const QByteArray yamada = cp932(QStringLiteral("山田"));

    // Refused: the table keeps text as characters, and these bytes are none; stored, they would
    // come back as other bytes (or not at all).
    QTest::newRow("lone lead byte before a comma") << "2," + yamada + "\x82,,,,,,x" << badName << oldName << oldFax;
    QTest::newRow("lead byte before a blank") << "2,\x82 " + yamada << badName << oldName << oldFax;
    QTest::newRow("lead byte at the end of the line") << QByteArray("2,,,,,,,03\x82") << badFax << oldName << oldFax;
    QTest::newRow("lead byte before CR LF (the CR is dropped)")
        << QByteArray("2,,,,,,,03\x82\r") << badFax << oldName << oldFax;
    QTest::newRow("0x80") << QByteArray("2,a\x80z") << badName << oldName << oldFax;
    QTest::newRow("0xA0") << QByteArray("2,a\xa0z") << badName << oldName << oldFax;
    QTest::newRow("0xFD") << QByteArray("2,\xfd") << badName << oldName << oldFax;
    QTest::newRow("0xFE") << QByteArray("2,\xfe") << badName << oldName << oldFax;
    QTest::newRow("0xFF") << QByteArray("2,\xff") << badName << oldName << oldFax;
    QTest::newRow("unassigned double byte 0x8540") << QByteArray("2,\x85\x40") << badName << oldName << oldFax;
    QTest::newRow("lead byte before a control byte") << QByteArray("2,\x81\x1f") << badName << oldName << oldFax;
    QTest::newRow("NUL in the member number")
        << QByteArray("2\0,x", 4) << QStringLiteral("2 行目: 項目 'id_no' の値として不正です") << oldName << oldFax;

    // Stored: what is stored reads back as the bytes of the file.
    QTest::newRow("NUL inside the name and at the end of the line")
        << QByteArray("2,a\0b,,,,,,\0", 12) << QString() << QByteArray("a\0b", 3) << QByteArray("\0", 1);
    QTest::newRow("NUL after a double-byte character at the end of the line")
        << "2,,,,,,," + yamada + QByteArray("\0", 1) << QString() << QByteArray() << yamada + QByteArray("\0", 1);
    QTest::newRow("half-width katakana are single bytes")
        << QByteArray("2,,,,,,,\xb1\xb2\xdf\xa1") << QString() << QByteArray() << QByteArray("\xb1\xb2\xdf\xa1");
    QTest::newRow("user-defined character 0xF040")
        << QByteArray("2,,,,,,,\xf0\x40") << QString() << QByteArray() << QByteArray("\xf0\x40");
    QTest::newRow("bad byte cut away with what does not fit")
        << "2," + QByteArray(40, 'x') + "\xff" << QString() << QByteArray(40, 'x') << QByteArray();
    // The same character under its second code: the table keeps the character, which reads back
    // under the code Windows itself writes for it.
    QTest::newRow("NEC-selected 0xED40 reads back as 0xFA5C")
        << QByteArray("2,,,,,,,\xed\x40") << QString() << QByteArray() << QByteArray("\xfa\x5c");
}

void TestImportBadInput::bytesThatAreNoCharacter()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, error);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, fax);
    Table& t = members();
    t.append();
    t.setFieldValue(kId, FieldValue::integer(2));
    t.setFieldText(kName, cp932(QStringLiteral("元の名前")));
    t.setFieldText(kFax, "03-0000-0000");
    t.post();
    QVERIFY(
        writeFile(csvPath(), cp932(QStringLiteral("1,一\r\n")) + line + "\r\n" + cp932(QStringLiteral("3,三\r\n"))));

    MemberImport import(members());
    QString message;
    try {
        import.run(csvPath());
    } catch (const halvenna::Error& e) {
        message = e.message();
    }
    QCOMPARE(message, error);
    QCOMPARE(import.linesMerged(), error.isEmpty() ? 3 : 1);
    // Nothing of a refused line is pending, so no later move can store half of it.
    QCOMPARE(t.state(), TableState::Browse);

    const QList<QStringList> rows = stored(memberFile());
    QCOMPARE(rows.size(), error.isEmpty() ? 3 : 2);
    QCOMPARE(rows.first(), (QStringList{QStringLiteral("1"), QStringLiteral("一"), QString()}));
    for (const QStringList& row : rows)
        for (const QString& value : row)
            QVERIFY2(!value.contains(QChar::ReplacementCharacter) && !value.contains(QChar(0x1a)),
                     qPrintable(row.join(u'|')));

    QVERIFY(t.locate(kId, FieldValue::integer(2)));
    QCOMPARE(t.fieldValue(kName).isNull() ? QByteArray() : t.fieldValue(kName).asText(), name);
    QCOMPARE(t.fieldValue(kFax).isNull() ? QByteArray() : t.fieldValue(kFax).asText(), fax);
}

QTEST_GUILESS_MAIN(TestImportBadInput)
#include "tst_importbadinput.moc"
