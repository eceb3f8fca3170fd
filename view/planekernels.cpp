#include "view/planekernels.h"

#include "panel/colourscale.h"
#include "slices/slicetiles.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "view/kernels4.h"

namespace {

struct SamplePoint
{
    double u;
    double w;
    double d;
};

SamplePoint plainSample(const PlaneFrame &f, double a, double b, double z)
{
    const ViewState &v = f.view;
    const double p0x = v.centre.x + v.zoom * (a * v.nx.x + b * v.ny.x);
    const double p0y = v.centre.y + v.zoom * (a * v.nx.y + b * v.ny.y);
    const double p0z = v.centre.z + v.zoom * (a * v.nx.z + b * v.ny.z);
    const double t = (z - p0z) / v.nz.z;
    const double px = p0x + t * v.nz.x;
    const double py = p0y + t * v.nz.y;
    const double pz = p0z + t * v.nz.z;
    return {f.halfSw + px, f.halfSh + py / f.ry, px * f.n.x + py * f.n.y + pz * f.n.z};
}

// Whether a position known within `error` truncates to a cell of 0..size-1:
// 1 with the cell, 0 for certainly outside, -1 when the bound cannot tell.
inline int cellOf(double x, double error, double size, int &cell)
{
    const double lo = x - error;
    const double hi = x + error;
    if (hi <= -1 || lo >= size)
        return 0;
    if (lo > -1 && hi < size) {
        const int c = int(lo);
        if (c == int(hi)) {
            cell = c;
            return 1;
        }
    }
    return -1;
}

template<bool text>
inline void take(const PlaneFrame &f, const SliceTiles &t, PlanePacket &p, int r, int column, int row,
                 bool inLayer)
{
    if constexpr (text) {
        const double value = t.narrow ? t.narrow[size_t(row) * size_t(t.width) + column]
                                      : t.lines[row][column];
        const double key = f.keySign * value;
        if (key >= f.keptLow && key <= f.keptHigh && key > p.key[r])
            p.key[r] = key;
        if (inLayer)
            p.layer[r] = intensity(value, f.low, f.high);
    } else {
        const uchar value = t.plane[row * t.lineStride + column * t.cellStride];
        const int rel = (value ^ f.flip) - f.codeLow;
        if (rel >= 0 && rel <= f.codeHigh - f.codeLow)
            p.code[r] = std::max(p.code[r], rel + 1);
        if (inLayer)
            p.layer[r] = f.pictureIntensity[value];
    }
}

template<bool text>
void takePlainly(const PlaneFrame &f, const TiledSlice &s, PlanePacket &p, int r)
{
    const double a = (p.i0 + r % packetSide) - f.halfW;
    const double b = (p.j0 + r / packetSide) - f.halfH;
    const SamplePoint pt = plainSample(f, a, b, s.z);
    if (!(pt.u > -1 && pt.u < f.swD && pt.w > -1 && pt.w < f.shD))
        return;
    if (f.section && pt.d >= f.sectionPos)
        return;
    take<text>(f, *s.tiles, p, r, int(pt.u), int(pt.w), f.section && pt.d > f.layerLow);
}

// One slice for every ray of the packet. In a mixed zone some samples may be
// cut away or lie in the section layer; elsewhere none is either.
template<bool text, bool mixed>
void sampleSlice(const PlaneFrame &f, const TiledSlice &s, PlanePacket &p, double zu, double zw,
                 double zd, double bound)
{
    const SliceTiles &t = *s.tiles;
    for (int r = 0; r < packetRays; ++r) {
        // A ray already at the slice's bound cannot be raised by it.
        if (!mixed && (text ? p.key[r] : p.code[r]) >= bound)
            continue;
        bool inLayer = false;
        if constexpr (mixed) {
            const double d = p.d0[r] + zd;
            const double lo = d - f.d.error;
            const double hi = d + f.d.error;
            if (lo >= f.sectionPos)
                continue;
            if (!(hi < f.sectionPos)) {
                takePlainly<text>(f, s, p, r);
                continue;
            }
            if (lo > f.layerLow) {
                inLayer = true;
            } else if (hi > f.layerLow) {
                takePlainly<text>(f, s, p, r);
                continue;
            }
        }
        int column = 0;
        int row = 0;
        const int inU = cellOf(p.u0[r] + zu, f.u.error, f.swD, column);
        if (inU == 0)
            continue;
        const int inW = cellOf(p.w0[r] + zw, f.w.error, f.shD, row);
        if (inW == 0)
            continue;
        if (inU < 0 || inW < 0) {
            takePlainly<text>(f, s, p, r);
            continue;
        }
        take<text>(f, t, p, r, column, row, inLayer);
    }
    if constexpr (text)
        p.leastKey = *std::min_element(p.key, p.key + packetRays);
    else
        p.leastCode = *std::min_element(p.code, p.code + packetRays);
}

template<bool text>
void samplePlainly(const PlaneFrame &f, const TiledSlice &s, PlanePacket &p, double zu, double zw,
                   double bound)
{
    sampleSlice<text, false>(f, s, p, zu, zw, 0.0, bound);
}

#ifdef CTSLAB_X86_KERNELS

// Where the samples of four rays lie: their cells (valid where decided and
// inside), whether the error bound decides both coordinates, and whether the
// cell is inside the grid.
struct Cells4
{
    __m128i column;
    __m128i row;
    __m128i decided;
    __m128i inside;
};

struct Locator4
{
    __m256d zu, zw, eu, ew;
    __m128i lastColumn, lastRow;

