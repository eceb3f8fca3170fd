#include <QtTest>

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QMenu>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTreeWidget>

#include "panel/colourscale.h"
#include "panel/slicesctrl.h"
#include "tests/dicomfixtures.h"
#include "widgets/exlabel.h"

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

// The panel built both ways: the lite variant has no colour dialogs, no
// swatches and no changedSliderStat.
class tst_SlicesCtrl : public QObject
{
    Q_OBJECT

private slots:
    void initialState();
    void collapseAndExpand();
    void getters_data();
    void getters();
    void setters_data();
    void setters();
    void loadThroughDialog();
    void loadAcceptingNothing();
    void dropFiles_data();
    void dropFiles();
    void dropWhileLoading();
    void reopenDialogStartsWhereTheLastStood();
    void controlSignals_data();
    void controlSignals();
    void fixDir();
    void thresholdDrag_data();
    void thresholdDrag();
    void histogramShowsAfterLoad();
    void typedNumberRepaintsHistogram_data();
    void typedNumberRepaintsHistogram();
    void windowPresets_data();
    void windowPresets();
#ifndef CTSLAB_LITE
    void volumeColourDialog();
#endif
    void destroyDuringLoad();
    void destroyWithFocusedField();
    void spacingDialog_data();
    void spacingDialog();
    void samplingChoice();
    void seriesChooser();

private:
    static QStringList writeGreySlices(const QString &dir, int count, int size, int offset = 0);
};

QStringList tst_SlicesCtrl::writeGreySlices(const QString &dir, int count, int size, int offset)
{
    QStringList names;
    for (int k = 0; k < count; ++k) {
        QImage image(size, size, QImage::Format_Grayscale8);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                image.scanLine(y)[x] = uchar((x * 255) / (size - 1) * (y + k + 1) / (size + k));
        const QString name = dir + QStringLiteral("/s%1_%2.png").arg(size).arg(k + offset);
        image.setPixel(0, 0, 0);
        image.scanLine(size - 1)[size - 1] = 255;
        if (!image.save(name))
            return {};
        names << name;
    }
    return names;
}

static QLineEdit *edit(SlicesCtrl &panel, const char *name)
{
    return panel.findChild<QLineEdit *>(name);
}

void tst_SlicesCtrl::initialState()
{
    SlicesCtrl panel;
    panel.setSetNumber(3);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));

    auto *showB = panel.findChild<QCheckBox *>("showB_");
    auto *showB2 = panel.findChild<QCheckBox *>("showB2_");
    QVERIFY(showB && showB2);
    QVERIFY(showB->isChecked() && showB2->isChecked());
    QVERIFY(!showB->isVisible());
    QVERIFY(panel.findChild<QFrame *>("slicesCtrlFrame_")->isVisible());
    QCOMPARE(showB->text(), QStringLiteral("Show Setup 3"));
    QCOMPARE(showB2->text(), QStringLiteral("Show Setup 3"));
    QCOMPARE(panel.findChild<QComboBox *>("nameList_")->count(), 0);
    QCOMPARE(edit(panel, "minV_")->text(), QStringLiteral("0.0"));
    QCOMPARE(edit(panel, "minThPC_")->text(), QStringLiteral("0.0"));
    QCOMPARE(edit(panel, "maxThPC_")->text(), QStringLiteral("100.0"));
    QCOMPARE(edit(panel, "maxV_")->text(), QStringLiteral("0.0"));
    QCOMPARE(panel.vColor, QColor(0, 127, 127));
    QCOMPARE(panel.sColor, QColor(127, 0, 0));
    QCOMPARE(panel.nz.x, 0.0);
    QCOMPARE(panel.nz.z, 0.0);
    QCOMPARE(panel.dragTarget, -1);
#ifndef CTSLAB_LITE
    const QImage swatch = panel.findChild<QLabel *>("dispVColor_")->pixmap().toImage();
    QCOMPARE(swatch.size(), QSize(15, 27));
    QCOMPARE(swatch.pixelColor(7, 20), QColor(0, 127, 127));
#else
    QVERIFY(!panel.findChild<QLabel *>("dispVColor_"));
#endif
}

void tst_SlicesCtrl::collapseAndExpand()
{
    SlicesCtrl panel;
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    auto *showB = panel.findChild<QCheckBox *>("showB_");
    auto *showB2 = panel.findChild<QCheckBox *>("showB2_");
    auto *frame = panel.findChild<QFrame *>("slicesCtrlFrame_");

    showB2->setChecked(false);
    QVERIFY(!frame->isVisible());
    QVERIFY(showB->isVisible());
    QVERIFY(!showB->isChecked());

    showB->setChecked(true);
    QVERIFY(frame->isVisible());
    QVERIFY(!showB->isVisible());
    QVERIFY(showB2->isChecked());
}

