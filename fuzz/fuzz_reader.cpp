// libFuzzer target: any bytes as a slice file, read by the reader that
// FUZZ_READER names (readCtImage, readTable or readDicom); with FUZZ_ORDER the
// header pass that orders a selection reads them first, as a load does.

#include "slices/dicomreader.h"
#include "slices/slice.h"

#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <cstddef>
#include <cstdint>

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
    Slice slice;
    if (!slice.FUZZ_READER(path))
        return 0;
    // A grid that was built must match its size, within the cell limit, and
    // hold only finite values.
    if (slice.width <= 0 || slice.height <= 0 || slice.rows.size() != slice.height
        || qint64(slice.width) * slice.height > Slice::maxCells) {
        __builtin_trap();
    }
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
    return 0;
}