    __attribute__((target("avx2"))) Locator4(const PlaneFrame &f, double u, double w)
        : zu(_mm256_set1_pd(u)), zw(_mm256_set1_pd(w)), eu(_mm256_set1_pd(f.u.error)),
          ew(_mm256_set1_pd(f.w.error)), lastColumn(_mm_set1_epi32(f.sw - 1)),
          lastRow(_mm_set1_epi32(f.sh - 1))
    {
    }
};

__attribute__((target("avx2"))) inline Cells4 locate4(const Locator4 &at, const PlanePacket &p,
                                                      int r)
{
    const __m256d u = _mm256_add_pd(_mm256_load_pd(p.u0 + r), at.zu);
    const __m256d w = _mm256_add_pd(_mm256_load_pd(p.w0 + r), at.zw);
    const __m128i c0 = _mm256_cvttpd_epi32(_mm256_sub_pd(u, at.eu));
    const __m128i c1 = _mm256_cvttpd_epi32(_mm256_add_pd(u, at.eu));
    const __m128i r0 = _mm256_cvttpd_epi32(_mm256_sub_pd(w, at.ew));
    const __m128i r1 = _mm256_cvttpd_epi32(_mm256_add_pd(w, at.ew));
    // Truncation toward zero also decides the grid's edges: -1 and the size
    // are whole numbers, and (-1, 0) truncates to column 0 as it should.
    return {c0, r0, _mm_and_si128(_mm_cmpeq_epi32(c0, c1), _mm_cmpeq_epi32(r0, r1)),
            _mm_and_si128(_mm_cmpeq_epi32(_mm_min_epu32(c0, at.lastColumn), c0),
                          _mm_cmpeq_epi32(_mm_min_epu32(r0, at.lastRow), r0))};
}

// The same as sampleSlice<text, false>, four rays at a time. Lanes that the
// error bound cannot decide, or whose four bytes could not all be read, go
// the plain way afterwards; their order does not matter outside the layer.
__attribute__((target("avx2"))) void samplePicturesAvx2(const PlaneFrame &f,
                                                        const TiledSlice &s, PlanePacket &p,
                                                        double zu, double zw, double bound)
{
    const SliceTiles &t = *s.tiles;
    const Locator4 at(f, zu, zw);
    const __m128i lineStride = _mm_set1_epi32(int(t.lineStride));
    const __m128i cellShift = _mm_cvtsi32_si128(t.cellStride == 4 ? 2 : 0);
    const PictureCodes4 codes(f);
    const __m128i all = _mm_set1_epi32(-1);
    const uchar *plane = t.plane;
    const __m128i reach = _mm_set1_epi32(int(std::clamp(bound, -1.0, double(1 << 30))));
    __m128i least = _mm_set1_epi32(std::numeric_limits<qint32>::max());
    quint64 plainly = 0;
    for (int r = 0; r < packetRays; r += 4) {
        __m128i *slot = reinterpret_cast<__m128i *>(p.code + r);
        const __m128i current = _mm_load_si128(slot);
        // Four rays already at the slice's bound cannot be raised by it.
        if (_mm_testz_si128(_mm_cmpgt_epi32(reach, current), all)) {
            least = _mm_min_epi32(least, current);
            continue;
        }
        const Cells4 at4 = locate4(at, p, r);
        const __m128i index = _mm_add_epi32(_mm_mullo_epi32(at4.row, lineStride),
                                            _mm_sll_epi32(at4.column, cellShift));
        const __m128i take = _mm_and_si128(at4.decided, at4.inside);
        const __m128i rest = _mm_xor_si128(at4.decided, all);
        plainly |= quint64(_mm_movemask_ps(_mm_castsi128_ps(rest))) << r;
        // Four loads of their own: the processor's gather instruction is
        // slower here. Lanes not taken read the first cell, which is there.
        alignas(16) int at[4];
        _mm_store_si128(reinterpret_cast<__m128i *>(at), _mm_and_si128(index, take));
        const __m128i v =
                _mm_setr_epi32(plane[at[0]], plane[at[1]], plane[at[2]], plane[at[3]]);
        const __m128i raised = _mm_max_epi32(current, codes.of(v, take));
        _mm_store_si128(slot, raised);
        least = _mm_min_epi32(least, raised);
    }
    p.leastCode = leastOf(least);
    for (; plainly; plainly &= plainly - 1)
        takePlainly<false>(f, s, p, std::countr_zero(plainly));
}

// Text four rays at a time, from the 16-bit cells where the slice has them.
template<bool narrow>
__attribute__((target("avx2"))) void sampleTextAvx2(const PlaneFrame &f, const TiledSlice &s,
                                                    PlanePacket &p, double zu, double zw,
                                                    double bound)
{
    const SliceTiles &t = *s.tiles;
    const Locator4 at(f, zu, zw);
    const __m128i all = _mm_set1_epi32(-1);
    const __m128i width = _mm_set1_epi32(t.width);
    const TextKeys4 keys(f);
    const double *const *lines = t.lines.data();
    const qint16 *cells = t.narrow;
    const __m256d reach = _mm256_set1_pd(bound);
    __m256d least = _mm256_set1_pd(std::numeric_limits<double>::infinity());
    quint64 plainly = 0;
    for (int r = 0; r < packetRays; r += 4) {
        const __m256d current = _mm256_load_pd(p.key + r);
        if (_mm256_movemask_pd(_mm256_cmp_pd(current, reach, _CMP_LT_OQ)) == 0) {
            least = _mm256_min_pd(least, current);
            continue;
        }
        const Cells4 at4 = locate4(at, p, r);
        const __m128i undecided = _mm_xor_si128(at4.decided, all);
        plainly |= quint64(_mm_movemask_ps(_mm_castsi128_ps(undecided))) << r;
        const __m128i take = _mm_and_si128(at4.decided, at4.inside);
        // Loads of their own rather than gathers, as for pictures; lanes not
        // taken read the first cell.
        __m256d value;
        if constexpr (narrow) {
            alignas(16) int i[4];
            const __m128i index = _mm_add_epi32(_mm_mullo_epi32(at4.row, width), at4.column);
            _mm_store_si128(reinterpret_cast<__m128i *>(i), _mm_and_si128(index, take));
            value = _mm256_cvtepi32_pd(
                    _mm_setr_epi32(cells[i[0]], cells[i[1]], cells[i[2]], cells[i[3]]));
        } else {
            alignas(16) int row[4];
            alignas(16) int column[4];
            _mm_store_si128(reinterpret_cast<__m128i *>(row), _mm_and_si128(at4.row, take));
            _mm_store_si128(reinterpret_cast<__m128i *>(column),
                            _mm_and_si128(at4.column, take));
            value = _mm256_setr_pd(lines[row[0]][column[0]], lines[row[1]][column[1]],
                                   lines[row[2]][column[2]], lines[row[3]][column[3]]);
        }
        const __m256d raised = _mm256_max_pd(current, keys.of(value, take));
        _mm256_store_pd(p.key + r, raised);
        least = _mm256_min_pd(least, raised);
    }
    p.leastKey = leastOf(least);
    for (; plainly; plainly &= plainly - 1)
        takePlainly<true>(f, s, p, std::countr_zero(plainly));
}

#endif

// The last argument bounds what the slice can give the packet's rays.
using Sampler = void (*)(const PlaneFrame &, const TiledSlice &, PlanePacket &, double, double, double);

struct Samplers
{
    Sampler pictures = samplePlainly<false>;
    Sampler text = samplePlainly<true>;
    Sampler narrowText = samplePlainly<true>;
};

// The widest kernels this processor runs.
const Samplers &samplers()
{
    static const Samplers chosen = [] {
        Samplers s;
#ifdef CTSLAB_X86_KERNELS
        if (__builtin_cpu_supports("avx2") && wideKernelsWanted()) {
            s.pictures = samplePicturesAvx2;
            s.text = sampleTextAvx2<false>;
            s.narrowText = sampleTextAvx2<true>;
        }
#endif
        return s;
    }();
    return chosen;
}


} // namespace

void samplePlaneLayer(const PlaneFrame &f, const TiledSlice &s, PlanePacket &p)
{
    const double zu = s.z * f.u.perZ;
    const double zw = s.z * f.w.perZ;
    const double zd = s.z * f.d.perZ;
    if (s.text)
        sampleSlice<true, true>(f, s, p, zu, zw, zd, 0.0);
    else
        sampleSlice<false, true>(f, s, p, zu, zw, zd, 0.0);
}

void samplePlaneOpen(const PlaneFrame &f, const TiledSlice &s, PlanePacket &p,
                     const Prospect &bound)
{
    const double zu = s.z * f.u.perZ;
    const double zw = s.z * f.w.perZ;
    if (s.text)
        (s.tiles->narrow ? samplers().narrowText : samplers().text)(f, s, p, zu, zw, bound.key);
    else if (s.offsets32)
        samplers().pictures(f, s, p, zu, zw, bound.code);
    else
        samplePlainly<false>(f, s, p, zu, zw, bound.code);
}
