#pragma once

#include "report/ReportConnection.h"
#include "report/ReportTemplate.h"

#include <QFont>
#include <QList>
#include <QPageLayout>
#include <QPointF>
#include <QString>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QPainter;
class QPaintDevice;
class QPagedPaintDevice;

namespace halvenna {

using ReportParams = QList<std::pair<QString, QByteArray>>;

// One run of one report: its template, the parameter values of the moment and the rows read
// through its connection, one sheet per row. Pages are drawn on demand, so showing or printing
// ten thousand sheets keeps only the rows' values in memory.
class ReportDocument
{
public:
    // After each sheet: how many are done of how many; returning false stops the output.
    using Progress = std::function<bool(int done, int total)>;
    // Where one text of a page falls: the text item it comes from, the baseline's left end in the
    // device's pixels, and the text drawn there.
    using TextSink = std::function<void(int item, const QPointF& at, const QString& text)>;

    ReportDocument(std::shared_ptr<const ReportTemplate> reportTemplate, int report, const ReportParams& params,
                   ReportRows rows);

    const ReportTemplate& reportTemplate() const { return *template_; }
    const TemplateReport& report() const { return template_->reports().at(report_); }
    int pageCount() const { return rows_.rowCount(); }
    // The sheet for a printer or a PDF: the template's own size and orientation, no margins, the
    // whole sheet painted.
    QPageLayout pageLayout() const;
    // The sheet's size as the user reads it in a message, the template's width × height: "108 × 178 mm".
    QString sheetSize() const;
    // The name a printer job or a PDF file is given: the template's file name without its suffix.
    QString title() const;

    // Draws one sheet (from 0). The painter works in its device's pixels, its origin at the sheet's
    // top-left corner; lengths follow from the device's resolution, so a millimetre of the template
    // is a millimetre on the sheet. The outline is for the preview: printers and files never get it.
    void drawPage(QPainter& painter, int page, bool outline = false) const;
    // The texts drawPage draws, in the same order, without drawing them.
    void layoutPage(int page, const QPaintDevice& device, const TextSink& sink) const;
    const QFont& font(int item) const { return items_.at(size_t(item)).font; }

    // Draws the sheets from..to (from 0), `copies` times over, onto a paged device, one sheet per
    // page on the template's own page size. Returns false when progress stopped it; a device that
    // refuses the page size is an error before anything is drawn.
    bool print(QPagedPaintDevice& device, int from, int to, int copies, const Progress& progress = {}) const;
    // Writes every sheet to a PDF file, replacing it only once the whole file is written: a stopped or
    // failed output leaves no file behind (nor changes one that was there). False when stopped.
    bool writePdf(const QString& path, const Progress& progress = {}) const;

private:
    struct Item
    {
        const TemplateText* text = nullptr;
        int field = -1;   // in rows_, for a field
        QByteArray bytes; // a parameter's or a fixed text's value
        QString unicode;  // the same, for drawing
        QFont font;
    };
    struct Metrics;

    Metrics& metricsFor(const QPaintDevice& device) const;
    template <typename Sink> void forEachText(int page, const QPaintDevice& device, Sink&& sink) const;
    void drawOutline(QPainter& painter) const;

    std::shared_ptr<const ReportTemplate> template_;
    int report_ = 0;
    ReportRows rows_;
    std::vector<Item> items_;
    mutable std::shared_ptr<Metrics> metrics_; // for the last device drawn on
};

} // namespace halvenna
