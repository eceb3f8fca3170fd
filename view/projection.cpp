#include "view/projection.h"

#include "panel/colourscale.h"
#include "slices/slice.h"
#include "view/cellgrid.h"
#include "view/fastvolume.h"
#include "view/framedrawing.h"
#include "slices/workerpool.h"
#include "view/setgeometry.h"
#include "view/tiledtarget.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <new>
#include <optional>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// The pixel loop gives exactly the picture of the plain per-pixel, per-slice
// algorithm: every sample is computed by the same floating-point expressions
// in the same order. It only avoids repeating work: values that stay the same
// along a row or a slice are computed once, slices that a row of rays cannot
// meet are passed over, picture values go through a table of their 256
// intensities, and bands of rows run on all cores.

namespace {

// How one slice hands out its values, decided once per slice, not per sample.
enum class Source { Grey8, Rgb32, Text, Narrow, Other };

struct SliceSource
{
    Source source = Source::Other;
    const Slice *slice = nullptr;
    const uchar *bits = nullptr;
    qsizetype bytesPerLine = 0;
    double z = 0.0; // the plane of the slice
};

// Everything that is the same for every pixel of one set.
struct SetFrame
{
    ViewState view;
    quint8 *covered = nullptr; // pixels that later sets have drawn
    quint8 mark = 1;           // what this set's pixels are marked with there
    int W = 0;
    double halfW = 0.0;
    double halfH = 0.0;
    double sw = 0.0;
    double sh = 0.0;
    double halfSw = 0.0;
    double halfSh = 0.0;
    double ry = 1.0; // rows lie ry apart
    double low = 0.0;
    double high = 0.0;
    double pictureIntensity[256];
    bool section = false;
    double sectionPos = 0.0; // C: samples at or beyond it are cut away
    double layerLow = 0.0;  // C - L
    double layerHigh = 0.0; // C + L
    Vec3 n;
    QColor vColor;
    QColor sColor;
    std::vector<SliceSource> slices;
    uchar *bits = nullptr;
    qsizetype bytesPerLine = 0;
};

// Rays of a run of columns of one row; a bounded run keeps the scratch
// small whatever the width of the image.
constexpr int runColumns = 256;

struct Rays
{
    double p0x[runColumns];
    double p0y[runColumns];
    double p0z[runColumns];
    double volume[runColumns];
    double section[runColumns];
    // Sample position in cells (column, row) and depth along the section
    // normal, for the run of columns being sampled in one slice.
    double u[runColumns];
    double w[runColumns];
    double d[runColumns];
};

// Below this many samples the pixel loop is not worth spreading over threads.
constexpr qint64 parallelWork = 1 << 15;

SliceSource sourceOf(const Slice *slice)
{
    SliceSource s;
    s.slice = slice;
    if (!slice->isImage) {
        s.source = slice->narrowCells() ? Source::Narrow : Source::Text;
        return s;
    }
    switch (slice->image.format()) {
    case QImage::Format_Grayscale8:
        s.source = Source::Grey8;
        break;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        s.source = Source::Rgb32;
        break;
    default:
        return s;
    }
    s.bits = slice->image.constBits();
    s.bytesPerLine = slice->image.bytesPerLine();
    return s;
}

// A superset of the columns first..first+count-1 of a row whose rays meet the
// plane z inside the set, as [from, to). Along a row the sample position is an
// affine function of the column; the pixel loop computes it with rounding
// errors of a few units in the last place of the largest term, so a model of
// it with a margin a million times wider never drops a column that the exact
// test would keep. Without a finite bound the whole run stays in.
bool candidateColumns(const SetFrame &f, double b, double z, int first, int count, int &from,
                      int &to)
{
    const ViewState &v = f.view;
    const double sFirst = first - f.halfW;
    const double sLast = (first + count - 1) - f.halfW;
    const double sAbs = std::max(std::fabs(sFirst), std::fabs(sLast));
    const double zoomAbs = std::fabs(v.zoom);
    const double depth = z - v.centre.z - v.zoom * b * v.ny.z;
    const double depthBound = std::fabs(z) + std::fabs(v.centre.z)
            + zoomAbs * (sAbs * std::fabs(v.nx.z) + std::fabs(b) * std::fabs(v.ny.z));

    double lo = first;
    double hi = first + count - 1;
    // The position along one axis, in cells, is half + scale * (world
    // coordinate); rows are ry units apart.
    const auto narrow = [&](double half, double size, double scale, double c, double nxc,
                            double nyc, double nzc) {
        const double q = nzc / v.nz.z;
        const double bound = half + scale * (std::fabs(c)
                + zoomAbs * (sAbs * std::fabs(nxc) + std::fabs(b) * std::fabs(nyc))
                + depthBound * std::fabs(q));
        if (!(bound < 1e300))
            return true;
        const double margin = bound * 1e-9;
        const double lower = -1.0 - margin;
        const double upper = size + margin;
        const double offset = half + scale * (c + v.zoom * b * nyc + depth * q);
        const double slope = scale * (v.zoom * nxc - v.zoom * v.nx.z * q);
        if (slope == 0)
            return offset > lower && offset < upper;
        const double s1 = (lower - offset) / slope;
        const double s2 = (upper - offset) / slope;
        lo = std::max(lo, std::floor(std::min(s1, s2) + f.halfW) - 1);
        hi = std::min(hi, std::ceil(std::max(s1, s2) + f.halfW) + 1);
        return true;
    };
    if (!narrow(f.halfSw, f.sw, 1.0, v.centre.x, v.nx.x, v.ny.x, v.nz.x))
        return false;
    if (!narrow(f.halfSh, f.sh, 1.0 / f.ry, v.centre.y, v.nx.y, v.ny.y, v.nz.y))
        return false;
    if (!(lo <= hi))
        return false;
    from = int(lo);
    to = int(hi) + 1;
    return true;
}

// Where the rays of columns from..to-1 meet the slice plane z. The pairs of
// columns go through two-lane vector arithmetic, which rounds every lane
// exactly as the scalar expressions below do; the division dominates the
// cost of a sample, and this halves it.
template<bool section>
void locateSamples(const SetFrame &f, double z, int from, int to, Rays &r)
{
    const double nzx = f.view.nz.x;
    const double nzy = f.view.nz.y;
    const double nzz = f.view.nz.z;
    int c = from;
#ifdef __SSE2__
    const __m128d vz = _mm_set1_pd(z);
    const __m128d vnzx = _mm_set1_pd(nzx);
    const __m128d vnzy = _mm_set1_pd(nzy);
    const __m128d vnzz = _mm_set1_pd(nzz);
    const __m128d halfSw = _mm_set1_pd(f.halfSw);
    const __m128d halfSh = _mm_set1_pd(f.halfSh);
    const __m128d nx = _mm_set1_pd(f.n.x);
    const __m128d ny = _mm_set1_pd(f.n.y);
    const __m128d nz = _mm_set1_pd(f.n.z);
    const __m128d ry = _mm_set1_pd(f.ry);
    const bool cubes = f.ry == 1.0;
    for (; c + 2 <= to; c += 2) {
        const __m128d p0z = _mm_loadu_pd(r.p0z + c);
        const __m128d t = _mm_div_pd(_mm_sub_pd(vz, p0z), vnzz);
        const __m128d px = _mm_add_pd(_mm_loadu_pd(r.p0x + c), _mm_mul_pd(t, vnzx));
        const __m128d py = _mm_add_pd(_mm_loadu_pd(r.p0y + c), _mm_mul_pd(t, vnzy));
        _mm_storeu_pd(r.u + c, _mm_add_pd(halfSw, px));
        _mm_storeu_pd(r.w + c, _mm_add_pd(halfSh, cubes ? py : _mm_div_pd(py, ry)));
        if constexpr (section) {
            const __m128d pz = _mm_add_pd(p0z, _mm_mul_pd(t, vnzz));
            const __m128d d = _mm_add_pd(_mm_add_pd(_mm_mul_pd(px, nx), _mm_mul_pd(py, ny)),
                                         _mm_mul_pd(pz, nz));
            _mm_storeu_pd(r.d + c, d);
        }
    }
#endif
    for (; c < to; ++c) {
        const double t = (z - r.p0z[c]) / nzz;
        const double px = r.p0x[c] + t * nzx;
        const double py = r.p0y[c] + t * nzy;
        r.u[c] = f.halfSw + px;
        r.w[c] = f.halfSh + py / f.ry;
        if constexpr (section) {
            const double pz = r.p0z[c] + t * nzz;
            r.d[c] = px * f.n.x + py * f.n.y + pz * f.n.z;
        }
    }
}

template<Source source, bool section>
void sampleSlice(const SetFrame &f, const SliceSource &s, int from, int to, Rays &r)
{
    locateSamples<section>(f, s.z, from, to, r);
    // Held in registers: reloading them after every store into the ray
    // buffers costs more than the sample itself.
    const double sw = f.sw;
    const double sh = f.sh;
    const double *const table = f.pictureIntensity;
    const uchar *const bits = s.bits;
    const qsizetype bytesPerLine = s.bytesPerLine;
    const double sectionPos = f.sectionPos;
    const double layerLow = f.layerLow;
    const double layerHigh = f.layerHigh;
    for (int c = from; c < to; ++c) {
        const double u = r.u[c];
        const double w = r.w[c];
        // Tested in double, so that only values in range become ints.
        if (!(u > -1.0 && u < sw && w > -1.0 && w < sh))
            continue;
        const int column = int(u);
        const int row = int(w);

        double I;
        if constexpr (source == Source::Grey8) {
            I = table[bits[row * bytesPerLine + column]];
        } else if constexpr (source == Source::Rgb32) {
            const QRgb *line = reinterpret_cast<const QRgb *>(bits + row * bytesPerLine);
            I = table[line[column] & 0xff];
        } else if constexpr (source == Source::Text) {
            I = intensity(s.slice->rows.at(row).at(column), f.low, f.high);
        } else if constexpr (source == Source::Narrow) {
            I = intensity(s.slice->narrowCells()[qsizetype(row) * s.slice->width + column], f.low,
                          f.high);
        } else {
            I = intensity(s.slice->valueAt(column, row), f.low, f.high);
        }

        if constexpr (section) {
            const double d = r.d[c];
            if (d >= sectionPos)
                continue;
            r.volume[c] = std::max(r.volume[c], I);
            if (layerLow < d && d < layerHigh)
                r.section[c] = I;
        } else {
            r.volume[c] = std::max(r.volume[c], I);
        }
    }
}

template<bool section>
void sampleSlice(const SetFrame &f, const SliceSource &s, int from, int to, Rays &r)
{
    switch (s.source) {
    case Source::Grey8:
        sampleSlice<Source::Grey8, section>(f, s, from, to, r);
        break;
    case Source::Rgb32:
        sampleSlice<Source::Rgb32, section>(f, s, from, to, r);
        break;
    case Source::Text:
        sampleSlice<Source::Text, section>(f, s, from, to, r);
        break;
    case Source::Narrow:
        sampleSlice<Source::Narrow, section>(f, s, from, to, r);
        break;
    case Source::Other:
        sampleSlice<Source::Other, section>(f, s, from, to, r);
        break;
    }
}

void renderRows(const SetFrame &f, int rowBegin, int rowEnd)
{
    const ViewState &v = f.view;
    clearUpperVectorState();
    Rays r;
    for (int j = rowBegin; j < rowEnd; ++j) {
        const double b = j - f.halfH;
        const double bx = b * v.ny.x;
        const double by = b * v.ny.y;
        const double bz = b * v.ny.z;
        QRgb *line = reinterpret_cast<QRgb *>(f.bits + j * f.bytesPerLine);
        for (int first = 0; first < f.W; first += runColumns) {
            const int count = std::min(runColumns, f.W - first);
            for (int c = 0; c < count; ++c) {
                const double a = (first + c) - f.halfW;
                r.p0x[c] = v.centre.x + v.zoom * (a * v.nx.x + bx);
                r.p0y[c] = v.centre.y + v.zoom * (a * v.nx.y + by);
                r.p0z[c] = v.centre.z + v.zoom * (a * v.nx.z + bz);
                r.volume[c] = 0.0;
                r.section[c] = 0.0;
            }
            // Slices in index order, so that the last one in the section
            // layer gives the section intensity.
            for (const SliceSource &s : f.slices) {
                int from = 0;
                int to = 0;
                if (!candidateColumns(f, b, s.z, first, count, from, to))
                    continue;
                if (f.section)
                    sampleSlice<true>(f, s, from - first, to - first, r);
                else
                    sampleSlice<false>(f, s, from - first, to - first, r);
            }
            quint8 *covered = f.covered ? f.covered + qsizetype(j) * f.W + first : nullptr;
            for (int c = 0; c < count; ++c) {
                if (covered && covered[c])
                    continue;
                if (f.section && r.section[c] > 0)
                    line[first + c] = tint(f.sColor, r.section[c]);
                else if (r.volume[c] > 0)
                    line[first + c] = tint(f.vColor, r.volume[c]);
                else
                    continue;
                if (covered)
                    covered[c] = f.mark;
            }
        }
    }
}

} // namespace

