#pragma once

#include <QImage>
#include <QPointF>
#include <QString>
#include <QTransform>

namespace halvenna {

// Where a scan of the blank form lies on the sheet: a pixel (px, py) of the image stands at the
// sheet's point
//   left + (px cos a - py sin a) * mmPerPixel,  top + (px sin a + py cos a) * mmPerPixel
// where a is the rotation, clockwise. The caller keeps it where it likes (the settings file).
struct BackgroundPlacement
{
    QString path; // empty: none
    double mmPerPixel = 0;
    double left = 0;
    double top = 0;
    double rotation = 0; // degrees

    bool isSet() const { return !path.isEmpty() && mmPerPixel > 0; }
    bool operator==(const BackgroundPlacement&) const = default;
};

// The scan of a blank form that the preview lays under the data (never printed): read from a PNG or
// JPEG file, or the first page of a PDF, and placed on the sheet as a BackgroundPlacement says.
class BackgroundImage
{
public:
    // Bigger images are refused from their header, before anything is decoded.
    static constexpr qint64 kMaxPixels = 100'000'000;
    // A PDF page is drawn at this resolution.
    static constexpr int kPdfDpi = 200;

    struct Loaded
    {
        QImage image;
        double mmPerPixel = 0; // the file's own resolution; 0 when it does not say
    };
    // Throws Error "<path> を読めません (...)" for a missing or unreadable file and
    // "<path> は大きすぎます (...)" for one over kMaxPixels.
    static Loaded load(const QString& path);

    // Where the image's pixels stand on the sheet: pixel (px, py) to millimetres.
    static QTransform toSheet(const BackgroundPlacement& placement);
    // The placement that lays pixel a of the image on sheet point aMm and pixel b on bMm: its scale
    // and rotation follow from the two, so a scan fed in slightly askew is set straight.
    static BackgroundPlacement fromTwoPoints(const QString& path, QPointF a, QPointF aMm, QPointF b, QPointF bMm);
};

} // namespace halvenna
