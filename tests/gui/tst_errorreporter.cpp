#include "common/ErrorBoxes.h"
#include "common/Seams.h"
#include "data/Error.h"
#include "data/sql/SqlConnection.h"
#include "gui/ErrorReporter.h"
#include "gui/MessageBox.h"

#include <QAction>
#include <QPushButton>
#include <QtTest>

#include <functional>
#include <stdexcept>

using halvenna::MessageBox;

using Thrower = std::function<void()>;
Q_DECLARE_METATYPE(Thrower)

namespace {

// A window with one handler per user action, as the program's windows have them.
class Window : public QWidget
{
public:
    Window()
    {
        button = new QPushButton(QStringLiteral("押す"), this);
        action = new QAction(QStringLiteral("実行"), this);
        halvenna::connectGuarded(button, &QPushButton::clicked, this, &Window::buttonClick);
        halvenna::connectGuarded(action, &QAction::triggered, this, [this] { ++actionRuns; });
    }
    void buttonClick()
    {
        ++buttonRuns;
        if (fail)
            fail();
    }

    QPushButton* button;
    QAction* action;
    Thrower fail;
    int buttonRuns = 0;
    int actionRuns = 0;
};

} // namespace

class TestErrorReporter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { seams::begin(); }
    void cleanup() { seams::end(); }

    // A failure met again while its box is up (every window reading a lost server fails at once)
    // is not stacked: one box; once it is answered, the next failure has its own box. A different
    // failure meanwhile still shows.
    void theSameFailureWhileItsBoxIsUpShowsOnce()
    {
        using halvenna::sql::EngineError;
        using halvenna::sql::Failure;
        const EngineError lost(QStringLiteral("tbMemberMaster: サーバー db/halvenna に接続できません (closed)"),
                               Failure::Unreachable, QString());
        const EngineError lostToo(QStringLiteral("tbContents: サーバー db/halvenna に接続できません (refused)"),
                                  Failure::Unreachable, QString());
        const halvenna::Error other(QStringLiteral("別のエラー"));
        MessageBox::seam().answerWith([&](const MessageBox::Request&) {
            halvenna::reportError(lost);    // the same box is up: dropped
            halvenna::reportError(lostToo); // the same failure from another table: dropped
            halvenna::reportError(other);   // shown
            return QMessageBox::Ok;
        });
        MessageBox::seam().answer(QMessageBox::Ok);
        halvenna::reportError(lost);
        MessageBox::seam().answer(QMessageBox::Ok);
        halvenna::reportError(lostToo); // answered before: shown again
        const auto asked = MessageBox::seam().requests();
        QCOMPARE(asked.size(), 3);
        QCOMPARE(asked.at(0).text, QStringLiteral("tbMemberMaster: サーバー db/halvenna に接続できません (closed)"));
        QCOMPARE(asked.at(1).text, QStringLiteral("別のエラー."));
        QCOMPARE(asked.at(2).text, QStringLiteral("tbContents: サーバー db/halvenna に接続できません (refused)"));
    }

    void guardedReports_data()
    {
        QTest::addColumn<Thrower>("action");
        QTest::addColumn<QString>("shown");
        QTest::newRow("our error") << Thrower([] { throw halvenna::Error(QStringLiteral("テーブルが開けません")); })
                                   << "テーブルが開けません.";
        QTest::newRow("database error") << Thrower([] {
            throw halvenna::DatabaseError(QStringLiteral("disk I/O error"));
        }) << "disk I/O error.";
        QTest::newRow("library error") << Thrower([] { throw std::runtime_error("bad things"); }) << "bad things.";
        QTest::newRow("not an exception") << Thrower([] { throw 42; }) << "不明なエラーが発生しました.";
    }

    // Whatever a guarded action throws ends in exactly one standard error box.
    void guardedReports()
    {
        QFETCH(Thrower, action);
        QFETCH(QString, shown);
        MessageBox::seam().answer(QMessageBox::Ok);
        halvenna::guarded(action);
        errorboxes::expectOne(MessageBox::seam().requests(), shown);
    }

    void guardedSilentOnSuccess()
    {
        int runs = 0;
        halvenna::guarded([&] { ++runs; });
        QCOMPARE(runs, 1);
        QVERIFY(MessageBox::seam().requests().isEmpty());
    }

    // A click whose handler throws shows the box and leaves the window working.
    void connectedHandler()
    {
        Window w;
        w.fail = [] { throw halvenna::Error(QStringLiteral("C:/data に書き込めません")); };
        MessageBox::seam().answer(QMessageBox::Ok);
        QTest::mouseClick(w.button, Qt::LeftButton);
        QCOMPARE(w.buttonRuns, 1);
        QCOMPARE(MessageBox::seam().requests().size(), 1);
        QCOMPARE(MessageBox::seam().requests()[0].text, QStringLiteral("C:/data に書き込めません."));

        w.fail = nullptr;
        QTest::mouseClick(w.button, Qt::LeftButton);
        w.action->trigger();
        QCOMPARE(w.buttonRuns, 2);
        QCOMPARE(w.actionRuns, 1);
        QCOMPARE(MessageBox::seam().requests().size(), 1);
    }

    void applicationErrorText_data()
    {
        QTest::addColumn<Thrower>("action");
        QTest::addColumn<QString>("text");
        QTest::newRow("our error") << Thrower([] { throw halvenna::Error(QStringLiteral("作れません")); })
                                   << "halvenna::Error: 作れません.";
        QTest::newRow("database error") << Thrower([] { throw halvenna::DatabaseError(QStringLiteral("locked")); })
                                        << "halvenna::DatabaseError: locked.";
        QTest::newRow("library error") << Thrower([] { throw std::bad_alloc(); }) << "std::bad_alloc: std::bad_alloc.";
    }

    // The start-up failure text names the kind of error and gives its message.
    void applicationErrorText()
    {
        QFETCH(Thrower, action);
        QFETCH(QString, text);
        try {
            action();
            QFAIL("nothing thrown");
        } catch (const std::exception& e) {
            QCOMPARE(halvenna::applicationErrorText(e), text);
        }
    }
};

QTEST_MAIN(TestErrorReporter)
#include "tst_errorreporter.moc"
