#include "report/ReportDocument.h"

#include "data/Error.h"
#include "data/SjisText.h"

#include <QFileInfo>
#include <QFontMetricsF>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <array>
#include <cmath>

namespace halvenna {

struct ReportDocument::Metrics
{
    struct Font
    {
        explicit Font(const QFont& f, const QPaintDevice* device) : fm(f, device), ascent(fm.ascent())
        {
            ascii.fill(-1);
        }
        QFontMetricsF fm;
        qreal ascent;
        std::array<qreal, 128> ascii; // advances of single-byte characters, measured once; < 0 unknown

        qreal advance(const QString& s)
        {
            if (s.size() == 1 && s.at(0).unicode() < 128) {
                qreal& a = ascii[s.at(0).unicode()];
                if (a < 0)
                    a = fm.horizontalAdvance(s);
                return a;
            }
            return fm.horizontalAdvance(s);
        }
    };

    int dpiX = 0;
    int dpiY = 0;
    qreal perMmX = 0; // device pixels per millimetre
    qreal perMmY = 0;
    std::vector<Font> fonts; // one per text item
};

namespace {

QFont makeFont(const QString& family, double size, bool bold)
{
    QFont f(family);
    f.setPointSizeF(size);
    f.setBold(bold);
    return f;
}

} // namespace

ReportDocument::ReportDocument(std::shared_ptr<const ReportTemplate> reportTemplate, int report,
                               const ReportParams& params, ReportRows rows)
    : template_(std::move(reportTemplate)), report_(report), rows_(std::move(rows))
{
    const TemplateReport& r = this->report();
    items_.reserve(size_t(r.texts.size()));
    for (const TemplateText& t : r.texts) {
        Item item;
        item.text = &t;
        item.font = makeFont(t.font, t.size, t.bold);
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

ReportDocument::Metrics& ReportDocument::metricsFor(const QPaintDevice& device) const
{
    if (metrics_ && metrics_->dpiX == device.logicalDpiX() && metrics_->dpiY == device.logicalDpiY())
        return *metrics_;
    auto m = std::make_shared<Metrics>();
    m->dpiX = device.logicalDpiX();
    m->dpiY = device.logicalDpiY();
    m->perMmX = m->dpiX / 25.4;
    m->perMmY = m->dpiY / 25.4;
    m->fonts.reserve(items_.size());
    for (const Item& item : items_)
        m->fonts.emplace_back(item.font, &device);
    metrics_ = std::move(m);
    return *metrics_;
}

template <typename Sink> void ReportDocument::forEachText(int page, const QPaintDevice& device, Sink&& sink) const
{
    if (page < 0 || page >= pageCount())
        return;
    Metrics& m = metricsFor(device);
    for (size_t i = 0; i < items_.size(); ++i) {
        const Item& item = items_[i];
        const TemplateText& t = *item.text;
        Metrics::Font& f = m.fonts[i];
        const QByteArrayView bytes = item.field >= 0 ? rows_.value(page, item.field) : QByteArrayView(item.bytes);
        if (bytes.isEmpty())
            continue;
        const qreal baseline = t.y * m.perMmY + f.ascent;
        const qreal left = t.x * m.perMmX;

        if (t.pitch <= 0) {
            const QString s = item.field >= 0 ? sjis::toUnicode(bytes.data(), bytes.size()) : item.unicode;
            qreal x = left;
            if (t.align != TextAlign::Left) {
                const qreal room = t.width * m.perMmX - f.advance(s);
                x += t.align == TextAlign::Right ? room : room / 2;
            }
            sink(int(i), QPointF(x, baseline), s);
            continue;
        }

        // Digit boxes: byte k of the text stands in cell start + k; right-aligned text ends in the last cell.
        const qsizetype n = bytes.size();
        const qsizetype cells = qMax<qsizetype>(1, qRound64(t.width / t.pitch));
        qsizetype start = 0;
        if (t.align == TextAlign::Right)
            start = cells - n;
        else if (t.align == TextAlign::Center)
            start = (cells - n) / 2;
        for (qsizetype k = 0; k < n;) {
            const auto b = static_cast<unsigned char>(bytes[k]);
            const qsizetype len = sjis::isLeadByte(b) && k + 1 < n ? 2 : 1;
            if (b != ' ') {
                const QString ch = b < 0x80 ? QString(QChar(b)) : sjis::toUnicode(bytes.data() + k, len);
                const qreal centre = (t.x + (double(start + k) + double(len) / 2) * t.pitch) * m.perMmX;
                sink(int(i), QPointF(centre - f.advance(ch) / 2, baseline), ch);
            }
            k += len;
        }
    }
}

void ReportDocument::layoutPage(int page, const QPaintDevice& device, const TextSink& sink) const
{
    forEachText(page, device, sink);
}

void ReportDocument::drawPage(QPainter& painter, int page, bool outline) const
{
    if (outline)
        drawOutline(painter);
    painter.setPen(Qt::black);
    int current = -1;
    forEachText(page, *painter.device(), [&](int item, const QPointF& at, const QString& text) {
        if (item != current) {
            painter.setFont(items_[size_t(item)].font);
            current = item;
        }
        painter.drawText(at, text);
    });
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
            const QFont f = makeFont(o.font, o.size, o.bold);
            painter.setFont(f);
            painter.drawText(QPointF(o.x1 * sx, o.y1 * sy + QFontMetricsF(f, &device).ascent()), o.text);
            break;
        }
        }
    }
    painter.restore();
}

bool ReportDocument::print(QPagedPaintDevice& device, int from, int to, int copies, const Progress& progress) const
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
            drawPage(painter, page);
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

bool ReportDocument::writePdf(const QString& path, const Progress& progress) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(QStringLiteral("%1 に書き込めません (%2)").arg(path, file.errorString()));
    bool finished = false;
    {
        QPdfWriter pdf(&file);
        pdf.setTitle(title());
        pdf.setCreator(QStringLiteral("Halvenna"));
        // A report without rows still makes a valid file: one blank sheet.
        finished = print(pdf, 0, pageCount() - 1, 1, progress);
    }
    if (!finished) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        throw Error(QStringLiteral("%1 に書き込めません (%2)").arg(path, file.errorString()));
    return true;
}

} // namespace halvenna
