#include "gui/OpenUrl.h"

#include <QDesktopServices>

namespace halvenna {

Seam<QUrl, bool>& OpenUrl::seam()
{
    static Seam<QUrl, bool> seam(QStringLiteral("OpenUrl"),
                                 [](const QUrl& url, QWidget*) { return QDesktopServices::openUrl(url); });
    return seam;
}

bool OpenUrl::open(const QUrl& url)
{
    return seam().ask(url);
}

} // namespace halvenna
