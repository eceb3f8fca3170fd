#include <QtTest>

#include <QMouseEvent>
#include <QWheelEvent>

#include <cmath>
#include <limits>

#include "widgets/mousec.h"

namespace {

QMouseEvent mouseEvent(QEvent::Type type, QPointF pos, Qt::MouseButton button,
                       Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    return QMouseEvent(type, pos, pos, button, held, modifiers);
}

} // namespace

class tst_MouseC : public QObject
{
    Q_OBJECT

private slots:
    void modifierFlags_data();
    void modifierFlags();
    void truncatedPositions_data();
    void truncatedPositions();
    void pressMoveRelease();
    void doubleClickKeepsTrack();
    void wheelStep_data();
    void wheelStep();
};

void tst_MouseC::modifierFlags_data()
{
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QList<bool>>("flags"); // Shift, Control, Alt alone

    QTest::newRow("none") << Qt::KeyboardModifiers() << QList<bool>{false, false, false};
    QTest::newRow("Shift alone") << Qt::KeyboardModifiers(Qt::ShiftModifier)
                                 << QList<bool>{true, false, false};
    QTest::newRow("Control alone") << Qt::KeyboardModifiers(Qt::ControlModifier)
                                   << QList<bool>{false, true, false};
    QTest::newRow("Alt alone") << Qt::KeyboardModifiers(Qt::AltModifier)
                               << QList<bool>{false, false, true};
    QTest::newRow("Shift+Control sets neither") << (Qt::ShiftModifier | Qt::ControlModifier)
                                                << QList<bool>{false, false, false};
    QTest::newRow("Shift with keypad is not Shift alone")
        << (Qt::ShiftModifier | Qt::KeypadModifier) << QList<bool>{false, false, false};
}

// The flags test for exactly one modifier, on presses and on moves alike.
void tst_MouseC::modifierFlags()
{
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(QList<bool>, flags);

    MouseC mouse;
    QMouseEvent press = mouseEvent(QEvent::MouseButtonPress, QPointF(3, 4), Qt::LeftButton,
                                   modifiers);
    mouse.recordPress(&press);
    QCOMPARE(QList<bool>({mouse.shiftAtPress, mouse.controlAtPress, mouse.altAtPress}), flags);

    QMouseEvent move = mouseEvent(QEvent::MouseMove, QPointF(5, 6), Qt::NoButton, modifiers);
    mouse.recordMove(&move);
    QCOMPARE(QList<bool>({mouse.shiftAtMove, mouse.controlAtMove, mouse.altAtMove}), flags);
}

void tst_MouseC::truncatedPositions_data()
{
    constexpr double inf = std::numeric_limits<double>::infinity();
    constexpr int highest = std::numeric_limits<int>::max();
    constexpr int lowest = std::numeric_limits<int>::min();
    QTest::addColumn<QPointF>("position");
    QTest::addColumn<QPoint>("expected");

    QTest::newRow("10.7, 3.999 truncate down") << QPointF(10.7, 3.999) << QPoint(10, 3);
    QTest::newRow("-0.5, -1.9 truncate toward zero") << QPointF(-0.5, -1.9) << QPoint(0, -1);
    QTest::newRow("NaN gives 0") << QPointF(std::nan(""), 7.0) << QPoint(0, 7);
    QTest::newRow("infinities pin to the int ends") << QPointF(inf, -inf)
                                                    << QPoint(highest, lowest);
    QTest::newRow("beyond int pins to the int ends") << QPointF(-3e9, 1e300)
                                                     << QPoint(lowest, highest);
}

void tst_MouseC::truncatedPositions()
{
    QFETCH(QPointF, position);
    QFETCH(QPoint, expected);

    MouseC mouse;
    QMouseEvent move = mouseEvent(QEvent::MouseMove, position, Qt::NoButton);
    mouse.recordMove(&move);
    QCOMPARE(mouse.pos, expected);
    QMouseEvent press = mouseEvent(QEvent::MouseButtonPress, position, Qt::LeftButton);
    mouse.recordPress(&press);
    QCOMPARE(mouse.pressPos, expected);
    QMouseEvent release = mouseEvent(QEvent::MouseButtonRelease, position, Qt::LeftButton);
    mouse.recordRelease(&release);
    QCOMPARE(mouse.releasePos, expected);
    QMouseEvent dClick = mouseEvent(QEvent::MouseButtonDblClick, position, Qt::LeftButton);
    mouse.recordDoubleClick(&dClick);
    QCOMPARE(mouse.dClickPos, expected);
}

