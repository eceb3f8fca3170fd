#include "view/skipping.h"

#include "slices/slice.h"
#include "view/projection.h"
#include "slices/workerpool.h"

#include <new>

namespace {

// Over the tiles of the rectangle: one tile, or blocks of 2 x 2 tiles.
// `at` gives the smallest and largest value of a tile or block.
template<typename T, typename At, typename Bound>
T boundOver(const TileRect &r, At at, Bound bound, T none)
{
    const bool one = r.tx0 == r.tx1 && r.ty0 == r.ty1;
    T greatest = none;
    for (int ty = r.ty0; ty <= r.ty1; ty += 2) {
        for (int tx = r.tx0; tx <= r.tx1; tx += 2) {
            const auto [low, high] = at(tx, ty, one);
            greatest = std::max(greatest, bound(low, high));
        }
    }
    return greatest;
}

constexpr double minusInfinity = -std::numeric_limits<double>::infinity();

} // namespace

bool collectSlices(const SetSnapshot &set, const QList<double> &planes,
                   std::vector<TiledSlice> &out, bool &anyPicture, bool &anyText)
{
    const int ss = int(set.slices.size());
    out.assign(size_t(ss), TiledSlice());
    anyText = false;
    anyPicture = false;
    for (int k = 0; k < ss; ++k) {
        TiledSlice &s = out[size_t(k)];
        s.z = planes[k];
        const Slice *slice = set.slices.at(k);
        if (!slice)
            continue;
        const SliceTiles &tiles = slice->tiles();
        if (!tiles.usable) {
            // A slice without a summary: either it has no cells (and is
            // passed over by both roads) or memory ran short.
            if (slice->isImage ? !slice->image.isNull()
                              : (slice->narrowCells() || !slice->rows.isEmpty()))
                return false;
            continue;
        }
        // Slices smaller than the set contribute nothing.
        if (tiles.width < set.sw || tiles.height < set.sh)
            continue;
        s.tiles = &tiles;
        s.text = !slice->isImage;
        s.offsets32 = !s.text
                && (tiles.height - 1) * tiles.lineStride + (tiles.width - 1) * tiles.cellStride
                        <= std::numeric_limits<int>::max();
        s.columns = tiles.columns;
        s.low8 = tiles.low8.data();
        s.high8 = tiles.high8.data();
        s.blockLow8 = tiles.blockLow8.data();
        s.blockHigh8 = tiles.blockHigh8.data();
        s.low = tiles.low.data();
        s.high = tiles.high.data();
        s.blockLow = tiles.blockLow.data();
        s.blockHigh = tiles.blockHigh.data();
        if (!tiles.low16.empty()) {
            s.low16 = tiles.low16.data();
            s.high16 = tiles.high16.data();
            s.blockLow16 = tiles.blockLow16.data();
            s.blockHigh16 = tiles.blockHigh16.data();
        }
        anyText = anyText || s.text;
        anyPicture = anyPicture || !s.text;
    }
    return true;
}

int bucketOf(const ValueWindow &f, const Prospect &p)
{
    int bucket = int(std::max(p.code, 0.0));
    if (p.key > minusInfinity) {
        const double share = (p.key - f.keptLow) / (f.keptHigh - f.keptLow);
        bucket = std::max(bucket, share > 0 ? 1 + int(std::min(share, 1.0) * 255) : 1);
    }
    return bucket;
}

void prefetchCells(const TiledSlice &s, int c0, int c1, int r0, int r1)
{
    if (r1 - r0 >= prefetchRows)
        return;
    const SliceTiles &t = *s.tiles;
    for (int row = r0; row <= r1; ++row) {
        if (t.narrow) {
            const qint16 *line = t.narrow + qsizetype(row) * t.width;
            __builtin_prefetch(line + c0);
            __builtin_prefetch(line + c1);
        } else if (s.text) {
            __builtin_prefetch(t.lines[row] + c0);
            __builtin_prefetch(t.lines[row] + c1);
        } else {
            const uchar *line = t.plane + row * t.lineStride;
            __builtin_prefetch(line + c0 * t.cellStride);
            __builtin_prefetch(line + c1 * t.cellStride);
        }
    }
}

