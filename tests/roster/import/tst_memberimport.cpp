#include "common/DataFixture.h"
#include "common/StoredRows.h"
#include "data/DataSource.h"
#include "data/Error.h"
#include "data/SjisText.h"
#include "roster/import/MemberImport.h"
#include "roster/model/RecordRules.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <thread>

using halvenna::FieldValue;
using halvenna::MemberImport;
using halvenna::Table;
using halvenna::TableState;

Q_DECLARE_METATYPE(halvenna::TableState)

namespace {

const QString kNull = QStringLiteral("<null>"); // as storedRows gives null

QByteArray cp932(const QString& text)
{
    return halvenna::sjis::fromUnicode(text);
}

// The file as the user's spreadsheet writes it: code page 932, CR LF after every line.
QByteArray csv(const QStringList& lines)
{
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += cp932(line) + "\r\n";
    return bytes;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The member rows as another program sees them: only what is committed. Columns id_no, name,
// name_kana, zip, address1, address2, tel, fax, notes, zip_f, zip_r, tel_f, tel_m, tel_r.
QList<QStringList> storedMembers(const QString& dbFile)
{
    return storedRows(dbFile, "SELECT id_no, name, name_kana, zip, address1, address2, tel, fax, notes, "
                              "zip_f, zip_r, tel_f, tel_m, tel_r FROM MemberMaster ORDER BY id_no");
}

// The first n columns of each row.
QList<QStringList> firstColumns(const QList<QStringList>& rows, int n)
{
    QList<QStringList> out;
    for (const QStringList& row : rows)
        out << row.mid(0, n);
    return out;
}

QStringList ids(const QList<QStringList>& rows)
{
    QStringList out;
    for (const QStringList& row : rows)
        out << row.value(0);
    return out;
}

// True when another program can start writing at once: the import holds no transaction open.
bool othersCanWrite(const QString& dbFile)
{
    sqlite3* db = nullptr;
    bool ok = sqlite3_open_v2(QFile::encodeName(dbFile).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
    ok = ok && sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (ok)
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return ok;
}

// Descriptors of this process open on path.
int openHandles(const QString& path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    int count = 0;
    QDirIterator it(QStringLiteral("/proc/self/fd"), QDir::System | QDir::Files);
    while (it.hasNext()) {
        it.next();
        if (QFileInfo(it.filePath()).symLinkTarget() == target)
            ++count;
    }
    return count;
}

// A bound editor holding typed input that it writes into the row when the table asks for it.
class PendingEditor : public halvenna::DataLink
{
public:
    QString field;
    QByteArray pendingInput;

protected:
    void updateData() override
    {
        if (pendingInput.isEmpty())
            return;
        table()->setFieldText(field, pendingInput);
        pendingInput.clear();
    }
};

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

// Imports bytes through a named pipe made at path, which another thread writes in pieces while
// the import reads: input that cannot be sized, sought or read again, as from a pipe a user gives.
int importThroughPipe(MemberImport& import, const QString& path, const QByteArray& bytes)
{
    // Cut through lines and characters alike.
    constexpr qsizetype kPiece = 4093;
    const QByteArray name = QFile::encodeName(path);
    if (::mkfifo(name.constData(), 0600) != 0)
        qFatal("mkfifo %s failed", name.constData());
    // A reader that stops early makes a write fail rather than end the run.
    std::signal(SIGPIPE, SIG_IGN);
    std::thread writer([&] {
        const int fd = ::open(name.constData(), O_WRONLY); // waits for the reader
        if (fd < 0)
            return;
        for (qsizetype at = 0; at < bytes.size(); at += kPiece) {
            const QByteArray piece = bytes.mid(at, kPiece);
            if (::write(fd, piece.constData(), size_t(piece.size())) != piece.size())
                break;
        }
        ::close(fd);
    });
    int lines = 0;
    try {
        lines = import.run(path);
    } catch (...) {
        // A writer still waiting for a reader is let go.
        const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        writer.join();
        throw;
    }
    writer.join();
    return lines;
}

const QString kWorkedExample =
    QStringLiteral("12,山田花子,ヤマダハナコ,150-0001,東京都渋谷区神宮前1-2-3,ハイツ201,03-1234-5678,03-1234-5679");

} // namespace

class TestMemberImport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void importsLines_data();
    void importsLines();
    void updateKeepsNotesAndAddHasNone();
    void stopsAtLineThatIsNoMember_data();
    void stopsAtLineThatIsNoMember();
    void refusedPostKeepsLinesBeforeAndRecordPending_data();
    void refusedPostKeepsLinesBeforeAndRecordPending();
    void cutsValuesToFieldWidth_data();
    void cutsValuesToFieldWidth();
    void storesValuesExactly_data();
    void storesValuesExactly();
    void settlesPendingEditBeforeFirstLine_data();
    void settlesPendingEditBeforeFirstLine();
    void cancelStopsLikeFailure_data();
    void cancelStopsLikeFailure();
    void reportsProgressInBytesOfFileSize();
    void fileThatCannotBeOpened_data();
    void fileThatCannotBeOpened();
    void readErrorKeepsLinesBefore();
    void closedTable();
    void readsUtf8Files_data();
    void readsUtf8Files();
    void utf8CharacterWithoutCodePage932StopsAtItsLine_data();
    void utf8CharacterWithoutCodePage932StopsAtItsLine();
    void refusalNamesItsLine_data();
    void refusalNamesItsLine();
    void tellsUtf8FromCodePage932_data();
    void tellsUtf8FromCodePage932();

private:
    Table& members() { return fx_->dm->tbMemberMaster; }
    QString memberFile() const { return fx_->dir.filePath(QStringLiteral("MemberMaster.db")); }
    QString csvPath() const { return fx_->dir.filePath(QStringLiteral("members.csv")); }
    void addMember(const QStringList& values, const QString& notes = {});

    std::unique_ptr<DataFixture> fx_;
};

void TestMemberImport::init()
{
    fx_ = std::make_unique<DataFixture>();
    QVERIFY(fx_->dir.isValid());
}

void TestMemberImport::cleanup()
{
    fx_.reset();
}

// Stores a member through the table: id_no, name, name_kana, zip, address1, address2, tel, fax.
void TestMemberImport::addMember(const QStringList& values, const QString& notes)
{
    static const char* const fields[] = {"id_no", "name", "name_kana", "zip", "address1", "address2", "tel", "fax"};
    members().append();
    for (int i = 0; i < values.size(); ++i)
        members().setFieldText(QString::fromLatin1(fields[i]), cp932(values.at(i)));
    if (!notes.isNull())
        members().setFieldText(QStringLiteral("notes"), cp932(notes));
    members().post();
}

void TestMemberImport::importsLines_data()
{
    QTest::addColumn<QByteArray>("file");
    // Rows by id_no: id_no, name, name_kana, zip, address1, address2, tel, fax, notes.
    QTest::addColumn<QList<QStringList>>("expected");
    // id_no of the current row afterwards (the last member written); empty for none.
    QTest::addColumn<QString>("current");
    // Lines merged.
    QTest::addColumn<int>("lines");

    const QStringList example = {QStringLiteral("12"),
                                 QStringLiteral("山田花子"),
                                 QStringLiteral("ヤマダハナコ"),
                                 QStringLiteral("150-0001"),
                                 QStringLiteral("東京都渋谷区神宮前1-2-3"),
                                 QStringLiteral("ハイツ201"),
                                 QStringLiteral("03-1234-5678"),
                                 QStringLiteral("03-1234-5679"),
                                 kNull};
    auto row = [](std::initializer_list<QString> given) {
        QStringList r(given);
        while (r.size() < 8)
            r << QString();
        r << kNull;
        return r;
    };

    QTest::newRow("worked example") << csv({kWorkedExample}) << QList<QStringList>{example} << QStringLiteral("12")
                                    << 1;
    QTest::newRow("empty file") << QByteArray() << QList<QStringList>{} << QString() << 0;
    QTest::newRow("line without its fax keeps the telephone in tel")
        << csv({QStringLiteral("12,山田花子,ヤマダハナコ,150-0001,東京都渋谷区神宮前1-2-3,ハイツ201,03-1234-5678")})
        << QList<QStringList>{example.mid(0, 7) << QString() << kNull} << QStringLiteral("12") << 1;
    QTest::newRow("one comma: number and name")
        << csv({QStringLiteral("12,山田花子")})
        << QList<QStringList>{row({QStringLiteral("12"), QStringLiteral("山田花子")})} << QStringLiteral("12") << 1;
    // A short line's fields are taken in order: a number alone is a member with nothing else.
    QTest::newRow("a number alone adds the member with every other field empty")
        << csv({QStringLiteral("12")}) << QList<QStringList>{row({QStringLiteral("12")})} << QStringLiteral("12") << 1;
    QTest::newRow("a number alone over a member empties its other fields")
        << csv({QStringLiteral("12,山田花子,ヤマダハナコ,150-0001,東京都,,03-1234-5678,"), QStringLiteral("12")})
        << QList<QStringList>{row({QStringLiteral("12")})} << QStringLiteral("12") << 2;
    QTest::newRow("ninth field does not reach notes") << csv({kWorkedExample + QStringLiteral(",備考ではない")})
                                                      << QList<QStringList>{example} << QStringLiteral("12") << 1;
    QTest::newRow("007 is member 7") << csv({QStringLiteral("007,七")})
                                     << QList<QStringList>{row({QStringLiteral("7"), QStringLiteral("七")})}
                                     << QStringLiteral("7") << 1;
    QTest::newRow("same number twice: the later line wins")
        << csv({QStringLiteral("3,先,センリョウ,100-0001,東京都,,03-1111-1111,03-1111-1112"), QStringLiteral("3,後")})
        << QList<QStringList>{row({QStringLiteral("3"), QStringLiteral("後")})} << QStringLiteral("3") << 2;
    QTest::newRow("final CR LF adds no member") << csv({QStringLiteral("1,一"), QStringLiteral("2,二")})
                                                << QList<QStringList>{row({QStringLiteral("1"), QStringLiteral("一")}),
                                                                      row({QStringLiteral("2"), QStringLiteral("二")})}
                                                << QStringLiteral("2") << 2;
    QTest::newRow("LF ends and no end on the last line")
        << cp932(QStringLiteral("1,一\n2,二"))
        << QList<QStringList>{row({QStringLiteral("1"), QStringLiteral("一")}),
                              row({QStringLiteral("2"), QStringLiteral("二")})}
        << QStringLiteral("2") << 2;
    QTest::newRow("0x1A ends the file: nothing after it is read")
        << csv({QStringLiteral("1,一")}) + "\x1a" + csv({QStringLiteral("会員番号,氏名")})
        << QList<QStringList>{row({QStringLiteral("1"), QStringLiteral("一")})} << QStringLiteral("1") << 1;
    QTest::newRow("lines in file order, current is the last written")
        << csv({QStringLiteral("5,五"), QStringLiteral("2,二"), QStringLiteral("9,九"), QStringLiteral("4,四")})
        << QList<QStringList>{row({QStringLiteral("2"), QStringLiteral("二")}),
                              row({QStringLiteral("4"), QStringLiteral("四")}),
                              row({QStringLiteral("5"), QStringLiteral("五")}),
                              row({QStringLiteral("9"), QStringLiteral("九")})}
        << QStringLiteral("4") << 4;
}

void TestMemberImport::importsLines()
{
    QFETCH(QByteArray, file);
    QFETCH(QList<QStringList>, expected);
    QFETCH(QString, current);
    QFETCH(int, lines);
    QVERIFY(writeFile(csvPath(), file));

    MemberImport import(members());
    QCOMPARE(import.run(csvPath()), lines);
    QCOMPARE(firstColumns(storedMembers(memberFile()), 9), expected);
    QCOMPARE(members().state(), TableState::Browse);
    QCOMPARE(members().fieldValue(QStringLiteral("id_no")).displayText(), current);
    QCOMPARE(openHandles(csvPath()), 0);
    QVERIFY(othersCanWrite(memberFile()));
}

void TestMemberImport::updateKeepsNotesAndAddHasNone()
{
    addMember({QStringLiteral("5"), QStringLiteral("山田"), QStringLiteral("ヤマダ"), QStringLiteral("150-0001"),
               QStringLiteral("旧住所"), QStringLiteral("旧建物"), QStringLiteral("03-0000-0000"),
               QStringLiteral("03-0000-0001")},
              QStringLiteral("常連さん"));
    QVERIFY(writeFile(csvPath(), csv({QStringLiteral("5,山田太郎,,100-0001,東京都千代田区千代田1-1,,06-1111-2222,"),
                                      QStringLiteral("6,新人")})));

    MemberImport import(members());
    QCOMPARE(import.run(csvPath()), 2);
    // An empty value empties the field; notes are never imported; the record rule derives the
    // print fields from the new postal code and telephone.
    const QList<QStringList> expected = {
        {QStringLiteral("5"), QStringLiteral("山田太郎"), QString(), QStringLiteral("100-0001"),
         QStringLiteral("東京都千代田区千代田1-1"), QString(), QStringLiteral("06-1111-2222"), QString(),
         QStringLiteral("常連さん"), QStringLiteral("1  0  0"), QStringLiteral("0  0  0  1"), QStringLiteral("06"),
         QStringLiteral("1111"), QStringLiteral("2222")},
        {QStringLiteral("6"), QStringLiteral("新人"), QString(), QString(), QString(), QString(), QString(), QString(),
         kNull, QString(), QString(), QString(), QString(), QString()},
    };
    QCOMPARE(storedMembers(memberFile()), expected);
}

void TestMemberImport::stopsAtLineThatIsNoMember_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("chunkLines");
    QTest::addColumn<QStringList>("storedIds");
    QTest::addColumn<int>("line");

