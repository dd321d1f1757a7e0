#include "gui/Glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>
#include <functional>

namespace halvenna::glyphs {

namespace {

// Draws a picture on a size × size canvas laid out in a 16-unit grid, and its greyed twin.
QIcon make(int size, const std::function<void(QPainter&)>& draw)
{
    QPixmap normal(size, size);
    normal.fill(Qt::transparent);
    {
        QPainter p(&normal);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 16.0, size / 16.0);
        draw(p);
    }
    QImage grey = normal.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < grey.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(grey.scanLine(y));
        for (int x = 0; x < grey.width(); ++x) {
            const int g = 128 + qGray(line[x]) / 3;
            line[x] = qRgba(g, g, g, qAlpha(line[x]) / 2);
        }
    }
    QIcon icon;
    icon.addPixmap(normal, QIcon::Normal);
    icon.addPixmap(QPixmap::fromImage(grey), QIcon::Disabled);
    return icon;
}

QPen pen(const QColor& c, qreal width)
{
    return QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void document(QPainter& p, const QRectF& r)
{
    p.setPen(pen(QColor(60, 60, 60), 0.8));
    p.setBrush(Qt::white);
    QPainterPath path;
    path.moveTo(r.topLeft());
    path.lineTo(r.right() - 3, r.top());
    path.lineTo(r.right(), r.top() + 3);
    path.lineTo(r.bottomRight());
    path.lineTo(r.bottomLeft());
    path.closeSubpath();
    p.drawPath(path);
    p.setPen(pen(QColor(150, 150, 150), 0.6));
    for (qreal y = r.top() + 4; y < r.bottom() - 1; y += 2)
        p.drawLine(QPointF(r.left() + 2, y), QPointF(r.right() - 2, y));
}

void arrow(QPainter& p, QPointF from, QPointF to, const QColor& c)
{
    p.setPen(pen(c, 2.2));
    p.drawLine(from, to);
    const QPointF d = (to - from) / std::hypot(to.x() - from.x(), to.y() - from.y());
    const QPointF n(-d.y(), d.x());
    QPainterPath head;
    head.moveTo(to + d * 1.5);
    head.lineTo(to - d * 2.5 + n * 3);
    head.lineTo(to - d * 2.5 - n * 3);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPath(head);
}

} // namespace

QIcon checkMark(int size)
{
    return make(size, [](QPainter& p) {
        p.setPen(pen(QColor(0, 150, 0), 2.6));
        p.drawPolyline(QPolygonF({QPointF(2.5, 8.5), QPointF(6.5, 12.5), QPointF(13.5, 3.5)}));
    });
}

QIcon cross(int size, bool darkRed)
{
    return make(size, [darkRed](QPainter& p) {
        p.setPen(pen(darkRed ? QColor(150, 0, 0) : QColor(220, 0, 0), 2.6));
        p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
        p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
    });
}

QIcon close(int size)
{
    return make(size, [](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 160, 60));
        p.drawRect(QRectF(3, 0.5, 10, 3));
        p.setPen(pen(QColor(90, 60, 30), 0.8));
        p.setBrush(QColor(230, 220, 200));
        p.drawRect(QRectF(3.5, 5, 9, 10.5)); // door frame
        p.setBrush(QColor(160, 110, 60));
        p.drawPolygon(QPolygonF({QPointF(3.5, 5), QPointF(9, 6.5), QPointF(9, 15.5), QPointF(3.5, 15.5)}));
        p.setBrush(Qt::yellow);
        p.drawEllipse(QPointF(7.8, 11), 0.7, 0.7);
    });
}

QIcon importCsv(int size)
{
    return make(size, [](QPainter& p) {
        document(p, QRectF(1.5, 0.5, 8, 10));
        p.setPen(pen(QColor(60, 60, 60), 0.9));
        p.setBrush(QColor(200, 200, 200));
        p.drawPolygon(QPolygonF({QPointF(1, 12), QPointF(15, 12), QPointF(14, 15.5), QPointF(2, 15.5)}));
        arrow(p, QPointF(12, 1), QPointF(12, 10), QColor(220, 0, 0));
    });
}

QIcon deleteRow(int size)
{
    return make(size, [](QPainter& p) {
        arrow(p, QPointF(10, 8), QPointF(3, 8), QColor(0, 60, 220));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(220, 0, 0));
        p.drawRect(QRectF(11.5, 2, 3, 12));
    });
}

QIcon newRow(int size)
{
    return make(size, [](QPainter& p) {
        document(p, QRectF(7, 1, 8, 14));
        arrow(p, QPointF(0.5, 8), QPointF(8, 8), QColor(220, 0, 0));
    });
}

QIcon printer(int size, const QColor& accent)
{
    return make(size, [accent](QPainter& p) {
        p.setPen(pen(QColor(60, 60, 60), 0.8));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4, 0.5, 8, 6)); // sheet going in
        p.setBrush(QColor(190, 190, 190));
        p.drawRect(QRectF(1, 6, 14, 6.5)); // body
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4, 10, 8, 5.5)); // sheet coming out
        p.setPen(pen(accent, 1.2));
        p.drawLine(QPointF(5.5, 12.3), QPointF(10.5, 12.3));
        p.drawLine(QPointF(5.5, 14), QPointF(9, 14));
    });
}

QIcon printMany(int size, const QColor& accent)
{
    return make(size, [accent](QPainter& p) {
        p.setPen(pen(QColor(60, 60, 60), 0.8));
        p.setBrush(Qt::white);
        for (qreal dx : {2.0, 0.0}) // sheets stacked behind the one going in
            p.drawRect(QRectF(3 + dx, 0.5 + 2 - dx, 8, 6));
        p.setBrush(QColor(190, 190, 190));
        p.drawRect(QRectF(1, 6, 14, 6.5));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4, 10, 8, 5.5));
        p.setPen(pen(accent, 1.2));
        p.drawLine(QPointF(5.5, 12.3), QPointF(10.5, 12.3));
        p.drawLine(QPointF(5.5, 14), QPointF(9, 14));
        p.setPen(Qt::NoPen);
        p.setBrush(accent);
        p.drawEllipse(QPointF(13, 7.8), 1, 1);
    });
}

QIcon checkAll(int size)
{
    return make(size, [](QPainter& p) {
        for (qreal y : {1.0, 9.0}) {
            p.setPen(pen(QColor(60, 60, 60), 0.8));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(1.5, y, 6, 6));
            p.setPen(pen(QColor(0, 150, 0), 1.6));
            p.drawPolyline(QPolygonF({QPointF(2.5, y + 3), QPointF(4.3, y + 5), QPointF(7.5, y + 1)}));
            p.setPen(pen(QColor(60, 60, 60), 1));
            p.drawLine(QPointF(9.5, y + 3), QPointF(15, y + 3));
        }
    });
}

QIcon clearAll(int size)
{
    return make(size, [](QPainter& p) {
        for (qreal y : {1.0, 9.0}) {
            p.setPen(pen(QColor(60, 60, 60), 0.8));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(1.5, y, 6, 6));
            p.setPen(pen(QColor(60, 60, 60), 1));
            p.drawLine(QPointF(9.5, y + 3), QPointF(15, y + 3));
        }
    });
}

} // namespace halvenna::glyphs
