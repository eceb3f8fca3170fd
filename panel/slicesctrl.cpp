#include "panel/slicesctrl.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <shared_mutex>

#include "slices/textnumber.h"
#include "ui_slicesctrl.h"
#include "widgets/chcoord.h"
#include "widgets/exlabel.h"
#include "widgets/mousec.h"

namespace {

double readNumber(const QLineEdit *edit)
{
    return textNumber(edit->text());
}

void writeNumber(QLineEdit *edit, double v)
{
    edit->setText(QString::number(v, 'g', 6));
}

// Threshold columns come from typed percentages of any size; the painter
// clips anything outside the label, so far-off lines are pinned just beyond it.
int lineColumn(double x, int w)
{
    return int(std::clamp(std::trunc(x), -2.0, double(w) + 2.0));
}

#ifndef CTSLAB_LITE
QPixmap swatch(const QColor &colour)
{
    QPixmap pixmap(15, 27);
    pixmap.fill(colour);
    return pixmap;
}
#endif

} // namespace

SlicesCtrl::SlicesCtrl(const QString &startDir, QWidget *parent)
    : QFrame(parent), ui(std::make_unique<Ui_SlicesCtrl>())
{
    ui->setupUi(this);
    ui->showB_->setChecked(true);
    ui->showB2_->setChecked(true);
    ui->showB_->setVisible(false);
    ui->slicesCtrlFrame_->setVisible(true);

    lastDir = startDir;
    mouseRelay = &ui->dispH_->mouse;
    coord = &ui->dispH_->coord;
    dragTarget = -1;

    setVColor(QColor(0, 127, 127));
    setSColor(QColor(127, 0, 0));

    sliceDatas.moveToThread(&worker);
    worker.start();

    connect(ui->showB_, &QCheckBox::toggled, this, &SlicesCtrl::showHide);
    connect(ui->showB2_, &QCheckBox::toggled, this, &SlicesCtrl::showHide);
    connect(ui->selectB_, &QPushButton::clicked, this, &SlicesCtrl::selectFiles);
    connect(&sliceDatas, &SliceDatas::loadedNewFile, this, &SlicesCtrl::noticedLoadedNewFile);
    connect(&sliceDatas, &SliceDatas::loadFilesFinished, this,
            &SlicesCtrl::noticedLoadFilesFinished);
    connect(&sliceDatas, &SliceDatas::cleared, this, &SlicesCtrl::datasCleared);
    for (QLineEdit *edit : { ui->minV_, ui->maxV_, ui->minThPC_, ui->maxThPC_ })
        connect(edit, &QLineEdit::editingFinished, this, &SlicesCtrl::paintPImg);
    connect(ui->dispH_, &ExLabel::draw, this, &SlicesCtrl::drawHist);
    connect(mouseRelay, &MouseC::mPressed, this, &SlicesCtrl::mousePressedOnDispH);
    connect(mouseRelay, &MouseC::mMoved, this, &SlicesCtrl::mouseMovedOnDispH);
    connect(mouseRelay, &MouseC::mReleased, this, &SlicesCtrl::mouseReleasedOnDispH);
    for (QCheckBox *box : { ui->showVolume_, ui->showCSection_, ui->showFrame_ })
        connect(box, &QCheckBox::toggled, this, &SlicesCtrl::paintPImg);
#ifndef CTSLAB_LITE
    connect(ui->cSlider_, &QSlider::valueChanged, this, &SlicesCtrl::changedSliderStat);
    connect(ui->csFixDir_, &QCheckBox::toggled, this, &SlicesCtrl::changedSliderStat);
    connect(ui->selVColor_, &QPushButton::clicked, this, &SlicesCtrl::selectVColor);
    connect(ui->selSColor_, &QPushButton::clicked, this, &SlicesCtrl::selectSColor);
#else
    connect(ui->cSlider_, &QSlider::valueChanged, this, &SlicesCtrl::paintPImg);
    connect(ui->csFixDir_, &QCheckBox::toggled, this, &SlicesCtrl::paintPImg);
#endif
}

SlicesCtrl::~SlicesCtrl()
{
    // The children outlive this body and still signal while they go: a line
    // edit that had the focus finishes its edit. Nothing of that, nor a notice
    // of the set, may reach a panel whose members are being destroyed.
    const QList<QObject *> children = findChildren<QObject *>();
    for (QObject *child : children)
        disconnect(child, nullptr, this, nullptr);
    disconnect(mouseRelay, nullptr, this, nullptr);
    disconnect(&sliceDatas, nullptr, this, nullptr);

    // The set and the thread object die right after this body: a running
    // load must be over and the thread stopped before either goes.
    sliceDatas.requestStop();
    worker.quit();
    worker.wait();
    delete fileDialog;
#ifndef CTSLAB_LITE
    delete vColorDialog;
    delete sColorDialog;
#endif
}

double SlicesCtrl::minV() const { return readNumber(ui->minV_); }
double SlicesCtrl::maxV() const { return readNumber(ui->maxV_); }
double SlicesCtrl::minThPC() const { return readNumber(ui->minThPC_); }
double SlicesCtrl::maxThPC() const { return readNumber(ui->maxThPC_); }
void SlicesCtrl::setMinV(double v) { writeNumber(ui->minV_, v); }
void SlicesCtrl::setMaxV(double v) { writeNumber(ui->maxV_, v); }
void SlicesCtrl::setMinThPC(double v) { writeNumber(ui->minThPC_, v); }
void SlicesCtrl::setMaxThPC(double v) { writeNumber(ui->maxThPC_, v); }