    QTest::newRow("header line") << csv({QStringLiteral("会員番号,氏名,カナ,〒,住所1,住所2,TEL,FAX"),
                                         QStringLiteral("1,一")})
                                 << MemberImport::kDefaultChunkLines << QStringList{} << 1;
    QTest::newRow("blank line in the middle")
        << csv({QStringLiteral("1,一"), QStringLiteral("2,二"), QString(), QStringLiteral("3,三")})
        << MemberImport::kDefaultChunkLines << QStringList{QStringLiteral("1"), QStringLiteral("2")} << 3;
    QTest::newRow("blank line after two committed chunks")
        << csv({QStringLiteral("1,一"), QStringLiteral("2,二"), QStringLiteral("3,三"), QStringLiteral("4,四"),
                QStringLiteral("5,五"), QString(), QStringLiteral("6,六")})
        << 2
        << QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4"),
                       QStringLiteral("5")}
        << 6;
    QTest::newRow("line without a comma") << csv({QStringLiteral("1,一"), QStringLiteral("山田花子")})
                                          << MemberImport::kDefaultChunkLines << QStringList{QStringLiteral("1")} << 2;
    QTest::newRow("number in double quotes")
        << csv({QStringLiteral("\"1\",一")}) << MemberImport::kDefaultChunkLines << QStringList{} << 1;
    QTest::newRow("number beyond 32 bits") << csv({QStringLiteral("1,一"), QStringLiteral("2147483648,二")})
                                           << MemberImport::kDefaultChunkLines << QStringList{QStringLiteral("1")} << 2;
    QTest::newRow("fraction") << csv({QStringLiteral("1.5,一")}) << MemberImport::kDefaultChunkLines << QStringList{}
                              << 1;
}

