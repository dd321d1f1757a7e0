#include "settings/FormFitting.h"

#include "data/Error.h"

#include <QUrl>

#include <algorithm>
#include <cmath>
#include <optional>

namespace halvenna {

namespace {

// Any name as part of a key: bytes other than A-Z a-z 0-9 _ - are written as %XX, so that "=", "]",
// ".", blanks and characters code page 932 cannot hold never reach the file as they are.
QByteArray keyPart(const QString& name)
{
    return QUrl::toPercentEncoding(name, QByteArray(), QByteArray(".~"));
}

// A number as the file holds it, or nothing when it is no plain decimal within [min, max].
std::optional<double> number(const QByteArray& text, double min, double max)
{
    const QByteArray t = text.trimmed();
    if (t.isEmpty() || t.size() > 32)
        return std::nullopt;
    for (const char c : t)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+'))
            return std::nullopt;
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < min || v > max)
        return std::nullopt;
    return v;
}

QByteArray text(double v)
{
    return QByteArray::number(v, 'g', 10);
}

double tenths(double mm)
{
    return std::round(mm * 10) / 10;
}

// What a key reads as when the file does not have it: no value can hold a line break.
const QByteArray kMissing("\n");

// The key a PDF file's offset had before it got one of its own; a queue called "PDF" has it now.
QByteArray oldPdfKey(const QString& form, char axis)
{
    return keyPart(form) + ".PDF." + axis;
}

bool sameKey(const QByteArray& a, const QByteArray& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

FormFitting FormFitting::load(const QString& path)
{
    return FormFitting(IniFile::load(path));
}

QByteArray FormFitting::offsetKey(const QString& form, const QString& printer, char axis)
{
    if (printer == pdfPrinter())
        return keyPart(form) + ".(PDF)." + axis;
    return keyPart(form) + '.' + keyPart(printer) + '.' + axis;
}

bool FormFitting::hasOwnPdfPair(const QString& form) const
{
    for (const char axis : {'X', 'Y'})
        if (ini_.value(section, offsetKey(form, pdfPrinter(), axis), kMissing) != kMissing)
            return true;
    return false;
}

PrintOffset FormFitting::offset(const QString& form, const QString& printer) const
{
    // A file written before the PDF file had a key of its own keeps its pair until one is stored.
    const bool oldPdf = printer == pdfPrinter() && !hasOwnPdfPair(form);
    const auto read = [&](char axis) {
        const QByteArray key = oldPdf ? oldPdfKey(form, axis) : offsetKey(form, printer, axis);
        return tenths(number(ini_.value(section, key, {}), -kLimit, kLimit).value_or(0));
    };
    return {read('X'), read('Y')};
}

FormBackground FormFitting::background(const QString& form) const
{
    const QByteArray base = keyPart(form) + ".Background";
    FormBackground b;
    b.path = QUrl::fromPercentEncoding(ini_.value(section, base, {}).trimmed());
    if (b.path.isEmpty())
        return {};
    const std::optional<double> scale = number(ini_.value(section, base + ".Scale", {}), 1e-6, 100);
    if (!scale)
        return {}; // a placement that cannot be read places nothing
    b.mmPerPixel = *scale;
    b.left = number(ini_.value(section, base + ".Left", {}), -10000, 10000).value_or(0);
    b.top = number(ini_.value(section, base + ".Top", {}), -10000, 10000).value_or(0);
    b.rotation = number(ini_.value(section, base + ".Rotation", {}), -360, 360).value_or(0);
    return b;
}

void FormFitting::saveOffset(const QString& path, const QString& form, const QString& printer, PrintOffset offset)
{
    saveOffsets(path, {{form, printer, offset}});
}

void FormFitting::saveOffsets(const QString& path, const QList<Saved>& offsets)
{
    IniFile::KeysAndValues keys;
    std::optional<FormFitting> before;
    for (const Saved& s : offsets) {
        if (!(std::fabs(s.offset.x) <= kLimit) || !(std::fabs(s.offset.y) <= kLimit))
            throw Error(QStringLiteral("印字位置の調整は -%1 mm から +%1 mm までです").arg(kLimit));
        // A queue whose key is the one the PDF file's pair had: that pair moves to the file's own key
        // first, so that it does not change with the queue's.
        if (s.printer != pdfPrinter() && sameKey(offsetKey(s.form, s.printer, 'X'), oldPdfKey(s.form, 'X')) &&
            std::none_of(offsets.cbegin(), offsets.cend(),
                         [&](const Saved& o) { return o.form == s.form && o.printer == pdfPrinter(); })) {
            if (!before)
                before = load(path);
            if (!before->hasOwnPdfPair(s.form)) {
                const PrintOffset pdf = before->offset(s.form, pdfPrinter());
                keys.append({offsetKey(s.form, pdfPrinter(), 'X'), text(pdf.x)});
                keys.append({offsetKey(s.form, pdfPrinter(), 'Y'), text(pdf.y)});
                before->ini_.setValue(section, offsetKey(s.form, pdfPrinter(), 'X'), text(pdf.x));
            }
        }
        keys.append({offsetKey(s.form, s.printer, 'X'), text(tenths(s.offset.x))});
        keys.append({offsetKey(s.form, s.printer, 'Y'), text(tenths(s.offset.y))});
    }
    if (!keys.isEmpty())
        IniFile::writeKeys(path, section, keys);
}

void FormFitting::saveBackground(const QString& path, const QString& form, const FormBackground& background)
{
    const QByteArray base = keyPart(form) + ".Background";
    IniFile::writeKeys(path, section,
                       {{base, QUrl::toPercentEncoding(background.path, "/:\\")},
                        {base + ".Scale", text(background.mmPerPixel)},
                        {base + ".Left", text(background.left)},
                        {base + ".Top", text(background.top)},
                        {base + ".Rotation", text(background.rotation)}});
}

} // namespace halvenna
