#include "view/ctview.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCloseEvent>
#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>
#include <QSlider>
#include <QVarLengthArray>
#include <QtMath>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <functional>
#include <mutex>
#include <numbers>
#include <shared_mutex>

#include "panel/colourscale.h"
#include "panel/slicesctrl.h"
#include "panel/windowpresets.h"
#include "ui_ctview.h"
#include "view/framedrawing.h"
#include "view/probe.h"
#include "view/projection.h"
#include "view/setcolours.h"
#include "view/setgeometry.h"
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

// Hands the window every event of a widget before the widget has it, and
// takes none of them away.
class EventWatch : public QObject
{
public:
    EventWatch(QObject *parent, std::function<void(QEvent *)> seen)
        : QObject(parent), seen(std::move(seen))
    {
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        seen(event);
        return false;
    }

private:
    std::function<void(QEvent *)> seen;
};


// Widgets that take Home, or letters, for themselves.
bool usesViewKeys(const QWidget *widget)
{
    return qobject_cast<const QAbstractSlider *>(widget)
            || qobject_cast<const QAbstractSpinBox *>(widget)
            || qobject_cast<const QAbstractItemView *>(widget)
            || qobject_cast<const QLineEdit *>(widget) || qobject_cast<const QComboBox *>(widget);
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
    // Home and F reach the view from anywhere in the window but a focused
    // slider, list, spin box or text field, which keeps them. A press on the
    // display takes the focus, so that they reach the view after it; but not
    // from a field with typing not yet entered, whose edit would end and
    // render.
    connect(dispMouse, &MouseC::mPressed, this, [this] {
        QWidget *focused = QApplication::focusWidget();
        const auto *field = qobject_cast<QLineEdit *>(focused);
        if (!(field && field->isModified()) && !qobject_cast<QAbstractSpinBox *>(focused))
            ui->dispA_->setFocus(Qt::MouseFocusReason);
    });
    viewKeys.append(new QShortcut(QKeySequence(Qt::Key_Home), this));
    connect(viewKeys.last(), &QShortcut::activated, this, &CtView::homeView);
    viewKeys.append(new QShortcut(QKeySequence(Qt::Key_F), this));
    connect(viewKeys.last(), &QShortcut::activated, this, &CtView::fitView);
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget *, QWidget *now) { scopeViewKeys(now); });
    scopeViewKeys(QApplication::focusWidget());

    displayMenu = new QMenu(this);
    displayMenu->setObjectName(QStringLiteral("displayMenu"));
    QAction *home = displayMenu->addAction(tr("First view"), this, &CtView::homeView);
    home->setShortcut(QKeySequence(Qt::Key_Home));
    QAction *fit = displayMenu->addAction(tr("Fit the sets"), this, &CtView::fitView);
    fit->setShortcut(QKeySequence(Qt::Key_F));
    displayMenu->addSeparator();
    keepAspectAction = displayMenu->addAction(tr("Keep the image's aspect"));
    keepAspectAction->setCheckable(true);
    connect(keepAspectAction, &QAction::toggled, this, &CtView::setKeepAspect);
    followDisplayAction = displayMenu->addAction(tr("Image size follows the display"));
    followDisplayAction->setCheckable(true);
    connect(followDisplayAction, &QAction::toggled, this, &CtView::setSizeFollowsDisplay);

    // Over the picture, never part of it, and never in the mouse's way.
    notice = new QLabel(ui->dispA_);
    notice->setObjectName(QStringLiteral("notice"));
    notice->setAttribute(Qt::WA_TransparentForMouseEvents);
    notice->setStyleSheet(QStringLiteral("QLabel { background: rgba(0, 0, 0, 160); color: white;"
                                         " padding: 4px; }"));
    notice->move(4, 4);
    notice->hide();
    emptyLoadTimer.setSingleShot(true);
    emptyLoadTimer.setInterval(6000);
    connect(&emptyLoadTimer, &QTimer::timeout, this, [this] {
        emptyLoadText.clear();
        showNotice();
    });

    probe = new QLabel(ui->dispA_);
    probe->setObjectName(QStringLiteral("probe"));
    probe->setAttribute(Qt::WA_TransparentForMouseEvents);
    probe->setStyleSheet(notice->styleSheet());
    probe->hide();
    // Watched from outside, so that the display's own handling of the mouse
    // stays as it is.
    displayWatch = new EventWatch(this, [this](QEvent *event) { watchDisplay(event); });
    ui->dispA_->installEventFilter(displayWatch);
}

