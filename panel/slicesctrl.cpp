#include "panel/slicesctrl.h"

#include <QAction>
#include <QActionGroup>
#include <QColorDialog>
#include <QCursor>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <shared_mutex>

#include "panel/windowpresets.h"
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
    // A narrow field shows where the cursor is: at the number's beginning.
    edit->setCursorPosition(0);
}

// Threshold columns come from typed percentages of any size; the painter
// clips anything outside the label, so far-off lines are pinned just beyond it.
int lineColumn(double x, int w)
{
    return int(std::clamp(std::trunc(x), -2.0, double(w) + 2.0));
}

// The files that paths name, in the order given; a folder gives the files
// directly inside it, in name order. Only files a file dialog offers count:
// no pipes or devices, which a reader would wait on for ever.
QStringList filesOf(const QStringList &paths)
{
    QStringList names;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isFile()) {
            names.append(info.absoluteFilePath());
            continue;
        }
        if (!info.isDir())
            continue;
        const QFileInfoList inside =
                QDir(info.absoluteFilePath()).entryInfoList(QDir::Files, QDir::Name);
        for (const QFileInfo &file : inside)
            names.append(file.absoluteFilePath());
    }
    return names;
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

SamplingChoice SlicesCtrl::defaultSampling = SamplingChoice::Automatic;

void SlicesCtrl::setDefaultSampling(SamplingChoice choice)
{
    defaultSampling = choice;
}

SlicesCtrl::SlicesCtrl(const QString &startDir, QWidget *parent)
    : QFrame(parent), ui(std::make_unique<Ui_SlicesCtrl>())
{
    ui->setupUi(this);
    ui->showB_->setChecked(true);
    ui->showB2_->setChecked(true);
    ui->showB_->setVisible(false);
    ui->slicesCtrlFrame_->setVisible(true);
    setAcceptDrops(true);
    // A file dropped on a number field loads too, instead of becoming its text.
    for (QLineEdit *edit : { ui->minV_, ui->maxV_, ui->minThPC_, ui->maxThPC_ })
        edit->setAcceptDrops(false);

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
    connect(&sliceDatas, &SliceDatas::severalSeries, this, &SlicesCtrl::chooseSeries);
    for (QLineEdit *edit : { ui->minV_, ui->maxV_, ui->minThPC_, ui->maxThPC_ }) {
        connect(edit, &QLineEdit::editingFinished, this, &SlicesCtrl::paintPImg);
        // The histogram's threshold lines follow what was typed.
        connect(edit, &QLineEdit::editingFinished, ui->dispH_, qOverload<>(&QWidget::update));
    }
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

    sampling = defaultSampling;
    buildContextMenu();
    buildHistogramMenu();
}

// The panel's own menu, on a right click anywhere on it outside the fields:
// the set's spacing and its sampling.
void SlicesCtrl::buildContextMenu()
{
    setContextMenuPolicy(Qt::ActionsContextMenu);
    auto *spacing = new QAction(tr("Spacing..."), this);
    spacing->setObjectName(QStringLiteral("spacingAction"));
    connect(spacing, &QAction::triggered, this, &SlicesCtrl::openSpacingDialog);
    addAction(spacing);

    auto *menu = new QMenu(tr("Sampling"), this);
    menu->setObjectName(QStringLiteral("samplingMenu"));
    samplingGroup = new QActionGroup(menu);
    const auto addChoice = [this, menu](const QString &text, SamplingChoice choice) {
        QAction *action = menu->addAction(text);
        action->setCheckable(true);
        action->setData(int(choice));
        samplingGroup->addAction(action);
    };
    addChoice(tr("Automatic"), SamplingChoice::Automatic);
    addChoice(tr("Slice planes"), SamplingChoice::Planes);
    addChoice(tr("Cells"), SamplingChoice::Cells);
    // The ticked item shows the choice, also one made since the menu was last open.
    const auto tick = [this] {
        for (QAction *action : samplingGroup->actions())
            action->setChecked(SamplingChoice(action->data().toInt()) == sampling);
    };
    tick();
    connect(menu, &QMenu::aboutToShow, this, tick);
    connect(samplingGroup, &QActionGroup::triggered, this, [this](QAction *action) {
        const auto choice = SamplingChoice(action->data().toInt());
        if (choice == sampling)
            return;
        sampling = choice;
        emit paintPImg();
    });
    addAction(menu->menuAction());
}

