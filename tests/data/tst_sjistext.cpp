// Code page 932 text steps and field-value conversions.
#include "data/Error.h"
#include "data/FieldValue.h"
#include "data/SjisText.h"

#include <QTest>

using namespace halvenna;

namespace {
QByteArray sj(const QString& s)
{
    return sjis::fromUnicode(s);
}
} // namespace

class TestSjisText : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void conversionIsCodePage932()
    {
        // Known bytes, full-width tilde included (0x8160, not the JIS wave dash).
        QCOMPARE(sjis::fromUnicode(QStringLiteral("山田太郎－～")).toHex(), QByteArray("8e52936391be9859817c8160"));
        QCOMPARE(sjis::toUnicode(QByteArray::fromHex("8e52936391be9859817c8160")), QStringLiteral("山田太郎－～"));
        QCOMPARE(sjis::fromUnicode(QStringLiteral("ｱｲｳ")).size(), 3); // half-width katakana are single bytes
    }

    void unencodableTextIsRefusedNotReplaced_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("encodable");
        QTest::newRow("ascii") << QStringLiteral("abc-123") << true;
        QTest::newRow("kanji and kana") << QStringLiteral("東京都渋谷区ハイツ") << true;
        QTest::newRow("circled digit (NEC row 13)") << QStringLiteral("①") << true;
        QTest::newRow("emoji") << QStringLiteral("山田😀") << false;
        QTest::newRow("hangul") << QStringLiteral("한") << false;
        QTest::newRow("simplified-only hanzi") << QStringLiteral("们") << false;
    }
    void unencodableTextIsRefusedNotReplaced()
    {
        QFETCH(QString, text);
        QFETCH(bool, encodable);
        QCOMPARE(sjis::canEncode(text), encodable);
        if (encodable) {
            QCOMPARE(sjis::toUnicode(sjis::fromUnicode(text)), text);
        } else {
            try {
                (void)sjis::fromUnicode(text);
                QFAIL("no error for text code page 932 cannot hold");
            } catch (const ConversionError& e) {
                QVERIFY(e.message().contains(QStringLiteral("Shift-JIS")));
            }
            // A refusal leaves the converter fit for the next text.
            QCOMPARE(sjis::fromUnicode(QStringLiteral("新しい")).toHex(), QByteArray("905682b582a2"));
        }
    }

    // Text typed here carries a few characters in their JIS forms; they are stored as the code
    // page 932 characters Windows maps them to, and read back in those forms.
    void jisFormsAreTakenAsCodePage932Forms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<QString>("readBack");
        QTest::newRow("wave dash") << QStringLiteral("1〜3") << QByteArray("31816033") << QStringLiteral("1～3");
        QTest::newRow("minus sign") << QStringLiteral("−5") << QByteArray("817c35") << QStringLiteral("－5");
        QTest::newRow("double vertical line") << QStringLiteral("‖") << QByteArray("8161") << QStringLiteral("∥");
        QTest::newRow("em dash") << QStringLiteral("—") << QByteArray("815c") << QStringLiteral("―");
        QTest::newRow("cent, pound, not")
            << QStringLiteral("¢£¬") << QByteArray("8191819281ca") << QStringLiteral("￠￡￢");
    }
    void jisFormsAreTakenAsCodePage932Forms()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, hex);
        QFETCH(QString, readBack);
        QVERIFY(sjis::canEncode(text));
        QCOMPARE(sjis::fromUnicode(text).toHex(), hex);
        QCOMPARE(sjis::toUnicode(QByteArray::fromHex(hex)), readBack);
    }

    void bytesThatAreNoCharacterAreTold_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::newRow("empty") << QByteArray() << true;
        QTest::newRow("ascii, control bytes and NUL") << QByteArray("a\0\x01\x1a\x7f", 5) << true;
        QTest::newRow("kanji") << sj(QStringLiteral("山田")) << true;
        QTest::newRow("half-width katakana") << QByteArray("\xa1\xb1\xdf") << true;
        QTest::newRow("user-defined 0xF040") << QByteArray("\xf0\x40") << true;
        QTest::newRow("lead byte at the end") << QByteArray("a\x82") << false;
        QTest::newRow("lead byte before a blank") << QByteArray("\x82 a") << false;
        QTest::newRow("lead byte before a control byte") << QByteArray("\x81\x1f") << false;
        QTest::newRow("0x80") << QByteArray("a\x80z") << false;
        QTest::newRow("0xA0") << QByteArray("a\xa0z") << false;
        QTest::newRow("0xFD") << QByteArray("\xfd") << false;
        QTest::newRow("0xFF") << QByteArray("\xff") << false;
        QTest::newRow("unassigned 0x8540") << QByteArray("\x85\x40") << false;
    }
    // Told every time, also right after another refusal: the converter keeps telling errors.
    void bytesThatAreNoCharacterAreTold()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        for (int round = 0; round < 2; ++round) {
            QVERIFY(!sjis::isValid(QByteArray("\xff")));
            QCOMPARE(sjis::isValid(bytes), valid);
            QVERIFY(!sjis::canEncode(QStringLiteral("😀")));
            QCOMPARE(sjis::isValid(bytes), valid);
        }
        QVERIFY(sjis::isValid(sj(QStringLiteral("新しい"))));
    }

    void findNeverMatchesInsideADoubleByteCharacter_data()
    {
        QTest::addColumn<QByteArray>("s");
        QTest::addColumn<int>("position");
        QTest::newRow("first") << QByteArray("123-4567") << 4;
        QTest::newRow("none") << QByteArray("1234567") << 0;
        QTest::newRow("leading") << QByteArray("-12") << 1;
        QTest::newRow("after kanji") << sj(QStringLiteral("東京-1")) << 5;
        // 0x2D never occurs as a trail byte, but the search must still step over pairs.
        QTest::newRow("full-width dash only") << sj(QStringLiteral("123－4567")) << 0;
        QTest::newRow("empty") << QByteArray() << 0;
    }
    void findNeverMatchesInsideADoubleByteCharacter()
    {
        QFETCH(QByteArray, s);
        QFETCH(int, position);
        QCOMPARE(sjis::find(s, '-'), position);
    }

    void byteStepsAtTheirEdges_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<QByteArray>("s");
        QTest::addColumn<int>("n");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("head 0") << "head" << QByteArray("abc") << 0 << QByteArray();
        QTest::newRow("head -1") << "head" << QByteArray("abc") << -1 << QByteArray();
        QTest::newRow("head 2") << "head" << QByteArray("abc") << 2 << QByteArray("ab");
        QTest::newRow("head beyond") << "head" << QByteArray("abc") << 9 << QByteArray("abc");
        QTest::newRow("drop 0") << "drop" << QByteArray("abc") << 0 << QByteArray("abc");
        QTest::newRow("drop -3") << "drop" << QByteArray("abc") << -3 << QByteArray("abc");
        QTest::newRow("drop 1") << "drop" << QByteArray("abc") << 1 << QByteArray("bc");
        QTest::newRow("drop all") << "drop" << QByteArray("abc") << 5 << QByteArray();
        QTest::newRow("insert at 2") << "insert" << QByteArray("123") << 2 << QByteArray("1  23");
        QTest::newRow("insert at 1") << "insert" << QByteArray("123") << 1 << QByteArray("  123");
        QTest::newRow("insert at end+1") << "insert" << QByteArray("123") << 4 << QByteArray("123  ");
        QTest::newRow("insert beyond") << "insert" << QByteArray("1") << 5 << QByteArray("1  ");
        QTest::newRow("insert into empty") << "insert" << QByteArray() << 2 << QByteArray("  ");
    }
    void byteStepsAtTheirEdges()
    {
        QFETCH(QString, step);
        QFETCH(QByteArray, s);
        QFETCH(int, n);
        QFETCH(QByteArray, expected);
        if (step == u"head")
            QCOMPARE(sjis::head(s, n), expected);
        else if (step == u"drop")
            QCOMPARE(sjis::drop(s, n), expected);
        else
            QCOMPARE(sjis::insertAt(s, "  ", n), expected);
    }

    void cutKeepsWholeCharacters_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ascii 12 into 10") << QStringLiteral("123456789012") << 10 << QStringLiteral("1234567890");
        QTest::newRow("fits") << QStringLiteral("山田") << 4 << QStringLiteral("山田");
        QTest::newRow("half a kanji dropped") << QStringLiteral("山田太郎") << 5 << QStringLiteral("山田");
        QTest::newRow("mixed") << QStringLiteral("a山b田") << 4 << QStringLiteral("a山b");
        QTest::newRow("half-width kana are whole") << QStringLiteral("ｱｲｳｴｵ") << 3 << QStringLiteral("ｱｲｳ");
    }
    void cutKeepsWholeCharacters()
    {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(QString, expected);
        QCOMPARE(sjis::toUnicode(sjis::cutToWidth(sj(text), width)), expected);
    }

    void wholeNumbers_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << QByteArray("12") << true << 12;
        QTest::newRow("leading zeros") << QByteArray("007") << true << 7;
        QTest::newRow("signs") << QByteArray("-5") << true << -5;
        QTest::newRow("plus") << QByteArray("+5") << true << 5;
        QTest::newRow("blanks around") << QByteArray(" 42 ") << true << 42;
        QTest::newRow("max") << QByteArray("2147483647") << true << 2147483647;
        QTest::newRow("min") << QByteArray("-2147483648") << true << int(-2147483648LL);
        QTest::newRow("overflow") << QByteArray("2147483648") << false << 0;
        QTest::newRow("inner minus") << QByteArray("1-2") << false << 0;
        QTest::newRow("empty") << QByteArray() << false << 0;
        QTest::newRow("sign only") << QByteArray("-") << false << 0;
        QTest::newRow("quoted") << QByteArray("\"12\"") << false << 0;
        QTest::newRow("fraction") << QByteArray("1.5") << false << 0;
        QTest::newRow("bom") << QByteArray("\xEF\xBB\xBF"
                                           "1")
                             << false << 0;
    }
    void wholeNumbers()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, ok);
        QFETCH(int, value);
        qint32 out = 0;
        QCOMPARE(parseWholeNumber(text, out), ok);
        if (ok)
            QCOMPARE(out, value);
    }

    void nullIsNeitherEmptyNorZero()
    {
        const FieldValue null;
        QVERIFY(null.isNull());
        QVERIFY(!(null == FieldValue::text("")));
        QVERIFY(null == FieldValue());
        QCOMPARE(null.displayText(), QString());
        auto message = [](auto&& f) {
            try {
                f();
            } catch (const ConversionError& e) {
                return e.message();
            }
            return QString();
        };
        QCOMPARE(message([&] { (void)null.asText(); }),
                 QStringLiteral("Null型から String 型へのバリアント型変換はできません"));
        QCOMPARE(message([&] { (void)null.asInteger(); }),
                 QStringLiteral("Null型から Integer 型へのバリアント型変換はできません"));
        QCOMPARE(FieldValue::integer(2024).asText(), QByteArray("2024"));
        QCOMPARE(FieldValue::logical(true).asText(), QByteArray("True"));
        QCOMPARE(FieldValue::text("False").asBoolean(), false);
    }
};

QTEST_GUILESS_MAIN(TestSjisText)
#include "tst_sjistext.moc"
