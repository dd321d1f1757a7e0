#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QCheckBox;
class QDialogButtonBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace halvenna {

// What the user chose in "Output Options".
struct OutputChoice
{
    enum class Destination { Printer, Preview, File };
    Destination destination = Destination::Preview;
    int copies = 1;   // printer only
    QString fileName; // file only: the PDF to write
    // File only: the save dialog already asked whether to replace that file, so it is not asked again.
    bool replaceConfirmed = false;

    bool operator==(const OutputChoice&) const = default;
};

// "Output Options": where a report goes (printer, preview or a PDF file), how many copies, the
// printer's setup. Enter accepts, Esc cancels; every choice has a mnemonic.
class OutputOptionsDialog : public QDialog
{
    Q_OBJECT
public:
    // misfits: one line for each sheet on which some text did not fit its box.
    OutputOptionsDialog(const OutputChoice& offered, const QString& reportName, int pageCount,
                        const QStringList& misfits = {}, QWidget* parent = nullptr);

    OutputChoice choice() const;

    // The printer's setup (the print dialog) and choosing the file (the save dialog); the caller
    // provides both, so that they go through its seams. The setup opens with the copies in the box
    // and gives back those chosen there once accepted, nullopt when cancelled.
    std::function<std::optional<int>(QWidget* parent, int copies)> printerSetup;
    std::function<QString(QWidget* parent, const QString& current)> chooseFile;

private:
    void updateEnabled();
    void browse();
    void showMisfits();

    QRadioButton* rbPrinter;
    QRadioButton* rbPreview;
    QRadioButton* rbFile;
    QSpinBox* edCopies;
    QPushButton* btnSetup;
    QLineEdit* edFileName;
    QPushButton* btnBrowse;
    QDialogButtonBox* buttons;
    QStringList misfits_;
    QString browsed_; // the file the save dialog gave
};

} // namespace halvenna
