// The scan of a blank form: read from PNG, JPEG or a PDF's first page with its resolution, refused
// from its header when too big, one clear error for a missing or broken file, and placed on the
// sheet by its resolution or by two points.
#include "common/Errors.h"
#include "report/BackgroundImage.h"
#include "report/ReportTestSupport.h"

#include <QFile>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

using halvenna::BackgroundImage;
using halvenna::BackgroundPlacement;

namespace {

quint32 crc32(const QByteArray& bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A PNG file's signature and header claiming width × height, and no pixels.
QByteArray pngHeaderOnly(quint32 width, quint32 height)
{
    QByteArray ihdr("IHDR");
    const auto be32 = [](quint32 v) {
        QByteArray b(4, '\0');
        qToBigEndian(v, b.data());
        return b;
    };
    ihdr += be32(width) + be32(height) + QByteArray("\x08\x02\x00\x00\x00", 5);
    // An empty IDAT ends the header: the reader knows the size there, and finds no pixels after.
    const QByteArray idat("IDAT");
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + be32(13) + ihdr + be32(crc32(ihdr)) + be32(0) + idat +
           be32(crc32(idat));
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class TestBackgroundImage : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir_;

private Q_SLOTS:
    // A PNG and a JPEG read with the resolution they were saved with; a PDF's first page at 200 dpi.
    void readsImagesWithTheirResolution()
    {
        QImage scan(600, 300, QImage::Format_RGB32);
        scan.fill(Qt::white);
        scan.setDotsPerMeterX(11811); // 300 dpi
        scan.setDotsPerMeterY(11811);
        for (const char* suffix : {"png", "jpg"}) {
            const QString path = dir_.filePath(QStringLiteral("scan.") + QLatin1String(suffix));
            QVERIFY(scan.save(path));
            const BackgroundImage::Loaded loaded = BackgroundImage::load(path);
            QCOMPARE(loaded.image.size(), scan.size());
            QVERIFY2(std::abs(loaded.mmPerPixel - 25.4 / 300) < 0.0005, suffix);
        }
        const QString pdf = dir_.filePath(QStringLiteral("scan.pdf"));
        {
            QPdfWriter writer(pdf);
            writer.setPageSize(QPageSize(QSizeF(180, 114), QPageSize::Millimeter));
            writer.setPageMargins(QMarginsF());
            QPainter p(&writer);
            p.fillRect(QRect(0, 0, 100, 100), Qt::black);
        }
        const BackgroundImage::Loaded page = BackgroundImage::load(pdf);
        QCOMPARE(page.mmPerPixel, 25.4 / 200);
        QVERIFY(std::abs(page.image.width() * page.mmPerPixel - 180) < 0.5);
        QVERIFY(std::abs(page.image.height() * page.mmPerPixel - 114) < 0.5);
    }

    // A scan that does not state its resolution is read as not stating it (0), never as the screen's
    // 96 dpi; one that states 96 dpi is read as 96.
    void aFileWithoutItsResolutionSaysSo_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<int>("dotsPerMeter");
        QTest::addColumn<bool>("strip");
        QTest::addColumn<double>("dpi");
        QTest::newRow("PNG at 200 dpi") << "png" << 7874 << false << 200.0;
        QTest::newRow("PNG stating 96 dpi") << "png" << 3780 << false << 96.0;
        QTest::newRow("PNG without pHYs") << "png" << 7874 << true << 0.0;
        QTest::newRow("JPEG at 150 dpi") << "jpg" << 5906 << false << 150.0;
        QTest::newRow("JPEG without a density unit") << "jpg" << 5906 << true << 0.0;
    }
    void aFileWithoutItsResolutionSaysSo()
    {
        QFETCH(QString, suffix);
        QFETCH(int, dotsPerMeter);
        QFETCH(bool, strip);
        QFETCH(double, dpi);
        QImage scan(120, 80, QImage::Format_RGB32);
        scan.fill(Qt::white);
        scan.setDotsPerMeterX(dotsPerMeter);
        scan.setDotsPerMeterY(dotsPerMeter);
        const QString path = dir_.filePath(QStringLiteral("stated.") + suffix);
        QVERIFY(scan.save(path));
        if (strip) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QByteArray bytes = f.readAll();
            f.close();
            if (suffix == u"png") {
                bytes = reporttest::withoutResolution(bytes);
            } else {
                // The JFIF header first, its unit 0: a ratio of pixels, no resolution.
                QCOMPARE(bytes.mid(6, 5), QByteArray("JFIF\0", 5));
                bytes[13] = 0;
            }
            QVERIFY(writeFile(path, bytes));
        }
        const BackgroundImage::Loaded loaded = BackgroundImage::load(path);
        QCOMPARE(loaded.image.size(), scan.size());
        if (dpi == 0)
            QCOMPARE(loaded.mmPerPixel, 0.0);
        else
            QVERIFY2(std::abs(loaded.mmPerPixel - 25.4 / dpi) < 0.0005, qPrintable(QString::number(loaded.mmPerPixel)));
    }

