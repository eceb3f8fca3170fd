#ifndef SLICES_CELLWRITER_H
#define SLICES_CELLWRITER_H

#include "slices/slice.h"

#include <bit>
#include <cstdint>

// Writes a scanner slice's values in the narrowest form that holds them
// exactly: 16-bit whole numbers for as long as every value is one (the common
// CT case, a quarter of the bytes of doubles), else doubles. Reading a value
// back gives the same double either way.
class CellWriter
{
public:
    // False without memory for the narrow cells.
    bool begin(Slice &slice, int columns, int rowCount)
    {
        target = &slice;
        wide = nullptr;
        narrow = slice.makeNarrowCells(columns, rowCount);
        return narrow != nullptr;
    }

    // Cells 0..count-1, row after row, from valueOf(i); valueOf may be called
    // more than once for a cell. False without memory for doubles.
    template<typename ValueOf>
    bool fill(qsizetype count, ValueOf valueOf)
    {
        qsizetype i = 0;
        if (narrow) {
            for (; i < count; ++i) {
                const double v = valueOf(i);
                // The bits compare: -0 and values that are not whole differ.
                if (!(v >= -32768.0 && v <= 32767.0))
                    break;
                const auto n = qint16(v);
                if (std::bit_cast<std::uint64_t>(double(n)) != std::bit_cast<std::uint64_t>(v))
                    break;
                narrow[i] = n;
            }
            if (i == count)
                return true;
            wide = target->widenCells(i);
            if (!wide)
                return false;
            narrow = nullptr;
        }
        for (; i < count; ++i)
            wide[i] = valueOf(i);
        return true;
    }

    bool isNarrow() const { return narrow != nullptr; }
    // The narrow cells, for a reader that writes whole numbers itself.
    qint16 *narrowCells() const { return narrow; }

private:
    Slice *target = nullptr;
    qint16 *narrow = nullptr;
    double *wide = nullptr;
};

#endif // SLICES_CELLWRITER_H
