#include "app/renderoptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

const QString setMarker = QStringLiteral("--set");

// Global options: the last one given counts, wherever it stands.
const QCommandLineOption outputOption({ "o", "output" }, QString(), "file");
const QCommandLineOption sizeOption("size", QString(), "WxH");
const QCommandLineOption zoomOption("zoom", QString(), "z");
const QCommandLineOption azimuthOption("azimuth", QString(), "deg");
const QCommandLineOption elevationOption("elevation", QString(), "deg");
const QCommandLineOption rollOption("roll", QString(), "deg");
const QCommandLineOption centreOption({ "centre", "center" }, QString(), "x,y,z");
const QCommandLineOption turnOption("turn", QString(), "n");
const QCommandLineOption helpOption(QStringList{ "h", "help" });
const QCommandLineOption versionOption(QStringList{ "v", "version" });
const QCommandLineOption listSeriesOption("list-series");
const QCommandLineOption verboseOption("verbose");

// Set options: they belong to the set they stand in.
const QCommandLineOption vColorOption({ "volume-colour", "volume-color" }, QString(), "colour");
const QCommandLineOption sColorOption({ "section-colour", "section-color" }, QString(),
                                      "colour");
const QCommandLineOption windowOption("window", QString(), "low:high");
const QCommandLineOption sectionOption("section", QString(), "pos");
const QCommandLineOption fixDirOption("fix-dir");
const QCommandLineOption noFrameOption("no-frame");
const QCommandLineOption noVolumeOption("no-volume");
const QCommandLineOption spacingOption("spacing", QString(), "col,row,slice");
const QCommandLineOption cubicOption("cubic");
const QCommandLineOption samplingOption("sampling", QString(), "auto|planes|cells");
const QCommandLineOption seriesOption("series", QString(), "n|uid");

const QList<QCommandLineOption> setOptions{ vColorOption,   sColorOption,  windowOption,
                                            sectionOption,  fixDirOption,  noFrameOption,
                                            noVolumeOption, spacingOption, cubicOption,
                                            samplingOption, seriesOption };

// The option's long name, as the help text shows it.
QString optionText(const QCommandLineOption &option)
{
    const QStringList names = option.names();
    const auto name = std::find_if(names.cbegin(), names.cend(),
                                   [](const QString &n) { return n.size() > 1; });
    return QStringLiteral("--") + (name != names.cend() ? *name : names.constFirst());
}

QString badValue(const QCommandLineOption &option, const QString &text, const QString &why)
{
    return QStringLiteral("%1 \"%2\": %3").arg(optionText(option), text, why);
}

// Plain C-locale numbers; "1,5" is not fifteen, and infinities are refused.
bool toNumber(const QString &text, double *value)
{
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double v = c.toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}

bool toInteger(const QString &text, int *value)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    if (ok)
        *value = v;
    return ok;
}

