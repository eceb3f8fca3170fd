#include <QtTest>

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include "tests/mouseevents.h"
#include "widgets/dispa.h"

class tst_DispA : public QObject
{
    Q_OBJECT

private slots:
    void construction();
    void paint();
    void eventsReachRelayAndTracker_data();
    void eventsReachRelayAndTracker();
    void altHeldMovesDropped();
    void doubleClickOnlyItsOwnPosition();
    void enterAndLeave();
};

void tst_DispA::construction()
{
    QFrame parent;
    DispA display(&parent);
    QCOMPARE(display.parentWidget(), &parent);
    QCOMPARE(display.frameShape(), QFrame::StyledPanel);
    QVERIFY(display.hasMouseTracking());
    QCOMPARE(display.background, QColor(255, 255, 255));
    QCOMPARE(display.coord.mouse, &display.mouse);
}

// The background goes first, then both drawing signals in order, on an
// active painter; the tracker learns the widget's pixel range, y bottom-up.
void tst_DispA::paint()
{
    DispA display;
    display.resize(200, 100);
    display.background = QColor(10, 20, 30);
    QStringList calls;
    connect(&display, &DispA::drawImage1, this, [&calls](QPainter *p) {
        calls << (p && p->isActive() ? "drawImage1" : "inactive");
    });
    connect(&display, &DispA::drawImage2, this, [&calls](QPainter *p) {
        calls << (p && p->isActive() ? "drawImage2" : "inactive");
        p->fillRect(0, 0, 1, 1, Qt::red);
    });

    const QImage image = display.grab().toImage();
    QCOMPARE(calls, QStringList({"drawImage1", "drawImage2"}));
    QCOMPARE(image.pixelColor(100, 50), QColor(10, 20, 30));
    QCOMPARE(image.pixelColor(0, 0), QColor(Qt::red));
    QCOMPARE(display.coord.px0, 0.0);
    QCOMPARE(display.coord.py0, 99.0);
    QCOMPARE(display.coord.px1, 199.0);
    QCOMPARE(display.coord.py1, 0.0);
}

void tst_DispA::eventsReachRelayAndTracker_data()
{
    QTest::addColumn<QEvent::Type>("type");
    QTest::addColumn<QByteArray>("relaySignal");
    QTest::addColumn<int>("trackerUpdates");

    QTest::newRow("press") << QEvent::MouseButtonPress << QByteArray(SIGNAL(mPressed())) << 1;
    QTest::newRow("release") << QEvent::MouseButtonRelease << QByteArray(SIGNAL(mReleased()))
                             << 1;
    QTest::newRow("double click") << QEvent::MouseButtonDblClick
                                  << QByteArray(SIGNAL(mDClicked())) << 1;
    QTest::newRow("move without a button reports only")
        << QEvent::MouseMove << QByteArray(SIGNAL(mMoved())) << 0;
    QTest::newRow("wheel zooms") << QEvent::Wheel << QByteArray(SIGNAL(wMoved(int))) << 1;
}

// Each event is recorded once, reaches the tracker, and is kept by the
// display: no base handler sees it, so it goes no further.
void tst_DispA::eventsReachRelayAndTracker()
{
    QFETCH(QEvent::Type, type);
    QFETCH(QByteArray, relaySignal);
    QFETCH(int, trackerUpdates);

    QFrame parent;
    parent.resize(120, 120);
    DispA display(&parent);
    display.resize(100, 100);
    display.coord.setPixelRange(0, 99, 99, 0);
    QSignalSpy relay(&display.mouse, relaySignal.constData());
    QSignalSpy pressed(&display.mouse, &MouseC::mPressed);
    QSignalSpy updated(&display.coord, &ChCoord::updated);
    QSignalSpy nowPos(&display.coord, &ChCoord::nowPos);

    const QPoint at(33, 66);
    const bool accepted = type == QEvent::Wheel
        ? sendWheel(&display, at, 120)
        : sendMouse(&display, type, at, type == QEvent::MouseMove ? Qt::NoButton
                                                                  : Qt::RightButton);
    QVERIFY(accepted);
    QCOMPARE(relay.count(), 1);
    QCOMPARE(updated.count(), trackerUpdates);
    QCOMPARE(pressed.count(), type == QEvent::MouseButtonPress ? 1 : 0);
    if (type == QEvent::MouseMove)
        QCOMPARE(nowPos.count(), 1);
}

