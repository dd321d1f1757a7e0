#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QString>

#include <array>

namespace halvenna {

// How one text is set into its box, decided in millimetres on a fixed reference resolution so that
// the preview, the printer and a PDF set it alike. A text wider than its box is first condensed
// (down to kMinStretch of its width), then set smaller (down to kMinPointSize), then, where the box
// is tall enough for two lines, broken into two; what still does not fit is clipped at the box.
struct TextFit
{
    static constexpr double kMinStretch = 0.6;
    static constexpr double kMinPointSize = 6.0;

    double size = 0;                     // points
    int lines = 0;                       // 0: nothing to draw; 1 or 2
    qsizetype breakAt = 0;               // with two lines: where the second starts in the text
    std::array<double, 2> stretch{1, 1}; // horizontal scale of each line
    std::array<double, 2> width{0, 0};   // each line's width as drawn, mm (at most: a short text is not measured)
    bool clipped = false;                // some of the text falls outside the box

    // The two lines of text (the second empty for one line), without the blanks at the break.
    std::array<QString, 2> lineTexts(const QString& text) const;
};

// The measure of one font on the reference resolution: widths and heights in millimetres, scaling
// linearly with the point size (the font is measured without hinting).
class FontMeasure
{
public:
    explicit FontMeasure(const QFont& font);

    double pointSize() const { return size_; }
    // At the font's own size.
    double width(const QString& text) const { return metrics_.horizontalAdvance(text) * mmPerPixel_; }
    double lineHeight(double size) const { return lineHeight_ * size / size_; }

    // Sets text into a box width x height (mm), no larger than the font's own size.
    TextFit fit(const QString& text, double width, double height) const;

    // The reference resolution, dots per inch.
    static constexpr int kDpi = 1200;

private:
    struct OneLine
    {
        double size;
        double stretch;
        bool fits;
    };
    OneLine fitOneLine(double widthAtOwnSize, double boxWidth, double maxSize) const;

    QFontMetricsF metrics_;
    double size_;
    double mmPerPixel_;
    double lineHeight_;
    double widest_; // the widest character's advance, mm at the font's own size
};

// The font a report text is drawn with: hinting off, so that its widths scale exactly with the
// device's resolution.
QFont reportFont(const QString& family, double pointSize, bool bold);

} // namespace halvenna
