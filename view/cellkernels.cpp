#include "view/cellkernels.h"

#include "panel/colourscale.h"
#include "slices/slicetiles.h"
#include "view/cellwalk.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "view/kernels4.h"

namespace {

// The cell of a position known within `error`, as a whole number (maybe
// outside the grid); false when a boundary lies within the bound.
inline bool decide(double x, double error, double &cell)
{
    cell = std::floor(x - error);
    return cell == std::floor(x + error);
}

// The axes across which layers of A are walked: B and C, as CellFrame has them.
constexpr int acrossB(int A)
{
    return A == 0 ? 1 : 0;
}

constexpr int acrossC(int A)
{
    return A == 2 ? 1 : 2;
}

// Cell (i, j, k) across A, B and C for ray `ray`, with its value where the
// set has one there.
template<bool cut, int A>
inline void take(const CellFrame &f, CellPacket &p, int ray, int i, int j, int k)
{
    if (j < 0 || j >= f.cellsB || k < 0 || k >= f.cellsC)
        return;
    int at[3];
    at[A] = i;
    at[acrossB(A)] = j;
    at[acrossC(A)] = k;
    const int column = at[0];
    const int row = at[1];
    const TiledSlice &s = f.slices[at[2]];
    if (!s.tiles)
        return;
    const SliceTiles &t = *s.tiles;
    double value;
    if (s.text) {
        value = t.narrow ? t.narrow[size_t(row) * size_t(t.width) + column]
                         : t.lines[row][column];
    } else {
        value = t.plane[qsizetype(row) * t.lineStride + qsizetype(column) * t.cellStride];
    }
    if constexpr (cut) {
        const double d = f.grid->depthOf(column, row, at[2]);
        if (d >= f.sectionPos)
            return;
        if (d >= f.faceFrom) {
            const qint64 order = f.order(i, j, k);
            if (order > p.nearest[ray]) {
                p.nearest[ray] = order;
                p.layer[ray] = s.text ? intensity(value, f.low, f.high)
                                      : f.pictureIntensity[int(value)];
            }
        }
    }
    if (s.text) {
        const double key = f.keySign * value;
        if (key >= f.keptLow && key <= f.keptHigh && key > p.key[ray])
            p.key[ray] = key;
    } else {
        const int rel = (int(value) ^ f.flip) - f.codeLow;
        if (rel >= 0 && rel <= f.codeHigh - f.codeLow)
            p.code[ray] = std::max(p.code[ray], rel + 1);
    }
}

// The ray's cells in the layer, walked exactly.
template<bool cut, int A>
void walkExactly(const CellFrame &f, CellPacket &p, int ray, int layer)
{
    const ViewState &v = f.view;
    const double a = (p.i0 + ray % packetSide) - f.halfW;
    const double b = (p.j0 + ray / packetSide) - f.halfH;
    const double start[3] = {v.centre.x + v.zoom * (a * v.nx.x + b * v.ny.x),
                             v.centre.y + v.zoom * (a * v.nx.y + b * v.ny.y),
                             v.centre.z + v.zoom * (a * v.nx.z + b * v.ny.z)};
    const double along[3] = {v.nz.x, v.nz.y, v.nz.z};
    const CellGrid &g = *f.grid;
    const auto axis = [&](int n) {
        return RayAxis{g.bounds[n].data(), g.cells[n], start[n], along[n]};
    };
    const RayAxis across = axis(A);
    const RayAxis B = axis(acrossB(A));
    const RayAxis C = axis(acrossC(A));
    const Span inLayer = across.cell(layer);
    if (inLayer.empty())
        return;
    int j0, j1;
    B.reach(inLayer, j0, j1);
    for (int j = j0; j <= j1; ++j) {
        const Span inRow = meet(inLayer, B.cell(j));
        if (inRow.empty())
            continue;
        int k0, k1;
        C.reach(inRow, k0, k1);
        for (int k = k0; k <= k1; ++k) {
            if (!meet(inRow, C.cell(k)).empty())
                take<cut, A>(f, p, ray, layer, j, k);
        }
    }
}

// The cell a ray passes between (jIn, kIn) and (jOut, kOut) across B and C
// where it goes by their corner too closely for the bounds to tell on which
// side: from the plain arithmetic's times at which it crosses the two
// boundaries. At one time it lies in the cells above both, their lower sides
// being theirs; that cell may be the entry's or the exit's, leaving none
// between. False where the times are not numbers.
template<int A>
bool nearCorner(const CellFrame &f, const CellPacket &p, int ray, int jIn, int jOut, int kIn,
                int kOut, int &midJ, int &midK)
{
    constexpr int B = acrossB(A);
    constexpr int C = acrossC(A);
    const ViewState &v = f.view;
    const double a = (p.i0 + ray % packetSide) - f.halfW;
    const double b = (p.j0 + ray / packetSide) - f.halfH;
    const double start[3] = {v.centre.x + v.zoom * (a * v.nx.x + b * v.ny.x),
                             v.centre.y + v.zoom * (a * v.nx.y + b * v.ny.y),
                             v.centre.z + v.zoom * (a * v.nx.z + b * v.ny.z)};
    const double along[3] = {v.nz.x, v.nz.y, v.nz.z};
    const int beta = std::max(jIn, jOut);
    const int gamma = std::max(kIn, kOut);
    const double tB = (f.grid->bounds[B][size_t(beta)] - start[B]) / along[B];
    const double tC = (f.grid->bounds[C][size_t(gamma)] - start[C]) / along[C];
    if (!(std::isfinite(tB) && std::isfinite(tC)))
        return false;
    if (tB == tC) {
        midJ = beta;
        midK = gamma;
        return true;
    }
    // Entering the layer at `from` is earlier in t where the ray runs along A.
    const bool acrossBFirst = f.backward[A] ? tB > tC : tB < tC;
    midJ = acrossBFirst ? jOut : jIn;
    midK = acrossBFirst ? kIn : kOut;
    return true;
}

// The ray's cells in the layer between A's planes `from` and `to`.
template<bool cut, int A>
inline void sampleRay(const CellFrame &f, CellPacket &p, int ray, int layer, double from,
                      double to)
{
    // A ray that keeps both positions keeps its cell across B and C; one
    // beyond the picture's edge is nowhere.
    if (f.exactB && f.exactC) {
        const double j = std::floor(p.b0[ray]);
        const double k = std::floor(p.c0[ray]);
        if (j >= 0 && j < f.cellsB && k >= 0 && k < f.cellsC)
            take<cut, A>(f, p, ray, layer, int(j), int(k));
        return;
    }
    const double bIn = p.b0[ray] + from * f.b.perZ;
    const double bOut = p.b0[ray] + to * f.b.perZ;
    const double cIn = p.c0[ray] + from * f.c.perZ;
    const double cOut = p.c0[ray] + to * f.c.perZ;
    double jIn, jOut, kIn, kOut;
    if (!(decide(bIn, f.b.error, jIn) && decide(bOut, f.b.error, jOut)
          && decide(cIn, f.c.error, kIn) && decide(cOut, f.c.error, kOut))) {
        walkExactly<cut, A>(f, p, ray, layer);
        return;
    }
    // Wholly outside the grid across B or C: nothing here.
    if ((jIn < 0 && jOut < 0) || (jIn >= f.cellsB && jOut >= f.cellsB) || (kIn < 0 && kOut < 0)
        || (kIn >= f.cellsC && kOut >= f.cellsC))
        return;
    const double dj = jOut - jIn;
    const double dk = kOut - kIn;
    if (!(std::fabs(dj) <= 1 && std::fabs(dk) <= 1)) {
        walkExactly<cut, A>(f, p, ray, layer);
        return;
    }
    // Changing cell along both B and C, the ray passes through one of the
    // two cells beside the corner between them: the side of the corner it
    // passes on tells which.
    int midJ = int(jIn);
    int midK = int(kIn);
    if (dj != 0 && dk != 0) {
        const double u = std::max(jIn, jOut) - bIn;
        const double w = std::max(kIn, kOut) - cIn;
        const double db = bOut - bIn;
        const double dc = cOut - cIn;
        const double cross = u * dc - w * db;
        const double bound = (std::fabs(dc) + 2 * std::fabs(w)) * f.b.error
                + (std::fabs(db) + 2 * std::fabs(u)) * f.c.error
                + 0x1p-50 * (std::fabs(u * dc) + std::fabs(w * db)) + tinyError;
        if (std::fabs(cross) > bound) {
            // Across B first: on to the next cell across B, still in the cell across C.
            const bool acrossBFirst = db * dc > 0 ? cross < 0 : cross > 0;
            midJ = int(acrossBFirst ? jOut : jIn);
            midK = int(acrossBFirst ? kIn : kOut);
        } else if (!nearCorner<A>(f, p, ray, int(jIn), int(jOut), int(kIn), int(kOut), midJ,
                                  midK)) {
            walkExactly<cut, A>(f, p, ray, layer);
            return;
        }
    }
    take<cut, A>(f, p, ray, layer, int(jIn), int(kIn));
    if (dj != 0 || dk != 0) {
        take<cut, A>(f, p, ray, layer, int(jOut), int(kOut));
        take<cut, A>(f, p, ray, layer, midJ, midK);
    }
}

#ifdef CTSLAB_X86_KERNELS

// The same decisions as sampleRay, four rays at a time, for layers across Z
// (slices): B is the column, C the row.
struct Layer4
{
    __m256d fromB, toB, fromC, toC, errorB, errorC;

