#ifndef SLICES_VOLUMECELLS_H
#define SLICES_VOLUMECELLS_H

#include "slices/cellwriter.h"
#include "slices/memorybudget.h"
#include "slices/slice.h"

#include <QFileInfo>
#include <QString>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

// What the volume readers share once a library has told them what a file
// holds: the checks on its size, and the stored numbers turned into slices.
// Each reader keeps its library to itself; only plain numbers come here.

enum class StoredType { Int8, UInt8, Int16, UInt16, Int32, UInt32, Int64, UInt64, Float32, Float64 };

inline int storedBytes(StoredType type)
{
    switch (type) {
    case StoredType::Int8:
    case StoredType::UInt8:
        return 1;
    case StoredType::Int16:
    case StoredType::UInt16:
        return 2;
    case StoredType::Int32:
    case StoredType::UInt32:
    case StoredType::Float32:
        return 4;
    default:
        return 8;
    }
}

struct VolumeLayout
{
    qint64 columns = 0; // along the file's first axis
    qint64 rows = 0;    // along its second
    qint64 slices = 0;  // along its third
    StoredType type = StoredType::UInt8;
    bool swapped = false; // stored in the other byte order than this machine's
    bool scaled = false;
    double slope = 1.0;
    double intercept = 0.0;
    double spacing[3] = { 0, 0, 0 }; // millimetres between columns, rows, slices

    qint64 sliceCells() const { return columns * rows; }
    qint64 sliceBytes() const { return sliceCells() * storedBytes(type); }
    qint64 dataBytes() const { return sliceBytes() * slices; }
};

// Deflate gives at most 1032 bytes for each byte it reads, so compressed data
// can never hold more than this: a bound on what a short file may claim.
inline qint64 mostInflated(qint64 compressedBytes)
{
    return compressedBytes > std::numeric_limits<qint64>::max() / 1032
            ? std::numeric_limits<qint64>::max()
            : compressedBytes * 1032;
}

// Why a volume of these dimensions cannot be a set of slices, or empty. The
// count of slices is bounded by what their cells would take together.
inline QString volumeTooLarge(qint64 columns, qint64 rows, qint64 slices)
{
    if (columns < 1 || rows < 1 || slices < 1)
        return QStringLiteral("volume of %1 x %2 x %3 cells").arg(columns).arg(rows).arg(slices);
    if (columns > Slice::maxCells || rows > Slice::maxCells || columns * rows > Slice::maxCells) {
        return QStringLiteral("volume slices of %1 x %2 cells, more than the limit of %3")
                .arg(columns)
                .arg(rows)
                .arg(Slice::maxCells);
    }
    if (slices > std::numeric_limits<int>::max())
        return QStringLiteral("volume of %1 slices").arg(slices);
    return {};
}

// Fills slice after slice from the stored numbers, having taken from the
// budget what they will hold before any is made.
class VolumeCells
{
public:
    VolumeCells(const QString &fileName, const VolumeLayout &layout)
        : layout(layout)
    {
        const QString path = QFileInfo(fileName).absoluteFilePath();
        const double sx = std::abs(layout.spacing[0]);
        const double sy = std::abs(layout.spacing[1]);
        const double sz = std::abs(layout.spacing[2]);
        const auto usable = [](double mm) { return std::isfinite(mm) && mm > 0; };
        if (usable(sx) && usable(sy) && (usable(sz) || layout.slices == 1)) {
            DicomPlacement place;
            place.series = path;
            place.seriesPresent = true;
            place.orientation = { { 1, 0, 0, 0, 1, 0 }, true, true };
            place.pixelSpacing = { { sy, sx }, true, true };
            place.position = { { 0, 0, 0 }, true, true };
            placement = place;
            sliceMm = layout.slices == 1 ? 0.0 : sz;
        }
    }

    // Takes the budget for every slice as 16-bit cells and `extraBytes` the
    // reader holds besides; the reason when it cannot. A slice that needs
    // doubles takes the difference as it is made.
    QString takeBudget(qint64 extraBytes)
    {
        const qint64 perSlice = layout.sliceCells() * qint64(sizeof(qint16));
        if (!hold.take(perSlice * layout.slices + extraBytes))
            return overBudget();
        return {};
    }