CtView::~CtView()
{
    ui->dispA_->removeEventFilter(displayWatch);
    // The panels outlive this body: a field of theirs that loses the focus
    // while the window goes must not ask it to render.
    for (SlicesCtrl *panel : std::as_const(sCtrls)) {
        disconnect(panel, nullptr, this, nullptr);
        disconnect(&panel->sliceDatas, nullptr, this, nullptr);
    }
    // Nor may the focus, leaving the widgets as they go, reach keys already gone.
    disconnect(qApp, &QApplication::focusChanged, this, nullptr);
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
    // The set's own thread sends these; they are taken here in turn.
    connect(&panel->sliceDatas, &SliceDatas::filesRead, this,
            [this, panel](int read, int chosen) { noticeFilesRead(panel, read, chosen); },
            Qt::QueuedConnection);
    connect(&panel->sliceDatas, &SliceDatas::loadFilesFinished, this,
            [this, panel] { noticeLoadFinished(panel); }, Qt::QueuedConnection);

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

void CtView::homeView()
{
    const ViewState first;
    zoom = first.zoom;
    nx = first.nx;
    ny = first.ny;
    nz = first.nz;
    centre = first.centre;
    emit newNz(nz);
    paintPImg();
}

void CtView::fitView()
{
    takeDisplaySize();
    const int w = imagePixelWidth();
    const int h = imagePixelHeight();
    if (w < 1 || h < 1)
        return;
    // The extent of every loaded box across and down the image, about the
    // world's origin where each box is centred.
    double left = DBL_MAX;
    double right = -DBL_MAX;
    double top = DBL_MAX;
    double bottom = -DBL_MAX;
    for (SlicesCtrl *panel : std::as_const(sCtrls)) {
        SetSnapshot set;
        {
            std::shared_lock lock(panel->sliceDatas.guard);
            if (!panel->sliceDatas.loaded)
                continue;
            set.sw = panel->sliceDatas.width;
            set.sh = panel->sliceDatas.height;
            for (const Slice *slice : std::as_const(panel->sliceDatas.slices))
                set.slices.append(slice);
            set.shape = panel->sliceDatas.shape;
        }
        const SetGeometry box(set);
        for (int c = 0; c < 8; ++c) {
            const Vec3 corner{ (c & 1) ? box.halfX() : -box.halfX(),
                               (c & 2) ? box.halfY() : -box.halfY(),
                               (c & 4) ? box.halfZ() : -box.halfZ() };
            const double a = dot(corner, nx);
            const double b = dot(corner, ny);
            left = std::min(left, a);
            right = std::max(right, a);
            top = std::min(top, b);
            bottom = std::max(bottom, b);
        }
    }
    if (!(left <= right && top <= bottom) || !std::isfinite(right - left)
        || !std::isfinite(bottom - top)) {
        return;
    }
    // A pixel's margin on every side: the image's centre is a whole pixel,
    // left of the middle of an odd width.
    const double scale = std::max((right - left) / std::max(1, w - 4),
                                  (bottom - top) / std::max(1, h - 4));
    if (!(scale > 0))
        return;
    zoom = std::clamp(scale, minZoom, maxZoom);
    const double a = (left + right) / 2;
    const double b = (top + bottom) / 2;
    const double depth = dot(centre, nz);
    centre = Vec3{ a * nx.x + b * ny.x + depth * nz.x, a * nx.y + b * ny.y + depth * nz.y,
                   a * nx.z + b * ny.z + depth * nz.z };
    paintPImg();
}

void CtView::setKeepAspect(bool on)
{
    if (keepAspect == on)
        return;
    keepAspect = on;
    keepAspectAction->setChecked(on);
    // The whole display again, as its own paint would give the tracker.
    if (!on)
        dispCoord->setPixelRange(0, ui->dispA_->height() - 1, ui->dispA_->width() - 1, 0);
    ui->dispA_->update();
}

void CtView::setSizeFollowsDisplay(bool on)
{
    if (followDisplay == on)
        return;
    followDisplay = on;
    followDisplayAction->setChecked(on);
    // The fields show the size in use; what is typed there would not last.
    ui->imgPixWidth_->setReadOnly(on);
    ui->imgPixHeight_->setReadOnly(on);
    if (on)
        paintPImg();
}

void CtView::takeDisplaySize()
{
    if (!followDisplay)
        return;
    const QString w = QString::number(ui->dispA_->width());
    const QString h = QString::number(ui->dispA_->height());
    if (ui->imgPixWidth_->text() != w)
        ui->imgPixWidth_->setText(w);
    if (ui->imgPixHeight_->text() != h)
        ui->imgPixHeight_->setText(h);
}

void CtView::scopeViewKeys(QWidget *focused)
{
    // A field's typing counts as entered once Enter is pressed, and what it
    // holds when it takes the focus is entered already.
    if (auto *field = qobject_cast<QLineEdit *>(focused)) {
        field->setModified(false);
        if (!field->property("ctslabEnterSeen").toBool()) {
            field->setProperty("ctslabEnterSeen", true);
            connect(field, &QLineEdit::returnPressed, field, [field] { field->setModified(false); });
        }
    }
    const bool enabled = !usesViewKeys(focused);
    for (QShortcut *key : std::as_const(viewKeys))
        key->setEnabled(enabled);
}

void CtView::showDisplayMenu(const QPoint &at)
{
    displayMenu->popup(ui->dispA_->mapToGlobal(at));
}

QString CtView::noticeText() const
{
    QStringList lines;
    for (qsizetype i = 0; i < sCtrls.size(); ++i) {
        const auto load = loads.constFind(&sCtrls[i]->sliceDatas);
        if (load == loads.constEnd())
            continue;
        const qint64 spent = load->clock.elapsed();
        // Time left by the pace so far, once there is a pace and it says
        // more than a second.
        const double left = load->read > 0
                ? double(spent) * (load->chosen - load->read) / load->read / 1000.0
                : 0.0;
        lines.append(left > 1.0 ? tr("Set %1: %2 of %3 files read, about %4 s left")
                                          .arg(i + 1)
                                          .arg(load->read)
                                          .arg(load->chosen)
                                          .arg(qCeil(left))
                                : tr("Set %1: %2 of %3 files read")
                                          .arg(i + 1)
                                          .arg(load->read)
                                          .arg(load->chosen));
    }
    if (!emptyLoadText.isEmpty())
        lines.append(emptyLoadText);
    return lines.join(u'\n');
}

void CtView::showNotice()
{
    const QString text = noticeText();
    notice->setText(text);
    // A long reason wraps inside the display rather than running past it.
    notice->setWordWrap(true);
    notice->setMaximumWidth(std::max(40, ui->dispA_->width() - 8));
    notice->adjustSize();
    notice->setVisible(!text.isEmpty());
}

void CtView::noticeFilesRead(SlicesCtrl *panel, int read, int chosen)
{
    Progress &load = loads[&panel->sliceDatas];
    if (read == 0 || !load.clock.isValid())
        load.clock.start();
    load.read = read;
    load.chosen = chosen;
    showNotice();
    showProbe();
}

void CtView::noticeLoadFinished(SlicesCtrl *panel)
{
    loads.remove(&panel->sliceDatas);
    SliceDatas::Account account;
    {
        std::shared_lock lock(panel->sliceDatas.guard);
        account = panel->sliceDatas.account;
    }
    if (account.selected > 0 && account.filesLoaded == 0) {
        const QString why = SlicesCtrl::skippedText(account);
        emptyLoadText = why.isEmpty()
                ? tr("Set %1: nothing loaded").arg(sCtrls.indexOf(panel) + 1)
                : tr("Set %1: nothing loaded; %2").arg(sCtrls.indexOf(panel) + 1).arg(why);
        emptyLoadTimer.start();
    } else if (account.filesLoaded > 0) {
        emptyLoadText.clear();
        emptyLoadTimer.stop();
    }
    showNotice();
    showProbe();
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
    takeDisplaySize();
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
        renderView = viewState();
        renderScene(projImage, renderView, renderSets);
    }
    ui->dispA_->update();
    // The value under a resting pointer follows the new picture.
    if (probe && (hoverAt != QPoint(-1, -1) || probe->isVisible()))
        showProbe();
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
    p->drawImage(pictureRect(), projImage, QRectF(0, 0, projImage.width(), projImage.height()));
}

