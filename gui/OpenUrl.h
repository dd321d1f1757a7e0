#pragma once

#include "gui/Seam.h"

#include <QUrl>

namespace halvenna {

// Hands a web address to the desktop to open (the user's browser), behind a seam so that a test sees
// the request without a browser opening.
class OpenUrl
{
public:
    // True when the desktop took it.
    static bool open(const QUrl& url);
    static Seam<QUrl, bool>& seam();
};

} // namespace halvenna
