#include "report/ReportTemplate.h"

#include "data/Error.h"
#include "data/SjisText.h"

#include <QFile>
#include <QStringDecoder>

#include <cmath>
#include <initializer_list>
#include <optional>

namespace halvenna {

namespace {

// Bounds that keep every drawn thing on a sane scale whatever a file says.
constexpr double kMaxLength = 2000;  // mm: positions, widths, the page
constexpr double kMinPage = 10;      // mm
constexpr double kMinFontSize = 1;   // pt
constexpr double kMaxFontSize = 200; // pt
constexpr double kMinPitch = 0.1;    // mm
constexpr double kMinBox = 0.1;      // mm: a text's box
constexpr double kMaxCells = 100;
constexpr double kTolerance = 0.01;   // mm: rounding of figures taken from a drawing
constexpr double kMaxPitch = 100;     // mm
constexpr qsizetype kMaxName = 64;    // fields, parameters, connections, reports, fonts
constexpr qsizetype kMaxToken = 1000; // any one value, in characters

struct Pair
{
    QString key;
    QString value;
};

// One statement of the file: `keyword key=value key="value" ...`.
struct Statement
{
    QString keyword;
    QList<Pair> pairs;
    int line = 0;
};

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool isNameChar(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
}

} // namespace

class TemplateParser
{
public:
    explicit TemplateParser(const QString& path) : path_(path) {}

    ReportTemplate run(const QByteArray& text);

private:
    [[noreturn]] void fail(int line, const QString& message) const
    {
        throw Error(QStringLiteral("%1 の %2 行目: %3").arg(path_).arg(line).arg(message));
    }

    std::optional<Statement> tokenize(const QString& line, int number) const;

    // The values of one statement, looked up by key.
    class Values
    {
    public:
        Values(const TemplateParser& p, const Statement& s) : p_(p), s_(s) {}
        bool has(const char* key) const { return find(key) != nullptr; }
        QString text(const char* key, const QString& fallback = {}) const;
        QString name(const char* key) const; // a field, parameter or connection name
        double number(const char* key, double min, double max, std::optional<double> fallback) const;
        bool boolean(const char* key, bool fallback) const;
        void allow(std::initializer_list<const char*> keys) const;

    private:
        const Pair* find(const char* key) const;
        [[noreturn]] void fail(const QString& message) const { p_.fail(s_.line, message); }
        const TemplateParser& p_;
        const Statement& s_;
    };

    void page(const Statement& s);
    void report(const Statement& s);
    void text(const Statement& s, TemplateReport& r);
    void outline(const Statement& s, TemplateReport& r);
    TemplateReport& currentReport(const Statement& s);
    void checkOnSheet(const TemplateText& t) const;

    QString path_;
    ReportTemplate t_;
    int pageLine_ = 0;
    int activeLine_ = 0;
};

ReportTemplate TemplateParser::run(const QByteArray& text)
{
    t_.path_ = path_;
    QByteArrayView rest(text);
    if (rest.startsWith("\xEF\xBB\xBF"))
        rest = rest.sliced(3);
    int number = 0;
    while (!rest.isEmpty()) {
        ++number;
        const qsizetype end = rest.indexOf('\n');
        QByteArrayView raw = end < 0 ? rest : rest.first(end);
        rest = end < 0 ? QByteArrayView() : rest.sliced(end + 1);
        if (raw.endsWith('\r'))
            raw.chop(1);
        for (const char c : raw)
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F)
                fail(number, QStringLiteral("制御文字 (0x%1) があります")
                                 .arg(static_cast<unsigned char>(c), 2, 16, QLatin1Char('0')));
        QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        const QString line = decoder.decode(raw);
        if (decoder.hasError())
            fail(number, QStringLiteral("UTF-8 として読めない文字があります (ファイルは UTF-8 で保存します)"));

        const std::optional<Statement> s = tokenize(line, number);
        if (!s)
            continue;
        if (s->keyword == u"page")
            page(*s);
        else if (s->keyword == u"report")
            report(*s);
        else if (s->keyword == u"text")
            this->text(*s, currentReport(*s));
        else if (s->keyword == u"box" || s->keyword == u"line" || s->keyword == u"label")
            outline(*s, currentReport(*s));
        else
            fail(number, QStringLiteral("'%1' は page、report、text、box、line、label のどれでもありません")
                             .arg(s->keyword.left(kMaxName)));
    }
    const int last = qMax(number, 1);
    if (!pageLine_)
        fail(last, QStringLiteral("page (用紙の幅と高さ) がありません。page width=108 height=178 のように書きます"));
    if (t_.reports_.isEmpty())
        fail(last, QStringLiteral("report がありません"));
    // Every text's box stands on the sheet, so nothing drawn in it can run off the sheet. (The page
    // may be named after the texts.)
    for (const TemplateReport& r : std::as_const(t_.reports_))
        for (const TemplateText& t : r.texts)
            checkOnSheet(t);
    return std::move(t_);
}

