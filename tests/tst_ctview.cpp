#include <QtTest>

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QImageReader>
#include <QLabel>
#include <QGridLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSlider>
#include <QTemporaryDir>

#include <cfloat>
#include <cmath>
#include <numbers>

#include "panel/colourscale.h"
#include "panel/slicesctrl.h"
#include "view/ctview.h"
#include "view/projection.h"
#include "view/setgeometry.h"
#include "view/viewgeometry.h"
#include "widgets/dispa.h"

Q_DECLARE_METATYPE(SamplingChoice)
Q_DECLARE_METATYPE(Sampling)

// The main window driven as a user would, built both ways.
class tst_CtView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void startState();
    void panelsAreNumberedAndColoured();
    void newPanelFacesTheViewer();
    void pressStartsDrag_data();
    void pressStartsDrag();
    void rightPanByAQuarter();
    void panBeforeFirstRendering();
    void wheel_data();
    void wheel();
    void wheelFarBothWays();
    void freeRotationWithoutDisplacement();
    void updateNvsQuarterTurn();
    void bandRotationRolls();
    void onePixelDisplay();
#ifndef CTSLAB_LITE
    void linkedSections();
    void unlinkedSections();
#endif
    void unusableSizeLeavesDisplayWhite_data();
    void unusableSizeLeavesDisplayWhite();
    void endToEnd();
    void pictureSavedAndCopied();
    void saveFailureSaysWhy_data();
    void saveFailureSaysWhy();
    void closingSaysFinishing();
    void badSelectionKeepsTheLoadedSets_data();
    void badSelectionKeepsTheLoadedSets();
    void wideImageRenders();
    void destroyedWithAnUnfinishedEdit();
    void samplingReachesTheRenderer_data();
    void samplingReachesTheRenderer();
    void homeAndFit_data();
    void homeAndFit();
    void noticeOfLoads();
    void valueUnderARestingPointer();
    void displayMenuOnlyOnAStillClick_data();
    void displayMenuOnlyOnAStillClick();
    void aspectKept_data();
    void aspectKept();
    void sizeFollowsDisplay();
    void focusedSliderKeepsHome();

private:
    struct Window
    {
        CtView view;
        DispA *display = nullptr;
        Window()
        {
            display = view.findChild<DispA *>("dispA_");
            display->setFixedSize(257, 257);
            view.show();
        }
    };
    static void mouse(QWidget *w, QEvent::Type type, QPoint at, Qt::MouseButton button,
                      Qt::KeyboardModifiers mods = Qt::NoModifier);
    static void render(CtView &view) { QMetaObject::invokeMethod(&view, "paintPImg"); }
    static QStringList writeSlices(const QString &dir, int count, int size);
    static void load(SlicesCtrl *panel, const QStringList &names);
    static SetSnapshot snapshotOf(SlicesCtrl *panel);
    QTemporaryDir dir;
};

void tst_CtView::initTestCase()
{
    qRegisterMetaType<Vec3>("Vec3");
    QVERIFY(dir.isValid());
}

void tst_CtView::mouse(QWidget *w, QEvent::Type type, QPoint at, Qt::MouseButton button,
                       Qt::KeyboardModifiers mods)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent event(type, QPointF(at), w->mapToGlobal(QPointF(at)),
                      type == QEvent::MouseMove ? Qt::NoButton : button, held, mods);
    QCoreApplication::sendEvent(w, &event);
}

QStringList tst_CtView::writeSlices(const QString &dir, int count, int size)
{
    QStringList names;
    for (int k = 0; k < count; ++k) {
        QImage image(size, size, QImage::Format_Grayscale8);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                image.scanLine(y)[x] = uchar((x * 7 + y * 3 + k * 29) % 256);
        const QString name = dir + QStringLiteral("/v%1_%2.png").arg(size).arg(k);
        image.save(name);
        names << name;
    }
    return names;
}

void tst_CtView::load(SlicesCtrl *panel, const QStringList &names)
{
    QMetaObject::invokeMethod(panel, "selectFiles");
    QSignalSpy done(panel, &SlicesCtrl::paintPImg);
    emit panel->fileDialog->filesSelected(names);
    QVERIFY(done.wait());
    // The window hears of the load's end after the panel: its progress line
    // goes with the next events.
    QCoreApplication::processEvents();
    panel->fileDialog->close();
}

// What the window should draw of a panel's set, taken apart from it.
SetSnapshot tst_CtView::snapshotOf(SlicesCtrl *panel)
{
    SetSnapshot set;
    for (const Slice *slice : panel->sliceDatas.slices)
        set.slices.append(slice);
    set.sw = panel->sliceDatas.width;
    set.sh = panel->sliceDatas.height;
    set.showFrame = panel->showFrame()->isChecked();
    set.showSection = panel->showCSection()->isChecked();
    set.slider = panel->cSlider()->value();
    set.nz = panel->nz;
    set.vColor = panel->vColor;
    set.sColor = panel->sColor;
    const ColourWindow window =
            colourWindow(panel->minV(), panel->maxV(), panel->minThPC(), panel->maxThPC());
    set.windowLow = window.low;
    set.windowHigh = window.high;
    set.shape = panel->sliceDatas.shape;
    return set;
}

void tst_CtView::startState()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.view));
    QCOMPARE(w.view.sCtrls.size(), 1);
    SlicesCtrl *first = w.view.sCtrls.first();
    QCOMPARE(first->findChild<QCheckBox *>("showB2_")->text(), QStringLiteral("Show Setup 1"));
    QCOMPARE(first->vColor, QColor(0, 127, 127));
    QCOMPARE(first->sColor, QColor(127, 0, 0));
    QCOMPARE(w.view.findChild<QLineEdit *>("imgPixWidth_")->text(), QStringLiteral("256"));
    QCOMPARE(w.view.findChild<QLineEdit *>("imgPixHeight_")->text(), QStringLiteral("256"));
