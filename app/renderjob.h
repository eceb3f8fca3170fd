#ifndef APP_RENDERJOB_H
#define APP_RENDERJOB_H

#include <QList>
#include <QString>
#include <QStringList>

#include "app/renderoptions.h"
#include "panel/colourscale.h"
#include "view/viewgeometry.h"

class QTextStream;

enum RenderExit { RenderSucceeded = 0, RenderFailed = 1, RenderBadCommandLine = 2 };

// ctslab-render once its application object exists: reads the options, loads
// the sets as the window's panels do, renders each frame as the window does
// and writes it. Help and version go to out; messages, and the progress bar
// when progress is true, to err. Returns the exit status.
int runRender(const QStringList &arguments, QTextStream &out, QTextStream &err, bool progress);

// The files of one set: a folder's files in name order, a file as it is.
// A path that names neither gives nothing, with the path in *missing.
QStringList setFiles(const QStringList &paths, QString *missing);

// The panel's state, value range, thresholds, as the options leave it for a
// set whose values run from min to max.
ColourWindow renderWindow(const RenderSetOptions &set, double min, double max);

double radians(double degrees);
// The turn of frame k of n, in radians.
double turnAngle(int frame, int frames);

// The view of one frame: the options' view turned by azimuth about the
// screen's vertical axis, then by elevation about its horizontal axis, then
// rolled about the direction of view, then turned for the frame. A multiple
// of 90 degrees, and a frame that lies on one, turns exactly.
ViewState frameView(const RenderOptions &options, int frame);

// The output name of frame k of n: out.png gives out_0000.png, ...; with no
// turn (n = 0) the name itself.
QString frameFileName(const QString &output, int frame, int frames);

bool stderrIsTerminal();

#endif // APP_RENDERJOB_H