void TestMemberImport::stopsAtLineThatIsNoMember()
{
    QFETCH(QByteArray, file);
    QFETCH(int, chunkLines);
    QFETCH(QStringList, storedIds);
    QFETCH(int, line);
    QVERIFY(writeFile(csvPath(), file));

    MemberImport import(members());
    import.setChunkLines(chunkLines);
    try {
        import.run(csvPath());
        QFAIL("the import went past a line that is no member");
    } catch (const halvenna::Error& e) {
        QCOMPARE(e.message(), QStringLiteral("%1 行目: 項目 'id_no' の値として不正です").arg(line));
    }
    QCOMPARE(import.lineNumber(), line);
    QCOMPARE(import.linesMerged(), line - 1);
    QCOMPARE(ids(storedMembers(memberFile())), storedIds);
    // Nothing of the failing line was written: the table is not editing it.
    QCOMPARE(members().state(), TableState::Browse);
    QCOMPARE(openHandles(csvPath()), 0);
    QVERIFY(othersCanWrite(memberFile()));
}

void TestMemberImport::refusedPostKeepsLinesBeforeAndRecordPending_data()
{
    QTest::addColumn<bool>("memberExists");
    QTest::addColumn<TableState>("pendingState");

    QTest::newRow("new member refused") << false << TableState::Insert;
    QTest::newRow("update refused") << true << TableState::Edit;
}

