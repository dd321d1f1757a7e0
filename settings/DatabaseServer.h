#pragma once

#include <QString>

namespace halvenna {

// The PostgreSQL server that keeps the shared tables, as the settings file names it: the key
// Server= of its section [Dostrel], a libpq connection string or URI. Empty (no section, no key,
// or only blanks): the tables stay in the Dostrel folder beside the program. Passwords are never
// kept here: libpq reads them from ~/.pgpass or the environment.
QString databaseServer(const QString& settingsPath);

} // namespace halvenna
