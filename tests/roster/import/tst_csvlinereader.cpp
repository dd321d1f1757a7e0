#include "data/Error.h"
#include "data/SjisText.h"
#include "roster/import/CsvLineReader.h"

#include <QBuffer>
#include <QTest>

using halvenna::CsvLineReader;
using halvenna::MemberValues;

namespace {

QByteArray cp932(const QString& text)
{
    return halvenna::sjis::fromUnicode(text);
}

// Gives its bytes, then fails every read.
class FailingDevice : public QIODevice
{
public:
    explicit FailingDevice(QByteArray good) : good_(std::move(good)) {}
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        if (pos_ >= good_.size()) {
            setErrorString(QStringLiteral("simulated failure"));
            return -1;
        }
        const qint64 n = qMin(maxSize, qint64(good_.size()) - pos_);
        memcpy(data, good_.constData() + pos_, size_t(n));
        pos_ += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray good_;
    qint64 pos_ = 0;
};

QByteArrayList readAll(const QByteArray& input, qsizetype chunkSize, qint64* consumed = nullptr)
{
    QByteArray bytes = input;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    CsvLineReader reader(buffer, QStringLiteral("test.csv"), chunkSize);
    QByteArrayList lines;
    QByteArray line;
    qint64 last = 0;
    while (reader.readLine(line)) {
        lines << line;
        if (reader.bytesRead() < last)
            return {QByteArrayLiteral("<bytesRead went back>")};
        last = reader.bytesRead();
    }
    if (!line.isEmpty())
        return {QByteArrayLiteral("<line not emptied at the end>")};
    if (reader.readLine(line))
        return {QByteArrayLiteral("<a line after the end>")};
    if (consumed)
        *consumed = reader.bytesRead();
    return lines;
}

} // namespace

class TestCsvLineReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsLines_data();
    void readsLines();
    void lineHasNoLengthLimit();
    void peekGivesWhatFollowsWithoutTakingIt();
    void readErrorNamesTheFile();
    void splitsLine_data();
    void splitsLine();
};

void TestCsvLineReader::readsLines_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArrayList>("expected");
    // Bytes of the file taken when the reader has no more lines.
    QTest::addColumn<qint64>("consumed");

    const QByteArray yamada = cp932(QStringLiteral("12,山田花子,ヤマダハナコ"));
    // 表 and ソ have 0x5C ("\") as their second byte: it is part of the character.
    const QByteArray trailBytes = cp932(QStringLiteral("表示,ソフト"));

    QTest::newRow("empty file") << QByteArray() << QByteArrayList{} << qint64(0);
    QTest::newRow("LF") << QByteArray("a\nbc\n") << QByteArrayList{"a", "bc"} << qint64(5);
    QTest::newRow("last line without end") << QByteArray("a\nbc") << QByteArrayList{"a", "bc"} << qint64(4);
    QTest::newRow("CR LF") << QByteArray("a\r\nbc\r\n") << QByteArrayList{"a", "bc"} << qint64(7);
    QTest::newRow("final CR LF gives no extra line") << QByteArray("a\r\n") << QByteArrayList{"a"} << qint64(3);
    QTest::newRow("lone CR in the middle") << QByteArray("a\rb\nc") << QByteArrayList{"ab", "c"} << qint64(5);
    QTest::newRow("lone CR at the end of the file") << QByteArray("a\nbc\r") << QByteArrayList{"a", "bc"} << qint64(5);
    QTest::newRow("lone CR after the final LF") << QByteArray("a\n\r") << QByteArrayList{"a"} << qint64(3);
    QTest::newRow("CR CR LF") << QByteArray("a\r\r\nb") << QByteArrayList{"a", "b"} << qint64(5);
    QTest::newRow("LF CR") << QByteArray("a\n\rb\n") << QByteArrayList{"a", "b"} << qint64(5);
    QTest::newRow("CR LF then a CR-only line") << QByteArray("a\r\n\r\nb") << QByteArrayList{"a", "", "b"} << qint64(6);
    QTest::newRow("blank line in the middle") << QByteArray("a\n\nb\n") << QByteArrayList{"a", "", "b"} << qint64(5);
    QTest::newRow("a single LF is one blank line") << QByteArray("\n") << QByteArrayList{""} << qint64(1);
    QTest::newRow("only CRs") << QByteArray("\r\r\r") << QByteArrayList{} << qint64(3);
    QTest::newRow("0x1A in the middle of a line")
        << QByteArray("a\nb\x1a\nc\n") << QByteArrayList{"a", "b"} << qint64(3);
    QTest::newRow("0x1A at the start of a line") << QByteArray("a\r\n\x1a"
                                                               "b\r\n")
                                                 << QByteArrayList{"a"} << qint64(3);
    QTest::newRow("0x1A as the first byte") << QByteArray("\x1a"
                                                          "a\n")
                                            << QByteArrayList{} << qint64(0);
    QTest::newRow("CR before 0x1A") << QByteArray("a\r\x1a\n") << QByteArrayList{"a"} << qint64(2);
    QTest::newRow("byte-order mark stays in the first line") << QByteArray("\xef\xbb\xbf"
                                                                           "1,a\n")
                                                             << QByteArrayList{"\xef\xbb\xbf"
                                                                               "1,a"}
                                                             << qint64(7);
    QTest::newRow("NUL and control bytes stay")
        << QByteArray("a\0b\x01\x1b\x7f\t\n", 8) << QByteArrayList{QByteArray("a\0b\x01\x1b\x7f\t", 7)} << qint64(8);
    QTest::newRow("code page 932 text") << yamada + "\r\n" + trailBytes + "\r\n"
                                        << QByteArrayList{yamada, trailBytes}
                                        << qint64(yamada.size() + trailBytes.size() + 4);
}

