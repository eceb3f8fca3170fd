#include "widgets/mousec.h"

#include <QMouseEvent>
#include <QWheelEvent>

#include <cmath>
#include <limits>

namespace {

// Pixels are the event's position truncated toward zero. The position is a
// double from the platform; a NaN or a value beyond int would make the
// conversion undefined, so those are pinned first.
int truncatedCoordinate(double v)
{
    constexpr int highest = std::numeric_limits<int>::max();
    constexpr int lowest = std::numeric_limits<int>::min();
    if (std::isnan(v))
        return 0;
    if (v >= double(highest))
        return highest;
    if (v <= double(lowest))
        return lowest;
    return int(v);
}

QPoint truncatedPosition(const QMouseEvent *e)
{
    const QPointF p = e->position();
    return QPoint(truncatedCoordinate(p.x()), truncatedCoordinate(p.y()));
}

} // namespace

MouseC::MouseC(QObject *parent)
    : QObject(parent)
{
}

void MouseC::recordMove(QMouseEvent *e)
{
    prevPos = pos;
    pos = truncatedPosition(e);
    button = e->button();
    modifiers = e->modifiers().toInt();
    shiftAtMove = modifiers == Qt::ShiftModifier;
    controlAtMove = modifiers == Qt::ControlModifier;
    altAtMove = modifiers == Qt::AltModifier;
    emit mMoved();
}

void MouseC::recordPress(QMouseEvent *e)
{
    prevPos = pos;
    pos = pressPos = truncatedPosition(e);
    button = pressButton = e->button();
    modifiers = pressModifiers = e->modifiers().toInt();
    pressed = true;
    leftPressed = pressButton == Qt::LeftButton;
    rightPressed = pressButton == Qt::RightButton;
    shiftAtPress = pressModifiers == Qt::ShiftModifier;
    controlAtPress = pressModifiers == Qt::ControlModifier;
    altAtPress = pressModifiers == Qt::AltModifier;
    emit mPressed();
}

void MouseC::recordRelease(QMouseEvent *e)
{
    prevPos = pos;
    pos = releasePos = truncatedPosition(e);
    pressed = false;
    leftPressed = false;
    rightPressed = false;
    button = releaseButton = e->button();
    modifiers = releaseModifiers = e->modifiers().toInt();
    emit mReleased();
}

// The current and previous positions stay as they were, so a drag that
// goes on after a double click continues from where it stood.
void MouseC::recordDoubleClick(QMouseEvent *e)
{
    dClickPos = truncatedPosition(e);
    button = dClickButton = e->button();
    modifiers = dClickModifiers = e->modifiers().toInt();
    emit mDClicked();
}

// One standard notch of 120 eighths of a degree is one step; finer deltas
// of high-resolution wheels give step 0 and are still announced.
void MouseC::recordWheel(QWheelEvent *e)
{
    emit wMoved(int(e->angleDelta().y() * 0.125 / 15.0));
}