    // Each fault is one error naming the file; an image over 100 megapixels is refused from its
    // header alone (the file holds no pixels to decode).
    void refusals_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("says");
        QTest::newRow("missing") << "none.png" << QByteArray() << "を読めません (ファイルがありません)";
        QTest::newRow("not an image") << "notes.png" << QByteArray("just some text\n")
                                      << "を読めません (PNG、JPEG、PDF のどれでもありません)";
        QTest::newRow("header without pixels") << "cut.png" << pngHeaderOnly(100, 100) << "を読めません (";
        QTest::newRow("over 100 megapixels")
            << "huge.png" << pngHeaderOnly(20000, 20000) << "は大きすぎます (20000 × 20000 ピクセル。";
        QTest::newRow("broken PDF") << "broken.pdf" << QByteArray("%PDF-1.4\ngarbage")
                                    << "を読めません (PDF として読めません)";
    }
    void refusals()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, says);
        const QString path = dir_.filePath(name);
        if (!bytes.isEmpty())
            QVERIFY(writeFile(path, bytes));
        const QString message = errorOf([&] { (void)BackgroundImage::load(path); });
        QVERIFY2(message.startsWith(path + u' '), qPrintable(message));
        QVERIFY2(message.contains(says), qPrintable(message));
    }

    // Two pixels laid on two sheet points: the placement maps both exactly, whatever the scale,
    // turn and shift; points too close together are refused.
    void twoPointsPlaceTheImage_data()
    {
        QTest::addColumn<QPointF>("a");
        QTest::addColumn<QPointF>("aMm");
        QTest::addColumn<QPointF>("b");
        QTest::addColumn<QPointF>("bMm");
        QTest::addColumn<double>("mmPerPixel");
        QTest::addColumn<double>("rotation");
        QTest::newRow("300 dpi, straight") << QPointF(118.11, 118.11) << QPointF(10, 10) << QPointF(2007.87, 1299.21)
                                           << QPointF(170, 110) << 25.4 / 300 << 0.0;
        QTest::newRow("shifted and scaled")
            << QPointF(0, 0) << QPointF(5, -3) << QPointF(100, 0) << QPointF(55, -3) << 0.5 << 0.0;
        QTest::newRow("a quarter turn") << QPointF(0, 0) << QPointF(100, 0) << QPointF(0, 100) << QPointF(0, 0) << 1.0
                                        << 90.0;
        QTest::newRow("fed askew") << QPointF(50, 50) << QPointF(10, 10) << QPointF(1050, 60)
                                   << QPointF(10 + 1000 * 0.1, 10) << 0.1 * 1000 / std::hypot(1000, 10)
                                   << -std::atan2(10, 1000) * 180 / M_PI;
    }
    void twoPointsPlaceTheImage()
    {
        QFETCH(QPointF, a);
        QFETCH(QPointF, aMm);
        QFETCH(QPointF, b);
        QFETCH(QPointF, bMm);
        QFETCH(double, mmPerPixel);
        QFETCH(double, rotation);
        const BackgroundPlacement placed = BackgroundImage::fromTwoPoints(QStringLiteral("/s.png"), a, aMm, b, bMm);
        QCOMPARE(placed.path, QStringLiteral("/s.png"));
        QVERIFY(std::abs(placed.mmPerPixel - mmPerPixel) < 1e-6);
        QVERIFY(std::abs(placed.rotation - rotation) < 1e-6);
        const QTransform t = BackgroundImage::toSheet(placed);
        QVERIFY((t.map(a) - aMm).manhattanLength() < 1e-6);
        QVERIFY((t.map(b) - bMm).manhattanLength() < 1e-6);
    }
    void twoPointsTooClose()
    {
        QCOMPARE(errorOf([] {
                     (void)BackgroundImage::fromTwoPoints(QString(), QPointF(0, 0), QPointF(0, 0), QPointF(0.5, 0),
                                                          QPointF(5, 0));
                 }),
                 QStringLiteral("2 点が近すぎます。離れた 2 点を選びます"));
    }
};

QTEST_MAIN(TestBackgroundImage)
#include "tst_backgroundimage.moc"