bool readSize(const QString &text, int *width, int *height, QString *message)
{
    static const QRegularExpression pattern(
            QStringLiteral("^\\s*(\\d+)\\s*(?:[xX]\\s*(\\d+))?\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    int w = 0;
    int h = 0;
    if (!match.hasMatch() || !toInteger(match.captured(1), &w)
        || !toInteger(match.hasCaptured(2) ? match.captured(2) : match.captured(1), &h)) {
        *message = badValue(sizeOption, text, QStringLiteral("not a size such as 512x512"));
        return false;
    }
    if (w < 1 || h < 1) {
        *message = badValue(sizeOption, text,
                            QStringLiteral("a picture needs at least 1x1 pixels"));
        return false;
    }
    if (w > maxPictureSide || h > maxPictureSide) {
        *message = badValue(sizeOption, text,
                            QStringLiteral("at most %1 pixels a side").arg(maxPictureSide));
        return false;
    }
    *width = w;
    *height = h;
    return true;
}

bool readColour(const QCommandLineOption &option, const QString &text, QColor *colour,
                QString *message)
{
    QColor c;
    const QStringList parts = text.split(u',');
    if (parts.size() == 3) {
        int rgb[3];
        for (int i = 0; i < 3; ++i) {
            if (!toInteger(parts.at(i), &rgb[i]) || rgb[i] < 0 || rgb[i] > 255) {
                *message = badValue(option, text, QStringLiteral("components run from 0 to 255"));
                return false;
            }
        }
        c = QColor(rgb[0], rgb[1], rgb[2]);
    } else {
        c = QColor::fromString(text.trimmed());
    }
    if (!c.isValid()) {
        *message = badValue(option, text,
                            QStringLiteral("not a colour such as teal, #007f7f or 0,127,127"));
        return false;
    }
    // The window's colours are opaque; so are these.
    c.setAlpha(255);
    *colour = c;
    return true;
}

bool readWindowEnd(const QString &text, WindowEnd *end)
{
    QString number = text.trimmed();
    end->percent = number.endsWith(u'%');
    if (end->percent)
        number.chop(1);
    return toNumber(number, &end->number);
}

bool readSetOptions(const QCommandLineParser &parser, RenderSetOptions *set, QString *message)
{
    if (parser.isSet(vColorOption)
        && !readColour(vColorOption, parser.value(vColorOption), &set->vColor, message)) {
        return false;
    }
    if (parser.isSet(sColorOption)
        && !readColour(sColorOption, parser.value(sColorOption), &set->sColor, message)) {
        return false;
    }
    if (parser.isSet(windowOption)) {
        const QString text = parser.value(windowOption);
        const QStringList ends = text.split(u':');
        if (ends.size() != 2 || !readWindowEnd(ends.at(0), &set->low)
            || !readWindowEnd(ends.at(1), &set->high)) {
            *message = badValue(windowOption, text,
                                QStringLiteral("not a window such as 10%:90% or 20:180"));
            return false;
        }
    }
    if (parser.isSet(sectionOption)) {
        const QString text = parser.value(sectionOption);
        int slider = 0;
        if (!toInteger(text, &slider) || slider < -100 || slider > 100) {
            *message = badValue(sectionOption, text,
                                QStringLiteral("not a whole number from -100 to 100"));
            return false;
        }
        set->showSection = true;
        set->slider = slider;
    }
    if (parser.isSet(fixDirOption))
        set->fixDir = true;
    if (parser.isSet(noFrameOption))
        set->showFrame = false;
    if (parser.isSet(noVolumeOption))
        set->showVolume = false;
    if (parser.isSet(spacingOption)) {
        const QString text = parser.value(spacingOption);
        const QStringList parts = text.split(u',');
        double spacing[3] = {};
        bool ok = parts.size() == 3;
        for (int i = 0; ok && i < 3; ++i)
            ok = toNumber(parts.at(i), &spacing[i]) && spacing[i] > 0;
        if (!ok) {
            *message = badValue(spacingOption, text,
                                QStringLiteral("not three millimetre spacings above 0, such as "
                                               "0.7,0.7,2.5"));
            return false;
        }
        set->spaced = true;
        set->columnSpacing = spacing[0];
        set->rowSpacing = spacing[1];
        set->sliceSpacing = spacing[2];
    }
    if (parser.isSet(cubicOption)) {
        if (set->spaced) {
            *message = QStringLiteral("--cubic and --spacing do not go together: a set's cells "
                                      "are cubes or spaced as given");
            return false;
        }
        set->cubic = true;
    }
    if (parser.isSet(samplingOption)) {
        const QString text = parser.value(samplingOption);
        if (!readSamplingChoice(text, &set->sampling)) {
            *message = badValue(samplingOption, text, QStringLiteral("not auto, planes or cells"));
            return false;
        }
    }
    if (parser.isSet(seriesOption)) {
        set->series = parser.value(seriesOption).trimmed();
        if (set->series.isEmpty()) {
            *message = badValue(seriesOption, set->series,
                                QStringLiteral("not a place in the list of series or a UID"));
            return false;
        }
    }
    return true;
}

bool readNumberOption(const QCommandLineParser &parser, const QCommandLineOption &option,
                      double *value, QString *message)
{
    if (!parser.isSet(option))
        return true;
    const QString text = parser.value(option);
    if (!toNumber(text, value)) {
        *message = badValue(option, text, QStringLiteral("not a number"));
        return false;
    }
    return true;
}

bool readGlobalOptions(const QCommandLineParser &parser, RenderOptions *options,
                       QString *message)
{
    if (parser.isSet(outputOption))
        options->output = parser.value(outputOption);
    if (parser.isSet(listSeriesOption))
        options->listSeries = true;
    if (parser.isSet(verboseOption))
        options->verbose = true;
    if (parser.isSet(sizeOption)
        && !readSize(parser.value(sizeOption), &options->width, &options->height, message)) {
        return false;
    }
    if (!readNumberOption(parser, zoomOption, &options->zoom, message)
        || !readNumberOption(parser, azimuthOption, &options->azimuth, message)
        || !readNumberOption(parser, elevationOption, &options->elevation, message)
        || !readNumberOption(parser, rollOption, &options->roll, message)) {
        return false;
    }
    if (parser.isSet(zoomOption) && !(options->zoom > 0)) {
        *message = badValue(zoomOption, parser.value(zoomOption),
                            QStringLiteral("world units per pixel must be above 0"));
        return false;
    }
    if (parser.isSet(centreOption)) {
        const QString text = parser.value(centreOption);
        const QStringList parts = text.split(u',');
        if (parts.size() != 3 || !toNumber(parts.at(0), &options->centre.x)
            || !toNumber(parts.at(1), &options->centre.y)
            || !toNumber(parts.at(2), &options->centre.z)) {
            *message = badValue(centreOption, text, QStringLiteral("not a point such as 0,0,10"));
            return false;
        }
    }
    if (parser.isSet(turnOption)) {
        const QString text = parser.value(turnOption);
        if (!toInteger(text, &options->turn) || options->turn < 1
            || options->turn > maxTurnFrames) {
            *message = badValue(turnOption, text,
                                QStringLiteral("not a number of frames from 1 to %1")
                                        .arg(maxTurnFrames));
            return false;
        }
    }
    return true;
}

// The arguments cut at each "--set"; nothing after "--" is cut.
QList<QStringList> segments(const QStringList &arguments)
{
    QList<QStringList> result(1);
    bool optionsEnded = false;
    for (const QString &argument : arguments) {
        if (!optionsEnded && argument == setMarker) {
            result.append(QStringList());
            continue;
        }
        if (!optionsEnded && argument.startsWith(setMarker + u'=')) {
            result.append(QStringList{ argument.mid(setMarker.size() + 1) });
            continue;
        }
        optionsEnded = optionsEnded || argument == QLatin1String("--");
        result.last().append(argument);
    }
    return result;
}

bool asksFor(const QStringList &arguments, const QCommandLineOption &option)
{
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--"))
            return false;
        for (const QString &name : option.names()) {
            if (argument == (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name)
                return true;
        }
    }
    return false;
}

} // namespace

RenderRequest parseRenderOptions(const QStringList &arguments, RenderOptions *options,
                                 QString *message)
{
    *options = RenderOptions();
    if (asksFor(arguments, helpOption))
        return RenderRequest::Help;
    if (asksFor(arguments, versionOption))
        return RenderRequest::Version;

    const QList<QStringList> parts = segments(arguments);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        QCommandLineParser parser;
        parser.addOptions({ outputOption, sizeOption, zoomOption, azimuthOption,
                            elevationOption, rollOption, centreOption, turnOption,
                            listSeriesOption, verboseOption });
        parser.addOptions(setOptions);
        if (!parser.parse(QStringList{ QStringLiteral("ctslab-render") } + parts.at(i))) {
            *message = parser.errorText();
            return RenderRequest::Error;
        }
        if (!readGlobalOptions(parser, options, message))
            return RenderRequest::Error;

        RenderSetOptions set;
        set.paths = parser.positionalArguments();
        const bool hasSetOptions = std::any_of(setOptions.cbegin(), setOptions.cend(),
                                               [&](const auto &o) { return parser.isSet(o); });
        // Before the first "--set", only files and folders make a set.
        if (i == 0 && set.paths.isEmpty()) {
            if (hasSetOptions) {
                *message = QStringLiteral("set options come after the files of their set");
                return RenderRequest::Error;
            }
            continue;
        }
        if (set.paths.isEmpty()) {
            *message = QStringLiteral("set %1 names no file or folder")
                               .arg(options->sets.size() + 1);
            return RenderRequest::Error;
        }
        if (!readSetOptions(parser, &set, message))
            return RenderRequest::Error;
        options->sets.append(set);
    }

    if (options->sets.isEmpty()) {
        *message = QStringLiteral("no set: name the files or folders of at least one");
        return RenderRequest::Error;
    }
    if (options->output.isEmpty() && !options->listSeries) {
        *message = QStringLiteral("no output file: name one with -o");
        return RenderRequest::Error;
    }
    return RenderRequest::Render;
}

