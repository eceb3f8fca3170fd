#include <QtTest>

#include <QMouseEvent>
#include <QWheelEvent>

#include "widgets/chcoord.h"
#include "widgets/mousec.h"

namespace {

void press(MouseC &mouse, QPoint at, Qt::MouseButton button, Qt::KeyboardModifiers modifiers)
{
    QMouseEvent e(QEvent::MouseButtonPress, at, at, button, button, modifiers);
    mouse.recordPress(&e);
}

void release(MouseC &mouse, QPoint at, Qt::MouseButton button, Qt::KeyboardModifiers modifiers)
{
    QMouseEvent e(QEvent::MouseButtonRelease, at, at, button, Qt::NoButton, modifiers);
    mouse.recordRelease(&e);
}

void move(MouseC &mouse, QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QMouseEvent e(QEvent::MouseMove, at, at, Qt::NoButton, Qt::NoButton, modifiers);
    mouse.recordMove(&e);
}

void wheel(MouseC &mouse, int angleDeltaY)
{
    QWheelEvent e(QPointF(), QPointF(), QPoint(), QPoint(0, angleDeltaY), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    mouse.recordWheel(&e);
}

} // namespace

// A tracker on a 101 x 101 pixel area (y bottom-up, as the widgets set it)
// showing the unit square, attached to its own mouse.
class tst_ChCoord : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void maps_data();
    void maps();
    void pan_data();
    void pan();
    void rectangleZoom_data();
    void rectangleZoom();
    void wheelZoom_data();
    void wheelZoom();
    void attachment();
    void reattachAfterRelayDied();

private:
    MouseC mouse;
    ChCoord coord;
};

void tst_ChCoord::init()
{
    coord.attachMouse(nullptr);
    mouse.prevPos = mouse.pos = QPoint();
    mouse.pressed = false;
    coord.dragCode = 1;
    coord.setPixelRange(0, 100, 100, 0);
    coord.setWorldRange(0, 0, 1, 1);
    coord.attachMouse(&mouse);
}

void tst_ChCoord::maps_data()
{
    QTest::addColumn<QString>("map");
    QTest::addColumn<QList<double>>("pixelRange");
    QTest::addColumn<QList<double>>("worldRange");
    QTest::addColumn<double>("argument");
    QTest::addColumn<double>("expected");

    // Each expected value differs in its last bit from what a reordered
    // formula gives, so the order of the operations is pinned down.
    QTest::newRow("x on a 200-pixel display, column 15")
        << "pixelToWorldX" << QList<double>{0, 199, 199, 0} << QList<double>{0, 0, 1, 1}
        << 15.0 << 0.07537688442211056;
    QTest::newRow("y on a 256-pixel display, row 11 counts from the bottom")
        << "pixelToWorldY" << QList<double>{0, 255, 255, 0} << QList<double>{0, 0, 1, 1}
        << 11.0 << 0.9568627450980391;
    QTest::newRow("histogram percent 11 on a 200-pixel label")
        << "worldToPixelX" << QList<double>{0, 40, 200, 0} << QList<double>{0, 0, 101, 1}
        << 11.0 << 21.78217821782178;
    QTest::newRow("a 101-pixel label has one column per percent")
        << "pixelToWorldX" << QList<double>{0, 40, 101, 0} << QList<double>{0, 0, 101, 1}
        << 50.0 << 50.0;
    QTest::newRow("bottom row is world y0")
        << "pixelToWorldY" << QList<double>{0, 99, 99, 0} << QList<double>{0, -2, 1, 3}
        << 99.0 << -2.0;
}

void tst_ChCoord::maps()
{
    QFETCH(QString, map);
    QFETCH(QList<double>, pixelRange);
    QFETCH(QList<double>, worldRange);
    QFETCH(double, argument);
    QFETCH(double, expected);

    coord.setPixelRange(pixelRange[0], pixelRange[1], pixelRange[2], pixelRange[3]);
    coord.setWorldRange(worldRange[0], worldRange[1], worldRange[2], worldRange[3]);
    double actual = 0;
    if (map == "pixelToWorldX")
        actual = coord.pixelToWorldX(argument);
    else if (map == "pixelToWorldY")
        actual = coord.pixelToWorldY(argument);
    else
        actual = coord.worldToPixelX(argument);
    QVERIFY2(actual == expected, qPrintable(QString::number(actual, 'g', 17)));
}