void tst_SlicesCtrl::getters_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("plain") << "12.5" << 12.5;
    QTest::newRow("exponent") << "1e3" << 1000.0;
    QTest::newRow("negative") << "-0.25" << -0.25;
    QTest::newRow("comma is no decimal point") << "1,5" << 0.0;
    QTest::newRow("group separator: 1,000") << "1,000" << 0.0;
    QTest::newRow("group separator: 1,500") << "1,500" << 0.0;
    QTest::newRow("blank inside: 1 500") << "1 500" << 0.0;
    QTest::newRow("exponent with point: 1.5e3") << "1.5e3" << 1500.0;
    QTest::newRow("negative zero") << "-0" << 0.0;
    QTest::newRow("plus sign") << "+7" << 7.0;
    QTest::newRow("no leading digit") << ".5" << 0.5;
    QTest::newRow("no digit after the point") << "5." << 5.0;
    QTest::newRow("blanks around") << "  12.5\t" << 12.5;
    QTest::newRow("letters") << "abc" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("overflow") << "1e999" << 0.0;
    QTest::newRow("nan") << "nan" << 0.0;
}

void tst_SlicesCtrl::getters()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    SlicesCtrl panel;
    for (const char *name : { "minV_", "maxV_", "minThPC_", "maxThPC_" })
        edit(panel, name)->setText(text);
    QCOMPARE(panel.minV(), value);
    QCOMPARE(panel.maxV(), value);
    QCOMPARE(panel.minThPC(), value);
    QCOMPARE(panel.maxThPC(), value);
}

void tst_SlicesCtrl::setters_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("12.5 stays") << 12.5 << "12.5";
    QTest::newRow("a million") << 1e6 << "1e+06";
    QTest::newRow("a third") << 1.0 / 3 << "0.333333";
    QTest::newRow("largest double") << 1.7976931348623157e308 << "1.79769e+308";
    QTest::newRow("zero") << 0.0 << "0";
}

void tst_SlicesCtrl::setters()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    SlicesCtrl panel;
    QSignalSpy repaint(&panel, &SlicesCtrl::paintPImg);
    panel.setMinV(value);
    panel.setMaxV(value);
    panel.setMinThPC(value);
    panel.setMaxThPC(value);
    for (const char *name : { "minV_", "maxV_", "minThPC_", "maxThPC_" }) {
        QCOMPARE(edit(panel, name)->text(), text);
        // A narrow field shows the number's beginning, not its end.
        QCOMPARE(edit(panel, name)->cursorPosition(), 0);
    }
    QCOMPARE(repaint.count(), 0);
}

void tst_SlicesCtrl::loadThroughDialog()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QStringList names = writeGreySlices(dir.path(), 3, 16);
    const QString smaller = writeGreySlices(dir.path(), 1, 8).value(0);
    const QString broken = dir.filePath("broken.dat");
    QFile file(broken);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a slice\n");
    file.close();

    SlicesCtrl panel(dir.path());
    panel.setMinThPC(20);
    QMetaObject::invokeMethod(&panel, "selectFiles");
    QFileDialog *dialog = panel.fileDialog;
    QVERIFY(dialog);
    QCOMPARE(dialog->directory().absolutePath(), QDir(dir.path()).absolutePath());
    QCOMPARE(dialog->nameFilters(),
             QStringList({ "Data Files (*.dat *.png)", "Any Files (* *.*)",
                           "Scanner Files (*.dcm *.dicom *.ima *.tif *.tiff *.webp *.nii "
                           "*.nii.gz *.hdr *.nrrd *.nhdr *.mha *.mhd)" }));
    QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFiles);
    QVERIFY(!dialog->isModal());
#ifndef CTSLAB_LITE
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Select Data Files"));
#endif

    // Delivered out of name order, with a misfit and an unreadable file.
    const QStringList delivered = { names[2], broken, names[0], smaller, names[1] };
    QSignalSpy done(&panel, &SlicesCtrl::paintPImg);
    emit dialog->filesSelected(delivered);
    QVERIFY(done.wait());

    auto *list = panel.findChild<QComboBox *>("nameList_");
    QStringList listed;
    for (int i = 0; i < list->count(); ++i)
        listed << list->itemText(i);
    QCOMPARE(listed, QStringList({ names[2], names[0], names[1] }));
    QCOMPARE(edit(panel, "minV_")->text(), QStringLiteral("0"));
    QCOMPARE(edit(panel, "maxV_")->text(), QStringLiteral("255"));
    QCOMPARE(edit(panel, "minThPC_")->text(), QStringLiteral("20"));
    QCOMPARE(edit(panel, "maxThPC_")->text(), QStringLiteral("100.0"));
    QCOMPARE(done.count(), 1);
    QCOMPARE(list->toolTip(),
             QStringLiteral("3 of 5 files loaded; 1 not slice files, 1 of another size"));
}