QCheckBox *SlicesCtrl::showVolume() const { return ui->showVolume_; }
QCheckBox *SlicesCtrl::showFrame() const { return ui->showFrame_; }
QCheckBox *SlicesCtrl::showCSection() const { return ui->showCSection_; }
QSlider *SlicesCtrl::cSlider() const { return ui->cSlider_; }
QCheckBox *SlicesCtrl::csFixDir() const { return ui->csFixDir_; }

void SlicesCtrl::setVColor(const QColor &colour)
{
    vColor = colour;
#ifndef CTSLAB_LITE
    ui->dispVColor_->setPixmap(swatch(colour));
#endif
}

void SlicesCtrl::setSColor(const QColor &colour)
{
    sColor = colour;
#ifndef CTSLAB_LITE
    ui->dispSColor_->setPixmap(swatch(colour));
#endif
}

void SlicesCtrl::setSetNumber(int n)
{
    const QString text = tr("Show Setup %1").arg(n);
    ui->showB_->setText(text);
    ui->showB2_->setText(text);
}

void SlicesCtrl::showHide(bool f)
{
    ui->showB_->setChecked(f);
    ui->showB2_->setChecked(f);
    ui->showB_->setVisible(!ui->showB_->isChecked());
    ui->slicesCtrlFrame_->setVisible(ui->showB_->isChecked());
}

void SlicesCtrl::selectFiles()
{
    if (fileDialog) {
        lastDir = fileDialog->directory().absolutePath();
        fileDialog->deleteLater();
    }
    fileDialog = new QFileDialog(nullptr, QString(), QString(), QString());
    fileDialog->setAcceptMode(QFileDialog::AcceptOpen);
    fileDialog->setFileMode(QFileDialog::ExistingFiles);
    fileDialog->setDirectory(lastDir);
    fileDialog->setNameFilters({ tr("Data Files (*.dat *.png)"), tr("Any Files (* *.*)") });
#ifndef CTSLAB_LITE
    fileDialog->setWindowTitle(tr("Select Data Files"));
#endif
    // The set lives on the worker thread, so the names travel queued.
    connect(fileDialog, &QFileDialog::filesSelected, &sliceDatas, &SliceDatas::filesSelected);
    fileDialog->show();
}

#ifndef CTSLAB_LITE
void SlicesCtrl::selectVColor()
{
    if (vColorDialog)
        vColorDialog->deleteLater();
    vColorDialog = new QColorDialog(nullptr);
    vColorDialog->setCurrentColor(vColor);
    vColorDialog->setWindowTitle(tr("Select Volume Color"));
    QColorDialog *dialog = vColorDialog;
    connect(dialog, &QColorDialog::colorSelected, this, [this, dialog] {
        setVColor(dialog->selectedColor());
        emit paintPImg();
    });
    vColorDialog->show();
}

void SlicesCtrl::selectSColor()
{
    if (sColorDialog)
        sColorDialog->deleteLater();
    sColorDialog = new QColorDialog(nullptr);
    sColorDialog->setCurrentColor(sColor);
    sColorDialog->setWindowTitle(tr("Select Section Color"));
    QColorDialog *dialog = sColorDialog;
    connect(dialog, &QColorDialog::colorSelected, this, [this, dialog] {
        setSColor(dialog->selectedColor());
        emit paintPImg();
    });
    sColorDialog->show();
}
#endif

void SlicesCtrl::noticedLoadedNewFile(QString fname)
{
    ui->nameList_->addItem(fname);
}

void SlicesCtrl::noticedLoadFilesFinished()
{
    double lo;
    double hi;
    {
        std::shared_lock lock(sliceDatas.guard);
        lo = sliceDatas.min;
        hi = sliceDatas.max;
    }
    setMinV(lo);
    setMaxV(hi);
    ui->dispH_->update();
    emit paintPImg();
}

void SlicesCtrl::datasCleared()
{
    ui->nameList_->clear();
}

void SlicesCtrl::drawHist(QPainter *p)
{
    const int w = ui->dispH_->width();
    const int h = ui->dispH_->height();
    p->fillRect(0, 0, w, h, QColor(255, 255, 255));

    std::shared_lock lock(sliceDatas.guard);
    if (!sliceDatas.histReady)
        return;
    coord->setWorldRange(0, 0, 101, 1);
    p->drawImage(QRect(0, 0, w, h), sliceDatas.histImage,
                 QRect(0, 0, sliceDatas.binCount - 1, sliceDatas.histHeight - 1));
    p->setPen(QColor(255, 0, 0));
    for (double pc : { minThPC(), maxThPC() }) {
        const int x = lineColumn(coord->worldToPixelX(pc), w);
        p->drawLine(x, 0, x, h);
    }
}

void SlicesCtrl::mousePressedOnDispH()
{
    coord->setWorldRange(0, 0, 101, 1);
    const double p = coord->pixelToWorldX(mouseRelay->pos.x());
    const int held = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
    if (mouseRelay->pressButton != Qt::LeftButton || (mouseRelay->pressModifiers & held))
        return;
    dragTarget = std::abs(maxThPC() - p) <= std::abs(minThPC() - p) ? 1 : 0;
}

void SlicesCtrl::mouseMovedOnDispH()
{
    coord->setWorldRange(0, 0, 101, 1);
    const double p = coord->pixelToWorldX(mouseRelay->pos.x());
    if (!mouseRelay->leftPressed)
        return;
    if (dragTarget == 0)
        setMinThPC(p);
    else if (dragTarget == 1)
        setMaxThPC(p);
    emit paintPImg();
}

void SlicesCtrl::mouseReleasedOnDispH()
{
    dragTarget = -1;
}

void SlicesCtrl::initNz(Vec3 nz)
{
    this->nz = nz;
}

void SlicesCtrl::newNz(Vec3 nz)
{
    if (!ui->csFixDir_->isChecked())
        this->nz = nz;
}