void TestMemberImport::refusedPostKeepsLinesBeforeAndRecordPending()
{
    QFETCH(bool, memberExists);
    QFETCH(TableState, pendingState);
    if (memberExists)
        addMember({QStringLiteral("8"), QStringLiteral("元の名前")});
    // The member rule refuses one postal code, as a rule that finds a value it cannot use would.
    members().beforePost = [this, rule = members().beforePost](halvenna::Table& t) {
        if (members().fieldValue(QStringLiteral("zip")) == FieldValue::text("999-9999"))
            throw halvenna::Error(QStringLiteral("郵便番号 999-9999 は使えません"));
        rule(t);
    };
    QVERIFY(writeFile(csvPath(), csv({QStringLiteral("7,一行目,,100-0001"), QStringLiteral("8,二行目,,999-9999"),
                                      QStringLiteral("9,三行目,,100-0003")})));

    MemberImport import(members());
    try {
        import.run(csvPath());
        QFAIL("the refused post was not reported");
    } catch (const halvenna::Error& e) {
        QCOMPARE(e.message(), QStringLiteral("2 行目: 郵便番号 999-9999 は使えません"));
    }
    QCOMPARE(import.lineNumber(), 2);
    QCOMPARE(import.linesMerged(), 1);
    // Line 1 is committed, line 3 was not read, and the refused row is still being edited with
    // the line's values, nothing of it stored.
    QList<QStringList> expected = {{QStringLiteral("7"), QStringLiteral("一行目")}};
    if (memberExists)
        expected << QStringList{QStringLiteral("8"), QStringLiteral("元の名前")};
    QCOMPARE(firstColumns(storedMembers(memberFile()), 2), expected);
    QVERIFY(othersCanWrite(memberFile()));
    QCOMPARE(members().state(), pendingState);
    QCOMPARE(members().fieldValue(QStringLiteral("id_no")), FieldValue::integer(8));
    QCOMPARE(members().fieldValue(QStringLiteral("name")), FieldValue::text(cp932(QStringLiteral("二行目"))));
    QCOMPARE(openHandles(csvPath()), 0);

    // The user can correct the row and register it.
    members().setFieldText(QStringLiteral("zip"), "100-0002");
    members().post();
    QCOMPARE(firstColumns(storedMembers(memberFile()), 4).last(),
             (QStringList{QStringLiteral("8"), QStringLiteral("二行目"), QString(), QStringLiteral("100-0002")}));
}

void TestMemberImport::cutsValuesToFieldWidth_data()
{
    QTest::addColumn<int>("column"); // 1-based field of the line
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("stored");

    const QString kanji20 = QString(20, QChar(0x6F22)); // 漢: two bytes each
    QTest::newRow("40 single bytes fit") << 2 << QString(40, u'x') << QString(40, u'x');
    QTest::newRow("41 single bytes cut to 40") << 2 << QString(41, u'x') << QString(40, u'x');
    QTest::newRow("21 double-byte characters cut to 20") << 2 << kanji20 + u'漢' << kanji20;
    QTest::newRow("odd byte: the character that does not fit is left out")
        << 2 << u'A' + kanji20 << u'A' + kanji20.left(19);
    QTest::newRow("half-width katakana are single bytes")
        << 3 << QStringLiteral("ﾔﾏﾀﾞﾊﾅｺ").repeated(6) << QStringLiteral("ﾔﾏﾀﾞﾊﾅｺ").repeated(6).left(40);
    QTest::newRow("telephone cut to 20 bytes")
        << 7 << QStringLiteral("03-1234-5678-9012-345") << QStringLiteral("03-1234-5678-9012-34");
    QTest::newRow("address cut to 80 bytes") << 5 << QString(41, u'住') << QString(40, u'住');
}