void tst_SlicesCtrl::loadAcceptingNothing()
{
    QTemporaryDir dir;
    SlicesCtrl panel(dir.path());
    QMetaObject::invokeMethod(&panel, "selectFiles");
    QSignalSpy done(&panel, &SlicesCtrl::paintPImg);
    emit panel.fileDialog->filesSelected({ dir.filePath("missing.png") });
    QVERIFY(done.wait());
    QCOMPARE(edit(panel, "minV_")->text(), QStringLiteral("1.79769e+308"));
    QCOMPARE(edit(panel, "maxV_")->text(), QStringLiteral("-1.79769e+308"));
    QCOMPARE(panel.findChild<QComboBox *>("nameList_")->count(), 0);
}

static QStringList listed(SlicesCtrl &panel)
{
    auto *list = panel.findChild<QComboBox *>("nameList_");
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
        names << list->itemText(i);
    return names;
}

// Drops local files on the panel as a file manager would; whether the panel
// took the drag.
static bool drop(QWidget *target, const QStringList &paths)
{
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls << QUrl::fromLocalFile(path);
    mime.setUrls(urls);
    mime.setText(paths.join(u'\n'));   // file managers offer the names as text too
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &dropped);
    return dropped.isAccepted();
}

void tst_SlicesCtrl::dropFiles_data()
{
    QTest::addColumn<QString>("target");     // the panel or one of its children
    QTest::addColumn<QStringList>("dropped"); // names in the folder; "." the folder itself
    QTest::addColumn<QStringList>("loaded");

    QTest::newRow("files in the given order")
        << "" << QStringList{ "s16_2.png", "notes.txt", "s16_0.png" }
        << QStringList{ "s16_2.png", "s16_0.png" };
    QTest::newRow("a folder gives its files in name order")
        << "" << QStringList{ "." } << QStringList{ "s16_0.png", "s16_1.png", "s16_2.png" };
#ifdef Q_OS_UNIX
    QTest::newRow("a pipe is left out: reading it would wait for ever")
        << "" << QStringList{ "pipe", "s16_1.png" } << QStringList{ "s16_1.png" };
#endif
    QTest::newRow("onto a number field")
        << "minV_" << QStringList{ "s16_1.png" } << QStringList{ "s16_1.png" };
    QTest::newRow("onto the name list")
        << "nameList_" << QStringList{ "s16_1.png", "s16_0.png" }
        << QStringList{ "s16_1.png", "s16_0.png" };
}

void tst_SlicesCtrl::dropFiles()
{
    QFETCH(QString, target);
    QFETCH(QStringList, dropped);
    QFETCH(QStringList, loaded);

    QTemporaryDir dir;
    QVERIFY(!writeGreySlices(dir.path(), 3, 16).isEmpty());
    QFile notes(dir.filePath("notes.txt"));
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.write("not a slice\n");
    notes.close();
    QVERIFY(QDir(dir.path()).mkdir("inner"));   // a folder inside a dropped folder is left out
#ifdef Q_OS_UNIX
    QCOMPARE(mkfifo(QFile::encodeName(dir.filePath("pipe")).constData(), 0600), 0);
#endif

    SlicesCtrl panel(dir.path());
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QWidget *widget = target.isEmpty() ? &panel : panel.findChild<QWidget *>(target);
    QVERIFY(widget);
    QStringList paths;
    for (const QString &name : dropped)
        paths << QDir(dir.filePath(name)).absolutePath();
    QSignalSpy done(&panel, &SlicesCtrl::paintPImg);
    QVERIFY(drop(widget, paths));
    QVERIFY(done.wait());

    QStringList expected;
    for (const QString &name : loaded)
        expected << QDir(dir.path()).absoluteFilePath(name);
    QCOMPARE(listed(panel), expected);
    QCOMPARE(edit(panel, "minV_")->text(), QStringLiteral("0"));
    QVERIFY(!panel.fileDialog);
}

