#pragma once

#include "data/FieldValue.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QStringList>
#include <QWidget>

#include <exception>
#include <functional>
#include <memory>

class QToolButton;

namespace halvenna {

class DataSource;
class FieldLink;
class Table;

// A control's Qt event handler never lets an error out into the event loop: it hands it to the
// standard error box. Never throws.
void reportControlError(const std::exception& e) noexcept;
// The same, once control is back in the event loop: for errors met while the table that told the
// control about a change is still in the middle of its operation.
void reportControlErrorLater(const std::exception& e);

// A line edit that refuses, where it is typed, text its field cannot hold: characters code page 932
// has no form for, and in an integer field anything but the digits, "+" and "-". The single-field
// editors are built on it, and the grid uses it as its cell editor.
class FieldLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit FieldLineEdit(QWidget* parent = nullptr);

    void setFieldKind(FieldKind kind) { kind_ = kind; }
    // Shows a value as the field holds it: the text counts as not changed by the user.
    void showText(const QString& text);

    // Called on Enter; returning false keeps the key here (the input was refused), otherwise the key
    // goes on to the window (its default button).
    std::function<bool()> onEnter;
    // Called on Esc; returning true keeps the key here, otherwise it goes on to the window.
    std::function<bool()> onEscape;
    // Called when the focus moves on to another control of the same window.
    std::function<void()> onFocusLost;

Q_SIGNALS:
    // The user changed the text (typing, deleting, pasting...) and the new text was accepted.
    void userEdited();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void textWasEdited(const QString& text);

    FieldKind kind_ = FieldKind::Text;
    QString accepted_; // the text after the last change that was let through
    bool userChanged_ = false;
};

// What the single-field controls share: the data source whose current row they show and the field
// of it. Setting the field shows its value at once.
class FieldBinding
{
public:
    void setDataSource(DataSource* source);
    DataSource* dataSource() const;
    void setDataField(const QString& field);
    QString dataField() const;

protected:
    FieldBinding();
    ~FieldBinding();
    FieldBinding(const FieldBinding&) = delete;
    FieldBinding& operator=(const FieldBinding&) = delete;

    // The user began changing the shown value: the row goes into edit. A refusal (a row another
    // program holds) is reported and the control shows the stored value again.
    void beginUserEdit();
    // Writes what the user typed into the field, putting the row into edit first. The control's
    // pending flag is cleared before the write (the write reaches the control again) and set again
    // if the write is refused, so that nothing typed is lost. Throws.
    void writeTyped(const QString& typed, const std::function<void(bool pending)>& setPending);
    // Runs the control's write; a refusal is reported. False: the typed text stays to be mended.
    static bool reportingFailure(const std::function<void()>& write) noexcept;

    std::unique_ptr<FieldLink> link_;
};

// An edit bound to one field of a data source's current row. It shows the field's display text and
// follows every change of the row; typing puts the table into edit state (on an empty table that
// starts a new row), and the typed text is written into the field when the table asks for pending
// input, when the focus moves to another control and on Enter.
class DbEdit : public FieldLineEdit, public FieldBinding
{
    Q_OBJECT
public:
    explicit DbEdit(QWidget* parent = nullptr);
    ~DbEdit() override;

    // Writes the text the user typed, if any, into the field. Throws.
    void updateRecord();

private:
    void refresh();
    bool commit() noexcept;
    bool revert();
};

// An editable combo box bound to one field: it offers the given items and accepts any other text
// too. Picking an item counts as typing it.
class DbComboBox : public QComboBox, public FieldBinding
{
    Q_OBJECT
public:
    explicit DbComboBox(QWidget* parent = nullptr);
    ~DbComboBox() override;

    void setItems(const QStringList& items);

    // Writes the text the user typed or picked, if any, into the field. Throws.
    void updateRecord();

private:
    void refresh();
    void userChanged();
    bool commit() noexcept;
    bool revert();

    FieldLineEdit* edit_;
    bool modified_ = false;
};

// A check box bound to a logical field: checked for true, unchecked for false, partially checked
// (greyed) for null. A click writes true, or false when it was checked, straight into the field.
class DbCheckBox : public QCheckBox, public FieldBinding
{
    Q_OBJECT
public:
    explicit DbCheckBox(QWidget* parent = nullptr);
    ~DbCheckBox() override;

protected:
    void nextCheckState() override;

private:
    void refresh();
};

// Four buttons that move a data source's current row to the first, prior, next and last row; a
// button that cannot move anywhere is disabled.
class DbNavigator : public QWidget
{
    Q_OBJECT
public:
    enum Button { First, Prior, Next, Last };

    explicit DbNavigator(QWidget* parent = nullptr);
    ~DbNavigator() override;

    void setDataSource(DataSource* source);
    DataSource* dataSource() const;
    QToolButton* button(Button which) const { return buttons_[which]; }

private:
    void move(Button which);
    void refresh();

    QToolButton* buttons_[4] = {};
    std::unique_ptr<FieldLink> link_;
};

} // namespace halvenna
