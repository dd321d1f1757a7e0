#pragma once

#include "report/ReportTemplate.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace halvenna {

// A text item moved or resized by the user, to be written back into its template file.
struct BoxEdit
{
    int line = 0; // the text statement's line in the file, from 1
    double x = 0;
    double y = 0;
    std::optional<double> width; // written when set; a key left out stays as the file has it
    std::optional<double> height;
    std::optional<double> pitch;
    // Takes pitch= off the line: digit cells whose width= and cells= define it. A pitch written
    // beside them would be rounded to 0.01 mm and no longer add up to the width.
    bool dropPitch = false;
};

// A text item moved or resized in the preview, named by what it is rather than by where it stood:
// the file may have gained or lost lines since it was read.
struct ItemEdit
{
    QString report;   // the report's name
    TemplateText was; // the text as the file had it when last read or written
    int nth = 0;      // which of the report's texts with the same source and name, from 0
    double x = 0;
    double y = 0;
    std::optional<double> width; // written when set
    std::optional<double> height;

    // The edit of a report's text, at the figures the file has now (to be set by the caller).
    static ItemEdit of(const ReportTemplate& file, int report, int text);
};

// Writes the user's layout back into a form template. Only the figures of the edited text
// statements change (x=, y=, width=, height=, pitch=; a key the line lacks is added at its end,
// before any comment); every other byte of the file, its comments, spacing and line ends, stays.
class TemplateEditor
{
public:
    // The text with the edits made. Throws Error naming the path when an edit's line is not a text
    // statement of the file, or when the result would not read as a template (it is checked whole).
    static QByteArray edited(const QByteArray& text, const QList<BoxEdit>& edits, const QString& path);

    // Reads the template at path, finds each edited item in it by what it is, makes the edits and
    // replaces the file in one atomic step, so that a program printing from it at that moment reads
    // either the old or the new file. Returns the template as written. Throws Error, the file staying
    // as it was: "<path> に書き込めません" when it cannot be replaced; "<path> は…変わっています…"
    // when an item is no longer in it or no longer where it was read (someone else changed it);
    // "… は保存できません: …" when the new box would not read as a template.
    static ReportTemplate save(const QString& path, const QList<ItemEdit>& edits);

    // The copy of a template as shipped with the program: "templates/<name>" beside it.
    static QString pristinePath(const QString& path);
    // Puts the shipped template back in place of the user's, byte for byte and atomically.
    static void restore(const QString& path);

    // A length as a template writes it: millimetres to 0.01, no trailing zeros ("12.5", "40", "5.08").
    static QString formatMm(double mm);
};

} // namespace halvenna