void tst_SlicesCtrl::dropWhileLoading()
{
    QTemporaryDir dir;
    const QStringList first = writeGreySlices(dir.path(), 1, 64);
    const QStringList second = writeGreySlices(dir.path(), 2, 16);
    QStringList many;
    for (int i = 0; i < 200; ++i)
        many << first;

    SlicesCtrl panel(dir.path());
    QMetaObject::invokeMethod(&panel, "selectFiles");
    QSignalSpy done(&panel, &SlicesCtrl::paintPImg);
    emit panel.fileDialog->filesSelected(many);
    QVERIFY(drop(&panel, second));
    // Like a second selection in the dialog: the first load ends, then the
    // dropped files replace it.
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, 60000);
    QCOMPARE(listed(panel), second);
    QCOMPARE(panel.findChild<QComboBox *>("nameList_")->toolTip(),
             QStringLiteral("2 of 2 files loaded"));

    // Nothing local, nothing taken.
    QMimeData web;
    web.setUrls({ QUrl(QStringLiteral("https://example.org/slice.png")) });
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &web, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&panel, &enter);
    QVERIFY(!enter.isAccepted());
}

void tst_SlicesCtrl::reopenDialogStartsWhereTheLastStood()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("inner"));
    SlicesCtrl panel(dir.path());
    QMetaObject::invokeMethod(&panel, "selectFiles");
    QPointer<QFileDialog> first = panel.fileDialog;
    first->setDirectory(dir.filePath("inner"));

    QMetaObject::invokeMethod(&panel, "selectFiles");
    QVERIFY(panel.fileDialog != first.data());
    QCOMPARE(panel.lastDir, QDir(dir.filePath("inner")).absolutePath());
    QCOMPARE(panel.fileDialog->directory().absolutePath(), panel.lastDir);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(first.isNull());
}

void tst_SlicesCtrl::controlSignals_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("sliderStats");
    QTest::addColumn<int>("repaints");
#ifndef CTSLAB_LITE
    QTest::newRow("slider reports a section change") << "cSlider_" << 1 << 0;
    QTest::newRow("Fix Dir. reports a section change") << "csFixDir_" << 1 << 0;
#else
    QTest::newRow("slider repaints directly") << "cSlider_" << 0 << 1;
    QTest::newRow("Fix Dir. repaints directly") << "csFixDir_" << 0 << 1;
#endif
    QTest::newRow("show volume") << "showVolume_" << 0 << 1;
    QTest::newRow("show frame") << "showFrame_" << 0 << 1;
    QTest::newRow("show section") << "showCSection_" << 0 << 1;
    QTest::newRow("edit minV") << "minV_" << 0 << 1;
    QTest::newRow("edit maxThPC") << "maxThPC_" << 0 << 1;
}

void tst_SlicesCtrl::controlSignals()
{
    QFETCH(QString, control);
    QFETCH(int, sliderStats);
    QFETCH(int, repaints);
    SlicesCtrl panel;
#ifndef CTSLAB_LITE
    QSignalSpy stats(&panel, &SlicesCtrl::changedSliderStat);
#endif
    QSignalSpy repaint(&panel, &SlicesCtrl::paintPImg);

    QObject *widget = panel.findChild<QObject *>(control);
    QVERIFY(widget);
    if (auto *slider = qobject_cast<QSlider *>(widget))
        slider->setValue(40);
    else if (auto *box = qobject_cast<QCheckBox *>(widget))
        box->toggle();
    else if (auto *line = qobject_cast<QLineEdit *>(widget))
        emit line->editingFinished();

#ifndef CTSLAB_LITE
    QCOMPARE(stats.count(), sliderStats);
#else
    Q_UNUSED(sliderStats);
#endif
    QCOMPARE(repaint.count(), repaints);
}

void tst_SlicesCtrl::fixDir()
{
    SlicesCtrl panel;
    panel.newNz(Vec3{ 0, 0, 1 });
    QCOMPARE(panel.nz.z, 1.0);
    panel.csFixDir()->setChecked(true);
    panel.newNz(Vec3{ 1, 0, 0 });
    QCOMPARE(panel.nz.x, 0.0);
    QCOMPARE(panel.nz.z, 1.0);
    panel.initNz(Vec3{ 0, 1, 0 });
    QCOMPARE(panel.nz.y, 1.0);
    panel.csFixDir()->setChecked(false);
    panel.newNz(Vec3{ 1, 0, 0 });
    QCOMPARE(panel.nz.x, 1.0);
}

