#include "slices/sliceruns.h"

#include "slices/slice.h"
#include "slices/slicetiles.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>

namespace {

constexpr float floatMax = std::numeric_limits<float>::max();
constexpr float floatInfinity = std::numeric_limits<float>::infinity();

// The greatest float not above v, and the least not below it; the
// conversion of a double beyond the floats is not defined, so those ends are
// taken by hand.
float floatDown(double v)
{
    if (v > floatMax)
        return v == std::numeric_limits<double>::infinity() ? floatInfinity : floatMax;
    if (v < -floatMax)
        return -floatInfinity;
    const float f = float(v);
    return double(f) > v ? std::nextafter(f, -floatInfinity) : f;
}

float floatUp(double v)
{
    if (v < -floatMax)
        return v == -std::numeric_limits<double>::infinity() ? -floatInfinity : -floatMax;
    if (v > floatMax)
        return floatInfinity;
    const float f = float(v);
    return double(f) < v ? std::nextafter(f, floatInfinity) : f;
}

template<typename B>
void fold(B &into, const B &b)
{
    // Written so that bounds of nothing (low above high) change nothing.
    if (b.low < into.low)
        into.low = b.low;
    if (b.high > into.high)
        into.high = b.high;
    if (b.blockLow < into.blockLow)
        into.blockLow = b.blockLow;
    if (b.blockHigh > into.blockHigh)
        into.blockHigh = b.blockHigh;
}

// The slice's summary where it counts for a set of sw x sh cells, else none;
// false for a slice with cells but no summary.
bool countedTiles(const Slice *slice, int sw, int sh, const SliceTiles *&out)
{
    out = nullptr;
    if (!slice)
        return true;
    const SliceTiles &tiles = slice->tiles();
    if (!tiles.usable)
        return slice->isImage ? slice->image.isNull() : slice->rows.isEmpty();
    if (tiles.width >= sw && tiles.height >= sh)
        out = &tiles;
    return true;
}

void makeBrick(SliceRuns::Level &m, const QList<const Slice *> &slices, int sw, int sh,
               int brick, std::atomic<bool> &failed)
{
    const qsizetype base = m.at(brick, 0, 0);
    const qsizetype entries = qsizetype(m.rows) * m.columns;
    if (!m.pictures.empty())
        std::fill_n(m.pictures.begin() + base, entries, SliceRuns::Bounds8());
    if (!m.text.empty())
        std::fill_n(m.text.begin() + base, entries, SliceRuns::BoundsF());
    const int k0 = brick << SliceRuns::sliceShift[0];
    const int k1 = std::min<int>(k0 + (1 << SliceRuns::sliceShift[0]), int(slices.size()));
    for (int k = k0; k < k1; ++k) {
        const SliceTiles *t = nullptr;
        if (!countedTiles(slices.at(k), sw, sh, t)) {
            failed.store(true);
            return;
        }
        if (!t)
            continue;
        const bool text = !slices.at(k)->isImage;
        for (int ty = 0; ty < m.rows; ++ty) {
            const qsizetype from = qsizetype(ty) * t->columns;
            const qsizetype to = base + qsizetype(ty) * m.columns;
            for (int tx = 0; tx < m.columns; ++tx) {
                const qsizetype i = from + tx;
                if (text && !t->low16.empty()) {
                    fold(m.text[to + tx],
                         SliceRuns::BoundsF{float(t->low16[i]), float(t->high16[i]),
                                            float(t->blockLow16[i]), float(t->blockHigh16[i])});
                } else if (text) {
                    fold(m.text[to + tx],
                         SliceRuns::BoundsF{floatDown(t->low[i]), floatUp(t->high[i]),
                                            floatDown(t->blockLow[i]), floatUp(t->blockHigh[i])});
                } else {
                    fold(m.pictures[to + tx],
                         SliceRuns::Bounds8{t->low8[i], t->high8[i], t->blockLow8[i],
                                            t->blockHigh8[i]});
                }
            }
        }
    }
}

// Run `run` of a coarser level from the level below: each region folds the
// regions below it, and then its blocks fold 2 x 2 regions of its own.
template<typename B>
void coarsen(std::vector<B> &out, const SliceRuns::Level &to, const std::vector<B> &in,
             const SliceRuns::Level &from, int run, int runShift, int regionShift)
{
    const int r0 = run << runShift;
    const int r1 = std::min(r0 + (1 << runShift), from.runs);
    for (int y = 0; y < to.rows; ++y) {
        for (int x = 0; x < to.columns; ++x) {
            B b;
            const int y1 = std::min((y + 1) << regionShift, from.rows);
            const int x1 = std::min((x + 1) << regionShift, from.columns);
            for (int r = r0; r < r1; ++r) {
                for (int fy = y << regionShift; fy < y1; ++fy) {
                    for (int fx = x << regionShift; fx < x1; ++fx) {
                        const B &f = in[size_t(from.at(r, fy, fx))];
                        if (f.low < b.low)
                            b.low = f.low;
                        if (f.high > b.high)
                            b.high = f.high;
                    }
                }
            }
            out[size_t(to.at(run, y, x))] = b;
        }
    }
    for (int y = 0; y < to.rows; ++y) {
        for (int x = 0; x < to.columns; ++x) {
            B &b = out[size_t(to.at(run, y, x))];
            b.blockLow = b.low;
            b.blockHigh = b.high;
            for (int dy = 0; dy < 2 && y + dy < to.rows; ++dy) {
                for (int dx = 0; dx < 2 && x + dx < to.columns; ++dx) {
                    const B &n = out[size_t(to.at(run, y + dy, x + dx))];
                    if (n.low < b.blockLow)
                        b.blockLow = n.low;
                    if (n.high > b.blockHigh)
                        b.blockHigh = n.high;
                }
            }
        }
    }
}

} // namespace

