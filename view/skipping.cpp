#include "view/skipping.h"

#include "slices/slice.h"
#include "view/projection.h"

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

void orderProspects(const std::vector<Prospect> &open, std::vector<Prospect> &ordered)
{
    int count[buckets] = {};
    for (const Prospect &prospect : open)
        ++count[prospect.bucket];
    int start = 0;
    for (int bucket = buckets - 1; bucket >= 0; --bucket) {
        const int n = count[bucket];
        count[bucket] = start;
        start += n;
    }
    ordered.resize(open.size());
    for (const Prospect &prospect : open)
        ordered[size_t(count[prospect.bucket]++)] = prospect;
}

void prefetchCells(const TiledSlice &s, int c0, int c1, int r0, int r1)
{
    if (r1 - r0 > 16)
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
    if (s.text) {
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

bool SlabMap::prepare(int sw, int sh, int sliceCount, bool anyPicture, bool anyText)
{
    columns = (sw + SliceTiles::size - 1) >> SliceTiles::shift;
    rows = (sh + SliceTiles::size - 1) >> SliceTiles::shift;
    slabs = (sliceCount + slabSize - 1) >> slabShift;
    const size_t entries = size_t(slabs) * rows * columns;
    try {
        pictures.resize(anyPicture ? entries : 0);
        text.resize(anyText ? entries : 0);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

void mapSlab(SlabMap &m, const TiledSlice *slices, int count, int slab)
{
    const qsizetype base = qsizetype(slab) * m.rows * m.columns;
    const bool pictures = !m.pictures.empty();
    const bool text = !m.text.empty();
    for (qsizetype i = 0; i < qsizetype(m.rows) * m.columns; ++i) {
        if (pictures)
            m.pictures[base + i] = SlabBounds8();
        if (text)
            m.text[base + i] = SlabBoundsD();
    }
    const int k1 = std::min((slab + 1) << slabShift, count);
    for (int k = slab << slabShift; k < k1; ++k) {
        const TiledSlice &s = slices[k];
        if (!s.tiles)
            continue;
        for (int ty = 0; ty < m.rows; ++ty) {
            const qsizetype from = qsizetype(ty) * s.columns;
            const qsizetype to = base + qsizetype(ty) * m.columns;
            if (s.text) {
                SlabBoundsD *b = m.text.data() + to;
                for (int tx = 0; tx < m.columns; ++tx) {
                    // Written so that a summary with no values changes nothing.
                    if (s.low[from + tx] < b[tx].low)
                        b[tx].low = s.low[from + tx];
                    if (s.high[from + tx] > b[tx].high)
                        b[tx].high = s.high[from + tx];
                    if (s.blockLow[from + tx] < b[tx].blockLow)
                        b[tx].blockLow = s.blockLow[from + tx];
                    if (s.blockHigh[from + tx] > b[tx].blockHigh)
                        b[tx].blockHigh = s.blockHigh[from + tx];
                }
            } else {
                SlabBounds8 *b = m.pictures.data() + to;
                for (int tx = 0; tx < m.columns; ++tx) {
                    b[tx].low = std::min(b[tx].low, s.low8[from + tx]);
                    b[tx].high = std::max(b[tx].high, s.high8[from + tx]);
                    b[tx].blockLow = std::min(b[tx].blockLow, s.blockLow8[from + tx]);
                    b[tx].blockHigh = std::max(b[tx].blockHigh, s.blockHigh8[from + tx]);
                }
            }
        }
    }
}

bool lookAtSlabs(const ValueWindow &f, const SlabMap &m, int first, int last, const TileRect &r,
                 Prospect &out)
{
    if (tooWide(r) || last - first > widestLook) {
        out.bucket = buckets - 1;
        out.code = out.key = std::numeric_limits<double>::infinity();
        return true;
    }
    for (int slab = first; slab <= last; ++slab) {
        const qsizetype base = qsizetype(slab) * m.rows * m.columns;
        if (!m.pictures.empty() && f.picturesShow) {
            const int code = boundOver(
                    r,
                    [&](int tx, int ty, bool one) {
                        const SlabBounds8 &b = m.pictures[base + qsizetype(ty) * m.columns + tx];
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
                        const SlabBoundsD &b = m.text[base + qsizetype(ty) * m.columns + tx];
                        return one ? std::pair(b.low, b.high) : std::pair(b.blockLow, b.blockHigh);
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
