#ifndef VIEW_CTVIEW_H
#define VIEW_CTVIEW_H

#include <QColor>
#include <QElapsedTimer>
#include <QFrame>
#include <QHash>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRectF>
#include <QString>
#include <QTimer>

#include <memory>

#include "view/projection.h"
#include "view/vec3.h"
#include "view/viewgeometry.h"

class ChCoord;
class MouseC;
class QLabel;
class QAction;
class QMenu;
class QPainter;
class QShortcut;
class SliceDatas;
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

    // Home: back to the first view, zoom, axes and centre. F: the same axes,
    // centred and zoomed so that every loaded set's box lies in the image.
    void homeView();
    void fitView();

    // Two display settings, both off at first: the picture keeps the image's
    // aspect, centred on the display's background; and the image takes the
    // display's size, shown in the size fields and rendered anew on a resize.
    bool keepsAspect() const { return keepAspect; }
    void setKeepAspect(bool on);
    bool sizeFollowsDisplay() const { return followDisplay; }
    void setSizeFollowsDisplay(bool on);

    // What the display says over its picture: a load's progress, or why a
    // load took nothing; empty when it says nothing.
    QString noticeText() const;

    // What the display says of the value under a resting pointer; empty
    // when it says nothing.
    QString probeText() const;

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
    // The part of the display where the picture is drawn, and through which
    // the mouse is taken.
    QRectF pictureRect() const;
    void takeSnapshot(SlicesCtrl *panel, SetSnapshot &snapshot);

    // Kept between renderings so that a rendering allocates nothing but its image.
    QList<SetSnapshot> renderSets;

    // Ctrl+S and Ctrl+C: the projection image at its own size, to a file or
    // to the clipboard.
    void savePicture();
    void copyPicture();
    QString pictureDir;

    // The display's own menu, opened by a right click that does not move
    // (a pan of nothing) or by the menu key.
    QMenu *displayMenu = nullptr;
    QPoint rightPressAt{ -1, -1 };
    void showDisplayMenu(const QPoint &at);

    bool keepAspect = false;
    bool followDisplay = false;
    QAction *keepAspectAction = nullptr;
    QAction *followDisplayAction = nullptr;
    void takeDisplaySize();

    // Home and F, left to a focused widget that has its own use for them.
    QList<QShortcut *> viewKeys;
    void scopeViewKeys(QWidget *focused);

    // A running load of each set, and what a load that took nothing left to
    // say for a few seconds.
    struct Progress
    {
        int read = 0;
        int chosen = 0;
        QElapsedTimer clock;
    };
    QHash<const SliceDatas *, Progress> loads;
    QString emptyLoadText;
    QTimer emptyLoadTimer;
    QLabel *notice = nullptr;
    void noticeFilesRead(SlicesCtrl *panel, int read, int chosen);
    void noticeLoadFinished(SlicesCtrl *panel);
    void showNotice();

    // The value under the pointer while it rests over the display with no
    // button held, taken from the picture on screen.
    QLabel *probe = nullptr;
    QObject *displayWatch = nullptr;
    QPoint hoverAt{ -1, -1 };
    ViewState renderView;
    void watchDisplay(QEvent *event);
    void showProbe();
    QString probeTextAt(const QPoint &at);
};

#endif // VIEW_CTVIEW_H
