#include "widgets/dispa.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

DispA::DispA(QWidget *parent)
    : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    // Moves are wanted without a held button, to report the pointer.
    setMouseTracking(true);
    coord.attachMouse(&mouse);
}

void DispA::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), background);
    // Rows run bottom-up in the tracker: the last row is y0.
    coord.setPixelRange(0, height() - 1, width() - 1, 0);
    emit drawImage1(&painter);
    emit drawImage2(&painter);
    painter.end();
}

// Once an event with Alt held has been recorded, moves leave the recorded
// state, and with it the view, alone until the next press or release.
void DispA::mouseMoveEvent(QMouseEvent *e)
{
    if (mouse.modifiers & Qt::AltModifier)
        return;
    mouse.recordMove(e);
    update();
}

void DispA::mousePressEvent(QMouseEvent *e)
{
    mouse.recordPress(e);
    update();
}

void DispA::mouseReleaseEvent(QMouseEvent *e)
{
    mouse.recordRelease(e);
    update();
}

void DispA::mouseDoubleClickEvent(QMouseEvent *e)
{
    mouse.recordDoubleClick(e);
    update();
}

void DispA::wheelEvent(QWheelEvent *e)
{
    mouse.recordWheel(e);
    update();
}

void DispA::enterEvent(QEnterEvent *)
{
    mouse.inside = true;
    emit mouse.mEntered();
    emit mouse.mEnterLeave(true);
    update();
}

void DispA::leaveEvent(QEvent *)
{
    mouse.inside = false;
    emit mouse.mLeaved();
    emit mouse.mEnterLeave(false);
    update();
}
