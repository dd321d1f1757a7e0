#include "report/dialogs/StandardReportOutput.h"

#include "data/Error.h"
#include "gui/FileDialog.h"
#include "gui/MessageBox.h"
#include "gui/PrintSetup.h"
#include "report/dialogs/ReportPreview.h"
#include "report/dialogs/ReportStatusDialog.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPageSize>
#include <QPrinter>
#include <QPrinterInfo>

namespace halvenna {

namespace {

QWidget* dialogParent()
{
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}

} // namespace

StandardReportOutput::StandardReportOutput(QString settingsFile)
    : offsets([settingsFile](const QString& form, const QString& printer) {
          return FormFitting::load(settingsFile).offset(form, printer);
      }),
      backgrounds([settingsFile](const QString& form) { return FormFitting::load(settingsFile).background(form); }),
      settingsFile_(std::move(settingsFile))
{}
StandardReportOutput::~StandardReportOutput() = default;

QPrinter& StandardReportOutput::printer()
{
    if (!printer_)
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *printer_;
}

QStringList StandardReportOutput::misfitLines(const ReportDocument& document)
{
    QStringList lines;
    for (const ReportDocument::Misfit& m : document.misfits()) {
        const QString member = m.memberNo.isEmpty() ? QString() : QStringLiteral(" (ID %1)").arg(m.memberNo);
        lines << QStringLiteral("%1 枚目%2: %3").arg(m.sheet + 1).arg(member, m.items.join(QStringLiteral("、")));
    }
    return lines;
}

OutputChoice StandardReportOutput::offered(const ReportDocument& document) const
{
    OutputChoice c;
    c.destination = offerNext_.value_or(OutputChoice::Destination::Preview);
    c.copies = 1;
    c.fileName =
        !lastFile_.isEmpty() ? lastFile_ : QDir(QDir::homePath()).filePath(document.title() + QStringLiteral(".pdf"));
    return c;
}

void StandardReportOutput::output(const ReportDocument& document)
{
    QWidget* parent = dialogParent();
    // A page range counts for the output whose Setup chose it: one left from an earlier output would
    // leave sheets out unasked.
    if (printer_)
        printer_->setPrintRange(QPrinter::AllPages);
    OutputChoice offer = offered(document);
    offerNext_.reset();
    const QStringList misfits = misfitLines(document);
    std::optional<OutputChoice> choice;
    for (;;) {
        choice = optionsSeam().ask({offer, document.title(), document.pageCount(), misfits, this}, parent);
        if (!choice)
            return;
        // The name offered is often the last file's: a file that is there is replaced only once the
        // user says so, and "No" goes back to the options to choose another name.
        if (choice->destination != OutputChoice::Destination::File || choice->replaceConfirmed ||
            !QFileInfo(choice->fileName).isFile() || MessageBox::confirmReplace(choice->fileName, parent))
            break;
        offer = *choice;
    }
    switch (choice->destination) {
    case OutputChoice::Destination::Preview: {
        ReportPreview preview(document, parent);
        if (const FormBackground background = backgrounds(document.title()); background.isSet())
            preview.setBackground(background);
        preview.backgroundPlaced = [this, form = document.title()](const FormBackground& placed) {
            FormFitting::saveBackground(settingsFile_, form, placed);
        };
        preview.print = [this](QWidget* from, const ReportDocument& shown) { printFromPreview(shown, from); };
        preview.exec();
        break;
    }
    case OutputChoice::Destination::File:
        writeFile(document, choice->fileName, parent);
        break;
    case OutputChoice::Destination::Printer: {
        const auto [from, to] = pagesChosen(document.pageCount());
        printDocument(document, from, to, choice->copies, parent);
        break;
    }
    }
}

Seam<StandardReportOutput::OptionsRequest, std::optional<OutputChoice>>& StandardReportOutput::optionsSeam()
{
    static Seam<OptionsRequest, std::optional<OutputChoice>> seam(QStringLiteral("OutputOptions"), showOptions);
    return seam;
}

std::optional<OutputChoice> StandardReportOutput::showOptions(const OptionsRequest& r, QWidget* parent)
{
    OutputOptionsDialog dialog(r.offered, r.title, r.pageCount, r.misfits, parent);
    StandardReportOutput* output = r.output;
    const int pageCount = r.pageCount;
    dialog.printerSetup = [output, pageCount](QWidget* from, int copies) -> std::optional<int> {
        QPrinter& p = output->printer();
        p.setCopyCount(copies);
        if (!output->setUpPrinter(from, pageCount))
            return std::nullopt;
        return p.copyCount();
    };
    dialog.chooseFile = [output](QWidget* from, const QString& current) { return output->chooseFile(from, current); };
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.choice();
}

bool StandardReportOutput::setUpPrinter(QWidget* parent, int pageCount)
{
    return PrintSetup::exec(printer(), parent, QStringLiteral("ReportPrintSetup"), qMax(1, pageCount));
}

QString StandardReportOutput::chooseFile(QWidget* parent, const QString& current)
{
    return FileDialog::getSaveFileName(parent, QStringLiteral("SaveReportAs"), QStringLiteral("Save Report As"),
                                       current, QStringLiteral("PDF (*.pdf)"), QStringLiteral("pdf"));
}

void StandardReportOutput::printFromPreview(const ReportDocument& document, QWidget* parent)
{
    QPrinter& p = printer();
    p.setPrintRange(QPrinter::AllPages);
    if (!setUpPrinter(parent, document.pageCount()))
        return;
    const auto [from, to] = pagesChosen(document.pageCount());
    printDocument(document, from, to, p.copyCount(), parent);
}

std::pair<int, int> StandardReportOutput::pagesChosen(int pageCount)
{
    const QPrinter& p = printer();
    if (p.printRange() == QPrinter::PageRange && p.fromPage() > 0)
        return {p.fromPage() - 1, qMin(pageCount - 1, p.toPage() - 1)};
    return {0, pageCount - 1};
}

bool StandardReportOutput::printDocument(const ReportDocument& document, int from, int to, int copies, QWidget* parent)
{
    if (document.pageCount() == 0 || to < from)
        return true; // nothing to print; a blank sheet would be wasted
    QPrinter& p = printer();
    if (p.outputFormat() == QPrinter::NativeFormat && p.printerName().isEmpty())
        throw Error(QStringLiteral("プリンタがありません。プリンタを設定してから印刷してください"));
    const QString destination = p.outputFileName().isEmpty() ? p.printerName() : p.outputFileName();
    p.setFullPage(true);
    // A printer that cannot take the form's sheet would print on its own paper, the data off the
    // form's boxes: nothing is sent then. The printer starts from its own default sheet, since a sheet
    // set for the printer chosen before stays set, refused or not, when another one is chosen.
    if (p.outputFormat() == QPrinter::NativeFormat)
        if (const QPageSize own = QPrinterInfo(p).defaultPageSize(); own.isValid())
            p.setPageSize(own);
    if (!p.setPageLayout(document.pageLayout()))
        throw Error(QStringLiteral("プリンタ %1 は %2 の用紙に印刷できません").arg(destination, document.sheetSize()));
    p.setDocName(document.title());
    // Where the printer makes the copies itself, one pass is enough; elsewhere each copy is sent.
    p.setCopyCount(copies);
    int passes = 1;
    if (!p.supportsMultipleCopies()) {
        p.setCopyCount(1);
        passes = copies;
    }
    // The user's fitting of this form to this printer (a printer set up to print to a file is a file).
    const PrintOffset offset = offsets(
        document.title(), p.outputFormat() == QPrinter::NativeFormat ? p.printerName() : FormFitting::pdfPrinter());
    ReportStatusDialog status(document.title(), destination, parent);
    status.start();
    return document.print(
        p, from, to, passes,
        [&](int done, int total) {
            if (status.step(done, total))
                return true;
            p.abort();
            return false;
        },
        QPointF(offset.x, offset.y));
}

bool StandardReportOutput::writeFile(const ReportDocument& document, const QString& fileName, QWidget* parent)
{
    ReportStatusDialog status(document.title(), fileName, parent);
    status.start();
    const PrintOffset offset = offsets(document.title(), FormFitting::pdfPrinter());
    const bool finished = document.writePdf(
        fileName, [&](int done, int total) { return status.step(done, total); }, QPointF(offset.x, offset.y));
    if (finished)
        lastFile_ = fileName;
    return finished;
}

} // namespace halvenna
