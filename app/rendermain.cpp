#include "app/renderjob.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

// No window and no display: a core application is enough to read slices
// and paint pictures.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ctslab-render"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CTSLAB_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);
    return runRender(app.arguments().mid(1), out, err, stderrIsTerminal());
}
