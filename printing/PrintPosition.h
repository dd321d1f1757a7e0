#pragma once

#include "settings/FormFitting.h"

#include <QDialog>
#include <QHash>
#include <QPair>
#include <QSet>
#include <QString>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace halvenna {
class StandardReportOutput;
}

// "印字位置調整": how far each form is moved on each printer, in 0.1 mm steps from -20 to +20 mm,
// right and down positive; the PDF file has its own pair. A test sheet of the chosen form prints on
// the chosen printer with the values shown, so that the user can hold it against the real stock
// and read off how far to move. OK stores every pair changed, in one replacement of the settings
// file; Cancel and Esc store nothing.
class TPrintPositionForm : public QDialog
{
    Q_OBJECT
public:
    // output: the print window's, so that the printer set up there is the one the test sheet uses;
    // appDir: the program's folder, where the settings file and the templates are.
    TPrintPositionForm(halvenna::StandardReportOutput* output, const QString& appDir, QWidget* parent = nullptr);

    QLabel* lblForm = nullptr;
    QComboBox* cmbForm = nullptr;
    QLabel* lblPrinter = nullptr;
    QComboBox* cmbPrinter = nullptr;
    QLabel* lblX = nullptr;
    QDoubleSpinBox* edX = nullptr;
    QLabel* lblY = nullptr;
    QDoubleSpinBox* edY = nullptr;
    // The scan of the chosen form's blank stock, laid under the preview: the file, its resolution and
    // where its top-left corner lies on the sheet.
    QLabel* lblBackground = nullptr;
    QLineEdit* edBackground = nullptr;
    QPushButton* btnBackground = nullptr;
    QPushButton* btnNoBackground = nullptr;
    QLabel* lblDpi = nullptr;
    QDoubleSpinBox* edDpi = nullptr;
    // Shown when the image chosen does not state its resolution: the user is asked for it.
    QLabel* lblDpiNote = nullptr;
    QLabel* lblLeft = nullptr;
    QDoubleSpinBox* edLeft = nullptr;
    QLabel* lblTop = nullptr;
    QDoubleSpinBox* edTop = nullptr;
    QPushButton* btnTestSheet = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

    // The form (template name) and the printer chosen, as the settings file names them.
    QString form() const;
    QString printer() const;
    // The values shown for them.
    halvenna::PrintOffset shownOffset() const;

    void btnTestSheetClick();
    void btnBackgroundClick();
    // The background shown for the chosen form.
    halvenna::FormBackground shownBackground() const;
    void btnOkClick();

private:
    void showPair();
    void keepPair();
    void showBackground();
    void keepBackground(QDoubleSpinBox* changed);

    QString appDir_;
    halvenna::StandardReportOutput* output_;
    halvenna::FormFitting stored_;
    // Pairs changed in this dialog, by form and printer.
    QHash<QPair<QString, QString>, halvenna::PrintOffset> edited_;
    // Backgrounds changed in this dialog, by form.
    QHash<QString, halvenna::FormBackground> backgrounds_;
    // Forms whose image was chosen here without a stated resolution, until the user gives one.
    QSet<QString> unstated_;
    bool showing_ = false;
};
