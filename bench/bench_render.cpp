// Times renderScene on large picture stacks and prints milliseconds per
// frame and frames per second. An argument picks the rows whose label
// contains it, for example "512x512x300 256x256 rotated".

#include "panel/colourscale.h"
#include "slices/slice.h"
#include "view/projection.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QThread>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace {

// A grey stack with a few soft blobs and a faint ramp, like a scan.
std::vector<std::unique_ptr<Slice>> makeStack(int sw, int sh, int ss)
{
    std::vector<std::unique_ptr<Slice>> stack;
    for (int k = 0; k < ss; ++k) {
        QImage image(sw, sh, QImage::Format_Grayscale8);
        for (int y = 0; y < sh; ++y) {
            uchar *line = image.scanLine(y);
            for (int x = 0; x < sw; ++x) {
                const double dx = (x - sw * 0.5) / sw;
                const double dy = (y - sh * 0.5) / sh;
                const double dz = (k - ss * 0.5) / ss;
                const double r = std::sqrt(dx * dx + dy * dy + dz * dz);
                double v = 40 + 60 * (x + y) / double(sw + sh);
                if (r < 0.35)
                    v += 120 * (0.35 - r) / 0.35;
                v += (x * 7 + y * 13 + k * 3) % 17;
                line[x] = uchar(std::min(255.0, v));
            }
        }
        auto slice = std::make_unique<Slice>();
        slice->isImage = true;
        slice->image = image;
        slice->width = sw;
        slice->height = sh;
        slice->min = 0;
        slice->max = 255;
        stack.push_back(std::move(slice));
    }
    return stack;
}

// Wall-clock milliseconds per frame; cpuMs gets the processor time of all
// threads per frame, which other load on the machine disturbs less.
double timeFrames(QImage &image, const ViewState &view, const QList<SetSnapshot> &sets,
                  double &cpuMs)
{
    renderScene(image, view, sets); // warm-up
    QElapsedTimer timer;
    timer.start();
    const std::clock_t cpuStart = std::clock();
    int frames = 0;
    do {
        renderScene(image, view, sets);
        ++frames;
    } while (timer.elapsed() < 1500 || frames < 3);
    cpuMs = double(std::clock() - cpuStart) * 1000.0 / CLOCKS_PER_SEC / frames;
    return timer.nsecsElapsed() / 1e6 / frames;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString filter = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    std::printf("render threads: %d\n", QThread::idealThreadCount());
    std::printf("%-14s %-10s %-8s %-8s %10s %8s %14s\n", "set", "image", "view", "section",
                "ms/frame", "fps", "cpu ms/frame");

    const int sizes[][3] = {{256, 256, 100}, {512, 512, 300}};
    for (const auto &size : sizes) {
        const auto stack = makeStack(size[0], size[1], size[2]);
        SetSnapshot set;
        for (const auto &slice : stack)
            set.slices.append(slice.get());
        set.sw = size[0];
        set.sh = size[1];
        set.vColor = QColor(0, 127, 127);
        set.sColor = QColor(127, 0, 0);
        const ColourWindow window = colourWindow(0, 255, 10, 100);
        set.windowLow = window.low;
        set.windowHigh = window.high;

        for (int pixels : {256, 1024}) {
            QImage image(pixels, pixels, QImage::Format_ARGB32);
            for (bool rotated : {false, true}) {
                ViewState view;
                if (rotated) {
                    rotateAxes(view, {0.0, 1.0, 0.0}, 0.5);
                    rotateAxes(view, {1.0, 0.0, 0.0}, 0.3);
                }
                // Show the whole stack on the image, as a user would.
                view.zoom = double(std::max(size[0], size[1])) * 1.2 / pixels;
                for (bool section : {false, true}) {
                    const QString label = QString("%1x%2x%3 %4x%4 %5 %6")
                                                  .arg(size[0])
                                                  .arg(size[1])
                                                  .arg(size[2])
                                                  .arg(pixels)
                                                  .arg(rotated ? "rotated" : "initial",
                                                       section ? "on" : "off");
                    if (!label.contains(filter))
                        continue;
                    set.showSection = section;
                    set.slider = 0;
                    set.nz = view.nz;
                    double cpuMs = 0;
                    const double ms = timeFrames(image, view, {set}, cpuMs);
                    const QStringList parts = label.split(' ');
                    std::printf("%-14s %-10s %-8s %-8s %10.1f %8.2f %14.1f\n",
                                qPrintable(parts[0]), qPrintable(parts[1]), qPrintable(parts[2]),
                                qPrintable(parts[3]), ms, 1000.0 / ms, cpuMs);
                    std::fflush(stdout);
                }
            }
        }
    }
    return 0;
}