QRectF CtView::pictureRect() const
{
    const double dw = ui->dispA_->width();
    const double dh = ui->dispA_->height();
    if (!keepAspect || projImage.isNull() || dw < 1 || dh < 1)
        return QRectF(0, 0, dw, dh);
    const double iw = projImage.width();
    const double ih = projImage.height();
    // The side that fits exactly takes the display's length as it is; the
    // other is cut to whole pixels, so that the picture's edges stay sharp.
    double w = dw;
    double h = dh;
    if (dw * ih <= dh * iw)
        h = std::max(1.0, std::trunc(ih * dw / iw));
    else
        w = std::max(1.0, std::trunc(iw * dh / ih));
    return QRectF(std::trunc((dw - w) / 2), std::trunc((dh - h) / 2), w, h);
}

void CtView::watchDisplay(QEvent *event)
{
    const auto at = [event] {
        const QPointF p = static_cast<QMouseEvent *>(event)->position();
        return QPoint(int(p.x()), int(p.y()));
    };
    switch (event->type()) {
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease:
        // Nothing is worked out while a button is held: that is a drag.
        hoverAt = static_cast<QMouseEvent *>(event)->buttons() == Qt::NoButton ? at()
                                                                               : QPoint(-1, -1);
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Leave:
        hoverAt = QPoint(-1, -1);
        break;
    case QEvent::Resize:
        if (followDisplay)
            paintPImg();
        break;
    default:
        return;
    }
    showProbe();
}