bool SliceRuns::make(const QList<const Slice *> &slices, int setSw, int setSh,
                     const Parallel &parallel)
{
    sw = setSw;
    sh = setSh;
    count = int(slices.size());
    bool anyPicture = false;
    bool anyText = false;
    for (const Slice *slice : slices) {
        if (slice) {
            anyPicture = anyPicture || slice->isImage;
            anyText = anyText || !slice->isImage;
        }
    }
    const int tileColumns = (std::max(sw, 0) + SliceTiles::size - 1) >> SliceTiles::shift;
    const int tileRows = (std::max(sh, 0) + SliceTiles::size - 1) >> SliceTiles::shift;
    try {
        for (int l = 0; l < levels; ++l) {
            Level &m = level[l];
            m.columns = (tileColumns + (1 << tileShift[l]) - 1) >> tileShift[l];
            m.rows = (tileRows + (1 << tileShift[l]) - 1) >> tileShift[l];
            m.runs = (count + (1 << sliceShift[l]) - 1) >> sliceShift[l];
            const size_t entries = size_t(m.runs) * size_t(m.rows) * size_t(m.columns);
            m.pictures.resize(anyPicture ? entries : 0);
            m.text.resize(anyText ? entries : 0);
        }
    } catch (const std::bad_alloc &) {
        return false;
    }
    std::atomic<bool> failed = false;
    parallel(level[0].runs, [&](int brick) { makeBrick(level[0], slices, sw, sh, brick, failed); });
    if (failed.load())
        return false;
    for (int l = 1; l < levels; ++l) {
        const int runShift = sliceShift[l] - sliceShift[l - 1];
        const int regionShift = tileShift[l] - tileShift[l - 1];
        parallel(level[l].runs, [&](int run) {
            if (!level[l].pictures.empty())
                coarsen(level[l].pictures, level[l], level[l - 1].pictures, level[l - 1], run,
                        runShift, regionShift);
            if (!level[l].text.empty())
                coarsen(level[l].text, level[l], level[l - 1].text, level[l - 1], run, runShift,
                        regionShift);
        });
    }
    return true;
}

std::shared_ptr<const SliceRuns> SliceRuns::of(const QList<const Slice *> &slices, int sw, int sh,
                                               const Parallel &parallel)
{
    try {
        auto runs = std::make_shared<SliceRuns>();
        if (!runs->make(slices, sw, sh, parallel))
            return nullptr;
        return runs;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}