void renderVolume(QImage &image, const ViewState &view, const SetSnapshot &set,
                  quint8 *covered, quint8 mark)
{
    if (image.isNull() || image.height() < 1)
        return;
    // Pixels are written as 32-bit colours; opaque ones mean the same in
    // these three formats.
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        break;
    default:
        return;
    }
    const int ss = int(set.slices.size());
    if (ss < 1 || set.sw <= 0 || set.sh <= 0)
        return;
    const SetGeometry geometry(set);
    if (set.sampling == Sampling::Cells) {
        renderCells(image, view, set, geometry, covered, mark);
        return;
    }
    // Rays parallel to the slices (or not a number): no ray has a sample,
    // and every pixel stays as it is.
    if (view.nz.z == 0 || std::isnan(view.nz.z))
        return;
    if (renderVolumeTiled(image, view, set, geometry, covered, mark))
        return;

    SetFrame f;
    f.view = view;
    f.covered = covered;
    f.mark = mark;
    f.W = image.width();
    f.halfW = f.W * 0.5;
    f.halfH = image.height() * 0.5;
    f.sw = set.sw;
    f.sh = set.sh;
    f.halfSw = set.sw * 0.5;
    f.halfSh = set.sh * 0.5;
    f.ry = geometry.ry;
    f.low = set.windowLow;
    f.high = set.windowHigh;
    for (int value = 0; value < 256; ++value)
        f.pictureIntensity[value] = intensity(value, f.low, f.high);
    f.section = set.showSection;
    f.sectionPos = geometry.sectionPos(set.slider);
    f.layerLow = f.sectionPos - geometry.layer;
    f.layerHigh = f.sectionPos + geometry.layer;
    f.n = set.nz;
    f.vColor = set.vColor;
    f.sColor = set.sColor;
    f.slices.reserve(ss);
    for (int k = 0; k < ss; ++k) {
        const Slice *slice = set.slices.at(k);
        if (!coversSet(slice, set.sw, set.sh))
            continue;
        SliceSource s = sourceOf(slice);
        s.z = geometry.z[k];
        f.slices.push_back(s);
    }
    if (f.slices.empty())
        return;
    // Detach once here; the bands then write disjoint scan lines.
    f.bits = image.bits();
    f.bytesPerLine = image.bytesPerLine();

    const int H = image.height();
    const qint64 work = qint64(f.W) * H * qint64(f.slices.size());
    if (H < 2 || work < parallelWork) {
        renderRows(f, 0, H);
        return;
    }
    // Several bands per thread even out rows that meet more of the set.
    const int bandCount = std::min(H, (WorkerPool::shared().workerCount() + 1) * 8);
    auto band = [&](int i) {
        renderRows(f, int(qint64(H) * i / bandCount), int(qint64(H) * (i + 1) / bandCount));
    };
    WorkerPool::shared().run(bandCount, band);
}

