#include "app/AboutBox.h"
#include "app/Program.h"
#include "app/Startup.h"
#include "app/Top.h"
#include "common/Seams.h"
#include "gui/MessageBox.h"
#include "printing/Invoice.h"
#include "roster/MemberMaster.h"
#include "settings/SenderSettings.h"

#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using halvenna::MessageBox;

namespace {

QDialog* dialogNamed(const QString& name)
{
    if (name == u"InvoiceForm")
        return InvoiceForm;
    if (name == u"MemberMasterForm")
        return MemberMasterForm;
    return AboutBoxForm;
}

QWidget* child(const QString& name)
{
    return TopForm->findChild<QWidget*>(name);
}

QPoint inWindow(QWidget* w)
{
    return w->mapTo(w->window(), w->rect().center());
}

// A click as the window system delivers it, so that a modal window in front blocks it.
void systemClick(QWidget* w)
{
    QTest::mouseClick(w->window()->windowHandle(), Qt::LeftButton, {}, inWindow(w));
}

} // namespace

class TestTop : public QObject
{
    Q_OBJECT

private:
    // The program the windows are given, as the shell gives it.
    halvenna::Program program_;
    QTemporaryDir settingsDir_;
    QString appDirAfterCreate_;
    bool watchRan_ = false;
    bool blockedOpened_ = false;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(settingsDir_.isValid());
        halvenna::installJapaneseFont();
        // The main window opens the other two through the shell's handles.
        MemberMasterForm = new TMemberMasterForm(program_.dataModule, program_.appDir, program_.postalCodes);
        InvoiceForm =
            new TInvoiceForm(program_.dataModule, program_.senderSettings, program_.appDir, program_.fixedDates);
        new TAboutBoxForm(program_);
        new TTopForm(program_);
        appDirAfterCreate_ = program_.appDir;
        // Settings written by this test go to a folder of its own.
        program_.appDir = settingsDir_.path() + u'/';
        TopForm->show();
        QVERIFY(QTest::qWaitForWindowExposed(TopForm));
    }

    void cleanupTestCase()
    {
        const QString ini = settingsDir_.filePath(QStringLiteral("Kelvaro.ini"));
        QFile::remove(ini);
        delete TopForm;
        QVERIFY(!TopForm);
        // Destroying the main window saves the settings.
        QVERIFY(QFile::exists(ini));
        delete AboutBoxForm;
        delete InvoiceForm;
        InvoiceForm = nullptr;
        delete MemberMasterForm;
        MemberMasterForm = nullptr;
    }

    void init() { seams::begin(); }
    void cleanup()
    {
        QVERIFY(MessageBox::seam().requests().isEmpty());
        seams::end();
    }

    void createSetsAppDir() { QCOMPARE(appDirAfterCreate_, QCoreApplication::applicationDirPath() + u'/'); }

    void window()
    {
        QCOMPARE(TopForm->objectName(), QStringLiteral("TopForm"));
        QCOMPARE(TopForm->windowTitle(), QStringLiteral("送り状印刷"));
        const Qt::WindowFlags flags = TopForm->windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
        // Client area 327 x 234 below the menu bar; resizable.
        QCOMPARE(TopForm->width(), 327);
        QCOMPARE(TopForm->centralWidget()->size(), QSize(327, 234));
        QCOMPARE(TopForm->height(), 234 + TopForm->MainMenu1->height());
        QVERIFY(TopForm->minimumSize() != TopForm->maximumSize());
        QVERIFY(TopForm->windowIcon().availableSizes().contains(QSize(32, 32)));
    }

    void centredAtFirstShow()
    {
        const QPoint screenCentre = TopForm->screen()->availableGeometry().center();
        const QPoint windowCentre = TopForm->frameGeometry().center();
        QVERIFY2((screenCentre - windowCentre).manhattanLength() <= 2, qPrintable(QStringLiteral("%1,%2 vs %3,%4")
                                                                                      .arg(windowCentre.x())
                                                                                      .arg(windowCentre.y())
                                                                                      .arg(screenCentre.x())
                                                                                      .arg(screenCentre.y())));
    }

    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("Label1") << "Label1"
                                << "Halvennaシステム" << QRect(0, 0, 327, 49);
        QTest::newRow("btnKelvaro") << "btnKelvaro"
                                    << "Halvenna" << QRect(80, 72, 177, 49);
        QTest::newRow("btnMemberReg") << "btnMemberReg"
                                      << "名簿登録一覧" << QRect(80, 144, 177, 49);
    }

    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QRect, geometry);
        QWidget* w = child(name);
        QVERIFY(w);
        QCOMPARE(w->parentWidget(), TopForm->centralWidget());
        QCOMPARE(w->geometry(), geometry);
        if (auto* label = qobject_cast<QLabel*>(w)) {
            QCOMPARE(label->text(), text);
            QCOMPARE(label->alignment(), Qt::AlignCenter);
        } else {
            QCOMPARE(qobject_cast<QPushButton*>(w)->text(), text);
            QVERIFY(qobject_cast<QPushButton*>(w)->icon().isNull());
        }
    }

    void fonts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("pixelSize");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<QColor>("textColour");
        QTest::newRow("window") << "" << 12 << false << QColor();
        QTest::newRow("Label1") << "Label1" << 21 << true << QColor(0, 0, 255);
        QTest::newRow("btnKelvaro") << "btnKelvaro" << 12 << false << QColor();
        QTest::newRow("btnMemberReg") << "btnMemberReg" << 12 << false << QColor();
        QTest::newRow("MainMenu1") << "MainMenu1" << 12 << false << QColor();
    }

    // "ＭＳ Ｐゴシック" resolves to IPA P Gothic.
    void fonts()
    {
        QFETCH(QString, name);
        QFETCH(int, pixelSize);
        QFETCH(bool, bold);
        QFETCH(QColor, textColour);
        QWidget* w = name.isEmpty() ? TopForm : child(name);
        QVERIFY(w);
        QCOMPARE(w->font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
        const QFontInfo info(w->font());
        QCOMPARE(info.family(), QStringLiteral("IPAPGothic"));
        QCOMPARE(info.pixelSize(), pixelSize);
        QCOMPARE(info.bold(), bold);
        if (textColour.isValid())
            QCOMPARE(w->palette().color(QPalette::WindowText), textColour);
    }

    // Money green client area; the banner in the inactive caption text colour. Checked as drawn.
    void colours()
    {
        QWidget* client = TopForm->centralWidget();
        const QImage clientImage = client->grab().toImage();
        QCOMPARE(clientImage.pixelColor(5, 60), QColor(192, 220, 192));
        QCOMPARE(clientImage.pixelColor(320, 230), QColor(192, 220, 192));
        const QImage banner = TopForm->Label1->grab().toImage();
        QCOMPARE(banner.pixelColor(2, 2), QColor(212, 208, 200));
        QCOMPARE(banner.pixelColor(324, 46), QColor(212, 208, 200));
        // The banner's text is drawn in blue somewhere in its middle.
        bool blue = false;
        for (int x = 0; x < banner.width() && !blue; ++x)
            blue = banner.pixelColor(x, 24) == QColor(0, 0, 255);
        QVERIFY(blue);
    }

    // The banner follows the window's width; the buttons keep their places.
    void resizing()
    {
        const QSize original = TopForm->size();
        TopForm->resize(500, 400);
        QTRY_COMPARE(TopForm->Label1->geometry(), QRect(0, 0, 500, 49));
        QCOMPARE(TopForm->btnKelvaro->geometry(), QRect(80, 72, 177, 49));
        QCOMPARE(TopForm->btnMemberReg->geometry(), QRect(80, 144, 177, 49));
        TopForm->resize(original);
        QTRY_COMPARE(TopForm->Label1->geometry(), QRect(0, 0, 327, 49));
    }

    void menu()
    {
        auto* bar = TopForm->findChild<QMenuBar*>(QStringLiteral("MainMenu1"));
        QVERIFY(bar);
        auto action = [](const char* name) { return TopForm->findChild<QAction*>(QLatin1String(name)); };
        QCOMPARE(bar->actions(), (QList<QAction*>{action("N1"), action("N3")}));
        QCOMPARE(action("N1")->text(), QStringLiteral("ファイル"));
        QCOMPARE(action("N1")->menu()->actions(), QList<QAction*>{action("N2")});
        QCOMPARE(action("N2")->text(), QStringLiteral("終了"));
        QCOMPARE(action("N3")->text(), QStringLiteral("バージョン"));
        QCOMPARE(action("N3")->menu()->actions(), QList<QAction*>{action("N4")});
        QCOMPARE(action("N4")->text(), QStringLiteral("バージョン情報"));
    }

    void tabOrder()
    {
        TopForm->activateWindow();
        TopForm->btnKelvaro->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), TopForm->btnKelvaro);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), TopForm->btnMemberReg);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), TopForm->btnKelvaro);
    }

    void opensModally_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("blockedButton");
        QTest::newRow("btnKelvaro click") << "btnKelvaro"
                                          << "InvoiceForm"
                                          << "btnMemberReg";
        QTest::newRow("btnMemberReg click") << "btnMemberReg"
                                            << "MemberMasterForm"
                                            << "btnKelvaro";
        QTest::newRow("btnKelvaro Enter") << "btnKelvaro Enter"
                                          << "InvoiceForm"
                                          << "btnMemberReg";
        QTest::newRow("btnMemberReg Space") << "btnMemberReg Space"
                                            << "MemberMasterForm"
                                            << "btnKelvaro";
        QTest::newRow("N4") << "N4"
                            << "AboutBoxForm"
                            << "btnMemberReg";
    }

    // Each opens its window modally: while it is open the main window does not react.
    void opensModally()
    {
        QFETCH(QString, trigger);
        QFETCH(QString, dialog);
        QFETCH(QString, blockedButton);
        QDialog* expected = dialogNamed(dialog);
        QVERIFY(!expected->isVisible());

        QDialog* other = dialogNamed(blockedButton == u"btnKelvaro" ? QStringLiteral("InvoiceForm")
                                                                    : QStringLiteral("MemberMasterForm"));
        bool seen = false;
        bool wasModal = false;
        watchRan_ = false;
        blockedOpened_ = false;
        QTimer::singleShot(0, this, [&] {
            seen = true;
            wasModal = expected->isVisible() && QApplication::activeModalWidget() == expected;
            // A click on the main window's other button goes nowhere; should it open its window,
            // this closes it again.
            QTimer::singleShot(0, this, [this, other] {
                watchRan_ = true;
                if (other->isVisible()) {
                    blockedOpened_ = true;
                    other->done(QDialog::Rejected);
                }
            });
            systemClick(child(blockedButton));
            expected->done(QDialog::Rejected);
        });

        if (trigger == u"N4") {
            TopForm->N4->trigger();
        } else if (trigger.endsWith(u" Enter") || trigger.endsWith(u" Space")) {
            QWidget* button = child(trigger.section(u' ', 0, 0));
            button->setFocus();
            QTest::keyClick(button, trigger.endsWith(u" Enter") ? Qt::Key_Return : Qt::Key_Space);
        } else {
            systemClick(child(trigger));
        }
        QTRY_VERIFY(seen);
        QTRY_VERIFY(watchRan_);
        QVERIFY(wasModal);
        QVERIFY(!blockedOpened_);
        QVERIFY(!expected->isVisible());
        QVERIFY(!QApplication::activeModalWidget());
    }

    // The menu works from the keyboard alone: Alt, then the arrows and Enter.
    void menuFromKeyboard()
    {
        TopForm->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(TopForm));
        bool aboutShown = false;
        QTimer::singleShot(0, this, [&] {
            aboutShown = QApplication::activeModalWidget() == AboutBoxForm;
            AboutBoxForm->done(QDialog::Accepted);
        });
        QTest::keyClick(TopForm, Qt::Key_Alt);
        QTRY_COMPARE(QApplication::focusWidget(), TopForm->MainMenu1);
        QTest::keyClick(TopForm->MainMenu1, Qt::Key_Right);
        QCOMPARE(TopForm->MainMenu1->activeAction(), TopForm->N3);
        QTest::keyClick(TopForm->MainMenu1, Qt::Key_Down);
        QTRY_VERIFY(QApplication::activePopupWidget());
        QCOMPARE(qobject_cast<QMenu*>(QApplication::activePopupWidget())->activeAction(), TopForm->N4);
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Return);
        QTRY_VERIFY(aboutShown);
        QVERIFY(!AboutBoxForm->isVisible());
    }

    // Load and save use Kelvaro.ini in the program's folder.
    void settingsFile()
    {
        QFile file(settingsDir_.filePath(QStringLiteral("Kelvaro.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Main]\r\nSenderName=\x8e\x52\x93\x63\r\nAccountNo1=00120\r\n");
        file.close();
        program_.senderSettings = {};
        TopForm->LoadSenderSettings();
        QCOMPARE(program_.senderSettings.SenderName, QByteArray("\x8e\x52\x93\x63"));
        QCOMPARE(program_.senderSettings.AccountNo1, QByteArray("00120"));
        QCOMPARE(program_.senderSettings.SenderTel, QByteArray());

        program_.senderSettings.SenderTel = "03-1234-5678";
        TopForm->SaveSenderSettings();
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray saved = file.readAll();
        QVERIFY2(saved.contains("SenderTel=03-1234-5678\r\n"), saved.constData());
        QVERIFY(saved.contains("SenderName=\x8e\x52\x93\x63\r\n"));
        program_.senderSettings = {};
    }

    // "終了" closes the main window.
    void exitItem()
    {
        QVERIFY(TopForm->isVisible());
        TopForm->N2->trigger();
        QVERIFY(!TopForm->isVisible());
    }
};

QTEST_MAIN(TestTop)
#include "tst_top.moc"
