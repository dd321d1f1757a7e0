#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace halvenna {

// A form template as read from its text file. Lengths are millimetres from the sheet's top-left
// corner, x to the right and y downwards; font sizes are points. The file format is described in
// report/README.md and at the top of the two templates shipped with the program.

enum class TextAlign { Left, Right, Center };

// How the sheet is fed: portrait takes width x height as it is, landscape turns a sheet whose
// width is its long side.
enum class PageOrientation { Portrait, Landscape };

// One text drawn on every sheet: from a field of the report's connection, a named parameter, or fixed.
struct TemplateText
{
    enum class Source { Field, Param, Fixed };
    Source source = Source::Fixed;
    QString name;     // the field's or the parameter's name
    QString caption;  // the box as the form shows it ("金額 (払込票)"), for the user; may be empty
    QByteArray fixed; // the fixed text, code page 932
    double x = 0;     // top-left of the text's box
    double y = 0;
    // The box. A width of 0 (not given) reaches to the sheet's right edge; a height of 0 (not given)
    // is one line of the text's font. Nothing of the text is ever drawn outside its box.
    double width = 0;
    double height = 0;
    QString font;
    double size = 10; // points
    bool bold = false;
    TextAlign align = TextAlign::Left;
    // > 0 without cells: every byte of the code page 932 text takes one step of this many mm, a
    // double-byte character two, each drawn centred on its steps (pre-spaced digits in boxes).
    // With cells: the width of one cell.
    double pitch = 0;
    // > 0: digit cells. The text's characters, its blanks skipped, stand one per cell, centred,
    // filling the cells from the right or from the left.
    int cells = 0;
    bool fillFromRight = false;
    int line = 0; // where it stands in the file
};

// A part of the form's own print, drawn in the preview only so that the data can be checked
// against it; never printed and never written to a file.
struct TemplateOutline
{
    enum class Kind { Box, Line, Label };
    Kind kind = Kind::Box;
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0; // box: x, y, x + width, y + height; label: x, y
    QString text;                          // label only
    QString font;
    double size = 7;
    bool bold = false;
    int line = 0;
};

struct TemplateReport
{
    QString name;
    QString connection; // the data connection it walks, one sheet per row
    bool active = false;
    QList<TemplateText> texts;
    QList<TemplateOutline> outline;
    int line = 0;
};

class ReportTemplate
{
public:
    // The font a text uses unless it names another.
    static QString defaultFont();
    // Bigger files are refused: a form template is a few kilobytes.
    static constexpr qsizetype kMaxFileSize = 1 << 20;

    // Reads a template file. Throws Error naming the file (full path) and the line at fault.
    static ReportTemplate load(const QString& path);
    // The same for text already read; path only names it in messages.
    static ReportTemplate parse(const QByteArray& text, const QString& path);

    const QString& path() const { return path_; }
    double pageWidth() const { return pageWidth_; }
    double pageHeight() const { return pageHeight_; }
    PageOrientation orientation() const { return orientation_; }

    const QList<TemplateReport>& reports() const { return reports_; }
    // The report a run produces: the one marked active, else the first.
    int defaultReport() const;

private:
    friend class TemplateParser;
    QString path_;
    double pageWidth_ = 0;
    double pageHeight_ = 0;
    PageOrientation orientation_ = PageOrientation::Portrait;
    QList<TemplateReport> reports_;
};

} // namespace halvenna
