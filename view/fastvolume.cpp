#include "view/fastvolume.h"

#include "panel/colourscale.h"
#include "slices/slice.h"
#include "slices/slicetiles.h"
#include "view/projection.h"
#include "view/renderpool.h"

#include <QImage>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define CTSLAB_X86_KERNELS
#include <immintrin.h>
#endif

// The tiled road gives the picture of the plain per-pixel, per-slice
// algorithm to the bit, with two liberties, each proven harmless:
//
// 1. Where a sample lies. Along a ray the sample's column, row and depth
//    along the section normal are affine in the pixel offsets and the plane
//    of the slice, so they are taken from an affine model instead of the
//    plain algorithm's division. The model differs from the plain
//    arithmetic by rounding alone; both stay within a bound that follows
//    from the size of the terms (a few dozen units in the last place of the
//    largest; the bound used is several thousand). A decision (the cell a
//    position truncates to, the edges of the grid, the section plane and its
//    layer) is taken from the model only when no decision point lies within
//    the bound; otherwise that one sample is worked out by the plain
//    arithmetic. A coordinate that the view keeps constant along the rays
//    (the direction of view has no part along it) is computed exactly, once
//    per ray.
//
// 2. Which samples are looked at. Rays go in square packets. For each slice
//    a packet meets, a look at the slice's tile summary (smallest and
//    largest value per tile) bounds the intensity any of its samples can
//    have; when no ray of the packet can be raised by that bound the slice is
//    passed over for the packet. Only the maximum decides a pixel, so this
//    changes nothing. The section layer takes the last value rather than the
//    largest, so slices that may hold layer samples are always sampled, in
//    slice order; slices cut away whole are passed over.
//
// Intensities are compared without dividing. The intensity never falls as
// the value grows (never rises, for a window whose ends are swapped), so of
// the values whose intensity is in 0..255 the greatest (the least) has the
// greatest intensity: each ray keeps that value, and the intensity is worked
// out once, at the end.

namespace {

constexpr int packetSide = 8;
constexpr int packetRays = packetSide * packetSide;

// The model's error bound over the sum of the magnitudes of the terms.
constexpr double boundPerMagnitude = 0x1p-40;
// Beyond this magnitude the bound would come close to a cell.
constexpr double largestMagnitude = 0x1p30;
// Where the rays of a packet's places beyond the image's edge lie: outside
// every slice, behind every section.
constexpr double nowhere = 0x1p40;

// Wider than this many tiles a look costs more than sampling.
constexpr int widestLook = 6;

// An affine model of one coordinate of a sample over the pixel offsets a, b
// and the plane z of the slice.
struct Affine
{
    double base = 0.0;
    double perA = 0.0;
    double perB = 0.0;
    double perZ = 0.0;
    double error = 0.0; // bound of |model - plain arithmetic| over the image
};

struct TiledSlice
{
    double z = 0.0; // the plane of the slice, k - ss * 0.5
    const SliceTiles *tiles = nullptr;
    bool text = false;
    bool offsets32 = false; // a picture's offsets fit 32 bits
    // The summary's tiles, read for every packet the slice meets.
    int columns = 0;
    const uchar *low8 = nullptr;
    const uchar *high8 = nullptr;
    const uchar *blockLow8 = nullptr;
    const uchar *blockHigh8 = nullptr;
    const double *low = nullptr;
    const double *high = nullptr;
    const double *blockLow = nullptr;
    const double *blockHigh = nullptr;
};

// A colour's components, read once rather than per pixel.
struct Tint
{
    int red = 0;
    int green = 0;
    int blue = 0;

    explicit Tint(const QColor &c = QColor()) : red(c.red()), green(c.green()), blue(c.blue()) {}
    QRgb of(double I) const
    {
        return qRgba(tintComponent(red, I), tintComponent(green, I), tintComponent(blue, I), 255);
    }
};

struct TiledFrame
{
    ViewState view;
    quint8 *covered = nullptr; // pixels that later sets have drawn
    quint8 mark = 1;           // what this set's pixels are marked with there
    Vec3 n;
    int W = 0;
    int sw = 0;
    int sh = 0;
    double halfW = 0.0;
    double halfH = 0.0;
    double swD = 0.0;
    double shD = 0.0;
    double halfSw = 0.0;
    double halfSh = 0.0;
    Affine u;
    Affine w;
    Affine d;
    bool exactU = false; // the column stays the same along each ray
    bool exactW = false;
    bool section = false;
    double sectionPos = 0.0; // C: samples at or beyond it are cut away
    double layerLow = 0.0;   // C - 1

    // Pictures: a value v is turned to v ^ flip, so that the intensity never
    // falls as the turned value grows; turned values codeLow..codeHigh have
    // an intensity above 0 and are kept as the code turned - codeLow + 1.
    int flip = 0;
    int codeLow = 1;
    int codeHigh = 0;
    bool picturesShow = false;
    double pictureIntensity[256];

    // Text: keys are values times keySign; keys in [keptLow, keptHigh] have
    // intensities in 0..255, all others have intensity 0.
    double keySign = 1.0;
    double keptLow = 1.0;
    double keptHigh = 0.0;
    bool textShows = false;
    double low = 0.0;
    double high = 0.0;

