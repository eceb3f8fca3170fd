#include "view/viewgeometry.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

#include "tests/linerecorder.h"

#include <cmath>
#include <limits>

Q_DECLARE_METATYPE(ViewState)

namespace {

const int limit = 1 << 30;
const double notANumber = std::numeric_limits<double>::quiet_NaN();

ViewState viewWith(double zoom, Vec3 centre = {})
{
    ViewState v;
    v.zoom = zoom;
    v.centre = centre;
    return v;
}

bool near(const Vec3 &a, const Vec3 &b)
{
    return std::fabs(a.x - b.x) < 1e-12 && std::fabs(a.y - b.y) < 1e-12
            && std::fabs(a.z - b.z) < 1e-12;
}

QByteArray text(const Vec3 &v)
{
    return QByteArray::number(v.x) + ", " + QByteArray::number(v.y) + ", "
            + QByteArray::number(v.z);
}

} // namespace

class tst_ViewGeometry : public QObject
{
    Q_OBJECT

private slots:
    void projectPoint_data();
    void projectPoint();
    void rayOrigin_data();
    void rayOrigin();
    void rotateAxes_data();
    void rotateAxes();
    void rotateAxesAboutOwnAxis_data();
    void rotateAxesAboutOwnAxis();
    void drawProjectedLine_data();
    void drawProjectedLine();
    void farLineThroughImage_data();
    void farLineThroughImage();
};

void tst_ViewGeometry::projectPoint_data()
{
    QTest::addColumn<ViewState>("view");
    QTest::addColumn<int>("W");
    QTest::addColumn<int>("H");
    QTest::addColumn<Vec3>("p");
    QTest::addColumn<QPoint>("expected");

    ViewState rotated;
    rotated.nx = {0, -1, 0};
    rotated.ny = {1, 0, 0};

    QTest::newRow("origin at the half of an even size") << ViewState() << 256 << 256 << Vec3{}
                                                        << QPoint(128, 128);
    QTest::newRow("odd sizes halve toward zero") << ViewState() << 255 << 101 << Vec3{}
                                                 << QPoint(127, 50);
    QTest::newRow("corner of a 256 set at zoom 1") << ViewState() << 256 << 256
                                                   << Vec3{128, 128, 50} << QPoint(256, 256);
    QTest::newRow("-0.5 truncates to 0") << ViewState() << 2 << 2 << Vec3{-1.5, -0.5, 0}
                                         << QPoint(0, 0);
    QTest::newRow("-1.5 truncates to -1") << ViewState() << 2 << 2 << Vec3{-2.5, -1.7, 0}
                                          << QPoint(-1, 0);
    QTest::newRow("zoom 2 halves distances") << viewWith(2) << 256 << 256 << Vec3{10, -10, 0}
                                             << QPoint(133, 123);
    QTest::newRow("centre is shown at the middle") << viewWith(1, {10, 20, 5}) << 256 << 256
                                                   << Vec3{10, 20, 0} << QPoint(128, 128);
    QTest::newRow("depth along nz does not move a point") << ViewState() << 256 << 256
                                                          << Vec3{3, 4, 1000} << QPoint(131, 132);
    QTest::newRow("rotated screen frame") << rotated << 256 << 256 << Vec3{5, 7, 0}
                                          << QPoint(121, 133);
    QTest::newRow("tiny zoom saturates at the limit") << viewWith(1e-300) << 256 << 256
                                                      << Vec3{1, -1, 0} << QPoint(limit, -limit);
    QTest::newRow("huge zoom collapses onto the middle") << viewWith(1e300) << 256 << 256
                                                         << Vec3{1e5, -1e5, 0} << QPoint(128, 128);
    QTest::newRow("zoom 0: infinity saturates, 0/0 lands off the image")
            << viewWith(0) << 256 << 256 << Vec3{1, 0, 0} << QPoint(limit, -limit);
    QTest::newRow("not a number lands off the image") << viewWith(1, {notANumber, 0, 0}) << 256
                                                      << 256
                                                      << Vec3{} << QPoint(-limit, -limit);
}

void tst_ViewGeometry::projectPoint()
{
    QFETCH(ViewState, view);
    QFETCH(int, W);
    QFETCH(int, H);
    QFETCH(Vec3, p);
    QFETCH(QPoint, expected);
    QCOMPARE(::projectPoint(view, W, H, p), expected);
}

void tst_ViewGeometry::rayOrigin_data()
{
    QTest::addColumn<ViewState>("view");
    QTest::addColumn<QPoint>("pixel");
    QTest::addColumn<Vec3>("expected");

    ViewState turned = viewWith(2, {1, 2, 3});
    turned.nx = {0, 0, 1};
    turned.ny = {0, 1, 0};
    turned.nz = {-1, 0, 0};

    QTest::newRow("top left of a 256 image") << ViewState() << QPoint(0, 0)
                                             << Vec3{-128, -128, 0};
    QTest::newRow("middle pixel starts at the centre")
            << viewWith(3, {5, 6, 7}) << QPoint(128, 128) << Vec3{5, 6, 7};
    QTest::newRow("zoom and turned frame") << turned << QPoint(130, 120) << Vec3{1, -14, 7};
}