void tst_MouseC::pressMoveRelease()
{
    MouseC mouse;
    QSignalSpy pressed(&mouse, &MouseC::mPressed);
    QSignalSpy moved(&mouse, &MouseC::mMoved);
    QSignalSpy released(&mouse, &MouseC::mReleased);

    QMouseEvent press = mouseEvent(QEvent::MouseButtonPress, QPointF(10, 20), Qt::RightButton,
                                   Qt::ShiftModifier);
    mouse.recordPress(&press);
    QVERIFY(mouse.pressed && mouse.rightPressed && !mouse.leftPressed);
    QMouseEvent move = mouseEvent(QEvent::MouseMove, QPointF(15, 25), Qt::NoButton);
    mouse.recordMove(&move);
    QCOMPARE(mouse.prevPos, QPoint(10, 20));
    QCOMPARE(mouse.button, int(Qt::NoButton));

    QMouseEvent release = mouseEvent(QEvent::MouseButtonRelease, QPointF(30, 40),
                                     Qt::RightButton, Qt::ControlModifier);
    mouse.recordRelease(&release);
    QCOMPARE(QList<int>({int(pressed.count()), int(moved.count()), int(released.count())}),
             QList<int>({1, 1, 1}));
    QVERIFY(!mouse.pressed && !mouse.rightPressed);
    QCOMPARE(mouse.prevPos, QPoint(15, 25));
    QCOMPARE(mouse.pos, QPoint(30, 40));
    QCOMPARE(mouse.releaseModifiers, int(Qt::ControlModifier));
    // What the press recorded outlives the release.
    QCOMPARE(mouse.pressPos, QPoint(10, 20));
    QCOMPARE(mouse.pressButton, int(Qt::RightButton));
    QCOMPARE(mouse.pressModifiers, int(Qt::ShiftModifier));
}

void tst_MouseC::doubleClickKeepsTrack()
{
    MouseC mouse;
    QSignalSpy dClicked(&mouse, &MouseC::mDClicked);
    QMouseEvent first = mouseEvent(QEvent::MouseMove, QPointF(5, 5), Qt::NoButton);
    mouse.recordMove(&first);
    QMouseEvent second = mouseEvent(QEvent::MouseMove, QPointF(8, 8), Qt::NoButton);
    mouse.recordMove(&second);

    QMouseEvent dClick = mouseEvent(QEvent::MouseButtonDblClick, QPointF(20, 21),
                                    Qt::LeftButton, Qt::AltModifier);
    mouse.recordDoubleClick(&dClick);
    QCOMPARE(dClicked.count(), 1);
    QCOMPARE(mouse.dClickPos, QPoint(20, 21));
    QCOMPARE(mouse.button, int(Qt::LeftButton));
    QCOMPARE(mouse.modifiers, int(Qt::AltModifier));
    QCOMPARE(mouse.pos, QPoint(8, 8));

    QMouseEvent next = mouseEvent(QEvent::MouseMove, QPointF(30, 30), Qt::NoButton);
    mouse.recordMove(&next);
    QCOMPARE(mouse.prevPos, QPoint(8, 8));
}

void tst_MouseC::wheelStep_data()
{
    QTest::addColumn<QPoint>("angleDelta");
    QTest::addColumn<int>("step");

    QTest::newRow("one notch forward") << QPoint(0, 120) << 1;
    QTest::newRow("one notch back") << QPoint(0, -120) << -1;
    QTest::newRow("359 truncates to 2") << QPoint(0, 359) << 2;
    QTest::newRow("-359 truncates to -2") << QPoint(0, -359) << -2;
    QTest::newRow("high resolution 60 gives 0") << QPoint(0, 60) << 0;
    QTest::newRow("horizontal delta is not counted") << QPoint(120, 0) << 0;
}

// Every wheel event is announced, a step of 0 included.
void tst_MouseC::wheelStep()
{
    QFETCH(QPoint, angleDelta);
    QFETCH(int, step);

    MouseC mouse;
    QSignalSpy wheel(&mouse, &MouseC::wMoved);
    QWheelEvent event(QPointF(5, 5), QPointF(5, 5), QPoint(), angleDelta, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    mouse.recordWheel(&event);
    QCOMPARE(wheel.count(), 1);
    QCOMPARE(wheel.at(0).at(0).toInt(), step);
}

QTEST_MAIN(tst_MouseC)
#include "tst_mousec.moc"
