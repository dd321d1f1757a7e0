#include "report/ReportDocument.h"

#include "data/Error.h"
#include "data/SjisText.h"

#include <QFileInfo>
#include <QFontMetricsF>
#include <QIODevice>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <array>
#include <cmath>

namespace halvenna {

namespace {

bool isBlankChar(QChar c)
{
    return c == u' ' || c == u'\u3000';
}

// One character of a text, a surrogate pair kept whole.
QStringList characters(const QString& text)
{
    QStringList out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype len = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        out << text.mid(i, len);
        i += len - 1;
    }
    return out;
}

// The text's length in code page 932 bytes, which its byte steps count.
qsizetype byteCount(QStringView text)
{
    qsizetype n = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype len = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        n += sjis::byteWidth(text.mid(i, len));
        i += len - 1;
    }
    return n;
}

QFont atSize(const QFont& font, double size)
{
    if (qFuzzyCompare(font.pointSizeF(), size))
        return font;
    QFont f = font;
    f.setPointSizeF(size);
    return f;
}

// Passes a PDF through to the file, its pages' MediaBox set to the sheet's exact size: Qt writes the
// box in whole points (an 180 × 114 mm slip as 179.92 × 113.95 mm). The box given instead keeps
// Qt's top edge, where the drawing is measured from, and reaches down and right by exactly the
// sheet; it is padded to the length of Qt's, so that no offset in the file moves.
class ExactMediaBox : public QIODevice
{
public:
    ExactMediaBox(QIODevice& out, const QPageLayout& layout) : out_(out)
    {
        const QRect whole = layout.fullRectPoints();
        // Points as Qt keeps them are whole; the sheet's millimetres are not.
        const QSizeF exact = layout.fullRect(QPageLayout::Millimeter).size() * (72 / 25.4);
        from_ = "/MediaBox [0 0 " + QByteArray::number(double(whole.width()), 'f') + ' ' +
                QByteArray::number(double(whole.height()), 'f') + ']';
        QByteArray to = "/MediaBox [0 " + QByteArray::number(whole.height() - exact.height(), 'f', 4) + ' ' +
                        QByteArray::number(exact.width(), 'f', 4) + ' ' + QByteArray::number(whole.height());
        if (to.size() < from_.size())
            to_ = to + QByteArray(from_.size() - to.size() - 1, ' ') + ']';
        else
            from_.clear(); // cannot happen with a sheet of up to 2000 mm; the box stays Qt's then
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    // Writes what is held back; false when the file refused it.
    bool finish()
    {
        const bool written = pending_.isEmpty() || out_.write(pending_) == pending_.size();
        pending_.clear();
        return written;
    }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override
    {
        pending_.append(data, size);
        if (from_.isEmpty())
            return finish() ? size : -1;
        pending_.replace(from_, to_);
        // The end may hold the start of a box whose rest comes with the next write.
        const qsizetype keep = qMin<qsizetype>(pending_.size(), from_.size() - 1);
        const qsizetype out = pending_.size() - keep;
        if (out > 0 && out_.write(pending_.constData(), out) != out)
            return -1;
        pending_.remove(0, out);
        return size;
    }

private:
    QIODevice& out_;
    QByteArray from_;
    QByteArray to_;
    QByteArray pending_;
};

} // namespace

bool printsAny(const TemplateReport& report, const QStringList& fields)
{
    for (const TemplateText& t : report.texts)
        if (t.source == TemplateText::Source::Field && fields.contains(t.name, Qt::CaseInsensitive))
            return true;
    return false;
}

