// libFuzzer target: any bytes as a volume file, read by the reader that
// FUZZ_VOLUME names (readNiftiFile or readItkFile), under the suffix
// FUZZ_SUFFIX that leads the reader to it. Detached data files cannot be
// fuzzed here: only the forms of one file.

#include "slices/volumefile.h"

#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    static const QString path = dir.filePath(QStringLiteral("input" FUZZ_SUFFIX));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();

    QString whyNot;
    const std::vector<std::unique_ptr<Slice>> slices = FUZZ_VOLUME(path, &whyNot);
    // Every slice of one size within the limit, its range holding every value,
    // all of them finite.
    for (const std::unique_ptr<Slice> &slice : slices) {
        if (slice->width != slices.front()->width || slice->height != slices.front()->height
            || slice->width <= 0 || slice->height <= 0
            || qint64(slice->width) * slice->height > Slice::maxCells
            || slice->rows.size() != slice->height) {
            __builtin_trap();
        }
        for (int y = 0; y < slice->height; ++y) {
            for (int x = 0; x < slice->width; ++x) {
                const double v = slice->valueAt(x, y);
                if (!std::isfinite(v) || v < slice->min || v > slice->max)
                    __builtin_trap();
            }
        }
    }
    return 0;
}
