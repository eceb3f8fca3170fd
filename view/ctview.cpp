#include "view/ctview.h"

#include <QCloseEvent>
#include <QCheckBox>
#include <QDebug>
#include <QFileDialog>
#include <QPainter>
#include <QShortcut>
#include <QSlider>
#include <QVarLengthArray>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numbers>
#include <shared_mutex>

#include "panel/colourscale.h"
#include "panel/slicesctrl.h"
#include "ui_ctview.h"
#include "view/framedrawing.h"
#include "view/projection.h"
#include "view/setcolours.h"
#include "widgets/chcoord.h"
#include "widgets/dispa.h"
#include "widgets/mousec.h"
#include "widgets/picturesaving.h"

namespace {

// The wheel has no end stop; keeping the scale finite and non-zero keeps
// every later step, in either direction, meaningful.
constexpr double minZoom = 1e-12;
constexpr double maxZoom = 1e12;

constexpr qint64 largestImagePixels = qint64(1) << 28;

int sizeField(const QString &text)
{
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    return ok ? v : 0;
}

} // namespace

CtView::CtView(const QString &dataRoot, QWidget *parent)
    : QFrame(parent), ui(std::make_unique<Ui_CtView>())
{
    ui->setupUi(this);
    this->dataRoot = dataRoot;
    dispMouse = &ui->dispA_->mouse;
    dispCoord = &ui->dispA_->coord;

    emit initNz(nz);
    addSliceSet();

    connect(ui->addSliceSet_, &QPushButton::clicked, this, &CtView::addSliceSet);
    connect(ui->dispA_, &DispA::drawImage2, this, &CtView::draw);
    connect(dispMouse, &MouseC::mPressed, this, &CtView::mousePressedOnDataDisp);
    connect(dispMouse, &MouseC::mMoved, this, &CtView::mouseMovedOnDataDisp);
    connect(dispMouse, &MouseC::mReleased, this, &CtView::mouseReleasedOnDataDisp);
    connect(dispMouse, &MouseC::wMoved, this, &CtView::wheelMovedOnDataDisp);

    // Added in code, so that the forms stay as they are.
    connect(new QShortcut(QKeySequence::Save, this), &QShortcut::activated, this,
            &CtView::savePicture);
    connect(new QShortcut(QKeySequence::Copy, this), &QShortcut::activated, this,
            &CtView::copyPicture);
}

CtView::~CtView()
{
    // The panels outlive this body: a field of theirs that loses the focus
    // while the window goes must not ask it to render.
    for (SlicesCtrl *panel : std::as_const(sCtrls))
        disconnect(panel, nullptr, this, nullptr);
}

void CtView::addSliceSet()
{
    auto *panel = new SlicesCtrl(dataRoot);
    const int n = int(sCtrls.size());
    const SetColours colours = coloursFor(n);
#ifndef CTSLAB_LITE
    panel->setVColor(colours.volume);
    panel->setSColor(colours.section);
#else
    panel->vColor = colours.volume;
    panel->sColor = colours.section;
#endif
    panel->setSetNumber(n + 1);

    connect(panel, &SlicesCtrl::paintPImg, this, &CtView::paintPImg);
#ifndef CTSLAB_LITE
    connect(panel, &SlicesCtrl::changedSliderStat, this, &CtView::changedSliderStat);
#endif
    connect(this, &CtView::initNz, panel, &SlicesCtrl::initNz);
    connect(this, &CtView::newNz, panel, &SlicesCtrl::newNz);

    ui->slicesCtrlsLayout_->addWidget(panel, n, 0);
    sCtrls.append(panel);

    // Start the new section facing the viewer rather than with no normal.
    panel->initNz(nz);
}

int CtView::imagePixelWidth() const
{
    return sizeField(ui->imgPixWidth_->text());
}

int CtView::imagePixelHeight() const
{
    return sizeField(ui->imgPixHeight_->text());
}

ViewState CtView::viewState() const
{
    ViewState view;
    view.zoom = zoom;
    view.nx = nx;
    view.ny = ny;
    view.nz = nz;
    view.centre = centre;
    return view;
}

void CtView::closeEvent(QCloseEvent *event)
{
    emit finishing();
    QFrame::closeEvent(event);
}

void CtView::updateNvs(Vec3 rax, double th)
{
    ViewState view = viewState();
    rotateAxes(view, rax, th);
    nx = view.nx;
    ny = view.ny;
    nz = view.nz;
    emit newNz(nz);
    paintPImg();
}