void tst_ViewGeometry::rayOrigin()
{
    QFETCH(ViewState, view);
    QFETCH(QPoint, pixel);
    QFETCH(Vec3, expected);
    const Vec3 origin = ::rayOrigin(view, 256, 256, pixel.x(), pixel.y());
    QVERIFY2(near(origin, expected), text(origin));
    // The pixel mapping undoes the ray mapping on an even image.
    QCOMPARE(::projectPoint(view, 256, 256, origin), pixel);
}

void tst_ViewGeometry::rotateAxes_data()
{
    QTest::addColumn<Vec3>("rax");
    QTest::addColumn<double>("th");
    QTest::addColumn<Vec3>("nx");
    QTest::addColumn<Vec3>("ny");
    QTest::addColumn<Vec3>("nz");

    QTest::newRow("pi/2 about z") << Vec3{0, 0, 1} << M_PI / 2 << Vec3{0, -1, 0} << Vec3{1, 0, 0}
                                  << Vec3{0, 0, 1};
    QTest::newRow("pi/2 about x") << Vec3{1, 0, 0} << M_PI / 2 << Vec3{1, 0, 0} << Vec3{0, 0, -1}
                                  << Vec3{0, 1, 0};
    QTest::newRow("-pi/2 about y") << Vec3{0, 1, 0} << -M_PI / 2 << Vec3{0, 0, -1}
                                   << Vec3{0, 1, 0} << Vec3{1, 0, 0};
    QTest::newRow("pi about the view direction") << Vec3{0, 0, 1} << M_PI << Vec3{-1, 0, 0}
                                                 << Vec3{0, -1, 0} << Vec3{0, 0, 1};
    QTest::newRow("angle 0 changes nothing") << Vec3{0.6, 0.8, 0} << 0.0 << Vec3{1, 0, 0}
                                             << Vec3{0, 1, 0} << Vec3{0, 0, 1};
}

void tst_ViewGeometry::rotateAxes()
{
    QFETCH(Vec3, rax);
    QFETCH(double, th);
    QFETCH(Vec3, nx);
    QFETCH(Vec3, ny);
    QFETCH(Vec3, nz);
    ViewState view = viewWith(1.5, {1, 2, 3});
    ::rotateAxes(view, rax, th);
    QVERIFY2(near(view.nx, nx), text(view.nx));
    QVERIFY2(near(view.ny, ny), text(view.ny));
    QVERIFY2(near(view.nz, nz), text(view.nz));
    QCOMPARE(view.zoom, 1.5);
    QCOMPARE(view.centre.z, 3.0);
}

void tst_ViewGeometry::rotateAxesAboutOwnAxis_data()
{
    QTest::addColumn<int>("axis");
    QTest::newRow("about nx") << 0;
    QTest::newRow("about ny") << 1;
    QTest::newRow("about nz") << 2;
}

// A caller may turn the view about one of its own axes; every axis must
// still be turned about the axis as it was before the call.
void tst_ViewGeometry::rotateAxesAboutOwnAxis()
{
    QFETCH(int, axis);
    ViewState start;
    ::rotateAxes(start, {0.48, 0.6, 0.64}, 0.7);
    const double th = 1.1;

    ViewState expected = start;
    const Vec3 copy = axis == 0 ? start.nx : axis == 1 ? start.ny : start.nz;
    ::rotateAxes(expected, copy, th);

    ViewState view = start;
    ::rotateAxes(view, axis == 0 ? view.nx : axis == 1 ? view.ny : view.nz, th);
    QCOMPARE(view.nx.x, expected.nx.x);
    QCOMPARE(view.nx.y, expected.nx.y);
    QCOMPARE(view.ny.z, expected.ny.z);
    QCOMPARE(view.nz.x, expected.nz.x);
    QCOMPARE(view.nz.z, expected.nz.z);
}

