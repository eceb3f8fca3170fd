// Loads a stack of 8-bit grey PNG slices through a slice set on its worker
// thread, as a panel does, and prints the reading rate and the time of the
// histogram.
//
//     bench_load [slice count] [side] [runs]      (defaults 300 512 3)

#include "slices/slicedatas.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <shared_mutex>

// A disc of tissue-like values with some noise on a dark background, so the
// files compress like real slices rather than like flat pictures.
static QImage makeSlice(int side, int index, QRandomGenerator &random)
{
    QImage image(side, side, QImage::Format_Grayscale8);
    const double centre = side / 2.0;
    const double radius = side * (0.3 + 0.1 * std::sin(index * 0.05));
    for (int y = 0; y < side; ++y) {
        uchar *line = image.scanLine(y);
        for (int x = 0; x < side; ++x) {
            const double r = std::hypot(x - centre, y - centre);
            const int base = r < radius ? 120 + int(60 * std::cos(r / 9.0)) : 10;
            line[x] = uchar(std::clamp(base + int(random.bounded(16)), 0, 255));
        }
    }
    return image;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int count = args.size() > 1 ? args.at(1).toInt() : 300;
    const int side = args.size() > 2 ? args.at(2).toInt() : 512;
    const int runs = args.size() > 3 ? args.at(3).toInt() : 3;
    if (count < 1 || side < 1 || runs < 1) {
        std::fprintf(stderr, "usage: bench_load [slice count] [side] [runs]\n");
        return 2;
    }

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    QRandomGenerator random(12345);
    QStringList files;
    qint64 fileBytes = 0;
    for (int i = 0; i < count; ++i) {
        const QString name =
            dir.filePath(QStringLiteral("slice%1.png").arg(i, 4, 10, QChar(u'0')));
        if (!makeSlice(side, i, random).save(name, "png"))
            return 1;
        files << name;
        fileBytes += QFileInfo(name).size();
    }
    const double fileMB = fileBytes / 1e6;
    const double pixelMB = double(count) * side * side / 1e6;
    std::printf("%d slices of %d x %d, 8-bit grey PNG: %.1f MB of files, %.1f MB of pixels\n",
                count, side, side, fileMB, pixelMB);

    QThread worker;
    SliceDatas set;
    set.moveToThread(&worker);
    worker.start();

    for (int run = 1; run <= runs; ++run) {
        QEventLoop loop;
        QObject::connect(&set, &SliceDatas::loadFilesFinished, &loop, &QEventLoop::quit);
        QElapsedTimer timer;
        timer.start();
        // Queued to the set's thread, as the file dialog's selection is.
        QMetaObject::invokeMethod(&set, [&set, &files] { set.filesSelected(files); },
                                  Qt::QueuedConnection);
        loop.exec();
        const double seconds = timer.nsecsElapsed() / 1e9;
        int loaded = 0;
        {
            std::shared_lock lock(set.guard);
            loaded = set.slices.size();
        }
        std::printf("load %d: %d slices in %.3f s: %.1f files/s, %.1f MB/s of files, "
                    "%.1f MB/s of pixels (histogram included)\n",
                    run, loaded, seconds, count / seconds, fileMB / seconds, pixelMB / seconds);
    }

    worker.quit();
    worker.wait();
    // The set is idle now; its histogram alone, over every cell of the stack.
    for (int run = 1; run <= runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        set.makeHistogram();
        std::printf("histogram %d: %.2f ms over %.1f M cells\n", run, timer.nsecsElapsed() / 1e6,
                    pixelMB);
    }
    return 0;
}
