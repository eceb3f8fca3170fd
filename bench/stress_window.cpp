// Drives the real main window offscreen through what a restless user does and
// prints what it did: loads again and again while the view is dragged round,
// panels added while loads run, windows closed in the middle of a load, every
// fuzz corpus file through a panel's load path, and many loads of one set with
// the peak resident memory at the start and at the end.
//
//     stress_window [repeated loads] [extra corpus folder ...]   (default 1000)

#include "bench/residentmemory.h"
#include "panel/slicesctrl.h"
#include "view/ctview.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QHash>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <functional>
#include <shared_mutex>

namespace {

struct Counts
{
    int loads = 0;
    qint64 slicesAccepted = 0;
    int dragSteps = 0;
    int panelsAdded = 0;
    int windowsClosed = 0;
    int corpusFiles = 0;
    int corpusAccepted = 0;
};

Counts counts;

QStringList writeSlices(const QString &dir, const QString &stem, int count, int side)
{
    QStringList names;
    for (int k = 0; k < count; ++k) {
        QImage image(side, side, QImage::Format_Grayscale8);
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                const double r = std::hypot(x - side / 2.0, y - side / 2.0);
                image.scanLine(y)[x] = uchar(r < side * 0.4 ? 100 + (x * 7 + y * 3 + k) % 150 : 5);
            }
        }
        const QString name = dir + QStringLiteral("/%1_%2.png").arg(stem).arg(k, 3, 10, QChar(u'0'));
        if (!image.save(name))
            return {};
        names << name;
    }
    return names;
}

// One turn of the event loop, as app.exec() would give it: outside it, objects
// scheduled for deletion (the panel's previous file dialogs) would stay.
void turnEventLoop()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Loads asked of each panel and not finished yet.
QHash<const SlicesCtrl *, int> outstanding;

// Hands the names to the panel's file dialog as a user's choice would.
void selectFiles(SlicesCtrl *panel, const QStringList &names)
{
    if (!outstanding.contains(panel)) {
        outstanding.insert(panel, 0);
        QObject::connect(&panel->sliceDatas, &SliceDatas::loadFilesFinished, panel, [panel] {
            --outstanding[panel];
            ++counts.loads;
            std::shared_lock lock(panel->sliceDatas.guard);
            counts.slicesAccepted += panel->sliceDatas.slices.size();
        });
        QObject::connect(panel, &QObject::destroyed, [panel] { outstanding.remove(panel); });
    }
    ++outstanding[panel];
    QMetaObject::invokeMethod(panel, "selectFiles");
    emit panel->fileDialog->filesSelected(names);
}

// Keeps the event loop turning until the panels have finished every load
// asked of them; `whileWaiting` runs between turns.
bool waitForLoads(const QList<SlicesCtrl *> &panels, const std::function<void()> &whileWaiting)
{
    const auto pending = [&panels] {
        for (const SlicesCtrl *panel : panels) {
            if (outstanding.value(panel) > 0)
                return true;
        }
        return false;
    };
    QElapsedTimer timer;
    timer.start();
    while (pending() && timer.elapsed() < 120000) {
        if (whileWaiting)
            whileWaiting();
        turnEventLoop();
    }
    return !pending();
}

