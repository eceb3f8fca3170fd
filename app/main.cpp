#include "app/config.h"
#include "app/startup.h"
#include "panel/slicesctrl.h"
#include "view/ctview.h"
#include "view/vec3.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QTranslator>

#include <cstdio>

// Filled once at start-up and only read afterwards.
static Config config;

int main(int argc, char *argv[])
{
    // Before the application object, which would need a display.
    if (helpRequested(argc, argv)) {
        std::fputs(qPrintable(startupHelpText(programBaseName(argc, argv))), stdout);
        return 0;
    }
    qRegisterMetaType<Vec3>("Vec3");

    // Qt takes its own options (such as -platform) out of argc/argv here.
    QApplication app(argc, argv);
    QTranslator translator;

    // Files named on the command line are the user's, relative to where the
    // program was started; relative names of its own (configuration,
    // includes, data root) resolve against the program's own directory.
    const QStringList files = commandLineFiles(argc, argv, QDir::currentPath());
    QDir::setCurrent(QCoreApplication::applicationDirPath());

    config.readCommandLine(argc, argv);
    const QString fileName = configFileName(config);
    const bool ok = config.readFile(fileName);
    qDebug() << "read Ok" << ok << fileName;
    SlicesCtrl::setDefaultSampling(defaultSamplingChoice(config));
    const bool keepAspect = displaySetting(config, QStringLiteral("KeepAspect"));
    const bool sizeFollowsDisplay = displaySetting(config, QStringLiteral("SizeFollowsDisplay"));

    const QString baseName = programBaseName(argc, argv);
    const QString dataRoot = dataRootDirectory(config, QDir::current().absolutePath());
    qDebug() << "data root" << dataRoot << config.getValue(QStringLiteral("DataRoot"),
                                                           QStringLiteral("aa"));

    const bool japanese = japaneseChosen(config, baseName);
    if (japanese && translator.load(QStringLiteral(":Mek_ja_JP"),
                                    QCoreApplication::applicationDirPath())) {
        app.installTranslator(&translator);
    }

    CtView view(dataRoot, nullptr);
    view.setKeepAspect(keepAspect);
    view.setSizeFollowsDisplay(sizeFollowsDisplay);
    QObject::connect(&view, SIGNAL(finishing()), &app, SLOT(closeAllWindows()));
    view.show();
    if (!files.isEmpty())
        view.sCtrls.first()->loadPaths(files);
    return app.exec();
}
