// Times the projection renderer on a CT-like head phantom with the views of
// the peer benchmark: straight down the slice axis ("default") and turned 30
// degrees about the screen's vertical axis and then 20 about its horizontal
// one ("oblique"); each frame is rolled half a degree further about the
// direction of view, so that no frame repeats the last. One pixel spans
// max(width, height) / image size cells, so the stack fills the image.
//
//   bench_render [--size WxHxS] [--dir FOLDER] [--frames N] [--rounds N] [--outline]
//                [--spacing Z] [--window] [WORD ...]
//
// Prints, per case, the median milliseconds per frame over all rounds, frames per second,
// nanoseconds per sample of the plain algorithm (rays times the slices each
// meets inside the grid) and the allocations per frame. --outline draws each
// set's frame too, as the window does by default. --spacing Z puts the
// slices Z columns apart. Each case samples by slice planes or by cells; a
// third view, "side", looks exactly along the rows, edge-on to the slices.
// Words pick the cases whose label holds all of them, for example
// "oblique 256 picture cells".
// --window drives the real main window instead (offscreen): the phantom is
// loaded through a panel and a rotation drag is timed, one mouse move per
// frame, each until the display has painted; with the word "cells" the panel
// samples by cells.
// The resident memory (VmRSS and its peak, VmHWM) is printed after the stack
// is built and after the first frame; the stack holds text copies (doubles)
// only when a text case is picked, and copies in 16-bit cells, as the scanner
// readers keep a CT series, only when a "scanner" case is.

#include "bench/phantom.h"
#include "bench/residentmemory.h"
#include "panel/colourscale.h"
#include "panel/slicesctrl.h"
#include "slices/cellwriter.h"
#include "slices/slice.h"
#include "slices/sliceruns.h"
#include "view/ctview.h"
#include "view/projection.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>
#include <numbers>
#include <vector>

namespace {

std::atomic<long long> allocations = 0;

} // namespace

void *operator new(std::size_t size)
{
    ++allocations;
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void *p) noexcept
{
    std::free(p);
}

void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

struct Options
{
    int w = 256;
    int h = 256;
    int s = 256;
    QString dir;
    int frames = 20;
    int rounds = 1;
    bool window = false;
    bool outline = false;
    double spacing = 1.0;
    QStringList words;
};

constexpr double degree = std::numbers::pi / 180.0;

ViewState viewFrame(const QString &name, int frame, double zoom)
{
    ViewState v;
    if (name == "oblique") {
        rotateAxes(v, v.ny, 30 * degree);
        rotateAxes(v, v.nx, 20 * degree);
    } else if (name == "side") {
        rotateAxes(v, v.ny, 0.0, 1.0); // a quarter turn, exactly
    }
    rotateAxes(v, v.nz, frame * 0.5 * degree);
    v.zoom = zoom;
    return v;
}

// Samples the plain slice-plane algorithm takes for one set: rays times the
// slices each meets inside the grid.
double plainSamples(const ViewState &v, int W, int H, int sw, int sh, const QList<double> &planes)
{
    double count = 0;
    for (int j = 0; j < H; ++j) {
        for (int i = 0; i < W; ++i) {
            const Vec3 p0 = rayOrigin(v, W, H, i, j);
            for (const double z : planes) {
                const double t = (z - p0.z) / v.nz.z;
                const double u = sw * 0.5 + (p0.x + t * v.nz.x);
                const double w = sh * 0.5 + (p0.y + t * v.nz.y);
                count += u > -1 && u < sw && w > -1 && w < sh;
            }
        }
    }
    return count;
}

// Processor time of all threads, which other work on the machine disturbs less.
double cpuMs()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec * 1e-6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

bool wanted(const QString &label, const QStringList &words)
{
    const QStringList parts = label.split(' ');
    for (const QString &word : words) {
        if (!parts.contains(word))
            return false;
    }
    return true;
}

// Owns the slices of the stack in both kinds.
struct Stack
{
    int sw = 0;
    int sh = 0;
    std::vector<std::unique_ptr<Slice>> pictures;
    std::vector<std::unique_ptr<Slice>> texts;
    std::vector<std::unique_ptr<Slice>> scanners;
    std::shared_ptr<const SliceRuns> pictureRuns;
    std::shared_ptr<const SliceRuns> textRuns;
    std::shared_ptr<const SliceRuns> scannerRuns;
};

std::unique_ptr<Slice> textCopy(const QImage &image)
{
    auto slice = std::make_unique<Slice>();
    slice->width = image.width();
    slice->height = image.height();
    slice->rows.resize(image.height());
    for (int y = 0; y < image.height(); ++y) {
        slice->rows[y].resize(image.width());
        for (int x = 0; x < image.width(); ++x)
            slice->rows[y][x] = image.constScanLine(y)[x];
    }
    return slice;
}