#ifndef CTSLAB_LITE
    QVERIFY(w.view.findChild<QCheckBox *>("linkCSection_")->isChecked());
#else
    QVERIFY(!w.view.findChild<QCheckBox *>("linkCSection_"));
#endif
    QVERIFY(w.view.projImage.isNull());
    QCOMPARE(w.view.dragMode, int(CtView::DragNone));
    QCOMPARE(w.view.zoom, 1.0);
    const QImage shown = w.display->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.pixel(128, 128), qRgb(255, 255, 255));
}

void tst_CtView::panelsAreNumberedAndColoured()
{
    CtView view(dir.path());
    for (int i = 0; i < 3; ++i)
        view.addSliceSet();
    QCOMPARE(view.sCtrls.size(), 4);
    const QColor volume[] = { { 0, 127, 127 }, { 127, 0, 127 }, { 127, 127, 0 }, { 0, 127, 127 } };
    const QColor section[] = { { 127, 0, 0 }, { 0, 127, 0 }, { 0, 0, 127 }, { 127, 0, 0 } };
    auto *layout = view.findChild<QGridLayout *>("slicesCtrlsLayout_");
    for (int n = 0; n < 4; ++n) {
        SlicesCtrl *panel = view.sCtrls[n];
        QCOMPARE(panel->vColor, volume[n]);
        QCOMPARE(panel->sColor, section[n]);
        QCOMPARE(panel->findChild<QCheckBox *>("showB_")->text(),
                 QStringLiteral("Show Setup %1").arg(n + 1));
        QCOMPARE(panel->lastDir, dir.path());
        QCOMPARE(layout->itemAtPosition(n, 0)->widget(), panel);
    }
}

void tst_CtView::newPanelFacesTheViewer()
{
    CtView view;
    QCOMPARE(view.sCtrls[0]->nz.z, 1.0);
    QMetaObject::invokeMethod(&view, "updateNvs", Q_ARG(Vec3, (Vec3{ 1, 0, 0 })),
                              Q_ARG(double, 0.3));
    view.addSliceSet();
    QCOMPARE(view.sCtrls[1]->nz.y, view.nz.y);
    QCOMPARE(view.sCtrls[1]->nz.z, view.nz.z);
}

void tst_CtView::pressStartsDrag_data()
{
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("kind");

    const int left = Qt::LeftButton;
    // 257 pixels: column x is u = x / 256, row y is v = (256 - y) / 256.
    QTest::newRow("centre: free") << QPoint(128, 128) << left << 0 << 0 << 0;
    QTest::newRow("v 0.9 and u 0.95: top band wins") << QPoint(244, 25) << left << 0 << 0 << 3;
    QTest::newRow("bottom band") << QPoint(128, 230) << left << 0 << 0 << 4;
    QTest::newRow("right band") << QPoint(244, 128) << left << 0 << 0 << 2;
    QTest::newRow("left band") << QPoint(20, 128) << left << 0 << 0 << 1;
    QTest::newRow("v just below 0.85 is no band") << QPoint(128, 39) << left << 0 << 0 << 0;
    QTest::newRow("right button pans") << QPoint(128, 128) << int(Qt::RightButton) << 0 << 1 << 0;
    QTest::newRow("shift and left pans")
            << QPoint(128, 128) << left << int(Qt::ShiftModifier) << 1 << 0;
    QTest::newRow("control and left: none")
            << QPoint(128, 128) << left << int(Qt::ControlModifier) << 2 << 0;
    QTest::newRow("shift+control and left: none")
            << QPoint(128, 128) << left << int(Qt::ShiftModifier | Qt::ControlModifier) << 2 << 0;
    QTest::newRow("control and right: none")
            << QPoint(128, 128) << int(Qt::RightButton) << int(Qt::ControlModifier) << 2 << 0;
    QTest::newRow("middle: none") << QPoint(128, 128) << int(Qt::MiddleButton) << 0 << 2 << 0;
    QTest::newRow("keypad does not count")
            << QPoint(128, 128) << left << int(Qt::KeypadModifier) << 0 << 0;
}

void tst_CtView::pressStartsDrag()
{
    QFETCH(QPoint, at);
    QFETCH(int, button);
    QFETCH(int, modifiers);
    QFETCH(int, mode);
    QFETCH(int, kind);
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.view));
    w.display->repaint();
    mouse(w.display, QEvent::MouseButtonPress, at, Qt::MouseButton(button),
          Qt::KeyboardModifiers(modifiers));
    QCOMPARE(w.view.dragMode, mode);
    if (mode == CtView::DragRotate)
        QCOMPARE(w.view.rotateKind, kind);
    QCOMPARE(w.view.lastU, at.x() / 256.0);

    // Without a drag, a move changes nothing but the last position.
    if (mode == CtView::DragNone) {
        const Vec3 nx = w.view.nx;
        mouse(w.display, QEvent::MouseMove, at + QPoint(30, 30), Qt::NoButton,
              Qt::KeyboardModifiers(modifiers));
        QCOMPARE(w.view.nx.x, nx.x);
        QCOMPARE(w.view.centre.x, 0.0);
        QCOMPARE(w.view.lastU, (at.x() + 30) / 256.0);
    }
    mouse(w.display, QEvent::MouseButtonRelease, at, Qt::MouseButton(button));
    QCOMPARE(w.view.dragMode, int(CtView::DragNone));
}

void tst_CtView::rightPanByAQuarter()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.view));
    w.display->repaint();
    render(w.view);
    QCOMPARE(w.view.projImage.width(), 256);
    mouse(w.display, QEvent::MouseButtonPress, { 100, 128 }, Qt::RightButton);
    mouse(w.display, QEvent::MouseMove, { 164, 128 }, Qt::RightButton);
    QCOMPARE(w.view.centre.x, -64.0);
    QCOMPARE(w.view.centre.y, 0.0);
    // Up by a quarter: rows grow downward, so the centre moves by +64 in y.
    mouse(w.display, QEvent::MouseMove, { 164, 64 }, Qt::RightButton);
    QCOMPARE(w.view.centre.y, 64.0);
}

