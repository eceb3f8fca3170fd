#include "app/renderjob.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QTextStream>

#include <QMutex>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>
#include <vector>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

#include "slices/dicomreader.h"
#include "slices/slicedatas.h"
#include "view/projection.h"
#include "view/setcolours.h"

namespace {

// One line on a terminal, redrawn in place: a bar, the share done and what
// is going on. Nothing at all when the messages go elsewhere.
class Progress
{
public:
    Progress(QTextStream &err, bool shown, int total) : err(err), shown(shown), total(total) { }

    void show(int done, const QString &what)
    {
        if (!shown)
            return;
        constexpr int barWidth = 30;
        const int filled = total > 0 ? int(qint64(barWidth) * done / total) : barWidth;
        const int percent = total > 0 ? int(qint64(100) * done / total) : 100;
        QString line = QStringLiteral("[%1%2] %3% %4")
                               .arg(QString(filled, u'#'), QString(barWidth - filled, u'-'))
                               .arg(percent, 3)
                               .arg(what);
        const qsizetype length = line.size();
        // Blanks over whatever the longer line before left behind.
        line += QString(std::max<qsizetype>(0, lastLength - length), u' ');
        lastLength = length;
        err << '\r' << line;
        err.flush();
        open = true;
    }

    // Ends the line, so that what is written next starts on a line of its own.
    void finish()
    {
        if (!open)
            return;
        err << '\n';
        err.flush();
        open = false;
    }

private:
    QTextStream &err;
    bool shown;
    int total;
    qsizetype lastLength = 0;
    bool open = false;
};

// The range as the panel's fields show it after a load, six significant digits.
double shownNumber(double v)
{
    return QString::number(v, 'g', 6).toDouble();
}

SetSnapshot snapshotOf(const SliceDatas &data, const RenderSetOptions &set, int index)
{
    SetSnapshot snapshot;
    for (const Slice *slice : data.slices)
        snapshot.slices.append(slice);
    snapshot.sw = data.width;
    snapshot.sh = data.height;
    snapshot.showFrame = set.showFrame;
    snapshot.showVolume = set.showVolume;
    snapshot.showSection = set.showSection;
    snapshot.slider = set.slider;
    const SetColours colours = coloursFor(index);
    snapshot.vColor = set.vColor.isValid() ? set.vColor : colours.volume;
    snapshot.sColor = set.sColor.isValid() ? set.sColor : colours.section;
    const ColourWindow window = renderWindow(set, data.min, data.max);
    snapshot.windowLow = window.low;
    snapshot.windowHigh = window.high;
    const int ss = int(data.slices.size());
    if (set.cubic) {
        snapshot.shape = cubicShape(ss);
    } else if (set.spaced) {
        snapshot.shape = spacedShape(ss, set.columnSpacing, set.rowSpacing, set.sliceSpacing);
    } else {
        snapshot.shape = data.shape;
    }
    // Only what the files say makes Automatic take cells; a spacing given
    // here does not.
    snapshot.sampling = resolvedSampling(set.sampling, data.fileShape.measured());
    return snapshot;
}

struct Turn
{
    double cosine;
    double sine;
};

Turn quarterTurns(qint64 quarters)
{
    switch ((quarters % 4 + 4) % 4) {
    case 0:
        return { 1.0, 0.0 };
    case 1:
        return { 0.0, 1.0 };
    case 2:
        return { -1.0, 0.0 };
    default:
        return { 0.0, -1.0 };
    }
}

// A multiple of 90 degrees turns exactly, so that an edge-on or flipped view
// is one. The angle 0 goes the general way, which is exact for it too and
// keeps the sign of -0.
Turn degreeTurn(double degrees)
{
    if (degrees != 0 && std::fmod(degrees, 90.0) == 0)
        return quarterTurns(qint64(std::fmod(degrees, 360.0) / 90));
    const double th = radians(degrees);
    return { std::cos(th), std::sin(th) };
}

// Frame k of n lies on a quarter turn when 4k is a multiple of n.
Turn frameTurn(int frame, int frames)
{
    const qint64 quarters = 4 * qint64(frame);
    if (quarters % frames == 0)
        return quarterTurns(quarters / frames);
    const double th = turnAngle(frame, frames);
    return { std::cos(th), std::sin(th) };
}

void turn(ViewState &view, const Vec3 &rax, Turn t)
{
    rotateAxes(view, rax, t.cosine, t.sine);
}

// A text as the debug stream quotes it, starting at `at`; *end is the index
// after its closing quote, or -1 when there is none.
QString unquoted(const QString &text, qsizetype at, qsizetype *end)
{
    *end = -1;
    if (at >= text.size() || text.at(at) != u'"')
        return {};
    QString plain;
    for (qsizetype i = at + 1; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'"') {
            *end = i + 1;
            return plain;
        }
        if (c != u'\\' || i + 1 >= text.size()) {
            plain += c;
            continue;
        }
        const QChar escaped = text.at(++i);
        if (escaped == u'n') {
            plain += u'\n';
        } else if (escaped == u't') {
            plain += u'\t';
        } else if (escaped == u'r') {
            plain += u'\r';
        } else if (escaped == u'u' && i + 4 < text.size()) {
            plain += QChar(text.mid(i + 1, 4).toUShort(nullptr, 16));
            i += 4;
        } else {
            plain += escaped;
        }
    }
    return {};
}