std::optional<Statement> TemplateParser::tokenize(const QString& line, int number) const
{
    const qsizetype n = line.size();
    qsizetype i = 0;
    const auto skipBlanks = [&] {
        while (i < n && isBlank(line.at(i)))
            ++i;
    };
    const auto atEnd = [&] { return i >= n || line.at(i) == u'#'; };

    skipBlanks();
    if (atEnd())
        return std::nullopt;
    Statement s;
    s.line = number;
    const qsizetype start = i;
    while (i < n && isNameChar(line.at(i)))
        ++i;
    s.keyword = line.mid(start, i - start).toLower();
    if (s.keyword.isEmpty() || s.keyword.size() > kMaxName || (i < n && !isBlank(line.at(i)) && line.at(i) != u'#'))
        fail(number, QStringLiteral("行の始めに page、report、text、box、line、label のどれかを書きます"));

    for (;;) {
        skipBlanks();
        if (atEnd())
            break;
        const qsizetype keyStart = i;
        while (i < n && isNameChar(line.at(i)))
            ++i;
        Pair pair;
        pair.key = line.mid(keyStart, i - keyStart).toLower();
        if (pair.key.isEmpty() || pair.key.size() > kMaxName)
            fail(number, QStringLiteral("'%1' はキーではありません (キー=値 と書きます)").arg(line.mid(keyStart, 20)));
        skipBlanks();
        if (i >= n || line.at(i) != u'=')
            fail(number, QStringLiteral("'%1' の後に = がありません (%1=値 と書きます)").arg(pair.key));
        ++i;
        skipBlanks();
        if (i < n && line.at(i) == u'"') {
            ++i;
            bool closed = false;
            while (i < n) {
                const QChar c = line.at(i++);
                if (c == u'"') {
                    closed = true;
                    break;
                }
                if (c == u'\\' && i < n && (line.at(i) == u'"' || line.at(i) == u'\\'))
                    pair.value += line.at(i++);
                else
                    pair.value += c;
            }
            if (!closed)
                fail(number, QStringLiteral("'%1' の値の引用符 \" が閉じていません").arg(pair.key));
            if (i < n && !isBlank(line.at(i)) && line.at(i) != u'#')
                fail(number, QStringLiteral("'%1' の値の閉じる引用符の後に空白がありません").arg(pair.key));
        } else {
            const qsizetype valueStart = i;
            while (i < n && !isBlank(line.at(i)) && line.at(i) != u'#')
                ++i;
            pair.value = line.mid(valueStart, i - valueStart);
            // "x= y=0": what follows is the next key, not x's value. Bare values never hold "=".
            if (pair.value.isEmpty() || pair.value.contains(u'='))
                fail(number, QStringLiteral("'%1' に値がありません").arg(pair.key));
        }
        if (pair.value.size() > kMaxToken)
            fail(number, QStringLiteral("'%1' の値が長すぎます (%2 文字まで)").arg(pair.key).arg(kMaxToken));
        for (const Pair& p : std::as_const(s.pairs))
            if (p.key == pair.key)
                fail(number, QStringLiteral("'%1' が二度書かれています").arg(pair.key));
        s.pairs.append(pair);
    }
    return s;
}

const Pair* TemplateParser::Values::find(const char* key) const
{
    for (const Pair& p : s_.pairs)
        if (p.key == QLatin1String(key))
            return &p;
    return nullptr;
}

QString TemplateParser::Values::text(const char* key, const QString& fallback) const
{
    const Pair* p = find(key);
    return p ? p->value : fallback;
}

QString TemplateParser::Values::name(const char* key) const
{
    const Pair* p = find(key);
    if (!p)
        fail(QStringLiteral("%1 には %2= が要ります").arg(s_.keyword, QLatin1String(key)));
    bool ok = !p->value.isEmpty() && p->value.size() <= kMaxName;
    for (QChar c : p->value)
        ok = ok && isNameChar(c);
    if (!ok)
        fail(QStringLiteral("'%1' の値 '%2' は名前に使えません (英数字と _ で %3 文字まで)")
                 .arg(p->key, p->value.left(kMaxName))
                 .arg(kMaxName));
    return p->value;
}

