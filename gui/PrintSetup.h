#pragma once

#include "gui/Seam.h"

#include <QString>

class QPrinter;
class QWidget;

namespace halvenna {

// Every setup of a printer goes through here: Qt's print dialog (in Japanese), behind its seam so
// that a test can set the printer up without a screen.
class PrintSetup
{
public:
    struct Request
    {
        QString objectName;
        QPrinter* printer = nullptr;
        QWidget* parent = nullptr;
        int pageCount = 0; // a page range from 1 to this may be chosen; 0: no range offered
    };

    // Shows the dialog on printer; true when the user accepted it (the printer then holds the choice).
    static bool exec(QPrinter& printer, QWidget* parent, const QString& objectName, int pageCount = 0);

    // The seam; the answer sets request.printer up and says whether the dialog was accepted.
    static Seam<Request, bool>& seam();
};

} // namespace halvenna
