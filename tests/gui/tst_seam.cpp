// The one pattern of every modal question: answers queued in order (fixed or computed from the
// request), the dialog shown when none is queued, requests kept only while a test records, and
// answers nobody asked for found by name. Also the save dialog of a report, which goes through the
// same file-dialog seam as opening a roster file.
#include "common/Seams.h"
#include "gui/Beep.h"
#include "gui/FileDialog.h"
#include "gui/MessageBox.h"
#include "gui/Seam.h"

#include <QFileDialog>
#include <QTimer>
#include <QtTest>

using halvenna::Seam;
using halvenna::SeamBase;

namespace {

struct Question
{
    QString text;
};

} // namespace

class TestSeam : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { seams::begin(); }
    void cleanup() { seams::end(); }

    void answersInOrderThenTheDialog()
    {
        QStringList shown;
        QWidget* shownParent = nullptr;
        Seam<Question, int> seam(QStringLiteral("Question"), [&](const Question& q, QWidget* parent) {
            shown << q.text;
            shownParent = parent;
            return -1;
        });
        QWidget parent;
        seam.answer(7);
        seam.answerWith([](const Question& q) { return int(q.text.size()); });
        QCOMPARE(seam.pendingAnswers(), 2);

        QCOMPARE(seam.ask({QStringLiteral("一")}, &parent), 7);
        QCOMPARE(seam.ask({QStringLiteral("二つの")}, &parent), 3);
        QVERIFY(shown.isEmpty());
        // Nothing queued: the dialog itself, with the parent it was asked with.
        QCOMPARE(seam.ask({QStringLiteral("三")}, &parent), -1);
        QCOMPARE(shown, QStringList{QStringLiteral("三")});
        QCOMPARE(shownParent, &parent);

        QCOMPARE(seam.pendingAnswers(), 0);
        QCOMPARE(seam.requests().size(), 3);
        QCOMPARE(seam.requests().at(1).text, QStringLiteral("二つの"));
    }

    // The program keeps no list of what it asked: only a recording test does.
    void nothingIsKeptUnlessATestRecords()
    {
        SeamBase::setRecording(false);
        halvenna::MessageBox::seam().answer(QMessageBox::Ok);
        halvenna::MessageBox::showError(QStringLiteral("記録されない"));
        QVERIFY(halvenna::MessageBox::seam().requests().isEmpty());
        QCOMPARE(halvenna::MessageBox::seam().pendingAnswers(), 0);

        SeamBase::setRecording(true);
        halvenna::MessageBox::seam().answer(QMessageBox::Ok);
        halvenna::MessageBox::showError(QStringLiteral("記録される"));
        QCOMPARE(halvenna::MessageBox::seam().requests().size(), 1);
        QCOMPARE(halvenna::MessageBox::seam().requests().first().text, QStringLiteral("記録される"));
    }

    // An answer queued and never asked for is found, named after its seam; ending clears every seam.
    void unusedAnswersAreFoundByName()
    {
        Seam<Question, int> seam(QStringLiteral("Question"), [](const Question&, QWidget*) { return 0; });
        QVERIFY(SeamBase::all().contains(&seam));
        QCOMPARE(seams::unusedAnswers(), QStringList());
        seam.answer(1);
        seam.answer(2);
        halvenna::FileDialog::seam().answer(QStringLiteral("/tmp/x.csv"));
        QCOMPARE(seams::unusedAnswers(), (QStringList{QStringLiteral("FileDialog: 1"), QStringLiteral("Question: 2")}));
        QCOMPARE(seam.ask({}), 1);
        QCOMPARE(seams::unusedAnswers(), (QStringList{QStringLiteral("FileDialog: 1"), QStringLiteral("Question: 1")}));
        for (SeamBase* s : SeamBase::all())
            s->reset();
        QCOMPARE(seams::unusedAnswers(), QStringList());
        QVERIFY(seam.requests().isEmpty());
    }

    void aSeamGoneIsNoLongerListed()
    {
        const qsizetype before = SeamBase::all().size();
        {
            Seam<Question, int> seam(QStringLiteral("Short-lived"), [](const Question&, QWidget*) { return 0; });
            QCOMPARE(SeamBase::all().size(), before + 1);
        }
        QCOMPARE(SeamBase::all().size(), before);
    }

    // A question without an answer value (the beep of a refused key) is answered by a function.
    void aQuestionWithoutAnswerValue()
    {
        int silenced = 0;
        halvenna::Beep::seam().answerWith([&](const halvenna::Beep::Request&) { ++silenced; });
        QWidget control;
        control.setObjectName(QStringLiteral("edSenderTel"));
        halvenna::Beep::sound(&control);
        QCOMPARE(silenced, 1);
        QCOMPARE(halvenna::Beep::seam().requests().size(), 1);
        QCOMPARE(halvenna::Beep::seam().requests().first().control, QStringLiteral("edSenderTel"));
    }

    // Saving a file shows Qt's own save dialog (so that it speaks Japanese), the file preselected.
    void saveDialogShownForReal()
    {
        QTemporaryDir dir;
        const QString current = dir.filePath(QStringLiteral("送り状.pdf"));
        bool seen = false;
        bool save = false;
        bool qtOwn = false;
        QString suffix;
        QString caption;
        QTimer::singleShot(0, this, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            seen = dialog->objectName() == u"SaveReportAs";
            save = dialog->acceptMode() == QFileDialog::AcceptSave;
            qtOwn = dialog->testOption(QFileDialog::DontUseNativeDialog);
            suffix = dialog->defaultSuffix();
            caption = dialog->windowTitle();
            static_cast<QDialog*>(dialog)->accept();
        });
        const QString chosen = halvenna::FileDialog::getSaveFileName(
            nullptr, QStringLiteral("SaveReportAs"), QStringLiteral("Save Report As"), current,
            QStringLiteral("PDF (*.pdf)"), QStringLiteral("pdf"));
        QVERIFY(seen);
        QVERIFY(save);
        QVERIFY(qtOwn);
        QCOMPARE(suffix, QStringLiteral("pdf"));
        QCOMPARE(caption, QStringLiteral("Save Report As"));
        QCOMPARE(chosen, current);
        const auto asked = halvenna::FileDialog::seam().requests();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().mode, halvenna::FileDialog::Mode::Save);
        QCOMPARE(asked.first().directory, current);
    }
};

QTEST_MAIN(TestSeam)
#include "tst_seam.moc"