void tst_CtView::panBeforeFirstRendering()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.view));
    w.display->repaint();
    // Panning itself renders: the first step still sees no image.
    mouse(w.display, QEvent::MouseButtonPress, { 100, 128 }, Qt::RightButton);
    mouse(w.display, QEvent::MouseMove, { 164, 128 }, Qt::RightButton);
    QCOMPARE(w.view.centre.x, 0.0);
}

void tst_CtView::wheel_data()
{
    QTest::addColumn<int>("delta");
    QTest::addColumn<double>("zoom");
    QTest::newRow("step 0: no zoom, still renders") << 60 << 1.0;
    QTest::newRow("step 1") << 120 << 0.9;
    QTest::newRow("step 3 zooms alike") << 360 << 0.9;
    QTest::newRow("step -1") << -120 << 1 / 0.9;
}

void tst_CtView::wheel()
{
    QFETCH(int, delta);
    QFETCH(double, zoom);
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.view));
    QVERIFY(w.view.projImage.isNull());
    const QPointF at(128, 128);
    QWheelEvent event(at, w.display->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(w.display, &event);
    QCOMPARE(w.view.zoom, zoom);
    QVERIFY(!w.view.projImage.isNull());
}

void tst_CtView::wheelFarBothWays()
{
    CtView view;
    view.findChild<QLineEdit *>("imgPixWidth_")->setText("16");
    view.findChild<QLineEdit *>("imgPixHeight_")->setText("16");
    for (int i = 0; i < 20000; ++i)
        QMetaObject::invokeMethod(&view, "wheelMovedOnDataDisp", Q_ARG(int, 1));
    QVERIFY(view.zoom > 0);
    const double least = view.zoom;
    QMetaObject::invokeMethod(&view, "wheelMovedOnDataDisp", Q_ARG(int, -1));
    QVERIFY(view.zoom > least);
    for (int i = 0; i < 40000; ++i)
        QMetaObject::invokeMethod(&view, "wheelMovedOnDataDisp", Q_ARG(int, -1));
    QVERIFY(std::isfinite(view.zoom));
    const double most = view.zoom;
    QMetaObject::invokeMethod(&view, "wheelMovedOnDataDisp", Q_ARG(int, 1));
    QVERIFY(view.zoom < most);
}

void tst_CtView::freeRotationWithoutDisplacement()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.view));
    w.display->repaint();
    QSignalSpy nz(&w.view, &CtView::newNz);
    mouse(w.display, QEvent::MouseButtonPress, { 128, 128 }, Qt::LeftButton);
    mouse(w.display, QEvent::MouseMove, { 128, 128 }, Qt::LeftButton);
    QCOMPARE(nz.count(), 1);
    QCOMPARE(w.view.nx.x, 1.0);
    QCOMPARE(w.view.ny.y, 1.0);
    QCOMPARE(w.view.nz.z, 1.0);
    QVERIFY(!std::isnan(w.view.nz.x));
    QVERIFY(!w.view.projImage.isNull());
}

void tst_CtView::updateNvsQuarterTurn()
{
    CtView view;
    QSignalSpy nz(&view, &CtView::newNz);
    QMetaObject::invokeMethod(&view, "updateNvs", Q_ARG(Vec3, (Vec3{ 0, 0, 1 })),
                              Q_ARG(double, std::numbers::pi / 2));
    QVERIFY(std::abs(view.nx.x) < 1e-15);
    QCOMPARE(view.nx.y, -1.0);
    QCOMPARE(view.ny.x, 1.0);
    QCOMPARE(view.nz.z, 1.0);
    QCOMPARE(nz.count(), 1);
    QVERIFY(!view.projImage.isNull());
}

void tst_CtView::bandRotationRolls()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.view));
    w.display->repaint();
    // Top band: a drag right by half the width rolls by half a turn.
    mouse(w.display, QEvent::MouseButtonPress, { 64, 10 }, Qt::LeftButton);
    mouse(w.display, QEvent::MouseMove, { 192, 10 }, Qt::LeftButton);
    QVERIFY(std::abs(w.view.nx.x + 1.0) < 1e-12 || std::abs(w.view.nx.x) < 1e-12);
    QCOMPARE(w.view.nz.z, 1.0);
    QVERIFY(std::abs(w.view.nx.x * w.view.nx.x + w.view.nx.y * w.view.nx.y - 1) < 1e-12);
}

void tst_CtView::onePixelDisplay()
{
    Window w;
    w.display->setFixedSize(1, 1);
    QVERIFY(QTest::qWaitForWindowExposed(&w.view));
    w.display->repaint();
    render(w.view);
    mouse(w.display, QEvent::MouseButtonPress, { 0, 0 }, Qt::RightButton);
    mouse(w.display, QEvent::MouseMove, { 0, 0 }, Qt::RightButton);
    mouse(w.display, QEvent::MouseButtonPress, { 0, 0 }, Qt::LeftButton);
    mouse(w.display, QEvent::MouseMove, { 0, 0 }, Qt::LeftButton);
    QVERIFY(std::isfinite(w.view.centre.x) && std::isfinite(w.view.centre.y));
    QVERIFY(std::isfinite(w.view.nx.x) && std::isfinite(w.view.nz.z));
}

#ifndef CTSLAB_LITE
void tst_CtView::linkedSections()
{
    CtView view;
    view.addSliceSet();
    view.addSliceSet();
    view.sCtrls[1]->cSlider()->setValue(40);
    for (SlicesCtrl *panel : view.sCtrls)
        QCOMPARE(panel->cSlider()->value(), 40);
    view.sCtrls[2]->csFixDir()->setChecked(true);
    for (SlicesCtrl *panel : view.sCtrls)
        QVERIFY(panel->csFixDir()->isChecked());
    QVERIFY(!view.projImage.isNull());
}

