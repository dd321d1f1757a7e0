#include "settings/SenderSettings.h"

#include "settings/IniFile.h"

namespace halvenna {

QString settingsFilePath(const QString& appDir)
{
    return appDir + QStringLiteral("Kelvaro.ini");
}

void loadSenderSettings(SenderSettingsData& settings, const QString& path)
{
    // One read of the file for all eleven keys.
    const IniFile ini = IniFile::load(path);
    for (const SenderSettingsField& field : senderSettingsFields)
        settings.*field.member = ini.value(senderSettingsSection, field.key, settings.*field.member);
}

void saveSenderSettings(const SenderSettingsData& settings, const QString& path)
{
    IniFile::KeysAndValues keysAndValues;
    keysAndValues.reserve(senderSettingsFields.size());
    for (const SenderSettingsField& field : senderSettingsFields)
        keysAndValues.append({field.key, settings.*field.member});
    IniFile::writeKeys(path, senderSettingsSection, keysAndValues);
}

} // namespace halvenna