void tst_ChCoord::pan_data()
{
    QTest::addColumn<int>("dragCode");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<bool>("pans");

    const Qt::KeyboardModifiers none;
    QTest::newRow("left with Shift pans") << 1 << Qt::LeftButton
                                          << Qt::KeyboardModifiers(Qt::ShiftModifier) << true;
    QTest::newRow("left alone only reports") << 1 << Qt::LeftButton << none << false;
    QTest::newRow("left with Shift and Control only reports")
        << 1 << Qt::LeftButton << (Qt::ShiftModifier | Qt::ControlModifier) << false;
    QTest::newRow("code 0: left alone pans") << 0 << Qt::LeftButton << none << true;
    QTest::newRow("code 14: right with Control+Alt pans")
        << 14 << Qt::RightButton << (Qt::ControlModifier | Qt::AltModifier) << true;
    QTest::newRow("code 4: left with Shift+Control and keypad pans")
        << 4 << Qt::LeftButton
        << (Qt::ShiftModifier | Qt::ControlModifier | Qt::KeypadModifier) << true;
}

// The content follows the pointer: dragging right and up moves the world
// range left and down by the same world distance.
void tst_ChCoord::pan()
{
    QFETCH(int, dragCode);
    QFETCH(Qt::MouseButton, button);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(bool, pans);

    coord.dragCode = dragCode;
    press(mouse, QPoint(50, 50), button, modifiers);
    QSignalSpy updated(&coord, &ChCoord::updated);
    QSignalSpy nowPos(&coord, &ChCoord::nowPos);
    move(mouse, QPoint(60, 40), modifiers);

    QCOMPARE(nowPos.count(), 1);
    QCOMPARE(nowPos.at(0).at(0).toDouble(), 0.6);
    QCOMPARE(nowPos.at(0).at(1).toDouble(), 0.6);
    QCOMPARE(updated.count(), pans ? 1 : 0);
    const double shift = pans ? -0.1 : 0.0;
    QCOMPARE(coord.wx0 + 1.0, 1.0 + shift);
    QCOMPARE(coord.wx1, 1.0 + shift);
    QCOMPARE(coord.wy0 + 1.0, 1.0 + shift);
    QCOMPARE(coord.wy1, 1.0 + shift);

    // Without a held button nothing pans.
    release(mouse, QPoint(60, 40), button, modifiers);
    updated.clear();
    move(mouse, QPoint(70, 30), modifiers);
    QCOMPARE(updated.count(), 0);
}

void tst_ChCoord::rectangleZoom_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<QList<double>>("range"); // wx0, wy0, wx1, wy1 afterwards

    const Qt::KeyboardModifiers none;
    const QList<double> unchanged{0, 0, 1, 1};
    // Pixel row 30 is world 0.7, row 70 is world 0.3.
    QTest::newRow("upper left to lower right keeps y")
        << Qt::RightButton << none << QPoint(20, 30) << QPoint(60, 70)
        << QList<double>{0.2, 0.3, 0.6, 0.7};
    QTest::newRow("lower right to upper left keeps y")
        << Qt::RightButton << none << QPoint(60, 70) << QPoint(20, 30)
        << QList<double>{0.2, 0.3, 0.6, 0.7};
    QTest::newRow("lower left to upper right inverts y")
        << Qt::RightButton << none << QPoint(20, 70) << QPoint(60, 30)
        << QList<double>{0.2, 0.7, 0.6, 0.3};
    QTest::newRow("upper right to lower left inverts y")
        << Qt::RightButton << none << QPoint(60, 30) << QPoint(20, 70)
        << QList<double>{0.2, 0.7, 0.6, 0.3};
    QTest::newRow("keypad does not count as a modifier")
        << Qt::RightButton << Qt::KeyboardModifiers(Qt::KeypadModifier)
        << QPoint(20, 30) << QPoint(60, 70) << QList<double>{0.2, 0.3, 0.6, 0.7};
    QTest::newRow("Control: no zoom") << Qt::RightButton
                                      << Qt::KeyboardModifiers(Qt::ControlModifier)
                                      << QPoint(20, 30) << QPoint(60, 70) << unchanged;
    QTest::newRow("left button: no zoom") << Qt::LeftButton << none << QPoint(20, 30)
                                          << QPoint(60, 70) << unchanged;
    QTest::newRow("click without drag: no empty range")
        << Qt::RightButton << none << QPoint(20, 30) << QPoint(20, 30) << unchanged;
    QTest::newRow("flat drag: no empty range")
        << Qt::RightButton << none << QPoint(20, 30) << QPoint(60, 30) << unchanged;
    QTest::newRow("vertical drag: no empty range")
        << Qt::RightButton << none << QPoint(40, 30) << QPoint(40, 70) << unchanged;
}

// Every release reports an update, whether it zoomed or not.
void tst_ChCoord::rectangleZoom()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(QList<double>, range);

    press(mouse, from, button, modifiers);
    QSignalSpy updated(&coord, &ChCoord::updated);
    release(mouse, to, button, modifiers);
    QCOMPARE(updated.count(), 1);
    QCOMPARE(coord.wx0, range[0]);
    QCOMPARE(coord.wy0, range[1]);
    QCOMPARE(coord.wx1, range[2]);
    QCOMPARE(coord.wy1, range[3]);
}