double TemplateParser::Values::number(const char* key, double min, double max, std::optional<double> fallback) const
{
    const Pair* p = find(key);
    if (!p) {
        if (!fallback)
            fail(QStringLiteral("%1 には %2= が要ります").arg(s_.keyword, QLatin1String(key)));
        return *fallback;
    }
    // Plain decimals only: "12", "12.5", "-3", ".5"; no exponents, no commas, no units.
    const QString& v = p->value;
    qsizetype i = 0;
    if (i < v.size() && (v.at(i) == u'-' || v.at(i) == u'+'))
        ++i;
    int digits = 0;
    bool point = false;
    bool ok = v.size() <= 20;
    for (; ok && i < v.size(); ++i) {
        const QChar c = v.at(i);
        if (c >= u'0' && c <= u'9')
            ++digits;
        else if (c == u'.' && !point)
            point = true;
        else
            ok = false;
    }
    double value = 0;
    if (ok && digits > 0)
        value = v.toDouble(&ok);
    else
        ok = false;
    if (!ok || !std::isfinite(value))
        fail(QStringLiteral("'%1' の値 '%2' は数ではありません (12 や 12.5 のように書きます)").arg(p->key, v.left(20)));
    if (value < min || value > max)
        fail(QStringLiteral("'%1' の値 %2 は %3 から %4 までにしてください").arg(p->key, v).arg(min).arg(max));
    return value;
}

bool TemplateParser::Values::boolean(const char* key, bool fallback) const
{
    const Pair* p = find(key);
    if (!p)
        return fallback;
    const QString v = p->value.toLower();
    if (v == u"yes" || v == u"true")
        return true;
    if (v == u"no" || v == u"false")
        return false;
    fail(QStringLiteral("'%1' の値 '%2' は yes か no にしてください").arg(p->key, p->value.left(20)));
}

void TemplateParser::Values::allow(std::initializer_list<const char*> keys) const
{
    for (const Pair& p : s_.pairs) {
        bool known = false;
        for (const char* k : keys)
            known = known || p.key == QLatin1String(k);
        if (!known)
            fail(QStringLiteral("%1 に不明なキー '%2' があります").arg(s_.keyword, p.key));
    }
}

void TemplateParser::page(const Statement& s)
{
    if (pageLine_)
        fail(s.line, QStringLiteral("page は %1 行目にもう書かれています").arg(pageLine_));
    const Values v(*this, s);
    v.allow({"width", "height", "orientation"});
    t_.pageWidth_ = v.number("width", kMinPage, kMaxLength, std::nullopt);
    t_.pageHeight_ = v.number("height", kMinPage, kMaxLength, std::nullopt);
    const QString o = v.text("orientation", QStringLiteral("portrait")).toLower();
    if (o == u"portrait") {
        t_.orientation_ = PageOrientation::Portrait;
    } else if (o == u"landscape") {
        // The layout turns the sheet, so the long side runs across.
        if (t_.pageWidth_ < t_.pageHeight_)
            fail(s.line, QStringLiteral("orientation=landscape (横向き) では width を height 以上にしてください"));
        t_.orientation_ = PageOrientation::Landscape;
    } else {
        fail(s.line, QStringLiteral("'orientation' の値 '%1' は portrait か landscape にしてください").arg(o.left(20)));
    }
    pageLine_ = s.line;
}

void TemplateParser::report(const Statement& s)
{
    const Values v(*this, s);
    v.allow({"name", "connection", "active"});
    TemplateReport r;
    r.line = s.line;
    r.name = v.text("name");
    if (r.name.trimmed().isEmpty() || r.name.size() > kMaxName)
        fail(s.line, QStringLiteral("report には name= (%1 文字まで) が要ります").arg(kMaxName));
    for (const TemplateReport& other : std::as_const(t_.reports_))
        if (other.name.compare(r.name, Qt::CaseInsensitive) == 0)
            fail(s.line, QStringLiteral("report '%1' は %2 行目にもあります").arg(r.name).arg(other.line));
    r.connection = v.name("connection");
    r.active = v.boolean("active", false);
    if (r.active) {
        if (activeLine_)
            fail(s.line,
                 QStringLiteral("active=yes の report は %1 行目にもあります (一つだけにします)").arg(activeLine_));
        activeLine_ = s.line;
    }
    t_.reports_.append(r);
}

TemplateReport& TemplateParser::currentReport(const Statement& s)
{
    if (t_.reports_.isEmpty())
        fail(s.line, QStringLiteral("%1 は report の行の後に書きます").arg(s.keyword));
    return t_.reports_.last();
}

