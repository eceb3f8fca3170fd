#include "view/framedrawing.h"

#include "slices/slicedatas.h"
#include "view/projection.h"

#include <QImage>
#include <QPainter>
#include <QSet>
#include <QtTest>

#include "tests/linerecorder.h"

#include <cmath>
#include <limits>

Q_DECLARE_METATYPE(ViewState)

namespace {

QList<QLine> record(const ViewState &view, int ss, int sw, int sh, bool temae,
                    const QColor &colour = QColor(0, 127, 127))
{
    RecordingDevice device;
    QPainter p(&device);
    paintFrame(p, view, 256, 256, ss, sw, sh, temae, colour);
    p.end();
    for (const QPen &pen : std::as_const(device.engine.pens)) {
        if (pen.color() != colour || pen.widthF() != 1.0 || pen.style() != Qt::SolidLine)
            return {};
    }
    return device.engine.lines;
}

// A segment without its direction, for comparing the two passes.
QSet<QPair<QPair<int, int>, QPair<int, int>>> segments(const QList<QLine> &lines)
{
    QSet<QPair<QPair<int, int>, QPair<int, int>>> set;
    for (const QLine &l : lines) {
        QPair<int, int> a(l.x1(), l.y1());
        QPair<int, int> b(l.x2(), l.y2());
        if (b < a)
            std::swap(a, b);
        set.insert({a, b});
    }
    return set;
}

// Looks along (1, 1, 1): X+, Y+ and Z+ face the viewer.
ViewState diagonalView()
{
    ViewState v;
    v.zoom = 0.5;
    const double r2 = std::sqrt(2.0);
    const double r3 = std::sqrt(3.0);
    const double r6 = std::sqrt(6.0);
    v.nx = {1 / r2, -1 / r2, 0};
    v.ny = {1 / r6, 1 / r6, -2 / r6};
    v.nz = {1 / r3, 1 / r3, 1 / r3};
    return v;
}

// Tilted about the X axis, so that Y- is far and Y+ near.
ViewState tiltedView()
{
    ViewState v;
    v.ny = {0, 0.8, -0.6};
    v.nz = {0, 0.6, 0.8};
    return v;
}

} // namespace

class tst_FrameDrawing : public QObject
{
    Q_OBJECT

private slots:
    void initialView_data();
    void initialView();
    void faceSelection_data();
    void faceSelection();
    void silhouetteInBothPasses();
    void initialViewPixels();
    void realSeriesBox();
};

void tst_FrameDrawing::initialView_data()
{
    QTest::addColumn<bool>("temae");
    QTest::addColumn<QList<QLine>>("expected");

    QTest::newRow("back pass: face Z-")
            << false
            << QList<QLine>{QLine(0, 0, 256, 0), QLine(0, 0, 0, 256), QLine(256, 256, 256, 0),
                            QLine(256, 256, 0, 256)};
    QTest::newRow("front pass: face Z+")
            << true
            << QList<QLine>{QLine(256, 256, 0, 256), QLine(256, 256, 256, 0), QLine(0, 0, 0, 256),
                            QLine(0, 0, 256, 0)};
}

// A 256 x 256 x 100 set on a 256 x 256 image at zoom 1: both passes give the
// same square, and the four side faces, seen edge-on, are drawn in neither.
void tst_FrameDrawing::initialView()
{
    QFETCH(bool, temae);
    QFETCH(QList<QLine>, expected);
    QCOMPARE(record(ViewState(), 100, 256, 256, temae), expected);
}

