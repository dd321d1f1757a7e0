#include "report/TemplateEditor.h"

#include "data/Error.h"
#include "data/SjisText.h"
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
    qsizetype keyStart = 0;
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
        s.keyStart = keyStart;
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
    // Each change is a span of the line and what takes its place, made from the line's end backwards
    // so that the spans found stay true.
    struct Change
    {
        qsizetype start;
        qsizetype end;
        QByteArray text;
    };
    QList<Change> changes;
    for (const auto& [key, value] : values) {
        const QByteArray text = TemplateEditor::formatMm(value).toLatin1();
        const auto found = std::find_if(pairs.cbegin(), pairs.cend(), [&](const Span& s) { return s.key == key; });
        if (found == pairs.cend())
            added += ' ' + key + '=' + text;
        else
            changes.append({found->valueStart, found->valueEnd, text});
    }
    if (edit.dropPitch) {
        const auto found = std::find_if(pairs.cbegin(), pairs.cend(), [](const Span& s) { return s.key == "pitch"; });
        if (found != pairs.cend()) {
            // The pair goes with the blanks before it.
            qsizetype start = found->keyStart;
            while (start > 0 && isBlank(line.at(start - 1)))
                --start;
            changes.append({start, found->valueEnd, {}});
        }
    }
    std::sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) { return a.start > b.start; });
    line.insert(end, added);
    for (const Change& c : changes)
        line.replace(c.start, c.end - c.start, c.text);
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

bool sameItem(const TemplateText& a, const TemplateText& b)
{
    if (a.source != b.source)
        return false;
    return a.source == TemplateText::Source::Fixed ? a.fixed == b.fixed
                                                   : a.name.compare(b.name, Qt::CaseInsensitive) == 0;
}

bool sameMm(double a, double b)
{
    return std::abs(a - b) < 0.005;
}

QString itemName(const TemplateText& t)
{
    return t.source == TemplateText::Source::Fixed ? sjis::toUnicode(t.fixed) : t.name;
}

QString changedUnder(const QString& path, const QString& what)
{
    return QStringLiteral("%1 は、このプレビューで開いた後にほかで書き換えられています (%2)。"
                          "上書きしないよう、配置は保存しませんでした。プレビューを開き直してから動かしてください")
        .arg(path, what);
}

// The item in the file as it is now; an item gone or standing elsewhere than it was read means the
// file was changed by someone else, whose change a save would overwrite.
const TemplateText& findItem(const ReportTemplate& now, const ItemEdit& e, const QString& path)
{
    const auto report = std::find_if(now.reports().cbegin(), now.reports().cend(), [&](const TemplateReport& r) {
        return r.name.compare(e.report, Qt::CaseInsensitive) == 0;
    });
    if (report == now.reports().cend())
        throw Error(changedUnder(path, QStringLiteral("report %1 がありません").arg(e.report)));
    int seen = 0;
    for (const TemplateText& t : report->texts) {
        if (!sameItem(t, e.was) || seen++ != e.nth)
            continue;
        if (!sameMm(t.x, e.was.x) || !sameMm(t.y, e.was.y) || !sameMm(t.width, e.was.width) ||
            !sameMm(t.height, e.was.height) || !sameMm(t.pitch, e.was.pitch) || t.cells != e.was.cells)
            throw Error(changedUnder(path, QStringLiteral("%1 の位置か大きさが変わっています").arg(itemName(t))));
        return t;
    }
    throw Error(changedUnder(path, QStringLiteral("%1 がありません").arg(itemName(e.was))));
}

// A box the template cannot hold, told as what the user did: the item and the box asked for, and the
// rule it breaks (the reader's words without the file and line, which the user never typed).
QString refusal(const QString& message, const QList<ItemEdit>& edits, const QList<BoxEdit>& lines, const QString& path)
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString prefix = QStringLiteral("%1 の %2 行目: ").arg(path).arg(lines.at(i).line);
        if (!message.startsWith(prefix))
            continue;
        const ItemEdit& e = edits.at(i);
        QString box = QStringLiteral("x=%1 y=%2").arg(TemplateEditor::formatMm(e.x), TemplateEditor::formatMm(e.y));
        if (e.width)
            box += QStringLiteral(" 幅=%1").arg(TemplateEditor::formatMm(*e.width));
        if (e.height)
            box += QStringLiteral(" 高さ=%1").arg(TemplateEditor::formatMm(*e.height));
        return QStringLiteral("%1 を %2 mm にした配置は保存できません: %3。位置か大きさを変えてから保存してください")
            .arg(itemName(e.was), box, message.mid(prefix.size()));
    }
    return QStringLiteral("配置を保存できません: %1").arg(message);
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

ItemEdit ItemEdit::of(const ReportTemplate& file, int report, int text)
{
    const TemplateReport& r = file.reports().at(report);
    ItemEdit e;
    e.report = r.name;
    e.was = r.texts.at(text);
    for (int i = 0; i < text; ++i)
        if (sameItem(r.texts.at(i), e.was))
            ++e.nth;
    e.x = e.was.x;
    e.y = e.was.y;
    return e;
}

ReportTemplate TemplateEditor::save(const QString& path, const QList<ItemEdit>& edits)
{
    const QByteArray text = readTemplate(path);
    const ReportTemplate now = ReportTemplate::parse(text, path);
    QList<BoxEdit> lines;
    for (const ItemEdit& e : edits) {
        const TemplateText& t = findItem(now, e, path);
        BoxEdit b;
        b.line = t.line;
        b.x = e.x;
        b.y = e.y;
        b.width = e.width;
        b.height = e.height;
        b.dropPitch = t.cells > 0 && e.width;
        lines.append(b);
    }
    QByteArray out;
    try {
        out = edited(text, lines, path);
    } catch (const Error& refused) {
        throw Error(refusal(refused.message(), edits, lines, path));
    }
    ReportTemplate written = ReportTemplate::parse(out, path);
    replaceFile(path, out);
    return written;
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
