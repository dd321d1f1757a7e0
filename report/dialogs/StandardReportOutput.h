#pragma once

#include "report/ReportProject.h"
#include "report/dialogs/OutputOptionsDialog.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QPrinter;
class QWidget;

namespace halvenna {

// The report engine's own output handling: "Output Options" (printer, preview or file, preview
// preselected), then "Report Status" while sheets go to the printer or a file, or the modal
// "Report Preview", from which the sheets can be printed too. Cancelling any of them ends the
// output quietly. Errors (a printer or a file that cannot be written) are thrown to the caller.
//
// Each modal question goes through a seam that a test answers in advance: the options, the
// printer's setup and the file name. Answers queue up in order; with none queued the dialog shows.
class StandardReportOutput : public ReportOutput
{
public:
    StandardReportOutput();
    ~StandardReportOutput() override;

    void output(const ReportDocument& document) override;

    // What the options dialog offers next: preview, one copy, the file last written (or one named
    // after the report in the home folder).
    OutputChoice offered(const ReportDocument& document) const;

    // Prints sheets from..to `copies` times on the printer as set up, with "Report Status"; false
    // when the user cancelled. The printer is kept from one output to the next.
    bool printDocument(const ReportDocument& document, int from, int to, int copies, QWidget* parent);
    // Writes the PDF with "Report Status"; false when the user cancelled (no file is left then).
    bool writeFile(const ReportDocument& document, const QString& fileName, QWidget* parent);
    QPrinter& printer();

    // --- seams
    using OptionsAnswer = std::function<std::optional<OutputChoice>(const OutputChoice& offered)>;
    // Answers the next "Output Options": the choice, or nullopt for Cancel.
    static void setNextOptions(std::optional<OutputChoice> choice);
    static void setNextOptions(OptionsAnswer answer);
    // Answers the next printer setup: sets the printer up and returns whether it was accepted.
    static void setNextPrintSetup(std::function<bool(QPrinter&)> answer);
    // Answers the next choice of a file; an empty name is Cancel.
    static void setNextFileName(const QString& fileName);
    static int pendingAnswers();
    static void clearAnswers();

private:
    std::optional<OutputChoice> askOptions(const ReportDocument& document, QWidget* parent);
    bool setUpPrinter(QWidget* parent, int pageCount);
    QString chooseFile(QWidget* parent, const QString& current);
    void printFromPreview(const ReportDocument& document, QWidget* parent);

    std::unique_ptr<QPrinter> printer_;
    QString lastFile_;
};

} // namespace halvenna
