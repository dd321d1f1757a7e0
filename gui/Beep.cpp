#include "gui/Beep.h"

#include <QApplication>
#include <QWidget>

namespace halvenna {

Seam<Beep::Request, void>& Beep::seam()
{
    static Seam<Request, void> seam(QStringLiteral("Beep"), [](const Request&, QWidget*) { QApplication::beep(); });
    return seam;
}

void Beep::sound(const QWidget* control) noexcept
{
    try {
        seam().ask({control ? control->objectName() : QString()});
    } catch (...) {
        // A beep that fails is no reason to fail the key.
    }
}

} // namespace halvenna