void TestMemberImport::cutsValuesToFieldWidth()
{
    QFETCH(int, column);
    QFETCH(QString, value);
    QFETCH(QString, stored);
    QStringList fields(8);
    fields[0] = QStringLiteral("1");
    fields[column - 1] = value;
    QVERIFY(writeFile(csvPath(), csv({fields.join(u',')})));

    MemberImport import(members());
    QCOMPARE(import.run(csvPath()), 1);
    const QList<QStringList> rows = storedMembers(memberFile());
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().value(column - 1), stored);
}

void TestMemberImport::storesValuesExactly_data()
{
    QTest::addColumn<QByteArray>("value");

    QTest::newRow("double quotes") << cp932(QStringLiteral("\"山田\" \"\"花子\""));
    QTest::newRow("semicolons") << QByteArray("a;b;;");
    QTest::newRow("SQL in a value") << QByteArray("'; DROP TABLE MemberMaster; --");
    QTest::newRow("SQL closing a call") << QByteArray("x'); DELETE FROM MemberMaster WHERE (1=1 OR '");
    QTest::newRow("wildcards and backslash") << QByteArray("%_*?\\");
    QTest::newRow("control bytes") << QByteArray("\x01\x02\x07\x08\t\x0b\x0c\x1b\x1f\x7f");
    QTest::newRow("NUL byte") << QByteArray("a\0b", 3);
    QTest::newRow("0x5C as a second byte") << cp932(QStringLiteral("表示ソフト能力"));
}

void TestMemberImport::storesValuesExactly()
{
    QFETCH(QByteArray, value);
    addMember({QStringLiteral("99"), QStringLiteral("既存")});
    // Into the two address lines, wide enough for every case.
    QVERIFY(writeFile(csvPath(), "1,,,," + value + "," + value + "\r\n"));

    MemberImport import(members());
    QCOMPARE(import.run(csvPath()), 1);
    const QList<QStringList> rows = storedMembers(memberFile());
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.first().value(4), halvenna::sjis::toUnicode(value));
    QCOMPARE(rows.first().value(5), halvenna::sjis::toUnicode(value));
    QVERIFY(members().locate(QStringLiteral("id_no"), FieldValue::integer(1)));
    QCOMPARE(members().fieldValue(QStringLiteral("address1")).asText(), value);
    QCOMPARE(members().fieldValue(QStringLiteral("address2")).asText(), value);
}

void TestMemberImport::settlesPendingEditBeforeFirstLine_data()
{
    QTest::addColumn<QString>("pending");
    // id_no and name of the stored rows afterwards.
    QTest::addColumn<QList<QStringList>>("expected");

    const QStringList four = {QStringLiteral("4"), QStringLiteral("四")};
    QTest::newRow("changed edit is posted")
        << QStringLiteral("changed edit") << QList<QStringList>{{QStringLiteral("3"), QStringLiteral("変更")}, four};
    QTest::newRow("unchanged edit is dropped")
        << QStringLiteral("unchanged edit") << QList<QStringList>{{QStringLiteral("3"), QStringLiteral("旧")}, four};
    QTest::newRow("input pending in a bound editor is written and posted")
        << QStringLiteral("editor input") << QList<QStringList>{{QStringLiteral("3"), QStringLiteral("入力中")}, four};
    QTest::newRow("changed new row is posted")
        << QStringLiteral("changed insert")
        << QList<QStringList>{
               {QStringLiteral("3"), QStringLiteral("旧")}, four, {QStringLiteral("9"), QStringLiteral("新規")}};
    QTest::newRow("unchanged new row is dropped")
        << QStringLiteral("unchanged insert") << QList<QStringList>{{QStringLiteral("3"), QStringLiteral("旧")}, four};
}

void TestMemberImport::settlesPendingEditBeforeFirstLine()
{
    QFETCH(QString, pending);
    QFETCH(QList<QStringList>, expected);
    addMember({QStringLiteral("3"), QStringLiteral("旧")});
    PendingEditor editor;
    editor.field = QStringLiteral("name");
    editor.setDataSource(&fx_->dm->tbMemberMasterDataSource);

    if (pending.endsWith(u"edit") || pending == u"editor input") {
        QVERIFY(members().locate(QStringLiteral("id_no"), FieldValue::integer(3)));
        members().edit();
        if (pending == u"changed edit")
            members().setFieldText(QStringLiteral("name"), cp932(QStringLiteral("変更")));
        if (pending == u"editor input")
            editor.pendingInput = cp932(QStringLiteral("入力中"));
    } else {
        members().append();
        if (pending == u"changed insert") {
            members().setFieldText(QStringLiteral("id_no"), "9");
            members().setFieldText(QStringLiteral("name"), cp932(QStringLiteral("新規")));
        }
    }
    QVERIFY(members().editing());
    QVERIFY(writeFile(csvPath(), csv({QStringLiteral("4,四")})));

    MemberImport import(members());
    QCOMPARE(import.run(csvPath()), 1);
    QCOMPARE(firstColumns(storedMembers(memberFile()), 2), expected);
    QCOMPARE(members().state(), TableState::Browse);
    QCOMPARE(members().fieldValue(QStringLiteral("id_no")), FieldValue::integer(4));
}

