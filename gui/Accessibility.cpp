#include "gui/Accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLineEdit>

namespace halvenna {

namespace {

// A combo box read by its own name (or its label's), its text as its value, its list opened by its
// action; one with neither name nor label is read by its text, as the toolkit would.
class NamedComboBox : public QAccessibleWidget
{
public:
    explicit NamedComboBox(QComboBox* combo) : QAccessibleWidget(combo, QAccessible::ComboBox)
    {
        addControllingSignal(QStringLiteral("activated(int)"));
    }

    QComboBox* comboBox() const { return static_cast<QComboBox*>(object()); }

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name: {
            const QString own = QAccessibleWidget::text(t);
            return own.isEmpty() ? text(QAccessible::Value) : own;
        }
        case QAccessible::Value:
            return comboBox()->isEditable() && comboBox()->lineEdit() ? comboBox()->lineEdit()->text()
                                                                      : comboBox()->currentText();
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QStringList actionNames() const override
    {
        return QStringList{showMenuAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override
    {
        if (action == showMenuAction())
            comboBox()->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }
};

QAccessibleInterface* namedComboBoxes(const QString&, QObject* object)
{
    // Every combo box: the interface is made as the box is built, before it is given its name.
    auto* combo = qobject_cast<QComboBox*>(object);
    return combo ? new NamedComboBox(combo) : nullptr;
}

} // namespace

void installAccessibleNames()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QAccessible::installFactory(namedComboBoxes);
}

} // namespace halvenna