ReportDocument::ReportDocument(std::shared_ptr<const ReportTemplate> reportTemplate, int report,
                               const ReportParams& params, ReportRows rows, SheetRules rules)
    : template_(std::move(reportTemplate)), report_(report), params_(params), rows_(std::move(rows)),
      rules_(std::move(rules))
{
    const TemplateReport& r = this->report();
    const ReportTemplate& t0 = *template_;
    memberNoField_ = rules_.keyField.isEmpty() ? -1 : rows_.fieldIndex(rules_.keyField);
    for (const SheetRules::Check& check : rules_.checks)
        checkFields_.push_back(printsAny(r, check.printedWith) ? rows_.fieldIndex(check.field) : -1);
    items_.reserve(size_t(r.texts.size()));
    for (const TemplateText& t : r.texts) {
        Item item;
        item.text = &t;
        item.font = reportFont(t.font, t.size, t.bold);
        item.measure = std::make_shared<const FontMeasure>(item.font);
        // The box: a width not given reaches to the sheet's edge, a height not given is one line.
        const double width = t.width > 0 ? t.width : qMax(0.0, t0.pageWidth() - t.x);
        const double height = t.height > 0 ? t.height : item.measure->lineHeight(t.size);
        item.box = QRectF(t.x, t.y, width, height);
        item.pitch = t.pitch;
        switch (t.source) {
        case TemplateText::Source::Field:
            item.field = rows_.fieldIndex(t.name);
            break;
        case TemplateText::Source::Param:
            // A parameter that was never set prints nothing.
            for (const auto& [name, value] : params)
                if (name.compare(t.name, Qt::CaseInsensitive) == 0)
                    item.bytes = value;
            break;
        case TemplateText::Source::Fixed:
            item.bytes = t.fixed;
            break;
        }
        item.unicode = sjis::toUnicode(item.bytes);
        items_.push_back(std::move(item));
    }
}

QPageLayout ReportDocument::pageLayout() const
{
    const ReportTemplate& t = *template_;
    const bool landscape = t.orientation() == PageOrientation::Landscape;
    // A landscape layout is given its sheet upright; the layout turns it back.
    const QSizeF sheet = landscape ? QSizeF(t.pageHeight(), t.pageWidth()) : QSizeF(t.pageWidth(), t.pageHeight());
    QPageLayout layout(QPageSize(sheet, QPageSize::Millimeter, QString(), QPageSize::ExactMatch),
                       landscape ? QPageLayout::Landscape : QPageLayout::Portrait, QMarginsF(),
                       QPageLayout::Millimeter);
    layout.setMode(QPageLayout::FullPageMode);
    return layout;
}

QString ReportDocument::sheetSize() const
{
    return QStringLiteral("%1 × %2 mm")
        .arg(QString::number(template_->pageWidth()), QString::number(template_->pageHeight()));
}

QString ReportDocument::title() const
{
    return QFileInfo(template_->path()).completeBaseName();
}

QRectF ReportDocument::itemBox(int item) const
{
    return items_.at(size_t(item)).box;
}

QString ReportDocument::textOf(int page, const Item& item) const
{
    if (item.field < 0)
        return item.unicode;
    return rows_.text(page, item.field).toString();
}

// How one item is set on one sheet. Digit cells and byte steps are placed character by character
// (forEachText); here they only tell whether everything found a place.
ReportDocument::SetText ReportDocument::setText(int page, int index) const
{
    const Item& item = items_[size_t(index)];
    const TemplateText& t = *item.text;
    SetText s;
    const QString text = textOf(page, item);
    if (text.isEmpty())
        return s;
    s.size = float(t.size);
    s.lines = 1;
    if (t.cells > 0) {
        qsizetype count = 0;
        double widest = 0;
        for (const QString& ch : characters(text)) {
            if (ch.size() == 1 && isBlankChar(ch.at(0)))
                continue;
            ++count;
            widest = qMax(widest, item.measure->width(ch));
        }
        // A character wider than its cell is condensed, as far as a text may be.
        const double stretch = widest > item.pitch ? qMax(TextFit::kMinStretch, item.pitch / widest) : 1.0;
        s.stretch[0] = float(stretch);
        s.lines = count > 0 ? 1 : 0;
        s.clipped = count > t.cells;
        return s;
    }
    if (item.pitch > 0) {
        const qsizetype bytes = byteCount(text);
        const qsizetype steps = qMax<qsizetype>(1, qRound64(item.box.width() / item.pitch));
        qsizetype start = 0;
        if (t.align == TextAlign::Right)
            start = steps - bytes;
        else if (t.align == TextAlign::Center)
            start = (steps - bytes) / 2;
        // A character is left out when its place (the middle of its steps) is outside the box.
        const qsizetype firstByte = qMax<qsizetype>(0, -start);
        const qsizetype lastByte = qMin<qsizetype>(bytes, steps - start);
        s.clipped = firstByte > 0 || lastByte < bytes;
        return s;
    }
    const TextFit fit = item.measure->fit(text, item.box.width(), item.box.height());
    s.size = float(fit.size);
    s.lines = qint8(fit.lines);
    s.breakAt = qint32(fit.breakAt);
    s.stretch[0] = float(fit.stretch[0]);
    s.stretch[1] = float(fit.stretch[1]);
    s.width[0] = float(fit.width[0]);
    s.width[1] = float(fit.width[1]);
    s.clipped = fit.clipped;
    return s;
}