    __attribute__((target("avx2"))) Layer4(const CellFrame &f, double from, double to)
        : fromB(_mm256_set1_pd(from * f.b.perZ)), toB(_mm256_set1_pd(to * f.b.perZ)),
          fromC(_mm256_set1_pd(from * f.c.perZ)), toC(_mm256_set1_pd(to * f.c.perZ)),
          errorB(_mm256_set1_pd(f.b.error)), errorC(_mm256_set1_pd(f.c.error))
    {
    }
};

// The three cells of four rays (at entry, at exit, and passed between;
// repeated where there are fewer), whether the bounds decide them, and
// which lie in the grid.
struct Cells3
{
    __m128i column[3];
    __m128i row[3];
    __m128i inside[3];
    __m128i decided;
    int count = 3; // 1 where no ray changes cell in the layer
};

__attribute__((target("avx2"))) inline __m256d absolute(__m256d x)
{
    return _mm256_andnot_pd(_mm256_set1_pd(-0.0), x);
}

template<bool still>
__attribute__((target("avx2"), always_inline)) inline Cells3 cells3(const Layer4 &at,
                                                                    const CellPacket &p, int r,
                                                                    __m128i lastColumn,
                                                                    __m128i lastRow)
{
    const __m256d b0 = _mm256_load_pd(p.b0 + r);
    const __m256d c0 = _mm256_load_pd(p.c0 + r);
    if constexpr (still) {
        // The rays keep their cells across B and C: one cell, decided.
        Cells3 out;
        out.count = 1;
        out.decided = _mm_set1_epi32(-1);
        out.column[0] = _mm256_cvttpd_epi32(_mm256_floor_pd(b0));
        out.row[0] = _mm256_cvttpd_epi32(_mm256_floor_pd(c0));
        out.inside[0] = _mm_and_si128(
                _mm_cmpeq_epi32(_mm_min_epu32(out.column[0], lastColumn), out.column[0]),
                _mm_cmpeq_epi32(_mm_min_epu32(out.row[0], lastRow), out.row[0]));
        return out;
    }
    const __m256d bIn = _mm256_add_pd(b0, at.fromB);
    const __m256d bOut = _mm256_add_pd(b0, at.toB);
    const __m256d cIn = _mm256_add_pd(c0, at.fromC);
    const __m256d cOut = _mm256_add_pd(c0, at.toC);
    const __m256d jIn = _mm256_floor_pd(_mm256_sub_pd(bIn, at.errorB));
    const __m256d jOut = _mm256_floor_pd(_mm256_sub_pd(bOut, at.errorB));
    const __m256d kIn = _mm256_floor_pd(_mm256_sub_pd(cIn, at.errorC));
    const __m256d kOut = _mm256_floor_pd(_mm256_sub_pd(cOut, at.errorC));
    __m256d decided = _mm256_and_pd(
            _mm256_cmp_pd(jIn, _mm256_floor_pd(_mm256_add_pd(bIn, at.errorB)), _CMP_EQ_OQ),
            _mm256_cmp_pd(jOut, _mm256_floor_pd(_mm256_add_pd(bOut, at.errorB)), _CMP_EQ_OQ));
    decided = _mm256_and_pd(
            decided,
            _mm256_and_pd(
                    _mm256_cmp_pd(kIn, _mm256_floor_pd(_mm256_add_pd(cIn, at.errorC)), _CMP_EQ_OQ),
                    _mm256_cmp_pd(kOut, _mm256_floor_pd(_mm256_add_pd(cOut, at.errorC)),
                                  _CMP_EQ_OQ)));
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d zero = _mm256_setzero_pd();
    const __m256d dj = _mm256_sub_pd(jOut, jIn);
    const __m256d dk = _mm256_sub_pd(kOut, kIn);
    decided = _mm256_and_pd(decided, _mm256_and_pd(_mm256_cmp_pd(absolute(dj), one, _CMP_LE_OQ),
                                                   _mm256_cmp_pd(absolute(dk), one, _CMP_LE_OQ)));
    Cells3 out;
    const __m256d movesB = _mm256_cmp_pd(dj, zero, _CMP_NEQ_OQ);
    const __m256d movesC = _mm256_cmp_pd(dk, zero, _CMP_NEQ_OQ);
    const __m256d moves = _mm256_or_pd(movesB, movesC);
    const __m256d both = _mm256_and_pd(movesB, movesC);
    out.count = _mm256_testz_pd(moves, moves) ? 1 : _mm256_testz_pd(both, both) ? 2 : 3;
    __m256d midJ = jIn;
    __m256d midK = kIn;
    if (out.count == 3) {
        // Which boundary the ray crosses first, where it changes cell both ways.
        const __m256d u = _mm256_sub_pd(_mm256_max_pd(jIn, jOut), bIn);
        const __m256d w = _mm256_sub_pd(_mm256_max_pd(kIn, kOut), cIn);
        const __m256d db = _mm256_sub_pd(bOut, bIn);
        const __m256d dc = _mm256_sub_pd(cOut, cIn);
        const __m256d udc = _mm256_mul_pd(u, dc);
        const __m256d wdb = _mm256_mul_pd(w, db);
        const __m256d cross = _mm256_sub_pd(udc, wdb);
        const __m256d two = _mm256_set1_pd(2.0);
        const __m256d bound = _mm256_add_pd(
                _mm256_add_pd(
                        _mm256_add_pd(
                                _mm256_mul_pd(_mm256_add_pd(absolute(dc),
                                                            _mm256_mul_pd(two, absolute(w))),
                                              at.errorB),
                                _mm256_mul_pd(_mm256_add_pd(absolute(db),
                                                            _mm256_mul_pd(two, absolute(u))),
                                              at.errorC)),
                        _mm256_mul_pd(_mm256_set1_pd(0x1p-50),
                                      _mm256_add_pd(absolute(udc), absolute(wdb)))),
                _mm256_set1_pd(tinyError));
        decided = _mm256_and_pd(decided,
                                _mm256_or_pd(_mm256_cmp_pd(both, zero, _CMP_EQ_OQ),
                                             _mm256_cmp_pd(absolute(cross), bound, _CMP_GT_OQ)));
        const __m256d sameWay = _mm256_cmp_pd(_mm256_mul_pd(db, dc), zero, _CMP_GT_OQ);
        const __m256d acrossBFirst = _mm256_or_pd(
                _mm256_and_pd(sameWay, _mm256_cmp_pd(cross, zero, _CMP_LT_OQ)),
                _mm256_andnot_pd(sameWay, _mm256_cmp_pd(cross, zero, _CMP_GT_OQ)));
        midJ = _mm256_blendv_pd(jIn, jOut, acrossBFirst);
        midK = _mm256_blendv_pd(kOut, kIn, acrossBFirst);
    }

    const __m256d columns[3] = {jIn, jOut, midJ};
    const __m256d rows[3] = {kIn, kOut, midK};
    const __m128i wanted = _mm256_cvtpd_epi32(_mm256_and_pd(decided, one));
    out.decided = _mm_cmpeq_epi32(wanted, _mm_set1_epi32(1));
    for (int n = 0; n < out.count; ++n) {
        // Positions far outside convert to the least int, outside too.
        out.column[n] = _mm256_cvttpd_epi32(columns[n]);
        out.row[n] = _mm256_cvttpd_epi32(rows[n]);
        out.inside[n] = _mm_and_si128(
                out.decided,
                _mm_and_si128(
                        _mm_cmpeq_epi32(_mm_min_epu32(out.column[n], lastColumn), out.column[n]),
                        _mm_cmpeq_epi32(_mm_min_epu32(out.row[n], lastRow), out.row[n])));
    }
    return out;
}

// Pictures: the greatest code of the three cells of four rays. Across Z the
// layer is one slice; across X or Y each cell lies in the slice its position
// across Z gives, all of one layout (CellFrame::planes).
template<int A, bool still>
__attribute__((target("avx2"))) void sampleCellsPicturesAvx2(const CellFrame &f,
                                                             const TiledSlice &s, CellPacket &p,
                                                             int layer, double from, double to,
                                                             const Prospect &bound)
{
    const SliceTiles &t = A == 2 ? *s.tiles : *f.layout;
    const Layer4 at(f, from, to);
    const __m128i lastB = _mm_set1_epi32(f.cellsB - 1);
    const __m128i lastC = _mm_set1_epi32(f.cellsC - 1);
    const __m128i lineStride = _mm_set1_epi32(int(t.lineStride));
    const __m128i cellShift = _mm_cvtsi32_si128(t.cellStride == 4 ? 2 : 0);
    // The offset of the layer itself, across X or Y.
    const __m128i across = _mm_set1_epi32(A == 0 ? layer * int(t.cellStride)
                                                 : A == 1 ? layer * int(t.lineStride) : 0);
    const PictureCodes4 codes(f);
    const __m128i all = _mm_set1_epi32(-1);
    const uchar *const plane = A == 2 ? t.plane : nullptr;
    const uchar *const *const planes = f.planes;
    const __m128i reach = _mm_set1_epi32(int(std::clamp(bound.code, -1.0, double(1 << 30))));
    __m128i least = _mm_set1_epi32(std::numeric_limits<qint32>::max());
    quint64 plainly = 0;
    for (int r = 0; r < packetRays; r += 4) {
        __m128i *slot = reinterpret_cast<__m128i *>(p.code + r);
        const __m128i current = _mm_load_si128(slot);
        if (_mm_testz_si128(_mm_cmpgt_epi32(reach, current), all)) {
            least = _mm_min_epi32(least, current);
            continue;
        }
        const Cells3 c = cells3<still>(at, p, r, lastB, lastC);
        plainly |= quint64(_mm_movemask_ps(_mm_castsi128_ps(_mm_xor_si128(c.decided, all)))) << r;
        __m128i raised = current;
        for (int n = 0; n < c.count; ++n) {
            __m128i index;
            if constexpr (A == 2) {
                index = _mm_add_epi32(_mm_mullo_epi32(c.row[n], lineStride),
                                      _mm_sll_epi32(c.column[n], cellShift));
            } else if constexpr (A == 0) {
                index = _mm_add_epi32(_mm_mullo_epi32(c.column[n], lineStride), across);
            } else {
                index = _mm_add_epi32(across, _mm_sll_epi32(c.column[n], cellShift));
            }
            alignas(16) int i[4];
            _mm_store_si128(reinterpret_cast<__m128i *>(i), _mm_and_si128(index, c.inside[n]));
            __m128i v;
            __m128i inside = c.inside[n];
            if constexpr (A == 2) {
                v = _mm_setr_epi32(plane[i[0]], plane[i[1]], plane[i[2]], plane[i[3]]);
            } else {
                // Across Z a cell may fall in a slice that gives nothing.
                alignas(16) int k[4];
                _mm_store_si128(reinterpret_cast<__m128i *>(k), _mm_and_si128(c.row[n], inside));
                alignas(16) int value[4];
                alignas(16) int there[4];
                for (int lane = 0; lane < 4; ++lane) {
                    const uchar *const in = planes[k[lane]];
                    there[lane] = in ? -1 : 0;
                    value[lane] = in ? in[i[lane]] : 0;
                }
                v = _mm_load_si128(reinterpret_cast<const __m128i *>(value));
                inside = _mm_and_si128(inside,
                                       _mm_load_si128(reinterpret_cast<const __m128i *>(there)));
            }
            raised = _mm_max_epi32(raised, codes.of(v, inside));
        }
        _mm_store_si128(slot, raised);
        least = _mm_min_epi32(least, raised);
    }
    p.leastCode = leastOf(least);
    for (; plainly; plainly &= plainly - 1)
        sampleRay<false, A>(f, p, std::countr_zero(plainly), layer, from, to);
}

// Text, from the 16-bit cells where the slice has them.
template<bool narrow, bool still>
__attribute__((target("avx2"))) void sampleCellsTextAvx2(const CellFrame &f, const TiledSlice &s,
                                                         CellPacket &p, int layer, double from,
                                                         double to, const Prospect &bound)
{
    const SliceTiles &t = *s.tiles;
    const Layer4 at(f, from, to);
    const __m128i lastColumn = _mm_set1_epi32(f.cellsB - 1);
    const __m128i lastRow = _mm_set1_epi32(f.cellsC - 1);
    const __m128i all = _mm_set1_epi32(-1);
    const __m128i width = _mm_set1_epi32(t.width);
    const TextKeys4 keys(f);
    const double *const *lines = t.lines.data();
    const qint16 *cells = t.narrow;
    const __m256d reach = _mm256_set1_pd(bound.key);
    __m256d least = _mm256_set1_pd(std::numeric_limits<double>::infinity());
    quint64 plainly = 0;
    for (int r = 0; r < packetRays; r += 4) {
        const __m256d current = _mm256_load_pd(p.key + r);
        if (_mm256_movemask_pd(_mm256_cmp_pd(current, reach, _CMP_LT_OQ)) == 0) {
            least = _mm256_min_pd(least, current);
            continue;
        }
        const Cells3 c = cells3<still>(at, p, r, lastColumn, lastRow);
        plainly |= quint64(_mm_movemask_ps(_mm_castsi128_ps(_mm_xor_si128(c.decided, all)))) << r;
        __m256d raised = current;
        for (int n = 0; n < c.count; ++n) {
            __m256d value;
            if constexpr (narrow) {
                alignas(16) int i[4];
                const __m128i index = _mm_add_epi32(_mm_mullo_epi32(c.row[n], width), c.column[n]);
                _mm_store_si128(reinterpret_cast<__m128i *>(i), _mm_and_si128(index, c.inside[n]));
                value = _mm256_cvtepi32_pd(
                        _mm_setr_epi32(cells[i[0]], cells[i[1]], cells[i[2]], cells[i[3]]));
            } else {
                alignas(16) int row[4];
                alignas(16) int column[4];
                _mm_store_si128(reinterpret_cast<__m128i *>(row),
                                _mm_and_si128(c.row[n], c.inside[n]));
                _mm_store_si128(reinterpret_cast<__m128i *>(column),
                                _mm_and_si128(c.column[n], c.inside[n]));
                value = _mm256_setr_pd(lines[row[0]][column[0]], lines[row[1]][column[1]],
                                       lines[row[2]][column[2]], lines[row[3]][column[3]]);
            }
            raised = _mm256_max_pd(raised, keys.of(value, c.inside[n]));
        }
        _mm256_store_pd(p.key + r, raised);
        least = _mm256_min_pd(least, raised);
    }
    p.leastKey = leastOf(least);
    for (; plainly; plainly &= plainly - 1)
        sampleRay<false, 2>(f, p, std::countr_zero(plainly), layer, from, to);
}

#endif

using LayerSampler = void (*)(const CellFrame &, const TiledSlice &, CellPacket &, int, double,
                              double, const Prospect &);

struct LayerSamplers
{
    LayerSampler pictures = nullptr;
    LayerSampler text = nullptr;
    LayerSampler narrowText = nullptr;
};

// Kernels for rays that move across the layer, and for rays that keep
// their cells across B and C.
struct LayerSamplerSet
{
    LayerSamplers moving;
    LayerSamplers still;
    // Pictures of one layout, layers across X or Y.
    LayerSampler acrossX = nullptr;
    LayerSampler acrossY = nullptr;
};

// The widest kernels this processor runs for layers across Z; none: the
// scalar one.
const LayerSamplerSet &layerSamplers()
{
    static const LayerSamplerSet chosen = [] {
        LayerSamplerSet s;
#ifdef CTSLAB_X86_KERNELS
        if (__builtin_cpu_supports("avx2") && wideKernelsWanted()) {
            s.moving = {sampleCellsPicturesAvx2<2, false>, sampleCellsTextAvx2<false, false>,
                        sampleCellsTextAvx2<true, false>};
            s.still = {sampleCellsPicturesAvx2<2, true>, sampleCellsTextAvx2<false, true>,
                       sampleCellsTextAvx2<true, true>};
            s.acrossX = sampleCellsPicturesAvx2<0, false>;
            s.acrossY = sampleCellsPicturesAvx2<1, false>;
        }
#endif
        return s;
    }();
    return chosen;
}

void noteLeast(CellPacket &p)
{
    p.leastCode = *std::min_element(p.code, p.code + packetRays);
    p.leastKey = *std::min_element(p.key, p.key + packetRays);
}

template<int A>
void sampleOpenly(const CellFrame &f, CellPacket &p, int layer, double from, double to,
                  const Prospect &bound)
{
    if (A != 2 && f.exactB && f.exactC) {
        // Each ray reads along one line of one slice.
        const int span = f.codeHigh - f.codeLow;
        for (int ray = 0; ray < packetRays; ++ray) {
            if (p.code[ray] >= bound.code && p.key[ray] >= bound.key)
                continue;
            const qsizetype at = layer * p.stillStep[ray];
            switch (p.stillKind[ray]) {
            case CellPacket::Picture: {
                const uchar value = static_cast<const uchar *>(p.still[ray])[at];
                const int rel = (value ^ f.flip) - f.codeLow;
                if (rel >= 0 && rel <= span)
                    p.code[ray] = std::max(p.code[ray], rel + 1);
                break;
            }
            case CellPacket::Narrow:
            case CellPacket::Wide: {
                const double value = p.stillKind[ray] == CellPacket::Narrow
                        ? static_cast<const qint16 *>(p.still[ray])[at]
                        : static_cast<const double *>(p.still[ray])[at];
                const double key = f.keySign * value;
                if (key >= f.keptLow && key <= f.keptHigh && key > p.key[ray])
                    p.key[ray] = key;
                break;
            }
            case CellPacket::Walked:
                sampleRay<false, A>(f, p, ray, layer, from, to);
                break;
            }
        }
        noteLeast(p);
        return;
    }
    for (int ray = 0; ray < packetRays; ++ray) {
        // A ray already at the bound cannot be raised here.
        if (p.code[ray] >= bound.code && p.key[ray] >= bound.key)
            continue;
        sampleRay<false, A>(f, p, ray, layer, from, to);
    }
    noteLeast(p);
}

template<int A>
void sampleCutting(const CellFrame &f, CellPacket &p, int layer, double from, double to)
{
    for (int ray = 0; ray < packetRays; ++ray)
        sampleRay<true, A>(f, p, ray, layer, from, to);
    noteLeast(p);
}

} // namespace

