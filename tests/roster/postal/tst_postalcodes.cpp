// The postal-code index: typed codes; Debian's SKK dictionary, the postal service's list in both
// of its encodings and the program's own file; files that are not what they should be.
#include "common/Errors.h"
#include "common/FaultTools.h"
#include "data/Error.h"
#include "data/SjisText.h"
#include "roster/postal/PostalCodes.h"

#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <map>

using halvenna::PostalCodes;

namespace {

const QString kDebianDictionary = QStringLiteral("/usr/share/skk/SKK-JISYO.zipcode");

// Text in the dictionary's encoding. Only for JIS X 0208 text: the tests write the characters
// JIS X 0213 added as their bytes.
QByteArray euc(const QString& text)
{
    QStringEncoder encoder("EUC-JP");
    const QByteArray bytes = encoder.encode(text);
    if (encoder.hasError())
        QTest::qFail(qPrintable(QStringLiteral("no EUC-JP form for %1").arg(text)), __FILE__, __LINE__);
    return bytes;
}

QByteArray cp932(const QString& text)
{
    return halvenna::sjis::fromUnicode(text);
}

// Lines each ended by a line feed.
QByteArray linesOf(const QList<QByteArray>& lines)
{
    QByteArray bytes;
    for (const QByteArray& line : lines)
        bytes += line + '\n';
    return bytes;
}

QByteArray entry(const char* code, const QStringList& towns, QByteArray (*encode)(const QString&))
{
    return QByteArray(code) + " /" + encode(towns.join(u'/')) + '/';
}

QByteArray utf8(const QString& text)
{
    return text.toUtf8();
}

// A small dictionary as Debian ships it: comments, one code with one town, one with two.
QByteArray smallDictionary(QByteArray (*encode)(const QString&) = euc)
{
    return linesOf(
        {";; -*- coding: euc-jis-2004 -*-", ";; okuri-ari entries.", ";; okuri-nasi entries.",
         entry("0600000", {QStringLiteral("北海道札幌市中央区")}, encode),
         entry("1000001", {QStringLiteral("東京都千代田区千代田")}, encode),
         entry("4980000", {QStringLiteral("愛知県弥富市"), QStringLiteral("三重県桑名郡木曽岬町")}, encode)});
}

// 俱 and 𠀋 are JIS X 0213 plane 1, 𠂉 plane 2 (0x8F), ｱ half-width (0x8E).
QByteArray x0213Dictionary()
{
    return linesOf({entry("1000001", {QStringLiteral("東京都千代田区千代田")}, euc),
                    "1000002 /" + euc(QStringLiteral("東京都")) + "\xAE\xA1\xAE\xA2" + "\x8F\xA1\xA1" + "\x8E\xB1/" +
                        euc(QStringLiteral("大阪府")) + "/",
                    entry("1000003", {QStringLiteral("東京都千代田区")}, euc)});
}

// A row of KEN_ALL.CSV: the local-government code, old code, code, kana, the names, six flags.
QString listRow(const QString& code, const QString& prefecture, const QString& city, const QString& town)
{
    return QStringLiteral("13101,\"%1  \",\"%2\",\"ﾄｳｷｮｳﾄ\",\"ﾁﾖﾀﾞｸ\",\"ﾁﾖﾀﾞ\",\"%3\",\"%4\",\"%5\",0,0,0,0,0,0")
        .arg(code.left(3), code, prefecture, city, town);
}

// The rows of the fixture list. A town too long for a row goes on in the next rows (the code page
// 932 edition) or stays in one (the UTF-8 edition, one row per code).
QStringList listRows(bool splitRows)
{
    const QStringList kyowa = {QStringLiteral("協和（８８－２、２７１－１０、３４３－２、４０４－１、４２７－"),
                               QStringLiteral("３、４３１－１２、４４３－６、６０８－２、６４１－８、８１４、８４２－"),
                               QStringLiteral("５、１１３７－３、１３９２、１６５７、１７５２番地）")};
    QStringList rows = {
        listRow(QStringLiteral("0600000"), QStringLiteral("北海道"), QStringLiteral("札幌市中央区"),
                QStringLiteral("以下に掲載がない場合")),
        listRow(QStringLiteral("0600042"), QStringLiteral("北海道"), QStringLiteral("札幌市中央区"),
                QStringLiteral("大通西（１～１９丁目）")),
        listRow(QStringLiteral("0600042"), QStringLiteral("北海道"), QStringLiteral("札幌市中央区"),
                QStringLiteral("大通西（２０～２８丁目）")),
    };
    // A remark never closed: the next code's row is a row of its own all the same.
    rows << listRow(QStringLiteral("0640941"), QStringLiteral("北海道"), QStringLiteral("札幌市中央区"),
                    QStringLiteral("旭ケ丘（閉じない注記"));
    if (splitRows) {
        for (const QString& piece : kyowa)
            rows << listRow(QStringLiteral("0660005"), QStringLiteral("北海道"), QStringLiteral("千歳市"), piece);
    } else {
        rows << listRow(QStringLiteral("0660005"), QStringLiteral("北海道"), QStringLiteral("千歳市"),
                        kyowa.join(QString()));
    }
    rows << listRow(QStringLiteral("0660005"), QStringLiteral("北海道"), QStringLiteral("千歳市"),
                    QStringLiteral("新星"))
         << listRow(QStringLiteral("1000001"), QStringLiteral("東京都"), QStringLiteral("千代田区"),
                    QStringLiteral("千代田"))
         << listRow(QStringLiteral("1600023"), QStringLiteral("東京都"), QStringLiteral("新宿区"),
                    QStringLiteral("西新宿（次のビルを除く）"))
         << listRow(QStringLiteral("1636090"), QStringLiteral("東京都"), QStringLiteral("新宿区"),
                    QStringLiteral("西新宿新宿アイランドタワー（地階・階層不明）"))
         << listRow(QStringLiteral("1980200"), QStringLiteral("東京都"), QStringLiteral("西多摩郡奥多摩町"),
                    QStringLiteral("奥多摩町一円"))
         << listRow(QStringLiteral("3060433"), QStringLiteral("茨城県"), QStringLiteral("猿島郡境町"),
                    QStringLiteral("境町の次に番地がくる場合"))
         << listRow(QStringLiteral("4980000"), QStringLiteral("愛知県"), QStringLiteral("弥富市"),
                    QStringLiteral("以下に掲載がない場合"))
         << listRow(QStringLiteral("4980000"), QStringLiteral("三重県"), QStringLiteral("桑名郡木曽岬町"),
                    QStringLiteral("以下に掲載がない場合"))
         << listRow(QStringLiteral("5220341"), QStringLiteral("滋賀県"), QStringLiteral("犬上郡多賀町"),
                    QStringLiteral("一円"));
    return rows;
}

const QStringList kListCodes = {"0600000", "0600042", "0640941", "0660005", "1000001", "1600023",
                                "1636090", "1980200", "3060433", "4980000", "5220341"};

QByteArray cp932List(const QStringList& rows)
{
    QByteArray bytes;
    for (const QString& row : rows)
        bytes += cp932(row) + "\r\n";
    return bytes;
}

QByteArray utf8List(const QStringList& rows)
{
    return (rows.join(u'\n') + u'\n').toUtf8();
}

// Three hundred codes whose towns run from 1 to 40 characters, some with ASCII digits amid the
// kanji and some with a second town, so that characters straddle the 64-byte blocks the index
// reads at every offset.
struct GeneratedLine
{
    QByteArray code;
    QStringList towns;
};

QList<GeneratedLine> generatedLines()
{
    const QString kanji = QStringLiteral("東京都千代田区神宮前渋谷新宿大阪府北海道札幌市中央区旭ケ丘");
    QList<GeneratedLine> lines;
    for (int i = 0; i < 300; ++i) {
        QString town;
        const int length = 1 + (i * 7) % 40;
        for (int k = 0; k < length; ++k)
            town += kanji[(i + k) % kanji.size()];
        if (i % 3 == 0)
            town.insert(length / 2 + 1, QString::number(i));
        GeneratedLine line{QByteArray::number(1000000 + i * 7), {town}};
        if (i % 5 == 0)
            line.towns << town.left(length / 2 + 1) + QStringLiteral("一丁目");
        lines << line;
    }
    return lines;
}

QByteArray generatedFile(const QList<GeneratedLine>& lines, QByteArray (*encode)(const QString&))
{
    QList<QByteArray> bytes;
    for (const GeneratedLine& line : lines)
        bytes << entry(line.code.constData(), line.towns, encode);
    return linesOf(bytes);
}

PostalCodes load(const QString& loader, const QString& path)
{
    if (loader == u"dictionary")
        return PostalCodes::fromSkkDictionary(path);
    if (loader == u"own file")
        return PostalCodes::fromOwnFile(path);
    return PostalCodes::fromPostalServiceList(path);
}

QString faultPrefix(const QString& path, int line)
{
    return QStringLiteral("%1 の %2 行目は郵便番号の行として読めません").arg(path).arg(line);
}

const QString kBadEuc = QStringLiteral("EUC-JIS-2004 の文字ではないバイトがあります");
const QString kBadUtf8 = QStringLiteral("UTF-8 の文字ではないバイトがあります");
const QString kBadForm = QStringLiteral("「1500001 /東京都渋谷区神宮前/」の形ではありません");
const QString kControl = QStringLiteral("制御文字があります");
const QString kOrder = QStringLiteral("番号の順に並んでいません");

} // namespace

