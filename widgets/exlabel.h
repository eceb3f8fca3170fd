#ifndef WIDGETS_EXLABEL_H
#define WIDGETS_EXLABEL_H

#include <QLabel>

#include "widgets/chcoord.h"
#include "widgets/mousec.h"

class QEnterEvent;
class QPainter;

// A label that lets its owner paint over its content and relays its mouse
// events through its mouse state. Its coordinate tracker is left
// unattached: the owner converts positions itself.
class ExLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ExLabel(QWidget *parent = nullptr);

    MouseC mouse;
    ChCoord coord;

signals:
    void draw(QPainter *p);

public slots:
    void setText(QString txt);
    void paintEvent(QPaintEvent *p) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void wheelEvent(QWheelEvent *e) override;
    void enterEvent(QEnterEvent *e) override;
    void leaveEvent(QEvent *e) override;
};

#endif // WIDGETS_EXLABEL_H
