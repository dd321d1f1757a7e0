#pragma once

// A paint device that records what is drawn on it: every text with its baseline position, and how
// many lines, rectangles and paths were drawn. Its resolution is chosen by the test (254 dpi makes
// a millimetre ten pixels).
#include <QFont>
#include <QList>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QRegion>
#include <QString>
#include <QTextItem>
#include <QTransform>

#include <memory>

struct RecordedText
{
    QPointF at; // the baseline's left end, device pixels
    QString text;
    QFont font;
    qreal stretch = 1; // the horizontal scale it was drawn with
    QRectF clip;       // device pixels; empty when it was not clipped
};

// What was drawn.
struct Recording
{
    QList<RecordedText> texts;
    int lines = 0;
    int rects = 0;
    int paths = 0;
};

class RecordingEngine : public QPaintEngine
{
public:
    RecordingEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState& state) override
    {
        if (state.state() & QPaintEngine::DirtyFont)
            font_ = state.font();
        if (state.state() & QPaintEngine::DirtyTransform)
            transform_ = state.transform();
        if (state.state() &
            (QPaintEngine::DirtyClipPath | QPaintEngine::DirtyClipRegion | QPaintEngine::DirtyClipEnabled)) {
            if (!state.isClipEnabled() || state.clipOperation() == Qt::NoClip)
                clip_ = QRectF();
            else if (state.state() & QPaintEngine::DirtyClipPath)
                clip_ = state.transform().map(state.clipPath()).boundingRect();
            else if (state.state() & QPaintEngine::DirtyClipRegion)
                clip_ = state.transform().map(QRectF(state.clipRegion().boundingRect())).boundingRect();
        }
    }
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawTextItem(const QPointF& p, const QTextItem& item) override
    {
        rec.texts.append({transform_.map(p), item.text(), font_, transform_.m11(), clip_});
    }
    void drawLines(const QLineF*, int count) override { rec.lines += count; }
    void drawLines(const QLine*, int count) override { rec.lines += count; }
    void drawRects(const QRectF*, int count) override { rec.rects += count; }
    void drawRects(const QRect*, int count) override { rec.rects += count; }
    void drawPath(const QPainterPath&) override { ++rec.paths; }
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override { ++rec.paths; }
    void drawPolygon(const QPoint*, int, PolygonDrawMode) override { ++rec.paths; }
    Type type() const override { return QPaintEngine::User; }

    Recording rec;

private:
    QFont font_;
    QTransform transform_;
    QRectF clip_;
};

class RecordingDevice : public QPaintDevice
{
public:
    explicit RecordingDevice(int dpi = 254, QSize size = QSize(3000, 3000)) : dpi_(dpi), size_(size) {}
    ~RecordingDevice() override = default;
    QPaintEngine* paintEngine() const override { return &engine_; }
    const Recording& recording() const { return engine_.rec; }

protected:
    int metric(PaintDeviceMetric m) const override
    {
        switch (m) {
        case PdmWidth:
            return size_.width();
        case PdmHeight:
            return size_.height();
        case PdmWidthMM:
            return int(size_.width() * 25.4 / dpi_);
        case PdmHeightMM:
            return int(size_.height() * 25.4 / dpi_);
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return dpi_;
        case PdmNumColors:
            return 256;
        case PdmDepth:
            return 32;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(QPaintDevice::devicePixelRatioFScale());
        }
        return 0;
    }

private:
    int dpi_;
    QSize size_;
    mutable RecordingEngine engine_;
};