// The same values as a scanner reader keeps them: 16-bit cells alone.
std::unique_ptr<Slice> scannerCopy(const QImage &image)
{
    auto slice = std::make_unique<Slice>();
    CellWriter cells;
    const int w = image.width();
    if (!cells.begin(*slice, w, image.height())
        || !cells.fill(qsizetype(w) * image.height(),
                       [&](qsizetype i) { return image.constScanLine(int(i / w))[i % w]; })) {
        return nullptr;
    }
    return slice;
}

bool makeStack(const Options &o, Stack &stack, bool withTexts, bool withScanners)
{
    QStringList names;
    if (!o.dir.isEmpty()) {
        const QDir dir(o.dir);
        for (const QString &name : dir.entryList({"*.png"}, QDir::Files, QDir::Name))
            names.append(dir.filePath(name));
    }
    const int count = names.isEmpty() ? o.s : int(names.size());
    for (int k = 0; k < count; ++k) {
        auto slice = std::make_unique<Slice>();
        if (names.isEmpty()) {
            slice->isImage = true;
            slice->image = phantom::slice(o.w, o.h, o.s, k);
            slice->width = o.w;
            slice->height = o.h;
        } else if (!slice->load(names[k])) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(names[k]));
            return false;
        }
        if (withTexts || withScanners) {
            const QImage grey = slice->image.convertToFormat(QImage::Format_Grayscale8);
            if (withTexts)
                stack.texts.push_back(textCopy(grey));
            if (withScanners)
                stack.scanners.push_back(scannerCopy(grey));
        }
        stack.pictures.push_back(std::move(slice));
    }
    stack.sw = stack.pictures.front()->width;
    stack.sh = stack.pictures.front()->height;
    // The summaries are made once, as at loading; not part of a frame.
    const auto runsOf = [&stack](const std::vector<std::unique_ptr<Slice>> &slices) {
        QList<const Slice *> list;
        for (const auto &slice : slices)
            list.append(slice.get());
        return SliceRuns::of(list, stack.sw, stack.sh,
                             [](int n, const std::function<void(int)> &work) {
                                 for (int i = 0; i < n; ++i)
                                     work(i);
                             });
    };
    stack.pictureRuns = runsOf(stack.pictures);
    stack.textRuns = runsOf(stack.texts);
    stack.scannerRuns = runsOf(stack.scanners);
    return true;
}

SetSnapshot setOf(const Stack &stack, const QString &kind, int n, const Options &o,
                  Sampling sampling)
{
    static const QColor volume[] = {{0, 127, 127}, {127, 0, 127}, {127, 127, 0}};
    static const QColor section[] = {{127, 0, 0}, {0, 127, 0}, {0, 0, 127}};
    SetSnapshot set;
    const auto &slices = kind == "text" ? stack.texts
            : kind == "scanner"         ? stack.scanners
                                        : stack.pictures;
    for (const auto &slice : slices)
        set.slices.append(slice.get());
    set.sw = stack.sw;
    set.sh = stack.sh;
    set.runs = kind == "text" ? stack.textRuns
            : kind == "scanner"   ? stack.scannerRuns
                                  : stack.pictureRuns;
    set.showFrame = o.outline;
    set.sampling = sampling;
    set.shape = spacedShape(int(set.slices.size()), 1.0, 1.0, o.spacing);
    set.vColor = volume[n % 3];
    set.sColor = section[n % 3];
    const ColourWindow window = colourWindow(0, 255, 0, 100);
    set.windowLow = window.low;
    set.windowHigh = window.high;
    return set;
}

QString caseLabel(int pixels, const char *kind, const char *view, const char *sampling, int sets,
                  bool section)
{
    return QString("%1 %2 %3 %4 %5 sets%6")
            .arg(pixels)
            .arg(kind, view, sampling, section ? "shown" : "hidden")
            .arg(sets);
}

// Whether any case of this kind is picked.
bool kindWanted(const char *kind, const QStringList &words)
{
    for (int pixels : {256, 1024}) {
        for (const char *view : {"default", "oblique", "side"}) {
            for (const char *sampling : {"planes", "cells"}) {
                for (int sets : {1, 3}) {
                    for (bool section : {false, true}) {
                        if (wanted(caseLabel(pixels, kind, view, sampling, sets, section), words))
                            return true;
                    }
                }
            }
        }
    }
    return false;
}

void printMemory(const char *when, double cells)
{
    const bench::Memory memory = bench::residentMemory();
    std::printf("memory %s: VmRSS %.0f MB, VmHWM %.0f MB (%.2f and %.2f bytes a cell)\n", when,
                memory.rss, memory.peak, memory.rss * 1048576 / cells,
                memory.peak * 1048576 / cells);
}