void tst_CtView::unlinkedSections()
{
    CtView view;
    view.addSliceSet();
    view.addSliceSet();
    view.findChild<QCheckBox *>("linkCSection_")->setChecked(false);
    view.sCtrls[1]->cSlider()->setValue(40);
    QCOMPARE(view.sCtrls[0]->cSlider()->value(), 0);
    QCOMPARE(view.sCtrls[2]->cSlider()->value(), 0);
    QVERIFY(!view.projImage.isNull());

    // Linking again aligns nothing until the next change.
    view.findChild<QCheckBox *>("linkCSection_")->setChecked(true);
    QCOMPARE(view.sCtrls[0]->cSlider()->value(), 0);
    view.sCtrls[0]->cSlider()->setValue(-10);
    for (SlicesCtrl *panel : view.sCtrls)
        QCOMPARE(panel->cSlider()->value(), -10);
}
#endif

void tst_CtView::unusableSizeLeavesDisplayWhite_data()
{
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("height");
    QTest::newRow("letters") << "abc" << "256";
    QTest::newRow("negative") << "-5" << "256";
    QTest::newRow("zero height") << "256" << "0";
    QTest::newRow("beyond int") << "99999999999" << "256";
    QTest::newRow("too large to allocate") << "2147483647" << "2147483647";
    QTest::newRow("beyond a gibibyte") << "16385" << "16385";
}

void tst_CtView::unusableSizeLeavesDisplayWhite()
{
    QFETCH(QString, width);
    QFETCH(QString, height);
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.view));
    load(w.view.sCtrls[0], writeSlices(dir.path(), 4, 32));
    QVERIFY(!w.view.projImage.isNull());
    w.view.findChild<QLineEdit *>("imgPixWidth_")->setText(width);
    w.view.findChild<QLineEdit *>("imgPixHeight_")->setText(height);
    render(w.view);
    QVERIFY(w.view.projImage.isNull());
    const QImage shown = w.display->grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < shown.height(); y += 16)
        for (int x = 0; x < shown.width(); x += 16)
            QCOMPARE(shown.pixel(x, y), qRgb(255, 255, 255));
}

void tst_CtView::endToEnd()
{
    Window w;
    w.display->setFixedSize(200, 160);
    QVERIFY(QTest::qWaitForWindowExposed(&w.view));
    w.view.findChild<QLineEdit *>("imgPixWidth_")->setText("200");
    w.view.findChild<QLineEdit *>("imgPixHeight_")->setText("160");
    w.view.addSliceSet();
    load(w.view.sCtrls[0], writeSlices(dir.path(), 12, 40));
    load(w.view.sCtrls[1], writeSlices(dir.path(), 6, 24));
    w.view.sCtrls[1]->showCSection()->setChecked(true);
    w.view.sCtrls[1]->cSlider()->setValue(-20);

    // A drag that turns the view, then a wheel step.
    w.display->repaint();
    mouse(w.display, QEvent::MouseButtonPress, { 100, 80 }, Qt::LeftButton);
    mouse(w.display, QEvent::MouseMove, { 130, 95 }, Qt::LeftButton);
    mouse(w.display, QEvent::MouseButtonRelease, { 130, 95 }, Qt::LeftButton);
    QMetaObject::invokeMethod(&w.view, "wheelMovedOnDataDisp", Q_ARG(int, 1));

    QList<SetSnapshot> sets;
    for (SlicesCtrl *panel : w.view.sCtrls)
        sets.append(snapshotOf(panel));
    QImage expected(200, 160, QImage::Format_ARGB32);
    renderScene(expected, w.view.viewState(), sets);

    const QImage shown = w.display->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), expected.size());
    QCOMPARE(shown, expected.convertToFormat(QImage::Format_RGB32));
#ifdef CTSLAB_LITE
    bool red = false;
    for (int y = 0; y < shown.height() && !red; ++y)
        for (int x = 0; x < shown.width() && !red; ++x)
            red = shown.pixel(x, y) == qRgb(255, 0, 0);
    QVERIFY(red);
#endif
}

void tst_CtView::closingSaysFinishing()
{
    CtView view;
    view.show();
    QSignalSpy finishing(&view, &CtView::finishing);
    view.close();
    QCOMPARE(finishing.count(), 1);
}

// Ctrl+S and Ctrl+C take the projection image at its own size, not the
// stretched display; in a line edit Ctrl+C still copies its text.
void tst_CtView::pictureSavedAndCopied()
{
    Window w;
    w.view.findChild<QLineEdit *>("imgPixWidth_")->setText("40");
    w.view.findChild<QLineEdit *>("imgPixHeight_")->setText("30");
    load(w.view.sCtrls.first(), writeSlices(dir.path(), 3, 16));
    // A field losing the focus to the file dialog repaints before the load is in.
    QTRY_VERIFY(w.view.sCtrls.first()->maxV() > 0);
    w.view.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.view));
    const QImage shown = w.view.projImage.convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), QSize(40, 30));

    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    QTest::keyClick(&w.view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->image().convertToFormat(QImage::Format_RGB32), shown);

    QTest::keyClick(&w.view, Qt::Key_S, Qt::ControlModifier);
    auto *dialog = w.view.findChild<QFileDialog *>();
    QVERIFY(dialog && dialog->isVisible());
    // What was shown when the user asked is what gets saved.
    QMetaObject::invokeMethod(&w.view, "wheelMovedOnDataDisp", Q_ARG(int, 1));
    QVERIFY(w.view.projImage.convertToFormat(QImage::Format_RGB32) != shown);
    const QString name = dir.filePath("saved.bmp");
    dialog->selectFile(name);
    static_cast<QDialog *>(dialog)->accept();
    QImageReader reader(name);
    QCOMPARE(reader.format(), QByteArray("bmp"));
    QCOMPARE(reader.read().convertToFormat(QImage::Format_RGB32), shown);

    auto *field = w.view.sCtrls.first()->findChild<QLineEdit *>("minThPC_");
    field->setFocus();
    field->selectAll();
    QTest::keyClick(field, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), field->text());
}

