#include "slices/slicetiles.h"

#include "slices/slice.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace {

// Each tile folded with its right, lower and lower right neighbours.
template<typename T>
void block(const std::vector<T> &low, const std::vector<T> &high, std::vector<T> &blockLow,
           std::vector<T> &blockHigh, int columns, int rows)
{
    blockLow = low;
    blockHigh = high;
    for (int ty = 0; ty < rows; ++ty) {
        for (int tx = 0; tx < columns; ++tx) {
            const qsizetype i = qsizetype(ty) * columns + tx;
            for (int dy = 0; dy < 2 && ty + dy < rows; ++dy) {
                for (int dx = 0; dx < 2 && tx + dx < columns; ++dx) {
                    const qsizetype j = i + qsizetype(dy) * columns + dx;
                    // Written so that a value that is not a number is left out.
                    if (low[j] < blockLow[i])
                        blockLow[i] = low[j];
                    if (high[j] > blockHigh[i])
                        blockHigh[i] = high[j];
                }
            }
        }
    }
}

void summarisePicture(const Slice &slice, SliceTiles &t, int w, int h)
{
    const QImage &image = slice.image;
    switch (image.format()) {
    case QImage::Format_Grayscale8:
        t.plane = image.constBits();
        t.lineStride = image.bytesPerLine();
        t.cellStride = 1;
        break;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        // Blue is the lowest byte of a 32-bit colour.
        t.plane = image.constBits() + (Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? 0 : 3);
        t.lineStride = image.bytesPerLine();
        t.cellStride = 4;
        break;
    default:
        t.ownPlane.resize(size_t(w) * size_t(h));
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x)
                t.ownPlane[size_t(y) * w + x] = uchar(slice.valueAt(x, y));
        }
        t.plane = t.ownPlane.data();
        t.lineStride = w;
        t.cellStride = 1;
        break;
    }
    const size_t count = size_t(t.columns) * size_t(t.rows);
    t.low8.assign(count, 255);
    t.high8.assign(count, 0);
    for (int y = 0; y < h; ++y) {
        const uchar *line = t.plane + y * t.lineStride;
        uchar *low = t.low8.data() + size_t(y >> SliceTiles::shift) * t.columns;
        uchar *high = t.high8.data() + size_t(y >> SliceTiles::shift) * t.columns;
        for (int x = 0; x < w; ++x) {
            const uchar v = line[x * t.cellStride];
            const int tx = x >> SliceTiles::shift;
            low[tx] = std::min(low[tx], v);
            high[tx] = std::max(high[tx], v);
        }
    }
    block(t.low8, t.high8, t.blockLow8, t.blockHigh8, t.columns, t.rows);
}

// Scanners write whole numbers, mostly within 16 bits; read as such, a
// renderer moves a quarter of the bytes.
void narrowText(SliceTiles &t, int w, int h)
{
    if (qint64(w) * h > std::numeric_limits<int>::max())
        return;
    try {
        t.ownNarrow.resize(size_t(w) * size_t(h));
    } catch (const std::bad_alloc &) {
        return; // the doubles serve
    }
    qint16 *cell = t.ownNarrow.data();
    for (int y = 0; y < h; ++y) {
        const double *line = t.lines[y];
        for (int x = 0; x < w; ++x) {
            const double v = line[x];
            // Not a number fails both comparisons.
            if (!(v >= -32768 && v <= 32767) || v != std::trunc(v) || (v == 0 && std::signbit(v))) {
                // Given back whole: a slice that is not narrow keeps no buffer.
                std::vector<qint16>().swap(t.ownNarrow);
                return;
            }
            *cell++ = qint16(v);
        }
    }
    t.narrow = t.ownNarrow.data();
}

// Bounds of narrow cells are narrow too: a quarter of the bytes, exactly.
void narrowBounds(SliceTiles &t)
{
    const auto narrowed = [](std::vector<double> &wide, std::vector<qint16> &out) {
        out.resize(wide.size());
        for (size_t i = 0; i < wide.size(); ++i)
            out[i] = qint16(wide[i]);
        std::vector<double>().swap(wide);
    };
    narrowed(t.low, t.low16);
    narrowed(t.high, t.high16);
    narrowed(t.blockLow, t.blockLow16);
    narrowed(t.blockHigh, t.blockHigh16);
}

