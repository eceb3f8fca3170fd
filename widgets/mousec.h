#ifndef WIDGETS_MOUSEC_H
#define WIDGETS_MOUSEC_H

#include <QObject>
#include <QPoint>

class QMouseEvent;
class QWheelEvent;

// The last mouse state seen by one widget. Its signals carry nothing: the
// receivers read the recorded fields back while the signal is being
// delivered, so they see the state of the event that emitted it.
class MouseC : public QObject
{
    Q_OBJECT

public:
    explicit MouseC(QObject *parent = nullptr);

    QPoint prevPos;
    QPoint pos;
    QPoint pressPos;
    QPoint releasePos;
    QPoint dClickPos;
    bool pressed = false;
    bool leftPressed = false;
    bool rightPressed = false;
    // Exactly this modifier and no other, not "this one among others".
    bool shiftAtPress = false;
    bool controlAtPress = false;
    bool altAtPress = false;
    bool shiftAtMove = false;
    bool controlAtMove = false;
    bool altAtMove = false;
    int button = 0;
    int pressButton = 0;
    int releaseButton = 0;
    int dClickButton = 0;
    int modifiers = 0;
    int pressModifiers = 0;
    int releaseModifiers = 0;
    int dClickModifiers = 0;
    bool inside = false;

    void recordMove(QMouseEvent *e);
    void recordPress(QMouseEvent *e);
    void recordRelease(QMouseEvent *e);
    void recordDoubleClick(QMouseEvent *e);
    void recordWheel(QWheelEvent *e);

signals:
    void mMoved();
    void mPressed();
    void mReleased();
    void mDClicked();
    void wMoved(int step);
    void mEntered();
    void mLeaved();
    void mEnterLeave(bool f);
};

#endif // WIDGETS_MOUSEC_H