void tst_CtView::saveFailureSaysWhy_data()
{
    QTest::addColumn<QString>("size");  // of the image; letters make none
    QTest::addColumn<QString>("name");  // in the test's folder; empty: no dialog
    QTest::addColumn<QString>("reason");

    QTest::newRow("a format Qt cannot write") << "16" << "x.nope" << "kind \"nope\"";
    QTest::newRow("a folder that is not there") << "16" << "no/such/x.png" << "no/such/x.png";
    QTest::newRow("no picture to save") << "abc" << "" << "There is no picture yet";
}

// A save that cannot be done says why in the window, and writes nothing.
void tst_CtView::saveFailureSaysWhy()
{
    QFETCH(QString, size);
    QFETCH(QString, name);
    QFETCH(QString, reason);

    Window w;
    w.view.findChild<QLineEdit *>("imgPixWidth_")->setText(size);
    render(w.view);
    w.view.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.view));
    QTest::keyClick(&w.view, Qt::Key_S, Qt::ControlModifier);
    auto *dialog = w.view.findChild<QFileDialog *>();
    QCOMPARE(dialog != nullptr, !name.isEmpty());
    if (dialog) {
        dialog->selectFile(dir.filePath(name));
        static_cast<QDialog *>(dialog)->accept();
        QVERIFY(!QFileInfo::exists(dir.filePath(name)));
    }
    auto *box = w.view.findChild<QMessageBox *>("pictureFailure");
    QVERIFY(box && box->isVisible());
    QVERIFY2(box->text().contains(reason), qPrintable(box->text()));
}

// What a user can pick in the file dialog, or make of a file between picking
// and loading: the other sets stay, and so does the window.
void tst_CtView::badSelectionKeepsTheLoadedSets_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("accepted");
    QTest::newRow("empty name") << QStringList{ "" } << 0;
    QTest::newRow("a folder") << QStringList{ "folder" } << 0;
    QTest::newRow("a name that vanished after the choice") << QStringList{ "vanished.png" } << 0;
    QTest::newRow("a link to nothing") << QStringList{ "dangling.png" } << 0;
    QTest::newRow("no read permission") << QStringList{ "locked.png" } << -1;
    QTest::newRow("0-byte PNG") << QStringList{ "empty.png" } << 0;
    QTest::newRow("truncated PNG") << QStringList{ "truncated.png" } << 0;
    QTest::newRow("picture of 1 x 1: flat") << QStringList{ "dot.png" } << 0;
    QTest::newRow("pictures of 30000 x 1") << QStringList{ "wide1.png", "wide2.png" } << 2;
    QTest::newRow("all that fail, then a good file")
        << QStringList{ "", "folder", "vanished.png", "dangling.png", "empty.png",
                        "truncated.png", "good.png" }
        << 1;
}

void tst_CtView::badSelectionKeepsTheLoadedSets()
{
    QFETCH(QStringList, names);
    QFETCH(int, accepted);

    QTemporaryDir files;
    QVERIFY(files.isValid());
    const QDir in(files.path());
    QVERIFY(in.mkdir("folder"));
    QVERIFY(QFile::link(in.filePath("nowhere.png"), in.filePath("dangling.png")));
    QImage good(40, 30, QImage::Format_Grayscale8);
    for (int y = 0; y < good.height(); ++y)
        for (int x = 0; x < good.width(); ++x)
            good.scanLine(y)[x] = uchar(x + y);
    QVERIFY(good.save(in.filePath("good.png")));
    QVERIFY(good.save(in.filePath("locked.png")));
    QVERIFY(QFile::setPermissions(in.filePath("locked.png"), QFileDevice::Permissions()));
    QFile png(in.filePath("good.png"));
    QVERIFY(png.open(QIODevice::ReadOnly));
    const QByteArray bytes = png.readAll();
    QFile truncated(in.filePath("truncated.png"));
    QVERIFY(truncated.open(QIODevice::WriteOnly));
    truncated.write(bytes.left(bytes.size() / 2));
    truncated.close();
    QFile empty(in.filePath("empty.png"));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    QImage dot(1, 1, QImage::Format_Grayscale8);
    dot.fill(9);
    QVERIFY(dot.save(in.filePath("dot.png")));
    for (int k = 1; k <= 2; ++k) {
        QImage wide(30000, 1, QImage::Format_Grayscale8);
        for (int x = 0; x < wide.width(); ++x)
            wide.scanLine(0)[x] = uchar((x * k) % 251);
        QVERIFY(wide.save(in.filePath(QStringLiteral("wide%1.png").arg(k))));
    }
    // Root reads a file without permissions all the same.
    if (accepted < 0)
        accepted = QFile(in.filePath("locked.png")).open(QIODevice::ReadOnly) ? 1 : 0;

    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.view));
    load(w.view.sCtrls[0], writeSlices(dir.path(), 4, 32));
    w.view.addSliceSet();
    QStringList paths;
    for (const QString &name : names)
        paths << (name.isEmpty() ? name : in.filePath(name));
    // The name is gone between the choice and the load.
    QVERIFY(!QFile::exists(in.filePath("vanished.png")));
    load(w.view.sCtrls[1], paths);

    QCOMPARE(w.view.sCtrls[0]->sliceDatas.slices.size(), 4);
    QCOMPARE(w.view.sCtrls[1]->sliceDatas.slices.size(), accepted);
    QCOMPARE(w.view.sCtrls[1]->findChild<QComboBox *>("nameList_")->count(), accepted);
    render(w.view);
    QCOMPARE(w.view.projImage.size(), QSize(256, 256));
    // The first set still shows: the display is not all white.
    const QImage shown = w.display->grab().toImage().convertToFormat(QImage::Format_RGB32);
    bool drawn = false;
    for (int y = 0; y < shown.height() && !drawn; ++y)
        for (int x = 0; x < shown.width() && !drawn; ++x)
            drawn = shown.pixel(x, y) != qRgb(255, 255, 255);
    QVERIFY(drawn);
}

