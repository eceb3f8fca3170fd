// Loads a stack of 8-bit grey PNG slices through a slice set on its worker
// thread, as a panel does, then the same stack as a 16-bit DICOM series and as
// one 16-bit NIfTI volume (.nii and .nii.gz), and prints the reading rates,
// their ratios and the time of the histogram.
//
//     bench_load [slice count] [side] [runs]      (defaults 300 512 3)
//                [--slices N] [--side N] [--runs N] [--only KINDS] [--render]
//                [--cold] [--keep]
//
// --only loads just the kinds named, comma-separated: png, dicom, nifti (the
// .nii file), nii.gz. --render adds, after the first load of each kind, the
// resident memory after loading and after a first picture (256 x 256,
// oblique), the time from the load's end to that picture, and the first load
// beside the warm ones. --cold drops the files from the page cache before
// each kind's first load. --keep leaves the files in their folder, for
// timing other programs on them.

#include "bench/residentmemory.h"
#include "panel/colourscale.h"
#include "slices/slicedatas.h"
#include "tests/dicomfixtures.h"
#include "view/projection.h"
#include "view/setcolours.h"
#include "view/viewgeometry.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QImage>
#include <QRandomGenerator>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <numbers>
#include <shared_mutex>
#include <unistd.h>

// A disc of tissue-like values with some noise on a dark background, so the
// files compress like real slices rather than like flat pictures: 12-bit
// values, as a CT scanner stores them.
static QList<int> makeSlice(int side, int index, QRandomGenerator &random)
{
    QList<int> values(qsizetype(side) * side);
    const double centre = side / 2.0;
    const double radius = side * (0.3 + 0.1 * std::sin(index * 0.05));
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const double r = std::hypot(x - centre, y - centre);
            const int base = r < radius ? 1920 + int(960 * std::cos(r / 9.0)) : 160;
            values[qsizetype(y) * side + x] = std::clamp(base + int(random.bounded(256)), 0, 4095);
        }
    }
    return values;
}

// The same slice as an 8-bit grey picture: its upper eight of twelve bits.
static QImage toPicture(const QList<int> &values, int side)
{
    QImage image(side, side, QImage::Format_Grayscale8);
    for (int y = 0; y < side; ++y) {
        uchar *line = image.scanLine(y);
        for (int x = 0; x < side; ++x)
            line[x] = uchar(values[qsizetype(y) * side + x] >> 4);
    }
    return image;
}

// The processor time the calling thread has used, in seconds. On a machine
// shared with other work the wall time of a load also holds the time others
// had the processor; this is the load's own cost.
static double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

// The header of a NIfTI-1 file of one piece: int16 values, scaled by the
// same intercept as the DICOM series.
static QByteArray niftiHeader(int side, int count)
{
    QByteArray header(352, '\0');
    const auto put = [&header](int offset, auto value) {
        qToLittleEndian(value, header.data() + offset);
    };
    put(0, qint32(348));
    const qint16 dim[8] = { 3, qint16(side), qint16(side), qint16(count), 1, 1, 1, 1 };
    for (int i = 0; i < 8; ++i) {
        put(40 + 2 * i, dim[i]);
        put(76 + 4 * i, 1.0f);
    }
    put(70, qint16(4)); // int16
    put(72, qint16(16));
    put(108, 352.0f);
    put(112, 1.0f);
    put(116, -1024.0f);
    header[123] = 2;
    std::memcpy(header.data() + 344, "n+1", 4);
    return header;
}