// One file, or the slices of one file, that a load left out.
struct Skip
{
    QString name;
    QString reason;
    int count = 1;
};

// While it lives, what the loading says goes here instead of to standard
// error: the files left out, each with its reason, and anything the readers
// and their libraries say, which matters only for a file that then loads.
// Reading threads speak too, hence the lock.
class LoadMessages
{
public:
    LoadMessages()
    {
        current = this;
        previous = qInstallMessageHandler(&LoadMessages::take);
    }
    ~LoadMessages()
    {
        qInstallMessageHandler(previous);
        current = nullptr;
    }
    Q_DISABLE_COPY_MOVE(LoadMessages)

    QList<Skip> skips;
    QStringList said;

private:
    static void take(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type != QtDebugMsg && type != QtInfoMsg && type != QtWarningMsg) {
            previous(type, context, message);
            return;
        }
        QMutexLocker lock(&guard);
        current->note(message);
    }

    void note(const QString &message)
    {
        static const QRegularExpression budget(
                QStringLiteral("^Slice memory budget reached, (?:(\\d+) slices of the )?file "
                               "skipped : \""));
        qsizetype end = -1;
        if (message.startsWith(QLatin1String("Skipped \""))) {
            const QString name = unquoted(message, 8, &end);
            if (end > 0) {
                const QString reason = unquoted(message, end + 1, &end);
                if (end > 0) {
                    skips.append({ name, reason });
                    return;
                }
            }
        } else if (const QRegularExpressionMatch match = budget.match(message); match.hasMatch()) {
            const QString name = unquoted(message, match.capturedEnd() - 1, &end);
            if (end > 0) {
                const int count = match.hasCaptured(1) ? match.captured(1).toInt() : 1;
                skips.append({ name, QStringLiteral("beyond the memory budget"), count });
                return;
            }
        }
        said.append(message);
    }

    static inline LoadMessages *current = nullptr;
    static inline QtMessageHandler previous = nullptr;
    static inline QMutex guard;
};

// The reason a summary counts a skip under: files of other sizes, or flat
// ones, together whatever their sizes or values.
QString reasonKind(const QString &reason)
{
    static const QRegularExpression otherSize(
            QStringLiteral("^\\d+ x \\d+, the set's slices are (\\d+ x \\d+)$"));
    if (reason.startsWith(QLatin1String("flat:")))
        return QStringLiteral("flat, every value the same");
    if (const QRegularExpressionMatch match = otherSize.match(reason); match.hasMatch())
        return QStringLiteral("of another size than the set's %1").arg(match.captured(1));
    return reason;
}

