#pragma once

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

    // Reads the template at path, makes the edits and replaces the file in one atomic step, so that a
    // program printing from it at that moment reads either the old or the new file. Throws Error
    // "<path> に書き込めません" when it cannot be replaced (the file stays as it was).
    static void save(const QString& path, const QList<BoxEdit>& edits);

    // The copy of a template as shipped with the program: "templates/<name>" beside it.
    static QString pristinePath(const QString& path);
    // Puts the shipped template back in place of the user's, byte for byte and atomically.
    static void restore(const QString& path);

    // A length as a template writes it: millimetres to 0.01, no trailing zeros ("12.5", "40", "5.08").
    static QString formatMm(double mm);
};

} // namespace halvenna