void TestCsvLineReader::readsLines()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArrayList, expected);
    QFETCH(qint64, consumed);
    // Every chunk boundary position of these short inputs is met by one of the small sizes.
    for (const qsizetype chunkSize : {qsizetype(1), qsizetype(2), qsizetype(3), qsizetype(4), qsizetype(5),
                                      qsizetype(7), CsvLineReader::kDefaultChunkSize}) {
        qint64 taken = -1;
        const QByteArrayList lines = readAll(input, chunkSize, &taken);
        QVERIFY2(lines == expected, qPrintable(QStringLiteral("chunk size %1: %2")
                                                   .arg(chunkSize)
                                                   .arg(QString::fromLatin1(lines.join("|").toPercentEncoding()))));
        QCOMPARE(taken, consumed);
    }
}

void TestCsvLineReader::lineHasNoLengthLimit()
{
    // Longer than many chunks, with a CR LF straddling a chunk boundary.
    QByteArray longLine(5 * 1024 * 1024 + 3, 'x');
    for (qsizetype i = 0; i < longLine.size(); i += 997)
        longLine[i] = ',';
    const QByteArray input = longLine + "\r\n" + longLine + "\r\nlast";
    const QByteArrayList lines = readAll(input, CsvLineReader::kDefaultChunkSize);
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines.at(0) == longLine);
    QVERIFY(lines.at(1) == longLine);
    QCOMPARE(lines.at(2), QByteArray("last"));
}

// After each line, what follows it as the file holds it (CRs too), from the reader's chunk and
// beyond it, while the lines read go on as before.
void TestCsvLineReader::peekGivesWhatFollowsWithoutTakingIt()
{
    const QByteArray input = cp932(QStringLiteral("1,山田\r\n2,ｶﾅ\r\r\n\n3,x,y\n4,last"));
    const QByteArrayList expected{cp932(QStringLiteral("1,山田")), cp932(QStringLiteral("2,ｶﾅ")), QByteArray(), "3,x,y",
                                  "4,last"};
    for (const qsizetype chunkSize :
         {qsizetype(1), qsizetype(2), qsizetype(3), qsizetype(5), qsizetype(7), CsvLineReader::kDefaultChunkSize}) {
        QByteArray bytes = input;
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        CsvLineReader reader(buffer, QStringLiteral("test.csv"), chunkSize);
        QByteArrayList lines;
        QByteArray line;
        do {
            for (const qsizetype n : {qsizetype(1), qsizetype(4), qsizetype(1000)})
                QCOMPARE(reader.peek(n), input.mid(reader.bytesRead(), n));
        } while (reader.readLine(line) && (lines << line, true));
        QCOMPARE(lines, expected);
        QCOMPARE(reader.peek(10), QByteArray());
    }
    // Nothing after 0x1A.
    QByteArray bytes("1,a\r\n\x1a"
                     "2,b\r\n");
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    CsvLineReader reader(buffer, QStringLiteral("test.csv"), 2);
    QByteArray line;
    QVERIFY(reader.readLine(line));
    QVERIFY(!reader.readLine(line));
    QCOMPARE(reader.peek(10), QByteArray());
}

