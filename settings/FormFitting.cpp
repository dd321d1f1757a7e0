#include "settings/FormFitting.h"

#include "data/Error.h"

#include <QUrl>

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

} // namespace

FormFitting FormFitting::load(const QString& path)
{
    return FormFitting(IniFile::load(path));
}

QByteArray FormFitting::offsetKey(const QString& form, const QString& printer, char axis)
{
    return keyPart(form) + '.' + keyPart(printer) + '.' + axis;
}

PrintOffset FormFitting::offset(const QString& form, const QString& printer) const
{
    const auto read = [&](char axis) {
        return tenths(number(ini_.value(section, offsetKey(form, printer, axis), {}), -kLimit, kLimit).value_or(0));
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
    for (const Saved& s : offsets) {
        if (!(std::fabs(s.offset.x) <= kLimit) || !(std::fabs(s.offset.y) <= kLimit))
            throw Error(QStringLiteral("印字位置の調整は -%1 mm から +%1 mm までです").arg(kLimit));
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
