#ifndef PANEL_SLICESCTRL_H
#define PANEL_SLICESCTRL_H

#include <QColor>
#include <QFrame>
#include <QPointer>
#include <QString>
#include <QThread>

#include <memory>

#include "slices/slicedatas.h"
#include "view/sampling.h"
#include "view/vec3.h"

class ChCoord;
class MouseC;
class QActionGroup;
class QCheckBox;
class QColorDialog;
class QDialog;
class QDragEnterEvent;
class QDropEvent;
class QFileDialog;
class QMenu;
class QPainter;
class QSlider;
class Ui_SlicesCtrl;

// The control panel of one slice set. The set loads on the panel's own
// worker thread; everything else here runs on the GUI thread.
class SlicesCtrl : public QFrame
{
    Q_OBJECT

public:
    explicit SlicesCtrl(const QString &startDir = QString(), QWidget *parent = nullptr);
    ~SlicesCtrl() override;

    double minV() const;
    double maxV() const;
    double minThPC() const;
    double maxThPC() const;
    void setMinV(double v);
    void setMaxV(double v);
    void setMinThPC(double v);
    void setMaxThPC(double v);
    void setVColor(const QColor &colour);
    void setSColor(const QColor &colour);
    void setSetNumber(int n);

    // What the renderer and the main window read.
    QCheckBox *showVolume() const;
    QCheckBox *showFrame() const;
    QCheckBox *showCSection() const;
    QSlider *cSlider() const;
    QCheckBox *csFixDir() const;

    // The sampling a new panel starts with; set once at start-up, before the
    // first panel is made.
    static void setDefaultSampling(SamplingChoice choice);

    // Loads files and folders as a drop of them on the panel does.
    void loadPaths(const QStringList &paths);

    // The files and slices a load left out, by reason, such as "2 flat,
    // 1 unsupported (multi-frame DICOM image)"; empty where none.
    static QString skippedText(const SliceDatas::Account &account);

protected:
    // Files and folders dropped on the panel load as a selection in its dialog.
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    // The name list's account of a finished load, such as
    // "128 of 131 files loaded; 2 flat, 1 unreadable", and below it the
    // spacing of a set whose shape was measured.
    static QString accountText(qsizetype loaded, const SliceDatas::Account &account,
                               const CellShape &shape);
    void showAccount();
    void buildContextMenu();
    // The histogram's own menu: ready-made windows for the colour scale.
    void buildHistogramMenu();
    void showHistogramMenu();
    // Fills the range fields as typing would, the thresholds at 0 and 100.
    void typeWindow(const QString &low, const QString &high);
    void openSpacingDialog();
    void applySpacing();
    void resetSpacing();
    // Several DICOM series came in one selection: the user picks one, which
    // then loads with the selection's other files; Cancel loads nothing.
    void chooseSeries(const QList<DicomSeries> &series, const QStringList &others);

    static SamplingChoice defaultSampling;
    QActionGroup *samplingGroup = nullptr;
    QMenu *histogramMenu = nullptr;

    std::unique_ptr<Ui_SlicesCtrl> ui;

public:
    QString lastDir;
    QFileDialog *fileDialog = nullptr;
#ifndef CTSLAB_LITE
    QColorDialog *vColorDialog = nullptr;
    QColorDialog *sColorDialog = nullptr;
#endif
    SliceDatas sliceDatas;
    QThread worker;
    Vec3 nz;
    QColor vColor;
    QColor sColor;
    MouseC *mouseRelay = nullptr;
    ChCoord *coord = nullptr;
    int dragTarget = -1;
    // How the set is sampled; Automatic leaves it to what its files say.
    SamplingChoice sampling = SamplingChoice::Automatic;
    // The spacing dialog while it is open.
    QPointer<QDialog> spacingDialog;
    QPointer<QDialog> seriesDialog;

signals:
#ifndef CTSLAB_LITE
    void changedSliderStat();
#endif
    void paintPImg();

private slots:
    void showHide(bool f);
    void selectFiles();
#ifndef CTSLAB_LITE
    void selectVColor();
    void selectSColor();
#endif
    void noticedLoadedNewFile(QString fname);
    void noticedLoadFilesFinished();
    void datasCleared();
    void drawHist(QPainter *p);
    void mousePressedOnDispH();
    void mouseMovedOnDispH();
    void mouseReleasedOnDispH();

public slots:
    void initNz(Vec3 nz);
    void newNz(Vec3 nz);
};

#endif // PANEL_SLICESCTRL_H