void TemplateParser::text(const Statement& s, TemplateReport& r)
{
    const Values v(*this, s);
    v.allow({"field", "param", "fixed", "x", "y", "width", "height", "font", "size", "bold", "align", "pitch", "cells",
             "fill", "caption"});
    TemplateText t;
    t.line = s.line;
    const int sources = int(v.has("field")) + int(v.has("param")) + int(v.has("fixed"));
    if (sources != 1)
        fail(s.line, QStringLiteral("text には field=、param=、fixed= のどれか一つを書きます"));
    if (v.has("field")) {
        t.source = TemplateText::Source::Field;
        t.name = v.name("field");
    } else if (v.has("param")) {
        t.source = TemplateText::Source::Param;
        t.name = v.name("param");
    } else {
        t.source = TemplateText::Source::Fixed;
        try {
            t.fixed = sjis::fromUnicode(v.text("fixed"));
        } catch (const Error& e) {
            fail(s.line, e.message());
        }
    }
    t.caption = v.text("caption", QString()).trimmed();
    if (t.caption.size() > kMaxName)
        fail(s.line, QStringLiteral("'caption' の値は %1 文字までにします").arg(kMaxName));
    t.x = v.number("x", -kMaxLength, kMaxLength, std::nullopt);
    t.y = v.number("y", -kMaxLength, kMaxLength, std::nullopt);
    if (v.has("width"))
        t.width = v.number("width", kMinBox, kMaxLength, std::nullopt);
    if (v.has("height"))
        t.height = v.number("height", kMinBox, kMaxLength, std::nullopt);
    t.font = v.text("font", ReportTemplate::defaultFont());
    if (t.font.trimmed().isEmpty() || t.font.size() > kMaxName)
        fail(s.line, QStringLiteral("'font' の値は %1 文字までの書体名にします").arg(kMaxName));
    t.size = v.number("size", kMinFontSize, kMaxFontSize, 10.0);
    t.bold = v.boolean("bold", false);
    const QString align = v.text("align", QStringLiteral("left")).toLower();
    if (align == u"left")
        t.align = TextAlign::Left;
    else if (align == u"right")
        t.align = TextAlign::Right;
    else if (align == u"center" || align == u"centre")
        t.align = TextAlign::Center;
    else
        fail(s.line, QStringLiteral("'align' の値 '%1' は left、right、center のどれかにします").arg(align.left(20)));
    if (v.has("pitch"))
        t.pitch = v.number("pitch", kMinPitch, kMaxPitch, std::nullopt);
    if (v.has("cells")) {
        t.cells = int(v.number("cells", 1, kMaxCells, std::nullopt));
        if (v.number("cells", 1, kMaxCells, std::nullopt) != t.cells)
            fail(s.line, QStringLiteral("cells は枠の数 (整数) にします"));
        if (v.has("align"))
            fail(s.line, QStringLiteral("cells= の文字は fill=right か fill=left で並べます (align= は使いません)"));
        const QString fill = v.text("fill", QStringLiteral("left")).toLower();
        if (fill == u"right")
            t.fillFromRight = true;
        else if (fill != u"left")
            fail(s.line, QStringLiteral("'fill' の値 '%1' は right か left にします").arg(fill.left(20)));
        if (t.width <= 0 && t.pitch <= 0)
            fail(s.line, QStringLiteral("cells= には枠全体の幅 width= か一枠の幅 pitch= が要ります"));
        if (t.pitch <= 0) {
            t.pitch = t.width / t.cells;
            // The cells a width divides into obey the same bounds as a pitch the file writes: narrower
            // has no room for a digit, wider is no cell of a form.
            if (t.pitch < kMinPitch)
                fail(s.line, QStringLiteral("cells=%1 の枠は width=%2 の箱では狭すぎます (一枠 %3 mm 以上)")
                                 .arg(t.cells)
                                 .arg(t.width)
                                 .arg(kMinPitch));
            if (t.pitch > kMaxPitch)
                fail(s.line, QStringLiteral("cells=%1 の枠は width=%2 の箱では広すぎます (一枠 %3 mm まで)")
                                 .arg(t.cells)
                                 .arg(t.width)
                                 .arg(kMaxPitch));
        } else if (t.width <= 0)
            t.width = t.pitch * t.cells;
        else if (t.pitch * t.cells > t.width + kTolerance)
            fail(s.line, QStringLiteral("cells=%1 の枠 (pitch=%2) は width=%3 の箱に収まりません")
                             .arg(t.cells)
                             .arg(t.pitch)
                             .arg(t.width));
    } else if (v.has("fill")) {
        fail(s.line, QStringLiteral("fill= は cells= と一緒に書きます"));
    }
    if (t.align != TextAlign::Left && t.width <= 0)
        fail(s.line, QStringLiteral("align=%1 には箱の幅 width= が要ります").arg(align));
    if (t.cells == 0 && t.align != TextAlign::Left && t.pitch > 0 && t.width < t.pitch)
        fail(s.line, QStringLiteral("width は pitch 以上にします (桁の数 = width ÷ pitch)"));
    r.texts.append(t);
}