// One line per reason with its count, in the order the reasons first came;
// with verbose, each file below its line.
void reportSkips(QTextStream &err, qsizetype set, const QList<Skip> &skips, bool verbose)
{
    QStringList kinds;
    QList<int> counts;
    QList<QStringList> names;
    for (const Skip &skip : skips) {
        const QString kind = reasonKind(skip.reason);
        qsizetype at = kinds.indexOf(kind);
        if (at < 0) {
            at = kinds.size();
            kinds.append(kind);
            counts.append(0);
            names.append(QStringList());
        }
        counts[at] += skip.count;
        names[at].append(skip.count > 1 ? QStringLiteral("%1 (%2 slices): %3")
                                                  .arg(skip.name)
                                                  .arg(skip.count)
                                                  .arg(skip.reason)
                                        : skip.name + QLatin1String(": ") + skip.reason);
    }
    for (qsizetype i = 0; i < kinds.size(); ++i) {
        err << QStringLiteral("ctslab-render: set %1: %2 left out: %3\n")
                        .arg(set + 1)
                        .arg(counts.at(i))
                        .arg(kinds.at(i));
        if (verbose) {
            for (const QString &line : names.at(i))
                err << "    " << line << '\n';
        }
    }
}

// Whether some value of min..max lies where the window draws it, with an
// intensity above 0; a window turned upside down draws too.
bool windowShowsRange(const ColourWindow &window, double min, double max)
{
    if (!(window.high != window.low))
        return false;
    const auto t = [&window](double v) {
        return (v - window.low) / (window.high - window.low) * 256;
    };
    const double a = t(min);
    const double b = t(max);
    // Spans beyond the double range: no warning rather than a wrong one.
    if (!std::isfinite(a) || !std::isfinite(b))
        return true;
    return std::max(a, b) > 0 && std::min(a, b) <= 255;
}

void fail(QTextStream &err, const QString &message)
{
    err << "ctslab-render: " << message << '\n';
    err.flush();
}

QString seriesLine(int place, const DicomSeries &series)
{
    const auto mm = [](double v) { return v > 0 ? QString::number(v, 'f', 2) : QStringLiteral("?"); };
    return QStringLiteral("  %1  %2 images  %3 x %4  %5 x %6 x %7 mm  %8  \"%9\"  %10\n")
            .arg(place)
            .arg(series.images)
            .arg(series.columns)
            .arg(series.rows)
            .arg(mm(series.columnMm), mm(series.rowMm), mm(series.sliceMm),
                 series.modality.isEmpty() ? QStringLiteral("-") : series.modality,
                 series.description, series.uid);
}

QString seriesList(qsizetype set, const QList<DicomSeries> &series)
{
    QString text = QStringLiteral("set %1: %2 DICOM series\n").arg(set + 1).arg(series.size());
    for (qsizetype i = 0; i < series.size(); ++i)
        text += seriesLine(int(i + 1), series.at(i));
    return text;
}

// The files of the series asked for (or the largest of several) and the
// other files; with a word in *why when there was a choice to make, and
// nothing when the series asked for is not there.
QStringList seriesFiles(const QStringList &files, const QString &asked, QString *why)
{
    const SelectionSurvey survey = surveySelection(files);
    if (asked.isEmpty()) {
        if (survey.series.size() > 1) {
            const DicomSeries &largest = survey.series.first();
            *why = QStringLiteral("%1 DICOM series; drawing the largest, \"%2\" (%3 images); "
                                  "--list-series lists them, --series picks one")
                           .arg(survey.series.size())
                           .arg(largest.description)
                           .arg(largest.images);
        }
        return files;
    }
    for (const DicomSeries &series : survey.series) {
        if (series.uid == asked)
            return series.files + survey.others;
    }
    bool isPlace = false;
    const int place = asked.toInt(&isPlace);
    if (isPlace && place >= 1 && place <= survey.series.size())
        return survey.series.at(place - 1).files + survey.others;
    *why = QStringLiteral("no DICOM series %1 among its files (%2 series; --list-series lists "
                          "them)")
                   .arg(asked)
                   .arg(survey.series.size());
    return {};
}

} // namespace

QStringList setFiles(const QStringList &paths, QString *missing)
{
    QStringList files;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isDir()) {
            const QDir dir(path);
            for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
                files << dir.filePath(name);
        } else if (info.exists()) {
            files << path;
        } else {
            *missing = path;
            return {};
        }
    }
    return files;
}

