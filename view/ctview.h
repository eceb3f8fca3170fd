#ifndef VIEW_CTVIEW_H
#define VIEW_CTVIEW_H

#include <QColor>
#include <QFrame>
#include <QImage>
#include <QList>
#include <QString>

#include <memory>

#include "view/projection.h"
#include "view/vec3.h"
#include "view/viewgeometry.h"

class ChCoord;
class MouseC;
class QPainter;
class SlicesCtrl;
class Ui_CtView;

// The main window: the 3-D display, the image-size strip and one panel per
// slice set. It owns the view state and the projection image.
class CtView : public QFrame
{
    Q_OBJECT

public:
    enum DragMode { DragRotate = 0, DragPan = 1, DragNone = 2 };

    explicit CtView(const QString &dataRoot = QString(), QWidget *parent = nullptr);
    ~CtView() override;

    void addSliceSet();
    int imagePixelWidth() const;
    int imagePixelHeight() const;

    // The view state as the renderers take it.
    ViewState viewState() const;

private:
    std::unique_ptr<Ui_CtView> ui;

public:
    QString dataRoot;
    QList<SlicesCtrl *> sCtrls;
    MouseC *dispMouse = nullptr;
    double lastU = 0.0;
    double lastV = 0.0;
    ChCoord *dispCoord = nullptr;
    int dragMode = DragNone;
    int rotateKind = 0;
    QImage projImage;
    double zoom = 1.0;
    Vec3 nx{ 1, 0, 0 };
    Vec3 ny{ 0, 1, 0 };
    Vec3 nz{ 0, 0, 1 };
    Vec3 centre{ 0, 0, 0 };

signals:
    void initNz(Vec3 nz);
    void newNz(Vec3 nzv);
    void finishing();

private slots:
    void updateNvs(Vec3 rax, double th);
#ifndef CTSLAB_LITE
    void changedSliderStat();
#endif
    void paintPImg();
    void paintADataSet(QPainter &p, SlicesCtrl *sCtrl, int sw, int sh, int pw, int ph);
#ifndef CTSLAB_LITE
    void paintADataFrame(QPainter &p, int ss, int sw, int sh, bool temae, QColor color);
#else
    void paintADataFrame(QPainter &p, int ss, int sw, int sh, bool temae);
#endif
    void draw(QPainter *p);
    void mousePressedOnDataDisp();
    void mouseMovedOnDataDisp();
    void mouseReleasedOnDataDisp();
    void wheelMovedOnDataDisp(int step);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    bool mouseToUnit(double *u, double *v) const;
    void takeSnapshot(SlicesCtrl *panel, SetSnapshot &snapshot);

    // Kept between renderings so that a rendering allocates nothing but its image.
    QList<SetSnapshot> renderSets;

    // Ctrl+S and Ctrl+C: the projection image at its own size, to a file or
    // to the clipboard.
    void savePicture();
    void copyPicture();
    QString pictureDir;
};

#endif // VIEW_CTVIEW_H
