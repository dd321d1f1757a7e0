#include "report/BackgroundImage.h"

#include "data/Error.h"

#include <QFile>
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

quint32 bigEndian(const QByteArray& b, qsizetype at, int bytes)
{
    quint32 v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | quint8(b.at(at + i));
    return v;
}

// Whether an image file states its resolution. The toolkit gives a file that does not the screen's
// 96 dpi, which would then pass for the scan's own; so PNG (a pHYs chunk in metres) and JPEG (a JFIF
// density in inches or centimetres) are read from their headers. Other formats: whatever differs from
// that default is taken as stated.
bool statesResolution(const QString& path, const QImage& image)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // The format by the file's own signature, whatever its name.
    const QByteArray magic = file.peek(8);
    if (magic == QByteArray("\x89PNG\r\n\x1a\n", 8)) {
        if (!file.seek(8))
            return false;
        for (;;) {
            const QByteArray head = file.read(8);
            if (head.size() < 8)
                return false;
            const quint32 length = bigEndian(head, 0, 4);
            const QByteArray type = head.mid(4, 4);
            if (type == "pHYs") {
                const QByteArray data = file.read(9);
                return data.size() == 9 && quint8(data.at(8)) == 1 && bigEndian(data, 0, 4) > 0;
            }
            if (type == "IDAT" || type == "IEND" || !file.seek(file.pos() + qint64(length) + 4))
                return false;
        }
    }
    if (magic.startsWith("\xFF\xD8")) {
        if (!file.seek(2))
            return false;
        for (;;) {
            const QByteArray marker = file.read(4);
            if (marker.size() < 4 || quint8(marker.at(0)) != 0xFF)
                return false;
            const quint8 kind = quint8(marker.at(1));
            const quint32 length = bigEndian(marker, 2, 2);
            if (kind == 0xDA || length < 2) // the scan's data begins
                return false;
            if (kind == 0xE0) {
                const QByteArray data = file.read(qMin<qint64>(length - 2, 12));
                if (data.size() >= 12 && data.startsWith(QByteArray("JFIF\0", 5)))
                    return quint8(data.at(7)) != 0 && bigEndian(data, 8, 2) > 0;
                return false;
            }
            if (!file.seek(file.pos() + qint64(length) - 2))
                return false;
        }
    }
    // The toolkit's default is 96 dpi, rounded either way.
    return std::abs(image.dotsPerMeterX() - 96 / 0.0254) > 1;
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
    // A file without its resolution says so (0): the user is asked for it.
    if (out.image.dotsPerMeterX() > 0 && statesResolution(path, out.image))
        out.mmPerPixel = 1000.0 / out.image.dotsPerMeterX();
    return out;
}

QTransform BackgroundImage::toSheet(const BackgroundPlacement& b)
{
    QTransform t;
    t.translate(b.left, b.top);
    t.rotate(b.rotation);
    t.scale(b.mmPerPixel, b.mmPerPixel);
    return t;
}

BackgroundPlacement BackgroundImage::fromTwoPoints(const QString& path, QPointF a, QPointF aMm, QPointF b, QPointF bMm)
{
    const QPointF dp = b - a;
    const QPointF dm = bMm - aMm;
    const double pixels = std::hypot(dp.x(), dp.y());
    const double mm = std::hypot(dm.x(), dm.y());
    if (pixels < 1 || mm < 1)
        throw Error(QStringLiteral("2 点が近すぎます。離れた 2 点を選びます"));
    BackgroundPlacement out;
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