ColourWindow renderWindow(const RenderSetOptions &set, double min, double max)
{
    // A value stands in the min or max field, a percentage in the threshold
    // field next to it; the other field keeps what a load put there.
    const double minV = set.low.percent ? shownNumber(min) : set.low.number;
    const double maxV = set.high.percent ? shownNumber(max) : set.high.number;
    return colourWindow(minV, maxV, set.low.percent ? set.low.number : 0.0,
                        set.high.percent ? set.high.number : 100.0);
}

double radians(double degrees)
{
    return degrees * std::numbers::pi / 180;
}

double turnAngle(int frame, int frames)
{
    return 2 * std::numbers::pi * frame / frames;
}

ViewState frameView(const RenderOptions &options, int frame)
{
    ViewState view;
    view.zoom = options.zoom;
    view.centre = options.centre;
    // The same turns as drags on the display: to the right, upward, and to
    // the right along its top edge.
    turn(view, view.ny, degreeTurn(options.azimuth));
    turn(view, view.nx, degreeTurn(options.elevation));
    turn(view, view.nz, degreeTurn(options.roll));
    if (options.turn > 0 && frame > 0)
        turn(view, view.ny, frameTurn(frame, options.turn));
    return view;
}

QString frameFileName(const QString &output, int frame, int frames)
{
    if (frames < 1)
        return output;
    const int digits = std::max(4, int(QString::number(frames - 1).size()));
    const QString number = QStringLiteral("_%1").arg(frame, digits, 10, QLatin1Char('0'));
    const QString suffix = QFileInfo(output).suffix();
    if (suffix.isEmpty())
        return output + number;
    return output.chopped(suffix.size() + 1) + number + u'.' + suffix;
}

bool stderrIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stderr));
#else
    return isatty(fileno(stderr));
#endif
}

