#include "report/TextFit.h"

#include <QImage>

#include <algorithm>
#include <cmath>

namespace halvenna {

namespace {

// Widths are compared with a hair of slack: figures taken from a drawing round to 0.01 mm.
constexpr double kSlack = 0.005;

const QImage& referenceDevice()
{
    static const QImage device = [] {
        QImage image(1, 1, QImage::Format_Mono);
        const int dotsPerMeter = qRound(FontMeasure::kDpi / 0.0254);
        image.setDotsPerMeterX(dotsPerMeter);
        image.setDotsPerMeterY(dotsPerMeter);
        return image;
    }();
    return device;
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\u3000';
}

} // namespace

QFont reportFont(const QString& family, double pointSize, bool bold)
{
    QFont f(family);
    f.setPointSizeF(pointSize);
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

std::array<QString, 2> TextFit::lineTexts(const QString& text) const
{
    if (lines < 2)
        return {text, QString()};
    qsizetype end = breakAt;
    while (end > 0 && isBlank(text.at(end - 1)))
        --end;
    qsizetype start = breakAt;
    while (start < text.size() && isBlank(text.at(start)))
        ++start;
    return {text.left(end), text.mid(start)};
}

FontMeasure::FontMeasure(const QFont& font)
    : metrics_(font, &referenceDevice()), size_(font.pointSizeF() > 0 ? font.pointSizeF() : 10),
      mmPerPixel_(25.4 / kDpi), lineHeight_((metrics_.ascent() + metrics_.descent()) * mmPerPixel_),
      widest_(metrics_.maxWidth() * mmPerPixel_)
{}

FontMeasure::OneLine FontMeasure::fitOneLine(double widthAtOwnSize, double boxWidth, double maxSize) const
{
    const double w = widthAtOwnSize * maxSize / size_;
    if (w <= boxWidth + kSlack)
        return {maxSize, 1, true};
    if (w * TextFit::kMinStretch <= boxWidth + kSlack)
        return {maxSize, std::max(TextFit::kMinStretch, boxWidth / w), true};
    // Condensed as far as it goes, the size that makes it just fit.
    const double size = maxSize * boxWidth / (w * TextFit::kMinStretch);
    const double floor = std::min(TextFit::kMinPointSize, maxSize);
    if (size >= floor)
        return {size, TextFit::kMinStretch, true};
    return {floor, TextFit::kMinStretch, false};
}

TextFit FontMeasure::fit(const QString& text, double boxWidth, double boxHeight) const
{
    TextFit r;
    if (text.isEmpty())
        return r;
    // A text that fits even were every character the font's widest needs no measuring: most of a
    // form's texts are short, and ten thousand sheets are set before the first is printed.
    if (text.size() * widest_ <= boxWidth && lineHeight_ <= boxHeight + kSlack) {
        r.size = size_;
        r.lines = 1;
        r.width[0] = text.size() * widest_;
        return r;
    }
    const double floor = std::min(TextFit::kMinPointSize, size_);
    // The tallest size whose line fits the box's height, never below the legible minimum.
    const double maxSize1 = std::clamp(size_ * boxHeight / lineHeight_, floor, size_);
    const double w = width(text);
    const OneLine one = fitOneLine(w, boxWidth, maxSize1);
    const bool tallEnough1 = lineHeight(one.size) <= boxHeight + kSlack;
    if (one.fits && tallEnough1) {
        r.size = one.size;
        r.lines = 1;
        r.stretch[0] = one.stretch;
        r.width[0] = w * one.size / size_ * one.stretch;
        return r;
    }

    // Two lines, where the box holds two at the legible minimum.
    if (text.size() > 1 && 2 * lineHeight(floor) <= boxHeight + kSlack) {
        // The break that leaves the longer line shortest; after a blank where that is as good.
        qsizetype best = 0;
        double bestWidest = 0;
        for (qsizetype k = 1; k < text.size(); ++k) {
            if (text.at(k).isLowSurrogate())
                continue;
            TextFit probe;
            probe.lines = 2;
            probe.breakAt = k;
            const std::array<QString, 2> parts = probe.lineTexts(text);
            if (parts[0].isEmpty() || parts[1].isEmpty())
                continue;
            double widest = std::max(width(parts[0]), width(parts[1]));
            if (isBlank(text.at(k - 1)) || isBlank(text.at(k)))
                widest *= 0.85;
            if (best == 0 || widest < bestWidest) {
                best = k;
                bestWidest = widest;
            }
        }
        if (best > 0) {
            r.lines = 2;
            r.breakAt = best;
            const std::array<QString, 2> parts = r.lineTexts(text);
            const double w1 = width(parts[0]);
            const double w2 = width(parts[1]);
            const double maxSize2 = std::clamp(size_ * boxHeight / (2 * lineHeight_), floor, size_);
            const OneLine a = fitOneLine(w1, boxWidth, maxSize2);
            const OneLine b = fitOneLine(w2, boxWidth, maxSize2);
            r.size = std::min(a.size, b.size);
            const std::array<double, 2> widths{w1 * r.size / size_, w2 * r.size / size_};
            bool fits = a.fits && b.fits;
            for (int i = 0; i < 2; ++i) {
                r.stretch[size_t(i)] =
                    std::clamp(boxWidth / std::max(widths[size_t(i)], 1e-9), TextFit::kMinStretch, 1.0);
                r.width[size_t(i)] = widths[size_t(i)] * r.stretch[size_t(i)];
                fits = fits && r.width[size_t(i)] <= boxWidth + kSlack;
            }
            r.clipped = !fits || 2 * lineHeight(r.size) > boxHeight + kSlack;
            return r;
        }
    }

    // One line as small and as condensed as it goes, clipped at the box.
    r.size = one.size;
    r.lines = 1;
    r.stretch[0] = one.stretch;
    r.width[0] = w * one.size / size_ * one.stretch;
    r.clipped = true;
    return r;
}

} // namespace halvenna
