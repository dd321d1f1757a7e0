#pragma once

#include "gui/Seam.h"

#include <QList>
#include <QMessageBox>
#include <QString>
#include <QStringList>

class QWidget;

namespace halvenna {

// The application title: the task-bar entry and the caption of the standard error box.
QString applicationTitle();

// Every message box of the program goes through here: through its seam, so that a test can answer it
// without a screen and read back exactly what the user would have been shown.
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
        QStringList buttons;           // their captions, in the order they are added
        QList<Button> standardButtons; // the same buttons
        Button defaultButton = QMessageBox::NoButton;
        Button escapeButton = QMessageBox::NoButton;
    };

    // The standard error box: the application title, the error icon and OK.
    static void showError(const QString& text, QWidget* parent = nullptr);
    // A piece of news (a long job done): the application title, the information icon and OK.
    static void showInformation(const QString& text, QWidget* parent = nullptr);
    // "警告" with Yes (default) and No (also Esc); true only for Yes.
    static bool confirm(const QString& text, QWidget* parent = nullptr);
    // The question before a file that exists is replaced: "警告" with Yes and No (the default, also
    // Esc); true only for Yes.
    static bool confirmReplace(const QString& path, QWidget* parent = nullptr);
    // "確認" with OK and Cancel (also Esc); true only for OK.
    static bool confirmOkCancel(const QString& text, QWidget* parent = nullptr);
    // "確認" with 保存する (default), 保存しない and キャンセル (also Esc): Save, Discard or Cancel.
    static Button askSave(const QString& text, QWidget* parent = nullptr);
    // The box of an aborted start-up.
    static void showApplicationError(const QString& text);

    // The seam every box goes through; the answer is the button chosen (Esc gives the escape button).
    static halvenna::Seam<Request, Button>& seam();
};

} // namespace halvenna
