#include "widgets/chcoord.h"

#include "widgets/mousec.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int shiftControlAlt = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;

// 0 none, 1 Shift, 2 Control, 3 Alt, 4 Shift+Control, 5 Shift+Alt,
// 6 Control+Alt, 7 all three; left button as is, right button + 8, any
// other button 16. Other modifier bits do not count.
int pressCode(int button, int modifiers)
{
    const bool shift = modifiers & Qt::ShiftModifier;
    const bool control = modifiers & Qt::ControlModifier;
    const bool alt = modifiers & Qt::AltModifier;
    int combination = 0;
    if (shift && control && alt)
        combination = 7;
    else if (control && alt)
        combination = 6;
    else if (shift && alt)
        combination = 5;
    else if (shift && control)
        combination = 4;
    else if (alt)
        combination = 3;
    else if (control)
        combination = 2;
    else if (shift)
        combination = 1;

    if (button == Qt::LeftButton)
        return combination;
    if (button == Qt::RightButton)
        return 8 + combination;
    return 16;
}

} // namespace

ChCoord::ChCoord(QObject *parent)
    : QObject(parent)
{
}

void ChCoord::setPixelRange(double x0, double y0, double x1, double y1)
{
    px0 = x0;
    px1 = x1;
    py0 = y0;
    py1 = y1;
}

void ChCoord::setWorldRange(double x0, double y0, double x1, double y1)
{
    wx0 = x0;
    wx1 = x1;
    wy0 = y0;
    wy1 = y1;
}

// The three maps keep this exact order of operations: callers compare
// their results bit for bit.
double ChCoord::worldToPixelX(double w)
{
    return (px1 - px0) / (wx1 - wx0) * (w - wx0) + px0;
}

double ChCoord::pixelToWorldX(double p)
{
    return (wx1 - wx0) / (px1 - px0) * (p - px0) + wx0;
}

double ChCoord::pixelToWorldY(double p)
{
    return (wy1 - wy0) / (py1 - py0) * (p - py0) + wy0;
}

void ChCoord::attachMouse(MouseC *m)
{
    if (connectedMouse) {
        disconnect(connectedMouse, SIGNAL(mMoved()), this, SLOT(mMoved()));
        disconnect(connectedMouse, SIGNAL(mPressed()), this, SLOT(mPressed()));
        disconnect(connectedMouse, SIGNAL(mReleased()), this, SLOT(mReleased()));
        disconnect(connectedMouse, SIGNAL(mDClicked()), this, SLOT(mDClicked()));
        disconnect(connectedMouse, SIGNAL(wMoved(int)), this, SLOT(wheelMoved(int)));
        connectedMouse = nullptr;
    }
    // Detaching keeps the pointer; only the connections go.
    if (!m)
        return;
    mouse = m;
    connectedMouse = m;
    connect(m, SIGNAL(mMoved()), this, SLOT(mMoved()));
    connect(m, SIGNAL(mPressed()), this, SLOT(mPressed()));
    connect(m, SIGNAL(mReleased()), this, SLOT(mReleased()));
    connect(m, SIGNAL(mDClicked()), this, SLOT(mDClicked()));
    connect(m, SIGNAL(wMoved(int)), this, SLOT(wheelMoved(int)));
}

void ChCoord::mMoved()
{
    if (!mouse)
        return;
    const double x = pixelToWorldX(mouse->pos.x());
    const double y = pixelToWorldY(mouse->pos.y());
    emit nowPos(x, y);
    if (mouse->pressed && pressCode(mouse->pressButton, mouse->pressModifiers) == dragCode) {
        // The content follows the pointer: the world moves against it.
        const double dx = pixelToWorldX(mouse->prevPos.x()) - x;
        const double dy = pixelToWorldY(mouse->prevPos.y()) - y;
        wx0 += dx;
        wx1 += dx;
        wy0 += dy;
        wy1 += dy;
        emit updated();
    }
}

void ChCoord::mPressed()
{
    if (mouse)
        emit updated();
}

void ChCoord::mReleased()
{
    if (!mouse)
        return;
    if (mouse->pressButton == Qt::RightButton && !(mouse->pressModifiers & shiftControlAlt)) {
        const QPoint press = mouse->pressPos;
        const QPoint release = mouse->releasePos;
        // A click without a drag spans no rectangle; zooming to it would
        // leave a range of zero extent that no map can divide by.
        if (press.x() != release.x() && press.y() != release.y()) {
            // All four ends come from the range before the zoom.
            const double x0 = pixelToWorldX(std::min(press.x(), release.x()));
            const double x1 = pixelToWorldX(std::max(press.x(), release.x()));
            // The y ends pair with the drag's x direction, so a drag from
            // upper left to lower right keeps the y orientation.
            const bool rightward = press.x() <= release.x();
            const double y0 = pixelToWorldY(rightward ? release.y() : press.y());
            const double y1 = pixelToWorldY(rightward ? press.y() : release.y());
            setWorldRange(x0, y0, x1, y1);
        }
    }
    emit updated();
}

void ChCoord::mDClicked()
{
    if (mouse)
        emit updated();
}

// Only the sign of the step counts. Over the left or right edge band the
// wheel zooms y alone, over the top or bottom band x alone, else both.
void ChCoord::wheelMoved(int step)
{
    if (!mouse || !wheelEnabled)
        return;
    const double f = step >= 0 ? 1.0 / 1.1 : 1.1;
    const double cx = mouse->pos.x();
    const double cy = mouse->pos.y();
    const double bandX = edgeFraction * std::abs(px1 - px0);
    const double bandY = edgeFraction * std::abs(py1 - py0);
    const bool ex = cx > std::max(px0, px1) - bandX || cx < std::min(px0, px1) + bandX;
    const bool ey = cy > std::max(py0, py1) - bandY || cy < std::min(py0, py1) + bandY;
    if (ey || !ex) {
        const double a = pixelToWorldX(cx);
        wx0 = (wx0 - a) * f + a;
        wx1 = (wx1 - a) * f + a;
    }
    if (ex || !ey) {
        const double b = pixelToWorldY(cy);
        wy0 = (wy0 - b) * f + b;
        wy1 = (wy1 - b) * f + b;
    }
    emit updated();
}