void TestCsvLineReader::readErrorNamesTheFile()
{
    FailingDevice device("1,a\r\n2,b\r\n3,");
    QVERIFY(device.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    CsvLineReader reader(device, QStringLiteral("/data/名簿.csv"), 4);
    QByteArray line;
    QVERIFY(reader.readLine(line));
    QCOMPARE(line, QByteArray("1,a"));
    QVERIFY(reader.readLine(line));
    QCOMPARE(line, QByteArray("2,b"));
    try {
        reader.readLine(line);
        QFAIL("no error for a failing read");
    } catch (const halvenna::Error& e) {
        QCOMPARE(e.message(), QStringLiteral("ファイル /data/名簿.csv を読めません (読み込みに失敗しました)"));
    }
}

void TestCsvLineReader::splitsLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArrayList>("expected");

    const auto v = [](std::initializer_list<const char*> given) {
        QByteArrayList values;
        for (const char* s : given)
            values << QByteArray(s);
        while (values.size() < 8)
            values << QByteArray();
        return values;
    };
    const auto sj = [](std::initializer_list<QString> given) {
        QByteArrayList values;
        for (const QString& s : given)
            values << cp932(s);
        while (values.size() < 8)
            values << QByteArray();
        return values;
    };

    QTest::newRow("0 commas: empty line") << QByteArray() << v({});
    QTest::newRow("0 commas") << QByteArray("12") << v({"12"});
    QTest::newRow("1 comma") << cp932(QStringLiteral("12,山田花子"))
                             << sj({QStringLiteral("12"), QStringLiteral("山田花子")});
    QTest::newRow("2 commas") << QByteArray("1,2,3") << v({"1", "2", "3"});
    QTest::newRow("3 commas") << QByteArray("1,2,3,4") << v({"1", "2", "3", "4"});
    QTest::newRow("4 commas") << QByteArray("1,2,3,4,5") << v({"1", "2", "3", "4", "5"});
    QTest::newRow("5 commas") << QByteArray("1,2,3,4,5,6") << v({"1", "2", "3", "4", "5", "6"});
    QTest::newRow("6 commas: no fax, telephone stays telephone")
        << cp932(QStringLiteral("12,山田花子,ヤマダハナコ,150-0001,東京都渋谷区神宮前1-2-3,ハイツ201,03-1234-5678"))
        << sj({QStringLiteral("12"), QStringLiteral("山田花子"), QStringLiteral("ヤマダハナコ"),
               QStringLiteral("150-0001"), QStringLiteral("東京都渋谷区神宮前1-2-3"), QStringLiteral("ハイツ201"),
               QStringLiteral("03-1234-5678")});
    QTest::newRow("7 commas")
        << cp932(QStringLiteral(
               "12,山田花子,ヤマダハナコ,150-0001,東京都渋谷区神宮前1-2-3,ハイツ201,03-1234-5678,03-1234-5679"))
        << sj({QStringLiteral("12"), QStringLiteral("山田花子"), QStringLiteral("ヤマダハナコ"),
               QStringLiteral("150-0001"), QStringLiteral("東京都渋谷区神宮前1-2-3"), QStringLiteral("ハイツ201"),
               QStringLiteral("03-1234-5678"), QStringLiteral("03-1234-5679")});
    QTest::newRow("8 commas: ninth field ignored")
        << QByteArray("1,2,3,4,5,6,7,8,9") << v({"1", "2", "3", "4", "5", "6", "7", "8"});
    QTest::newRow("9 commas") << QByteArray("1,2,3,4,5,6,7,8,9,10") << v({"1", "2", "3", "4", "5", "6", "7", "8"});
    QTest::newRow("8 commas, empty eighth field")
        << QByteArray("1,2,3,4,5,6,7,,9") << v({"1", "2", "3", "4", "5", "6", "7"});
    QTest::newRow("only commas") << QByteArray(",,,,,,,,,") << v({});
    QTest::newRow("empty fields between values") << QByteArray("1,,3,,5") << v({"1", "", "3", "", "5"});
    QTest::newRow("trailing comma") << QByteArray("1,a,") << v({"1", "a"});
    QTest::newRow("leading comma") << QByteArray(",a") << v({"", "a"});
    QTest::newRow("quotes are ordinary characters")
        << QByteArray("\"1\",\"a,b\",\"\"") << v({"\"1\"", "\"a", "b\"", "\"\""});
    QTest::newRow("spaces kept") << QByteArray(" 1 , a ,b , ") << v({" 1 ", " a ", "b ", " "});
    QTest::newRow("double-byte characters with 0x5C second bytes")
        << cp932(QStringLiteral("7,表示,ソフト"))
        << sj({QStringLiteral("7"), QStringLiteral("表示"), QStringLiteral("ソフト")});
}

void TestCsvLineReader::splitsLine()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArrayList, expected);
    const MemberValues values = halvenna::splitMemberLine(line);
    QCOMPARE(QByteArrayList(values.begin(), values.end()), expected);
}

QTEST_GUILESS_MAIN(TestCsvLineReader)
#include "tst_csvlinereader.moc"