int runRender(const QStringList &arguments, QTextStream &out, QTextStream &err, bool progress)
{
    RenderOptions options;
    QString message;
    switch (parseRenderOptions(arguments, &options, &message)) {
    case RenderRequest::Help:
        out << renderHelpText();
        return RenderSucceeded;
    case RenderRequest::Version:
        out << "ctslab-render " << QCoreApplication::applicationVersion() << '\n';
        return RenderSucceeded;
    case RenderRequest::Error:
        fail(err, message);
        err << "Try ctslab-render --help.\n";
        return RenderBadCommandLine;
    case RenderRequest::Render:
        break;
    }

    const QString suffix = QFileInfo(options.output).suffix();
    if (!options.listSeries && !QImageWriter::supportedImageFormats().contains(suffix.toLower().toLatin1())) {
        fail(err, QStringLiteral("cannot write pictures named \"%1\": give the output a suffix "
                                 "this Qt writes, such as .png, .jpg or .tif")
                          .arg(options.output));
        return RenderBadCommandLine;
    }

    QList<QStringList> files;
    int total = std::max(1, options.turn);
    for (qsizetype i = 0; i < options.sets.size(); ++i) {
        QString missing;
        files.append(setFiles(options.sets.at(i).paths, &missing));
        if (!missing.isEmpty()) {
            fail(err, QStringLiteral("no such file or folder: %1").arg(missing));
            return RenderFailed;
        }
        if (files.last().isEmpty()) {
            fail(err, QStringLiteral("set %1 holds no files: %2")
                              .arg(i + 1)
                              .arg(options.sets.at(i).paths.join(u' ')));
            return RenderFailed;
        }
        total += int(files.last().size());
    }

    if (options.listSeries) {
        for (qsizetype i = 0; i < files.size(); ++i)
            out << seriesList(i, surveySelection(files.at(i)).series);
        return RenderSucceeded;
    }

    Progress bar(err, progress, total);
    int done = 0;
    std::vector<std::unique_ptr<SliceDatas>> data;
    for (qsizetype i = 0; i < options.sets.size(); ++i) {
        data.push_back(std::make_unique<SliceDatas>());
        SliceDatas &set = *data.back();
        const QString what = QStringLiteral("loading set %1").arg(i + 1);
        bar.show(done, what);
        QString why;
        const QStringList chosen = seriesFiles(files.at(i), options.sets.at(i).series, &why);
        if (!why.isEmpty()) {
            bar.finish();
            if (chosen.isEmpty()) {
                fail(err, QStringLiteral("set %1: %2").arg(i + 1).arg(why));
                return RenderFailed;
            }
            err << QStringLiteral("ctslab-render: set %1: %2\n").arg(i + 1).arg(why);
        }
        int kept = 0;
        // A file may hold many slices: the bar counts files, never beyond them.
        const int count = int(chosen.size());
        QObject::connect(&set, &SliceDatas::loadedNewFile, &set, [&] {
            ++kept;
            bar.show(done + std::min(kept, count), what);
        });
        QList<Skip> skips;
        QStringList said;
        {
            LoadMessages messages;
            // The window's own loading, run here rather than on a worker thread.
            set.filesSelected(chosen);
            skips = messages.skips;
            said = messages.said;
        }
        done += count;
        if (!skips.isEmpty() || (options.verbose && !said.isEmpty()))
            bar.finish();
        if (options.verbose) {
            for (const QString &line : std::as_const(said))
                err << "ctslab-render: set " << (i + 1) << ": " << line << '\n';
        }
        if (!set.loaded) {
            bar.finish();
            fail(err, QStringLiteral("set %1: none of its %2 files could be read as a slice")
                              .arg(i + 1)
                              .arg(count));
            reportSkips(err, i, skips, options.verbose);
            return RenderFailed;
        }
        if (set.account.filesLoaded < count) {
            bar.finish();
            err << QStringLiteral("ctslab-render: set %1: %2 of %3 files taken\n")
                            .arg(i + 1)
                            .arg(set.account.filesLoaded)
                            .arg(count);
        }
        reportSkips(err, i, skips, options.verbose);
    }

    QList<SetSnapshot> sets;
    for (qsizetype i = 0; i < options.sets.size(); ++i) {
        const RenderSetOptions &set = options.sets.at(i);
        sets.append(snapshotOf(*data.at(i), set, int(i)));
        // Spacings far enough apart overflow the shape's arithmetic, which
        // then gives cubes; say so rather than draw them quietly.
        const ColourWindow window{ sets.last().windowLow, sets.last().windowHigh };
        const SliceDatas &values = *data.at(i);
        if (set.showVolume && !windowShowsRange(window, values.min, values.max)) {
            bar.finish();
            err << QStringLiteral("ctslab-render: set %1: the window %2:%3 shows none of its "
                                  "values, which run from %4 to %5; its volume stays blank\n")
                            .arg(i + 1)
                            .arg(window.low, 0, 'g', 6)
                            .arg(window.high, 0, 'g', 6)
                            .arg(values.min, 0, 'g', 6)
                            .arg(values.max, 0, 'g', 6);
        }
        if (set.spaced && !sets.last().shape.measured()) {
            bar.finish();
            err << QStringLiteral("ctslab-render: set %1: the spacing %2,%3,%4 gives no shape "
                                  "that can be drawn; the cells are drawn as cubes\n")
                            .arg(i + 1)
                            .arg(set.columnSpacing)
                            .arg(set.rowSpacing)
                            .arg(set.sliceSpacing);
        }
    }

    QImage image(options.width, options.height, QImage::Format_ARGB32);
    if (image.isNull()) {
        bar.finish();
        fail(err, QStringLiteral("no memory for a picture of %1x%2 pixels")
                          .arg(options.width)
                          .arg(options.height));
        return RenderFailed;
    }
    const int frames = std::max(1, options.turn);
    const ViewState first = frameView(options, 0);
    for (int k = 0; k < frames; ++k) {
        const ViewState view = frameView(options, k);
        for (qsizetype i = 0; i < sets.size(); ++i)
            sets[i].nz = options.sets.at(i).fixDir ? first.nz : view.nz;
        bar.show(done, QStringLiteral("rendering frame %1 of %2").arg(k + 1).arg(frames));
        renderScene(image, view, sets);
        const QString name = frameFileName(options.output, k, options.turn);
        QImageWriter writer(name, suffix.toLower().toLatin1());
        if (!writer.write(image.convertToFormat(QImage::Format_RGB32))) {
            bar.finish();
            fail(err, QStringLiteral("cannot write %1: %2").arg(name, writer.errorString()));
            return RenderFailed;
        }
        ++done;
    }
    bar.show(done, QStringLiteral("done"));
    bar.finish();
    return RenderSucceeded;
}
