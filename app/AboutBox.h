#pragma once

#include <QDialog>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QUrl>

#include <functional>

namespace halvenna {
struct Program;
}

class QFrame;
class QPushButton;

namespace halvenna {

// A label that reports clicks, and Space or Enter while it has the focus.
class ClickableLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

Q_SIGNALS:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool pressed_ = false;
};

} // namespace halvenna

// The About box: the program's picture, name, version and maker, with a link to the maker's page.
class TAboutBoxForm : public QDialog
{
    Q_OBJECT
public:
    // program: whose tables and postal data the box names; it outlives the box.
    explicit TAboutBoxForm(halvenna::Program& program, QWidget* parent = nullptr);
    ~TAboutBoxForm() override;

    QFrame* Panel1 = nullptr;
    QLabel* ProgramIcon = nullptr;
    QLabel* ProductName = nullptr;
    QLabel* Version = nullptr;
    // Where postal codes are looked up from, or that there is nothing to look them up in.
    QLabel* PostalData = nullptr;
    QLabel* TablesPlace = nullptr;
    QLabel* MakerText1 = nullptr;
    QLabel* MakerText2 = nullptr;
    QPushButton* OKButton = nullptr;
    halvenna::ClickableLabel* Label1 = nullptr;

    void Label1Click(QObject* sender);
    // Puts in the lines that say where the tables and the postal data are, and lays out the box
    // around them.
    void fillLines(const QString& postalData);

    // Each opening puts the lines in first.
    void setVisible(bool visible) override;

protected:
    // Each opening starts on OK.
    void showEvent(QShowEvent* event) override;
    // There is no cancel button: Esc leaves the box open.
    void keyPressEvent(QKeyEvent* event) override;

private:
    halvenna::Program& program_;
};

extern TAboutBoxForm* AboutBoxForm;
