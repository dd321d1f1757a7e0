#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace halvenna {
struct Program;
}

namespace halvenna {
class FieldLineEdit;
class DashShape;
} // namespace halvenna

// The sender settings dialog, opened from the print window: eleven boxes, filled from the sender
// settings each time it opens; OK copies them back and saves the settings file at once.
class TSenderForm : public QDialog
{
    Q_OBJECT
public:
    // program: whose sender settings the dialog shows and changes, and whose postal-code lookup
    // fills the address; it outlives the dialog.
    explicit TSenderForm(halvenna::Program& program, QWidget* parent = nullptr);
    ~TSenderForm() override;

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    halvenna::FieldLineEdit* edSenderName;
    halvenna::FieldLineEdit* edSenderZip;
    halvenna::FieldLineEdit* edSenderAddress1;
    halvenna::FieldLineEdit* edSenderAddress2;
    halvenna::FieldLineEdit* edSenderTel;
    QPushButton* btnOk;
    QLabel* Label6;
    QLabel* Label7;
    halvenna::FieldLineEdit* edSenderShopCode1;
    halvenna::FieldLineEdit* edSenderShopCode2;
    halvenna::DashShape* Shape1;
    halvenna::FieldLineEdit* edCustomerCode;
    QPushButton* btnCancel;
    QLabel* Label8;
    halvenna::FieldLineEdit* edAccountNo1;
    halvenna::FieldLineEdit* edAccountNo2;
    halvenna::FieldLineEdit* edAccountNo3;
    halvenna::DashShape* Shape2;
    halvenna::DashShape* Shape3;
    QLabel* Label9;
    QLabel* Label10;

    void btnOkClick();
    // The postal code box left holding a code fills an empty 住所１ (one town chosen where the code
    // covers several).
    void edSenderZipExit();
    void FormShow();

protected:
    void showEvent(QShowEvent* event) override;

private:
    halvenna::FieldLineEdit* box(const char* key) const;
    bool shownBefore_ = false;
    halvenna::Program& program_;
};

namespace halvenna {

// A small rectangle with a black outline and a white fill: at 2 pixels high, a dash between boxes.
class DashShape : public QWidget
{
    Q_OBJECT
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace halvenna

extern TSenderForm* SenderForm;