void tst_CtView::wideImageRenders()
{
    // A picture size a user may well type: wide, yet small enough to make.
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.view));
    load(w.view.sCtrls[0], writeSlices(dir.path(), 4, 32));
    w.view.findChild<QLineEdit *>("imgPixWidth_")->setText("100000");
    w.view.findChild<QLineEdit *>("imgPixHeight_")->setText("16");
    render(w.view);
    QCOMPARE(w.view.projImage.size(), QSize(100000, 16));
    w.display->repaint();
    QCOMPARE(w.view.sCtrls[0]->sliceDatas.slices.size(), 4);
}

void tst_CtView::destroyedWithAnUnfinishedEdit()
{
    // The field finishes its edit while the window and its panels go.
    auto *view = new CtView;
    view->show();
    view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(view));
    auto *field = view->sCtrls.first()->findChild<QLineEdit *>("maxThPC_");
    field->setFocus();
    QTRY_VERIFY(field->hasFocus());
    QTest::keyClicks(field, "5");
    int late = 0;
    connect(view->sCtrls.first(), &SlicesCtrl::paintPImg, view, [&late] { ++late; });
    delete view;
    QCOMPARE(late, 0);
}

void tst_CtView::samplingReachesTheRenderer_data()
{
    QTest::addColumn<bool>("dicom");
    QTest::addColumn<bool>("spaced"); // by hand, 0.5 x 0.5 x 2 mm
    QTest::addColumn<SamplingChoice>("choice");
    QTest::addColumn<Sampling>("sampling");
    QTest::newRow("pictures spaced by hand, automatic: planes")
            << false << true << SamplingChoice::Automatic << Sampling::Planes;
    QTest::newRow("pictures, cells") << false << false << SamplingChoice::Cells << Sampling::Cells;
    QTest::newRow("DICOM series, automatic: cells")
            << true << false << SamplingChoice::Automatic << Sampling::Cells;
    QTest::newRow("DICOM series, slice planes")
            << true << false << SamplingChoice::Planes << Sampling::Planes;
}

// The window draws the set with the shape its files give and the sampling
// its panel resolves to, and not with the other sampling.
void tst_CtView::samplingReachesTheRenderer()
{
    QFETCH(bool, dicom);
    QFETCH(bool, spaced);
    QFETCH(SamplingChoice, choice);
    QFETCH(Sampling, sampling);

    Window w;
    SlicesCtrl *panel = w.view.sCtrls[0];
    QStringList names;
    for (const char *name : { "2062", "2392", "2693", "3023", "3353" })
        names.append(QStringLiteral(CTSLAB_TEST_DATA "/dicom/ct5n/") + name);
    load(panel, dicom ? names : writeSlices(dir.path(), 6, 24));
    panel->showFrame()->setChecked(false);
    QVERIFY(!spaced || panel->sliceDatas.setSpacing(0.5, 0.5, 2));
    panel->sampling = choice;
    w.view.nx = { 0.8, 0, -0.6 };
    w.view.ny = { 0, 1, 0 };
    w.view.nz = { 0.6, 0, 0.8 };
    w.view.zoom = 4;
    render(w.view);

    SetSnapshot set = snapshotOf(panel);
    QCOMPARE(set.shape.measured(), dicom || spaced);
    QImage expected(w.view.projImage.size(), QImage::Format_ARGB32);
    set.sampling = sampling;
    renderScene(expected, w.view.viewState(), { set });
    QCOMPARE(w.view.projImage, expected);
    set.sampling = sampling == Sampling::Cells ? Sampling::Planes : Sampling::Cells;
    renderScene(expected, w.view.viewState(), { set });
    QVERIFY(w.view.projImage != expected);
}

// F puts every loaded box inside the image, filling it, whatever the view
// was; Home then gives the first view back and turns the sections with it.
void tst_CtView::homeAndFit_data()
{
    QTest::addColumn<int>("imageWidth");
    QTest::addColumn<int>("imageHeight");
    QTest::addColumn<double>("turn");
    QTest::addColumn<int>("wheel");
    QTest::addColumn<Vec3>("centre");
    QTest::newRow("first view, odd square") << 257 << 257 << 0.0 << 0 << Vec3{ 0, 0, 0 };
    QTest::newRow("turned, zoomed in, wide") << 300 << 101 << 0.7 << -25 << Vec3{ 0, 0, 0 };
    QTest::newRow("turned, zoomed out, tall, far off") << 64 << 200 << 2.2 << 30
                                                      << Vec3{ 500, -300, 80 };
}

