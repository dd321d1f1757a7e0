#pragma once

#include "report/ReportConnection.h"
#include "report/ReportTemplate.h"
#include "report/TextFit.h"

#include <QFont>
#include <QList>
#include <QPageLayout>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QPainter;
class QPaintDevice;
class QPagedPaintDevice;

namespace halvenna {

using ReportParams = QList<std::pair<QString, QByteArray>>;

// What the caller knows of its rows that the report engine does not: which field names a sheet, and
// checks of its own on a sheet's row. The list of sheets that did not fit shows both.
struct SheetRules
{
    // The field that names a sheet in that list ("3 枚目 (ID 3)"), read where the table has it;
    // empty: sheets are named by their number only.
    QString keyField;
    // A check of one field of each sheet's row, made on a report that prints any of printedWith:
    // problem returns what the list says of a sheet whose value it refuses, or an empty string.
    struct Check
    {
        QString field;
        QStringList printedWith;
        std::function<QString(QStringView value)> problem;
    };
    QList<Check> checks;
};

// One run of one report: its template, the parameter values of the moment and the rows read
// through its connection, one sheet per row. Pages are drawn on demand, so showing or printing
// ten thousand sheets keeps only the rows' values in memory.
// Whether a report prints any of the fields named.
bool printsAny(const TemplateReport& report, const QStringList& fields);

class ReportDocument
{
public:
    // After each sheet: how many are done of how many; returning false stops the output.
    using Progress = std::function<bool(int done, int total)>;

    // One text as it is set on a sheet: the text item it comes from, the baseline's left end in the
    // device's pixels, the text, its size, how much it is condensed (a horizontal scale about `at`)
    // and, for a text that does not fit, the box it is clipped to (device pixels).
    struct PlacedText
    {
        int item = 0;
        QPointF at;
        QString text;
        double pointSize = 0;
        double stretch = 1;
        QRectF clip; // empty: nothing to clip
    };
    using TextSink = std::function<void(const PlacedText&)>;

    // A sheet on which some text did not fit its box (it was clipped, or had more characters than
    // cells), or whose row a check of the caller's refused: the sheet's key (SheetRules::keyField)
    // where the report reads it, and the boxes as the user calls them (itemCaption), each once, then
    // what the checks said.
    struct Misfit
    {
        int sheet = 0;
        QString memberNo;
        QStringList items;
    };

    ReportDocument(std::shared_ptr<const ReportTemplate> reportTemplate, int report, const ReportParams& params,
                   ReportRows rows, SheetRules rules = {});

    const ReportTemplate& reportTemplate() const { return *template_; }
    const std::shared_ptr<const ReportTemplate>& sharedTemplate() const { return template_; }
    // The same run (its rows and parameter values) on another reading of its template, as after the
    // file was replaced: the report of the same name, its items and boxes as that template has them.
    ReportDocument withTemplate(std::shared_ptr<const ReportTemplate> reportTemplate) const;
    const TemplateReport& report() const { return template_->reports().at(report_); }
    int reportIndex() const { return report_; }
    int pageCount() const { return testSheet_ ? 1 : rows_.rowCount(); }
    // The sheet for a printer or a PDF: the template's own size and orientation, no margins, the
    // whole sheet painted.
    QPageLayout pageLayout() const;
    // The sheet's size as the user reads it in a message, the template's width × height: "108 × 178 mm".
    QString sheetSize() const;
    // The name a printer job or a PDF file is given: the template's file name without its suffix.
    QString title() const;
    // A text item's box on the sheet, mm.
    QRectF itemBox(int item) const;
    int itemCount() const { return int(items_.size()); }
    // What the user calls an item: its field's or parameter's name, or a fixed text itself.
    QString itemName(int item) const;
    // The box as the form shows it: the template's caption, else itemName.
    QString itemCaption(int item) const;
    // The width of one digit cell or byte step of an item, mm; 0 for a plain text.
    double itemPitch(int item) const { return items_.at(size_t(item)).pitch; }
    // Moves a text item to another box (mm) on every sheet, as the user lays out the form in the
    // preview; digit cells keep their number and take the new width between them. Nothing else of
    // the run changes; the misfits are known again at once.
    void setItemBox(int item, const QRectF& box);