void tst_ChCoord::wheelZoom_data()
{
    QTest::addColumn<QPoint>("pointer");
    QTest::addColumn<int>("angleDelta");
    QTest::addColumn<bool>("zoomsX");
    QTest::addColumn<bool>("zoomsY");
    QTest::addColumn<double>("factor");

    const double in = 1 / 1.1;
    // The bands are the outer tenth: x > 90 or x < 10, likewise for y.
    QTest::newRow("centre, step 1: both in") << QPoint(50, 50) << 120 << true << true << in;
    QTest::newRow("centre, step 3 zooms as step 1") << QPoint(50, 50) << 360 << true << true << in;
    QTest::newRow("centre, step 0 counts as forward") << QPoint(50, 50) << 60 << true << true
                                                      << in;
    QTest::newRow("centre, step -1: both out") << QPoint(50, 50) << -120 << true << true << 1.1;
    QTest::newRow("left band: y only") << QPoint(9, 50) << 120 << false << true << in;
    QTest::newRow("just inside the left edge of the centre") << QPoint(10, 50) << 120 << true
                                                             << true << in;
    QTest::newRow("right band: y only") << QPoint(91, 50) << 120 << false << true << in;
    QTest::newRow("just inside the right edge of the centre") << QPoint(90, 50) << 120 << true
                                                              << true << in;
    QTest::newRow("top band: x only") << QPoint(50, 9) << 120 << true << false << in;
    QTest::newRow("bottom band: x only") << QPoint(50, 91) << -120 << true << false << 1.1;
    QTest::newRow("corner: both") << QPoint(95, 5) << 120 << true << true << in;
}

// A zoomed axis shrinks or grows by the factor about the world point under
// the pointer, which stays where it was.
void tst_ChCoord::wheelZoom()
{
    QFETCH(QPoint, pointer);
    QFETCH(int, angleDelta);
    QFETCH(bool, zoomsX);
    QFETCH(bool, zoomsY);
    QFETCH(double, factor);

    move(mouse, pointer);
    const double x = coord.pixelToWorldX(pointer.x());
    const double y = coord.pixelToWorldY(pointer.y());
    QSignalSpy updated(&coord, &ChCoord::updated);
    wheel(mouse, angleDelta);

    QCOMPARE(updated.count(), 1);
    QCOMPARE(coord.wx1 - coord.wx0, zoomsX ? factor : 1.0);
    QCOMPARE(coord.wy1 - coord.wy0, zoomsY ? factor : 1.0);
    QCOMPARE(coord.pixelToWorldX(pointer.x()), x);
    QCOMPARE(coord.pixelToWorldY(pointer.y()), y);
}

void tst_ChCoord::attachment()
{
    ChCoord loose;
    QSignalSpy looseUpdated(&loose, &ChCoord::updated);
    loose.mPressed();
    loose.wheelMoved(1);
    QCOMPARE(looseUpdated.count(), 0);

    // Attaching twice does not double the connections.
    coord.attachMouse(&mouse);
    QSignalSpy updated(&coord, &ChCoord::updated);
    press(mouse, QPoint(1, 1), Qt::LeftButton, Qt::NoModifier);
    QCOMPARE(updated.count(), 1);

    // Detaching drops the connections but keeps the pointer.
    coord.attachMouse(nullptr);
    QCOMPARE(coord.mouse, &mouse);
    wheel(mouse, 120);
    QCOMPARE(updated.count(), 1);

    // A new relay replaces the old one.
    MouseC other;
    coord.attachMouse(&other);
    press(mouse, QPoint(1, 1), Qt::LeftButton, Qt::NoModifier);
    QCOMPARE(updated.count(), 1);
    press(other, QPoint(1, 1), Qt::LeftButton, Qt::NoModifier);
    QCOMPARE(updated.count(), 2);
    coord.attachMouse(nullptr);
}

// Attaching a new relay after the attached one was destroyed must not
// reach into the destroyed object.
void tst_ChCoord::reattachAfterRelayDied()
{
    ChCoord tracker;
    auto *dying = new MouseC;
    tracker.attachMouse(dying);
    delete dying;
    tracker.attachMouse(&mouse);
    QSignalSpy updated(&tracker, &ChCoord::updated);
    press(mouse, QPoint(1, 1), Qt::LeftButton, Qt::NoModifier);
    QCOMPARE(updated.count(), 1);

    auto *detached = new MouseC;
    tracker.attachMouse(detached);
    tracker.attachMouse(nullptr);
    delete detached;
    tracker.attachMouse(&mouse);
    press(mouse, QPoint(1, 1), Qt::LeftButton, Qt::NoModifier);
    QCOMPARE(updated.count(), 2);
}

QTEST_MAIN(tst_ChCoord)
#include "tst_chcoord.moc"