void tst_SlicesCtrl::thresholdDrag_data()
{
    QTest::addColumn<double>("lower");
    QTest::addColumn<double>("upper");
    QTest::addColumn<int>("pressColumn");
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("moveColumn");
    QTest::addColumn<int>("target");
    QTest::addColumn<QString>("lowerText");
    QTest::addColumn<QString>("upperText");
    QTest::addColumn<int>("repaints");

    const int left = Qt::LeftButton;
    QTest::newRow("tie in the middle takes the upper")
            << 0.0 << 100.0 << 50 << left << 0 << 60 << 1 << "0" << "60" << 1;
    QTest::newRow("nearer lower") << 20.0 << 80.0 << 30 << left << 0 << 10 << 0 << "10" << "80" << 1;
    QTest::newRow("to column 50 gives 50")
            << 0.0 << 100.0 << 95 << left << 0 << 50 << 1 << "0" << "50" << 1;
    QTest::newRow("past the right edge") << 0.0 << 100.0 << 99 << left << 0 << 130 << 1 << "0"
                                         << "130" << 1;
    QTest::newRow("right button starts nothing")
            << 0.0 << 100.0 << 90 << int(Qt::RightButton) << 0 << 50 << -1 << "0" << "100" << 0;
    QTest::newRow("shift held: no drag, still repaints")
            << 0.0 << 100.0 << 90 << left << int(Qt::ShiftModifier) << 50 << -1 << "0" << "100"
            << 1;
}

void tst_SlicesCtrl::thresholdDrag()
{
    QFETCH(double, lower);
    QFETCH(double, upper);
    QFETCH(int, pressColumn);
    QFETCH(int, button);
    QFETCH(int, modifiers);
    QFETCH(int, moveColumn);
    QFETCH(int, target);
    QFETCH(QString, lowerText);
    QFETCH(QString, upperText);
    QFETCH(int, repaints);

    SlicesCtrl panel;
    panel.resize(600, 200);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    auto *label = panel.findChild<ExLabel *>("dispH_");
    label->setFixedWidth(101);
    QTRY_COMPARE(label->width(), 101);
    label->repaint();   // the pixel range follows the label's size at paint
    panel.setMinThPC(lower);
    panel.setMaxThPC(upper);

    QSignalSpy repaint(&panel, &SlicesCtrl::paintPImg);
    const auto b = Qt::MouseButton(button);
    const auto m = Qt::KeyboardModifiers(modifiers);
    const QPointF press(pressColumn, 10);
    QMouseEvent pressEvent(QEvent::MouseButtonPress, press, label->mapToGlobal(press), b, b, m);
    QCoreApplication::sendEvent(label, &pressEvent);
    QCOMPARE(panel.dragTarget, target);

    const QPointF to(moveColumn, 10);
    QMouseEvent moveEvent(QEvent::MouseMove, to, label->mapToGlobal(to), Qt::NoButton, b, m);
    QCoreApplication::sendEvent(label, &moveEvent);
    QCOMPARE(edit(panel, "minThPC_")->text(), lowerText);
    QCOMPARE(edit(panel, "maxThPC_")->text(), upperText);
    QCOMPARE(repaint.count(), repaints);

    QMouseEvent releaseEvent(QEvent::MouseButtonRelease, to, label->mapToGlobal(to), b,
                             Qt::NoButton, m);
    QCoreApplication::sendEvent(label, &releaseEvent);
    QCOMPARE(panel.dragTarget, -1);
    QCoreApplication::sendEvent(label, &moveEvent);
    QCOMPARE(repaint.count(), repaints);
}

void tst_SlicesCtrl::histogramShowsAfterLoad()
{
    QTemporaryDir dir;
    const QStringList names = writeGreySlices(dir.path(), 2, 16);
    SlicesCtrl panel(dir.path());
    panel.resize(600, 200);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    auto *label = panel.findChild<ExLabel *>("dispH_");

    // Before any load the histogram area is plain white, without lines.
    const QImage before = label->grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (int x = 0; x < before.width(); ++x)
        QCOMPARE(before.pixel(x, before.height() / 2), qRgb(255, 255, 255));

    QMetaObject::invokeMethod(&panel, "selectFiles");
    QSignalSpy done(&panel, &SlicesCtrl::paintPImg);
    emit panel.fileDialog->filesSelected(names);
    QVERIFY(done.wait());
    // A number field that loses the focus to the dialog repaints too, maybe
    // before the load is over; the account of the load comes with its end.
    QTRY_VERIFY(!panel.findChild<QComboBox *>("nameList_")->toolTip().isEmpty());

    const QImage after = label->grab().toImage().convertToFormat(QImage::Format_RGB32);
    int bars = 0;
    int red = 0;
    for (int x = 0; x < after.width(); ++x) {
        const QRgb c = after.pixel(x, after.height() - 2);
        bars += qGreen(c) > qRed(c) + 50;
        red += c == qRgb(255, 0, 0);
    }
    QVERIFY(bars > 0);
    // The lower threshold line at column 0; the upper at 100/101 of the width.
    QCOMPARE(after.pixel(0, 1), qRgb(255, 0, 0));
    QCOMPARE(after.pixel(int(100.0 * label->width() / 101), 1), qRgb(255, 0, 0));
}

