// libFuzzer target: any bytes as a slice file, read by the reader that
// FUZZ_READER names: readCtImage, readTable, readDicom, or load, which tries
// every reader in turn, as a slice set does. With FUZZ_ORDER the header pass
// that orders a selection reads the file first, as a load does; with
// FUZZ_FRAMES the multi-frame reader and the series survey read it before.

#include "slices/dicomreader.h"
#include "slices/slice.h"

#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

// A grid that was built must match its size, within the cell limit, and hold
// only finite values.
void checkGrid(const Slice &slice)
{
    if (slice.rows.size() != slice.height || qint64(slice.width) * slice.height > Slice::maxCells)
        __builtin_trap();
    for (int y = 0; y < slice.height; ++y) {
        if (slice.rows.at(y).size() != slice.width)
            __builtin_trap();
        for (int x = 0; x < slice.width; ++x) {
            if (!std::isfinite(slice.valueAt(x, y)))
                __builtin_trap();
        }
    }
    if (slice.min <= slice.max && !(std::isfinite(slice.min) && std::isfinite(slice.max)))
        __builtin_trap();
}

// A picture keeps its size, and its range holds every value it gives.
void checkPicture(const Slice &slice)
{
    if (slice.image.width() != slice.width || slice.image.height() != slice.height)
        __builtin_trap();
    for (int y = 0; y < slice.height; ++y) {
        for (int x = 0; x < slice.width; ++x) {
            const double v = slice.valueAt(x, y);
            if (v < slice.min || v > slice.max || v < 0 || v > 255)
                __builtin_trap();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    static const QString path = dir.filePath(QStringLiteral("input.dat"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();

#ifdef FUZZ_ORDER
    if (loadingOrder({ path, path }) != QStringList({ path, path }))
        __builtin_trap();
#endif
#ifdef FUZZ_FRAMES
    // Both copies land in one series or among the others, and every frame
    // read is a whole grid with its place.
    const SelectionSurvey survey = surveySelection({ path, path });
    if (survey.series.size() > 1
        || (survey.series.isEmpty() ? survey.others.size() : survey.series.first().files.size())
                != 2) {
        __builtin_trap();
    }
    QString whyNot;
    const std::vector<std::unique_ptr<Slice>> frames = readDicomFrames(path, &whyNot);
    if (!frames.empty() && !whyNot.isEmpty())
        __builtin_trap();
    for (const std::unique_ptr<Slice> &frame : frames) {
        if (frame->width <= 0 || frame->height <= 0 || frame->isImage || !frame->dicom)
            __builtin_trap();
        checkGrid(*frame);
    }
#endif
    Slice slice;
    if (!slice.FUZZ_READER(path))
        return 0;
    if (slice.width <= 0 || slice.height <= 0)
        __builtin_trap();
    if (slice.isImage)
        checkPicture(slice);
    else
        checkGrid(slice);
    return 0;
}
