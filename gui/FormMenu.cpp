#include "gui/FormMenu.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>

namespace halvenna {

QList<QAction*> fillMainMenu(QMenuBar* bar, const QList<std::pair<QString, QStringList>>& menus)
{
    bar->setObjectName(QStringLiteral("MainMenu1"));
    QList<QAction*> numbered;
    auto add = [&numbered](QAction* action) {
        numbered.append(action);
        action->setObjectName(QStringLiteral("N%1").arg(numbered.size()));
    };
    for (const auto& [title, items] : menus) {
        QMenu* menu = bar->addMenu(title);
        add(menu->menuAction());
        for (const QString& item : items)
            add(menu->addAction(item));
    }
    return numbered;
}

void addMenuKey(QWidget* window, QMenuBar* bar)
{
    auto* key = new QShortcut(QKeySequence(Qt::Key_F10), window);
    QObject::connect(key, &QShortcut::activated, bar, [bar] {
        const QList<QAction*> menus = bar->actions();
        if (!menus.isEmpty())
            bar->setActiveAction(menus.first());
    });
}

} // namespace halvenna
