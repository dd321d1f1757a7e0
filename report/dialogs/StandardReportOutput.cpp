#include "report/dialogs/StandardReportOutput.h"

#include "data/Error.h"
#include "report/dialogs/ReportPreview.h"
#include "report/dialogs/ReportStatusDialog.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QPrintDialog>
#include <QPrinter>

#include <deque>

namespace halvenna {

namespace {

std::deque<StandardReportOutput::OptionsAnswer>& optionsAnswers()
{
    static std::deque<StandardReportOutput::OptionsAnswer> answers;
    return answers;
}

std::deque<std::function<bool(QPrinter&)>>& printSetupAnswers()
{
    static std::deque<std::function<bool(QPrinter&)>> answers;
    return answers;
}

std::deque<QString>& fileNameAnswers()
{
    static std::deque<QString> answers;
    return answers;
}

template <typename T> std::optional<T> takeFirst(std::deque<T>& queue)
{
    if (queue.empty())
        return std::nullopt;
    T first = std::move(queue.front());
    queue.pop_front();
    return first;
}

QWidget* dialogParent()
{
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}

} // namespace

StandardReportOutput::StandardReportOutput() = default;
StandardReportOutput::~StandardReportOutput() = default;

QPrinter& StandardReportOutput::printer()
{
    if (!printer_)
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *printer_;
}

OutputChoice StandardReportOutput::offered(const ReportDocument& document) const
{
    OutputChoice c;
    c.destination = OutputChoice::Destination::Preview;
    c.copies = 1;
    c.fileName =
        !lastFile_.isEmpty() ? lastFile_ : QDir(QDir::homePath()).filePath(document.title() + QStringLiteral(".pdf"));
    return c;
}

void StandardReportOutput::output(const ReportDocument& document)
{
    QWidget* parent = dialogParent();
    const std::optional<OutputChoice> choice = askOptions(document, parent);
    if (!choice)
        return;
    switch (choice->destination) {
    case OutputChoice::Destination::Preview: {
        ReportPreview preview(document, parent);
        preview.print = [this, &document](QWidget* from) { printFromPreview(document, from); };
        preview.exec();
        break;
    }
    case OutputChoice::Destination::File:
        writeFile(document, choice->fileName, parent);
        break;
    case OutputChoice::Destination::Printer:
        printDocument(document, 0, document.pageCount() - 1, choice->copies, parent);
        break;
    }
}

std::optional<OutputChoice> StandardReportOutput::askOptions(const ReportDocument& document, QWidget* parent)
{
    const OutputChoice offer = offered(document);
    if (std::optional<OptionsAnswer> answer = takeFirst(optionsAnswers()))
        return (*answer)(offer);
    OutputOptionsDialog dialog(offer, document.title(), document.pageCount(), parent);
    dialog.printerSetup = [this, &document](QWidget* from) { setUpPrinter(from, document.pageCount()); };
    dialog.chooseFile = [this](QWidget* from, const QString& current) { return chooseFile(from, current); };
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.choice();
}

bool StandardReportOutput::setUpPrinter(QWidget* parent, int pageCount)
{
    if (std::optional<std::function<bool(QPrinter&)>> answer = takeFirst(printSetupAnswers()))
        return (*answer)(printer());
    QPrintDialog dialog(&printer(), parent);
    dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintPageRange |
                      QAbstractPrintDialog::PrintShowPageSize);
    dialog.setMinMax(1, qMax(1, pageCount));
    return dialog.exec() == QDialog::Accepted;
}

QString StandardReportOutput::chooseFile(QWidget* parent, const QString& current)
{
    if (std::optional<QString> answer = takeFirst(fileNameAnswers()))
        return *answer;
    QFileDialog dialog(parent, QStringLiteral("Save Report As"), current, QStringLiteral("PDF (*.pdf)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("pdf"));
    if (!current.isEmpty())
        dialog.selectFile(current);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

void StandardReportOutput::printFromPreview(const ReportDocument& document, QWidget* parent)
{
    QPrinter& p = printer();
    p.setPrintRange(QPrinter::AllPages);
    if (!setUpPrinter(parent, document.pageCount()))
        return;
    int from = 0;
    int to = document.pageCount() - 1;
    if (p.printRange() == QPrinter::PageRange && p.fromPage() > 0) {
        from = p.fromPage() - 1;
        to = qMin(to, p.toPage() - 1);
    }
    printDocument(document, from, to, p.copyCount(), parent);
}

bool StandardReportOutput::printDocument(const ReportDocument& document, int from, int to, int copies, QWidget* parent)
{
    if (document.pageCount() == 0 || to < from)
        return true; // nothing to print; a blank sheet would be wasted
    QPrinter& p = printer();
    if (p.outputFormat() == QPrinter::NativeFormat && p.printerName().isEmpty())
        throw Error(QStringLiteral("プリンタがありません。プリンタを設定してから印刷してください"));
    p.setFullPage(true);
    p.setDocName(document.title());
    // Where the printer makes the copies itself, one pass is enough; elsewhere each copy is sent.
    p.setCopyCount(copies);
    int passes = 1;
    if (!p.supportsMultipleCopies()) {
        p.setCopyCount(1);
        passes = copies;
    }
    const QString destination = p.outputFileName().isEmpty() ? p.printerName() : p.outputFileName();
    ReportStatusDialog status(document.title(), destination, parent);
    status.start();
    return document.print(p, from, to, passes, [&](int done, int total) {
        if (status.step(done, total))
            return true;
        p.abort();
        return false;
    });
}

bool StandardReportOutput::writeFile(const ReportDocument& document, const QString& fileName, QWidget* parent)
{
    ReportStatusDialog status(document.title(), fileName, parent);
    status.start();
    const bool finished = document.writePdf(fileName, [&](int done, int total) { return status.step(done, total); });
    if (finished)
        lastFile_ = fileName;
    return finished;
}

void StandardReportOutput::setNextOptions(std::optional<OutputChoice> choice)
{
    optionsAnswers().push_back([choice](const OutputChoice&) { return choice; });
}

void StandardReportOutput::setNextOptions(OptionsAnswer answer)
{
    optionsAnswers().push_back(std::move(answer));
}

void StandardReportOutput::setNextPrintSetup(std::function<bool(QPrinter&)> answer)
{
    printSetupAnswers().push_back(std::move(answer));
}

void StandardReportOutput::setNextFileName(const QString& fileName)
{
    fileNameAnswers().push_back(fileName);
}

int StandardReportOutput::pendingAnswers()
{
    return int(optionsAnswers().size() + printSetupAnswers().size() + fileNameAnswers().size());
}

void StandardReportOutput::clearAnswers()
{
    optionsAnswers().clear();
    printSetupAnswers().clear();
    fileNameAnswers().clear();
}

} // namespace halvenna
