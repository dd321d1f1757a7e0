#pragma once

#include <QApplication>
#include <QString>
#include <QWidget>

namespace halvenna {

// A window another layer made, found by its object name among the top-level windows: how a window
// reaches one that the shell owns without depending on the shell. Null when there is none.
template <typename W = QWidget> W* topLevelWindow(const QString& objectName)
{
    const QList<QWidget*> windows = QApplication::topLevelWidgets();
    for (QWidget* w : windows)
        if (w->objectName() == objectName)
            if (auto* found = qobject_cast<W*>(w))
                return found;
    return nullptr;
}

} // namespace halvenna