class TestPostalCodes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void normalize_data();
    void normalize();

    void dictionaryLookup_data();
    void dictionaryLookup();
    void repeatedCodes();
    void codeOverManyStretches_data();
    void codeOverManyStretches();
    void fileChangedAfterLoading_data();
    void fileChangedAfterLoading();
    void jisX0213AndSingleShifts();
    void jisFormsAsCodePage932();
    void unassignedCharacterRefusedAtLookup();
    void linesAcrossBlocks_data();
    void linesAcrossBlocks();
    void validAtEveryOffset_data();
    void validAtEveryOffset();
    void faultAtEveryOffset_data();
    void faultAtEveryOffset();
    void debianDictionary();
    void damagedDictionary_data();
    void damagedDictionary();

    void postalServiceList_data();
    void postalServiceList();
    void damagedPostalServiceList_data();
    void damagedPostalServiceList();

    void unreadableFiles_data();
    void unreadableFiles();

    void saveAndReadBack_data();
    void saveAndReadBack();
    void savedFileText();
    void refusedSave_data();
    void refusedSave();

private:
    // Writes bytes to a new file named after name (a new file each time: on ext4, truncating a
    // written file waits for its blocks to reach the disk).
    QString write(const QString& name, const QByteArray& bytes);

    QTemporaryDir dir_;
    int written_ = 0;
    QMap<QString, QString> lists_; // the postal service's lists, by their names
};

QString TestPostalCodes::write(const QString& name, const QByteArray& bytes)
{
    const QString path = dir_.filePath(QStringLiteral("%1-%2").arg(++written_).arg(name));
    QFile file(path);
    if (!file.open(QIODevice::NewOnly) || file.write(bytes) != bytes.size())
        QTest::qFail(qPrintable(QStringLiteral("cannot write %1").arg(path)), __FILE__, __LINE__);
    return path;
}

void TestPostalCodes::initTestCase()
{
    QVERIFY(dir_.isValid());
    lists_[QStringLiteral("KEN_ALL.CSV")] = write(QStringLiteral("KEN_ALL.CSV"), cp932List(listRows(true)));
    lists_[QStringLiteral("utf_ken_all.csv")] = write(QStringLiteral("utf_ken_all.csv"), utf8List(listRows(false)));
}

// ------------------------------------------------------------------ normalize

