// Finding a member: the folding that makes 山田 match however it was typed, and the round through
// the table from the current member, in steps of any size.
#include "common/DataFixture.h"
#include "roster/model/MemberSearch.h"

#include <QtTest>

#include <optional>

using halvenna::MemberSearch;

namespace {

constexpr qint64 kNone = -1;

} // namespace

class TestMemberSearch : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DataFixture> f_;

    void add(int id, const QString& name, const QString& kana, const QString& tel, const QString& zip,
             const QString& address)
    {
        halvenna::Table& t = f_->members();
        t.append();
        t.setFieldValue(QStringLiteral("id_no"), halvenna::FieldValue::integer(id));
        t.setFieldValue(QStringLiteral("name"), DataFixture::text(name));
        t.setFieldValue(QStringLiteral("name_kana"), DataFixture::text(kana));
        t.setFieldValue(QStringLiteral("tel"), DataFixture::text(tel));
        t.setFieldValue(QStringLiteral("zip"), DataFixture::text(zip));
        t.setFieldValue(QStringLiteral("address1"), DataFixture::text(address));
        t.post();
    }

    // Runs a search to its end in steps of `rows`; the identity found or kNone.
    static qint64 run(MemberSearch& search, int rows)
    {
        MemberSearch::Result r = MemberSearch::Result::Searching;
        for (int guard = 0; r == MemberSearch::Result::Searching && guard < 10000; ++guard)
            r = search.step(rows);
        return r == MemberSearch::Result::Found ? search.found() : kNone;
    }

