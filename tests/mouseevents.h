#ifndef TESTS_MOUSEEVENTS_H
#define TESTS_MOUSEEVENTS_H

#include <QCoreApplication>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>

// Delivers one synthetic mouse event to a widget; whether it was accepted.
inline bool sendMouse(QWidget *w, QEvent::Type type, QPoint at,
                      Qt::MouseButton button = Qt::NoButton,
                      Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent e(type, at, w->mapToGlobal(at), button, held, modifiers);
    QCoreApplication::sendEvent(w, &e);
    return e.isAccepted();
}

inline bool sendWheel(QWidget *w, QPoint at, int angleDeltaY)
{
    QWheelEvent e(at, w->mapToGlobal(at), QPoint(), QPoint(0, angleDeltaY), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(w, &e);
    return e.isAccepted();
}

#endif // TESTS_MOUSEEVENTS_H