void ReportDocument::ensureSet() const
{
    if (setDone_)
        return;
    const size_t n = items_.size();
    setOnce_.assign(n, SetText{});
    for (size_t i = 0; i < n; ++i)
        if (items_[i].field < 0)
            setOnce_[i] = setText(0, int(i));
    set_.assign(size_t(pageCount()) * n, SetText{});
    for (int page = 0; page < pageCount(); ++page)
        for (size_t i = 0; i < n; ++i)
            if (items_[i].field >= 0)
                set_[size_t(page) * n + i] = setText(page, int(i));
    setDone_ = true;
    collectMisfits();
}

void ReportDocument::collectMisfits() const
{
    const size_t n = items_.size();
    misfits_.clear();
    for (int page = 0; page < pageCount(); ++page) {
        Misfit m;
        for (size_t i = 0; i < n; ++i) {
            const SetText& s = items_[i].field < 0 ? setOnce_[i] : set_[size_t(page) * n + i];
            if (s.clipped && !m.items.contains(itemCaption(int(i))))
                m.items << itemCaption(int(i));
        }
        if (!testSheet_ && page < rows_.rowCount())
            for (size_t c = 0; c < checkFields_.size(); ++c)
                if (checkFields_[c] >= 0)
                    if (const QString problem =
                            rules_.checks.at(qsizetype(c)).problem(rows_.text(page, checkFields_[c]));
                        !problem.isEmpty())
                        m.items << problem;
        if (!m.items.isEmpty()) {
            m.sheet = page;
            if (memberNoField_ >= 0)
                m.memberNo = rows_.text(page, memberNoField_).toString();
            misfits_.append(m);
        }
    }
}

void ReportDocument::setItemBox(int index, const QRectF& box)
{
    Item& item = items_.at(size_t(index));
    const TemplateText& t = *item.text;
    // Digit cells keep their number: a wider box has wider cells.
    if (t.cells > 0)
        item.pitch = box.width() / t.cells;
    item.box = box;
    if (!setDone_)
        return;
    // Only this item is set again; the others stand as they were.
    if (item.field < 0) {
        setOnce_[size_t(index)] = setText(0, index);
    } else {
        const size_t n = items_.size();
        for (int page = 0; page < pageCount(); ++page)
            set_[size_t(page) * n + size_t(index)] = setText(page, index);
    }
    collectMisfits();
}

QString ReportDocument::itemName(int index) const
{
    const TemplateText& t = *items_.at(size_t(index)).text;
    return t.source == TemplateText::Source::Fixed ? items_.at(size_t(index)).unicode : t.name;
}

QString ReportDocument::itemCaption(int index) const
{
    const QString& caption = items_.at(size_t(index)).text->caption;
    return caption.isEmpty() ? itemName(index) : caption;
}

const ReportDocument::SetText& ReportDocument::setTextCached(int page, int item) const
{
    ensureSet();
    if (items_[size_t(item)].field < 0)
        return setOnce_[size_t(item)];
    return set_[size_t(page) * items_.size() + size_t(item)];
}

const QList<ReportDocument::Misfit>& ReportDocument::misfits() const
{
    ensureSet();
    return misfits_;
}

bool ReportDocument::misfit(int page, int item) const
{
    if (page < 0 || page >= pageCount() || item < 0 || item >= int(items_.size()))
        return false;
    return setTextCached(page, item).clipped;
}

// The fonts of the items measured on one device: placing a character in its cell or a text in its
// box takes the device's own advances, so that it lands exactly where the template says.
struct ReportDocument::DeviceMetrics
{
    int dpiX = 0;
    int dpiY = 0;
    qreal perMmX = 0;
    qreal perMmY = 0;
    std::vector<QFontMetricsF> fonts;          // one per item, at its own size
    std::vector<std::array<qreal, 128>> ascii; // per item: single-byte characters' advances, < 0 not yet
    std::vector<qreal> ascents;                // per item, at its own size
    const QPaintDevice* device = nullptr;