void TestPostalCodes::normalize_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("digits"); // empty: refused

    QTest::newRow("hyphen") << QStringLiteral("150-0001") << QStringLiteral("1500001");
    QTest::newRow("digits alone") << QStringLiteral("1500001") << QStringLiteral("1500001");
    QTest::newRow("leading zeros") << QStringLiteral("001-0000") << QStringLiteral("0010000");
    QTest::newRow("full width") << QStringLiteral("１５０－０００１") << QStringLiteral("1500001");
    QTest::newRow("full-width digits alone") << QStringLiteral("１５００００１") << QStringLiteral("1500001");
    QTest::newRow("widths mixed") << QStringLiteral("15０-00０1") << QStringLiteral("1500001");
    QTest::newRow("hyphen of kana mode") << QStringLiteral("１５０ー０００１") << QStringLiteral("1500001");
    QTest::newRow("half-width hyphen of kana mode") << QStringLiteral("150ｰ0001") << QStringLiteral("1500001");
    QTest::newRow("minus sign") << QStringLiteral("150−0001") << QStringLiteral("1500001");
    QTest::newRow("hyphen sign") << QStringLiteral("150‐0001") << QStringLiteral("1500001");
    QTest::newRow("blanks around") << QStringLiteral(" \t150-0001 ") << QStringLiteral("1500001");
    QTest::newRow("ideographic blanks around") << QStringLiteral("　１５００００１　") << QStringLiteral("1500001");
    QTest::newRow("postal mark") << QStringLiteral("〒150-0001") << QStringLiteral("1500001");
    QTest::newRow("postal mark and blank") << QStringLiteral(" 〒 150-0001") << QStringLiteral("1500001");

    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("blanks alone") << QStringLiteral(" 　 ") << QString();
    QTest::newRow("postal mark alone") << QStringLiteral("〒") << QString();
    QTest::newRow("six digits") << QStringLiteral("150001") << QString();
    QTest::newRow("six digits with hyphen") << QStringLiteral("150-001") << QString();
    QTest::newRow("eight digits") << QStringLiteral("15000012") << QString();
    QTest::newRow("eight digits with hyphen") << QStringLiteral("150-00012") << QString();
    QTest::newRow("hyphen after two digits") << QStringLiteral("15-00001") << QString();
    QTest::newRow("hyphen after four digits") << QStringLiteral("1500-001") << QString();
    QTest::newRow("two hyphens") << QStringLiteral("150--0001") << QString();
    QTest::newRow("hyphen first") << QStringLiteral("-1500001") << QString();
    QTest::newRow("hyphen last") << QStringLiteral("1500001-") << QString();
    QTest::newRow("blank inside") << QStringLiteral("150 0001") << QString();
    QTest::newRow("letter") << QStringLiteral("150-000l") << QString();
    QTest::newRow("letters") << QStringLiteral("abc-defg") << QString();
    QTest::newRow("digits of another script") << QStringLiteral("١٥٠٠٠٠١") << QString();
    QTest::newRow("postal mark after") << QStringLiteral("150-0001〒") << QString();
}

void TestPostalCodes::normalize()
{
    QFETCH(QString, typed);
    QFETCH(QString, digits);
    const std::optional<QString> normalized = PostalCodes::normalize(typed);
    if (digits.isEmpty()) {
        QVERIFY2(!normalized, qPrintable(normalized.value_or(QString())));
    } else {
        QVERIFY(normalized);
        QCOMPARE(*normalized, digits);
    }
}

// ------------------------------------------------------------------ the dictionary

void TestPostalCodes::dictionaryLookup_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QStringList>("towns");

    QTest::newRow("one town") << QStringLiteral("1000001") << QStringList{QStringLiteral("東京都千代田区千代田")};
    QTest::newRow("two towns") << QStringLiteral("4980000")
                               << QStringList{QStringLiteral("愛知県弥富市"), QStringLiteral("三重県桑名郡木曽岬町")};
    QTest::newRow("first entry") << QStringLiteral("0600000") << QStringList{QStringLiteral("北海道札幌市中央区")};
    QTest::newRow("unknown code") << QStringLiteral("1500001") << QStringList();
    QTest::newRow("below every code") << QStringLiteral("0000000") << QStringList();
    QTest::newRow("above every code") << QStringLiteral("9999999") << QStringList();
    QTest::newRow("typed form") << QStringLiteral("100-0001") << QStringList();
    QTest::newRow("six digits") << QStringLiteral("100000") << QStringList();
}

void TestPostalCodes::dictionaryLookup()
{
    QFETCH(QString, code);
    QFETCH(QStringList, towns);
    const PostalCodes codes = PostalCodes::fromSkkDictionary(write(QStringLiteral("small.dic"), smallDictionary()));
    QCOMPARE(codes.lookup(code), towns);
    QCOMPARE(codes.size(), qsizetype(3));
}

void TestPostalCodes::repeatedCodes()
{
    // A code on several lines in a row gives the towns of all, in file order, once each.
    const QString path =
        write(QStringLiteral("repeated.dic"),
              linesOf({entry("0600000", {QStringLiteral("北海道札幌市中央区")}, euc),
                       entry("4980000", {QStringLiteral("愛知県弥富市")}, euc), ";; comment between",
                       entry("4980000", {QStringLiteral("三重県桑名郡木曽岬町"), QStringLiteral("愛知県弥富市")}, euc),
                       entry("5000000", {QStringLiteral("岐阜県岐阜市")}, euc)}));
    const PostalCodes codes = PostalCodes::fromSkkDictionary(path);
    QCOMPARE(codes.size(), qsizetype(3));
    QCOMPARE(codes.lookup(u"4980000"),
             (QStringList{QStringLiteral("愛知県弥富市"), QStringLiteral("三重県桑名郡木曽岬町")}));
    QCOMPARE(codes.lookup(u"0600000"), QStringList{QStringLiteral("北海道札幌市中央区")});
    QCOMPARE(codes.lookup(u"5000000"), QStringList{QStringLiteral("岐阜県岐阜市")});
}

void TestPostalCodes::codeOverManyStretches_data()
{
    linesAcrossBlocks_data();
}

void TestPostalCodes::codeOverManyStretches()
{
    // Far more lines of one code than one stretch of the index holds, between two other codes.
    QFETCH(QString, loader);
    const auto encode = loader == u"dictionary" ? euc : utf8;
    QList<QByteArray> lines = {entry("1000001", {QStringLiteral("東京都千代田区千代田")}, encode)};
    QStringList towns;
    for (int i = 0; i < 400; ++i) {
        towns << QStringLiteral("北海道札幌市中央区大通西%1丁目").arg(i);
        lines << entry("1000002", {towns.last()}, encode);
    }
    lines << entry("1000003", {QStringLiteral("東京都千代田区丸の内")}, encode);
    const PostalCodes codes = load(loader, write(QStringLiteral("many"), linesOf(lines)));
    QCOMPARE(codes.size(), qsizetype(3));
    QCOMPARE(codes.lookup(u"1000002"), towns);
    QCOMPARE(codes.lookup(u"1000001"), QStringList{QStringLiteral("東京都千代田区千代田")});
    QCOMPARE(codes.lookup(u"1000003"), QStringList{QStringLiteral("東京都千代田区丸の内")});
}