// A gzip member around zlib's deflate stream, as .nii.gz files are.
static QByteArray gzip(const QByteArray &data)
{
    const QByteArray zlib = qCompress(data, 6).mid(4);
    quint32 crc = 0xffffffff;
    for (const char c : data) {
        crc ^= quint8(c);
        for (int b = 0; b < 8; ++b)
            crc = (crc >> 1) ^ (0xedb88320 & (0 - (crc & 1)));
    }
    QByteArray tail(8, '\0');
    qToLittleEndian(~crc, tail.data());
    qToLittleEndian(quint32(data.size()), tail.data() + 4);
    return QByteArray("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10) + zlib.mid(2, zlib.size() - 6) + tail;
}

using bench::Memory;

// Puts the files on the disk and asks the system to forget their pages, so that
// the next read comes from the disk (as far as the machine's own disk cache
// lets it).
static void dropFromCache(const QStringList &files)
{
    for (const QString &name : files) {
        const int fd = ::open(QFile::encodeName(name).constData(), O_RDONLY);
        if (fd < 0)
            continue;
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

struct Timing
{
    double wall = 0;
    double processor = 0;
    double first = 0; // the wall time of the first run alone
};

// Loads the files through the set on its thread, runs times; the mean times.
// afterFirst runs once the first load is over, before the second begins.
static Timing timeLoads(SliceDatas &set, const QStringList &files, const char *kind,
                        double fileMB, double pixelMB, int runs,
                        const std::function<void()> &afterFirst = {})
{
    Timing total;
    for (int run = 1; run <= runs; ++run) {
        QEventLoop loop;
        double processor = 0;
        QElapsedTimer timer;
        timer.start();
        // Queued to the set's thread, as the file dialog's selection is; the
        // end comes back queued once the worker has taken its time.
        QMetaObject::invokeMethod(
                &set,
                [&set, &files, &processor, &loop] {
                    const double start = threadSeconds();
                    set.filesSelected(files);
                    processor = threadSeconds() - start;
                    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
                },
                Qt::QueuedConnection);
        loop.exec();
        const double seconds = timer.nsecsElapsed() / 1e9;
        total.wall += seconds;
        total.processor += processor;
        if (run == 1)
            total.first = seconds;
        int loaded = 0;
        {
            std::shared_lock lock(set.guard);
            loaded = set.slices.size();
        }
        // One volume file is counted by its slices.
        const int count = files.size() > 1 ? int(files.size()) : loaded;
        std::printf("%s load %d: %d slices in %.3f s (%.3f s of processor time): %.1f %s/s, "
                    "%.1f MB/s of files, %.1f MB/s of pixels (histogram included)\n",
                    kind, run, loaded, seconds, processor, count / seconds,
                    files.size() > 1 ? "files" : "slices", fileMB / seconds,
                    pixelMB / seconds);
        if (run == 1 && afterFirst)
            afterFirst();
    }
    total.wall /= runs;
    total.processor /= runs;
    return total;
}

// One 256 x 256 oblique picture of the set as it stands, sampled as the
// window would sample it; the milliseconds it takes, snapshot included.
static double pictureMs(SliceDatas &set, int frame, const char **sampling)
{
    constexpr double degree = std::numbers::pi / 180.0;
    QElapsedTimer timer;
    timer.start();
    std::shared_lock lock(set.guard);
    SetSnapshot snapshot;
    for (const Slice *slice : set.slices)
        snapshot.slices.append(slice);
    snapshot.sw = set.width;
    snapshot.sh = set.height;
    const SetColours colours = coloursFor(0);
    snapshot.vColor = colours.volume;
    snapshot.sColor = colours.section;
    const ColourWindow window = colourWindow(set.min, set.max, 0, 100);
    snapshot.windowLow = window.low;
    snapshot.windowHigh = window.high;
    snapshot.shape = set.shape;
    snapshot.sampling = resolvedSampling(SamplingChoice::Automatic, set.fileShape.measured());
    *sampling = snapshot.sampling == Sampling::Cells ? "cells" : "planes";
    ViewState view;
    rotateAxes(view, view.ny, 30 * degree);
    rotateAxes(view, view.nx, 20 * degree);
    rotateAxes(view, view.nz, frame * 0.5 * degree);
    view.zoom = double(std::max(set.width, set.height)) / 256;
    snapshot.nz = view.nz;
    QImage image(256, 256, QImage::Format_ARGB32);
    renderScene(image, view, { snapshot });
    return timer.nsecsElapsed() / 1e6;
}

static void printMemory(const char *kind, const char *when, const Memory &memory,
                        const Memory &before, double cells)
{
    std::printf("%s memory %s: VmRSS %.0f MB, VmHWM %.0f MB; %.2f and %.2f bytes a cell above "
                "the %.0f MB resident before loading\n",
                kind, when, memory.rss, memory.peak, (memory.rss - before.rss) * 1048576 / cells,
                (memory.peak - before.rss) * 1048576 / cells, before.rss);
}

// Times the loads of one kind; with render, also what follows the first as
// in the window: the memory the set holds, and its first picture.
static Timing measureLoads(SliceDatas &set, const QStringList &files, const char *kind,
                           int slices, double fileMB, double pixelMB, int runs, bool render,
                           bool cold)
{
    if (cold)
        dropFromCache(files);
    if (!render)
        return timeLoads(set, files, kind, fileMB, pixelMB, runs);
    // The earlier kind's slices go before this kind's are counted.
    QMetaObject::invokeMethod(&set, [&set] { set.clear(); }, Qt::BlockingQueuedConnection);
    // The files' making holds more than the loading does.
    bench::resetPeak();
    const Memory before = bench::residentMemory();
    const double cells = pixelMB * 1e6;
    const Timing timing = timeLoads(set, files, kind, fileMB, pixelMB, runs, [&] {
        printMemory(kind, "after loading", bench::residentMemory(), before, cells);
        const char *sampling = "";
        const double first = pictureMs(set, 0, &sampling);
        printMemory(kind, "after the first picture", bench::residentMemory(), before, cells);
        const double second = pictureMs(set, 1, &sampling);
        std::printf("%s from the load's end to the first picture (256 x 256, oblique, %s): "
                    "%.1f ms; the next frame %.1f ms\n",
                    kind, sampling, first, second);
    });
    const char *unit = files.size() > 1 ? "files" : "slices";
    if (runs > 1) {
        const double warm = (timing.wall * runs - timing.first) / (runs - 1);
        std::printf("%s first load %.3f s (%.1f %s/s%s), warm loads %.3f s (%.1f %s/s), "
                    "first / warm %.2f\n",
                    kind, timing.first, slices / timing.first, unit,
                    cold ? ", dropped from the page cache" : "", warm, slices / warm, unit,
                    timing.first / warm);
    }
    return timing;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    int count = 300;
    int side = 512;
    int runs = 3;
    bool render = false;
    bool cold = false;
    bool keep = false;
    QStringList kinds = { "png", "dicom", "nifti", "nii.gz" };
    const QStringList known = kinds;
    bool fine = true;
    int positional = 0;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const bool valued = i + 1 < args.size();
        if (arg == "--slices" && valued) {
            count = args.at(++i).toInt();
        } else if (arg == "--side" && valued) {
            side = args.at(++i).toInt();
        } else if (arg == "--runs" && valued) {
            runs = args.at(++i).toInt();
        } else if (arg == "--only" && valued) {
            kinds = args.at(++i).toLower().split(',');
            for (QString &kind : kinds)
                kind = kind == "nii" ? QStringLiteral("nifti") : kind.trimmed();
            for (const QString &kind : kinds)
                fine = fine && known.contains(kind);
        } else if (arg == "--render") {
            render = true;
        } else if (arg == "--cold") {
            cold = true;
        } else if (arg == "--keep") {
            keep = true;
        } else if (!arg.startsWith("--") && positional < 3) {
            (positional == 0 ? count : positional == 1 ? side : runs) = arg.toInt();
            ++positional;
        } else {
            fine = false;
        }
    }
    // Beyond this a slice's cell count or the NIfTI header's sizes overflow.
    if (!fine || count < 1 || side < 1 || runs < 1 || count > 32767 || side > 32767) {
        std::fprintf(stderr, "usage: bench_load [slice count] [side] [runs] [--slices N] "
                             "[--side N] [--runs N] [--only png,dicom,nifti,nii.gz] [--render] "
                             "[--cold] [--keep]\n");
        return 2;
    }
    const bool withPng = kinds.contains("png");
    const bool withDicom = kinds.contains("dicom");
    const bool withNii = kinds.contains("nifti");
    const bool withNiiGz = kinds.contains("nii.gz");

    QTemporaryDir dir(QStringLiteral("/tmp/bench_load-XXXXXX"));
    if (!dir.isValid())
        return 1;
    dir.setAutoRemove(!keep);
    // The DICOM files and the volume take two bytes a cell each, a PNG file
    // at most about one; the packed volume is written from the plain one.
    const qint64 sliceBytes = qint64(side) * side * 2;
    const qint64 needed = qint64(count)
            * ((withPng ? sliceBytes / 2 : 0) + (withDicom ? sliceBytes + 4096 : 0)
               + (withNii || withNiiGz ? sliceBytes : 0) + (withNiiGz ? sliceBytes : 0));
    const qint64 available = QStorageInfo(dir.path()).bytesAvailable();
    if (available >= 0 && available < needed + (qint64(256) << 20)) {
        std::fprintf(stderr, "%s has %.1f GB free; the files need about %.1f GB\n",
                     qPrintable(dir.path()), available / 1e9, needed / 1e9);
        return 1;
    }
    QRandomGenerator random(12345);
    QStringList pngs;
    QStringList dicoms;
    qint64 pngBytes = 0;
    qint64 dicomBytes = 0;
    DicomFixture image;
    image.rows = side;
    image.columns = side;
    image.bitsStored = 12;
    image.highBit = 11;
    image.intercept = QStringLiteral("-1024");
    const QString nii = dir.filePath(QStringLiteral("volume.nii"));
    const QString niiGz = dir.filePath(QStringLiteral("volume.nii.gz"));
    // The volume holds the slices in the order the series loads: by
    // position, which falls with the file's number. Written slice by slice,
    // so that a large one is never held whole.
    QFile plain(nii);
    if ((withNii || withNiiGz)
        && (!plain.open(QIODevice::WriteOnly) || plain.write(niftiHeader(side, count)) != 352)) {
        return 1;
    }
    QByteArray stored(sliceBytes, Qt::Uninitialized);
    for (int i = 0; i < count; ++i) {
        const QList<int> values = makeSlice(side, i, random);
        const QString stem = dir.filePath(QStringLiteral("slice%1").arg(i, 4, 10, QChar(u'0')));
        if (withNii || withNiiGz) {
            auto *cells = reinterpret_cast<qint16 *>(stored.data());
            for (qsizetype c = 0; c < values.size(); ++c)
                cells[c] = qToLittleEndian(qint16(values[c]));
            if (!plain.seek(352 + qint64(count - 1 - i) * sliceBytes)
                || plain.write(stored) != sliceBytes) {
                return 1;
            }
        }
        if (withPng) {
            pngs << stem + ".png";
            if (!toPicture(values, side).save(pngs.last(), "png"))
                return 1;
            pngBytes += QFileInfo(pngs.last()).size();
        }
        if (withDicom) {
            dicoms << stem + ".dcm";
            image.raw = values;
            image.position = QStringLiteral("0\\0\\%1").arg(-i);
            image.instance = QString::number(i + 1);
            if (!writeDicom(dicoms.last(), image))
                return 1;
            dicomBytes += QFileInfo(dicoms.last()).size();
        }
    }
    stored = QByteArray();
    plain.close();
    if (withNiiGz) {
        QFile whole(nii);
        QFile packed(niiGz);
        if (!whole.open(QIODevice::ReadOnly) || !packed.open(QIODevice::WriteOnly)
            || packed.write(gzip(whole.readAll())) < 0) {
            return 1;
        }
    }
    if (!withNii)
        QFile::remove(nii);
    const double niiMB = withNii ? QFileInfo(nii).size() / 1e6 : 0.0;
    const double niiGzMB = withNiiGz ? QFileInfo(niiGz).size() / 1e6 : 0.0;
    const double pixelMB = double(count) * side * side / 1e6;
    std::printf("%d slices of %d x %d: 8-bit grey PNG %.1f MB, 16-bit DICOM %.1f MB of files, "
                "%.1f M cells\n",
                count, side, side, pngBytes / 1e6, dicomBytes / 1e6, pixelMB);
    if (keep)
        std::printf("files kept in %s\n", qPrintable(dir.path()));

    QThread worker;
    SliceDatas set;
    set.moveToThread(&worker);
    worker.start();

    Timing png;
    Timing dicom;
    if (withPng)
        png = measureLoads(set, pngs, "PNG", count, pngBytes / 1e6, pixelMB, runs, render,
                           cold);
    if (withDicom)
        dicom = measureLoads(set, dicoms, "DICOM", count, dicomBytes / 1e6, pixelMB, runs,
                             render, cold);
    if (withPng && withDicom) {
        std::printf("mean wall time: PNG %.3f s (%.1f files/s), DICOM %.3f s (%.1f files/s), "
                    "DICOM / PNG %.2f\n",
                    png.wall, count / png.wall, dicom.wall, count / dicom.wall,
                    dicom.wall / png.wall);
        std::printf("mean processor time: PNG %.3f s (%.1f files/s), DICOM %.3f s (%.1f "
                    "files/s), DICOM / PNG %.2f\n",
                    png.processor, count / png.processor, dicom.processor,
                    count / dicom.processor, dicom.processor / png.processor);
        std::printf("(aim: DICOM at least 300 files/s and at most 1.5 x the time of PNG)\n");
    }
    if (withNii || withNiiGz) {
        std::printf("one NIfTI volume of the same values: .nii %.1f MB, .nii.gz %.1f MB\n",
                    niiMB, niiGzMB);
    }
    Timing plainNifti;
    Timing packedNifti;
    if (withNii) {
        plainNifti = measureLoads(set, { nii }, "NIfTI .nii", count, niiMB, pixelMB, runs,
                                  render, cold);
    }
    if (withNiiGz) {
        packedNifti = measureLoads(set, { niiGz }, "NIfTI .nii.gz", count, niiGzMB, pixelMB, runs,
                                   render, cold);
    }
    if (withDicom && withNii && withNiiGz) {
        std::printf("mean wall time: .nii %.3f s, .nii.gz %.3f s; DICOM / .nii %.2f, "
                    "DICOM / .nii.gz %.2f\n",
                    plainNifti.wall, packedNifti.wall, dicom.wall / plainNifti.wall,
                    dicom.wall / packedNifti.wall);
        std::printf("mean processor time: .nii %.3f s, .nii.gz %.3f s\n", plainNifti.processor,
                    packedNifti.processor);
    } else if (withDicom && withNii) {
        std::printf("mean wall time: .nii %.3f s; DICOM / .nii %.2f\n", plainNifti.wall,
                    dicom.wall / plainNifti.wall);
    }

    worker.quit();
    worker.wait();
    // The set is idle now; the histogram of the last stack (the NIfTI one,
    // the same values as the DICOM series, unless only pictures were loaded)
    // alone, over every cell of it.
    const char *last = kinds == QStringList{ "png" } ? "PNG" : "DICOM";
    for (int run = 1; run <= runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        set.makeHistogram();
        std::printf("%s histogram %d: %.2f ms over %.1f M cells\n", last, run,
                    timer.nsecsElapsed() / 1e6, pixelMB);
    }
    return 0;
}
