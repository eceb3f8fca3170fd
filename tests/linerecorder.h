#ifndef TESTS_LINERECORDER_H
#define TESTS_LINERECORDER_H

#include <QLine>
#include <QList>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPen>

// Records each integer line a painter hands to its engine, exactly as given
// and with the pen it had; lines in floating point are only counted.
class LineRecorder : public QPaintEngine
{
public:
    LineRecorder() : QPaintEngine(QPaintEngine::AllFeatures) {}
    bool begin(QPaintDevice *) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState &state) override
    {
        if (state.state() & QPaintEngine::DirtyPen)
            pen = state.pen();
    }
    void drawLines(const QLine *l, int count) override
    {
        for (int i = 0; i < count; ++i) {
            lines.append(l[i]);
            pens.append(pen);
        }
    }
    void drawLines(const QLineF *, int count) override { floatLines += count; }
    void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override {}
    Type type() const override { return QPaintEngine::User; }

    QPen pen;
    QList<QLine> lines;
    QList<QPen> pens;
    int floatLines = 0;
};

// A 256 x 256 device that paints into a LineRecorder.
class RecordingDevice : public QPaintDevice
{
public:
    QPaintEngine *paintEngine() const override { return &engine; }
    mutable LineRecorder engine;

protected:
    int metric(PaintDeviceMetric m) const override
    {
        switch (m) {
        case PdmWidth:
        case PdmHeight:
            return 256;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 96;
        case PdmDepth:
            return 32;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(devicePixelRatioFScale());
        default:
            return 0;
        }
    }
};

#endif // TESTS_LINERECORDER_H