void tst_ViewGeometry::drawProjectedLine_data()
{
    QTest::addColumn<ViewState>("view");
    QTest::addColumn<Vec3>("a");
    QTest::addColumn<Vec3>("b");
    QTest::addColumn<QList<QLine>>("expected");
    QTest::addColumn<bool>("exact");

    QTest::newRow("ends in range: the plain formula")
            << ViewState() << Vec3{-10.5, 3, 0} << Vec3{20.7, -40.2, 0}
            << QList<QLine>{QLine(117, 131, 148, 87)} << true;
    QTest::newRow("ends far outside the image but in range")
            << viewWith(1.0 / 1048576) << Vec3{-100, 0, 0} << Vec3{100, 1.0 / 2048, 0}
            << QList<QLine>{QLine(-104857472, 128, 104857728, 640)} << true;
    QTest::newRow("both ends beyond the limit: cut at the limit")
            << viewWith(1e-9) << Vec3{-1000, 0, 0} << Vec3{1000, 0, 0}
            << QList<QLine>{QLine(-limit, 128, limit, 128)} << false;
    QTest::newRow("one end beyond the limit")
            << viewWith(1e-9) << Vec3{0, 0, 0} << Vec3{0, 1000, 0}
            << QList<QLine>{QLine(128, 128, 128, limit)} << false;
    QTest::newRow("wholly beyond the limit: nothing") << viewWith(1e-9) << Vec3{-1000, 0, 0}
                                                      << Vec3{-2000, 5, 0} << QList<QLine>()
                                                      << true;
    QTest::newRow("an end at infinity: nothing") << viewWith(0) << Vec3{} << Vec3{1, 0, 0}
                                                 << QList<QLine>() << true;
    QTest::newRow("an end not a number: nothing")
            << ViewState() << Vec3{} << Vec3{notANumber, 0, 0} << QList<QLine>() << true;
    QTest::newRow("an end overflows to infinity: nothing")
            << viewWith(1e-300) << Vec3{-1e10, 0, 0} << Vec3{1e10, 0, 0} << QList<QLine>()
            << true;
    QTest::newRow("ends further apart than the largest double")
            << viewWith(1e-300) << Vec3{-1e8, 0, 0} << Vec3{1e8, 0, 0}
            << QList<QLine>{QLine(-limit, 128, limit, 128)} << false;
}

void tst_ViewGeometry::drawProjectedLine()
{
    QFETCH(ViewState, view);
    QFETCH(Vec3, a);
    QFETCH(Vec3, b);
    QFETCH(QList<QLine>, expected);
    QFETCH(bool, exact);

    RecordingDevice device;
    QPainter p(&device);
    ::drawProjectedLine(p, view, 256, 256, a, b);
    p.end();
    const QList<QLine> &lines = device.engine.lines;
    QCOMPARE(device.engine.floatLines, 0);
    if (exact) {
        QCOMPARE(lines, expected);
        return;
    }
    // Cut ends may fall a rounding short of the limit.
    QCOMPARE(lines.size(), expected.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QLine d = QLine(lines[i].p1() - expected[i].p1(), lines[i].p2() - expected[i].p2());
        QVERIFY2(std::abs(d.x1()) <= 1 && std::abs(d.y1()) <= 1 && std::abs(d.x2()) <= 1
                         && std::abs(d.y2()) <= 1,
                 qPrintable(QString("%1,%2 %3,%4").arg(lines[i].x1()).arg(lines[i].y1())
                                    .arg(lines[i].x2()).arg(lines[i].y2())));
    }
}

void tst_ViewGeometry::farLineThroughImage_data()
{
    QTest::addColumn<Vec3>("a");
    QTest::addColumn<Vec3>("b");
    QTest::addColumn<int>("slopeX");
    QTest::addColumn<int>("slopeY");

    QTest::newRow("horizontal") << Vec3{-1000, 0, 0} << Vec3{1000, 0, 0} << 1 << 0;
    QTest::newRow("vertical") << Vec3{0, 1000, 0} << Vec3{0, -1000, 0} << 0 << 1;
    QTest::newRow("diagonal") << Vec3{-1000, -1000, 0} << Vec3{1000, 1000, 0} << 1 << 1;
    QTest::newRow("anti-diagonal") << Vec3{1000, -1000, 0} << Vec3{-1000, 1000, 0} << -1 << 1;
}

// Lines whose ends lie far beyond the range of int still cross the image
// where the exact line does.
void tst_ViewGeometry::farLineThroughImage()
{
    QFETCH(Vec3, a);
    QFETCH(Vec3, b);
    QFETCH(int, slopeX);
    QFETCH(int, slopeY);

    QImage image(64, 64, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setPen(QPen(Qt::black));
    ::drawProjectedLine(p, viewWith(1e-9), 64, 64, a, b);
    p.end();
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            // The line runs through pixel (32, 32) with the given slope.
            const bool onLine = slopeY == 0 ? y == 32
                    : slopeX == 0           ? x == 32
                                            : (x - 32) * slopeY == (y - 32) * slopeX;
            QVERIFY2((image.pixel(x, y) == qRgb(0, 0, 0)) == onLine,
                     qPrintable(QString("pixel %1,%2").arg(x).arg(y)));
        }
    }
}

QTEST_MAIN(tst_ViewGeometry)
#include "tst_viewgeometry.moc"