bool lookAt(const ValueWindow &f, const TiledSlice &s, const TileRect &r, Prospect &out)
{
    if (tooWide(r)) {
        out.bucket = buckets - 1;
        (s.text ? out.key : out.code) = std::numeric_limits<double>::infinity();
        return true;
    }
    if (s.text && s.low16) {
        out.key = boundOver(
                r,
                [&](int tx, int ty, bool one) {
                    const qsizetype i = qsizetype(ty) * s.columns + tx;
                    return one ? std::pair<double, double>(s.low16[i], s.high16[i])
                               : std::pair<double, double>(s.blockLow16[i], s.blockHigh16[i]);
                },
                [&](double low, double high) { return keyBound(f, low, high); }, minusInfinity);
        if (out.key == minusInfinity)
            return false;
    } else if (s.text) {
        out.key = boundOver(
                r,
                [&](int tx, int ty, bool one) {
                    const qsizetype i = qsizetype(ty) * s.columns + tx;
                    return one ? std::pair(s.low[i], s.high[i])
                               : std::pair(s.blockLow[i], s.blockHigh[i]);
                },
                [&](double low, double high) { return keyBound(f, low, high); }, minusInfinity);
        if (out.key == minusInfinity)
            return false;
    } else {
        out.code = boundOver(
                r,
                [&](int tx, int ty, bool one) {
                    const qsizetype i = qsizetype(ty) * s.columns + tx;
                    return one ? std::pair<int, int>(s.low8[i], s.high8[i])
                               : std::pair<int, int>(s.blockLow8[i], s.blockHigh8[i]);
                },
                [&](int low, int high) { return codeBound(f, low, high); }, 0);
        if (out.code == 0)
            return false;
    }
    out.bucket = bucketOf(f, out);
    return true;
}

bool lookAtRuns(const ValueWindow &f, const SliceRuns &runs, int level, int first, int last,
                const TileRect &tiles, Prospect &out)
{
    const SliceRuns::Level &m = runs.level[level];
    const int shift = SliceRuns::tileShift[level];
    const TileRect r{tiles.tx0 >> shift, tiles.tx1 >> shift, tiles.ty0 >> shift,
                     tiles.ty1 >> shift};
    const int run0 = first >> SliceRuns::sliceShift[level];
    const int run1 = last >> SliceRuns::sliceShift[level];
    out.level = level;
    if (tooWide(r) || run1 - run0 > widestLook) {
        out.bucket = buckets - 1;
        out.code = out.key = std::numeric_limits<double>::infinity();
        return true;
    }
    for (int run = run0; run <= run1; ++run) {
        const qsizetype base = m.at(run, 0, 0);
        if (!m.pictures.empty() && f.picturesShow) {
            const int code = boundOver(
                    r,
                    [&](int tx, int ty, bool one) {
                        const SliceRuns::Bounds8 &b = m.pictures[base + qsizetype(ty) * m.columns + tx];
                        return one ? std::pair<int, int>(b.low, b.high)
                                   : std::pair<int, int>(b.blockLow, b.blockHigh);
                    },
                    [&](int low, int high) { return codeBound(f, low, high); }, 0);
            if (code > 0)
                out.code = std::max(out.code, double(code));
        }
        if (!m.text.empty() && f.textShows) {
            out.key = std::max(out.key, boundOver(
                    r,
                    [&](int tx, int ty, bool one) {
                        const SliceRuns::BoundsF &b = m.text[base + qsizetype(ty) * m.columns + tx];
                        return one ? std::pair<double, double>(b.low, b.high)
                                   : std::pair<double, double>(b.blockLow, b.blockHigh);
                    },
                    [&](double low, double high) { return keyBound(f, low, high); },
                    minusInfinity));
        }
    }
    if (out.code == minusInfinity && out.key == minusInfinity)
        return false;
    out.bucket = bucketOf(f, out);
    return true;
}

const SliceRuns *runsFor(const SetSnapshot &set, SliceRuns &own)
{
    if (set.runs && set.runs->fits(set.sw, set.sh, int(set.slices.size())))
        return set.runs.get();
    const auto parallel = [](int n, const std::function<void(int)> &work) {
        std::function<void(int)> piece = work;
        WorkerPool::shared().run(n, piece);
    };
    return own.make(set.slices, set.sw, set.sh, parallel) ? &own : nullptr;
}