    // The advance of text in an item's font at a size, in device pixels. The digits and letters of
    // the cells are measured once per item.
    qreal advance(int item, const QFont& font, double size, const QString& text)
    {
        if (!qFuzzyCompare(font.pointSizeF(), size))
            return QFontMetricsF(atSize(font, size), device).horizontalAdvance(text);
        if (text.size() == 1 && text.at(0).unicode() < 128) {
            qreal& a = ascii[size_t(item)][text.at(0).unicode()];
            if (a < 0)
                a = fonts[size_t(item)].horizontalAdvance(text);
            return a;
        }
        return fonts[size_t(item)].horizontalAdvance(text);
    }
    qreal ascent(int item, const QFont& font, double size) const
    {
        if (qFuzzyCompare(font.pointSizeF(), size))
            return ascents[size_t(item)];
        return QFontMetricsF(atSize(font, size), device).ascent();
    }
};

ReportDocument::DeviceMetrics& ReportDocument::metricsFor(const QPaintDevice& device) const
{
    if (metrics_ && metrics_->dpiX == device.logicalDpiX() && metrics_->dpiY == device.logicalDpiY()) {
        metrics_->device = &device;
        return *metrics_;
    }
    auto m = std::make_shared<DeviceMetrics>();
    m->dpiX = device.logicalDpiX();
    m->dpiY = device.logicalDpiY();
    m->perMmX = m->dpiX / 25.4;
    m->perMmY = m->dpiY / 25.4;
    m->device = &device;
    m->fonts.reserve(items_.size());
    for (const Item& item : items_) {
        m->fonts.emplace_back(item.font, &device);
        m->ascents.push_back(m->fonts.back().ascent());
        m->ascii.emplace_back();
        m->ascii.back().fill(-1);
    }
    metrics_ = std::move(m);
    return *metrics_;
}

template <typename Sink> void ReportDocument::forEachText(int page, const QPaintDevice& device, Sink&& sink) const
{
    if (page < 0 || page >= pageCount())
        return;
    DeviceMetrics& m = metricsFor(device);
    const qreal perMmX = m.perMmX;
    const qreal perMmY = m.perMmY;
    for (size_t i = 0; i < items_.size(); ++i) {
        const Item& item = items_[i];
        const TemplateText& t = *item.text;
        const SetText& s = setTextCached(page, int(i));
        if (s.lines == 0)
            continue;
        const QString text = textOf(page, item);
        const FontMeasure& fm = *item.measure;
        const QRectF box = item.box;
        const QRectF boxPx(box.left() * perMmX, box.top() * perMmY, box.width() * perMmX, box.height() * perMmY);

        if (t.cells > 0 || item.pitch > 0) {
            // One character per cell (or per byte step), each centred on its place, the line centred
            // in the box's height. A character whose place lies outside the box is left out (the
            // sheet is marked); one whose advance reaches past the box's edge is clipped there.
            const double top = box.top() + (box.height() - fm.lineHeight(t.size)) / 2;
            const qreal baseline = top * perMmY + m.ascent(int(i), item.font, t.size);
            const auto place = [&](const QString& ch, double centre) {
                if (centre < box.left() - 0.005 || centre > box.right() + 0.005)
                    return;
                const qreal w = m.advance(int(i), item.font, t.size, ch) * s.stretch[0];
                const qreal left = centre * perMmX - w / 2;
                const bool over = left < boxPx.left() - 0.01 || left + w > boxPx.right() + 0.01;
                sink(PlacedText{int(i), QPointF(left, baseline), ch, t.size, s.stretch[0], over ? boxPx : QRectF()});
            };
            if (t.cells > 0) {
                QStringList chars = characters(text);
                chars.removeIf([](const QString& ch) { return ch.size() == 1 && isBlankChar(ch.at(0)); });
                const qsizetype n = chars.size();
                // Filled from the right, the characters beyond the cells are the first ones.
                const qsizetype first = t.fillFromRight ? qMax<qsizetype>(0, n - t.cells) : 0;
                const qsizetype shown = qMin<qsizetype>(n, t.cells);
                const qsizetype startCell = t.fillFromRight ? t.cells - shown : 0;
                for (qsizetype k = 0; k < shown; ++k)
                    place(chars.at(first + k), box.left() + (double(startCell + k) + 0.5) * item.pitch);
                continue;
            }
            // Byte steps: byte k of the text stands in step start + k; a double-byte character takes two.
            const QStringList chars = characters(text);
            const qsizetype n = byteCount(text);
            const qsizetype steps = qMax<qsizetype>(1, qRound64(box.width() / item.pitch));
            qsizetype start = 0;
            if (t.align == TextAlign::Right)
                start = steps - n;
            else if (t.align == TextAlign::Center)
                start = (steps - n) / 2;
            qsizetype k = 0;
            for (const QString& ch : chars) {
                const int len = sjis::byteWidth(ch);
                if (ch != u" ")
                    place(ch, box.left() + (double(start + k) + double(len) / 2) * item.pitch);
                k += len;
            }
            continue;
        }

        // Lines set into the box: sized and condensed as decided for every device alike, placed by
        // the device's own advances; a line that the device's rounding leaves a hair too wide is
        // clipped at the box, as is a text that did not fit.
        TextFit fit;
        fit.lines = s.lines;
        fit.breakAt = s.breakAt;
        const std::array<QString, 2> lines = fit.lineTexts(text);
        const double lineHeight = fm.lineHeight(s.size);
        const double top = box.top() + (box.height() - s.lines * lineHeight) / 2;
        for (int l = 0; l < s.lines; ++l) {
            const QString& line = lines[size_t(l)];
            // Left-aligned text well inside its box needs no measuring.
            const bool measure = t.align != TextAlign::Left || s.clipped || s.width[l] > box.width() - 0.2;
            double stretch = s.stretch[l];
            qreal w = measure ? m.advance(int(i), item.font, s.size, line) * stretch : 0;
            // A text that fits, made a hair wider by the device's rounding, is condensed by that hair.
            if (!s.clipped && w > boxPx.width()) {
                stretch *= boxPx.width() / w;
                w = boxPx.width();
            }
            qreal x = boxPx.left();
            if (t.align != TextAlign::Left) {
                const qreal room = boxPx.width() - w;
                x += t.align == TextAlign::Right ? room : room / 2;
            }
            const bool over = s.clipped || (measure && (x < boxPx.left() - 0.01 || x + w > boxPx.right() + 0.01));
            const qreal baseline = (top + l * lineHeight) * perMmY + m.ascent(int(i), item.font, s.size);
            sink(PlacedText{int(i), QPointF(x, baseline), line, s.size, stretch, over ? boxPx : QRectF()});
        }
    }
}