void TestPostalCodes::fileChangedAfterLoading_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("replaced by another file") << QStringLiteral("replaced");
    QTest::newRow("cut in place") << QStringLiteral("cut");
    QTest::newRow("rewritten in place") << QStringLiteral("rewritten");
}

void TestPostalCodes::fileChangedAfterLoading()
{
    QFETCH(QString, change);
    const QString path = write(QStringLiteral("changing.dic"), smallDictionary());
    const PostalCodes codes = PostalCodes::fromSkkDictionary(path);
    const QByteArray other = linesOf({entry("1000001", {QStringLiteral("大阪府大阪市北区")}, euc)});
    QString expected;
    if (change == u"replaced") {
        // As a package update or save() replaces a file: the index still reads the one it read.
        const QString next = write(QStringLiteral("next.dic"), other);
        QVERIFY(QFile::remove(path) && QFile::rename(next, path));
    } else if (change == u"cut") {
        QVERIFY(QFile::resize(path, 20));
        expected = path + QStringLiteral(" を読めません (読み込んだ後に短くなりました)");
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.write(QByteArray(file.size(), 'x')) == file.size());
        expected = path + QStringLiteral(" は読み込んだ後に書き換えられました");
    }
    if (expected.isEmpty()) {
        QCOMPARE(codes.lookup(u"1000001"), QStringList{QStringLiteral("東京都千代田区千代田")});
        QCOMPARE(PostalCodes::fromSkkDictionary(path).lookup(u"1000001"),
                 QStringList{QStringLiteral("大阪府大阪市北区")});
    } else {
        QCOMPARE(errorOf([&] { codes.lookup(u"1000001"); }), expected);
    }
}

void TestPostalCodes::jisX0213AndSingleShifts()
{
    const PostalCodes codes = PostalCodes::fromSkkDictionary(write(QStringLiteral("x0213.dic"), x0213Dictionary()));
    QCOMPARE(codes.lookup(u"1000002"), (QStringList{QString::fromUtf8("東京都俱𠀋𠂉ｱ"), QStringLiteral("大阪府")}));
    QCOMPARE(codes.lookup(u"1000003"), QStringList{QStringLiteral("東京都千代田区")});
}

void TestPostalCodes::jisFormsAsCodePage932()
{
    // Wave dash, double vertical line, minus sign, em dash, cent, pound, not sign.
    const PostalCodes codes = PostalCodes::fromSkkDictionary(
        write(QStringLiteral("forms.dic"), "1000001 /\xA1\xC1\xA1\xC2\xA1\xDD\xA1\xBD\xA1\xF1\xA1\xF2\xA2\xCC/\n"));
    QCOMPARE(codes.lookup(u"1000001"), QStringList{QStringLiteral("～∥－―￠￡￢")});
}

void TestPostalCodes::unassignedCharacterRefusedAtLookup()
{
    // 0xA4FC has the form of a character but JIS X 0213 leaves it empty: the load takes the line,
    // its lookup says what is wrong instead of giving a town with a replacement character.
    const QString path = write(QStringLiteral("unassigned.dic"),
                               linesOf({";; comment", entry("1000001", {QStringLiteral("東京都千代田区千代田")}, euc),
                                        "1000002 /" + euc(QStringLiteral("東京都")) + "\xA4\xFC/"}));
    const PostalCodes codes = PostalCodes::fromSkkDictionary(path);
    QCOMPARE(codes.lookup(u"1000001"), QStringList{QStringLiteral("東京都千代田区千代田")});
    QCOMPARE(errorOf([&] { codes.lookup(u"1000002"); }),
             faultPrefix(path, 3) + QStringLiteral(" (EUC-JIS-2004 にない文字があります)"));
}

void TestPostalCodes::linesAcrossBlocks_data()
{
    QTest::addColumn<QString>("loader");
    QTest::newRow("dictionary") << QStringLiteral("dictionary");
    QTest::newRow("own file") << QStringLiteral("own file");
}

void TestPostalCodes::linesAcrossBlocks()
{
    QFETCH(QString, loader);
    const QList<GeneratedLine> lines = generatedLines();
    const PostalCodes codes =
        load(loader, write(QStringLiteral("generated"), generatedFile(lines, loader == u"dictionary" ? euc : utf8)));
    QCOMPARE(codes.size(), lines.size());
    for (const GeneratedLine& line : lines)
        QCOMPARE(codes.lookup(QString::fromLatin1(line.code)), line.towns);
}

// A file whose second line holds the town; the first line is padded so that the town starts at
// each offset of the 64-byte blocks the index reads, twice over, and so that the second line
// starts at each offset around the end of the first 64 KiB the index reads of a file. Every other
// file's last line has no line feed.
QList<QByteArray> townAtEveryOffset(const QByteArray& town)
{
    QList<int> starts; // of the second line
    for (int start = 12; start < 140; ++start)
        starts << start;
    for (int start = 65536 - 24; start <= 65536 + 8; ++start)
        starts << start;
    QList<QByteArray> files;
    for (int start : starts)
        files << "1000000 /" + QByteArray(start - 11, 'x') + "/\n1000001 /" + town + "/\n1000002 /x/" +
                     (start % 2 ? "\n" : "");
    return files;
}

void TestPostalCodes::validAtEveryOffset_data()
{
    QTest::addColumn<QString>("loader");
    QTest::addColumn<QByteArray>("town");
    QTest::addColumn<QString>("text");

    const QString kanji = QStringLiteral("東京都千代田区ABC一丁目");
    QTest::newRow("dictionary") << QStringLiteral("dictionary") << euc(kanji) << kanji;
    QTest::newRow("dictionary with single shifts")
        << QStringLiteral("dictionary")
        << euc(QStringLiteral("東京")) + "\x8E\xB1\x8F\xA1\xA1" + euc(QStringLiteral("都"))
        << QString::fromUtf8("東京ｱ𠂉都");
    // The lowest and highest code points of each length, around the surrogates and the narrow
    // second bytes of E0, ED, F0 and F4.
    const QByteArray edges = "\xC2\xA9\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF";
    QTest::newRow("own file") << QStringLiteral("own file") << edges << QString::fromUtf8(edges);
}

