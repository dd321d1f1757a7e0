#pragma once

#include <QByteArray>
#include <QString>

#include <array>

namespace halvenna {

// The sender's own details printed on every waybill and payment slip: code page 932 bytes, kept
// exactly as typed (nothing checks their content).
struct SenderSettingsData
{
    QByteArray SenderName;
    QByteArray SenderZip;
    QByteArray SenderAddress1;
    QByteArray SenderAddress2;
    QByteArray SenderTel;
    QByteArray SenderShopCode1;
    QByteArray SenderShopCode2;
    QByteArray CustomerCode;
    QByteArray AccountNo1;
    QByteArray AccountNo2;
    QByteArray AccountNo3;

    bool operator==(const SenderSettingsData&) const = default;
};

// One sender setting: its key in the settings file (also the name of its member, and, after "ed",
// of its edit in the sender dialog) and its member.
struct SenderSettingsField
{
    const char* key;
    QByteArray SenderSettingsData::*member;
};

// The eleven settings in their fixed order: the order the file is read and written in and the
// order the sender dialog copies them in.
inline constexpr std::array<SenderSettingsField, 11> senderSettingsFields{{
    {"SenderName", &SenderSettingsData::SenderName},
    {"SenderZip", &SenderSettingsData::SenderZip},
    {"SenderAddress1", &SenderSettingsData::SenderAddress1},
    {"SenderAddress2", &SenderSettingsData::SenderAddress2},
    {"SenderTel", &SenderSettingsData::SenderTel},
    {"SenderShopCode1", &SenderSettingsData::SenderShopCode1},
    {"SenderShopCode2", &SenderSettingsData::SenderShopCode2},
    {"CustomerCode", &SenderSettingsData::CustomerCode},
    {"AccountNo1", &SenderSettingsData::AccountNo1},
    {"AccountNo2", &SenderSettingsData::AccountNo2},
    {"AccountNo3", &SenderSettingsData::AccountNo3},
}};

// The section of the settings file that holds them.
inline constexpr char senderSettingsSection[] = "Main";

// The settings file: "Kelvaro.ini" in appDir, which ends with a separator.
QString settingsFilePath(const QString& appDir);

// Reads each of the eleven keys with the member's current value as default, so a missing file,
// section or key leaves the member as it was. Never throws.
void loadSenderSettings(SenderSettingsData& settings, const QString& path);

// Writes the eleven keys in the table's order by one atomic replacement of the file; other sections,
// keys and lines stay as they are. Throws Error "<path> に書き込めません" and leaves the file as it
// was when it cannot be written.
void saveSenderSettings(const SenderSettingsData& settings, const QString& path);

} // namespace halvenna
