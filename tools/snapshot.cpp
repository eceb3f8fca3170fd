// Opens the main window on the sample stacks the way a user would leave it
// (two sets loaded through their panels' file dialogs, the view turned, one
// section shown) and saves a picture of the whole window. For looking at the
// program under a real display server:
//   xvfb-run -s "-screen 0 1280x1024x24" build/ctslab-snapshot out.png [-j] [-d DIR]
// With -d the stacks come from DIR (as given, so a relative DIR gives short
// names in the panels' lists) and the picture is rendered at 512 pixels, as
// for a final picture; the README's screenshot is made that way.
//
// With --scene NAME it shows one thing a new user meets instead, and saves
// only the part of the window it is in: "progress" (a load under way),
// "empty" (a load that took nothing), "presets" (the histogram's menu over a
// CT set), "fit" (the sets fitted after a turn) or "cursor" (the value under
// a resting pointer).
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <QWindow>

#include "panel/slicesctrl.h"
#include "view/ctview.h"

static QStringList stack(const QString &dir, const QString &pattern = QStringLiteral("*.png"))
{
    QStringList names;
    for (const QString &name : QDir(dir).entryList({ pattern }, QDir::Files, QDir::Name))
        names << QDir(dir).filePath(name);
    return names;
}

static bool load(SlicesCtrl *panel, const QStringList &names)
{
    QMetaObject::invokeMethod(panel, "selectFiles");
    QSignalSpy done(panel, &SlicesCtrl::paintPImg);
    emit panel->fileDialog->filesSelected(names);
    const bool ok = done.wait(20000);
    panel->fileDialog->close();
    return ok;
}

// The widget's picture with the popup menu drawn over it where it stands.
static QPixmap grabWithMenu(QWidget *widget, QMenu *menu)
{
    QPixmap shot = widget->grab();
    if (menu && menu->isVisible()) {
        QPainter p(&shot);
        p.drawPixmap(widget->mapFromGlobal(menu->pos()), menu->grab());
    }
    return shot;
}