#ifndef CTSLAB_LITE
void CtView::changedSliderStat()
{
    auto *src = qobject_cast<SlicesCtrl *>(sender());
    if (ui->linkCSection_->isChecked() && src) {
        const int v = src->cSlider()->value();
        const bool f = src->csFixDir()->isChecked();
        // Each change below re-enters this slot from that panel; by then
        // the values agree and the nested call only renders.
        for (SlicesCtrl *panel : std::as_const(sCtrls)) {
            if (panel == src)
                continue;
            if (panel->cSlider()->value() != v)
                panel->cSlider()->setValue(v);
            if (panel->csFixDir()->isChecked() != f)
                panel->csFixDir()->setChecked(f);
        }
    }
    paintPImg();
}
#endif

void CtView::paintPImg()
{
    const int w = imagePixelWidth();
    const int h = imagePixelHeight();
    // A size that cannot be allocated leaves a null image and a white display;
    // so does one beyond a gibibyte, which a slip of the keyboard could ask
    // for and which would take the machine's memory and minutes of rendering.
    const bool makeable = w > 0 && h > 0 && qint64(w) * h <= largestImagePixels;
    projImage = makeable ? QImage(w, h, QImage::Format_ARGB32) : QImage();
    if (!projImage.isNull()) {
        // Every set stays locked for the whole rendering: a load publishes only
        // between renderings.
        QVarLengthArray<std::shared_lock<std::shared_mutex>, 8> locks;
        renderSets.resize(sCtrls.size());
        for (qsizetype i = 0; i < sCtrls.size(); ++i) {
            locks.append(std::shared_lock(sCtrls[i]->sliceDatas.guard));
            takeSnapshot(sCtrls[i], renderSets[i]);
        }
        renderScene(projImage, viewState(), renderSets);
    }
    ui->dispA_->update();
}

// Called with the set's lock held. The set keeps the window it is drawn
// with, refreshed only when its volume is drawn.
void CtView::takeSnapshot(SlicesCtrl *panel, SetSnapshot &snapshot)
{
    SliceDatas &set = panel->sliceDatas;
    snapshot.sw = set.width;
    snapshot.sh = set.height;
    snapshot.slices.clear();
    for (const Slice *slice : std::as_const(set.slices))
        snapshot.slices.append(slice);
    snapshot.runs = set.runs;
    snapshot.showFrame = panel->showFrame()->isChecked();
    snapshot.showVolume = panel->showVolume()->isChecked();
    snapshot.showSection = panel->showCSection()->isChecked();
    snapshot.slider = panel->cSlider()->value();
    snapshot.nz = panel->nz;
    snapshot.vColor = panel->vColor;
    snapshot.sColor = panel->sColor;
    if (snapshot.showVolume && snapshot.sw > 0 && snapshot.sh > 0) {
        const ColourWindow window = colourWindow(panel->minV(), panel->maxV(), panel->minThPC(),
                                                 panel->maxThPC());
        set.windowLow = window.low;
        set.windowHigh = window.high;
    }
    snapshot.windowLow = set.windowLow;
    snapshot.windowHigh = set.windowHigh;
    snapshot.shape = set.shape;
    snapshot.sampling = resolvedSampling(panel->sampling, set.fileShape.measured());
}

// One set's volume on its own, as the rendering above draws it.
void CtView::paintADataSet(QPainter &p, SlicesCtrl *sCtrl, int sw, int sh, int pw, int ph)
{
    Q_UNUSED(p);
    std::shared_lock lock(sCtrl->sliceDatas.guard);
    SetSnapshot snapshot;
    takeSnapshot(sCtrl, snapshot);
    snapshot.sw = sw;
    snapshot.sh = sh;
    if (ph < 1 || pw != projImage.width() || ph != projImage.height())
        return;
    renderVolume(projImage, viewState(), snapshot);
}

#ifndef CTSLAB_LITE
void CtView::paintADataFrame(QPainter &p, int ss, int sw, int sh, bool temae, QColor color)
{
    paintFrame(p, viewState(), projImage.width(), projImage.height(), ss, sw, sh, temae, color);
}
#else
void CtView::paintADataFrame(QPainter &p, int ss, int sw, int sh, bool temae)
{
    paintFrame(p, viewState(), projImage.width(), projImage.height(), ss, sw, sh, temae,
               QColor(255, 0, 0));
}
#endif

void CtView::draw(QPainter *p)
{
    bool anyLoaded = false;
    for (SlicesCtrl *panel : std::as_const(sCtrls)) {
        std::shared_lock lock(panel->sliceDatas.guard);
        anyLoaded = anyLoaded || panel->sliceDatas.loaded;
    }
    if (!anyLoaded)
        return;
    p->drawImage(QRect(0, 0, ui->dispA_->width(), ui->dispA_->height()), projImage,
                 QRect(0, 0, projImage.width(), projImage.height()));
}

