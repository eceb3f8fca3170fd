#ifndef APP_RENDEROPTIONS_H
#define APP_RENDEROPTIONS_H

#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>

#include "view/sampling.h"
#include "view/vec3.h"

// One end of a set's display window: a value, or a percentage of the set's
// value range as the panel's threshold fields hold it.
struct WindowEnd
{
    double number = 0.0;
    bool percent = true;
};

// What ctslab-render is told about one set; what it is not told is what a
// new panel of the window starts with.
struct RenderSetOptions
{
    QStringList paths; // files and folders, in the order given
    QColor vColor;     // invalid: the colour of the panel with this set's index
    QColor sColor;
    WindowEnd low{ 0.0, true };
    WindowEnd high{ 100.0, true };
    bool showSection = false;
    int slider = 0; // -100..100, as the panel's section slider
    bool fixDir = false;
    bool showFrame = true;
    bool showVolume = true;
    // The cells as cubes, or spaced as given (millimetres between columns,
    // rows and slices); neither: as the files say.
    bool cubic = false;
    bool spaced = false;
    double columnSpacing = 1.0;
    double rowSpacing = 1.0;
    double sliceSpacing = 1.0;
    SamplingChoice sampling = SamplingChoice::Automatic;
    // Of several DICOM series among the files: the one at this place in the
    // list, counted from 1, or with this Series Instance UID; empty: the
    // largest.
    QString series;
};

struct RenderOptions
{
    QString output;
    int width = 256;
    int height = 256;
    double zoom = 1.0;
    double azimuth = 0.0; // degrees
    double elevation = 0.0;
    double roll = 0.0;
    Vec3 centre;
    int turn = 0; // frames of one full turn; 0 writes one picture
    bool listSeries = false; // list each set's DICOM series instead of rendering
    bool verbose = false;    // each file left out, and what the readers said, on its own line
    QList<RenderSetOptions> sets;
};

enum class RenderRequest { Render, Help, Version, Error };

// Largest side of a picture; the painter draws on nothing larger.
inline constexpr int maxPictureSide = 32767;
inline constexpr int maxTurnFrames = 100000;

// Reads the arguments after the program name. "--set" starts a new set;
// files, folders and set options belong to the set they follow, those
// before the first "--set" to the first set. On Error, *message says why.
RenderRequest parseRenderOptions(const QStringList &arguments, RenderOptions *options,
                                 QString *message);

QString renderHelpText();

#endif // APP_RENDEROPTIONS_H
