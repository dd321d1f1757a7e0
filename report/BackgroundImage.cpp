#include "report/BackgroundImage.h"

#include "data/Error.h"

#include <QFileInfo>
#include <QImageReader>
#include <QPdfDocument>

#include <cmath>

namespace halvenna {

namespace {

Error unreadable(const QString& path, const QString& why)
{
    return Error(QStringLiteral("%1 を読めません (%2)").arg(path, why));
}

void checkSize(const QString& path, QSize size)
{
    if (qint64(size.width()) * size.height() > BackgroundImage::kMaxPixels)
        throw Error(QStringLiteral("%1 は大きすぎます (%2 × %3 ピクセル。1 億ピクセルまでの画像にします)")
                        .arg(path)
                        .arg(size.width())
                        .arg(size.height()));
}

BackgroundImage::Loaded loadPdf(const QString& path)
{
    QPdfDocument pdf;
    if (pdf.load(path) != QPdfDocument::Error::None || pdf.pageCount() < 1)
        throw unreadable(path, QStringLiteral("PDF として読めません"));
    const QSizeF points = pdf.pagePointSize(0);
    const QSize pixels((points * BackgroundImage::kPdfDpi / 72).toSize());
    if (pixels.isEmpty())
        throw unreadable(path, QStringLiteral("PDF の 1 ページ目に大きさがありません"));
    checkSize(path, pixels);
    BackgroundImage::Loaded out;
    out.image = pdf.render(0, pixels);
    if (out.image.isNull())
        throw unreadable(path, QStringLiteral("PDF の 1 ページ目を描けません"));
    out.mmPerPixel = 25.4 / BackgroundImage::kPdfDpi;
    return out;
}

} // namespace

BackgroundImage::Loaded BackgroundImage::load(const QString& path)
{
    if (!QFileInfo(path).isFile())
        throw unreadable(path, QStringLiteral("ファイルがありません"));
    if (path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive))
        return loadPdf(path);
    // The pixel limit is ours, checked below from the header; the toolkit's own allocation limit
    // would refuse a big image before its size is even known.
    QImageReader::setAllocationLimit(int(kMaxPixels * 4 / (1024 * 1024)) + 1);
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (!size.isValid())
        throw unreadable(path, QStringLiteral("PNG、JPEG、PDF のどれでもありません"));
    checkSize(path, size);
    Loaded out;
    out.image = reader.read();
    if (out.image.isNull())
        throw unreadable(path, reader.errorString());
    // A file without its resolution reads as the toolkit's default; the user sets it then.
    if (out.image.dotsPerMeterX() > 0)
        out.mmPerPixel = 1000.0 / out.image.dotsPerMeterX();
    return out;
}

QTransform BackgroundImage::toSheet(const FormBackground& b)
{
    QTransform t;
    t.translate(b.left, b.top);
    t.rotate(b.rotation);
    t.scale(b.mmPerPixel, b.mmPerPixel);
    return t;
}

FormBackground BackgroundImage::fromTwoPoints(const QString& path, QPointF a, QPointF aMm, QPointF b, QPointF bMm)
{
    const QPointF dp = b - a;
    const QPointF dm = bMm - aMm;
    const double pixels = std::hypot(dp.x(), dp.y());
    const double mm = std::hypot(dm.x(), dm.y());
    if (pixels < 1 || mm < 1)
        throw Error(QStringLiteral("2 点が近すぎます。離れた 2 点を選びます"));
    FormBackground out;
    out.path = path;
    out.mmPerPixel = mm / pixels;
    out.rotation = (std::atan2(dm.y(), dm.x()) - std::atan2(dp.y(), dp.x())) * 180 / M_PI;
    // Where pixel (0, 0) lands once a is laid on aMm.
    QTransform turn;
    turn.rotate(out.rotation);
    turn.scale(out.mmPerPixel, out.mmPerPixel);
    const QPointF origin = aMm - turn.map(a);
    out.left = origin.x();
    out.top = origin.y();
    return out;
}

} // namespace halvenna
