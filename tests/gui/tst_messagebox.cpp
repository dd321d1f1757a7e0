#include "common/ErrorBoxes.h"
#include "common/Seams.h"
#include "data/Error.h"
#include "gui/ErrorReporter.h"
#include "gui/MessageBox.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using halvenna::MessageBox;

Q_DECLARE_METATYPE(QMessageBox::Icon)
Q_DECLARE_METATYPE(QMessageBox::StandardButton)

namespace {

enum class Kind { Error, Confirm, ConfirmOkCancel, ApplicationError };

// Asks for one box of the given kind; returns what the caller learns (true for yes/OK).
bool ask(Kind kind, const QString& text)
{
    switch (kind) {
    case Kind::Error:
        MessageBox::showError(text);
        return true;
    case Kind::Confirm:
        return MessageBox::confirm(text);
    case Kind::ConfirmOkCancel:
        return MessageBox::confirmOkCancel(text);
    case Kind::ApplicationError:
        MessageBox::showApplicationError(text);
        return true;
    }
    return false;
}

} // namespace

Q_DECLARE_METATYPE(Kind)

class TestMessageBox : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { seams::begin(); }
    void cleanup() { seams::end(); }

    void boxAsked_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QMessageBox::Icon>("icon");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QMessageBox::StandardButton>("defaultButton");
        QTest::addColumn<QMessageBox::StandardButton>("escapeButton");
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::addColumn<bool>("result");

        QTest::newRow("error") << Kind::Error << "Halvenna" << QMessageBox::Critical << QStringList{"OK"}
                               << QMessageBox::Ok << QMessageBox::Ok << QMessageBox::Ok << true;
        QTest::newRow("confirm yes") << Kind::Confirm << "警告" << QMessageBox::Warning
                                     << QStringList{"はい(&Y)", "いいえ(&N)"} << QMessageBox::Yes << QMessageBox::No
                                     << QMessageBox::Yes << true;
        QTest::newRow("confirm no") << Kind::Confirm << "警告" << QMessageBox::Warning
                                    << QStringList{"はい(&Y)", "いいえ(&N)"} << QMessageBox::Yes << QMessageBox::No
                                    << QMessageBox::No << false;
        QTest::newRow("ok/cancel ok") << Kind::ConfirmOkCancel << "確認" << QMessageBox::Question
                                      << QStringList{"OK", "キャンセル"} << QMessageBox::Ok << QMessageBox::Cancel
                                      << QMessageBox::Ok << true;
        QTest::newRow("ok/cancel cancel")
            << Kind::ConfirmOkCancel << "確認" << QMessageBox::Question << QStringList{"OK", "キャンセル"}
            << QMessageBox::Ok << QMessageBox::Cancel << QMessageBox::Cancel << false;
        QTest::newRow("start-up failure")
            << Kind::ApplicationError << "アプリケーション エラー" << QMessageBox::Critical << QStringList{"OK"}
            << QMessageBox::Ok << QMessageBox::Ok << QMessageBox::Ok << true;
    }

    // The seam answers the box without showing it and records exactly what was asked.
    void boxAsked()
    {
        QFETCH(Kind, kind);
        QFETCH(QString, caption);
        QFETCH(QMessageBox::Icon, icon);
        QFETCH(QStringList, buttons);
        QFETCH(QMessageBox::StandardButton, defaultButton);
        QFETCH(QMessageBox::StandardButton, escapeButton);
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(bool, result);

        const QString text = QStringLiteral("会員 12 を削除しますか?");
        MessageBox::seam().answer(answer);
        QCOMPARE(ask(kind, text), result);

        const auto asked = MessageBox::seam().requests();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].caption, caption);
        QCOMPARE(asked[0].text, text);
        QCOMPARE(asked[0].icon, icon);
        QCOMPARE(asked[0].buttons, buttons);
        QCOMPARE(asked[0].defaultButton, defaultButton);
        QCOMPARE(asked[0].escapeButton, escapeButton);
    }

    // Answers queue up and are used in order; an answer function sees the box it answers.
    void answersQueue()
    {
        QString seen;
        MessageBox::seam().answer(QMessageBox::No);
        MessageBox::seam().answerWith([&seen](const MessageBox::Request& r) {
            seen = r.caption + u'|' + r.text;
            return QMessageBox::Ok;
        });
        QVERIFY(!MessageBox::confirm(QStringLiteral("一")));
        QCOMPARE(MessageBox::seam().pendingAnswers(), 1);
        QVERIFY(MessageBox::confirmOkCancel(QStringLiteral("二")));
        QCOMPARE(seen, QStringLiteral("確認|二"));
        QCOMPARE(MessageBox::seam().requests().size(), 2);
    }

    void realBox_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QString>("defaultText");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QMessageBox::Icon>("icon");

        const QStringList yesNo{"はい(&Y)", "いいえ(&N)"};
        const QStringList okCancel{"OK", "キャンセル"};
        QTest::newRow("confirm Return") << Kind::Confirm << int(Qt::Key_Return) << "警告" << yesNo << "はい(&Y)" << true
                                        << QMessageBox::Warning;
        QTest::newRow("confirm Escape") << Kind::Confirm << int(Qt::Key_Escape) << "警告" << yesNo << "はい(&Y)"
                                        << false << QMessageBox::Warning;
        QTest::newRow("ok/cancel Return") << Kind::ConfirmOkCancel << int(Qt::Key_Return) << "確認" << okCancel << "OK"
                                          << true << QMessageBox::Question;
        QTest::newRow("ok/cancel Escape") << Kind::ConfirmOkCancel << int(Qt::Key_Escape) << "確認" << okCancel << "OK"
                                          << false << QMessageBox::Question;
        QTest::newRow("error Return") << Kind::Error << int(Qt::Key_Return) << "Halvenna" << QStringList{"OK"} << "OK"
                                      << true << QMessageBox::Critical;
        QTest::newRow("error Escape") << Kind::Error << int(Qt::Key_Escape) << "Halvenna" << QStringList{"OK"} << "OK"
                                      << true << QMessageBox::Critical;
    }

    // With no answer queued the real box is shown: its caption, text, buttons, default button and Esc.
    void realBox()
    {
        QFETCH(Kind, kind);
        QFETCH(int, key);
        QFETCH(QString, caption);
        QFETCH(QStringList, buttons);
        QFETCH(QString, defaultText);
        QFETCH(bool, result);
        QFETCH(QMessageBox::Icon, icon);

        const QString text = QStringLiteral("テスト <b>本文</b>");
        QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
        bool inspected = false;
        QString shownTitle, shownText, shownDefault;
        QStringList shownButtons;
        QTimer::singleShot(0, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            QVERIFY(box->isVisible());
            shownTitle = box->windowTitle();
            shownIcon = box->icon();
            shownText = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))->text();
            for (QAbstractButton* b : box->buttons())
                shownButtons.append(b->text());
            shownDefault = box->defaultButton() ? box->defaultButton()->text() : QString();
            inspected = true;
            QTest::keyClick(box, Qt::Key(key));
        });
        QCOMPARE(ask(kind, text), result);
        QVERIFY(inspected);
        QCOMPARE(shownTitle, caption);
        QCOMPARE(shownIcon, icon);
        QCOMPARE(shownText, text);
        shownButtons.sort();
        buttons.sort();
        QCOMPARE(shownButtons, buttons);
        QCOMPARE(shownDefault, defaultText);
        QVERIFY(!QApplication::activeModalWidget());
    }

    // The standard error box's text is the error's message followed by "." unless the message is
    // empty or ends with a single-byte character at or below ".".
    void errorText_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("ends with .") << "保存できません."
                                     << "保存できません.";
        QTest::newRow("ends with ?") << "本当ですか?"
                                     << "本当ですか?.";
        QTest::newRow("ends with Japanese") << "C:/x に書き込めません"
                                            << "C:/x に書き込めません.";
        QTest::newRow("ends with a space") << "値が不正です "
                                           << "値が不正です ";
        QTest::newRow("ends with a line break") << "一行目\n"
                                                << "一行目\n";
        QTest::newRow("ends with -") << "番号 12-"
                                     << "番号 12-";
        QTest::newRow("ends with /") << "フォルダ /tmp/"
                                     << "フォルダ /tmp/.";
        QTest::newRow("ends with a digit") << "項目 3"
                                           << "項目 3.";
        QTest::newRow("ends with half-width katakana") << "ｶﾅ"
                                                       << "ｶﾅ.";
        QTest::newRow("ends with full-width stop") << "終わり。"
                                                   << "終わり。.";
    }

    void errorText()
    {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        MessageBox::seam().answer(QMessageBox::Ok);
        halvenna::reportError(halvenna::Error(message));
        errorboxes::expectOne(MessageBox::seam().requests(), shown);
    }
};

QTEST_MAIN(TestMessageBox)
#include "tst_messagebox.moc"