    Tint volumeTint;
    Tint sectionTint;
    QRgb codeTint[256]; // the volume tint of each picture code but 0
    const TiledSlice *slices = nullptr;
    int sliceCount = 0;
    uchar *bits = nullptr;
    qsizetype bytesPerLine = 0;
};

// Doubles in the order of unsigned integers, for searching by bisection.
quint64 orderKey(double x)
{
    const quint64 bits = std::bit_cast<quint64>(x);
    return (bits >> 63) ? ~bits : bits | (quint64(1) << 63);
}

double fromOrderKey(quint64 key)
{
    return std::bit_cast<double>((key >> 63) ? key & ~(quint64(1) << 63) : ~key);
}

// The double farthest from `from` toward `to` (both included) for which
// `holds` is true, where it holds at `from` and, once false on the way to
// `to`, stays false.
template<typename Predicate>
double farthestHolding(double from, double to, Predicate holds)
{
    if (holds(to))
        return to;
    quint64 good = orderKey(from);
    quint64 bad = orderKey(to);
    while ((good < bad ? bad - good : good - bad) > 1) {
        const quint64 mid = good < bad ? good + (bad - good) / 2 : bad + (good - bad) / 2;
        if (holds(fromOrderKey(mid)))
            good = mid;
        else
            bad = mid;
    }
    return fromOrderKey(good);
}

// The keys of the text values whose intensity is in 0..255.
void keepTextWindow(TiledFrame &f)
{
    const double low = f.low;
    const double high = f.high;
    const double span = high - low;
    // A window without a finite, non-zero width gives every value intensity 0.
    if (!(std::isfinite(low) && std::isfinite(high) && std::isfinite(span) && span != 0))
        return;
    const auto withinTop = [&](double v) { return (v - low) / (high - low) * 256 <= 255; };
    // The intensity is at least 0 exactly from `low` on, upward for a window
    // in order and downward for a swapped one.
    if (span > 0) {
        f.keptLow = low;
        f.keptHigh = farthestHolding(low, std::numeric_limits<double>::max(), withinTop);
    } else {
        f.keySign = -1.0;
        f.keptLow = -low;
        f.keptHigh = -farthestHolding(low, -std::numeric_limits<double>::max(), withinTop);
    }
}

// The picture values with an intensity above 0, turned so that the
// intensity never falls along them. False if they are not so (which the
// intensity rule rules out).
bool keepPictureWindow(TiledFrame &f)
{
    int first = -1;
    int last = -1;
    for (int v = 0; v < 256; ++v) {
        f.pictureIntensity[v] = intensity(v, f.low, f.high);
        if (f.pictureIntensity[v] > 0) {
            if (first < 0)
                first = v;
            last = v;
        }
    }
    if (first < 0)
        return true;
    f.flip = f.pictureIntensity[last] >= f.pictureIntensity[first] ? 0 : 255;
    f.codeLow = std::min(first ^ f.flip, last ^ f.flip);
    f.codeHigh = std::max(first ^ f.flip, last ^ f.flip);
    for (int turned = f.codeLow; turned < f.codeHigh; ++turned) {
        const double here = f.pictureIntensity[turned ^ f.flip];
        const double next = f.pictureIntensity[(turned + 1) ^ f.flip];
        if (!(here > 0 && next >= here))
            return false;
    }
    f.picturesShow = true;
    return true;
}

// The plain algorithm's arithmetic for one sample.
struct SamplePoint
{
    double u;
    double w;
    double d;
};

SamplePoint plainSample(const TiledFrame &f, double a, double b, double z)
{
    const ViewState &v = f.view;
    const double p0x = v.centre.x + v.zoom * (a * v.nx.x + b * v.ny.x);
    const double p0y = v.centre.y + v.zoom * (a * v.nx.y + b * v.ny.y);
    const double p0z = v.centre.z + v.zoom * (a * v.nx.z + b * v.ny.z);
    const double t = (z - p0z) / v.nz.z;
    const double px = p0x + t * v.nz.x;
    const double py = p0y + t * v.nz.y;
    const double pz = p0z + t * v.nz.z;
    return {f.halfSw + px, f.halfSh + py, px * f.n.x + py * f.n.y + pz * f.n.z};
}

// The rays of a square of pixels and what they have gathered so far. Ray r
// is the pixel (i0 + r % 8, j0 + r / 8); places beyond the image's edge hold
// rays that meet nothing and never hold the least value down.
struct alignas(64) Packet
{
    double u0[packetRays]; // model of the column position at plane 0
    double w0[packetRays];
    double d0[packetRays];
    double key[packetRays];   // greatest text key kept, -infinity for none
    double layer[packetRays]; // intensity of the last sample in the section layer
    qint32 code[packetRays];  // greatest picture code kept, 0 for none
    int i0 = 0;
    int j0 = 0;
    int columns = 0;
    int rows = 0;
    double uMin, uMax, wMin, wMax, dMin, dMax;
    // The least code and key over all rays; a sampler that cannot tell them
    // leaves them as they are, too small, which is always safe.
    qint32 leastCode = 0;
    double leastKey = 0.0;
};

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
inline void take(const TiledFrame &f, const SliceTiles &t, Packet &p, int r, int column, int row,
                 bool inLayer)
{
    if constexpr (text) {
        const double value = t.narrow.empty() ? t.lines[row][column]
                                              : t.narrow[size_t(row) * size_t(t.width) + column];
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
void takePlainly(const TiledFrame &f, const TiledSlice &s, Packet &p, int r)
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
void sampleSlice(const TiledFrame &f, const TiledSlice &s, Packet &p, double zu, double zw,
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
void samplePlainly(const TiledFrame &f, const TiledSlice &s, Packet &p, double zu, double zw,
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

    __attribute__((target("avx2"))) Locator4(const TiledFrame &f, double u, double w)
        : zu(_mm256_set1_pd(u)), zw(_mm256_set1_pd(w)), eu(_mm256_set1_pd(f.u.error)),
          ew(_mm256_set1_pd(f.w.error)), lastColumn(_mm_set1_epi32(f.sw - 1)),
          lastRow(_mm_set1_epi32(f.sh - 1))
    {
    }
};

__attribute__((target("avx2"))) inline Cells4 locate4(const Locator4 &at, const Packet &p,
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
__attribute__((target("avx2"))) void samplePicturesAvx2(const TiledFrame &f,
                                                        const TiledSlice &s, Packet &p,
                                                        double zu, double zw, double bound)
{
    const SliceTiles &t = *s.tiles;
    const Locator4 at(f, zu, zw);
    const __m128i lineStride = _mm_set1_epi32(int(t.lineStride));
    const __m128i cellShift = _mm_cvtsi32_si128(t.cellStride == 4 ? 2 : 0);
    const __m128i flip = _mm_set1_epi32(f.flip);
    const __m128i codeLow = _mm_set1_epi32(f.codeLow);
    const __m128i span = _mm_set1_epi32(f.codeHigh - f.codeLow);
    const __m128i one = _mm_set1_epi32(1);
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
        __m128i v = _mm_setr_epi32(plane[at[0]], plane[at[1]], plane[at[2]], plane[at[3]]);
        v = _mm_xor_si128(_mm_and_si128(v, take), flip);
        const __m128i rel = _mm_sub_epi32(v, codeLow);
        const __m128i kept =
                _mm_and_si128(_mm_cmpeq_epi32(_mm_min_epu32(rel, span), rel), take);
        const __m128i code = _mm_and_si128(_mm_add_epi32(rel, one), kept);
        const __m128i raised = _mm_max_epi32(current, code);
        _mm_store_si128(slot, raised);
        least = _mm_min_epi32(least, raised);
    }
    least = _mm_min_epi32(least, _mm_shuffle_epi32(least, _MM_SHUFFLE(1, 0, 3, 2)));
    least = _mm_min_epi32(least, _mm_shuffle_epi32(least, _MM_SHUFFLE(2, 3, 0, 1)));
    p.leastCode = _mm_cvtsi128_si32(least);
    for (; plainly; plainly &= plainly - 1)
        takePlainly<false>(f, s, p, std::countr_zero(plainly));
}

// Text four rays at a time, from the 16-bit cells where the slice has them.
template<bool narrow>
__attribute__((target("avx2"))) void sampleTextAvx2(const TiledFrame &f, const TiledSlice &s,
                                                    Packet &p, double zu, double zw,
                                                    double bound)
{
    const SliceTiles &t = *s.tiles;
    const Locator4 at(f, zu, zw);
    const __m128i all = _mm_set1_epi32(-1);
    const __m128i width = _mm_set1_epi32(t.width);
    const __m256d sign = _mm256_set1_pd(f.keySign);
    const __m256d keptLow = _mm256_set1_pd(f.keptLow);
    const __m256d keptHigh = _mm256_set1_pd(f.keptHigh);
    const __m256d none = _mm256_set1_pd(-std::numeric_limits<double>::infinity());
    const double *const *lines = t.lines.data();
    const qint16 *cells = t.narrow.data();
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
        const __m256i wide = _mm256_cvtepi32_epi64(take);
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
        const __m256d key = _mm256_mul_pd(value, sign);
        const __m256d kept = _mm256_and_pd(
                _mm256_and_pd(_mm256_cmp_pd(key, keptLow, _CMP_GE_OQ),
                              _mm256_cmp_pd(key, keptHigh, _CMP_LE_OQ)),
                _mm256_castsi256_pd(wide));
        const __m256d raised = _mm256_max_pd(current, _mm256_blendv_pd(none, key, kept));
        _mm256_store_pd(p.key + r, raised);
        least = _mm256_min_pd(least, raised);
    }
    const __m128d half =
            _mm_min_pd(_mm256_castpd256_pd128(least), _mm256_extractf128_pd(least, 1));
    p.leastKey = _mm_cvtsd_f64(_mm_min_sd(half, _mm_unpackhi_pd(half, half)));
    for (; plainly; plainly &= plainly - 1)
        takePlainly<true>(f, s, p, std::countr_zero(plainly));
}

#endif

// The last argument bounds what the slice can give the packet's rays.
using Sampler = void (*)(const TiledFrame &, const TiledSlice &, Packet &, double, double, double);

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
        if (__builtin_cpu_supports("avx2")) {
            s.pictures = samplePicturesAvx2;
            s.text = sampleTextAvx2<false>;
            s.narrowText = sampleTextAvx2<true>;
        }
#endif
        return s;
    }();
    return chosen;
}

// How far a packet's samples in a slice, or in eight consecutive slices, can
// raise its rays, from the tile summaries alone: the greatest picture code
// and the greatest text key that the tiles around the samples hold within
// the window (-infinity for none), and a bucket for visiting the greatest
// first. Footprints too wide to look at get the top bucket and bounds
// nothing passes.
struct Prospect
{
    int first = 0; // the slices
    int last = 0;
    int bucket = 0;
    double code = -std::numeric_limits<double>::infinity();
    double key = -std::numeric_limits<double>::infinity();
};

constexpr int buckets = 258;

// The tiles a packet's samples may fall in.
struct TileRect
{
    int tx0 = 0;
    int tx1 = 0;
    int ty0 = 0;
    int ty1 = 0;
};

TileRect tilesUnder(const TiledFrame &f, double uLo, double uHi, double wLo, double wHi)
{
    const int c0 = uLo > 0 ? int(uLo) : 0;
    const int c1 = uHi < f.swD ? (uHi > 0 ? int(uHi) : 0) : f.sw - 1;
    const int r0 = wLo > 0 ? int(wLo) : 0;
    const int r1 = wHi < f.shD ? (wHi > 0 ? int(wHi) : 0) : f.sh - 1;
    return {c0 >> SliceTiles::shift, c1 >> SliceTiles::shift, r0 >> SliceTiles::shift,
            r1 >> SliceTiles::shift};
}

bool tooWide(const TileRect &r)
{
    return r.tx1 - r.tx0 > widestLook || r.ty1 - r.ty0 > widestLook;
}

// The greatest code of the picture values in [low, high], 0 for none.
inline int codeBound(const TiledFrame &f, int low, int high)
{
    const int lo = f.flip ? 255 - high : low;
    const int hi = f.flip ? 255 - low : high;
    return hi >= f.codeLow && lo <= f.codeHigh ? std::min(hi, f.codeHigh) - f.codeLow + 1 : 0;
}

// The greatest kept key of the text values in [low, high], -infinity for none.
inline double keyBound(const TiledFrame &f, double low, double high)
{
    const double lo = f.keySign > 0 ? low : -high;
    const double hi = f.keySign > 0 ? high : -low;
    return hi >= f.keptLow && lo <= f.keptHigh ? std::min(hi, f.keptHigh)
                                               : -std::numeric_limits<double>::infinity();
}

// Over the tiles of the rectangle: one tile, or blocks of 2 x 2 tiles.
// `at` gives the smallest and largest value of a tile or block.
template<typename T, typename At, typename Bound>
auto boundOver(const TileRect &r, At at, Bound bound, T none)
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

int bucketOf(const TiledFrame &f, const Prospect &p)
{
    int bucket = int(std::max(p.code, 0.0));
    if (p.key > -std::numeric_limits<double>::infinity()) {
        const double share = (p.key - f.keptLow) / (f.keptHigh - f.keptLow);
        bucket = std::max(bucket, share > 0 ? 1 + int(std::min(share, 1.0) * 255) : 1);
    }
    return bucket;
}

// One slice; false when nothing there can raise a ray at all.
bool lookAt(const TiledFrame &f, const TiledSlice &s, const TileRect &r, Prospect &out)
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
                [&](double low, double high) { return keyBound(f, low, high); },
                -std::numeric_limits<double>::infinity());
        if (out.key == -std::numeric_limits<double>::infinity())
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

