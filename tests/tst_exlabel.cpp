#include <QtTest>

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include "tests/mouseevents.h"
#include "widgets/exlabel.h"

class tst_ExLabel : public QObject
{
    Q_OBJECT

private slots:
    void construction();
    void setTextSlot();
    void paintDrawsOverTheLabel();
    void eventsReachRelayOnly_data();
    void eventsReachRelayOnly();
    void altHeldMovesRecorded();
    void doubleClickAlsoCountsAsPress();
};

void tst_ExLabel::construction()
{
    QFrame parent;
    ExLabel label(&parent);
    QCOMPARE(label.parentWidget(), &parent);
    QVERIFY(label.hasMouseTracking());
    QCOMPARE(label.coord.mouse, nullptr);
}

void tst_ExLabel::setTextSlot()
{
    ExLabel label;
    QVERIFY(QMetaObject::invokeMethod(&label, "setText", Q_ARG(QString, "histogram")));
    QCOMPARE(label.text(), QString("histogram"));
}

// The label's own content is painted first and the owner's drawing lands
// on top; the tracker spans one pixel more than the label on each axis.
void tst_ExLabel::paintDrawsOverTheLabel()
{
    ExLabel label;
    label.resize(101, 40);
    QPixmap blue(101, 40);
    blue.fill(Qt::blue);
    label.setPixmap(blue);
    int draws = 0;
    connect(&label, &ExLabel::draw, this, [&draws](QPainter *p) {
        ++draws;
        p->fillRect(0, 0, 1, 1, Qt::red);
    });

    const QImage image = label.grab().toImage();
    QCOMPARE(draws, 1);
    QCOMPARE(image.pixelColor(0, 0), QColor(Qt::red));
    QCOMPARE(image.pixelColor(50, 20), QColor(Qt::blue));
    QCOMPARE(label.coord.px0, 0.0);
    QCOMPARE(label.coord.py0, 40.0);
    QCOMPARE(label.coord.px1, 101.0);
    QCOMPARE(label.coord.py1, 0.0);
}

void tst_ExLabel::eventsReachRelayOnly_data()
{
    QTest::addColumn<QEvent::Type>("type");
    QTest::addColumn<QByteArray>("relaySignal");

    QTest::newRow("press") << QEvent::MouseButtonPress << QByteArray(SIGNAL(mPressed()));
    QTest::newRow("release") << QEvent::MouseButtonRelease << QByteArray(SIGNAL(mReleased()));
    QTest::newRow("move") << QEvent::MouseMove << QByteArray(SIGNAL(mMoved()));
    QTest::newRow("wheel") << QEvent::Wheel << QByteArray(SIGNAL(wMoved(int)));
}

// Recorded once, not seen by the unattached tracker, and passed on to the
// base handlers, which decline it so that it goes on to the parent.
void tst_ExLabel::eventsReachRelayOnly()
{
    QFETCH(QEvent::Type, type);
    QFETCH(QByteArray, relaySignal);

    ExLabel label;
    label.resize(100, 100);
    QSignalSpy relay(&label.mouse, relaySignal.constData());
    QSignalSpy updated(&label.coord, &ChCoord::updated);

    const QPoint at(33, 66);
    const bool accepted = type == QEvent::Wheel
        ? sendWheel(&label, at, 120)
        : sendMouse(&label, type, at, type == QEvent::MouseMove ? Qt::NoButton
                                                                : Qt::LeftButton);
    QVERIFY(!accepted);
    QCOMPARE(relay.count(), 1);
    QCOMPARE(updated.count(), 0);
}

void tst_ExLabel::altHeldMovesRecorded()
{
    ExLabel label;
    QSignalSpy moved(&label.mouse, &MouseC::mMoved);
    sendMouse(&label, QEvent::MouseMove, QPoint(6, 6), Qt::NoButton, Qt::AltModifier);
    sendMouse(&label, QEvent::MouseMove, QPoint(7, 7), Qt::NoButton, Qt::AltModifier);
    QCOMPARE(moved.count(), 2);
    QCOMPARE(label.mouse.pos, QPoint(7, 7));
    QVERIFY(label.mouse.altAtMove);
}

// The base double-click handler treats the second click as a press, so a
// drag can go on from it.
void tst_ExLabel::doubleClickAlsoCountsAsPress()
{
    ExLabel label;
    QStringList calls;
    connect(&label.mouse, &MouseC::mDClicked, this, [&calls] { calls << "mDClicked"; });
    connect(&label.mouse, &MouseC::mPressed, this, [&calls] { calls << "mPressed"; });
    sendMouse(&label, QEvent::MouseButtonDblClick, QPoint(20, 21), Qt::LeftButton);

    QCOMPARE(calls, QStringList({"mDClicked", "mPressed"}));
    QCOMPARE(label.mouse.dClickPos, QPoint(20, 21));
    QVERIFY(label.mouse.leftPressed);
    QCOMPARE(label.mouse.pos, QPoint(20, 21));
}

QTEST_MAIN(tst_ExLabel)
#include "tst_exlabel.moc"