void tst_FrameDrawing::faceSelection_data()
{
    QTest::addColumn<ViewState>("view");
    QTest::addColumn<int>("ss");
    QTest::addColumn<int>("sw");
    QTest::addColumn<int>("sh");
    QTest::addColumn<int>("backLines");
    QTest::addColumn<int>("frontLines");

    ViewState edgeOn;
    edgeOn.nx = {0, 0, -1};
    edgeOn.nz = {1, 0, 0};
    ViewState notANumber;
    notANumber.nz = {std::numeric_limits<double>::quiet_NaN(), 0, 1};
    ViewState huge;
    huge.zoom = 1e-300;
    huge.nx = diagonalView().nx;
    huge.ny = diagonalView().ny;
    huge.nz = diagonalView().nz;
    huge.centre = {20, 15, 10}; // the near corner (+, +, +)

    QTest::newRow("diagonal view: three far and three near faces")
            << diagonalView() << 20 << 40 << 30 << 12 << 12;
    QTest::newRow("no slices, initial view: no frame") << ViewState() << 0 << 40 << 30 << 0 << 0;
    QTest::newRow("no slices, tilted: the flat sides Y- and Y+")
            << tiltedView() << 0 << 40 << 30 << 4 << 4;
    QTest::newRow("seen along X: X- far, X+ near") << edgeOn << 20 << 40 << 30 << 4 << 4;
    QTest::newRow("no width, seen along X: nothing") << edgeOn << 20 << 0 << 30 << 0 << 0;
    QTest::newRow("direction not a number: only Z faces")
            << notANumber << 20 << 40 << 30 << 4 << 4;
    QTest::newRow("corners far beyond int: the edges through the centre, cut")
            << huge << 20 << 40 << 30 << 0 << 6;
}

void tst_FrameDrawing::faceSelection()
{
    QFETCH(ViewState, view);
    QFETCH(int, ss);
    QFETCH(int, sw);
    QFETCH(int, sh);
    QFETCH(int, backLines);
    QFETCH(int, frontLines);
    QCOMPARE(record(view, ss, sw, sh, false).size(), backLines);
    QCOMPARE(record(view, ss, sw, sh, true).size(), frontLines);
}

// The six edges between a near and a far face are drawn in both passes; the
// three edges inside each half appear in one pass only.
void tst_FrameDrawing::silhouetteInBothPasses()
{
    const auto back = segments(record(diagonalView(), 20, 40, 30, false));
    const auto front = segments(record(diagonalView(), 20, 40, 30, true));
    QCOMPARE(back.size(), 9);
    QCOMPARE(front.size(), 9);
    QCOMPARE(QSet(back).intersect(front).size(), 6);
}

// Right and bottom sides lie on column and row 256, just outside the image.
void tst_FrameDrawing::initialViewPixels()
{
    QImage image(256, 256, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    paintFrame(p, ViewState(), 256, 256, 100, 256, 256, false, QColor(0, 127, 127));
    paintFrame(p, ViewState(), 256, 256, 100, 256, 256, true, QColor(0, 127, 127));
    p.end();
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            const QRgb expected = (x == 0 || y == 0) ? qRgb(0, 127, 127) : qRgb(255, 255, 255);
            QVERIFY2(image.pixel(x, y) == expected,
                     qPrintable(QString("pixel %1,%2").arg(x).arg(y)));
        }
    }
}

// A real CT series (pydicom's ct5n: 16 x 16 pixels 0.488281 mm apart, five
// slices 2.5 mm apart, as python3-pydicom reads it) seen exactly from the
// side: its box is as deep as its slices reach, 12.5 mm or 25.6 columns,
// not five, and as tall as its 16 rows.
void tst_FrameDrawing::realSeriesBox()
{
    SliceDatas set;
    QStringList files;
    for (const char *name : {"2062", "2392", "2693", "3023", "3353"})
        files.append(QStringLiteral(CTSLAB_TEST_DATA "/dicom/ct5n/") + name);
    set.filesSelected(files);
    QCOMPARE(set.slices.size(), 5);

    SetSnapshot snapshot;
    for (const Slice *slice : std::as_const(set.slices))
        snapshot.slices.append(slice);
    snapshot.sw = set.width;
    snapshot.sh = set.height;
    snapshot.shape = set.shape;
    snapshot.showVolume = false;
    snapshot.vColor = QColor(0, 127, 127);
    ViewState side;
    side.zoom = 0.25;
    rotateAxes(side, side.ny, 0.0, 1.0);
    QImage image(128, 128, QImage::Format_ARGB32);
    renderScene(image, side, {snapshot});

    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != qRgb(255, 255, 255))
                box |= QRect(x, y, 1, 1);
        }
    }
    // 25.6 and 16 columns at four pixels a column, each end truncated.
    QVERIFY2(box.width() >= 102 && box.width() <= 104, qPrintable(QString::number(box.width())));
    QVERIFY2(box.height() >= 64 && box.height() <= 65, qPrintable(QString::number(box.height())));
}

QTEST_MAIN(tst_FrameDrawing)
#include "tst_framedrawing.moc"