static int scene(const QString &name, const QString &data, const QString &out)
{
    CtView view(data);
    view.resize(760, 940);
    view.show();
    SlicesCtrl *panel = view.sCtrls[0];
    QWidget *display = view.findChild<QWidget *>("dispA_");
    const QStringList ct = stack(data + "/dicom", QStringLiteral("*.dcm"));
    QPixmap shot;
    if (name == "progress") {
        // Taken from the window's own news, a third of the way through.
        QMetaObject::invokeMethod(panel, "selectFiles");
        QObject::connect(&panel->sliceDatas, &SliceDatas::filesRead, &view,
                         [&](int read, int chosen) {
                             if (shot.isNull() && read * 3 >= chosen && read < chosen)
                                 shot = display->grab(QRect(0, 0, 360, 64));
                         },
                         Qt::QueuedConnection);
        QSignalSpy done(panel, &SlicesCtrl::paintPImg);
        emit panel->fileDialog->filesSelected(ct);
        done.wait(60000);
        panel->fileDialog->close();
    } else if (name == "empty") {
        QMetaObject::invokeMethod(panel, "selectFiles");
        QSignalSpy done(&panel->sliceDatas, &SliceDatas::loadFilesFinished);
        // A note and a scan cut short, as a careless selection might hold.
        QTemporaryDir dir;
        QFile note(dir.filePath("notes.txt"));
        QFile cut(dir.filePath("ct_cut.dcm"));
        QFile whole(ct.value(0));
        if (!note.open(QIODevice::WriteOnly) || !cut.open(QIODevice::WriteOnly)
            || !whole.open(QIODevice::ReadOnly))
            return 1;
        note.write("scanned on Tuesday\n");
        cut.write(whole.read(whole.size() / 2));
        note.close();
        cut.close();
        emit panel->fileDialog->filesSelected({ note.fileName(), cut.fileName() });
        done.wait(20000);
        panel->fileDialog->close();
        QTest::qWait(200);
        shot = display->grab(QRect(0, 0, 360, 64));
    } else if (name == "cursor") {
        view.resize(420, 760);
        if (!load(panel, ct))
            return 1;
        view.fitView();
        const QPoint at(display->width() / 2, display->height() / 2);
        QMouseEvent rest(QEvent::MouseMove, QPointF(at), display->mapToGlobal(QPointF(at)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(display, &rest);
        QTest::qWait(200);
        shot = display->grab();
    } else if (name == "presets" || name == "fit") {
        if (!load(panel, ct))
            return 1;
        if (name == "fit") {
            QMetaObject::invokeMethod(&view, "updateNvs", Q_ARG(Vec3, (Vec3{ 0.6, 0.8, 0 })),
                                      Q_ARG(double, 0.9));
            view.fitView();
            QTest::qWait(200);
            shot = display->grab().scaledToWidth(370, Qt::SmoothTransformation);
        } else {
            QWidget *histogram = panel->findChild<QWidget *>("dispH_");
            emit histogram->customContextMenuRequested(QPoint(histogram->width() / 2, 10));
            QTest::qWait(300);
            // Opened upwards over the display, so that the panel stays whole.
            auto *menu = panel->findChild<QMenu *>("histogramMenu");
            const int rise = menu->sizeHint().height() - 12;
            menu->move(histogram->mapToGlobal(QPoint(histogram->width() / 3, -rise)));
            QTest::qWait(100);
            const QRect area = QRect(panel->mapTo(&view, QPoint(0, 0)), panel->size()).adjusted(0, -rise, 0, 0);
            shot = grabWithMenu(&view, menu).copy(area);
        }
    } else {
        return 2;
    }
    return !shot.isNull() && shot.save(out) ? 0 : 1;
}

int main(int argc, char *argv[])
{
    qRegisterMetaType<Vec3>("Vec3");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString out = args.value(1, "snapshot.png");
    QTranslator translator;
    if (args.contains("-j") && translator.load(":/Mek_ja_JP.qm"))
        app.installTranslator(&translator);

    const qsizetype dataAt = args.indexOf("-d");
    const bool finalPicture = dataAt > 0 && dataAt + 1 < args.size();
    const QString data = finalPicture ? args.at(dataAt + 1) : QStringLiteral(CTSLAB_SAMPLE_DATA);
    const qsizetype sceneAt = args.indexOf("--scene");
    if (sceneAt > 0 && sceneAt + 1 < args.size())
        return scene(args.at(sceneAt + 1), QStringLiteral(CTSLAB_SAMPLE_DATA), out);
    CtView view(data);
    view.resize(900, 1000);
    if (finalPicture) {
        view.findChild<QLineEdit *>("imgPixWidth_")->setText("512");
        view.findChild<QLineEdit *>("imgPixHeight_")->setText("512");
        for (int step = 0; step < 6; ++step)
            QMetaObject::invokeMethod(&view, "wheelMovedOnDataDisp", Q_ARG(int, 1));
    }
    view.show();
    view.addSliceSet();
    if (!load(view.sCtrls[0], stack(data + "/phantom")) || !load(view.sCtrls[1], stack(data + "/torus")))
        return 1;
    view.sCtrls[0]->showCSection()->setChecked(true);
    view.sCtrls[0]->cSlider()->setValue(10);
    QMetaObject::invokeMethod(&view, "updateNvs", Q_ARG(Vec3, (Vec3{ 0.6, 0.8, 0 })),
                              Q_ARG(double, 0.7));
    QMetaObject::invokeMethod(&view, "updateNvs", Q_ARG(Vec3, (Vec3{ 0, 0, 1 })),
                              Q_ARG(double, 0.4));

    QTimer::singleShot(1500, &app, [&] {
        QPixmap shot = view.screen()->grabWindow(view.winId());
        if (shot.isNull() || QGuiApplication::platformName() != "xcb")
            shot = view.grab();
        app.exit(shot.save(out) ? 0 : 1);
    });
    return app.exec();
}