void TestPostalCodes::validAtEveryOffset()
{
    QFETCH(QString, loader);
    QFETCH(QByteArray, town);
    QFETCH(QString, text);
    for (const QByteArray& bytes : townAtEveryOffset(town)) {
        const PostalCodes codes = load(loader, write(QStringLiteral("valid"), bytes));
        QCOMPARE(codes.lookup(u"1000001"), QStringList{text});
        QCOMPARE(codes.lookup(u"1000002"), QStringList{QStringLiteral("x")});
        QCOMPARE(codes.size(), qsizetype(3));
    }
}

void TestPostalCodes::faultAtEveryOffset_data()
{
    QTest::addColumn<QString>("loader");
    QTest::addColumn<QByteArray>("town");
    QTest::addColumn<QString>("reason");

    const QString dic = QStringLiteral("dictionary");
    const QString own = QStringLiteral("own file");
    const QString tokyo = QStringLiteral("東京都");
    QTest::newRow("dictionary: byte of a character dropped") << dic << QByteArray(euc(tokyo)).remove(3, 1) << kBadEuc;
    QTest::newRow("dictionary: character cut before the slash") << dic << euc(tokyo).chopped(1) << kBadEuc;
    QTest::newRow("dictionary: byte of no character") << dic << euc(tokyo) + "\xA0" + euc(tokyo) << kBadEuc;
    QTest::newRow("dictionary: single shift before a byte it cannot take")
        << dic << euc(tokyo) + "\x8E\xE0" + euc(tokyo) << kBadEuc;
    QTest::newRow("dictionary: town without a name") << dic << euc(tokyo) + "//" + euc(tokyo) << kBadForm;
    QTest::newRow("own: byte of a character dropped") << own << QByteArray(utf8(tokyo)).remove(4, 1) << kBadUtf8;
    QTest::newRow("own: continuation where none is due") << own << utf8(tokyo) + "\x80" << kBadUtf8;
    QTest::newRow("own: overlong") << own << "\xE0\x80\x80" + utf8(tokyo) << kBadUtf8;
    QTest::newRow("own: surrogate") << own << "\xED\xA0\x80" + utf8(tokyo) << kBadUtf8;
    QTest::newRow("own: four-byte overlong") << own << "\xF0\x8F\xBF\xBF" + utf8(tokyo) << kBadUtf8;
    QTest::newRow("own: beyond U+10FFFF") << own << "\xF4\x90\x80\x80" + utf8(tokyo) << kBadUtf8;
    QTest::newRow("own: town without a name") << own << utf8(tokyo) + "//" + utf8(tokyo) << kBadForm;
    QTest::newRow("dictionary: empty town at the end") << dic << euc(tokyo) + "/" << kBadForm;
}

void TestPostalCodes::faultAtEveryOffset()
{
    QFETCH(QString, loader);
    QFETCH(QByteArray, town);
    QFETCH(QString, reason);
    for (const QByteArray& bytes : townAtEveryOffset(town)) {
        const QString path = write(QStringLiteral("fault"), bytes);
        QCOMPARE(errorOf([&] { load(loader, path); }), faultPrefix(path, 2) + " (" + reason + ")");
    }
}

void TestPostalCodes::debianDictionary()
{
    if (!QFileInfo::exists(kDebianDictionary))
        QSKIP("skkdic-extra is not installed (scripts/deps.sh installs it)");
    const PostalCodes codes = PostalCodes::fromSkkDictionary(kDebianDictionary);
    QCOMPARE(codes.lookup(u"1500001"), QStringList{QStringLiteral("東京都渋谷区神宮前")});
    QCOMPARE(codes.lookup(u"4980000"),
             (QStringList{QStringLiteral("愛知県弥富市"), QStringLiteral("三重県桑名郡木曽岬町")}));
    // The index holds where the lines are, not their text.
    QVERIFY2(codes.memoryBytes() < QFileInfo(kDebianDictionary).size() / 8,
             qPrintable(QString::number(codes.memoryBytes())));

    // Every line against the whole file decoded at once (this edition holds only JIS X 0208,
    // which Qt's EUC-JP decoder knows, giving code page 932's forms as the index does).
    QFile file(kDebianDictionary);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QStringDecoder decoder("EUC-JP");
    const QString text = decoder.decode(file.readAll());
    QVERIFY(!decoder.hasError());
    std::map<QString, QStringList> expected;
    for (QStringView line : QStringView(text).split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(u';'))
            continue;
        QVERIFY2(line.size() > 10 && line[7] == u' ' && line.endsWith(u'/'), qPrintable(line.toString()));
        expected[line.left(7).toString()] += line.mid(9).chopped(1).toString().split(u'/');
    }
    QCOMPARE(codes.size(), qsizetype(expected.size()));
    for (auto& [code, towns] : expected) {
        towns.removeDuplicates();
        QCOMPARE(codes.lookup(code), towns);
    }
}