void tst_CtView::homeAndFit()
{
    QFETCH(int, imageWidth);
    QFETCH(int, imageHeight);
    QFETCH(double, turn);
    QFETCH(int, wheel);
    QFETCH(Vec3, centre);
    Window w;
    w.view.findChild<QLineEdit *>("imgPixWidth_")->setText(QString::number(imageWidth));
    w.view.findChild<QLineEdit *>("imgPixHeight_")->setText(QString::number(imageHeight));
    load(w.view.sCtrls.first(), writeSlices(dir.path(), 5, 24));
    w.view.addSliceSet();
    load(w.view.sCtrls.last(), writeSlices(dir.path(), 2, 40));
    const double g = std::sqrt(3.0);
    const Vec3 axis{ 1 / g, 1 / g, 1 / g };
    QMetaObject::invokeMethod(&w.view, "updateNvs", Q_ARG(Vec3, axis), Q_ARG(double, turn));
    for (int k = 0; k < std::abs(wheel); ++k)
        QMetaObject::invokeMethod(&w.view, "wheelMovedOnDataDisp", Q_ARG(int, wheel > 0 ? 1 : -1));
    w.view.centre = centre;

    w.view.fitView();
    double spanX = 0;
    double spanY = 0;
    for (SlicesCtrl *panel : std::as_const(w.view.sCtrls)) {
        const SetGeometry box(snapshotOf(panel));
        QPointF low(DBL_MAX, DBL_MAX);
        QPointF high(-DBL_MAX, -DBL_MAX);
        for (int c = 0; c < 8; ++c) {
            const Vec3 corner{ (c & 1) ? box.halfX() : -box.halfX(),
                               (c & 2) ? box.halfY() : -box.halfY(),
                               (c & 4) ? box.halfZ() : -box.halfZ() };
            const QPointF p =
                    projectedPosition(w.view.viewState(), imageWidth, imageHeight, corner);
            QVERIFY2(p.x() >= 0 && p.x() <= imageWidth && p.y() >= 0 && p.y() <= imageHeight,
                     qPrintable(QStringLiteral("%1, %2").arg(p.x()).arg(p.y())));
            low = QPointF(std::min(low.x(), p.x()), std::min(low.y(), p.y()));
            high = QPointF(std::max(high.x(), p.x()), std::max(high.y(), p.y()));
        }
        spanX = std::max(spanX, high.x() - low.x());
        spanY = std::max(spanY, high.y() - low.y());
    }
    // Filled along one side at least, not merely shrunk into the image.
    QVERIFY(spanX > imageWidth * 0.9 || spanY > imageHeight * 0.9);

    QSignalSpy turned(&w.view, &CtView::newNz);
    w.view.homeView();
    const ViewState first;
    QCOMPARE(w.view.zoom, first.zoom);
    for (const auto &[now, then] : { std::pair{ w.view.nx, first.nx }, { w.view.ny, first.ny },
                                     { w.view.nz, first.nz }, { w.view.centre, first.centre } }) {
        QCOMPARE(now.x, then.x);
        QCOMPARE(now.y, then.y);
        QCOMPARE(now.z, then.z);
    }
    QCOMPARE(turned.count(), 1);
    QCOMPARE(w.view.sCtrls.first()->nz.z, 1.0);
}

// A load's progress shows over the display while it runs and goes when it
// ends; a load that takes nothing says so.
// The pointer at rest over the set names the sample that tinted the pixel
// beneath it; a drag and a pointer gone name none.
void tst_CtView::valueUnderARestingPointer()
{
    Window w;
    load(w.view.sCtrls[0], writeSlices(dir.path(), 4, 16));
    const QPoint centre(124, 126);
    mouse(w.display, QEvent::MouseMove, centre, Qt::NoButton);
    // Display pixel (124, 126) of 257 x 257 shows picture pixel (124, 126)
    // of 256 x 256: the ray of column 4 and row 6, brightest in the fourth
    // slice.
    QCOMPARE(w.display->grab().toImage().pixel(centre), w.view.projImage.pixel(124, 126));
    QCOMPARE(w.view.probeText(),
             QStringLiteral("Set 1: %1 at column 4, row 6, slice 4 (v16_3.png)")
                     .arg((4 * 7 + 6 * 3 + 3 * 29) % 256));
    QVERIFY(w.display->findChild<QLabel *>("probe")->isVisible());
    mouse(w.display, QEvent::MouseMove, QPoint(2, 2), Qt::NoButton);
    QVERIFY(w.view.probeText().isEmpty());

    mouse(w.display, QEvent::MouseMove, centre, Qt::NoButton);
    mouse(w.display, QEvent::MouseButtonPress, centre, Qt::LeftButton);
    QVERIFY(w.view.probeText().isEmpty());
    mouse(w.display, QEvent::MouseMove, centre + QPoint(3, 1), Qt::LeftButton);
    QVERIFY(w.view.probeText().isEmpty());
    mouse(w.display, QEvent::MouseButtonRelease, centre + QPoint(3, 1), Qt::LeftButton);
    QVERIFY(!w.view.probeText().isEmpty());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(w.display, &leave);
    QVERIFY(w.view.probeText().isEmpty());
}

void tst_CtView::noticeOfLoads()
{
    Window w;
    SlicesCtrl *panel = w.view.sCtrls.first();
    auto *notice = w.display->findChild<QLabel *>("notice");
    QVERIFY(notice && !notice->isVisible());
    emit panel->sliceDatas.filesRead(1, 3);
    QTRY_COMPARE(w.view.noticeText(), QStringLiteral("Set 1: 1 of 3 files read"));
    QVERIFY(notice->isVisible());

    load(panel, writeSlices(dir.path(), 3, 8));
    QTRY_VERIFY(w.view.noticeText().isEmpty());
    QVERIFY(!notice->isVisible());

    const QString notes = dir.filePath("notes.txt");
    QFile file(notes);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("notes\n");
    file.close();
    load(panel, { notes });
    QTRY_COMPARE(w.view.noticeText(), QStringLiteral("Set 1: nothing loaded; 1 not slice files"));
    QVERIFY(notice->isVisible());
}

// The display's menu opens on a right click that stays put, never after a pan.
void tst_CtView::displayMenuOnlyOnAStillClick_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<Qt::KeyboardModifiers>("mods");
    QTest::addColumn<QPoint>("releaseAt");
    QTest::addColumn<bool>("opens");
    const Qt::KeyboardModifiers none;
    QTest::newRow("still right click") << Qt::RightButton << none << QPoint(100, 128) << true;
    QTest::newRow("right drag") << Qt::RightButton << none << QPoint(120, 128) << false;
    QTest::newRow("still shift left click")
            << Qt::LeftButton << Qt::KeyboardModifiers(Qt::ShiftModifier) << QPoint(100, 128)
            << false;
    QTest::newRow("still control right click")
            << Qt::RightButton << Qt::KeyboardModifiers(Qt::ControlModifier) << QPoint(100, 128)
            << false;
}

