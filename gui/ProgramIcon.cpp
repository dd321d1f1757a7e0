#include "gui/ProgramIcon.h"

// Resources of a static library are registered by name, outside any namespace.
static void registerIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace halvenna {

QIcon programIcon()
{
    registerIconResources();
    return QIcon(QStringLiteral(":/icons/Kelvaro.png"));
}

QPixmap programPicture()
{
    registerIconResources();
    return QPixmap(QStringLiteral(":/icons/ProgramPicture.png"));
}

} // namespace halvenna