void tst_SlicesCtrl::typedNumberRepaintsHistogram_data()
{
    QTest::addColumn<QString>("field");
    for (const char *name : { "minV_", "maxV_", "minThPC_", "maxThPC_" })
        QTest::newRow(name) << name;
}

// The threshold lines are drawn from the fields, so finishing an edit must
// repaint the histogram as well as the projection.
void tst_SlicesCtrl::typedNumberRepaintsHistogram()
{
    QFETCH(QString, field);
    SlicesCtrl panel;
    panel.resize(600, 200);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    auto *label = panel.findChild<ExLabel *>("dispH_");
    qRegisterMetaType<QPainter *>();
    QSignalSpy drawn(label, &ExLabel::draw);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    drawn.clear();

    QLineEdit *typed = edit(panel, qPrintable(field));
    typed->setText("30");
    emit typed->editingFinished();
    QTRY_VERIFY(drawn.count() > 0);
}

void tst_SlicesCtrl::windowPresets_data()
{
    QTest::addColumn<double>("low");  // the set's smallest and largest value
    QTest::addColumn<double>("high");
    QTest::addColumn<QString>("preset");
    QTest::addColumn<bool>("offered"); // the Hounsfield presets
    QTest::addColumn<QString>("minV");
    QTest::addColumn<QString>("maxV");

    QTest::newRow("whole range of grey values") << 0.0 << 255.0 << "wholeRange" << false
                                                << "0" << "256";
    QTest::newRow("whole range of a CT") << -1024.0 << 3071.0 << "wholeRange" << true
                                         << "-1024" << "3087.06";
    // Six digits would write 1.00392e+06, below the top the largest value needs.
    QTest::newRow("whole range written with a digit more") << 0.0 << 1e6 << "wholeRange"
                                                           << false << "0" << "1003922";
    QTest::newRow("lung on a CT") << -1000.0 << 1800.0 << "Lung" << true << "-1350" << "150";
    QTest::newRow("soft tissue on padded CT") << -3024.0 << 2000.0 << "Soft tissue" << true
                                              << "-160" << "240";
}

// A preset fills the range fields and the thresholds, and the picture and the
// histogram follow once, as after typing.
void tst_SlicesCtrl::windowPresets()
{
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(QString, preset);
    QFETCH(bool, offered);
    QFETCH(QString, minV);
    QFETCH(QString, maxV);

    QTemporaryDir dir;
    const QString slice = dir.filePath("slice.dat");
    QFile file(slice);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("#VELD-CTImg\n# Range_X0 = 0\n# Range_Y0 = 0\n# Range_X1 = 1\n"
                              "# Range_Y1 = 1\n0 0 %1\n1 1 %2\n")
                       .arg(low, 0, 'g', 17)
                       .arg(high, 0, 'g', 17)
                       .toLatin1());
    file.close();
    SlicesCtrl panel;
    auto *menu = panel.findChild<QMenu *>("histogramMenu");
    emit menu->aboutToShow();
    QVERIFY(!panel.findChild<QAction *>("wholeRange")->isEnabled());

    QSignalSpy repaint(&panel, &SlicesCtrl::paintPImg);
    panel.loadPaths({ dir.path() });
    QVERIFY(repaint.wait());
    emit menu->aboutToShow();
    QVERIFY(panel.findChild<QAction *>("wholeRange")->isEnabled());
    QCOMPARE(panel.findChild<QAction *>("Brain")->isVisible(), offered);

    panel.setMinThPC(20);
    repaint.clear();
    QSignalSpy finished(edit(panel, "maxThPC_"), &QLineEdit::editingFinished);
    panel.findChild<QAction *>(preset)->trigger();
    QCOMPARE(edit(panel, "minV_")->text(), minV);
    QCOMPARE(edit(panel, "maxV_")->text(), maxV);
    QCOMPARE(edit(panel, "minThPC_")->text(), QStringLiteral("0"));
    QCOMPARE(edit(panel, "maxThPC_")->text(), QStringLiteral("100"));
    QCOMPARE(repaint.count(), 1);
    QCOMPARE(finished.count(), 1);
    if (preset == QLatin1String("wholeRange")) {
        const ColourWindow window = colourWindow(panel.minV(), panel.maxV(), 0, 100);
        QCOMPARE_GT(intensity(high, window.low, window.high), 254.0);
    }
}