void ReportDocument::layoutPage(int page, const QPaintDevice& device, const TextSink& sink) const
{
    forEachText(page, device, sink);
}

void ReportDocument::drawPage(QPainter& painter, int page, bool outline, bool markMisfits) const
{
    if (testSheet_) {
        if (page == 0)
            drawTestSheet(painter);
        return;
    }
    if (outline)
        drawOutline(painter);
    const QPaintDevice& device = *painter.device();
    painter.setPen(Qt::black);
    int currentItem = -1;
    double currentSize = 0;
    forEachText(page, device, [&](const PlacedText& p) {
        if (p.item != currentItem || p.pointSize != currentSize) {
            painter.setFont(atSize(items_[size_t(p.item)].font, p.pointSize));
            currentItem = p.item;
            currentSize = p.pointSize;
        }
        if (p.stretch == 1 && p.clip.isEmpty()) {
            painter.drawText(p.at, p.text);
            return;
        }
        painter.save();
        if (!p.clip.isEmpty())
            painter.setClipRect(p.clip, Qt::IntersectClip);
        if (p.stretch == 1) {
            painter.drawText(p.at, p.text);
        } else {
            painter.translate(p.at);
            painter.scale(p.stretch, 1);
            painter.drawText(QPointF(0, 0), p.text);
        }
        painter.restore();
    });
    if (markMisfits)
        drawMarks(painter, page);
}

ReportDocument ReportDocument::testSheet(std::shared_ptr<const ReportTemplate> reportTemplate)
{
    const int report = reportTemplate->defaultReport();
    ReportDocument d(std::move(reportTemplate), report, {}, ReportRows());
    d.testSheet_ = true;
    return d;
}

ReportDocument ReportDocument::withTemplate(std::shared_ptr<const ReportTemplate> reportTemplate) const
{
    if (testSheet_)
        return testSheet(std::move(reportTemplate));
    const QString name = report().name;
    int report = reportTemplate->defaultReport();
    for (int i = 0; i < reportTemplate->reports().size(); ++i)
        if (reportTemplate->reports().at(i).name.compare(name, Qt::CaseInsensitive) == 0)
            report = i;
    return ReportDocument(std::move(reportTemplate), report, params_, rows_, rules_);
}

