#include "settings/IniFile.h"

#include "data/Error.h"
#include "data/SjisText.h"

#include <QFile>
#include <QSaveFile>

#include <utility>

namespace halvenna {

namespace {

// One line of the file: its bytes and its own line end ("\r\n", "\n", or nothing for a last line
// without one), so that lines we do not touch are written back exactly.
struct Line
{
    QByteArray text;
    QByteArray end;
};

enum class Kind { Other, Section, Key };

struct Parsed
{
    Kind kind = Kind::Other;
    QByteArray name;
    qsizetype valueStart = -1; // in a key line: the byte after "="
};

// The same set QByteArray::trimmed() removes.
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isQuote(char c)
{
    return c == '"' || c == '\'';
}

QList<Line> splitLines(const QByteArray& content)
{
    QList<Line> lines;
    qsizetype start = 0;
    // LF and CR never occur inside a double-byte character, so a byte search is safe.
    while (start < content.size()) {
        const qsizetype lf = content.indexOf('\n', start);
        if (lf < 0) {
            lines.append({content.mid(start), {}});
            break;
        }
        qsizetype textEnd = lf;
        if (textEnd > start && content.at(textEnd - 1) == '\r')
            --textEnd;
        lines.append({content.mid(start, textEnd - start), content.mid(textEnd, lf + 1 - textEnd)});
        start = lf + 1;
    }
    return lines;
}

QByteArray joinLines(const QList<Line>& lines)
{
    QByteArray content;
    for (const Line& line : lines)
        content += line.text + line.end;
    return content;
}

// Position of the last single byte c in text from position from on, skipping double-byte
// characters (whose second byte may look like "]"); -1 if none.
qsizetype lastSingleByte(const QByteArray& text, qsizetype from, char c)
{
    qsizetype found = -1;
    for (qsizetype i = from; i < text.size();) {
        if (sjis::isLeadByte(static_cast<unsigned char>(text.at(i))) && i + 1 < text.size()) {
            i += 2;
            continue;
        }
        if (text.at(i) == c)
            found = i;
        ++i;
    }
    return found;
}

Parsed classify(const QByteArray& text)
{
    qsizetype i = 0;
    while (i < text.size() && isBlank(text.at(i)))
        ++i;
    if (i == text.size() || text.at(i) == ';')
        return {};
    if (text.at(i) == '[') {
        const qsizetype close = lastSingleByte(text, i + 1, ']');
        if (close >= 0)
            return {Kind::Section, text.mid(i + 1, close - i - 1).trimmed(), -1};
    }
    // "=" (0x3D) is never the second byte of a double-byte character.
    const qsizetype eq = text.indexOf('=', i);
    if (eq < 0)
        return {};
    QByteArray name = text.mid(i, eq - i).trimmed();
    if (name.isEmpty())
        return {};
    return {Kind::Key, std::move(name), eq + 1};
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Equal without regard to the case of ASCII letters; the second byte of a double-byte character
// may fall in the letter range and is compared exactly.
bool sameName(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (sjis::isLeadByte(static_cast<unsigned char>(a.at(i)))) {
            if (a.at(i) != b.at(i) || (i + 1 < a.size() && a.at(i + 1) != b.at(i + 1)))
                return false;
            ++i;
        } else if (asciiLower(a.at(i)) != asciiLower(b.at(i))) {
            return false;
        }
    }
    return true;
}

// Index of the first header of section, or -1.
qsizetype findSection(const QList<Line>& lines, const QByteArray& section)
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const Parsed p = classify(lines.at(i).text);
        if (p.kind == Kind::Section && sameName(p.name, section))
            return i;
    }
    return -1;
}

// The first whole characters of value that fit in maxValueLength bytes.
QByteArray cutValue(const QByteArray& value)
{
    if (value.size() <= IniFile::maxValueLength)
        return value;
    qsizetype end = 0;
    while (end < value.size()) {
        const qsizetype step = sjis::isLeadByte(static_cast<unsigned char>(value.at(end))) ? 2 : 1;
        if (end + step > IniFile::maxValueLength)
            break;
        end += step;
    }
    return value.left(end);
}

