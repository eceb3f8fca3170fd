#ifndef WIDGETS_CHCOORD_H
#define WIDGETS_CHCOORD_H

#include <QObject>
#include <QPointer>

class MouseC;

// Maps the pixel rectangle of a drawing widget onto a rectangle of world
// coordinates. Attached to a widget's mouse state it also reports the
// pointer in world units and pans and zooms its own world range.
class ChCoord : public QObject
{
    Q_OBJECT

public:
    explicit ChCoord(QObject *parent = nullptr);

    MouseC *mouse = nullptr;
    bool wheelEnabled = true;
    // Press code that pans: 1 is the left button with Shift alone.
    int dragCode = 1;
    // The widgets put py0 on the bottom row, so larger world y is higher.
    double px0 = 0.0;
    double px1 = 1.0;
    double py0 = 0.0;
    double py1 = 1.0;
    double wx0 = 0.0;
    double wx1 = 1.0;
    double wy0 = 0.0;
    double wy1 = 1.0;
    double edgeFraction = 0.1;

    void setPixelRange(double x0, double y0, double x1, double y1);
    void setWorldRange(double x0, double y0, double x1, double y1);
    double worldToPixelX(double w);
    double pixelToWorldX(double p);
    double pixelToWorldY(double p);
    void attachMouse(MouseC *m);

signals:
    void updated();
    void nowPos(double x, double y);

public slots:
    void mMoved();
    void mPressed();
    void mReleased();
    void mDClicked();
    void wheelMoved(int step);

private:
    // The relay whose signals are connected now; it clears itself when the
    // relay dies, so a later attach never disconnects a destroyed object.
    QPointer<MouseC> connectedMouse;
};

#endif // WIDGETS_CHCOORD_H
