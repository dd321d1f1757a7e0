#include "gui/Accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>

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

QString spokenName(const QString& caption)
{
    static const QRegularExpression accessKey(QStringLiteral("[(（]&[^)）][)）]"));
    static const QRegularExpression blanks(QStringLiteral("[\\s\\x{3000}]+"));
    QString name = caption;
    name.remove(accessKey);
    name.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    name.remove(u'&');
    name.replace(u'\x01', u'&');
    name.replace(blanks, QStringLiteral(" "));
    name = name.trimmed();
    while (name.endsWith(u':') || name.endsWith(u'：'))
        name.chop(1);
    return name.trimmed();
}

void nameInnerEdits(QWidget* window)
{
    const QList<QLabel*> labels = window->findChildren<QLabel*>();
    for (QComboBox* combo : window->findChildren<QComboBox*>()) {
        QLineEdit* edit = combo->lineEdit();
        if (!edit || !edit->accessibleName().isEmpty())
            continue;
        QString name = combo->accessibleName();
        for (const QLabel* label : labels)
            if (name.isEmpty() && label->buddy() == combo)
                name = spokenName(label->text());
        edit->setAccessibleName(name);
    }
}

} // namespace halvenna
