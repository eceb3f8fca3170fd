// Loads a stack of 8-bit grey PNG slices through a slice set on its worker
// thread, as a panel does, then the same stack as a 16-bit DICOM series and as
// one 16-bit NIfTI volume (.nii and .nii.gz), and prints the reading rates,
// their ratios and the time of the histogram.
//
//     bench_load [slice count] [side] [runs]      (defaults 300 512 3)

#include "slices/slicedatas.h"
#include "tests/dicomfixtures.h"

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
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <shared_mutex>

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

// The stored values as a NIfTI-1 file of one piece: int16, scaled by the
// same intercept as the DICOM series.
static QByteArray niftiFile(const QByteArray &values, int side, int count)
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
    return header + values;
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

struct Timing
{
    double wall = 0;
    double processor = 0;
};

// Loads the files through the set on its thread, runs times; the mean times.
static Timing timeLoads(SliceDatas &set, const QStringList &files, const char *kind,
                        double fileMB, double pixelMB, int runs)
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
    }
    total.wall /= runs;
    total.processor /= runs;
    return total;
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
    // The volume holds the slices in the order the series loads: by
    // position, which falls with the file's number.
    QByteArray volume(qsizetype(count) * side * side * 2, Qt::Uninitialized);
    for (int i = 0; i < count; ++i) {
        const QList<int> values = makeSlice(side, i, random);
        const QString stem = dir.filePath(QStringLiteral("slice%1").arg(i, 4, 10, QChar(u'0')));
        pngs << stem + ".png";
        dicoms << stem + ".dcm";
        image.raw = values;
        auto *stored = reinterpret_cast<qint16 *>(volume.data()) + qsizetype(count - 1 - i) * side * side;
        for (qsizetype c = 0; c < values.size(); ++c)
            stored[c] = qToLittleEndian(qint16(values[c]));
        image.position = QStringLiteral("0\\0\\%1").arg(-i);
        image.instance = QString::number(i + 1);
        if (!toPicture(values, side).save(pngs.last(), "png") || !writeDicom(dicoms.last(), image))
            return 1;
        pngBytes += QFileInfo(pngs.last()).size();
        dicomBytes += QFileInfo(dicoms.last()).size();
    }
    const QString nii = dir.filePath(QStringLiteral("volume.nii"));
    const QString niiGz = dir.filePath(QStringLiteral("volume.nii.gz"));
    {
        const QByteArray whole = niftiFile(volume, side, count);
        volume = QByteArray();
        QFile plain(nii);
        QFile packed(niiGz);
        if (!plain.open(QIODevice::WriteOnly) || plain.write(whole) != whole.size()
            || !packed.open(QIODevice::WriteOnly) || packed.write(gzip(whole)) < 0) {
            return 1;
        }
    }
    const double niiMB = QFileInfo(nii).size() / 1e6;
    const double niiGzMB = QFileInfo(niiGz).size() / 1e6;
    const double pixelMB = double(count) * side * side / 1e6;
    std::printf("%d slices of %d x %d: 8-bit grey PNG %.1f MB, 16-bit DICOM %.1f MB of files, "
                "%.1f M cells\n",
                count, side, side, pngBytes / 1e6, dicomBytes / 1e6, pixelMB);

    QThread worker;
    SliceDatas set;
    set.moveToThread(&worker);
    worker.start();

    const Timing png = timeLoads(set, pngs, "PNG", pngBytes / 1e6, pixelMB, runs);
    const Timing dicom = timeLoads(set, dicoms, "DICOM", dicomBytes / 1e6, pixelMB, runs);
    std::printf("mean wall time: PNG %.3f s (%.1f files/s), DICOM %.3f s (%.1f files/s), "
                "DICOM / PNG %.2f\n",
                png.wall, count / png.wall, dicom.wall, count / dicom.wall, dicom.wall / png.wall);
    std::printf("mean processor time: PNG %.3f s (%.1f files/s), DICOM %.3f s (%.1f files/s), "
                "DICOM / PNG %.2f\n",
                png.processor, count / png.processor, dicom.processor, count / dicom.processor,
                dicom.processor / png.processor);
    std::printf("(aim: DICOM at least 300 files/s and at most 1.5 x the time of PNG)\n");
    std::printf("one NIfTI volume of the same values: .nii %.1f MB, .nii.gz %.1f MB\n", niiMB,
                niiGzMB);
    const Timing plainNifti = timeLoads(set, { nii }, "NIfTI .nii", niiMB, pixelMB, runs);
    const Timing packedNifti = timeLoads(set, { niiGz }, "NIfTI .nii.gz", niiGzMB, pixelMB, runs);
    std::printf("mean wall time: .nii %.3f s, .nii.gz %.3f s; DICOM / .nii %.2f, "
                "DICOM / .nii.gz %.2f\n",
                plainNifti.wall, packedNifti.wall, dicom.wall / plainNifti.wall,
                dicom.wall / packedNifti.wall);
    std::printf("mean processor time: .nii %.3f s, .nii.gz %.3f s\n", plainNifti.processor,
                packedNifti.processor);

    worker.quit();
    worker.wait();
    // The set is idle now; the histogram of the last stack (the NIfTI one,
    // the same values as the DICOM series) alone, over every cell of it.
    for (int run = 1; run <= runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        set.makeHistogram();
        std::printf("DICOM histogram %d: %.2f ms over %.1f M cells\n", run,
                    timer.nsecsElapsed() / 1e6, pixelMB);
    }
    return 0;
}