QList<QPointF> ReportDocument::testSheetMarks() const
{
    const double w = template_->pageWidth();
    const double h = template_->pageHeight();
    return {{10, 10}, {w - 10, 10}, {10, h - 10}, {w - 10, h - 10}, {std::round(w / 2), std::round(h / 2)}};
}

void ReportDocument::drawTestSheet(QPainter& painter) const
{
    const QPaintDevice& device = *painter.device();
    const qreal sx = device.logicalDpiX() / 25.4;
    const qreal sy = device.logicalDpiY() / 25.4;
    const double w = template_->pageWidth();
    const double h = template_->pageHeight();
    painter.save();
    QPen thin(Qt::black);
    thin.setWidthF(0.1 * sx);
    painter.setPen(thin);
    painter.setBrush(Qt::NoBrush);
    // The form's own print and every text's box, where the template puts them.
    drawOutline(painter);
    painter.setPen(thin);
    for (const Item& item : items_) {
        const QRectF b = item.box;
        painter.drawRect(QRectF(b.left() * sx, b.top() * sy, b.width() * sx, b.height() * sy));
    }
    // A millimetre ruler along the top and the left, each on a line kTestSheetMargin in from its edge,
    // where a printer can print (few reach a sheet's very edge, and a sheet moved up or left by the
    // fitting would lose ticks drawn there): a tick a millimetre, longer every 5 and 10, numbered every
    // 10 by the distance from the sheet's left or top edge. Measured on the printed sheet, the line's
    // distance from the edge less kTestSheetMargin is the print's shift.
    const double m = kTestSheetMargin;
    const QFont numbers = reportFont(ReportTemplate::defaultFont(), 5, false);
    painter.setFont(numbers);
    const QFontMetricsF fm(numbers, &device);
    const auto tick = [](int mm) { return mm % 10 == 0 ? 4.0 : mm % 5 == 0 ? 2.5 : 1.5; };
    painter.drawLine(QPointF(m * sx, m * sy), QPointF((w - m) * sx, m * sy));
    painter.drawLine(QPointF(m * sx, m * sy), QPointF(m * sx, (h - m) * sy));
    for (int x = int(std::ceil(m)); x <= w - m; ++x) {
        painter.drawLine(QPointF(x * sx, m * sy), QPointF(x * sx, (m + tick(x)) * sy));
        if (x % 10 == 0)
            painter.drawText(
                QPointF(x * sx - fm.horizontalAdvance(QString::number(x)) / 2, (m + 4.2) * sy + fm.ascent()),
                QString::number(x));
    }
    for (int y = int(std::ceil(m)); y <= h - m; ++y) {
        painter.drawLine(QPointF(m * sx, y * sy), QPointF((m + tick(y)) * sx, y * sy));
        if (y % 10 == 0)
            painter.drawText(QPointF((m + 4.4) * sx, y * sy + fm.ascent() / 2), QString::number(y));
    }
    // How to read them, above the bottom margin, clear of the corner's crosshair and its figures.
    const QString margin = QString::number(m);
    const QStringList help{QStringLiteral("目盛り: 用紙の左端・上端からの mm"),
                           QStringLiteral("上の線は上端から %1 mm、左の線は左端から %1 mm").arg(margin),
                           QStringLiteral("ずれ = 端から線までの長さ - %1 mm").arg(margin)};
    for (qsizetype i = 0; i < help.size(); ++i)
        painter.drawText(QPointF((m + 14) * sx, (h - m - 1) * sy - (help.size() - 1 - i) * fm.lineSpacing()),
                         help.at(i));
    // Crosshairs 10 mm long at known places, each with its position.
    for (const QPointF& c : testSheetMarks()) {
        painter.drawLine(QPointF((c.x() - 5) * sx, c.y() * sy), QPointF((c.x() + 5) * sx, c.y() * sy));
        painter.drawLine(QPointF(c.x() * sx, (c.y() - 5) * sy), QPointF(c.x() * sx, (c.y() + 5) * sy));
        painter.drawEllipse(QPointF(c.x() * sx, c.y() * sy), 2 * sx, 2 * sy);
        painter.drawText(QPointF((c.x() + 1) * sx, (c.y() - 1) * sy), QStringLiteral("%1,%2").arg(c.x()).arg(c.y()));
    }
    painter.restore();
}