void SlicesCtrl::buildHistogramMenu()
{
    histogramMenu = new QMenu(this);
    histogramMenu->setObjectName(QStringLiteral("histogramMenu"));
    QAction *whole = histogramMenu->addAction(tr("Whole range"));
    whole->setObjectName(QStringLiteral("wholeRange"));
    connect(whole, &QAction::triggered, this, [this] {
        double lo;
        double hi;
        {
            std::shared_lock lock(sliceDatas.guard);
            if (!sliceDatas.loaded)
                return;
            lo = sliceDatas.min;
            hi = sliceDatas.max;
        }
        // A load under way has no range yet.
        if (!(lo < hi))
            return;
        const PresetWindow window = wholeRangeWindow(lo, hi);
        typeWindow(window.low, window.high);
    });
    QAction *hounsfield = histogramMenu->addSeparator();
    hounsfield->setObjectName(QStringLiteral("hounsfield"));
    for (const HounsfieldPreset &preset : hounsfieldPresets) {
        QAction *action = histogramMenu->addAction(tr(preset.name));
        action->setObjectName(QLatin1String(preset.name));
        connect(action, &QAction::triggered, this, [this, preset] {
            typeWindow(fieldNumber(preset.low), fieldNumber(preset.high));
        });
    }
    // What the menu offers follows the set as it is when the menu opens.
    connect(histogramMenu, &QMenu::aboutToShow, this, [this, whole] {
        bool loaded;
        double lo;
        double hi;
        {
            std::shared_lock lock(sliceDatas.guard);
            loaded = sliceDatas.loaded;
            lo = sliceDatas.min;
            hi = sliceDatas.max;
        }
        const bool ranged = loaded && lo < hi;
        whole->setEnabled(ranged);
        const bool ct = ranged && looksLikeHounsfield(lo, hi);
        bool after = false;
        for (QAction *action : histogramMenu->actions()) {
            after = after || action->objectName() == QLatin1String("hounsfield");
            if (after)
                action->setVisible(ct);
        }
    });
    ui->dispH_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->dispH_, &QWidget::customContextMenuRequested, this,
            &SlicesCtrl::showHistogramMenu);
}

void SlicesCtrl::showHistogramMenu()
{
    histogramMenu->popup(QCursor::pos());
}

void SlicesCtrl::typeWindow(const QString &low, const QString &high)
{
    ui->minV_->setText(low);
    ui->maxV_->setText(high);
    writeNumber(ui->minThPC_, 0);
    writeNumber(ui->maxThPC_, 100);
    for (QLineEdit *edit : { ui->minV_, ui->maxV_ })
        edit->setCursorPosition(0);
    // One finished edit, as after typing the last field: one repaint of the
    // picture and the histogram for all four.
    emit ui->maxThPC_->editingFinished();
}