void summariseText(const Slice &slice, SliceTiles &t, int w, int h)
{
    t.lines.resize(size_t(h));
    for (int y = 0; y < h; ++y)
        t.lines[y] = slice.rows.at(y).constData();
    const size_t count = size_t(t.columns) * size_t(t.rows);
    t.low.assign(count, std::numeric_limits<double>::infinity());
    t.high.assign(count, -std::numeric_limits<double>::infinity());
    for (int y = 0; y < h; ++y) {
        const double *line = t.lines[y];
        double *low = t.low.data() + size_t(y >> SliceTiles::shift) * t.columns;
        double *high = t.high.data() + size_t(y >> SliceTiles::shift) * t.columns;
        for (int x = 0; x < w; ++x) {
            const double v = line[x];
            const int tx = x >> SliceTiles::shift;
            // Comparisons with a value that is not a number are false: it is left out.
            if (v < low[tx])
                low[tx] = v;
            if (v > high[tx])
                high[tx] = v;
        }
    }
    block(t.low, t.high, t.blockLow, t.blockHigh, t.columns, t.rows);
    narrowText(t, w, h);
    if (t.narrow)
        narrowBounds(t);
}

// Bounded in 16 bits, a tile's eight cells of a row at a time: this runs for
// every slice of a series as it is read.
void summariseNarrow(const Slice &slice, SliceTiles &t, int w, int h)
{
    t.narrow = slice.narrowCells();
    const size_t count = size_t(t.columns) * size_t(t.rows);
    std::vector<qint16> &low = t.low16;
    std::vector<qint16> &high = t.high16;
    low.assign(count, 32767);
    high.assign(count, -32768);
    const int whole = w >> SliceTiles::shift;
    for (int y = 0; y < h; ++y) {
        const qint16 *line = t.narrow + qsizetype(y) * w;
        qint16 *tileLow = low.data() + size_t(y >> SliceTiles::shift) * t.columns;
        qint16 *tileHigh = high.data() + size_t(y >> SliceTiles::shift) * t.columns;
        for (int tx = 0; tx < whole; ++tx) {
            const qint16 *cell = line + tx * SliceTiles::size;
            qint16 least = tileLow[tx];
            qint16 most = tileHigh[tx];
            for (int i = 0; i < SliceTiles::size; ++i) {
                least = std::min(least, cell[i]);
                most = std::max(most, cell[i]);
            }
            tileLow[tx] = least;
            tileHigh[tx] = most;
        }
        for (int x = whole * SliceTiles::size; x < w; ++x) {
            tileLow[whole] = std::min(tileLow[whole], line[x]);
            tileHigh[whole] = std::max(tileHigh[whole], line[x]);
        }
    }
    block(t.low16, t.high16, t.blockLow16, t.blockHigh16, t.columns, t.rows);
}

} // namespace

SliceTiles SliceTiles::of(const Slice &slice)
{
    SliceTiles t;
    int w = 0;
    int h = 0;
    if (slice.isImage) {
        w = slice.image.width();
        h = slice.image.height();
    } else if (slice.narrowCells()) {
        w = slice.width;
        h = slice.height;
    } else {
        h = int(slice.rows.size());
        w = h > 0 ? std::numeric_limits<int>::max() : 0;
        for (const QList<double> &row : slice.rows)
            w = std::min(w, int(row.size()));
    }
    if (w <= 0 || h <= 0)
        return t;
    t.width = w;
    t.height = h;
    t.columns = (w + size - 1) >> shift;
    t.rows = (h + size - 1) >> shift;
    try {
        if (slice.isImage)
            summarisePicture(slice, t, w, h);
        else if (slice.narrowCells())
            summariseNarrow(slice, t, w, h);
        else
            summariseText(slice, t, w, h);
    } catch (const std::bad_alloc &) {
        return SliceTiles();
    }
    t.usable = true;
    return t;
}
