#include "settings/DatabaseServer.h"

#include "settings/IniFile.h"

namespace halvenna {

QString databaseServer(const QString& settingsPath)
{
    return QString::fromUtf8(IniFile::readKey(settingsPath, "Dostrel", "Server", QByteArray())).trimmed();
}

} // namespace halvenna
