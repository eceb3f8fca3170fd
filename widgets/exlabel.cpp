#include "widgets/exlabel.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

ExLabel::ExLabel(QWidget *parent)
    : QLabel(parent)
{
    // Moves are wanted without a held button, to follow the pointer.
    setMouseTracking(true);
}

void ExLabel::setText(QString txt)
{
    QLabel::setText(txt);
}

void ExLabel::paintEvent(QPaintEvent *p)
{
    QLabel::paintEvent(p);
    QPainter painter(this);
    // One pixel wider and higher than the display uses: the owner's
    // columns are fractions of the full width.
    coord.setPixelRange(0, height(), width(), 0);
    emit draw(&painter);
}

void ExLabel::mouseMoveEvent(QMouseEvent *e)
{
    mouse.recordMove(e);
    update();
    QLabel::mouseMoveEvent(e);
}

void ExLabel::mousePressEvent(QMouseEvent *e)
{
    mouse.recordPress(e);
    update();
    QLabel::mousePressEvent(e);
}

void ExLabel::mouseReleaseEvent(QMouseEvent *e)
{
    mouse.recordRelease(e);
    update();
    QLabel::mouseReleaseEvent(e);
}

void ExLabel::mouseDoubleClickEvent(QMouseEvent *e)
{
    mouse.recordDoubleClick(e);
    update();
    QWidget::mouseDoubleClickEvent(e);
}

void ExLabel::wheelEvent(QWheelEvent *e)
{
    mouse.recordWheel(e);
    update();
    QWidget::wheelEvent(e);
}

void ExLabel::enterEvent(QEnterEvent *e)
{
    mouse.inside = true;
    emit mouse.mEntered();
    emit mouse.mEnterLeave(true);
    update();
    QWidget::enterEvent(e);
}

void ExLabel::leaveEvent(QEvent *e)
{
    mouse.inside = false;
    emit mouse.mLeaved();
    emit mouse.mEnterLeave(false);
    update();
    QWidget::leaveEvent(e);
}