struct Case
{
    int pixels;
    const char *view;
    const char *kind;
    const char *sampling;
    int sets;
    bool section;
    double samples;
    QList<SetSnapshot> list;
    std::vector<double> ms;
    double cpu = 0.0;
    long long allocs = 0;
};

void timeCase(Case &c, const Options &o, QImage &image, double zoom)
{
    renderScene(image, viewFrame(c.view, 0, zoom), c.list); // warm-up
    const long long before = allocations;
    const double cpuBefore = cpuMs();
    for (int frame = 1; frame <= o.frames; ++frame) {
        const ViewState v = viewFrame(c.view, frame, zoom);
        QElapsedTimer timer;
        timer.start();
        renderScene(image, v, c.list);
        c.ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    c.allocs += allocations - before;
    c.cpu += cpuMs() - cpuBefore;
}

int renderCases(const Options &o)
{
    Stack stack;
    const bool withTexts = kindWanted("text", o.words);
    const bool withScanners = kindWanted("scanner", o.words);
    if (!makeStack(o, stack, withTexts, withScanners))
        return 1;
    const int ss = int(stack.pictures.size());
    std::printf("stack %dx%dx%d, render threads %d, %d frames per case in each of %d rounds\n",
                stack.sw, stack.sh, ss, QThread::idealThreadCount(), o.frames, o.rounds);
    const double cells = double(stack.sw) * stack.sh * ss;
    const QString held = QStringLiteral("after building the stack (pictures%1%2)")
                                 .arg(withTexts ? ", texts" : "", withScanners ? ", 16-bit cells" : "");
    printMemory(qPrintable(held), cells);
    std::vector<Case> cases;
    for (int pixels : {256, 1024}) {
        const double zoom = double(std::max(stack.sw, stack.sh)) / pixels;
        for (const char *view : {"default", "oblique", "side"}) {
            for (const char *kind : {"picture", "text", "scanner"}) {
                for (const char *sampling : {"planes", "cells"}) {
                    for (int sets : {1, 3}) {
                        for (bool section : {false, true}) {
                            const QString label = caseLabel(pixels, kind, view, sampling,
                                                            sets, section);
                            if (!wanted(label, o.words))
                                continue;
                            Case c{pixels, view, kind, sampling, sets, section,
                                   plainSamples(viewFrame(view, 0, zoom), pixels, pixels,
                                                stack.sw, stack.sh,
                                                spacedShape(ss, 1.0, 1.0, o.spacing).z),
                                   {}, {}};
                            c.ms.reserve(size_t(o.frames) * size_t(o.rounds));
                            const Sampling how = QString(sampling) == "cells" ? Sampling::Cells
                                                                              : Sampling::Planes;
                            for (int n = 0; n < sets; ++n) {
                                c.list.append(setOf(stack, kind, n, o, how));
                                c.list.back().showSection = section;
                                c.list.back().nz = viewFrame(view, 0, zoom).nz;
                            }
                            cases.push_back(std::move(c));
                        }
                    }
                }
            }
        }
    }
    // Rounds pass over every case in turn, so that a spell of load on a
    // shared machine falls on all of them alike.
    QImage small(256, 256, QImage::Format_ARGB32);
    QImage large(1024, 1024, QImage::Format_ARGB32);
    if (!cases.empty()) {
        // One frame more, untimed, for what the first one holds and takes.
        Case &c = cases.front();
        const double zoom = double(std::max(stack.sw, stack.sh)) / c.pixels;
        QElapsedTimer timer;
        timer.start();
        renderScene(c.pixels == 256 ? small : large, viewFrame(c.view, 0, zoom), c.list);
        std::printf("first frame (%dx%d %s %s %s): %.2f ms\n", c.pixels, c.pixels, c.kind,
                    c.view, c.sampling, timer.nsecsElapsed() / 1e6);
        printMemory("after the first frame", cells);
    }
    for (int round = 0; round < o.rounds; ++round) {
        for (Case &c : cases) {
            QImage &image = c.pixels == 256 ? small : large;
            timeCase(c, o, image, double(std::max(stack.sw, stack.sh)) / c.pixels);
        }
    }
    if (!cases.empty())
        printMemory("after every case", cells);
    std::printf("%-9s %-7s %-9s %-7s %-8s %-5s %9s %8s %9s %9s %9s %7s\n", "image", "kind",
                "view", "sampling", "section", "sets", "ms", "fps", "cpu ms", "ns/sample",
                "Msamples", "allocs");
    for (Case &c : cases) {
        const double frames = double(c.ms.size());
        const double m = median(c.ms);
        std::printf("%-9s %-7s %-9s %-7s %-8s %-5d %9.2f %8.1f %9.2f %9.3f %9.1f %7.1f\n",
                    qPrintable(QString("%1x%1").arg(c.pixels)), c.kind, c.view, c.sampling,
                    c.section ? "shown" : "hidden", c.sets, m, 1000.0 / m, c.cpu / frames,
                    c.samples > 0 ? m * 1e6 / (c.samples * c.sets) : 0.0, c.samples / 1e6, double(c.allocs) / frames);
    }
    return 0;
}

// Counts the display's paints, so that a timed move ends with its paint.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

void sendMouse(QWidget *w, QEvent::Type type, QPoint at, Qt::MouseButtons held)
{
    QMouseEvent e(type, at, w->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton
                                                                          : Qt::LeftButton,
                  held, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

int dragWindow(const Options &o)
{
    QTemporaryDir folder;
    QStringList names;
    if (!o.dir.isEmpty()) {
        const QDir dir(o.dir);
        for (const QString &name : dir.entryList({"*.png"}, QDir::Files, QDir::Name))
            names.append(dir.filePath(name));
    } else {
        for (int k = 0; k < o.s; ++k) {
            names.append(folder.filePath(QString("slice_%1.png").arg(k, 4, 10, QChar('0'))));
            phantom::slice(o.w, o.h, o.s, k).save(names.back());
        }
    }

    CtView view;
    view.resize(900, 1000);
    view.show();
    QWidget *display = view.findChild<QWidget *>("dispA_");
    SlicesCtrl *panel = view.sCtrls.front();
    QElapsedTimer loading;
    loading.start();
    QMetaObject::invokeMethod(panel, "selectFiles");
    emit panel->fileDialog->filesSelected(names);
    panel->fileDialog->close();
    while (!panel->sliceDatas.loaded || panel->minV() == panel->maxV())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    QCoreApplication::processEvents();
    // "cells" samples by cells; --spacing puts the slices that far apart.
    if (o.words.contains("cells"))
        panel->sampling = SamplingChoice::Cells;
    if (o.spacing != 1.0)
        panel->sliceDatas.setSpacing(1.0, 1.0, o.spacing);
    std::printf("loaded %lld slices in %.0f ms; display %dx%d, image %sx%s\n",
                qlonglong(names.size()), loading.elapsed() * 1.0, display->width(),
                display->height(), qPrintable(view.findChild<QLineEdit *>("imgPixWidth_")->text()),
                qPrintable(view.findChild<QLineEdit *>("imgPixHeight_")->text()));

    PaintCounter counter;
    display->installEventFilter(&counter);
    const QPoint centre(display->width() / 2, display->height() / 2);
    sendMouse(display, QEvent::MouseButtonPress, centre, Qt::LeftButton);
    std::vector<double> ms;
    int missed = 0;
    for (int frame = 1; frame <= o.frames + 1; ++frame) {
        const int paints = counter.paints;
        QElapsedTimer timer;
        timer.start();
        sendMouse(display, QEvent::MouseMove, centre + QPoint(2 * frame, frame), Qt::LeftButton);
        while (counter.paints == paints && timer.elapsed() < 2000)
            QCoreApplication::processEvents();
        missed += counter.paints == paints;
        if (frame > 1) // the first move warms up
            ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    sendMouse(display, QEvent::MouseButtonRelease, centre, Qt::NoButton);
    const double m = median(ms);
    std::printf("rotation drag: median %.2f ms per mouse move until painted (%.1f per second), "
                "%d moves, %d without a paint\n",
                m, 1000.0 / m, int(ms.size()), missed);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == "--size" && i + 1 < argc) {
            const QStringList parts = QString::fromLocal8Bit(argv[++i]).split('x');
            if (parts.size() == 3) {
                o.w = parts[0].toInt();
                o.h = parts[1].toInt();
                o.s = parts[2].toInt();
            }
        } else if (arg == "--dir" && i + 1 < argc) {
            o.dir = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == "--frames" && i + 1 < argc) {
            o.frames = std::max(1, QString::fromLocal8Bit(argv[++i]).toInt());
        } else if (arg == "--rounds" && i + 1 < argc) {
            o.rounds = std::max(1, QString::fromLocal8Bit(argv[++i]).toInt());
        } else if (arg == "--spacing" && i + 1 < argc) {
            o.spacing = QString::fromLocal8Bit(argv[++i]).toDouble();
            if (!(o.spacing > 0)) {
                std::fprintf(stderr, "bad --spacing\n");
                return 2;
            }
        } else if (arg == "--outline") {
            o.outline = true;
        } else if (arg == "--window") {
            o.window = true;
        } else {
            o.words.append(arg);
        }
    }
    if (o.w < 1 || o.h < 1 || o.s < 1) {
        std::fprintf(stderr, "bad --size\n");
        return 2;
    }
    if (o.window) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return dragWindow(o);
    }
    QCoreApplication app(argc, argv);
    return renderCases(o);
}
