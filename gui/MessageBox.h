#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace halvenna {

// The application title: the task-bar entry and the caption of the standard error box.
QString applicationTitle();

// Every message box of the program goes through here, so that a test can answer it without a
// screen and read back exactly what the user would have been shown.
class MessageBox
{
public:
    using Button = QMessageBox::StandardButton;

    // One box as it was asked for.
    struct Request
    {
        QString caption;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QStringList buttons; // their captions, in the order they are added
        Button defaultButton = QMessageBox::NoButton;
        Button escapeButton = QMessageBox::NoButton;
    };

    // The standard error box: the application title, the error icon and OK.
    static void showError(const QString& text, QWidget* parent = nullptr);
    // "警告" with Yes (default) and No (also Esc); true only for Yes.
    static bool confirm(const QString& text, QWidget* parent = nullptr);
    // "確認" with OK and Cancel (also Esc); true only for OK.
    static bool confirmOkCancel(const QString& text, QWidget* parent = nullptr);
    // The box of an aborted start-up.
    static void showApplicationError(const QString& text);

    // Answers the next box asked for instead of showing it; answers queue up in order.
    static void setNextAnswer(Button answer);
    // The same, deciding when the box is asked for (to look at the program's state at that moment).
    static void setNextAnswer(std::function<Button(const Request&)> answer);
    static int pendingAnswers();
    // The boxes asked for so far, shown or answered.
    static QList<Request> requests();
    static void clearRequests();
};

} // namespace halvenna