void tst_CtView::displayMenuOnlyOnAStillClick()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(Qt::KeyboardModifiers, mods);
    QFETCH(QPoint, releaseAt);
    QFETCH(bool, opens);
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.view));
    mouse(w.display, QEvent::MouseButtonPress, { 100, 128 }, button, mods);
    if (releaseAt != QPoint(100, 128))
        mouse(w.display, QEvent::MouseMove, releaseAt, button, mods);
    mouse(w.display, QEvent::MouseButtonRelease, releaseAt, button, mods);
    auto *menu = w.view.findChild<QMenu *>("displayMenu");
    QVERIFY(menu);
    QCOMPARE(menu->isVisible(), opens);
    menu->close();
}

// With the aspect kept the picture is centred at its own shape, and a drag
// turns the view as the same drag over a display of the picture's size does.
void tst_CtView::aspectKept_data()
{
    QTest::addColumn<QSize>("display");
    QTest::addColumn<QSize>("image");
    QTest::newRow("wide image, square display") << QSize(257, 257) << QSize(256, 128);
    QTest::newRow("tall image, wide display") << QSize(300, 150) << QSize(64, 96);
}

void tst_CtView::aspectKept()
{
    QFETCH(QSize, display);
    QFETCH(QSize, image);
    Window kept;
    kept.display->setFixedSize(display);
    kept.display->background = Qt::black;
    kept.view.findChild<QLineEdit *>("imgPixWidth_")->setText(QString::number(image.width()));
    kept.view.findChild<QLineEdit *>("imgPixHeight_")->setText(QString::number(image.height()));
    load(kept.view.sCtrls.first(), writeSlices(dir.path(), 3, 16));
    kept.view.setKeepAspect(true);
    QTRY_COMPARE(kept.display->size(), display);
    const QImage shown = kept.display->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QRect r; // where the white picture lies on the black display
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            r |= shown.pixel(x, y) != qRgb(0, 0, 0) ? QRect(x, y, 1, 1) : QRect();
    QVERIFY(r.width() == display.width() || r.height() == display.height());
    QVERIFY(std::abs(r.width() * image.height() - r.height() * image.width())
            <= std::max(image.width(), image.height()));
    QVERIFY(std::abs(r.left() + r.right() + 1 - display.width()) <= 1);
    QVERIFY(std::abs(r.top() + r.bottom() + 1 - display.height()) <= 1);

    Window plain;
    plain.display->setFixedSize(r.size());
    QVERIFY(QTest::qWaitForWindowExposed(&plain.view));
    QTRY_COMPARE(plain.display->size(), r.size());
    plain.display->repaint();
    const QPoint from(r.width() / 2, r.height() / 2);
    for (auto [w, at] : { std::pair{ &kept, r.topLeft() + from }, { &plain, from } }) {
        mouse(w->display, QEvent::MouseButtonPress, at, Qt::LeftButton);
        mouse(w->display, QEvent::MouseMove, at + QPoint(30, -20), Qt::LeftButton);
    }
    QVERIFY(plain.view.nz.z < 0.99);
    QCOMPARE(kept.view.nz.x, plain.view.nz.x);
    QCOMPARE(kept.view.nz.y, plain.view.nz.y);
    QCOMPARE(kept.view.nx.y, plain.view.nx.y);
}

// Following the display, the fields show its size and a resize renders;
// no longer following, a resize renders nothing.
void tst_CtView::sizeFollowsDisplay()
{
    Window w;
    auto *width = w.view.findChild<QLineEdit *>("imgPixWidth_");
    auto *height = w.view.findChild<QLineEdit *>("imgPixHeight_");
    w.display->setFixedSize(200, 150);
    QTRY_COMPARE(w.display->size(), QSize(200, 150));
    w.view.setSizeFollowsDisplay(true);
    QCOMPARE(w.view.projImage.size(), QSize(200, 150));
    w.display->setFixedSize(120, 90);
    QTRY_COMPARE(w.view.projImage.size(), QSize(120, 90));
    QCOMPARE(width->text() + u'x' + height->text(), QStringLiteral("120x90"));

    w.view.setSizeFollowsDisplay(false);
    w.display->setFixedSize(160, 100);
    QTRY_COMPARE(w.display->size(), QSize(160, 100));
    QCoreApplication::processEvents();
    QCOMPARE(w.view.projImage.size(), QSize(120, 90));
}

// A focused section slider takes Home for itself; a click on the display
// gives it back to the view.
void tst_CtView::focusedSliderKeepsHome()
{
    Window w;
    w.view.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.view));
    QMetaObject::invokeMethod(&w.view, "wheelMovedOnDataDisp", Q_ARG(int, 1));
    QSlider *slider = w.view.sCtrls.first()->cSlider();
    slider->setValue(30);
    slider->setFocus();
    QTRY_VERIFY(slider->hasFocus());
    QTest::keyClick(slider, Qt::Key_Home);
    QCOMPARE(slider->value(), slider->minimum());
    QCOMPARE(w.view.zoom, 0.9);

    QTest::mouseClick(w.display, Qt::LeftButton);
    QTRY_VERIFY(w.display->hasFocus());
    QTest::keyClick(w.display, Qt::Key_Home);
    QCOMPARE(w.view.zoom, 1.0);

    // Typing not yet entered keeps its field, so a press on the display
    // neither ends the edit nor renders; once entered, the press takes Home.
    auto *field = w.view.sCtrls.first()->findChild<QLineEdit *>("minV_");
    field->setFocus();
    QTRY_VERIFY(field->hasFocus());
    QTest::keyClicks(field, "5");
    QSignalSpy renders(w.view.sCtrls.first(), &SlicesCtrl::paintPImg);
    QTest::mouseClick(w.display, Qt::LeftButton);
    QVERIFY(field->hasFocus());
    QCOMPARE(renders.count(), 0);
    QTest::keyClick(field, Qt::Key_Return);
    QTest::mouseClick(w.display, Qt::LeftButton);
    QTRY_VERIFY(w.display->hasFocus());
}

QTEST_MAIN(tst_CtView)
#include "tst_ctview.moc"