void TestPostalCodes::damagedDictionary_data()
{
    QTest::addColumn<QString>("loader");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("reason"); // empty: any

    const QByteArray good = linesOf({";; comment", entry("0600000", {QStringLiteral("北海道札幌市中央区")}, euc),
                                     entry("1000001", {QStringLiteral("東京都千代田区千代田")}, euc)});
    const QString dic = QStringLiteral("dictionary");
    const QString own = QStringLiteral("own file");
    const QByteArray shibuya = euc(QStringLiteral("東京都渋谷区神宮前"));

    QTest::newRow("cut in a character at the end") << dic << good + "1500001 /" + shibuya.chopped(1) << 4 << kBadEuc;
    QTest::newRow("cut in a line at the end") << dic << good + "1500001 /" + shibuya << 4 << kBadForm;
    QTest::newRow("cut in the code") << dic << good + "15000" << 4 << kBadForm;
    QTest::newRow("six digits") << dic << good + "150001 /" + shibuya + "/\n" << 4 << kBadForm;
    QTest::newRow("eight digits") << dic << good + "15000011 /" + shibuya + "/\n" << 4 << kBadForm;
    QTest::newRow("letter in the code") << dic << good + "15000O1 /" + shibuya + "/\n" << 4 << kBadForm;
    QTest::newRow("two blanks") << dic << good + "1500001  /" + shibuya + "/\n" << 4 << kBadForm;
    QTest::newRow("no slash at the end") << dic << good + "1500001 /" + shibuya + "\n" << 4 << kBadForm;
    QTest::newRow("town without a name") << dic << good + "1500001 /" + shibuya + "//" + shibuya + "/\n"
                                         << 4 << kBadForm;
    QTest::newRow("no town") << dic << good + "1500001 //\n" << 4 << kBadForm;
    QTest::newRow("blank before the code") << dic << good + " 1500001 /" + shibuya + "/\n" << 4 << kBadForm;
    QTest::newRow("code lower than the one before") << dic << good + "0999999 /" + shibuya + "/\n" << 4 << kOrder;
    QTest::newRow("code lower after a repeat") << dic << good + "1000001 /" + shibuya + "/\n1000000 /" + shibuya + "/\n"
                                               << 5 << kOrder;
    QTest::newRow("byte missing in the middle")
        << dic << QByteArray(good).remove(good.indexOf(euc(QStringLiteral("中央"))), 1) + "1500001 /" + shibuya + "/\n"
        << 2 << kBadEuc;
    QTest::newRow("byte of no character")
        << dic << QByteArray(good).insert(good.indexOf('/') + 3, '\xA0') << 2 << kBadEuc;
    QTest::newRow("0xFF") << dic << good + "1500001 /\xFF\xFF/\n" << 4 << kBadEuc;
    QTest::newRow("NUL byte") << dic << QByteArray(good).insert(good.lastIndexOf('/'), '\0') << 3 << kControl;
    QTest::newRow("CR LF line ends") << dic << QByteArray(good).replace("\n", "\r\n") << 1 << kControl;
    QTest::newRow("UTF-8 text") << dic << smallDictionary(utf8) << 4 << kBadEuc;
    QTest::newRow("code page 932 text") << dic << smallDictionary(cp932) << 4 << kBadEuc;
    QTest::newRow("single shift without its character") << dic << good + "1500001 /\x8E" + "A/\n" << 4 << kBadEuc;
    QTest::newRow("cut character after a single shift")
        << dic
        << good + "1500001 /\x8E\xB1/\n" + "1500002 /" + shibuya.chopped(1) + "/\n" + "1500003 /" + shibuya + "\n"
        << 5 << kBadEuc;
    QByteArray noise(300, Qt::Uninitialized);
    QRandomGenerator random(20240401);
    for (char& c : noise)
        c = char(random.bounded(0x20, 0x100));
    QTest::newRow("random bytes") << dic << good + noise + "\n" + entry("1500001", {QStringLiteral("東京都")}, euc) << 4
                                  << QString();

    const QByteArray goodUtf8 = linesOf({";; comment", entry("0600000", {QStringLiteral("北海道札幌市中央区")}, utf8),
                                         entry("1000001", {QStringLiteral("東京都千代田区千代田")}, utf8)});
    const QByteArray shibuya8 = utf8(QStringLiteral("東京都渋谷区神宮前"));
    QTest::newRow("own: the dictionary") << own << smallDictionary() << 4 << kBadUtf8;
    QTest::newRow("own: code page 932 text") << own << smallDictionary(cp932) << 4 << kBadUtf8;
    QTest::newRow("own: continuation missing")
        << own << QByteArray(goodUtf8).remove(goodUtf8.indexOf(utf8(QStringLiteral("千代田"))) + 2, 1) << 3 << kBadUtf8;
    QTest::newRow("own: continuation where none is due") << own << goodUtf8 + "1500001 /\x80" + shibuya8 + "/\n"
                                                         << 4 << kBadUtf8;
    QTest::newRow("own: overlong") << own << goodUtf8 + "1500001 /\xE0\x80\xAF/\n" << 4 << kBadUtf8;
    QTest::newRow("own: two-byte overlong") << own << goodUtf8 + "1500001 /\xC0\xAF/\n" << 4 << kBadUtf8;
    QTest::newRow("own: surrogate") << own << goodUtf8 + "1500001 /\xED\xA0\x80/\n" << 4 << kBadUtf8;
    QTest::newRow("own: beyond U+10FFFF") << own << goodUtf8 + "1500001 /\xF4\x90\x80\x80/\n" << 4 << kBadUtf8;
    QTest::newRow("own: four-byte overlong") << own << goodUtf8 + "1500001 /\xF0\x8F\xBF\xBF/\n" << 4 << kBadUtf8;
    QTest::newRow("own: 0xFF") << own << goodUtf8 + "1500001 /\xFF/\n" << 4 << kBadUtf8;
    QTest::newRow("own: cut in a character at the end")
        << own << goodUtf8 + "1500001 /" + shibuya8.chopped(1) << 4 << kBadUtf8;
    QTest::newRow("own: six digits") << own << goodUtf8 + "150001 /" + shibuya8 + "/\n" << 4 << kBadForm;
    QTest::newRow("own: codes out of order") << own << goodUtf8 + "0600001 /" + shibuya8 + "/\n" << 4 << kOrder;
}

void TestPostalCodes::damagedDictionary()
{
    QFETCH(QString, loader);
    QFETCH(QByteArray, bytes);
    QFETCH(int, line);
    QFETCH(QString, reason);
    const QString path = write(QStringLiteral("damaged"), bytes);
    const QString message = errorOf([&] { load(loader, path); });
    if (reason.isEmpty())
        QVERIFY2(message.startsWith(faultPrefix(path, line) + " ("), qPrintable(message));
    else
        QCOMPARE(message, faultPrefix(path, line) + " (" + reason + ")");
}

// ------------------------------------------------------------------ the postal service's list

