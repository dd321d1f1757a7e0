#include "report/TemplateEditor.h"

#include "data/Error.h"
#include "report/ReportTemplate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cmath>

namespace halvenna {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Where one key=value pair stands on a line: the value's first byte and one past its last.
struct Span
{
    QByteArray key; // lower case
    qsizetype valueStart = 0;
    qsizetype valueEnd = 0;
};

// The pairs of a statement line already read as a template, so well formed: a keyword, then
// key=value pairs, a value bare or in double quotes, a # starting a comment outside quotes.
// Returns the keyword; `end` is where the pairs end (before blanks and a comment).
QByteArray scan(const QByteArray& line, QList<Span>& pairs, qsizetype& end)
{
    const qsizetype n = line.size();
    qsizetype i = 0;
    const auto skipBlanks = [&] {
        while (i < n && isBlank(line.at(i)))
            ++i;
    };
    skipBlanks();
    const qsizetype start = i;
    while (i < n && isNameChar(line.at(i)))
        ++i;
    const QByteArray keyword = line.mid(start, i - start).toLower();
    end = i;
    for (;;) {
        skipBlanks();
        if (i >= n || line.at(i) == '#')
            break;
        const qsizetype keyStart = i;
        while (i < n && isNameChar(line.at(i)))
            ++i;
        Span s;
        s.key = line.mid(keyStart, i - keyStart).toLower();
        skipBlanks();
        if (i < n && line.at(i) == '=')
            ++i;
        skipBlanks();
        s.valueStart = i;
        if (i < n && line.at(i) == '"') {
            ++i;
            while (i < n && line.at(i) != '"') {
                if (line.at(i) == '\\' && i + 1 < n && (line.at(i + 1) == '"' || line.at(i + 1) == '\\'))
                    ++i;
                ++i;
            }
            if (i < n)
                ++i;
        } else {
            while (i < n && !isBlank(line.at(i)) && line.at(i) != '#')
                ++i;
        }
        s.valueEnd = i;
        end = i;
        pairs.append(s);
    }
    return keyword;
}

QByteArray editLine(QByteArray line, const BoxEdit& edit, const QString& path)
{
    QList<Span> pairs;
    qsizetype end = 0;
    if (scan(line, pairs, end) != "text")
        throw Error(
            QStringLiteral("%1 の %2 行目は text ではありません (ファイルが変わっています)").arg(path).arg(edit.line));
    QList<std::pair<QByteArray, double>> values{{"x", edit.x}, {"y", edit.y}};
    if (edit.width)
        values.append({"width", *edit.width});
    if (edit.height)
        values.append({"height", *edit.height});
    if (edit.pitch)
        values.append({"pitch", *edit.pitch});
    QByteArray added;
    // Replaced from the line's end backwards, so that the spans found stay true.
    QList<std::pair<Span, QByteArray>> replaced;
    for (const auto& [key, value] : values) {
        const QByteArray text = TemplateEditor::formatMm(value).toLatin1();
        const auto found = std::find_if(pairs.cbegin(), pairs.cend(), [&](const Span& s) { return s.key == key; });
        if (found == pairs.cend())
            added += ' ' + key + '=' + text;
        else
            replaced.append({*found, text});
    }
    std::sort(replaced.begin(), replaced.end(),
              [](const auto& a, const auto& b) { return a.first.valueStart > b.first.valueStart; });
    line.insert(end, added);
    for (const auto& [span, text] : replaced)
        line.replace(span.valueStart, span.valueEnd - span.valueStart, text);
    return line;
}

Error writeError(const QString& path)
{
    return Error(QStringLiteral("%1 に書き込めません").arg(path));
}

QByteArray readTemplate(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("%1 を読めません (%2)").arg(path, file.errorString()));
    const QByteArray text = file.read(ReportTemplate::kMaxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        throw Error(QStringLiteral("%1 を読めません (%2)").arg(path, file.errorString()));
    return text;
}

void replaceFile(const QString& path, const QByteArray& text)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        throw writeError(path);
}

} // namespace

QString TemplateEditor::formatMm(double mm)
{
    QString s = QString::number(std::round(mm * 100) / 100, 'f', 2);
    while (s.endsWith(u'0'))
        s.chop(1);
    if (s.endsWith(u'.'))
        s.chop(1);
    return s == QLatin1String("-0") ? QStringLiteral("0") : s;
}

QByteArray TemplateEditor::edited(const QByteArray& text, const QList<BoxEdit>& edits, const QString& path)
{
    // Lines split on LF only: a CR stays with its line, so CR LF files keep their line ends.
    QList<QByteArray> lines = text.split('\n');
    const bool bom = text.startsWith("\xEF\xBB\xBF");
    for (const BoxEdit& edit : edits) {
        if (edit.line < 1 || edit.line > lines.size())
            throw Error(
                QStringLiteral("%1 に %2 行目がありません (ファイルが変わっています)").arg(path).arg(edit.line));
        QByteArray& line = lines[edit.line - 1];
        const qsizetype skip = edit.line == 1 && bom ? 3 : 0;
        const bool cr = line.endsWith('\r');
        QByteArray body = line.mid(skip, line.size() - skip - (cr ? 1 : 0));
        line = line.left(skip) + editLine(body, edit, path) + (cr ? "\r" : "");
    }
    const QByteArray out = lines.join('\n');
    (void)ReportTemplate::parse(out, path);
    return out;
}

void TemplateEditor::save(const QString& path, const QList<BoxEdit>& edits)
{
    replaceFile(path, edited(readTemplate(path), edits, path));
}

QString TemplateEditor::pristinePath(const QString& path)
{
    const QFileInfo info(path);
    return info.dir().filePath(QStringLiteral("templates/") + info.fileName());
}

void TemplateEditor::restore(const QString& path)
{
    const QString shipped = pristinePath(path);
    const QByteArray text = readTemplate(shipped);
    (void)ReportTemplate::parse(text, shipped);
    replaceFile(path, text);
}

} // namespace halvenna
