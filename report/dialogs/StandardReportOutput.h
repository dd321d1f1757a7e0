#pragma once

#include "gui/Seam.h"
#include "report/ReportProject.h"
#include "report/dialogs/OutputOptionsDialog.h"
#include "settings/FormFitting.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QPrinter;
class QWidget;

namespace halvenna {

// The report engine's own output handling: "Output Options" (printer, preview or file, preview
// preselected), then "Report Status" while sheets go to the printer or a file, or the modal
// "Report Preview", from which the sheets can be printed too. Cancelling any of them ends the
// output quietly. Errors (a printer or a file that cannot be written) are thrown to the caller.
//
// "Printer" prints the page range chosen under the printer's Setup in that "Output Options", else
// every sheet, as many times as its copies box says, which takes the copies chosen under Setup.
// Printing from the preview takes the range and the copies from its own Setup.
//
// Each modal question goes through a seam that a test answers in advance: the options (here), the
// printer's setup (PrintSetup, "ReportPrintSetup") and the file name (FileDialog, "SaveReportAs").
class StandardReportOutput : public ReportOutput
{
public:
    // One "Output Options" as it was asked for.
    struct OptionsRequest
    {
        OutputChoice offered;
        QString title;
        int pageCount = 0;
        QStringList misfits; // one line for each sheet on which some text did not fit
        StandardReportOutput* output = nullptr;
    };

    // settingsFile: the settings file that says how each form is fitted (FormFitting).
    explicit StandardReportOutput(QString settingsFile);
    ~StandardReportOutput() override;

    void output(const ReportDocument& document) override;

    // How far every item of a form moves on a printer (FormFitting::pdfPrinter() for a PDF file):
    // by default what the settings file says at the moment of output.
    std::function<PrintOffset(const QString& form, const QString& printer)> offsets;
    // The scan of a form's blank stock laid under the preview: by default the settings file's.
    std::function<FormBackground(const QString& form)> backgrounds;
    // The destination "Output Options" offers next, for the next output only (preview otherwise).
    void offerNext(OutputChoice::Destination destination) { offerNext_ = destination; }

    // The lines that tell the user, sheet by sheet, where some text did not fit its box.
    static QStringList misfitLines(const ReportDocument& document);

    // What the options dialog offers next: preview, one copy, the file last written (or one named
    // after the report in the home folder).
    OutputChoice offered(const ReportDocument& document) const;

    // Prints sheets from..to `copies` times on the printer as set up, with "Report Status"; false
    // when the user cancelled. The printer is kept from one output to the next. A printer that
    // refuses the template's sheet size is an error, before anything is sent to it.
    bool printDocument(const ReportDocument& document, int from, int to, int copies, QWidget* parent);
    // Writes the PDF with "Report Status"; false when the user cancelled (no file is left then).
    bool writeFile(const ReportDocument& document, const QString& fileName, QWidget* parent);
    QPrinter& printer();

    // The seam of "Output Options"; the answer is the choice, or nullopt for Cancel.
    static Seam<OptionsRequest, std::optional<OutputChoice>>& optionsSeam();

private:
    static std::optional<OutputChoice> showOptions(const OptionsRequest& request, QWidget* parent);
    bool setUpPrinter(QWidget* parent, int pageCount);
    QString chooseFile(QWidget* parent, const QString& current);
    // The sheets (from 0) the printer's setup chose: a page range, else all of them.
    std::pair<int, int> pagesChosen(int pageCount);
    void printFromPreview(const ReportDocument& document, QWidget* parent);

    std::unique_ptr<QPrinter> printer_;
    QString lastFile_;
    std::optional<OutputChoice::Destination> offerNext_;
    QString settingsFile_;
};

} // namespace halvenna
