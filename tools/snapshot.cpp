// Opens the main window on the sample stacks the way a user would leave it
// (two sets loaded through their panels' file dialogs, the view turned, one
// section shown) and saves a picture of the whole window. For looking at the
// program under a real display server:
//   xvfb-run -s "-screen 0 1280x1024x24" build/ctslab-snapshot out.png [-j] [-d DIR]
// With -d the stacks come from DIR (as given, so a relative DIR gives short
// names in the panels' lists) and the picture is rendered at 512 pixels, as
// for a final picture; the README's screenshot is made that way.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QScreen>
#include <QSignalSpy>
#include <QSlider>
#include <QTimer>
#include <QTranslator>
#include <QWindow>

#include "panel/slicesctrl.h"
#include "view/ctview.h"

static QStringList stack(const QString &dir)
{
    QStringList names;
    for (const QString &name : QDir(dir).entryList({ "*.png" }, QDir::Files, QDir::Name))
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