void TestMemberImport::cancelStopsLikeFailure_data()
{
    QTest::addColumn<int>("cancelAfterLine");
    QTest::addColumn<int>("chunkLines");
    QTest::addColumn<bool>("cancelled");
    QTest::addColumn<QStringList>("storedIds");

    QTest::newRow("after line 1") << 1 << MemberImport::kDefaultChunkLines << true << QStringList{QStringLiteral("1")};
    QTest::newRow("after line 3, chunks of 2")
        << 3 << 2 << true << QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")};
    QTest::newRow("after the last line nothing is left to stop")
        << 5 << MemberImport::kDefaultChunkLines << false
        << QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4"),
                       QStringLiteral("5")};
}

void TestMemberImport::cancelStopsLikeFailure()
{
    QFETCH(int, cancelAfterLine);
    QFETCH(int, chunkLines);
    QFETCH(bool, cancelled);
    QFETCH(QStringList, storedIds);
    QVERIFY(writeFile(csvPath(), csv({QStringLiteral("1,一"), QStringLiteral("2,二"), QStringLiteral("3,三"),
                                      QStringLiteral("4,四"), QStringLiteral("5,五")})));

    MemberImport import(members());
    import.setChunkLines(chunkLines);
    // With a step of one byte the callback comes after every line.
    import.setProgress(
        [&](qint64, qint64) {
            if (import.linesMerged() == cancelAfterLine)
                import.requestCancel();
},
        1);
bool threw = false;
try {
    QCOMPARE(import.run(csvPath()), 5);
} catch (const halvenna::ImportCancelled& e) {
    threw = true;
    QCOMPARE(e.message(), QStringLiteral("データの読込を中止しました"));
    QCOMPARE(import.lineNumber(), cancelAfterLine + 1);
}
QCOMPARE(threw, cancelled);
QCOMPARE(import.linesMerged(), cancelAfterLine);
QCOMPARE(ids(storedMembers(memberFile())), storedIds);
QCOMPARE(members().state(), TableState::Browse);
QCOMPARE(members().fieldValue(QStringLiteral("id_no")), FieldValue::integer(cancelAfterLine));
QCOMPARE(openHandles(csvPath()), 0);
QVERIFY(othersCanWrite(memberFile()));
}

void TestMemberImport::reportsProgressInBytesOfFileSize()
{
    QStringList lines;
    for (int i = 0; i < 300; ++i)
        lines << QStringLiteral("%1,会員%1,カイイン,100-0001,東京都千代田区千代田%1,,03-1234-5678,").arg(i);
    const QByteArray file = csv(lines);
    QVERIFY(writeFile(csvPath(), file));
    const qint64 longestLine = 100;
    const qint64 step = 1000;

    MemberImport import(members());
    QList<QPair<qint64, qint64>> calls;
    import.setProgress([&](qint64 bytesRead, qint64 fileSize) { calls.append({bytesRead, fileSize});
}, step);
QCOMPARE(import.run(csvPath()), 300);

QVERIFY(calls.size() >= int(file.size() / (step + longestLine)));
QCOMPARE(calls.last(), qMakePair(qint64(file.size()), qint64(file.size())));
qint64 previous = 0;
for (int i = 0; i < calls.size(); ++i) {
    QCOMPARE(calls.at(i).second, qint64(file.size()));
    const qint64 advance = calls.at(i).first - previous;
    if (i + 1 < calls.size()) {
        QVERIFY2(advance >= step && advance < step + longestLine, qPrintable(QString::number(advance)));
    } else {
        QVERIFY(advance >= 0);
    }
    previous = calls.at(i).first;
}
}

void TestMemberImport::fileThatCannotBeOpened_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");

    // Said in the user's words, never the system's English.
    QTest::newRow("missing file") << QStringLiteral("ない.csv") << QStringLiteral("ファイルがありません");
    QTest::newRow("a folder") << QString() << QStringLiteral("フォルダです");
}

void TestMemberImport::fileThatCannotBeOpened()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);
    const QString path = name.isEmpty() ? fx_->dir.path() : fx_->dir.filePath(name);
    addMember({QStringLiteral("1"), QStringLiteral("一")});

    MemberImport import(members());
    try {
        import.run(path);
        QFAIL("no error for a file that cannot be opened");
    } catch (const halvenna::Error& e) {
        const QString prefix = QStringLiteral("ファイル %1 を開けません (").arg(path);
        QVERIFY2(e.message().startsWith(prefix), qPrintable(e.message()));
        if (!reason.isEmpty())
            QCOMPARE(e.message(), prefix + reason + u')');
    }
    QCOMPARE(import.lineNumber(), 0);
    QCOMPARE(ids(storedMembers(memberFile())), QStringList{QStringLiteral("1")});
}