namespace {

QColor frameColourOf(const SetSnapshot &set)
{
#ifdef CTSLAB_LITE
    Q_UNUSED(set);
    return QColor(255, 0, 0);
#else
    return set.vColor;
#endif
}

// The set's outline box: as deep as its slices reach, as tall as its rows.
void paintSetFrame(QPainter &p, const ViewState &view, int W, int H, const SetSnapshot &set,
                   bool temae)
{
    const SetGeometry geometry(set);
    paintFrame(p, view, W, H, geometry.halfX(), geometry.halfY(), geometry.halfZ(), temae,
               frameColourOf(set));
}

// A set's volume is painted over wherever a later set's volume draws, frames
// or not, so the volumes can be drawn last first, each only where no later
// one has drawn, and then put in their places between the frames. False,
// having drawn nothing, when there is no memory for it.
bool drawLastFirst(QImage &image, const ViewState &view, const QList<SetSnapshot> &sets)
{
    // Kept between renderings, so that none allocates.
    static thread_local std::vector<quint8> owner;
    static thread_local QImage volumes;
    const size_t pixels = size_t(image.width()) * size_t(image.height());
    try {
        owner.assign(pixels, 0);
    } catch (const std::bad_alloc &) {
        owner = {};
        return false;
    }
    const bool framed = std::any_of(sets.cbegin(), sets.cend(),
                                    [](const SetSnapshot &set) { return set.showFrame; });
    // Without frames the volumes go straight into the picture.
    if (framed && (volumes.size() != image.size() || volumes.format() != image.format())) {
        volumes = QImage(image.size(), image.format());
        if (volumes.isNull())
            return false;
    }
    QImage &target = framed ? volumes : image;
    for (qsizetype k = sets.size() - 1; k >= 0; --k) {
        const SetSnapshot &set = sets.at(k);
        if (set.sw > 0 && set.sh > 0 && set.showVolume)
            renderVolume(target, view, set, owner.data(), quint8(k + 1));
    }
    if (!framed)
        return true;

    std::optional<QPainter> p;
    const int W = image.width();
    const int H = image.height();
    for (qsizetype k = 0; k < sets.size(); ++k) {
        const SetSnapshot &set = sets.at(k);
        if (set.sw <= 0 || set.sh <= 0)
            continue;
        if (set.showFrame) {
            if (!p)
                p.emplace(&image);
            paintSetFrame(*p, view, W, H, set, false);
        }
        for (int y = 0; y < H; ++y) {
            const quint8 *mine = owner.data() + size_t(y) * W;
            const QRgb *from = reinterpret_cast<const QRgb *>(volumes.constScanLine(y));
            QRgb *to = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < W; ++x) {
                if (mine[x] == k + 1)
                    to[x] = from[x];
            }
        }
        if (set.showFrame)
            paintSetFrame(*p, view, W, H, set, true);
    }
    return true;
}

} // namespace

void renderScene(QImage &image, const ViewState &view, const QList<SetSnapshot> &sets)
{
    // An image that could not be allocated shows nothing.
    if (image.isNull())
        return;
    const int W = image.width();
    const int H = image.height();
    image.fill(QColor(255, 255, 255));
    if (sets.size() > 1 && sets.size() < 256 && drawLastFirst(image, view, sets))
        return;
    // A painter is opened only for frames: it allocates, the rest does not.
    std::optional<QPainter> p;
    for (const SetSnapshot &set : sets) {
        if (set.sw <= 0 || set.sh <= 0)
            continue;
        if (set.showFrame) {
            if (!p)
                p.emplace(&image);
            paintSetFrame(*p, view, W, H, set, false);
        }
        if (set.showVolume)
            renderVolume(image, view, set);
        if (set.showFrame)
            paintSetFrame(*p, view, W, H, set, true);
    }
}
