// A settings file that cannot be written, at the two moments the program writes it: when the main
// window goes at exit, and when the sender dialog is confirmed. Each time the standard error box
// names the file, the program goes on, and the file keeps every byte it had.
#include "app/Program.h"
#include "app/Sender.h"
#include "app/Startup.h"
#include "app/Top.h"
#include "common/ErrorBoxes.h"
#include "common/FaultTools.h"
#include "common/Seams.h"
#include "data/SjisText.h"
#include "gui/DbControls.h"
#include "gui/MessageBox.h"
#include "settings/SenderSettings.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using halvenna::MessageBox;

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A file another program wrote: other sections, CR LF, a key spelt differently, no final line end.
const QByteArray kBefore = "; written by hand\r\n[Other]\r\nKeep=1\r\n[main]\r\nsendername=" +
                           halvenna::sjis::fromUnicode(QStringLiteral("旧商店")) + "\r\nSenderZip=100-0001";

} // namespace

class TestSettingsFaults : public QObject
{
    Q_OBJECT

private:
    // What the main window and the sender dialog are given, as the shell gives it.
    halvenna::Program program_;
    std::unique_ptr<QTemporaryDir> dir_;
    QString ini() const { return dir_->filePath(QStringLiteral("Kelvaro.ini")); }
    QString folder() const { return dir_->path(); }
    QStringList entries() const
    {
        return QDir(folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

private Q_SLOTS:
    void initTestCase() { halvenna::installJapaneseFont(); }

    void init()
    {
        // Beside the test program rather than in /tmp: the immutable flag needs a file system that
        // has it, which a tmpfs /tmp does not.
        dir_ = std::make_unique<QTemporaryDir>(QCoreApplication::applicationDirPath() +
                                               QStringLiteral("/settingsfaults-XXXXXX"));
        QVERIFY(dir_->isValid());
        QFile f(ini());
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(kBefore), kBefore.size());
        f.close();
        seams::begin();
    }

    void cleanup()
    {
        delete SenderForm;
        delete TopForm;
        seams::end();
    }

    void saveFails_data()
    {
        QTest::addColumn<bool>("folderLocked"); // else the file itself
        QTest::addColumn<bool>("atExit");       // else at the sender dialog's OK
        QTest::newRow("file, at exit") << false << true;
        QTest::newRow("folder, at exit") << true << true;
        QTest::newRow("file, sender dialog OK") << false << false;
        QTest::newRow("folder, sender dialog OK") << true << false;
    }
    void saveFails()
    {
        QFETCH(bool, folderLocked);
        QFETCH(bool, atExit);

        new TTopForm(program_);
        program_.appDir = folder() + u'/';
        TopForm->LoadSenderSettings();
        QCOMPARE(program_.senderSettings.SenderName, halvenna::sjis::fromUnicode(QStringLiteral("旧商店")));
        TopForm->show();
        QVERIFY(QTest::qWaitForWindowExposed(TopForm));

        const QStringList entriesBefore = entries();
        faults::Unwritable locked(folderLocked ? folder() : ini());
        if (!locked.isSet())
            QSKIP(qPrintable(locked.why()));

        // What the box saw of the program when it came up.
        bool topVisibleAtBox = true;
        bool dialogVisibleAtBox = false;
        MessageBox::seam().answerWith([&](const MessageBox::Request&) {
            topVisibleAtBox = TopForm && TopForm->isVisible();
            dialogVisibleAtBox = SenderForm && SenderForm->isVisible();
            return QMessageBox::Ok;
        });

        halvenna::SenderSettingsData expectedInMemory;
        if (atExit) {
            program_.senderSettings.SenderTel = "03-9999-0000"; // a change that cannot reach the file
            expectedInMemory = program_.senderSettings;
            delete TopForm;
            QVERIFY(!TopForm);
        } else {
            new TSenderForm(program_);
            SenderForm->show();
            QVERIFY(QTest::qWaitForWindowExposed(SenderForm));
            auto* name = SenderForm->findChild<halvenna::FieldLineEdit*>(QStringLiteral("edSenderName"));
            name->setText(QStringLiteral("新商店"));
            QTest::mouseClick(SenderForm->findChild<QPushButton*>(QStringLiteral("btnOk")), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!SenderForm->isVisible(), 10000);
            QCOMPARE(SenderForm->result(), int(QDialog::Accepted));
            QVERIFY(dialogVisibleAtBox); // the box came while the dialog was still open
            expectedInMemory = program_.senderSettings;
            QCOMPARE(program_.senderSettings.SenderName, halvenna::sjis::fromUnicode(QStringLiteral("新商店")));
        }

        const auto asked = MessageBox::seam().requests();
        errorboxes::expectOne(asked, program_.appDir + QStringLiteral("Kelvaro.ini に書き込めません."));
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(asked.first().buttons, QStringList{QStringLiteral("OK")});
        if (atExit)
            QVERIFY(!topVisibleAtBox); // the main window was hidden first
        QVERIFY(program_.senderSettings == expectedInMemory);

        locked.undo();
        QCOMPARE(fileBytes(ini()), kBefore);
        QCOMPARE(entries(), entriesBefore); // no temporary file left behind

        // Writable again, the next save goes through: from the dialog at once, and at exit.
        if (TopForm) {
            TopForm->SaveSenderSettings();
            halvenna::SenderSettingsData reread;
            halvenna::loadSenderSettings(reread, ini());
            QVERIFY(reread == program_.senderSettings);
            QVERIFY(fileBytes(ini()).contains("[Other]\r\nKeep=1\r\n"));
        }
    }
};

QTEST_MAIN(TestSettingsFaults)
#include "tst_settingsfaults.moc"
