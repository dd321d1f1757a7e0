#pragma once

#include <QMainWindow>

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;

namespace halvenna {
struct Program;
}

// The main window: opens the print window, the roster window and the About box. Its creation
// points the program at its folder and loads the sender settings, its destruction saves them.
class TTopForm : public QMainWindow
{
    Q_OBJECT
public:
    // program: whose folder and sender settings the window sets, loads and saves; it outlives the
    // window.
    explicit TTopForm(halvenna::Program& program, QWidget* parent = nullptr);
    ~TTopForm() override;

    QPushButton* btnKelvaro = nullptr;
    QPushButton* btnMemberReg = nullptr;
    QLabel* Label1 = nullptr;
    QMenuBar* MainMenu1 = nullptr;
    QAction* N1 = nullptr;
    QAction* N2 = nullptr;
    QAction* N3 = nullptr;
    QAction* N4 = nullptr;

    void btnMemberRegClick();
    void btnKelvaroClick();
    void FormCreate();
    void FormDestroy();
    void N2Click();
    void N4Click();

    void LoadSenderSettings();
    void SaveSenderSettings();

    // The client area below the menu bar: 335 x 280 outside, less a 4-pixel sizing frame on each
    // side, a 19-pixel caption and a 19-pixel menu bar. The window is this plus Qt's menu bar.
    static constexpr int clientWidth = 327;
    static constexpr int clientHeight = 234;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    bool shownOnce_ = false;
    halvenna::Program& program_;
};

extern TTopForm* TopForm;
