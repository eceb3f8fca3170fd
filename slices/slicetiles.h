#ifndef SLICES_SLICETILES_H
#define SLICES_SLICETILES_H

#include <QtGlobal>

#include <vector>

class Slice;

// A slice's values summed up by square tiles, so that a renderer can pass
// over cells that cannot change its picture: the smallest and the largest
// value of each tile, and of each block of 2 x 2 tiles starting at a tile, so
// that one look covers any region no wider than a tile. Values that are not
// a number are left out; a tile of nothing but such values has a smallest
// value above its largest.
struct SliceTiles
{
    static constexpr int shift = 3;
    static constexpr int size = 1 << shift;

    // False when the summary could not be made (no memory); nothing else is
    // then set.
    bool usable = false;
    int width = 0;   // cells summarised across (the shortest row of a text slice)
    int height = 0;  // cells summarised down
    int columns = 0; // tiles across
    int rows = 0;    // tiles down

    // Pictures: the value of cell (x, y) is plane[y * lineStride + x * cellStride].
    const uchar *plane = nullptr;
    qsizetype lineStride = 0;
    int cellStride = 1;
    std::vector<uchar> ownPlane; // for picture formats without a byte per value
    std::vector<uchar> low8, high8;           // per tile
    std::vector<uchar> blockLow8, blockHigh8; // per block of 2 x 2 tiles

    // Grids of doubles: the cells of row y start at lines[y]; empty for a
    // slice that keeps only 16-bit cells.
    std::vector<const double *> lines;
    // When every cell is a whole number that 16 bits hold, and none is -0,
    // the same values in a quarter of the bytes: cell (x, y) is
    // narrow[y * width + x]; the slice's own cells, or for a text slice
    // ownNarrow. Null otherwise.
    const qint16 *narrow = nullptr;
    std::vector<qint16> ownNarrow;
    // Per tile and per block: as doubles, or, where the cells are narrow,
    // as 16 bits (exact, for the same reason) and the doubles left empty.
    std::vector<double> low, high;
    std::vector<double> blockLow, blockHigh;
    std::vector<qint16> low16, high16;
    std::vector<qint16> blockLow16, blockHigh16;

    static SliceTiles of(const Slice &slice);
};

#endif // SLICES_SLICETILES_H