void TestMemberImport::readErrorKeepsLinesBefore()
{
    FailingDevice device(csv({QStringLiteral("1,一"), QStringLiteral("2,二"), QStringLiteral("3,三")}).chopped(4));
    QVERIFY(device.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    MemberImport import(members());
    import.setReadChunkSize(5);
    try {
        import.run(device, QStringLiteral("/media/usb/名簿.csv"));
        QFAIL("no error for a failing read");
    } catch (const halvenna::Error& e) {
        QCOMPARE(e.message(), QStringLiteral("ファイル /media/usb/名簿.csv を読めません (読み込みに失敗しました)"));
    }
    QCOMPARE(import.linesMerged(), 2);
    QCOMPARE(ids(storedMembers(memberFile())), (QStringList{QStringLiteral("1"), QStringLiteral("2")}));
    QCOMPARE(members().state(), TableState::Browse);
    QVERIFY(othersCanWrite(memberFile()));
}

void TestMemberImport::closedTable()
{
    members().close();
    MemberImport import(members());
    QVERIFY(writeFile(csvPath(), QByteArray()));
    QCOMPARE(import.run(csvPath()), 0);

    QVERIFY(writeFile(csvPath(), csv({QStringLiteral("1,一")})));
    try {
        import.run(csvPath());
        QFAIL("no error for an import into a closed table");
    } catch (const halvenna::Error& e) {
        QCOMPARE(e.message(), QStringLiteral("tbMemberMaster: データセットは閉じているため, この操作は実行できません"));
    }
    QCOMPARE(openHandles(csvPath()), 0);
    QCOMPARE(storedMembers(memberFile()), QList<QStringList>{});
}

// A file saved as "CSV UTF-8" (with its byte-order mark) or as plain UTF-8 is read as the same
// members as its code page 932 twin; a long file whose first Japanese comes late is UTF-8 too. The
// same through a named pipe, which cannot be read again from its start, and fed in pieces.
void TestMemberImport::readsUtf8Files_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("pipe");
    const QStringList lines{
        QStringLiteral("1,山田花子,ヤマダハナコ,150-0001,東京都渋谷区神宮前１－２,ハイツ～３０１,03-1234-5678,"),
        QStringLiteral("2,ｶﾅ ﾀﾛｳ,ｶﾅ,100-0001,千代田区,,,")};
    QByteArray utf8;
    for (const QString& line : lines)
        utf8 += line.toUtf8() + "\r\n";
    // No byte-order mark and more than 64 KiB of plain ASCII before the first Japanese: the bytes
    // that decide come from wherever they are.
    QByteArray ascii;
    for (int i = 3; ascii.size() <= 3 * MemberImport::kSniffBytes; ++i)
        ascii += QByteArray::number(i) + ",member,,100-0001,Tokyo,,03-1234-5678,\r\n";
    QByteArray cp932Lines;
    for (const QString& line : lines)
        cp932Lines += cp932(line) + "\r\n";
    for (const bool pipe : {false, true}) {
        const char* const through = pipe ? " through a pipe" : "";
        QTest::addRow("with a byte-order mark%s", through) << QByteArray("\xEF\xBB\xBF") + utf8 << pipe;
        QTest::addRow("without one%s", through) << utf8 << pipe;
        QTest::addRow("Japanese only after 64 KiB%s", through) << ascii + utf8 << pipe;
        QTest::addRow("Japanese starting just past the first 64 KiB%s", through)
            << ascii.left(MemberImport::kSniffBytes - 1) + "\r\n" + utf8 << pipe;
    }
    // The twin itself, and after the ASCII: code page 932 stays code page 932.
    QTest::newRow("code page 932 through a pipe") << cp932Lines << true;
    QTest::newRow("code page 932 after 64 KiB through a pipe") << ascii + cp932Lines << true;
}

void TestMemberImport::readsUtf8Files()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, pipe);
    const QStringList lines{
        QStringLiteral("1,山田花子,ヤマダハナコ,150-0001,東京都渋谷区神宮前１－２,ハイツ～３０１,03-1234-5678,"),
        QStringLiteral("2,ｶﾅ ﾀﾛｳ,ｶﾅ,100-0001,千代田区,,,")};
    QVERIFY(writeFile(csvPath(), csv(lines)));
    MemberImport twin(members());
    twin.run(csvPath());
    const QList<QStringList> expected = firstColumns(storedMembers(memberFile()), 9).mid(0, 2);
    // Other values first, so that the UTF-8 file must write every one of them back.
    QVERIFY(writeFile(csvPath(), csv({QStringLiteral("1,x,x,,,,,"), QStringLiteral("2,y,y,,,,,")})));
    MemberImport other(members());
    other.run(csvPath());
    QVERIFY(firstColumns(storedMembers(memberFile()), 9).mid(0, 2) != expected);

    MemberImport import(members());
    const int expectedLines = int(file.count('\n'));
    if (pipe) {
        const QString fifo = fx_->dir.filePath(QStringLiteral("members.pipe"));
        QCOMPARE(importThroughPipe(import, fifo, file), expectedLines);
    } else {
        QVERIFY(writeFile(csvPath(), file));
        QCOMPARE(import.run(csvPath()), expectedLines);
    }
    QCOMPARE(firstColumns(storedMembers(memberFile()), 9).mid(0, 2), expected);
    QCOMPARE(expected.at(0).at(1), QStringLiteral("山田花子"));
}