void CtView::showProbe()
{
    const QString text = hoverAt != QPoint(-1, -1) ? probeTextAt(hoverAt) : QString();
    if (text.isEmpty()) {
        probe->hide();
        return;
    }
    probe->setText(text);
    probe->adjustSize();
    probe->move(4, std::max(4, ui->dispA_->height() - probe->height() - 4));
    probe->show();
}

QString CtView::probeText() const
{
    return probe->isVisible() ? probe->text() : QString();
}

QString CtView::probeTextAt(const QPoint &at)
{
    // Only the picture on screen is asked, and only while every set is still
    // what it was drawn from: not during a load.
    if (projImage.isNull() || !loads.isEmpty() || renderSets.size() != sCtrls.size())
        return {};
    const QRectF shown = pictureRect();
    if (!(shown.width() > 0 && shown.height() > 0))
        return {};
    const int W = projImage.width();
    const int H = projImage.height();
    // The centre of the display pixel, in the picture's pixels.
    const double x = (at.x() + 0.5 - shown.left()) * W / shown.width();
    const double y = (at.y() + 0.5 - shown.top()) * H / shown.height();
    if (!(x >= 0 && x < W && y >= 0 && y < H))
        return {};
    QVarLengthArray<std::shared_lock<std::shared_mutex>, 8> locks;
    bool anyLoaded = false;
    for (qsizetype n = 0; n < sCtrls.size(); ++n) {
        const SliceDatas &set = sCtrls[n]->sliceDatas;
        locks.append(std::shared_lock(set.guard));
        const SetSnapshot &drawn = renderSets[n];
        if (drawn.sw != set.width || drawn.sh != set.height
            || !std::equal(drawn.slices.cbegin(), drawn.slices.cend(), set.slices.cbegin(),
                           set.slices.cend()))
            return {};
        anyLoaded = anyLoaded || set.loaded;
    }
    if (!anyLoaded)
        return {};
    const std::optional<ProbeHit> hit = probeScene(renderView, renderSets, W, H, int(x), int(y));
    if (!hit)
        return {};
    const SlicesCtrl *panel = sCtrls[hit->set];
    const QString value = QString::number(hit->value, 'g', 6);
    QString text = looksLikeHounsfield(panel->sliceDatas.min, panel->sliceDatas.max)
            ? tr("Set %1: %2 HU at column %3, row %4, slice %5")
            : tr("Set %1: %2 at column %3, row %4, slice %5");
    text = text.arg(hit->set + 1).arg(value).arg(hit->column).arg(hit->row).arg(hit->slice + 1);
    // The name the panel lists for the slice, without its folder.
    const auto *names = panel->findChild<const QComboBox *>(QStringLiteral("nameList_"));
    if (names && hit->slice < names->count())
        text += QStringLiteral(" (%1)").arg(QFileInfo(names->itemText(hit->slice)).fileName());
    return text;
}

// The display's pixel position in the unit square, through its tracker's
// own map. A display too small to have an extent gives no position.
bool CtView::mouseToUnit(double *u, double *v) const
{
    // With the aspect kept the unit square is the picture, not the display,
    // so that turning and panning go with what is seen; positions beside the
    // picture lie outside the square.
    if (keepAspect) {
        const QRectF r = pictureRect();
        dispCoord->setPixelRange(r.left(), r.top() + r.height() - 1, r.left() + r.width() - 1,
                                 r.top());
    }
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
    rightPressAt = button == Qt::RightButton && mods == 0 ? dispMouse->pos : QPoint(-1, -1);
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
    if (dispMouse->pos != rightPressAt)
        rightPressAt = QPoint(-1, -1);
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
    // A pan that went nowhere is a click for the menu.
    if (rightPressAt != QPoint(-1, -1) && dispMouse->pos == rightPressAt)
        showDisplayMenu(rightPressAt);
    rightPressAt = QPoint(-1, -1);
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