// The display's pixel position in the unit square, through its tracker's
// own map. A display too small to have an extent gives no position.
bool CtView::mouseToUnit(double *u, double *v) const
{
    dispCoord->setWorldRange(0, 0, 1, 1);
    *u = dispCoord->pixelToWorldX(dispMouse->pos.x());
    *v = dispCoord->pixelToWorldY(dispMouse->pos.y());
    return std::isfinite(*u) && std::isfinite(*v);
}

void CtView::mousePressedOnDataDisp()
{
    double u;
    double v;
    if (!mouseToUnit(&u, &v)) {
        dragMode = DragNone;
        return;
    }
    lastU = u;
    lastV = v;

    const int mods = dispMouse->pressModifiers
            & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    const int button = dispMouse->pressButton;
    if (button == Qt::RightButton && mods == 0) {
        dragMode = DragPan;
    } else if (button == Qt::LeftButton && mods == Qt::ShiftModifier) {
        dragMode = DragPan;
    } else if (button == Qt::LeftButton && mods == 0) {
        dragMode = DragRotate;
        if (v > 0.85)
            rotateKind = 3;
        else if (v < 0.15)
            rotateKind = 4;
        else if (u > 0.85)
            rotateKind = 2;
        else if (u < 0.15)
            rotateKind = 1;
        else
            rotateKind = 0;
    } else {
        dragMode = DragNone;
    }
}

void CtView::mouseMovedOnDataDisp()
{
    double u;
    double v;
    if (!mouseToUnit(&u, &v))
        return;
    const double du = u - lastU;
    const double dv = v - lastV;

    if (dragMode == DragPan) {
        // Whole pixels of the zoomed image, kept in double so that no zoom
        // can push them out of the int range.
        const double wz = std::trunc(projImage.width() * zoom);
        const double hz = std::trunc(projImage.height() * zoom);
        centre.x = centre.x - wz * du * nx.x + hz * dv * ny.x;
        centre.y = centre.y - wz * du * nx.y + hz * dv * ny.y;
        centre.z = centre.z - wz * du * nx.z + hz * dv * ny.z;
        paintPImg();
    } else if (dragMode == DragRotate) {
        constexpr double pi = std::numbers::pi;
        if (rotateKind == 0) {
            const double g = std::sqrt(du * du + dv * dv);
            if (g == 0) {
                // No displacement turns nothing; the axis would be 0/0.
                emit newNz(nz);
                paintPImg();
            } else {
                const Vec3 axis{ (dv / g) * nx.x + (du / g) * ny.x,
                                 (dv / g) * nx.y + (du / g) * ny.y,
                                 (dv / g) * nx.z + (du / g) * ny.z };
                updateNvs(axis, g * pi);
            }
        } else {
            const Vec3 axis = nz;
            double angle = 0;
            switch (rotateKind) {
            case 1:
                angle = dv * pi;
                break;
            case 2:
                angle = -dv * pi;
                break;
            case 3:
                angle = du * pi;
                break;
            default:
                angle = -du * pi;
                break;
            }
            updateNvs(axis, angle);
        }
    }
    lastU = u;
    lastV = v;
}

void CtView::mouseReleasedOnDataDisp()
{
    dragMode = DragNone;
}

void CtView::wheelMovedOnDataDisp(int step)
{
    if (step > 0)
        zoom = std::max(zoom * 0.9, minZoom);
    else if (step < 0)
        zoom = std::min(zoom / 0.9, maxZoom);
    paintPImg();
}

void CtView::savePicture()
{
    if (projImage.isNull()) {
        showPictureFailure(this, tr("Save Picture"), noPictureText());
        return;
    }
    // The picture as it is now, whatever happens while the dialog is open.
    const QImage picture = projImage.convertToFormat(QImage::Format_RGB32);
    if (pictureDir.isEmpty())
        pictureDir = pictureFolder(dataRoot);
    auto *dialog = new QFileDialog(this, tr("Save Picture"), pictureDir);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setNameFilters({ writablePicturesFilter() });
    dialog->setDefaultSuffix(QStringLiteral("png"));
    connect(dialog, &QFileDialog::fileSelected, this, [this, picture](const QString &name) {
        pictureDir = QFileInfo(name).absolutePath();
        // The suffix names the format.
        QString why;
        if (!writePictureFile(picture, name, &why)) {
            qDebug() << "picture not saved" << name;
            showPictureFailure(this, tr("Save Picture"), why);
        }
    });
    dialog->open();
}

void CtView::copyPicture()
{
    QString why;
    if (!copyPictureToClipboard(projImage, &why))
        showPictureFailure(this, tr("Copy Picture"), why);
}