void mouse(QWidget *w, QEvent::Type type, QPointF at)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton
                                                                     : Qt::LeftButton;
    QMouseEvent e(type, at, w->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

// A left drag going round the middle of the display, one step per call.
class RoundDrag
{
public:
    explicit RoundDrag(QWidget *display) : display(display)
    {
        mouse(display, QEvent::MouseButtonPress, centre());
    }
    ~RoundDrag() { mouse(display, QEvent::MouseButtonRelease, centre()); }

    void step()
    {
        angle += 0.2;
        const double radius = 0.2 * std::min(display->width(), display->height());
        mouse(display, QEvent::MouseMove,
              centre() + QPointF(radius * std::cos(angle), radius * std::sin(angle)));
        ++counts.dragSteps;
    }

private:
    QPointF centre() const { return QPointF(display->width() / 2.0, display->height() / 2.0); }
    QWidget *display;
    double angle = 0;
};

bool loadsWhileDragging(const QStringList &set, int rounds)
{
    CtView view;
    view.show();
    RoundDrag drag(view.findChild<QWidget *>(QStringLiteral("dispA_")));
    for (int round = 0; round < rounds; ++round) {
        selectFiles(view.sCtrls.first(), set);
        if (!waitForLoads({ view.sCtrls.first() }, [&drag] { drag.step(); }))
            return false;
    }
    return true;
}

bool panelsAddedDuringLoads(const QStringList &set, int panels)
{
    CtView view;
    view.show();
    auto *add = view.findChild<QPushButton *>(QStringLiteral("addSliceSet_"));
    for (int n = 1; n < panels; ++n) {
        selectFiles(view.sCtrls.last(), set);
        add->click();
        ++counts.panelsAdded;
    }
    selectFiles(view.sCtrls.last(), set);
    return waitForLoads(view.sCtrls, {});
}

// Half the windows are closed first, half destroyed while still shown with
// an edit unfinished in a panel's field.
void windowsClosedMidLoad(const QStringList &set, int windows)
{
    for (int n = 0; n < windows; ++n) {
        auto *view = new CtView;
        view->show();
        view->addSliceSet();
        for (SlicesCtrl *panel : view->sCtrls)
            selectFiles(panel, set);
        turnEventLoop();
        auto *field = view->sCtrls.first()->findChild<QLineEdit *>(QStringLiteral("maxThPC_"));
        field->setFocus();
        field->setText(QStringLiteral("90"));
        if (n % 2 == 0)
            view->close();
        delete view;
        ++counts.windowsClosed;
    }
}

bool corpusThroughPanel(const QStringList &folders)
{
    QStringList files;
    for (const QString &folder : folders) {
        QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
    }
    files.sort();
    CtView view;
    view.show();
    SlicesCtrl *panel = view.sCtrls.first();
    for (const QString &file : files) {
        selectFiles(panel, { file });
        if (!waitForLoads({ panel }, {}))
            return false;
        std::shared_lock lock(panel->sliceDatas.guard);
        counts.corpusAccepted += int(panel->sliceDatas.slices.size());
    }
    counts.corpusFiles = int(files.size());
    // And all of them as one selection.
    selectFiles(panel, files);
    return waitForLoads({ panel }, {});
}

bool repeatedLoads(const QStringList &set, int loads)
{
    CtView view;
    view.show();
    SlicesCtrl *panel = view.sCtrls.first();
    const int window = std::max(1, std::min(10, loads / 10));
    bench::Memory start;
    bench::Memory end;
    QElapsedTimer timer;
    timer.start();
    bench::resetPeak();
    for (int n = 1; n <= loads; ++n) {
        if (n == loads - window + 1)
            bench::resetPeak();
        selectFiles(panel, set);
        if (!waitForLoads({ panel }, {}))
            return false;
        if (n == window)
            start = bench::residentMemory();
    }
    end = bench::residentMemory();
    std::printf("repeated loads: %d of %d slices in %.1f s\n", loads, int(set.size()),
                timer.elapsed() / 1000.0);
    std::printf("  peak resident over loads 1..%d: %.1f MB (resident after: %.1f MB)\n", window,
                start.peak, start.rss);
    std::printf("  peak resident over loads %d..%d: %.1f MB (resident after: %.1f MB)\n",
                loads - window + 1, loads, end.peak, end.rss);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qRegisterMetaType<Vec3>("Vec3");
    // Refused files and the like would fill the terminal.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        // The offscreen platform cannot size windows by their hints.
        if (type != QtDebugMsg && type != QtInfoMsg && !text.contains("propagateSizeHints"))
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });

    const QStringList args = app.arguments();
    const int loads = args.size() > 1 ? args.at(1).toInt() : 1000;
    if (loads < 1) {
        std::fprintf(stderr, "usage: stress_window [repeated loads] [extra corpus folder ...]\n");
        return 2;
    }
    QStringList corpus{ QStringLiteral(CTSLAB_FUZZ_CORPUS) };
    corpus << args.mid(2);

    QTemporaryDir dir;
    const QStringList set = writeSlices(dir.path(), QStringLiteral("set"), 32, 96);
    const QStringList large = writeSlices(dir.path(), QStringLiteral("large"), 24, 256);
    if (set.isEmpty() || large.isEmpty())
        return 1;

    QElapsedTimer timer;
    timer.start();
    bool ok = loadsWhileDragging(large, 40);
    std::printf("loads while dragging: %d loads, %d drag steps\n", counts.loads, counts.dragSteps);
    ok = ok && panelsAddedDuringLoads(large, 8);
    std::printf("panels added during loads: %d\n", counts.panelsAdded);
    windowsClosedMidLoad(large, 20);
    std::printf("windows closed in the middle of a load: %d\n", counts.windowsClosed);
    ok = ok && corpusThroughPanel(corpus);
    std::printf("corpus files through a panel: %d, accepted %d\n", counts.corpusFiles,
                counts.corpusAccepted);
    ok = ok && repeatedLoads(set, loads);
    std::printf("in all: %d loads finished, %lld slices accepted, %.1f s\n", counts.loads,
                counts.slicesAccepted, timer.elapsed() / 1000.0);
    if (!ok)
        std::fprintf(stderr, "a load did not finish within two minutes\n");
    return ok ? 0 : 1;
}
