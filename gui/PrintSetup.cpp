#include "gui/PrintSetup.h"

#include <QPrintDialog>
#include <QPrinter>

namespace halvenna {

namespace {

bool execDialog(const PrintSetup::Request& r, QWidget* parent)
{
    QPrintDialog dialog(r.printer, parent);
    dialog.setObjectName(r.objectName);
    if (r.pageCount > 0) {
        dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintPageRange |
                          QAbstractPrintDialog::PrintShowPageSize);
        dialog.setMinMax(1, r.pageCount);
    }
    return dialog.exec() == QDialog::Accepted;
}

} // namespace

Seam<PrintSetup::Request, bool>& PrintSetup::seam()
{
    static Seam<Request, bool> seam(QStringLiteral("PrintSetup"), execDialog);
    return seam;
}

bool PrintSetup::exec(QPrinter& printer, QWidget* parent, const QString& objectName, int pageCount)
{
    return seam().ask({objectName, &printer, parent, pageCount}, parent);
}

} // namespace halvenna