QByteArray decodeValue(const QByteArray& raw)
{
    QByteArray value = raw.trimmed();
    if (value.size() >= 2 && isQuote(value.front()) && value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return cutValue(value);
}

// The value as it goes into the file: on one line, and quoted when reading would otherwise strip
// blanks or quotes from its ends. Neither CR nor LF nor a quote or blank is ever a second byte of a
// double-byte character, so byte tests are safe here.
QByteArray encodeValue(const QByteArray& value)
{
    QByteArray line;
    line.reserve(value.size() + 2);
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char c = value.at(i);
        if (c == '\r' || c == '\n') {
            line += ' ';
            if (c == '\r' && i + 1 < value.size() && value.at(i + 1) == '\n')
                ++i;
        } else {
            line += c;
        }
    }
    if (!line.isEmpty() &&
        (isBlank(line.front()) || isQuote(line.front()) || isBlank(line.back()) || isQuote(line.back())))
        line = '"' + line + '"';
    return line;
}

// The line end new lines take: that of the file's first line, CR LF for a file without one.
QByteArray lineEndOf(const QList<Line>& lines)
{
    for (const Line& line : lines)
        if (!line.end.isEmpty())
            return line.end;
    return QByteArrayLiteral("\r\n");
}

[[maybe_unused]] bool isPlainName(const QByteArray& name, char forbidden)
{
    return !name.isEmpty() && !name.contains('\r') && !name.contains('\n') && !name.contains(forbidden) &&
           !isBlank(name.front()) && !isBlank(name.back());
}

Error writeError(const QString& path)
{
    return Error(QStringLiteral("%1 に書き込めません").arg(path));
}

} // namespace

IniFile::IniFile(QByteArray content) : content_(std::move(content)) {}

IniFile IniFile::load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return IniFile();
    return IniFile(file.readAll());
}

QByteArray IniFile::readKey(const QString& path, const QByteArray& section, const QByteArray& key,
                            const QByteArray& defaultValue)
{
    return load(path).value(section, key, defaultValue);
}

void IniFile::writeKeys(const QString& path, const QByteArray& section, const KeysAndValues& keysAndValues)
{
    QByteArray content;
    QFile existing(path);
    if (existing.exists()) {
        // Rewriting a file we could not read would lose every other line in it.
        if (!existing.open(QIODevice::ReadOnly))
            throw writeError(path);
        content = existing.readAll();
        if (existing.error() != QFileDevice::NoError)
            throw writeError(path);
        existing.close();
    }

    IniFile ini(std::move(content));
    for (const auto& [key, value] : keysAndValues)
        ini.setValue(section, key, value);

    // QSaveFile writes beside the file and renames into place (after flushing to disk) only on
    // commit; on any failure the temporary file is dropped and the old file is left untouched.
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(ini.content_) != ini.content_.size() || !out.commit())
        throw writeError(path);
}

QByteArray IniFile::value(const QByteArray& section, const QByteArray& key, const QByteArray& defaultValue) const
{
    const QList<Line> lines = splitLines(content_);
    const qsizetype header = findSection(lines, section);
    if (header < 0)
        return defaultValue;
    for (qsizetype i = header + 1; i < lines.size(); ++i) {
        const Parsed p = classify(lines.at(i).text);
        if (p.kind == Kind::Section)
            break;
        if (p.kind == Kind::Key && sameName(p.name, key))
            return decodeValue(lines.at(i).text.mid(p.valueStart));
    }
    return defaultValue;
}

void IniFile::setValue(const QByteArray& section, const QByteArray& key, const QByteArray& value)
{
    Q_ASSERT(isPlainName(section, ']'));
    Q_ASSERT(isPlainName(key, '=') && !key.startsWith('[') && !key.startsWith(';'));

    QList<Line> lines = splitLines(content_);
    const QByteArray lineEnd = lineEndOf(lines);
    const QByteArray encoded = encodeValue(value);

    qsizetype header = findSection(lines, section);
    if (header < 0) {
        if (!lines.isEmpty() && lines.back().end.isEmpty())
            lines.back().end = lineEnd;
        lines.append({'[' + section + ']', lineEnd});
        header = lines.size() - 1;
    }

    qsizetype lastKeyLine = header;
    for (qsizetype i = header + 1; i < lines.size(); ++i) {
        const Parsed p = classify(lines.at(i).text);
        if (p.kind == Kind::Section)
            break;
        if (p.kind != Kind::Key)
            continue;
        if (sameName(p.name, key)) {
            // Keep the key as the file spells it, and its place; replace only what follows "=".
            lines[i].text = lines.at(i).text.left(p.valueStart) + encoded;
            content_ = joinLines(lines);
            return;
        }
        lastKeyLine = i;
    }

    // Only the file's last line can lack a line end.
    if (lines.at(lastKeyLine).end.isEmpty())
        lines[lastKeyLine].end = lineEnd;
    lines.insert(lastKeyLine + 1, {key + '=' + encoded, lineEnd});
    content_ = joinLines(lines);
}

} // namespace halvenna
