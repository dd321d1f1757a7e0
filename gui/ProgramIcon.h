#pragma once

#include <QIcon>
#include <QPixmap>

namespace halvenna {

// The program's icon (caption bars, task bar) and its larger picture (About box).
QIcon programIcon();
QPixmap programPicture();

} // namespace halvenna
