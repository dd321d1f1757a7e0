#pragma once

#include <QString>

namespace halvenna {

// The PostgreSQL server that keeps the shared tables, as the settings file names it: the key
// Server= of its section [Dostrel], a libpq connection string or URI. Empty (no section, no key,
// or only blanks): the tables stay in the Dostrel folder beside the program. Passwords are never
// kept here: libpq reads them from ~/.pgpass or the environment.
QString databaseServer(const QString& settingsPath);
// Refuses a server setting the program must not use: one libpq cannot read ("接続文字列を
// 読めません", never quoting it), or one that carries a password, which belongs in ~/.pgpass or a
// service file. Throws halvenna::Error naming the settings file and the key; nothing is connected.
void checkDatabaseServer(const QString& conninfo, const QString& settingsPath);

// Where the server is, as the server settings dialog edits it. Never a password.
struct ServerAddress
{
    QString host;
    QString port;
    QString database;
    QString user;
    bool operator==(const ServerAddress&) const = default;
};
// What conninfo names of them (nothing for a string libpq cannot read).
ServerAddress serverAddress(const QString& conninfo);
// The setting for address: a libpq key=value string keeping previous's other options (TLS...),
// each value quoted where libpq needs it; empty when address names no server at all (the folder).
QString serverConninfo(const ServerAddress& address, const QString& previous = {});
// Writes the setting into [Dostrel] Server= of the settings file by one atomic replacement; every
// other byte ([Main] and its code page 932 values) stays as it was. Throws halvenna::Error.
void writeDatabaseServer(const QString& settingsPath, const QString& conninfo);

} // namespace halvenna
