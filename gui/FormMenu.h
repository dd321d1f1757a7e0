#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

class QAction;
class QMenuBar;
class QWidget;

namespace halvenna {

// A window's main menu as its designer numbered it: each menu's own entry, then its items, named
// N1, N2… in that order. Returns the actions in the same order.
QList<QAction*> fillMainMenu(QMenuBar* bar, const QList<std::pair<QString, QStringList>>& menus);

// The menu titles carry no mnemonics: F10 anywhere in the window opens the bar on its first menu.
void addMenuKey(QWidget* window, QMenuBar* bar);

} // namespace halvenna