void SlicesCtrl::openSpacingDialog()
{
    // A dialog still open from before shows what the set had then.
    if (spacingDialog)
        spacingDialog->close();
    CellShape now;
    {
        std::shared_lock lock(sliceDatas.guard);
        now = sliceDatas.shape;
    }
    auto *dialog = new QDialog(this);
    spacingDialog = dialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(tr("Spacing"));
    auto *form = new QFormLayout(dialog);
    // Unmeasured, the cells are drawn as cubes, as if 1 mm every way.
    const auto field = [dialog, form](const char *name, const QString &label, double mm) {
        auto *edit = new QLineEdit(QString::number(mm > 0 ? mm : 1.0, 'g', 10), dialog);
        edit->setObjectName(QLatin1String(name));
        form->addRow(label, edit);
    };
    field("columnMm", tr("Column spacing (mm)"), now.columnMm);
    field("rowMm", tr("Row spacing (mm)"), now.rowMm);
    field("sliceMm", tr("Slice spacing (mm)"), now.sliceMm);
    auto *buttons = new QDialogButtonBox(dialog);
    buttons->addButton(tr("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    QPushButton *reset = buttons->addButton(tr("Reset"), QDialogButtonBox::ResetRole);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &SlicesCtrl::applySpacing);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    connect(reset, &QPushButton::clicked, this, &SlicesCtrl::resetSpacing);
    dialog->show();
}

void SlicesCtrl::applySpacing()
{
    if (!spacingDialog)
        return;
    const auto mm = [this](const char *name) {
        return textNumber(spacingDialog->findChild<QLineEdit *>(QLatin1String(name))->text());
    };
    // A spacing the set refuses leaves the dialog open to be mended.
    if (!sliceDatas.setSpacing(mm("columnMm"), mm("rowMm"), mm("sliceMm")))
        return;
    spacingDialog->accept();
    if (!ui->nameList_->toolTip().isEmpty())
        showAccount();
    emit paintPImg();
}

void SlicesCtrl::resetSpacing()
{
    sliceDatas.resetSpacing();
    if (spacingDialog)
        spacingDialog->accept();
    if (!ui->nameList_->toolTip().isEmpty())
        showAccount();
    emit paintPImg();
}

void SlicesCtrl::chooseSeries(const QList<DicomSeries> &series, const QStringList &others)
{
    if (series.isEmpty())
        return;
    // A later selection replaces an earlier one still waiting for its choice.
    if (seriesDialog)
        seriesDialog->close();
    auto *dialog = new QDialog(this);
    seriesDialog = dialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(tr("Choose a Series"));
    auto *layout = new QVBoxLayout(dialog);
    layout->addWidget(new QLabel(tr("The files hold several DICOM series; load which?"), dialog));
    auto *list = new QTreeWidget(dialog);
    list->setObjectName(QStringLiteral("seriesList"));
    list->setRootIsDecorated(false);
    list->setHeaderLabels({ tr("Series"), tr("Modality"), tr("Images"), tr("Size"),
                            tr("Spacing (mm)") });
    const auto mm = [](double v) { return v > 0 ? QString::number(v, 'f', 2) : QStringLiteral("?"); };
    for (const DicomSeries &one : series) {
        auto *item = new QTreeWidgetItem(list);
        item->setText(0, one.description.isEmpty() ? one.uid : one.description);
        item->setToolTip(0, one.uid);
        item->setText(1, one.modality);
        item->setText(2, QString::number(one.images));
        item->setText(3, QStringLiteral("%1 x %2").arg(one.columns).arg(one.rows));
        item->setText(4, QStringLiteral("%1 x %2 x %3")
                                 .arg(mm(one.columnMm), mm(one.rowMm), mm(one.sliceMm)));
        item->setData(0, Qt::UserRole, one.files);
    }
    list->setCurrentItem(list->topLevelItem(0));
    for (int column = 0; column < list->columnCount(); ++column)
        list->resizeColumnToContents(column);
    layout->addWidget(list);
    auto *buttons = new QDialogButtonBox(dialog);
    buttons->addButton(tr("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    const auto load = [this, list, others, dialog] {
        const QTreeWidgetItem *item = list->currentItem();
        if (!item)
            return;
        sliceDatas.queueFiles(item->data(0, Qt::UserRole).toStringList() + others);
        dialog->accept();
    };
    connect(buttons, &QDialogButtonBox::accepted, dialog, load);
    connect(list, &QTreeWidget::itemDoubleClicked, dialog, load);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    dialog->resize(dialog->sizeHint().expandedTo(QSize(560, 240)));
    dialog->show();
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
    fileDialog->setNameFilters({ tr("Data Files (*.dat *.png)"), tr("Any Files (* *.*)"),
                                 tr("Scanner Files (*.dcm *.dicom *.ima *.tif *.tiff *.webp *.nii *.nii.gz *.hdr *.nrrd "
                                    "*.nhdr *.mha *.mhd)") });
#ifndef CTSLAB_LITE
    fileDialog->setWindowTitle(tr("Select Data Files"));
#endif
    // The set lives on the worker thread, so the names travel queued.
    connect(fileDialog, &QFileDialog::filesSelected, &sliceDatas, &SliceDatas::filesSelected);
    fileDialog->show();
}

void SlicesCtrl::dragEnterEvent(QDragEnterEvent *event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (std::any_of(urls.cbegin(), urls.cend(), [](const QUrl &url) { return url.isLocalFile(); }))
        event->acceptProposedAction();
}

void SlicesCtrl::dropEvent(QDropEvent *event)
{
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    const QStringList names = filesOf(paths);
    if (names.isEmpty())
        return;
    event->acceptProposedAction();
    sliceDatas.queueFiles(names);
}

void SlicesCtrl::loadPaths(const QStringList &paths)
{
    const QStringList names = filesOf(paths);
    // Queued to the worker like the dialog's selection, so files given during
    // a load replace the set once that load is over.
    if (!names.isEmpty())
        sliceDatas.queueFiles(names);
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
    showAccount();
    ui->dispH_->update();
    emit paintPImg();
}

void SlicesCtrl::datasCleared()
{
    ui->nameList_->clear();
    ui->nameList_->setToolTip(QString());
}

void SlicesCtrl::showAccount()
{
    qsizetype loaded;
    SliceDatas::Account account;
    CellShape shape;
    {
        std::shared_lock lock(sliceDatas.guard);
        loaded = sliceDatas.slices.size();
        account = sliceDatas.account;
        shape = sliceDatas.shape;
    }
    ui->nameList_->setToolTip(accountText(loaded, account, shape));
}

QString SlicesCtrl::skippedText(const SliceDatas::Account &account)
{
    QStringList skipped;
    if (account.flat > 0)
        skipped.append(tr("%1 flat").arg(account.flat));
    if (account.notSlices > 0)
        skipped.append(tr("%1 not slice files").arg(account.notSlices));
    if (account.unsupported > 0) {
        // The forms are the readers' own words, as on standard error.
        QStringList forms;
        for (const auto &[form, count] : account.unsupportedForms)
            forms.append(account.unsupportedForms.size() > 1 ? QStringLiteral("%1 x %2")
                                                                       .arg(count)
                                                                       .arg(form)
                                                             : form);
        skipped.append(tr("%1 unsupported (%2)")
                               .arg(account.unsupported)
                               .arg(forms.join(QLatin1String("; "))));
    }
    if (account.damaged > 0)
        skipped.append(tr("%1 damaged or unreadable").arg(account.damaged));
    if (account.otherSize > 0)
        skipped.append(tr("%1 of another size").arg(account.otherSize));
    if (account.overBudget > 0)
        skipped.append(tr("%1 beyond the memory budget").arg(account.overBudget));
    return skipped.join(QLatin1String(", "));
}

QString SlicesCtrl::accountText(qsizetype loaded, const SliceDatas::Account &account,
                                const CellShape &shape)
{
    // Where some file held a stack, slices and files no longer match one to one.
    QString text = account.stacks ? tr("%1 slices from %2 of %3 files loaded")
                                            .arg(loaded)
                                            .arg(account.filesLoaded)
                                            .arg(account.selected)
                                  : tr("%1 of %2 files loaded").arg(loaded).arg(account.selected);
    const QString skipped = skippedText(account);
    if (!skipped.isEmpty())
        text += QLatin1String("; ") + skipped;
    if (shape.measured()) {
        const auto mm = [](double v) { return QString::number(v, 'f', 2); };
        // A single slice has no distance to the next.
        text += u'\n'
                + (shape.sliceMm > 0
                           ? tr("%1 x %2 x %3 mm")
                                     .arg(mm(shape.columnMm), mm(shape.rowMm), mm(shape.sliceMm))
                           : tr("%1 x %2 mm").arg(mm(shape.columnMm), mm(shape.rowMm)));
    }
    return text;
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