void tst_DispA::altHeldMovesDropped()
{
    DispA display;
    display.resize(100, 100);
    QSignalSpy moved(&display.mouse, &MouseC::mMoved);
    QSignalSpy nowPos(&display.coord, &ChCoord::nowPos);

    sendMouse(&display, QEvent::MouseMove, QPoint(5, 5));
    // The first move with Alt is still recorded: the one before had none.
    sendMouse(&display, QEvent::MouseMove, QPoint(6, 6), Qt::NoButton, Qt::AltModifier);
    QCOMPARE(moved.count(), 2);
    QCOMPARE(display.mouse.pos, QPoint(6, 6));

    sendMouse(&display, QEvent::MouseMove, QPoint(7, 7));
    sendMouse(&display, QEvent::MouseMove, QPoint(8, 8), Qt::NoButton, Qt::AltModifier);
    QCOMPARE(moved.count(), 2);
    QCOMPARE(nowPos.count(), 2);
    QCOMPARE(display.mouse.pos, QPoint(6, 6));
    QCOMPARE(display.mouse.prevPos, QPoint(5, 5));

    // A press without Alt ends the pause.
    sendMouse(&display, QEvent::MouseButtonPress, QPoint(9, 9), Qt::LeftButton);
    sendMouse(&display, QEvent::MouseMove, QPoint(10, 10), Qt::LeftButton);
    QCOMPARE(moved.count(), 3);
    QCOMPARE(display.mouse.pos, QPoint(10, 10));
    QCOMPARE(display.mouse.prevPos, QPoint(9, 9));
}

// A double click reaches no press handler, so only its own position moves.
void tst_DispA::doubleClickOnlyItsOwnPosition()
{
    DispA display;
    QSignalSpy pressed(&display.mouse, &MouseC::mPressed);
    sendMouse(&display, QEvent::MouseMove, QPoint(5, 5));
    sendMouse(&display, QEvent::MouseMove, QPoint(8, 8));
    sendMouse(&display, QEvent::MouseButtonDblClick, QPoint(20, 20), Qt::LeftButton);

    QCOMPARE(pressed.count(), 0);
    QVERIFY(!display.mouse.pressed);
    QCOMPARE(display.mouse.dClickPos, QPoint(20, 20));
    QCOMPARE(display.mouse.pos, QPoint(8, 8));
    QCOMPARE(display.mouse.prevPos, QPoint(5, 5));
}

void tst_DispA::enterAndLeave()
{
    DispA display;
    QStringList calls;
    connect(&display.mouse, &MouseC::mEntered, this, [&calls] { calls << "entered"; });
    connect(&display.mouse, &MouseC::mLeaved, this, [&calls] { calls << "leaved"; });
    connect(&display.mouse, &MouseC::mEnterLeave, this,
            [&calls](bool f) { calls << (f ? "enterLeave(true)" : "enterLeave(false)"); });

    QEnterEvent enter(QPointF(3, 3), QPointF(3, 3), QPointF(3, 3));
    QCoreApplication::sendEvent(&display, &enter);
    QVERIFY(display.mouse.inside);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&display, &leave);
    QVERIFY(!display.mouse.inside);
    QCOMPARE(calls, QStringList({"entered", "enterLeave(true)", "leaved", "enterLeave(false)"}));
}

QTEST_MAIN(tst_DispA)
#include "tst_dispa.moc"