void TestPostalCodes::postalServiceList_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QStringList>("towns");

    for (const QString& file : {QStringLiteral("KEN_ALL.CSV"), QStringLiteral("utf_ken_all.csv")}) {
        const auto row = [&](const char* name) -> QTestData& {
            return QTest::addRow("%s: %s", qPrintable(file), name) << file;
        };
        row("one town") << QStringLiteral("1000001") << QStringList{QStringLiteral("東京都千代田区千代田")};
        row("no town listed") << QStringLiteral("0600000") << QStringList{QStringLiteral("北海道札幌市中央区")};
        row("town over three rows, then another")
            << QStringLiteral("0660005")
            << QStringList{QStringLiteral("北海道千歳市協和"), QStringLiteral("北海道千歳市新星")};
        row("remark left open") << QStringLiteral("0640941") << QStringList{QStringLiteral("北海道札幌市中央区旭ケ丘")};
        row("remark dropped") << QStringLiteral("1600023") << QStringList{QStringLiteral("東京都新宿区西新宿")};
        row("floor remark dropped") << QStringLiteral("1636090")
                                    << QStringList{QStringLiteral("東京都新宿区西新宿新宿アイランドタワー")};
        row("rows the same without remarks")
            << QStringLiteral("0600042") << QStringList{QStringLiteral("北海道札幌市中央区大通西")};
        row("whole town") << QStringLiteral("1980200") << QStringList{QStringLiteral("東京都西多摩郡奥多摩町")};
        row("town named 一円") << QStringLiteral("5220341") << QStringList{QStringLiteral("滋賀県犬上郡多賀町一円")};
        row("number follows the town") << QStringLiteral("3060433") << QStringList{QStringLiteral("茨城県猿島郡境町")};
        row("two prefectures") << QStringLiteral("4980000")
                               << QStringList{QStringLiteral("愛知県弥富市"), QStringLiteral("三重県桑名郡木曽岬町")};
        row("unknown code") << QStringLiteral("1500001") << QStringList();
    }
}

void TestPostalCodes::postalServiceList()
{
    QFETCH(QString, file);
    QFETCH(QString, code);
    QFETCH(QStringList, towns);
    const PostalCodes codes = PostalCodes::fromPostalServiceList(lists_.value(file));
    QCOMPARE(codes.lookup(code), towns);
    QCOMPARE(codes.size(), kListCodes.size());
}

void TestPostalCodes::damagedPostalServiceList_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("reason");

    const QStringList good = listRows(true).mid(0, 2);
    const QString tokyo = listRow(QStringLiteral("1000001"), QStringLiteral("東京都"), QStringLiteral("千代田区"),
                                  QStringLiteral("千代田"));
    const auto list = [&](const QString& row) { return cp932List(good + QStringList{row, tokyo}); };
    const QString columns = QStringLiteral("列が %1 個あります。15 個のはずです");

    QTest::newRow("fourteen columns") << list(tokyo.left(tokyo.lastIndexOf(u','))) << 3 << columns.arg(14);
    QTest::newRow("sixteen columns") << list(tokyo + ",0") << 3 << columns.arg(16);
    QTest::newRow("code of six digits") << list(QString(tokyo).replace(QStringLiteral("\"1000001\""),
                                                                       QStringLiteral("\"100001\"")))
                                        << 3 << QStringLiteral("郵便番号「100001」が 7 桁の数字ではありません");
    QTest::newRow("code with a letter") << list(QString(tokyo).replace(QStringLiteral("\"1000001\""),
                                                                       QStringLiteral("\"10000O1\"")))
                                        << 3 << QStringLiteral("郵便番号「10000O1」が 7 桁の数字ではありません");
    QTest::newRow("quote left open") << list(QString(tokyo).replace(QStringLiteral("\"千代田\","),
                                                                    QStringLiteral("\"千代田,")))
                                     << 3 << QStringLiteral("引用符が正しく閉じていません");
    QTest::newRow("text after a quote") << list(QString(tokyo).replace(QStringLiteral("\"千代田\","),
                                                                       QStringLiteral("\"千代田\"x,")))
                                        << 3 << QStringLiteral("引用符が正しく閉じていません");
    QTest::newRow("no prefecture") << list(QString(tokyo).replace(QStringLiteral("\"東京都\""), QStringLiteral("\"\"")))
                                   << 3 << QStringLiteral("都道府県名がありません");
    QTest::newRow("tab in a town") << list(QString(tokyo).replace(QStringLiteral("\"千代田\","),
                                                                  QStringLiteral("\"千代\t田\",")))
                                   << 3 << QStringLiteral("制御文字があります");
    QTest::newRow("slash in a town") << list(QString(tokyo).replace(QStringLiteral("\"千代田\","),
                                                                    QStringLiteral("\"千代/田\",")))
                                     << 3 << QStringLiteral("住所に「/」があり、保存できません");
    const QString notCp932 = QStringLiteral("シフト JIS (コードページ 932) の文字ではないバイトがあります");
    QByteArray badByte = list(tokyo);
    badByte.insert(badByte.indexOf(cp932(QStringLiteral("千代田"))), '\xFF');
    QTest::newRow("byte of no character") << badByte << 3 << notCp932;
    const QByteArray rows = cp932List(good);
    const QByteArray last = cp932(tokyo);
    QTest::newRow("cut in a row at the end") << rows + last.left(last.indexOf(cp932(QStringLiteral("千代田区")))) << 3
                                             << QStringLiteral("引用符が正しく閉じていません");
    QTest::newRow("cut after a comma at the end") << rows + last.left(last.indexOf(',') + 1) << 3 << columns.arg(2);
    QTest::newRow("cut in a character at the end")
        << rows + last.left(last.indexOf(cp932(QStringLiteral("千代田区"))) + 1) << 3 << notCp932;
    QTest::newRow("cut before the line end") << rows + last << 3 << QStringLiteral("行が途中で切れています");
    QTest::newRow("cut inside the last column")
        << rows + last.left(last.lastIndexOf(',') + 1) << 3 << QStringLiteral("行が途中で切れています");
    QByteArray utf8Damaged = utf8List(good + QStringList{tokyo});
    utf8Damaged.remove(utf8Damaged.indexOf(utf8(QStringLiteral("千代田区"))) + 1, 1);
    QTest::newRow("UTF-8 edition with a damaged row")
        << utf8Damaged << 3 << QStringLiteral("UTF-8 の文字ではないバイトがあります");
}