    // Turns one slice's stored numbers (sliceBytes of them) into a slice:
    // value = stored x slope + intercept where the file scales. A stored
    // number that is no finite one counts as 0, as in the text slices; a
    // finite one that the scale carries beyond the doubles refuses the file.
    QString addSlice(const unsigned char *stored)
    {
        auto slice = std::make_unique<Slice>();
        const QString noMemory = QStringLiteral("no memory for a grid of %1 x %2")
                                         .arg(layout.columns)
                                         .arg(layout.rows);
        CellWriter cells;
        if (!cells.begin(*slice, int(layout.columns), int(layout.rows)))
            return noMemory;
        double low = std::numeric_limits<double>::infinity();
        double high = -low;
        bool written = false;
        switch (layout.type) {
        case StoredType::Int8: written = fill<qint8>(stored, cells, &low, &high); break;
        case StoredType::UInt8: written = fill<quint8>(stored, cells, &low, &high); break;
        case StoredType::Int16: written = fill<qint16>(stored, cells, &low, &high); break;
        case StoredType::UInt16: written = fill<quint16>(stored, cells, &low, &high); break;
        case StoredType::Int32: written = fill<qint32>(stored, cells, &low, &high); break;
        case StoredType::UInt32: written = fill<quint32>(stored, cells, &low, &high); break;
        case StoredType::Int64: written = fill<qint64>(stored, cells, &low, &high); break;
        case StoredType::UInt64: written = fill<quint64>(stored, cells, &low, &high); break;
        case StoredType::Float32: written = fill<float>(stored, cells, &low, &high); break;
        case StoredType::Float64: written = fill<double>(stored, cells, &low, &high); break;
        }
        if (!written)
            return noMemory;
        if (!cells.isNarrow()) {
            const qint64 wider = layout.sliceCells() * qint64(sizeof(double) - sizeof(qint16))
                    + layout.rows * qint64(sizeof(QList<double>));
            if (!hold.take(wider))
                return overBudget();
        }
        if (!(std::isfinite(low) && std::isfinite(high)))
            return QStringLiteral("volume values scaled beyond the range of numbers");
        slice->min = low;
        slice->max = high;
        if (placement) {
            slice->dicom = placement;
            slice->dicom->position.values[2] = double(made.size()) * sliceMm;
        }
        made.push_back(std::move(slice));
        return {};
    }

    std::vector<std::unique_ptr<Slice>> take() { return std::move(made); }

private:
    QString overBudget() const
    {
        return QStringLiteral("volume of %1 x %2 x %3 cells beyond the memory budget")
                .arg(layout.columns)
                .arg(layout.rows)
                .arg(layout.slices);
    }

    template<typename T>
    bool fill(const unsigned char *stored, CellWriter &cells, double *low, double *high) const
    {
        const qint64 count = layout.sliceCells();
        double least = *low;
        double most = *high;
        const bool written = cells.fill(count, [&](qsizetype i) {
            T number;
            std::memcpy(&number, stored + i * qint64(sizeof(T)), sizeof(T));
            if constexpr (sizeof(T) > 1) {
                if (layout.swapped) {
                    unsigned char bytes[sizeof(T)];
                    std::memcpy(bytes, &number, sizeof(T));
                    for (size_t b = 0; b < sizeof(T) / 2; ++b)
                        std::swap(bytes[b], bytes[sizeof(T) - 1 - b]);
                    std::memcpy(&number, bytes, sizeof(T));
                }
            }
            double value = double(number);
            if constexpr (std::is_floating_point_v<T>) {
                if (!std::isfinite(value))
                    value = 0.0;
            }
            if (layout.scaled) {
                value = value * layout.slope + layout.intercept;
                // Infinities of both signs give no number, which the range
                // below would not see.
                if (std::isnan(value))
                    value = std::numeric_limits<double>::infinity();
            }
            least = std::min(least, value);
            most = std::max(most, value);
            return value;
        });
        *low = least;
        *high = most;
        return written;
    }

    const VolumeLayout layout;
    std::optional<DicomPlacement> placement;
    double sliceMm = 0.0;
    BudgetHold hold;
    std::vector<std::unique_ptr<Slice>> made;
};

#endif // SLICES_VOLUMECELLS_H
