#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace halvenna {

// An INI file of the Windows private-profile kind, held as code page 932 bytes. Names and values are
// raw bytes: nothing is converted, so a value reads back exactly as it was stored.
//
// Reading:
// - "[name]" opens a section (the name ends at the last "]" of the line, blanks around it ignored);
//   "key=value" is a key line; a line whose first non-blank byte is ";" is a comment. Lines end in
//   LF or CR LF.
// - Section and key names match without regard to the case of ASCII letters (the bytes of a
//   double-byte character always match exactly). The first matching section and, in it, the first
//   matching key count.
// - A value comes back without the blanks around it (space, tab, VT, FF, CR) and, when it is then
//   enclosed in matching single or double quotes, without them; at most 2047 bytes of it, cut
//   before a double-byte character that would not fit whole. A key present with an empty value
//   reads as empty; a missing file, section or key gives the default.
//
// Writing (always one atomic replacement of the whole file):
// - A new file holds "[section]" then one "key=value" line per key in the order given, CR LF ends.
// - In an existing file a key that is present keeps its line and everything up to and including
//   its "=" (spelling, indentation); only the value after "=" is replaced. A missing key gets a new
//   line right after the last key line of its section (after the header if it has none), and a
//   missing section is added at the end of the file. Every other byte stays as it was; new lines
//   take the line end of the file's first line (CR LF for a file without one). A last line without
//   a line end gets one when a line is added after it.
// - A value cannot break the line structure: each line break in it (CR LF, CR or LF) is written as
//   one space.
// - A value that would not read back the same, because it begins or ends with a blank or a quote,
//   is written enclosed in double quotes, which reading removes again. Values are written whole;
//   only reading cuts at 2047 bytes.
class IniFile
{
public:
    using KeysAndValues = QList<QPair<QByteArray, QByteArray>>;

    // The longest value reading returns, in bytes.
    static constexpr qsizetype maxValueLength = 2047;

    // The text of a file that does not exist yet.
    IniFile() = default;
    explicit IniFile(QByteArray content);

    // The file's text; a missing or unreadable file reads as empty.
    static IniFile load(const QString& path);

    // One value of path, or defaultValue. Never throws.
    static QByteArray readKey(const QString& path, const QByteArray& section, const QByteArray& key,
                              const QByteArray& defaultValue);

    // Stores the keys in section of path, in the order given, by one atomic replacement of the file
    // (QSaveFile): either every key is written or the file stays exactly as it was. Throws Error
    // "<path> に書き込めません" when the file cannot be read back first or cannot be replaced.
    // Section and key names must be single-line, non-empty, free of "=" (keys) and "]" (sections),
    // and must not begin or end with a blank.
    static void writeKeys(const QString& path, const QByteArray& section, const KeysAndValues& keysAndValues);

    QByteArray value(const QByteArray& section, const QByteArray& key, const QByteArray& defaultValue) const;
    void setValue(const QByteArray& section, const QByteArray& key, const QByteArray& value);
    const QByteArray& content() const { return content_; }

private:
    QByteArray content_;
};

} // namespace halvenna