void TestPostalCodes::damagedPostalServiceList()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, line);
    QFETCH(QString, reason);
    const QString path = write(QStringLiteral("damaged.csv"), bytes);
    QCOMPARE(errorOf([&] { PostalCodes::fromPostalServiceList(path); }),
             QStringLiteral("%1 の %2 行目は郵便番号データの行として読めません (%3)").arg(path).arg(line).arg(reason));
}

// ------------------------------------------------------------------ files that are not there, too large, empty

void TestPostalCodes::unreadableFiles_data()
{
    QTest::addColumn<QString>("loader");
    QTest::addColumn<QString>("kind");

    for (const char* loader : {"dictionary", "own file", "postal service list"})
        for (const char* kind : {"missing", "folder", "too large", "empty", "comments and blank lines"})
            QTest::addRow("%s: %s", loader, kind) << QString::fromLatin1(loader) << QString::fromLatin1(kind);
}

void TestPostalCodes::unreadableFiles()
{
    QFETCH(QString, loader);
    QFETCH(QString, kind);
    QString path;
    QString expected;
    if (kind == u"missing") {
        path = dir_.filePath(QStringLiteral("never-written"));
        expected = path + QStringLiteral(" を読めません (");
    } else if (kind == u"folder") {
        path = dir_.path();
        expected = path + QStringLiteral(" を読めません (");
    } else if (kind == u"too large") {
        // Sparse: nothing is written, and nothing may be read.
        path = write(QStringLiteral("large"), QByteArray());
        QVERIFY(QFile::resize(path, PostalCodes::kMaxFileBytes + 1));
        expected = path + QStringLiteral(" は大きすぎて読めません (64 MiB まで)");
    } else {
        const QByteArray blank = loader == u"postal service list" ? "\r\n\r\n" : ";; comment\n\n;;\n";
        path = write(QStringLiteral("nothing"), kind == u"empty" ? QByteArray() : blank);
        expected = path + QStringLiteral(" には郵便番号の行がありません");
    }
    const QString message = errorOf([&] { load(loader, path); });
    if (expected.endsWith(u'('))
        QVERIFY2(message.startsWith(expected) && message.endsWith(u')'), qPrintable(message));
    else
        QCOMPARE(message, expected);
}

// ------------------------------------------------------------------ the own file

void TestPostalCodes::saveAndReadBack_data()
{
    QTest::addColumn<QString>("loader");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("codes");

    QTest::newRow("dictionary") << QStringLiteral("dictionary") << smallDictionary()
                                << QStringList{"0600000", "1000001", "4980000"};
    QTest::newRow("dictionary with JIS X 0213")
        << QStringLiteral("dictionary") << x0213Dictionary() << QStringList{"1000001", "1000002", "1000003"};
    QTest::newRow("KEN_ALL.CSV") << QStringLiteral("postal service list") << cp932List(listRows(true)) << kListCodes;
    QTest::newRow("utf_ken_all.csv") << QStringLiteral("postal service list") << utf8List(listRows(false))
                                     << kListCodes;
}

void TestPostalCodes::saveAndReadBack()
{
    QFETCH(QString, loader);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, codes);
    const PostalCodes read = load(loader, write(QStringLiteral("source"), bytes));
    const QString own = dir_.filePath(QStringLiteral("PostalCodes.txt"));
    read.save(own);
    const PostalCodes back = PostalCodes::fromOwnFile(own);
    QCOMPARE(back.size(), read.size());
    QCOMPARE(back.size(), codes.size());
    for (const QString& code : codes) {
        QVERIFY(!read.lookup(code).isEmpty());
        QCOMPARE(back.lookup(code), read.lookup(code));
    }
}

void TestPostalCodes::savedFileText()
{
    const QString path = write(QStringLiteral("repeated.dic"),
                               linesOf({";; comment", entry("0600000", {QStringLiteral("北海道札幌市中央区")}, euc),
                                        entry("4980000", {QStringLiteral("愛知県弥富市")}, euc),
                                        entry("4980000", {QStringLiteral("三重県桑名郡木曽岬町")}, euc)}));
    const QString own = dir_.filePath(QStringLiteral("saved.txt"));
    PostalCodes::fromSkkDictionary(path).save(own);
    QFile file(own);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()), QStringLiteral(";; -*- coding: utf-8 -*-\n"
                                                               "0600000 /北海道札幌市中央区/\n"
                                                               "4980000 /愛知県弥富市/三重県桑名郡木曽岬町/\n"));
}

void TestPostalCodes::refusedSave_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("folder that cannot be written") << QStringLiteral("unwritable");
    QTest::newRow("folder that does not exist") << QStringLiteral("missing");
    QTest::newRow("nothing to save") << QStringLiteral("empty");
}

void TestPostalCodes::refusedSave()
{
    QFETCH(QString, kind);
    const QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QString path = folder.filePath(QStringLiteral("PostalCodes.txt"));
    const QByteArray before = linesOf({entry("1000001", {QStringLiteral("東京都千代田区千代田")}, utf8)});
    QFile existing(path);
    QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write(before) == before.size());
    existing.close();

    PostalCodes codes = PostalCodes::fromSkkDictionary(write(QStringLiteral("small.dic"), smallDictionary()));
    std::optional<faults::Unwritable> unwritable;
    if (kind == u"unwritable") {
        unwritable.emplace(folder.path());
        if (!unwritable->isSet())
            QSKIP(qPrintable(unwritable->why()));
    } else if (kind == u"missing") {
        path = folder.filePath(QStringLiteral("gone/PostalCodes.txt"));
    } else {
        codes = PostalCodes();
    }
    const QString message = errorOf([&] { codes.save(path); });
    QVERIFY2(message.startsWith(path + QStringLiteral(" に書き込めません (")), qPrintable(message));
    if (kind == u"empty")
        QCOMPARE(message, path + QStringLiteral(" に書き込めません (郵便番号がひとつもありません)"));
    unwritable.reset();
    QFile after(folder.filePath(QStringLiteral("PostalCodes.txt")));
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), before);
    QCOMPARE(PostalCodes::fromOwnFile(after.fileName()).lookup(u"1000001"),
             QStringList{QStringLiteral("東京都千代田区千代田")});
}

QTEST_GUILESS_MAIN(TestPostalCodes)
#include "tst_postalcodes.moc"
