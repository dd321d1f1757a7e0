#pragma once

#include "gui/Seam.h"
#include "settings/DatabaseServer.h"

#include <QDialog>

#include <optional>

class QLineEdit;
class QPushButton;

namespace halvenna {

// "サーバー設定": where the shared roster is (host, port, database, user), with a test of the
// connection and a way to the settings file's folder. There is deliberately no password field: a
// password belongs in ~/.pgpass or a service file, never in the settings file. The answer is the
// address to keep, or nothing for Cancel.
class ServerSettingsForm : public QDialog
{
    Q_OBJECT
public:
    ServerSettingsForm(const ServerAddress& address, QString settingsPath, QWidget* parent = nullptr);
    ServerAddress address() const;

    // The request: the address the settings file names now and the file's path.
    struct Request
    {
        ServerAddress address;
        QString settingsPath;
    };
    static Seam<Request, std::optional<ServerAddress>>& seam();

    QLineEdit* edHost;
    QLineEdit* edPort;
    QLineEdit* edDatabase;
    QLineEdit* edUser;
    QPushButton* btnTest;
    QPushButton* btnFolder;
    QPushButton* btnOK;
    QPushButton* btnCancel;

    // Connects to the address as typed and says whether the shared tables are there.
    void btnTestClick();
    // Hands the settings file's folder to the desktop.
    void btnFolderClick();

private:
    QString settingsPath_;
};

} // namespace halvenna
