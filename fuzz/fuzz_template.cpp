// libFuzzer target: the form-template reader on arbitrary bytes. Whatever the input, it either
// gives a template that keeps every promise the renderer relies on, or an Error that names the
// file; it never crashes, hangs or reads out of bounds.
#include "data/Error.h"
#include "report/ReportTemplate.h"

#include <QByteArray>
#include <QString>

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

bool within(double v, double min, double max)
{
    return std::isfinite(v) && v >= min && v <= max;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace halvenna;
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString path = QStringLiteral("/forms/fuzz.Rav");
    try {
        const ReportTemplate t = ReportTemplate::parse(text, path);
        check(t.path() == path);
        check(within(t.pageWidth(), 10, 2000) && within(t.pageHeight(), 10, 2000));
        check(t.orientation() == PageOrientation::Portrait || t.pageWidth() >= t.pageHeight());
        check(!t.reports().isEmpty());
        check(t.defaultReport() >= 0 && t.defaultReport() < t.reports().size());
        int active = 0;
        for (const TemplateReport& r : t.reports()) {
            active += r.active ? 1 : 0;
            check(!r.name.trimmed().isEmpty() && !r.connection.isEmpty());
            for (const TemplateText& x : r.texts) {
                check(within(x.x, -2000, 2000) && within(x.y, -2000, 2000) && within(x.width, 0, 2000) &&
                      within(x.height, 0, 2000));
                // The box stands on the sheet, so nothing drawn in it can leave the sheet.
                check(x.x >= -0.01 && x.y >= -0.01 && x.x < t.pageWidth() && x.y < t.pageHeight());
                check(x.width == 0 || x.x + x.width <= t.pageWidth() + 0.01);
                check(x.height == 0 || x.y + x.height <= t.pageHeight() + 0.01);
                // Digit cells fit their box.
                check(x.cells >= 0 && x.cells <= 100);
                check(x.cells == 0 || (x.pitch > 0 && x.width > 0 && x.cells * x.pitch <= x.width + 0.01 &&
                                       x.align == TextAlign::Left));
                check(within(x.size, 1, 200) && !x.font.trimmed().isEmpty());
                check(x.pitch == 0 || within(x.pitch, 0.1, 100));
                check(x.align == TextAlign::Left || x.width > 0);
                check(x.source == TemplateText::Source::Fixed || !x.name.isEmpty());
                check(x.line >= 1 && x.line > r.line);
            }
            for (const TemplateOutline& o : r.outline) {
                check(within(o.x1, -2000, 4000) && within(o.y1, -2000, 4000) && within(o.x2, -2000, 4000) &&
                      within(o.y2, -2000, 4000));
                check(o.kind != TemplateOutline::Kind::Label || within(o.size, 1, 200));
            }
        }
        check(active <= 1);
    } catch (const Error& e) {
        // Every refusal names the file, and the line unless the whole file is at fault.
        check(e.message().startsWith(path));
    }
    return 0;
}