// Slices by eights: each tile's smallest and largest value over eight
// consecutive slices of each kind, made anew for each rendering, so that a
// packet passes over eight slices at one look.
constexpr int slabShift = 3;
constexpr int slabSize = 1 << slabShift;

struct SlabBounds8
{
    uchar low = 255, high = 0, blockLow = 255, blockHigh = 0;
};

struct SlabBoundsD
{
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    double blockLow = std::numeric_limits<double>::infinity();
    double blockHigh = -std::numeric_limits<double>::infinity();
};

struct SlabMap
{
    int columns = 0; // tiles across and down the set
    int rows = 0;
    int slabs = 0;
    std::vector<SlabBounds8> pictures; // [slab][ty][tx]
    std::vector<SlabBoundsD> text;
};

void mapSlab(SlabMap &m, const TiledFrame &f, int slab)
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
    const int k1 = std::min((slab + 1) << slabShift, f.sliceCount);
    for (int k = slab << slabShift; k < k1; ++k) {
        const TiledSlice &s = f.slices[k];
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

// Eight slices; false when nothing there can raise a ray at all.
bool lookAtSlab(const TiledFrame &f, const SlabMap &m, int slab, const TileRect &r,
                Prospect &out)
{
    if (tooWide(r)) {
        out.bucket = buckets - 1;
        out.code = out.key = std::numeric_limits<double>::infinity();
        return true;
    }
    const qsizetype base = qsizetype(slab) * m.rows * m.columns;
    if (!m.pictures.empty() && f.picturesShow) {
        out.code = boundOver(
                r,
                [&](int tx, int ty, bool one) {
                    const SlabBounds8 &b = m.pictures[base + qsizetype(ty) * m.columns + tx];
                    return one ? std::pair<int, int>(b.low, b.high)
                               : std::pair<int, int>(b.blockLow, b.blockHigh);
                },
                [&](int low, int high) { return codeBound(f, low, high); }, 0);
        if (out.code == 0)
            out.code = -std::numeric_limits<double>::infinity();
    }
    if (!m.text.empty() && f.textShows) {
        out.key = boundOver(
                r,
                [&](int tx, int ty, bool one) {
                    const SlabBoundsD &b = m.text[base + qsizetype(ty) * m.columns + tx];
                    return one ? std::pair(b.low, b.high) : std::pair(b.blockLow, b.blockHigh);
                },
                [&](double low, double high) { return keyBound(f, low, high); },
                -std::numeric_limits<double>::infinity());
    }
    if (out.code == -std::numeric_limits<double>::infinity()
        && out.key == -std::numeric_limits<double>::infinity())
        return false;
    out.bucket = bucketOf(f, out);
    return true;
}

void startPacket(const TiledFrame &f, Packet &p, int i0, int j0, int columns, int rows)
{
    p.i0 = i0;
    p.j0 = j0;
    p.columns = columns;
    p.rows = rows;
    const ViewState &v = f.view;
    constexpr double infinity = std::numeric_limits<double>::infinity();
    p.uMin = p.wMin = p.dMin = infinity;
    p.uMax = p.wMax = p.dMax = -infinity;
    for (int r = 0; r < packetRays; ++r) {
        const int cc = r % packetSide;
        const int rr = r / packetSide;
        p.layer[r] = 0.0;
        if (cc >= columns || rr >= rows) {
            p.u0[r] = -nowhere;
            p.w0[r] = -nowhere;
            p.d0[r] = nowhere;
            p.code[r] = std::numeric_limits<qint32>::max();
            p.key[r] = infinity;
            continue;
        }
        const double a = (i0 + cc) - f.halfW;
        const double b = (j0 + rr) - f.halfH;
        // Along a ray with no part of the view's direction along X the
        // sample's X is the ray's start, exactly; likewise for Y.
        p.u0[r] = f.exactU ? f.halfSw + (v.centre.x + v.zoom * (a * v.nx.x + b * v.ny.x))
                           : f.u.base + a * f.u.perA + b * f.u.perB;
        p.w0[r] = f.exactW ? f.halfSh + (v.centre.y + v.zoom * (a * v.nx.y + b * v.ny.y))
                           : f.w.base + a * f.w.perA + b * f.w.perB;
        p.d0[r] = f.d.base + a * f.d.perA + b * f.d.perB;
        p.uMin = std::min(p.uMin, p.u0[r]);
        p.uMax = std::max(p.uMax, p.u0[r]);
        p.wMin = std::min(p.wMin, p.w0[r]);
        p.wMax = std::max(p.wMax, p.w0[r]);
        p.dMin = std::min(p.dMin, p.d0[r]);
        p.dMax = std::max(p.dMax, p.d0[r]);
        p.code[r] = 0;
        p.key[r] = -infinity;
    }
    p.leastCode = 0;
    p.leastKey = -infinity;
}

// The slices a packet has to look at, kept between packets and renderings.
struct Plan
{
    std::vector<int> layered;
    std::vector<Prospect> open;
    std::vector<Prospect> ordered;
    int count[buckets];
};

void sampleOpen(const TiledFrame &f, const TiledSlice &s, Packet &p, const Prospect &bound)
{
    const double zu = s.z * f.u.perZ;
    const double zw = s.z * f.w.perZ;
    if (s.text)
        (s.tiles->narrow.empty() ? samplers().text : samplers().narrowText)(f, s, p, zu, zw,
                                                                            bound.key);
    else if (s.offsets32)
        samplers().pictures(f, s, p, zu, zw, bound.code);
    else
        samplePlainly<false>(f, s, p, zu, zw, bound.code);
}

// The slices that may hold section layer samples go first, in slice order,
// as the layer keeps the last of its samples. The others, where only the
// greatest value counts, go greatest bound first: once the least of the
// packet's rays has passed a slice's bound the slice is passed over, and
// visiting the brightest tiles first gets there soonest.
// Where a packet's samples may lie over the slices from z0 to z1: the
// models are affine in z and rounding keeps order, so the ends bound it.
struct Reach
{
    double uLo, uHi, wLo, wHi, dLo, dHi;
};

Reach reachOf(const TiledFrame &f, const Packet &p, double z0, double z1)
{
    const double u0 = z0 * f.u.perZ;
    const double u1 = z1 * f.u.perZ;
    const double w0 = z0 * f.w.perZ;
    const double w1 = z1 * f.w.perZ;
    const double d0 = z0 * f.d.perZ;
    const double d1 = z1 * f.d.perZ;
    return {(p.uMin + std::min(u0, u1)) - f.u.error, (p.uMax + std::max(u0, u1)) + f.u.error,
            (p.wMin + std::min(w0, w1)) - f.w.error, (p.wMax + std::max(w0, w1)) + f.w.error,
            (p.dMin + std::min(d0, d1)) - f.d.error, (p.dMax + std::max(d0, d1)) + f.d.error};
}

void prefetchCells(const TiledFrame &f, const TiledSlice &s, const Reach &r)
{
    const int r0 = r.wLo > 0 ? int(r.wLo) : 0;
    const int r1 = r.wHi < f.shD ? (r.wHi > 0 ? int(r.wHi) : 0) : f.sh - 1;
    const int c0 = r.uLo > 0 ? int(r.uLo) : 0;
    const int c1 = r.uHi < f.swD ? (r.uHi > 0 ? int(r.uHi) : 0) : f.sw - 1;
    if (r1 - r0 > 2 * packetSide)
        return;
    const SliceTiles &t = *s.tiles;
    for (int row = r0; row <= r1; ++row) {
        if (!t.narrow.empty()) {
            const qint16 *line = t.narrow.data() + qsizetype(row) * t.width;
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

bool meetsGrid(const TiledFrame &f, const Reach &r)
{
    return r.uHi > -1 && r.uLo < f.swD && r.wHi > -1 && r.wLo < f.shD;
}

// The slices that may hold section layer samples go first, in slice order,
// as the layer keeps the last of its samples. The others, where only the
// greatest value counts, go greatest bound first, eight at a time where
// they can: once the least of the packet's rays has passed a bound the
// slices under it are passed over, and visiting the brightest tiles first
// gets there soonest.
void renderPacket(const TiledFrame &f, const SlabMap &m, Packet &p, Plan &plan)
{
    plan.layered.clear();
    plan.open.clear();
    // Where the view's direction has no part along the slices, a packet's
    // samples fall in the same cells of every slice.
    const bool still = f.u.perZ == 0 && f.w.perZ == 0;
    const TileRect stillUnder = tilesUnder(f, p.uMin - f.u.error, p.uMax + f.u.error,
                                           p.wMin - f.w.error, p.wMax + f.w.error);
    for (int slab = 0; slab < m.slabs; ++slab) {
        const int first = slab << slabShift;
        const int last = std::min(first + slabSize, f.sliceCount) - 1;
        const Reach reach = reachOf(f, p, f.slices[first].z, f.slices[last].z);
        if (!meetsGrid(f, reach) || (f.section && reach.dLo >= f.sectionPos))
            continue;
        if (!f.section || reach.dHi <= f.layerLow) {
            Prospect prospect;
            prospect.first = first;
            prospect.last = last;
            const TileRect under =
                    still ? stillUnder : tilesUnder(f, reach.uLo, reach.uHi, reach.wLo, reach.wHi);
            if (lookAtSlab(f, m, slab, under, prospect))
                plan.open.push_back(prospect);
            continue;
        }
        // Near the section: slice by slice.
        for (int k = first; k <= last; ++k) {
            const TiledSlice &s = f.slices[k];
            const Reach one = reachOf(f, p, s.z, s.z);
            if (!meetsGrid(f, one) || one.dLo >= f.sectionPos)
                continue;
            if (!(one.dHi <= f.layerLow)) {
                // The last layer sample counts even with intensity 0, so
                // every kind of slice is sampled here. Its cells are asked
                // for now and come while the rest is planned.
                plan.layered.push_back(k);
                prefetchCells(f, s, one);
                continue;
            }
            Prospect prospect;
            prospect.first = prospect.last = k;
            if ((s.text ? f.textShows : f.picturesShow)
                && lookAt(f, s, tilesUnder(f, one.uLo, one.uHi, one.wLo, one.wHi), prospect))
                plan.open.push_back(prospect);
        }
    }

    for (const int k : plan.layered) {
        const TiledSlice &s = f.slices[k];
        const double zu = s.z * f.u.perZ;
        const double zw = s.z * f.w.perZ;
        const double zd = s.z * f.d.perZ;
        if (s.text)
            sampleSlice<true, true>(f, s, p, zu, zw, zd, 0.0);
        else
            sampleSlice<false, true>(f, s, p, zu, zw, zd, 0.0);
    }

    std::fill(plan.count, plan.count + buckets, 0);
    for (const Prospect &prospect : plan.open)
        ++plan.count[prospect.bucket];
    int start = 0;
    for (int bucket = buckets - 1; bucket >= 0; --bucket) {
        const int n = plan.count[bucket];
        plan.count[bucket] = start;
        start += n;
    }
    plan.ordered.resize(plan.open.size());
    for (const Prospect &prospect : plan.open)
        plan.ordered[plan.count[prospect.bucket]++] = prospect;
    const auto raises = [&p](const Prospect &prospect) {
        return prospect.code > p.leastCode || prospect.key > p.leastKey;
    };
    for (const Prospect &prospect : plan.ordered) {
        if (!raises(prospect))
            continue;
        if (prospect.first == prospect.last) {
            sampleOpen(f, f.slices[prospect.first], p, prospect);
            continue;
        }
        // The slices of the eight to sample have their cells asked for
        // together, so that the waits for memory overlap.
        Prospect chosen[slabSize];
        int count = 0;
        for (int k = prospect.first; k <= prospect.last; ++k) {
            const TiledSlice &s = f.slices[k];
            const Reach one = reachOf(f, p, s.z, s.z);
            if (!meetsGrid(f, one) || !(s.text ? f.textShows : f.picturesShow))
                continue;
            Prospect &slice = chosen[count];
            slice = Prospect();
            slice.first = slice.last = k;
            const TileRect under =
                    still ? stillUnder : tilesUnder(f, one.uLo, one.uHi, one.wLo, one.wHi);
            if (lookAt(f, s, under, slice) && raises(slice)) {
                prefetchCells(f, s, one);
                ++count;
            }
        }
        for (int i = 0; i < count; ++i) {
            if (raises(chosen[i]))
                sampleOpen(f, f.slices[chosen[i].first], p, chosen[i]);
        }
    }
}

quint8 *coveredLine(const TiledFrame &f, int i0, int j)
{
    return f.covered ? f.covered + qsizetype(j) * f.W + i0 : nullptr;
}

void finishPacket(const TiledFrame &f, const Packet &p)
{
    for (int rr = 0; rr < p.rows; ++rr) {
        QRgb *line = reinterpret_cast<QRgb *>(f.bits + (p.j0 + rr) * f.bytesPerLine) + p.i0;
        quint8 *covered = coveredLine(f, p.i0, p.j0 + rr);
        for (int cc = 0; cc < p.columns; ++cc) {
            if (covered && covered[cc])
                continue;
            const int r = rr * packetSide + cc;
            QRgb colour;
            if (f.section && p.layer[r] > 0) {
                colour = f.sectionTint.of(p.layer[r]);
            } else if (p.key[r] > -std::numeric_limits<double>::infinity()) {
                double V = intensity(f.keySign * p.key[r], f.low, f.high);
                if (p.code[r] > 0)
                    V = std::max(V, f.pictureIntensity[(p.code[r] - 1 + f.codeLow) ^ f.flip]);
                if (!(V > 0))
                    continue;
                colour = f.volumeTint.of(V);
            } else if (p.code[r] > 0) {
                colour = f.codeTint[p.code[r] - 1];
            } else {
                continue;
            }
            line[cc] = colour;
            if (covered)
                covered[cc] = f.mark;
        }
    }
}

// Whether later sets have drawn every pixel of a packet.
bool packetCovered(const TiledFrame &f, int i0, int j0, int columns, int rows)
{
    if (!f.covered)
        return false;
    for (int rr = 0; rr < rows; ++rr) {
        const quint8 *covered = coveredLine(f, i0, j0 + rr);
        for (int cc = 0; cc < columns; ++cc) {
            if (!covered[cc])
                return false;
        }
    }
    return true;
}

// Kept between renderings, so that none allocates.
thread_local Packet packet;
thread_local Plan plan;
thread_local SlabMap slabMap;
thread_local std::vector<TiledSlice> tiledSlices;

void renderBand(const TiledFrame &f, const SlabMap &m, int j0, int rows)
{
    for (int i0 = 0; i0 < f.W; i0 += packetSide) {
        if (packetCovered(f, i0, j0, std::min(packetSide, f.W - i0), rows))
            continue;
        startPacket(f, packet, i0, j0, std::min(packetSide, f.W - i0), rows);
        renderPacket(f, m, packet, plan);
        finishPacket(f, packet);
    }
}

// Code that ran earlier on this thread may have left the upper halves of the
// AVX registers in use; on some processors the SSE arithmetic below then runs
// several times slower until they are cleared.
void clearUpperVectorState()
{
#ifdef CTSLAB_X86_KERNELS
    static const bool hasAvx = __builtin_cpu_supports("avx");
    if (hasAvx)
        __asm__ volatile("vzeroupper" ::: "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6",
                         "xmm7", "xmm8", "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14",
                         "xmm15");
#endif
}

// One coordinate of the sample point over a, b and z: the ray's start plus
// its run to the slice's plane, with r the direction's part along that
// coordinate per unit along Z.
Affine pointModel(const ViewState &v, double centre, double alongX, double alongY, double r)
{
    Affine m;
    m.base = centre - v.centre.z * r;
    m.perA = v.zoom * (alongX - v.nx.z * r);
    m.perB = v.zoom * (alongY - v.ny.z * r);
    m.perZ = r;
    return m;
}

// Sums of the magnitudes of the terms of each coordinate; the models' error
// bounds are a fixed share of them.
bool setModels(TiledFrame &f, int H, int ss)
{
    const ViewState &v = f.view;
    const double A = f.halfW;
    const double B = H * 0.5;
    const double Z = ss * 0.5;
    const double zoom = std::fabs(v.zoom);
    const double mx = std::fabs(v.centre.x) + zoom * (A * std::fabs(v.nx.x) + B * std::fabs(v.ny.x));
    const double my = std::fabs(v.centre.y) + zoom * (A * std::fabs(v.nx.y) + B * std::fabs(v.ny.y));
    const double mz = std::fabs(v.centre.z) + zoom * (A * std::fabs(v.nx.z) + B * std::fabs(v.ny.z));
    const double rx = v.nz.x / v.nz.z;
    const double ry = v.nz.y / v.nz.z;
    const double depth = Z + mz;
    const double sx = mx + depth * std::fabs(rx);
    const double sy = my + depth * std::fabs(ry);
    const double su = f.halfSw + 2 * sx;
    const double sv = f.halfSh + 2 * sy;
    const double sd = 2 * (std::fabs(f.n.x) * sx + std::fabs(f.n.y) * sy + std::fabs(f.n.z) * depth);
    if (!(su < largestMagnitude && sv < largestMagnitude && sd < largestMagnitude))
        return false;
    // Subnormal results can add an absolute error of their own.
    constexpr double tiny = 0x1p-1000;

    // The sample point's X and Y; the column and row add the half sizes.
    const Affine px = pointModel(v, v.centre.x, v.nx.x, v.ny.x, rx);
    const Affine py = pointModel(v, v.centre.y, v.nx.y, v.ny.y, ry);
    f.exactU = v.nz.x == 0;
    f.u = px;
    f.u.base = f.halfSw + px.base;
    f.u.perZ = f.exactU ? 0.0 : rx;
    f.u.error = f.exactU ? 0.0 : su * boundPerMagnitude + tiny;
    f.exactW = v.nz.y == 0;
    f.w = py;
    f.w.base = f.halfSh + py.base;
    f.w.perZ = f.exactW ? 0.0 : ry;
    f.w.error = f.exactW ? 0.0 : sv * boundPerMagnitude + tiny;

    // Depth along the section normal: P.n with P.z on the slice's plane.
    const Vec3 &n = f.n;
    f.d.base = n.x * px.base + n.y * py.base;
    f.d.perA = n.x * px.perA + n.y * py.perA;
    f.d.perB = n.x * px.perB + n.y * py.perB;
    f.d.perZ = n.x * rx + n.y * ry + n.z;
    f.d.error = sd * boundPerMagnitude + tiny;
    return true;
}

bool finite(const Vec3 &v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

} // namespace

bool renderVolumeTiled(QImage &image, const ViewState &view, const SetSnapshot &set,
                       quint8 *covered, quint8 mark)
{
    if (!(std::isfinite(view.zoom) && finite(view.nx) && finite(view.ny) && finite(view.nz)
          && finite(view.centre) && view.nz.z != 0 && finite(set.nz)))
        return false;
    const int ss = int(set.slices.size());

    TiledFrame f;
    f.view = view;
    f.covered = covered;
    f.mark = mark;
    f.n = set.nz;
    f.W = image.width();
    const int H = image.height();
    f.sw = set.sw;
    f.sh = set.sh;
    f.halfW = f.W * 0.5;
    f.halfH = H * 0.5;
    f.swD = set.sw;
    f.shD = set.sh;
    f.halfSw = set.sw * 0.5;
    f.halfSh = set.sh * 0.5;
    if (!setModels(f, H, ss))
        return false;

    std::vector<TiledSlice> &slices = tiledSlices;
    slices.clear();
    bool anyText = false;
    bool anyPicture = false;
    for (int k = 0; k < ss; ++k) {
        const Slice *slice = set.slices.at(k);
        if (!slice)
            continue;
        const SliceTiles &tiles = slice->tiles();
        if (!tiles.usable) {
            // A slice without a summary: either it has no cells (and is
            // passed over by both roads) or memory ran short.
            if (slice->isImage ? !slice->image.isNull() : !slice->rows.isEmpty())
                return false;
            continue;
        }
        // Slices smaller than the set contribute nothing.
        if (tiles.width < set.sw || tiles.height < set.sh)
            continue;
        TiledSlice s;
        s.z = k - ss * 0.5;
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
        slices.push_back(s);
    }

    f.low = set.windowLow;
    f.high = set.windowHigh;
    if (!keepPictureWindow(f))
        return false;
    keepTextWindow(f);
    f.picturesShow = f.picturesShow && anyPicture;
    f.textShows = anyText && f.keptLow <= f.keptHigh;
    // Nothing can have an intensity above 0: every pixel stays as it is.
    if (slices.empty() || !(f.picturesShow || f.textShows))
        return true;

    f.section = set.showSection;
    f.sectionPos = (set.slider / 100.0) * ss;
    f.layerLow = f.sectionPos - 1;
    f.volumeTint = Tint(set.vColor);
    f.sectionTint = Tint(set.sColor);
    if (f.picturesShow) {
        for (int code = 1; code <= f.codeHigh - f.codeLow + 1; ++code)
            f.codeTint[code - 1] = f.volumeTint.of(f.pictureIntensity[(code - 1 + f.codeLow) ^ f.flip]);
    }
    f.slices = slices.data();
    f.sliceCount = int(slices.size());
    f.bits = image.bits();
    f.bytesPerLine = image.bytesPerLine();

    SlabMap &m = slabMap;
    m.columns = (set.sw + SliceTiles::size - 1) >> SliceTiles::shift;
    m.rows = (set.sh + SliceTiles::size - 1) >> SliceTiles::shift;
    m.slabs = (f.sliceCount + slabSize - 1) >> slabShift;
    const size_t entries = size_t(m.slabs) * m.rows * m.columns;
    try {
        m.pictures.resize(anyPicture ? entries : 0);
        m.text.resize(anyText ? entries : 0);
    } catch (const std::bad_alloc &) {
        return false;
    }
    auto slab = [&m, &f](int index) { mapSlab(m, f, index); };
    RenderPool::shared().run(m.slabs, slab);

    const int bands = (H + packetSide - 1) / packetSide;
    auto band = [&f, &m, H](int index) {
        clearUpperVectorState();
        const int j0 = index * packetSide;
        renderBand(f, m, j0, std::min(packetSide, H - j0));
    };
    RenderPool::shared().run(bands, band);
    return true;
}
