#pragma once

// Shared by the report tests: the form font, code page 932 literals, and reading PDFs back with
// poppler's command-line tools (installed by scripts/deps.sh).
#include "data/SjisText.h"

#include <QFont>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace reporttest {

inline void useFormFont()
{
    QFont::insertSubstitution(QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"));
}

inline QByteArray sj(const QString& s)
{
    return halvenna::sjis::fromUnicode(s);
}

// Runs a poppler tool and returns its standard output; fails the test when it cannot run.
inline QByteArray poppler(const QString& tool, const QStringList& args)
{
    const QString exe = QStandardPaths::findExecutable(tool);
    if (exe.isEmpty()) {
        QTest::qFail(qPrintable(tool + QStringLiteral(" is missing (poppler-utils, scripts/deps.sh)")), __FILE__,
                     __LINE__);
        return {};
    }
    QProcess p;
    p.start(exe, args);
    p.waitForFinished(60000);
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        QTest::qFail(qPrintable(tool + QStringLiteral(" failed: ") + QString::fromLocal8Bit(p.readAllStandardError())),
                     __FILE__, __LINE__);
    return p.readAllStandardOutput();
}

// The text of one page (from 1), laid out as on the sheet.
inline QString pdfText(const QString& pdf, int page)
{
    return QString::fromUtf8(
        poppler(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), QStringLiteral("-f"), QString::number(page),
                                              QStringLiteral("-l"), QString::number(page), pdf, QStringLiteral("-")}));
}

inline int pdfPages(const QString& pdf)
{
    const QByteArray info = poppler(QStringLiteral("pdfinfo"), {pdf});
    for (const QByteArray& line : info.split('\n'))
        if (line.startsWith("Pages:"))
            return line.mid(6).trimmed().toInt();
    return -1;
}

// "Page size: W x H pts" of the first page.
inline QSizeF pdfPageSizePt(const QString& pdf)
{
    const QByteArray info = poppler(QStringLiteral("pdfinfo"), {pdf});
    for (const QByteArray& line : info.split('\n'))
        if (line.startsWith("Page size:")) {
            const QList<QByteArray> parts = line.mid(10).simplified().split(' ');
            if (parts.size() >= 3)
                return QSizeF(parts.at(0).toDouble(), parts.at(2).toDouble());
        }
    return {};
}

// The page rendered to an image by poppler, at dpi.
inline QImage pdfImage(const QString& pdf, int page, int dpi)
{
    QTemporaryDir dir;
    const QString base = dir.filePath(QStringLiteral("page"));
    poppler(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-f"),
                                         QString::number(page), QStringLiteral("-l"), QString::number(page),
                                         QStringLiteral("-png"), QStringLiteral("-singlefile"), pdf, base});
    return QImage(base + QStringLiteral(".png"));
}

// Pixels in the outline's ink (a light red): red well above green and blue.
inline int inkPixels(const QImage& image)
{
    int n = 0;
    const QImage img = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x)
            if (qRed(line[x]) - qGreen(line[x]) > 60 && qRed(line[x]) - qBlue(line[x]) > 60)
                ++n;
    }
    return n;
}

// Pixels dark enough to be printed text.
inline int darkPixels(const QImage& image)
{
    int n = 0;
    const QImage img = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x)
            if (qGray(line[x]) < 100)
                ++n;
    }
    return n;
}

// A PNG file without its pHYs chunk: one that states no resolution.
inline QByteArray withoutResolution(const QByteArray& png)
{
    QByteArray out = png.left(8);
    for (qsizetype at = 8; at + 8 <= png.size();) {
        const qsizetype length = qFromBigEndian<quint32>(png.constData() + at);
        if (png.mid(at + 4, 4) != "pHYs")
            out += png.mid(at, length + 12);
        at += length + 12;
    }
    return out;
}

} // namespace reporttest