void ReportDocument::drawMarks(QPainter& painter, int page) const
{
    if (page < 0 || page >= pageCount())
        return;
    const QPaintDevice& device = *painter.device();
    const qreal sx = device.logicalDpiX() / 25.4;
    const qreal sy = device.logicalDpiY() / 25.4;
    painter.save();
    QPen pen(QColor(220, 0, 0));
    pen.setWidthF(qMax<qreal>(1, 0.3 * sx));
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    for (size_t i = 0; i < items_.size(); ++i) {
        if (!misfit(page, int(i)))
            continue;
        const QRectF b = items_[i].box;
        painter.drawRect(QRectF(b.left() * sx, b.top() * sy, b.width() * sx, b.height() * sy));
    }
    painter.restore();
}

void ReportDocument::drawOutline(QPainter& painter) const
{
    const QPaintDevice& device = *painter.device();
    const qreal sx = device.logicalDpiX() / 25.4;
    const qreal sy = device.logicalDpiY() / 25.4;
    painter.save();
    // The colour of a form's own print, in hairlines, so the data stands out against it.
    const QColor ink(232, 120, 96);
    QPen pen(ink);
    pen.setWidthF(qMax<qreal>(1, 0.15 * sx));
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    for (const TemplateOutline& o : report().outline) {
        switch (o.kind) {
        case TemplateOutline::Kind::Box:
            painter.drawRect(QRectF(QPointF(o.x1 * sx, o.y1 * sy), QPointF(o.x2 * sx, o.y2 * sy)));
            break;
        case TemplateOutline::Kind::Line:
            painter.drawLine(QPointF(o.x1 * sx, o.y1 * sy), QPointF(o.x2 * sx, o.y2 * sy));
            break;
        case TemplateOutline::Kind::Label: {
            const QFont f = reportFont(o.font, o.size, o.bold);
            painter.setFont(f);
            painter.drawText(QPointF(o.x1 * sx, o.y1 * sy + QFontMetricsF(f, &device).ascent()), o.text);
            break;
        }
        }
    }
    painter.restore();
}

bool ReportDocument::print(QPagedPaintDevice& device, int from, int to, int copies, const Progress& progress,
                           QPointF offsetMm) const
{
    from = qMax(0, from);
    to = qMin(to, pageCount() - 1);
    copies = qMax(1, copies);
    const int total = to >= from ? (to - from + 1) * copies : 0;
    // Refused, the device would keep its own paper and the sheets would land off the form.
    if (!device.setPageLayout(pageLayout()))
        throw Error(QStringLiteral("%1 を出力できません (%2 の用紙に設定できません)").arg(title(), sheetSize()));
    QPainter painter;
    if (!painter.begin(&device))
        throw Error(QStringLiteral("%1 を出力できません (出力先を開けません)").arg(title()));
    int done = 0;
    for (int c = 0; c < copies && done < total; ++c) {
        for (int page = from; page <= to; ++page) {
            if (done > 0 && !device.newPage()) {
                painter.end();
                throw Error(QStringLiteral("%1 を出力できません (次のページを始められません)").arg(title()));
            }
            painter.save();
            if (!offsetMm.isNull())
                painter.translate(offsetMm.x() * device.logicalDpiX() / 25.4,
                                  offsetMm.y() * device.logicalDpiY() / 25.4);
            drawPage(painter, page);
            painter.restore();
            ++done;
            if (progress && !progress(done, total)) {
                painter.end();
                return false;
            }
        }
    }
    if (!painter.end())
        throw Error(QStringLiteral("%1 を出力できません").arg(title()));
    return true;
}

bool ReportDocument::writePdf(const QString& path, const Progress& progress, QPointF offsetMm) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(QStringLiteral("%1 に書き込めません (%2)").arg(path, file.errorString()));
    bool finished = false;
    ExactMediaBox exact(file, pageLayout());
    {
        QPdfWriter pdf(&exact);
        pdf.setTitle(title());
        pdf.setCreator(QStringLiteral("Halvenna"));
        // A report without rows still makes a valid file: one blank sheet.
        finished = print(pdf, 0, pageCount() - 1, 1, progress, offsetMm);
    }
    if (finished && !exact.finish())
        throw Error(QStringLiteral("%1 に書き込めません (%2)").arg(path, file.errorString()));
    if (!finished) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        throw Error(QStringLiteral("%1 に書き込めません (%2)").arg(path, file.errorString()));
    return true;
}

} // namespace halvenna