    // Draws one sheet (from 0). The painter works in its device's pixels, its origin at the sheet's
    // top-left corner; lengths follow from the device's resolution, so a millimetre of the template
    // is a millimetre on the sheet. The outline and the marks of texts that did not fit are for the
    // preview: printers and files never get them.
    void drawPage(QPainter& painter, int page, bool outline = false, bool markMisfits = false) const;
    // The texts drawPage draws, in the same order, without drawing them.
    void layoutPage(int page, const QPaintDevice& device, const TextSink& sink) const;
    // The font of a text item at its template size.
    const QFont& font(int item) const { return items_.at(size_t(item)).font; }

    // The sheets on which some text did not fit, in sheet order. Every sheet is set once to know it.
    const QList<Misfit>& misfits() const;
    // Whether a text item did not fit on a sheet.
    bool misfit(int page, int item) const;

    // Draws the sheets from..to (from 0), `copies` times over, onto a paged device, one sheet per
    // page on the template's own page size. Returns false when progress stopped it; a device that
    // refuses the page size is an error before anything is drawn.
    // offsetMm moves every item of every sheet by that much (right and down), as the user fitted the
    // form to the printer; the sheet itself stays.
    bool print(QPagedPaintDevice& device, int from, int to, int copies, const Progress& progress = {},
               QPointF offsetMm = {}) const;
    // Writes every sheet to a PDF file, replacing it only once the whole file is written: a stopped or
    // failed output leaves no file behind (nor changes one that was there). False when stopped.
    bool writePdf(const QString& path, const Progress& progress = {}, QPointF offsetMm = {}) const;

    // The test sheet of a form: one sheet of its size on which, in real ink, every text's box and the
    // form's outline are drawn, with a millimetre ruler along the top and the left (inside a margin
    // a printer can print, labelled) and
    // crosshairs at known places (testSheetMarks), so that a user can hold it against the real stock
    // and read off how far to move the print.
    static ReportDocument testSheet(std::shared_ptr<const ReportTemplate> reportTemplate);
    // How far in from the sheet's top and left edges the test sheet's rulers stand, mm.
    static constexpr double kTestSheetMargin = 6;
    bool isTestSheet() const { return testSheet_; }
    // Where the test sheet's crosshairs stand, mm: 10 mm in from each corner and the middle.
    QList<QPointF> testSheetMarks() const;

private:
    struct Item
    {
        const TemplateText* text = nullptr;
        int field = -1;   // in rows_, for a field
        QByteArray bytes; // a parameter's or a fixed text's value
        QString unicode;  // the same, for drawing
        QFont font;
        std::shared_ptr<const FontMeasure> measure;
        QRectF box;       // mm
        double pitch = 0; // mm, the template's unless the box was resized
    };
    // How one text was set on one sheet, kept small: ten thousand sheets of twenty texts.
    struct SetText
    {
        float size = 0;
        float stretch[2] = {1, 1};
        float width[2] = {0, 0};
        qint32 breakAt = 0;
        qint8 lines = 0;
        bool clipped = false;
    };

    QString textOf(int page, const Item& item) const;
    SetText setText(int page, int item) const;
    const SetText& setTextCached(int page, int item) const;
    void ensureSet() const;
    void collectMisfits() const;
    struct DeviceMetrics;
    DeviceMetrics& metricsFor(const QPaintDevice& device) const;
    template <typename Sink> void forEachText(int page, const QPaintDevice& device, Sink&& sink) const;
    void drawOutline(QPainter& painter) const;
    void drawMarks(QPainter& painter, int page) const;
    void drawTestSheet(QPainter& painter) const;

    std::shared_ptr<const ReportTemplate> template_;
    int report_ = 0;
    ReportParams params_;
    ReportRows rows_;
    std::vector<Item> items_;
    SheetRules rules_;
    int memberNoField_ = -1;
    // Per check of rules_: the field it reads in rows_, -1 when it does not apply to this report.
    std::vector<int> checkFields_;
    bool testSheet_ = false;
    // Every sheet's texts as set, filled on first need; items that are the same on every sheet
    // (parameters, fixed texts) are set once.
    mutable std::vector<SetText> set_;
    mutable std::vector<SetText> setOnce_;
    mutable bool setDone_ = false;
    mutable QList<Misfit> misfits_;
    mutable std::shared_ptr<DeviceMetrics> metrics_; // for the last device drawn on
};

} // namespace halvenna