#ifndef CTSLAB_LITE
void tst_SlicesCtrl::volumeColourDialog()
{
    SlicesCtrl panel;
    QSignalSpy repaint(&panel, &SlicesCtrl::paintPImg);
    QMetaObject::invokeMethod(&panel, "selectVColor");
    QPointer<QColorDialog> dialog = panel.vColorDialog;
    QVERIFY(dialog);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Select Volume Color"));
    QCOMPARE(dialog->currentColor(), QColor(0, 127, 127));

    // Closing without a choice changes nothing.
    dialog->reject();
    QCOMPARE(panel.vColor, QColor(0, 127, 127));
    QCOMPARE(repaint.count(), 0);

    QMetaObject::invokeMethod(&panel, "selectVColor");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(dialog.isNull());
    panel.vColorDialog->setCurrentColor(QColor(10, 20, 30));
    panel.vColorDialog->accept();
    QCOMPARE(panel.vColor, QColor(10, 20, 30));
    QCOMPARE(repaint.count(), 1);
    const QImage swatch = panel.findChild<QLabel *>("dispVColor_")->pixmap().toImage();
    QCOMPARE(swatch.pixelColor(0, 0), QColor(10, 20, 30));
}
#endif

void tst_SlicesCtrl::destroyDuringLoad()
{
    QTemporaryDir dir;
    const QStringList names = writeGreySlices(dir.path(), 1, 64);
    QStringList many;
    for (int i = 0; i < 400; ++i)
        many << names;

    auto *panel = new SlicesCtrl(dir.path());
    QMetaObject::invokeMethod(panel, "selectFiles");
    auto *list = panel->findChild<QComboBox *>("nameList_");
    QSignalSpy firstName(list, &QComboBox::currentIndexChanged);
    emit panel->fileDialog->filesSelected(many);
    emit panel->fileDialog->filesSelected(many);
    QVERIFY(firstName.wait());
    // The load is running on the worker; the panel must stop it and go.
    delete panel;
}

void tst_SlicesCtrl::destroyWithFocusedField()
{
    // Closing a window while a field holds an unfinished edit: the field
    // finishes it while the panel is already being destroyed.
    auto *panel = new SlicesCtrl;
    panel->show();
    panel->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(panel));
    QLineEdit *field = edit(*panel, "maxThPC_");
    field->setFocus();
    QTRY_VERIFY(field->hasFocus());
    QTest::keyClicks(field, "5");
    int late = 0;
    connect(panel, &SlicesCtrl::paintPImg, panel, [&late] { ++late; });
    delete panel;
    QCOMPARE(late, 0);
}

static void clickButton(QDialog *dialog, const QString &text)
{
    for (QPushButton *button : dialog->findChildren<QPushButton *>()) {
        if (button->text() == text)
            return button->click();
    }
    QFAIL(qPrintable("no button " + text));
}

void tst_SlicesCtrl::spacingDialog_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("spacing"); // as the name list's tooltip shows it
    QTest::newRow("three slices") << 3 << "0.50 x 0.25 x 2.00 mm";
    QTest::newRow("one slice: no slice spacing") << 1 << "0.50 x 0.25 mm";
}

