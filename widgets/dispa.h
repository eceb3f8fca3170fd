#ifndef WIDGETS_DISPA_H
#define WIDGETS_DISPA_H

#include <QColor>
#include <QFrame>

#include "widgets/chcoord.h"
#include "widgets/mousec.h"

class QEnterEvent;
class QPainter;

// The drawing area of the main window: it fills its background and lets
// the owner paint over it, and relays every mouse event through its mouse
// state, to which its own coordinate tracker listens.
class DispA : public QFrame
{
    Q_OBJECT

public:
    explicit DispA(QWidget *parent = nullptr);

    ChCoord coord;
    MouseC mouse;
    QColor background = QColor(255, 255, 255);

signals:
    void drawImage1(QPainter *p);
    void drawImage2(QPainter *p);

public slots:
    void paintEvent(QPaintEvent *p) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void wheelEvent(QWheelEvent *e) override;
    void enterEvent(QEnterEvent *e) override;
    void leaveEvent(QEvent *e) override;
};

#endif // WIDGETS_DISPA_H
