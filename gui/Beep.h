#pragma once

#include "gui/Seam.h"

#include <QString>

class QWidget;

namespace halvenna {

// The system beep of a refused key, behind a seam so that a test can count the refusals.
class Beep
{
public:
    struct Request
    {
        QString control; // the object name of the control that refused the key
    };

    static void sound(const QWidget* control) noexcept;
    static Seam<Request, void>& seam();
};

} // namespace halvenna