QString renderHelpText()
{
    return QStringLiteral(
R"(Usage: ctslab-render [options] -o OUT FILE|FOLDER... [--set FILE|FOLDER... [set options]]...

Renders slice sets as ctslab shows them and writes the picture, without a window.
Each set is a list of slice files and folders (a folder gives its files in
name order); "--set" starts the next set. Files are read as the window reads
them: pictures (PNG, JPEG, BMP, GIF, PBM/PGM/PPM, WebP, TIFF with every page
of a multi-page file, and any other format this Qt reads), CT image text,
table text, DICOM (single- and multi-frame; uncompressed, RLE, JPEG, JPEG-LS
and JPEG 2000), NIfTI-1 and NIfTI-2 (.nii, .nii.gz, .hdr/.img), NRRD (.nrrd,
.nhdr) and MetaImage (.mha, .mhd). Of several DICOM series among a set's
files, the largest is drawn, or the one --series names. Files left out are
counted in one line per reason.

Options:
  -o, --output FILE     picture to write; its suffix names the format (png,
                        jpg, tif, bmp, ... whatever this Qt writes)
  --size WxH            picture size in pixels (default 256x256; one number
                        gives a square)
  --zoom Z              world units per pixel (default 1; smaller is larger)
  --azimuth DEG         turn about the screen's vertical axis, as a drag to
                        the right does (default 0)
  --elevation DEG       then tilt about the screen's horizontal axis, as a
                        drag upward does (default 0)
  --roll DEG            then roll about the direction of view, as a drag to
                        the right along the top edge does (default 0)
  --centre X,Y,Z        world point at the picture's centre (default 0,0,0)
  --turn N              write N frames of one full turn about the screen's
                        vertical axis, OUT with _0000, _0001, ... before its
                        suffix
  --list-series         list the DICOM series among each set's files, the
                        largest first, and render nothing (no -o needed)
  --verbose             name each file left out, with its reason, and show
                        what the readers said while loading
  -h, --help            show this text
  -v, --version         show the version

Set options (for the set whose files they follow):
  --volume-colour C     volume colour: a name (teal), #rrggbb or r,g,b
                        (default as the window's panels: 1st 0,127,127,
                        2nd 127,0,127, 3rd 127,127,0, then again)
  --section-colour C    section colour (default 127,0,0, 0,127,0, 0,0,127)
  --window LOW:HIGH     display window (default 0%:100%); each end is a value,
                        as typed into the panel's min or max field, or a
                        percentage, as the panel's threshold, of the range
                        between min and max
  --section POS         show the cross section at POS, -100..100 like the
                        panel's slider (default: not shown)
  --fix-dir             keep the section facing the first frame's view while
                        --turn turns (default: it faces every frame's view)
  --no-frame            leave out the set's frame
  --no-volume           leave out the set's volume
  --spacing C,R,S       millimetres between columns, rows and slices (default:
                        as the DICOM or volume files say; cubes for others)
  --cubic               draw the cells as cubes, whatever the files say
  --sampling S          auto, planes or cells (default auto: cells for a set
                        whose files give its spacing, planes for others)
  --series N|UID        of several DICOM series, the N-th of --list-series,
                        or the one with this Series Instance UID (default:
                        the largest)

An angle that is a multiple of 90 degrees, and every such frame of --turn,
turns exactly. Slice planes sample each slice where the rays cross its plane,
so a view exactly edge-on to the slices (--azimuth 90, --elevation 90) shows
only the frame; cells sample every cell a ray passes through and show the
volume from every side.

Progress goes to standard error when that is a terminal. Exit status: 0 on
success, 1 when a file cannot be read or written, 2 for a bad command line.

Example, a turntable movie of 36 frames:
  ctslab-render --size 512x512 --elevation 20 --turn 36 -o turn.png data/phantom \
      --sampling cells
  ffmpeg -framerate 12 -i turn_%04d.png turn.mp4
)");
}