// A character code page 932 does not have stops the import at its line, naming the line and the
// character; the lines before it stay.
void TestMemberImport::utf8CharacterWithoutCodePage932StopsAtItsLine_data()
{
    QTest::addColumn<QString>("character");
    QTest::addColumn<QString>("code");
    QTest::newRow("a kanji outside JIS X 0208") << QStringLiteral("𠮷") << "U+20BB7";
    QTest::newRow("an emoji") << QStringLiteral("🍣") << "U+1F363";
    QTest::newRow("a Korean letter") << QStringLiteral("한") << "U+D55C";
}

void TestMemberImport::utf8CharacterWithoutCodePage932StopsAtItsLine()
{
    QFETCH(QString, character);
    QFETCH(QString, code);
    const QByteArray file = QStringLiteral("1,山田\r\n2,%1田\r\n3,三\r\n").arg(character).toUtf8();
    QVERIFY(writeFile(csvPath(), file));
    MemberImport import(members());
    try {
        import.run(csvPath());
        QFAIL("the import went past a character it cannot store");
    } catch (const halvenna::Error& e) {
        QCOMPARE(e.message(),
                 QStringLiteral("2 行目の '%1' (%2) はシフト JIS にない文字のため読み込めません").arg(character, code));
    }
    QCOMPARE(import.lineNumber(), 2);
    QCOMPARE(ids(storedMembers(memberFile())), QStringList{QStringLiteral("1")});
    QCOMPARE(members().state(), TableState::Browse);
}

// A UTF-8 file whose Japanese starts late is read as UTF-8 all the same; a line refused further
// on names its line, whatever it was refused for.
void TestMemberImport::refusalNamesItsLine_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("message");
    QByteArray ascii;
    int n = 0;
    while (ascii.size() <= 2 * MemberImport::kSniffBytes)
        ascii += QByteArray::number(++n) + ",member,,100-0001,Tokyo,,03-1234-5678,\r\n";
    const QByteArray yamamoto =
        QStringLiteral("%1,山本五郎,ヤマモトゴロウ,100-0001,東京都千代田区千代田1-1,,03-1234-5678,\r\n")
            .arg(n + 1)
            .toUtf8();
    QTest::newRow("UTF-8 from line 1 on, a header later")
        << yamamoto + QByteArray("番号,名前\r\n") << 2 << QStringLiteral("2 行目: 項目 'id_no' の値として不正です");
    QTest::newRow("UTF-8 after 128 KiB of ASCII, then a character code page 932 lacks")
        << ascii + yamamoto + QStringLiteral("%1,🍣\r\n").arg(n + 2).toUtf8() << n + 2
        << QStringLiteral("%1 行目の '🍣' (U+1F363) はシフト JIS にない文字のため読み込めません").arg(n + 2);
    QTest::newRow("code page 932 with a byte that is no character")
        << ascii + cp932(QStringLiteral("%1,山本五郎,,,東京都\r\n").arg(n + 1)) + QByteArray("0,x,,,\xff\r\n") << n + 2
        << QStringLiteral("%1 行目: 項目 'address1' の値として不正です").arg(n + 2);
}

void TestMemberImport::refusalNamesItsLine()
{
    QFETCH(QByteArray, file);
    QFETCH(int, line);
    QFETCH(QString, message);
    QVERIFY(writeFile(csvPath(), file));
    MemberImport import(members());
    try {
        import.run(csvPath());
        QFAIL("the import went past a line it cannot store");
    } catch (const halvenna::Error& e) {
        QCOMPARE(e.message(), message);
    }
    QCOMPARE(import.lineNumber(), line);
    // The member before it is stored as the characters of the file.
    const QList<QStringList> rows = firstColumns(storedMembers(memberFile()), 2);
    QCOMPARE(rows.size(), line - 1);
    QCOMPARE(rows.last().at(1), QStringLiteral("山本五郎"));
}

void TestMemberImport::tellsUtf8FromCodePage932_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<bool>("utf8");
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF"
                                                   "1,a\r\n")
                                     << true;
    QTest::newRow("UTF-8 Japanese") << QStringLiteral("1,山田花子,ヤマダハナコ,150-0001,東京都渋谷区\r\n").toUtf8()
                                    << true;
    // A few UTF-8 characters may also read as code page 932 pairs: such a file stays code page 932.
    QTest::newRow("too short to tell") << QStringLiteral("1,山田\r\n").toUtf8() << false;
    QTest::newRow("code page 932 Japanese") << cp932(QStringLiteral("1,山田\r\n")) << false;
    QTest::newRow("half-width katakana in code page 932") << cp932(QStringLiteral("1,ﾔﾏﾀﾞ\r\n")) << false;
    QTest::newRow("ASCII only") << QByteArray("1,Yamada\r\n") << false;
    QTest::newRow("a UTF-8 character cut by the sample's end")
        << QStringLiteral("1,山田花子,ヤマダハナコ,東京都渋谷区\r\n2,").toUtf8() + QStringLiteral("花").toUtf8().left(2)
        << true;
    QTest::newRow("neither") << QByteArray("1,\xFF\xFE\r\n") << false;
}

void TestMemberImport::tellsUtf8FromCodePage932()
{
    QFETCH(QByteArray, start);
    QFETCH(bool, utf8);
    QCOMPARE(MemberImport::isUtf8(start), utf8);
}

QTEST_GUILESS_MAIN(TestMemberImport)
#include "tst_memberimport.moc"