void tst_SlicesCtrl::spacingDialog()
{
    QFETCH(int, count);
    QFETCH(QString, spacing);

    QTemporaryDir dir;
    SlicesCtrl panel(dir.path());
    QMetaObject::invokeMethod(&panel, "selectFiles");
    QSignalSpy repaint(&panel, &SlicesCtrl::paintPImg);
    emit panel.fileDialog->filesSelected(writeGreySlices(dir.path(), count, 16));
    QVERIFY(repaint.wait());
    auto *list = panel.findChild<QComboBox *>("nameList_");
    const QString account = list->toolTip();

    QAction *entry = panel.findChild<QAction *>("spacingAction");
    QVERIFY(panel.actions().contains(entry));
    entry->trigger();
    QPointer<QDialog> dialog = panel.spacingDialog;
    const auto field = [&dialog](const char *name) {
        return dialog->findChild<QLineEdit *>(name);
    };
    QCOMPARE(field("rowMm")->text(), QStringLiteral("1")); // cubes that nothing measured
    field("columnMm")->setText("0.5");
    field("rowMm")->setText("0.25");
    field("sliceMm")->setText("-2");
    // Refused: the dialog stays, nothing changes.
    clickButton(dialog, "OK");
    QVERIFY(dialog->isVisible() && !panel.sliceDatas.shape.measured());
    QCOMPARE(repaint.count(), 1);

    field("sliceMm")->setText("2");
    clickButton(dialog, "OK");
    QCOMPARE(repaint.count(), 2);
    QCOMPARE(panel.sliceDatas.shape.ry, 0.5);
    QCOMPARE(list->toolTip(), account + u'\n' + spacing);

    // Opened again it shows the spacing set; Reset goes back to the files'.
    entry->trigger();
    dialog = panel.spacingDialog;
    QCOMPARE(field("columnMm")->text(), QStringLiteral("0.5"));
    clickButton(dialog, "Reset");
    QCOMPARE(repaint.count(), 3);
    QVERIFY(!panel.sliceDatas.shape.measured());
    QCOMPARE(list->toolTip(), account);
}

void tst_SlicesCtrl::samplingChoice()
{
    SlicesCtrl::setDefaultSampling(SamplingChoice::Cells);
    SlicesCtrl panel;
    SlicesCtrl::setDefaultSampling(SamplingChoice::Automatic);
    auto *menu = panel.findChild<QMenu *>("samplingMenu");
    QVERIFY(panel.actions().contains(menu->menuAction()));
    const QList<QAction *> items = menu->actions(); // automatic, planes, cells
    QVERIFY(items.at(2)->isChecked());

    QSignalSpy repaint(&panel, &SlicesCtrl::paintPImg);
    items.at(1)->trigger();
    items.at(1)->trigger();
    QCOMPARE(panel.sampling, SamplingChoice::Planes);
    QCOMPARE(repaint.count(), 1);

    // A choice made elsewhere is ticked when the menu opens.
    panel.sampling = SamplingChoice::Automatic;
    emit menu->aboutToShow();
    QVERIFY(items.at(0)->isChecked());
}

// A selection of two DICOM series offers them, the larger first and chosen;
// the one picked loads, and Cancel leaves the set as it was.
void tst_SlicesCtrl::seriesChooser()
{
    QTemporaryDir dir;
    const auto series = [&dir](const char *uid, int count) {
        QStringList names;
        for (int k = 0; k < count; ++k) {
            DicomFixture image;
            image.series = QLatin1String(uid);
            image.position = QStringLiteral("0\\0\\%1").arg(k);
            image.raw = { 0, 1, 2, 3, 4, 5 + k };
            names.append(dir.filePath(QStringLiteral("%1_%2.dcm").arg(QLatin1String(uid)).arg(k)));
            if (!writeDicom(names.last(), image))
                return QStringList();
        }
        return names;
    };
    const QStringList small = series("1.2.3.1", 2);
    const QStringList large = series("1.2.3.2", 3);
    QVERIFY(!small.isEmpty() && !large.isEmpty());

    SlicesCtrl panel(dir.path());
    auto *names = panel.findChild<QComboBox *>("nameList_");
    const auto offer = [&panel](const QStringList &files) {
        panel.sliceDatas.queueFiles(files);
        QTRY_VERIFY(panel.findChild<QTreeWidget *>("seriesList"));
    };
    offer(small + large);
    auto *list = panel.findChild<QTreeWidget *>("seriesList");
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->currentItem(), list->topLevelItem(0));
    QCOMPARE(list->topLevelItem(0)->text(2), QStringLiteral("3"));
    list->setCurrentItem(list->topLevelItem(1));
    auto *buttons = list->parentWidget()->findChild<QDialogButtonBox *>();
    QSignalSpy done(&panel, &SlicesCtrl::paintPImg);
    emit buttons->accepted();
    QVERIFY(done.wait());
    QCOMPARE(names->count(), 2);
    QCOMPARE(names->itemText(0), small.first());

    QTRY_VERIFY(!panel.findChild<QTreeWidget *>("seriesList"));
    offer(large + small);
    emit panel.findChild<QTreeWidget *>("seriesList")->parentWidget()
            ->findChild<QDialogButtonBox *>()->rejected();
    QTest::qWait(50);
    QCOMPARE(names->count(), 2);
    QCOMPARE(panel.sliceDatas.slices.size(), 2);
}

QTEST_MAIN(tst_SlicesCtrl)
#include "tst_slicesctrl.moc"