private Q_SLOTS:
    void init()
    {
        f_ = std::make_unique<DataFixture>();
        add(3, QStringLiteral("山田 花子"), QStringLiteral("ﾔﾏﾀﾞ ﾊﾅｺ"), QStringLiteral("03-1234-5678"),
            QStringLiteral("150-0001"), QStringLiteral("東京都渋谷区神宮前"));
        add(7, QStringLiteral("佐藤　一郎"), QStringLiteral("サトウ イチロウ"), QStringLiteral("06-2222-3333"),
            QStringLiteral("530-0001"), QStringLiteral("大阪府大阪市北区梅田"));
        add(12, QStringLiteral("ＡＢＣ商事"), QStringLiteral("エービーシーショウジ"), QStringLiteral("011-222-3333"),
            QStringLiteral("060-0001"), QStringLiteral("北海道札幌市中央区"));
        add(31, QStringLiteral("山田太郎"), QStringLiteral("やまだたろう"), QStringLiteral("090-1111-2222"),
            QStringLiteral("150-0002"), QStringLiteral("東京都渋谷区渋谷"));
        add(120, QStringLiteral("ヴィラ管理組合"), QStringLiteral("ｳﾞｨﾗｶﾝﾘｸﾐｱｲ"), QStringLiteral(""),
            QStringLiteral(""), QStringLiteral("神奈川県横浜市"));
        // Stored as typed in kana mode and without a hyphen.
        add(1500, QStringLiteral("高橋"), QStringLiteral("タカハシ"), QStringLiteral("045ー111ー2222"),
            QStringLiteral("2200011"), QStringLiteral("神奈川県横浜市西区"));
    }
    void cleanup() { f_.reset(); }

    void fold_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("folded");
        QTest::newRow("hiragana as katakana") << QStringLiteral("やまだ ゝ") << QStringLiteral("ヤマダヽ");
        QTest::newRow("half-width kana, voicing marks joined")
            << QStringLiteral("ﾔﾏﾀﾞ ﾊﾟﾝ ｳﾞｨ ﾎﾟ") << QStringLiteral("ヤマダパンヴィポ");
        QTest::newRow("a voicing mark on a kana that takes none")
            << QStringLiteral("ｱﾞﾏﾟ") << QStringLiteral("ア゛マ゜");
        QTest::newRow("full-width letters and digits")
            << QStringLiteral("ＡＢＣ１２３－ｘ") << QStringLiteral("abc123-x");
        QTest::newRow("letter case") << QStringLiteral("Tanaka ÉCOLE Ωmega") << QStringLiteral("tanakaécoleωmega");
        QTest::newRow("spaces of both widths") << QStringLiteral(" 山田　花子 ") << QStringLiteral("山田花子");
        QTest::newRow("emoji and control characters kept as they are")
            << QStringLiteral("a😀\t") + QChar(1) + u'b' << QStringLiteral("a😀\t") + QChar(1) + u'b';
        QTest::newRow("only spaces") << QStringLiteral(" 　 ") << QString();
    }
    void fold()
    {
        QFETCH(QString, text);
        QFETCH(QString, folded);
        QCOMPARE(MemberSearch::fold(text), folded);
    }

    // Each field a member is found by, however the text is typed; the round starts after the member
    // given, wraps, and takes that member last.
    void findsRoundFromTheCurrentMember_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("from");
        QTest::addColumn<bool>("backwards");
        QTest::addColumn<qint64>("found");
        QTest::newRow("name, next after the start") << QStringLiteral("山田") << qint64(3) << false << qint64(31);
        QTest::newRow("name, wrapping round") << QStringLiteral("山田") << qint64(31) << false << qint64(3);
        QTest::newRow("name, backwards wrapping") << QStringLiteral("山田") << qint64(3) << true << qint64(31);
        QTest::newRow("the start itself, last") << QStringLiteral("佐藤") << qint64(7) << false << qint64(7);
        QTest::newRow("no start: from the first") << QStringLiteral("山田") << kNone << false << qint64(3);
        QTest::newRow("no start, backwards: from the last") << QStringLiteral("山田") << kNone << true << qint64(31);
        QTest::newRow("name with an ideographic space typed plain")
            << QStringLiteral("佐藤 一郎") << kNone << false << qint64(7);
        QTest::newRow("half-width kana typed as hiragana")
            << QStringLiteral("やまだ") << qint64(31) << false << qint64(3);
        QTest::newRow("hiragana kana typed as katakana") << QStringLiteral("タロウ") << kNone << false << qint64(31);
        QTest::newRow("full-width name typed in ASCII lower case")
            << QStringLiteral("abc") << kNone << false << qint64(12);
        QTest::newRow("half-width ヴ typed full-width") << QStringLiteral("ヴィラ") << kNone << false << qint64(120);
        QTest::newRow("telephone") << QStringLiteral("090-1111") << kNone << false << qint64(31);
        QTest::newRow("postal code") << QStringLiteral("530") << kNone << false << qint64(7);
        QTest::newRow("address") << QStringLiteral("札幌") << kNone << false << qint64(12);
        QTest::newRow("id_no's leading digits") << QStringLiteral("12") << qint64(3) << false << qint64(12);
        QTest::newRow("id_no with leading zeros") << QStringLiteral("0007") << kNone << false << qint64(7);
        QTest::newRow("id_no, full-width digits, then the next")
            << QStringLiteral("１２") << qint64(31) << false << qint64(120);
        QTest::newRow("digits across a telephone's hyphen (090-1111-2222)")
            << QStringLiteral("１２") << qint64(12) << false << qint64(31);
        QTest::newRow("postal code typed without its hyphen")
            << QStringLiteral("1500002") << kNone << false << qint64(31);
        QTest::newRow("postal code, the digits typed so far past a member number")
            << QStringLiteral("15000") << kNone << false << qint64(3);
        QTest::newRow("postal code typed with ー") << QStringLiteral("150ー0002") << kNone << false << qint64(31);
        QTest::newRow("postal code typed with a hyphen, stored without")
            << QStringLiteral("220-0011") << kNone << false << qint64(1500);
        QTest::newRow("telephone typed without hyphens")
            << QStringLiteral("09011112222") << kNone << false << qint64(31);
        QTest::newRow("telephone typed with full-width digits and minus signs")
            << QStringLiteral("０９０−１１１１−２２２２") << kNone << false << qint64(31);
        QTest::newRow("telephone typed with half-width ｰ") << QStringLiteral("06ｰ2222") << kNone << false << qint64(7);
        QTest::newRow("telephone stored with ー, typed with hyphens")
            << QStringLiteral("045-111-2222") << kNone << false << qint64(1500);
        QTest::newRow("telephone, a hyphen typed last") << QStringLiteral("06-") << qint64(3) << false << qint64(7);
        QTest::newRow("ー in a name is no number") << QStringLiteral("エービー") << kNone << false << qint64(12);
        QTest::newRow("nothing matches") << QStringLiteral("鈴木") << qint64(3) << false << kNone;
        QTest::newRow("nothing matches, backwards") << QStringLiteral("鈴木") << qint64(120) << true << kNone;
        QTest::newRow("digits in another order") << QStringLiteral("1500010") << kNone << false << kNone;
        QTest::newRow("only spaces is no search") << QStringLiteral("　") << kNone << false << kNone;
        QTest::newRow("emoji") << QStringLiteral("😀") << qint64(3) << false << kNone;
    }
    void findsRoundFromTheCurrentMember()
    {
        QFETCH(QString, text);
        QFETCH(qint64, from);
        QFETCH(bool, backwards);
        QFETCH(qint64, found);
        QVERIFY(f_->members().locate(QStringLiteral("id_no"), halvenna::FieldValue::integer(7)));
        // Steps of one row cross every batch boundary; big steps read the table at once.
        for (const int rows : {1, 2, 1000}) {
            MemberSearch search(f_->members());
            search.start(text, from == kNone ? std::nullopt : std::optional<qint64>(from), backwards);
            QCOMPARE(run(search, rows), found);
        }
        // Searching reads; it never moves the table.
        QCOMPARE(f_->members().fieldValue(QStringLiteral("id_no")).asInteger(), 7);
    }

    // An empty table, and a start member that has since been deleted.
    void emptyTableAndAStartThatWent()
    {
        MemberSearch search(f_->members());
        search.start(QStringLiteral("山田"), qint64(4), false);
        QCOMPARE(run(search, 1), qint64(31));
        search.start(QStringLiteral("山田"), qint64(500), false);
        QCOMPARE(run(search, 1), qint64(3));

        f_->members().emptyTable();
        search.start(QStringLiteral("山田"), std::nullopt, false);
        QCOMPARE(run(search, 10), kNone);
        search.start(QStringLiteral("山田"), qint64(3), true);
        QCOMPARE(run(search, 10), kNone);
    }
};

QTEST_GUILESS_MAIN(TestMemberSearch)
#include "tst_membersearch.moc"