void sampleCellsOpen(const CellFrame &f, CellPacket &p, int layer, const Prospect &bound)
{
    const double from = f.planesA[layer];
    const double to = f.planesA[layer + 1];
    // Slices at one place leave the cells between them empty.
    if (!(from < to))
        return;
    if (f.A == 2) {
        // A layer across Z is one slice, of one kind.
        const TiledSlice &s = f.slices[layer];
        if (!s.tiles)
            return;
        const LayerSamplers &kernels =
                f.exactB && f.exactC ? layerSamplers().still : layerSamplers().moving;
        const LayerSampler kernel = s.text ? (s.tiles->narrow ? kernels.narrowText : kernels.text)
                                           : (s.offsets32 ? kernels.pictures : nullptr);
        if (kernel)
            kernel(f, s, p, layer, from, to, bound);
        else
            sampleOpenly<2>(f, p, layer, from, to, bound);
        return;
    }
    const LayerSampler across = f.layout && !(f.exactB && f.exactC)
            ? (f.A == 0 ? layerSamplers().acrossX : layerSamplers().acrossY)
            : nullptr;
    if (across)
        across(f, f.slices[0], p, layer, from, to, bound);
    else if (f.A == 0)
        sampleOpenly<0>(f, p, layer, from, to, bound);
    else
        sampleOpenly<1>(f, p, layer, from, to, bound);
}

void sampleCellsCut(const CellFrame &f, CellPacket &p, int layer)
{
    const double from = f.planesA[layer];
    const double to = f.planesA[layer + 1];
    if (!(from < to))
        return;
    if (f.A == 2)
        sampleCutting<2>(f, p, layer, from, to);
    else if (f.A == 0)
        sampleCutting<0>(f, p, layer, from, to);
    else
        sampleCutting<1>(f, p, layer, from, to);
}