void TemplateParser::checkOnSheet(const TemplateText& t) const
{
    const double right = t.x + (t.width > 0 ? t.width : 0);
    const double bottom = t.y + (t.height > 0 ? t.height : 0);
    if (t.x < -kTolerance || t.y < -kTolerance || right > t_.pageWidth_ + kTolerance ||
        bottom > t_.pageHeight_ + kTolerance || t.x >= t_.pageWidth_ || t.y >= t_.pageHeight_)
        fail(t.line, QStringLiteral("text の箱が用紙 (%1 × %2 mm) の外に出ています (左上 x=%3 y=%4、右下 x=%5 y=%6)")
                         .arg(t_.pageWidth_)
                         .arg(t_.pageHeight_)
                         .arg(t.x)
                         .arg(t.y)
                         .arg(t.width > 0 ? right : t_.pageWidth_)
                         .arg(bottom));
}

void TemplateParser::outline(const Statement& s, TemplateReport& r)
{
    const Values v(*this, s);
    TemplateOutline o;
    o.line = s.line;
    if (s.keyword == u"box") {
        v.allow({"x", "y", "width", "height"});
        o.kind = TemplateOutline::Kind::Box;
        o.x1 = v.number("x", -kMaxLength, kMaxLength, std::nullopt);
        o.y1 = v.number("y", -kMaxLength, kMaxLength, std::nullopt);
        o.x2 = o.x1 + v.number("width", 0, kMaxLength, std::nullopt);
        o.y2 = o.y1 + v.number("height", 0, kMaxLength, std::nullopt);
    } else if (s.keyword == u"line") {
        v.allow({"x1", "y1", "x2", "y2"});
        o.kind = TemplateOutline::Kind::Line;
        o.x1 = v.number("x1", -kMaxLength, kMaxLength, std::nullopt);
        o.y1 = v.number("y1", -kMaxLength, kMaxLength, std::nullopt);
        o.x2 = v.number("x2", -kMaxLength, kMaxLength, std::nullopt);
        o.y2 = v.number("y2", -kMaxLength, kMaxLength, std::nullopt);
    } else {
        v.allow({"text", "x", "y", "font", "size", "bold"});
        o.kind = TemplateOutline::Kind::Label;
        if (!v.has("text"))
            fail(s.line, QStringLiteral("label には text= が要ります"));
        o.text = v.text("text");
        o.x1 = v.number("x", -kMaxLength, kMaxLength, std::nullopt);
        o.y1 = v.number("y", -kMaxLength, kMaxLength, std::nullopt);
        o.font = v.text("font", ReportTemplate::defaultFont());
        if (o.font.trimmed().isEmpty() || o.font.size() > kMaxName)
            fail(s.line, QStringLiteral("'font' の値は %1 文字までの書体名にします").arg(kMaxName));
        o.size = v.number("size", kMinFontSize, kMaxFontSize, 7.0);
        o.bold = v.boolean("bold", false);
    }
    r.outline.append(o);
}

QString ReportTemplate::defaultFont()
{
    return QStringLiteral("ＭＳ Ｐゴシック");
}

ReportTemplate ReportTemplate::parse(const QByteArray& text, const QString& path)
{
    if (text.size() > kMaxFileSize)
        throw Error(QStringLiteral("%1 は大きすぎて読めません (%2 バイトまで)").arg(path).arg(kMaxFileSize));
    return TemplateParser(path).run(text);
}

ReportTemplate ReportTemplate::load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("%1 を読めません (%2)").arg(path, file.errorString()));
    // One byte past the limit tells a file that is too big from one that just fits.
    const QByteArray text = file.read(kMaxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        throw Error(QStringLiteral("%1 を読めません (%2)").arg(path, file.errorString()));
    return parse(text, path);
}

int ReportTemplate::defaultReport() const
{
    for (int i = 0; i < reports_.size(); ++i)
        if (reports_.at(i).active)
            return i;
    return 0;
}

} // namespace halvenna
