#include "view/projection.h"

#include "panel/colourscale.h"
#include "slices/cellwriter.h"
#include "slices/slice.h"
#include "slices/sliceruns.h"
#include "view/framedrawing.h"
#include "view/probe.h"
#include "slices/workerpool.h"

#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>
#include <system_error>
#include <vector>

Q_DECLARE_METATYPE(ViewState)

namespace {

const double notANumber = std::numeric_limits<double>::quiet_NaN();
const double infinity = std::numeric_limits<double>::infinity();
const QRgb untouched = qRgba(1, 2, 3, 4);
const QColor volumeColour(0, 127, 127);
const QColor sectionColour(127, 0, 0);

// Rows ry apart, slice k in the plane z[k], the box D deep, the section
// layer L to either side: the snapshot's shape when it gives a plane for
// every slice, cubes otherwise.
struct Shape
{
    double ry = 1;
    QList<double> z;
    double D = 0;
    double L = 1;
};

Shape shapeOf(const SetSnapshot &set)
{
    const int ss = int(set.slices.size());
    Shape s;
    if (set.shape.z.size() == ss && ss > 0) {
        s.ry = set.shape.ry;
        s.z = set.shape.z;
        s.D = set.shape.depth;
    } else {
        for (int k = 0; k < ss; ++k)
            s.z.append(k - ss * 0.5);
        s.D = ss;
    }
    s.L = std::max(1.0, s.ry);
    for (int k = 0; k + 1 < ss; ++k)
        s.L = std::max(s.L, s.z[k + 1] - s.z[k]);
    return s;
}

// The plain algorithm, pixel by pixel and slice by slice, every sample
// computed as written, each pixel drawn as a point with a pen that is
// transparent where nothing shows.
void referenceVolume(QPainter &p, int W, int H, const ViewState &view, const SetSnapshot &set)
{
    if (H < 1)
        return;
    const int ss = int(set.slices.size());
    const Shape shape = shapeOf(set);
    const double C = set.slider / 100.0 * shape.D;
    const Vec3 &n = set.nz;
    for (int j = 0; j < H; ++j) {
        for (int i = 0; i < W; ++i) {
            QColor pen(255, 255, 255, 0);
            if (ss >= 1) {
                double V = 0;
                double S = 0;
                for (int k = 0; k < ss; ++k) {
                    if (view.nz.z == 0)
                        continue;
                    const double a = i - W * 0.5;
                    const double b = j - H * 0.5;
                    const Vec3 P0{view.centre.x + view.zoom * (a * view.nx.x + b * view.ny.x),
                                  view.centre.y + view.zoom * (a * view.nx.y + b * view.ny.y),
                                  view.centre.z + view.zoom * (a * view.nx.z + b * view.ny.z)};
                    const double t = (shape.z[k] - P0.z) / view.nz.z;
                    const Vec3 P{P0.x + t * view.nz.x, P0.y + t * view.nz.y, P0.z + t * view.nz.z};
                    const double column = set.sw * 0.5 + P.x;
                    const double row = set.sh * 0.5 + P.y / shape.ry;
                    if (!(column > -1 && column < set.sw && row > -1 && row < set.sh))
                        continue;
                    const double value = set.slices[k]->valueAt(int(column), int(row));
                    const double tt =
                            (value - set.windowLow) / (set.windowHigh - set.windowLow) * 256;
                    const double I = (tt >= 0 && tt <= 255) ? tt : 0;
                    const double d = P.x * n.x + P.y * n.y + P.z * n.z;
                    if (set.showSection && d >= C)
                        continue;
                    V = std::max(V, I);
                    if (C - shape.L < d && d < C + shape.L)
                        S = I;
                }
                if (set.showSection && S > 0)
                    pen = QColor::fromRgba(tint(set.sColor, S));
                else if (V > 0)
                    pen = QColor::fromRgba(tint(set.vColor, V));
            }
            p.setPen(pen);
            p.drawPoint(i, j);
        }
    }
}

// The t at which a ray P0 + t q lies in one cell along one axis, lo..hi,
// each end in or out; an infinite end is out, a not-a-number end gives none.
struct Interval
{
    double lo = infinity;
    double hi = -infinity;
    bool loIn = false;
    bool hiIn = false;
};

bool isEmpty(const Interval &i)
{
    return !(i.lo < i.hi || (i.lo == i.hi && i.loIn && i.hiIn));
}

Interval alongAxis(double from, double to, double p, double q)
{
    Interval i;
    if (q > 0)
        i = {(from - p) / q, (to - p) / q, true, false};
    else if (q < 0)
        i = {(to - p) / q, (from - p) / q, false, true};
    else if (q == 0)
        return from <= p && p < to ? Interval{-infinity, infinity, false, false} : Interval{};
    else
        return {};
    if (std::isnan(i.lo) || std::isnan(i.hi))
        return {};
    i.loIn = i.loIn && std::isfinite(i.lo);
    i.hiIn = i.hiIn && std::isfinite(i.hi);
    return i;
}

Interval both(const Interval &a, const Interval &b)
{
    if (isEmpty(a) || isEmpty(b))
        return {};
    Interval i = a;
    if (b.lo > i.lo || (b.lo == i.lo && !b.loIn))
        i.lo = b.lo, i.loIn = b.loIn;
    if (b.hi < i.hi || (b.hi == i.hi && !b.hiIn))
        i.hi = b.hi, i.hiIn = b.hiIn;
    return i;
}

// The cells from..to (inclusive) along an axis of `cells` cells of the given
// size, starting at `start`, that the ray's coordinate p + t q may be in for
// t in the interval: around where it is at the ends, give or take a margin
// wider than the rounding there; all of them where an end is infinite.
void spanned(const Interval &i, double p, double q, double start, double size, int cells,
             int &from, int &to)
{
    double lo = 0;
    double hi = cells - 1;
    if (q == 0) {
        lo = hi = std::floor((p - start) / size);
    } else if (std::isfinite(i.lo) && std::isfinite(i.hi)) {
        const double a = (p + i.lo * q - start) / size;
        const double b = (p + i.hi * q - start) / size;
        const double margin = 1e-9 * (std::fabs(a) + std::fabs(b) + std::fabs(p / size));
        lo = std::floor(std::min(a, b) - margin);
        hi = std::floor(std::max(a, b) + margin);
    }
    if (!(lo <= hi)) {
        lo = 0;
        hi = cells - 1;
    }
    from = int(std::clamp(lo - 1, 0.0, double(cells)));
    to = int(std::clamp(hi + 1, -1.0, cells - 1.0));
}

// Sampling by cells as defined, pixel by pixel: for each slice the t at
// which the ray is in its slab, the columns and rows it spans there, and for
// each of those cells whether the ray is in it at some t.
void referenceCells(QPainter &p, int W, int H, const ViewState &view, const SetSnapshot &set)
{
    const int ss = int(set.slices.size());
    const Shape shape = shapeOf(set);
    const double C = set.slider / 100.0 * shape.D;
    const Vec3 &n = set.nz;
    const auto columnAt = [&](int c) { return c - set.sw * 0.5; };
    const auto rowAt = [&](int r) { return shape.ry * (r - set.sh * 0.5); };
    const auto planeAt = [&](int k) { return k < ss ? shape.z[k] : shape.D * 0.5; };
    for (int j = 0; j < H; ++j) {
        for (int i = 0; i < W; ++i) {
            const double a = i - W * 0.5;
            const double b = j - H * 0.5;
            const Vec3 P0{view.centre.x + view.zoom * (a * view.nx.x + b * view.ny.x),
                          view.centre.y + view.zoom * (a * view.nx.y + b * view.ny.y),
                          view.centre.z + view.zoom * (a * view.nx.z + b * view.ny.z)};
            const Vec3 &q = view.nz;
            double V = 0;
            double S = 0;
            bool faced = false;
            Interval nearest;
            for (int k = 0; k < ss; ++k) {
                const Interval inSlab = alongAxis(planeAt(k), planeAt(k + 1), P0.z, q.z);
                if (isEmpty(inSlab))
                    continue;
                int c0, c1;
                spanned(inSlab, P0.x, q.x, columnAt(0), 1.0, set.sw, c0, c1);
                for (int c = c0; c <= c1; ++c) {
                    const Interval inColumn =
                            both(inSlab, alongAxis(columnAt(c), columnAt(c + 1), P0.x, q.x));
                    if (isEmpty(inColumn))
                        continue;
                    int r0, r1;
                    spanned(inColumn, P0.y, q.y, rowAt(0), shape.ry, set.sh, r0, r1);
                    for (int r = r0; r <= r1; ++r) {
                        const Interval inCell =
                                both(inColumn, alongAxis(rowAt(r), rowAt(r + 1), P0.y, q.y));
                        if (isEmpty(inCell))
                            continue;
                        const double value = set.slices[k]->valueAt(c, r);
                        const double tt =
                                (value - set.windowLow) / (set.windowHigh - set.windowLow) * 256;
                        const double I = (tt >= 0 && tt <= 255) ? tt : 0;
                        const Vec3 M{(columnAt(c) + columnAt(c + 1)) * 0.5,
                                     (rowAt(r) + rowAt(r + 1)) * 0.5,
                                     (planeAt(k) + planeAt(k + 1)) * 0.5};
                        const double d = M.x * n.x + M.y * n.y + M.z * n.z;
                        if (set.showSection && d >= C)
                            continue;
                        V = std::max(V, I);
                        // Nearest the viewer: entered last, or at the same t
                        // but only just after it.
                        if (set.showSection && C - shape.L <= d
                            && (!faced || inCell.lo > nearest.lo
                                || (inCell.lo == nearest.lo && !inCell.loIn && nearest.loIn))) {
                            faced = true;
                            nearest = inCell;
                            S = I;
                        }
                    }
                }
            }
            QColor pen(255, 255, 255, 0);
            if (set.showSection && S > 0)
                pen = QColor::fromRgba(tint(set.sColor, S));
            else if (V > 0)
                pen = QColor::fromRgba(tint(set.vColor, V));
            p.setPen(pen);
            p.drawPoint(i, j);
        }
    }
}

void referenceOf(QPainter &p, int W, int H, const ViewState &view, const SetSnapshot &set)
{
    if (set.sampling == Sampling::Cells)
        referenceCells(p, W, H, view, set);
    else
        referenceVolume(p, W, H, view, set);
}

QColor frameColourOf(const SetSnapshot &set)
{
#ifdef CTSLAB_LITE
    Q_UNUSED(set);
    return QColor(255, 0, 0);
#else
    return set.vColor;
#endif
}

void referenceScene(QImage &image, const ViewState &view, const QList<SetSnapshot> &sets)
{
    if (image.isNull())
        return;
    const int W = image.width();
    const int H = image.height();
    QPainter p(&image);
    p.fillRect(0, 0, W, H, QColor(255, 255, 255));
    for (const SetSnapshot &set : sets) {
        if (set.sw <= 0 || set.sh <= 0)
            continue;
        const Shape shape = shapeOf(set);
        const double hx = set.sw * 0.5;
        const double hy = set.sh * shape.ry / 2;
        const double hz = shape.D / 2;
        if (set.showFrame)
            paintFrame(p, view, W, H, hx, hy, hz, false, frameColourOf(set));
        if (set.showVolume)
            referenceOf(p, W, H, view, set);
        if (set.showFrame)
            paintFrame(p, view, W, H, hx, hy, hz, true, frameColourOf(set));
    }
}

QString difference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return QStringLiteral("sizes differ");
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y)) {
                return QString("pixel %1,%2: %3, expected %4")
                        .arg(x)
                        .arg(y)
                        .arg(a.pixel(x, y), 8, 16, QChar('0'))
                        .arg(b.pixel(x, y), 8, 16, QChar('0'));
            }
        }
    }
    return {};
}

// renderScene against the plain algorithm on a W x H picture; empty when
// they agree.
QString sceneDifference(const ViewState &view, const QList<SetSnapshot> &sets, int W, int H)
{
    QImage image(W, H, QImage::Format_ARGB32);
    QImage expected(W, H, QImage::Format_ARGB32);
    renderScene(image, view, sets);
    referenceScene(expected, view, sets);
    return difference(image, expected);
}

// Owns the slices that the snapshots point to.
struct Slices
{
    std::vector<std::unique_ptr<Slice>> store;

    const Slice *text(const QList<QList<double>> &rows)
    {
        auto slice = std::make_unique<Slice>();
        slice->height = int(rows.size());
        slice->width = rows.isEmpty() ? 0 : int(rows.first().size());
        slice->rows = rows;
        store.push_back(std::move(slice));
        return store.back().get();
    }

    // The same values as the scanner readers keep them: 16-bit cells alone
    // where every value is such a number, else doubles.
    const Slice *scanner(const QList<QList<double>> &rows)
    {
        auto slice = std::make_unique<Slice>();
        const int h = int(rows.size());
        const int w = h > 0 ? int(rows.first().size()) : 0;
        CellWriter cells;
        if (w > 0 && (!cells.begin(*slice, w, h)
                      || !cells.fill(qsizetype(w) * h, [&](qsizetype i) { return rows[i / w][i % w]; })))
            return nullptr;
        store.push_back(std::move(slice));
        return store.back().get();
    }

    const Slice *picture(const QImage &image)
    {
        auto slice = std::make_unique<Slice>();
        slice->isImage = true;
        slice->image = image;
        slice->width = image.width();
        slice->height = image.height();
        store.push_back(std::move(slice));
        return store.back().get();
    }
};

SetSnapshot snapshot(int sw, int sh, double low, double high)
{
    SetSnapshot set;
    set.sw = sw;
    set.sh = sh;
    set.showFrame = false;
    set.vColor = volumeColour;
    set.sColor = sectionColour;
    set.windowLow = low;
    set.windowHigh = high;
    return set;
}

QImage filled(int W, int H, QRgb colour)
{
    QImage image(W, H, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

ViewState viewCentredAt(Vec3 centre)
{
    ViewState view;
    view.centre = centre;
    return view;
}

// Random scenes for the comparison with the plain algorithm.
class SceneMaker
{
public:
    explicit SceneMaker(quint32 seed) : g(seed), shapes(seed ^ 0x5eed) {}

    int between(int a, int b) { return a + int(g.bounded(b - a + 1)); }
    double uniform(double a, double b) { return a + (b - a) * g.generateDouble(); }
    bool chance(int percent) { return between(1, 100) <= percent; }

    Vec3 unit()
    {
        for (;;) {
            const Vec3 v{uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)};
            const double length = std::sqrt(dot(v, v));
            if (length > 0.1)
                return {v.x / length, v.y / length, v.z / length};
        }
    }

    ViewState view()
    {
        ViewState v;
        const int turns = between(0, 3);
        for (int t = 0; t < turns; ++t)
            rotateAxes(v, unit(), uniform(-M_PI, M_PI));
        if (chance(10)) {
            // Looking against the slice order.
            v.ny = {0, -1, 0};
            v.nz = {0, 0, -1};
        }
        const int zoomKind = between(0, 3);
        v.zoom = zoomKind == 0 ? 1.0 : zoomKind == 1 ? 0.5 : zoomKind == 2 ? 2.0 : uniform(0.2, 3);
        const int centreKind = between(0, 2);
        if (centreKind == 1)
            v.centre = {between(-8, 8) * 0.5, between(-8, 8) * 0.5, between(-8, 8) * 0.5};
        else if (centreKind == 2)
            v.centre = {uniform(-15, 15), uniform(-15, 15), uniform(-15, 15)};
        return v;
    }

    QImage picture(int sw, int sh)
    {
        static const QImage::Format formats[] = {
            QImage::Format_Grayscale8, QImage::Format_RGB32, QImage::Format_ARGB32,
            QImage::Format_RGB888, QImage::Format_ARGB32_Premultiplied};
        QImage image(sw, sh, formats[between(0, 4)]);
        for (int y = 0; y < sh; ++y) {
            uchar *line = image.scanLine(y);
            for (qsizetype b = 0; b < image.bytesPerLine(); ++b)
                line[b] = uchar(between(0, 255));
        }
        return image;
    }

    QList<QList<double>> rows(int sw, int sh, bool small)
    {
        QList<QList<double>> rows(sh);
        for (auto &row : rows) {
            row.resize(sw);
            for (double &v : row) {
                // Whole numbers are read narrow, unless one is -0 or 16 bits cannot hold it.
                static const double edges[] = {-0.0, -32768, 32767, 32768};
                v = small ? (chance(1) ? edges[between(0, 3)] : between(0, 10))
                    : chance(1) ? notANumber
                                : uniform(-50, 300);
            }
        }
        return rows;
    }

    SetSnapshot set(Slices &slices, const ViewState &view)
    {
        SetSnapshot s;
        s.sw = between(1, 40);
        s.sh = between(1, 40);
        const int ss = chance(5) ? 0 : between(1, 40);
        // 0: pictures, 1: small whole numbers, 2: real values.
        const int kind = between(0, 2);
        for (int k = 0; k < ss; ++k) {
            if (kind == 0 || (kind == 2 && chance(5)))
                s.slices.append(slices.picture(picture(s.sw, s.sh)));
            else
                s.slices.append(chance(50) ? slices.text(rows(s.sw, s.sh, kind == 1))
                                           : slices.scanner(rows(s.sw, s.sh, kind == 1)));
        }
        const double lowest = kind == 0 ? 0 : kind == 1 ? 0 : -50;
        const double highest = kind == 0 ? 255 : kind == 1 ? 10 : 300;
        const int windowKind = between(0, 5);
        if (windowKind == 0) {
            // A window of zero width on a value that occurs: 0/0 for it.
            s.windowLow = s.windowHigh = kind == 2 ? 0 : between(0, 10);
        } else if (windowKind == 1) {
            s.windowLow = highest;
            s.windowHigh = lowest;
        } else {
            const ColourWindow w =
                    colourWindow(lowest, highest, uniform(-10, 60), uniform(40, 110));
            s.windowLow = w.low;
            s.windowHigh = w.high;
        }
        s.showFrame = chance(50);
        s.showVolume = chance(90);
        s.showSection = chance(50);
        s.slider = chance(20) ? 0 : between(-100, 100);
        const int normalKind = between(0, 3);
        s.nz = normalKind == 0 ? view.nz
                : normalKind == 1 ? unit()
                : normalKind == 2 ? Vec3{}
                                  : Vec3{0, 0, 1};
        s.vColor = QColor(between(0, 255), between(0, 255), between(0, 255));
        s.sColor = QColor(between(0, 255), between(0, 255), between(0, 255));
        s.shape = shape(int(s.slices.size()));
        s.sampling = shapes.bounded(2) ? Sampling::Cells : Sampling::Planes;
        return s;
    }

    // Scenes wide enough for several tiles, with structure that lets whole
    // tiles be passed over, and the views whose arithmetic is exact.
    ViewState tiledView()
    {
        ViewState v;
        switch (between(0, 14)) {
        case 0: // straight down the slices
            break;
        case 13:
        case 14: {
            // A first drag from the start: a small turn about an axis in the
            // picture plane, so that rays pass cell corners exactly.
            const double du = between(1, 3);
            const double dv = between(-3, 3);
            const double g = std::sqrt(du * du + dv * dv);
            rotateAxes(v, {dv / g, du / g, 0}, uniform(0.005, 0.05));
            return v;
        }
        case 11:
        case 12: { // quarter turns, exactly: along the rows or the columns, edge-on to the slices
            static const Vec3 axes[] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1},
                                        {0, 0, -1}};
            for (int t = between(1, 3); t > 0; --t)
                rotateAxes(v, axes[between(0, 5)], 0.0, chance(50) ? 1.0 : -1.0);
            break;
        }
        case 1: // a quarter turn in the picture plane, written exactly
            v.nx = {0, -1, 0};
            v.ny = {1, 0, 0};
            break;
        case 2: // turned about X only: the rays keep their column
            rotateAxes(v, {1, 0, 0}, uniform(-1.4, 1.4));
            break;
        case 3: // turned about Y only: the rays keep their row
            rotateAxes(v, {0, 1, 0}, uniform(-1.4, 1.4));
            break;
        case 4: // grazing the slices
            rotateAxes(v, unit(), uniform(-0.3, 0.3));
            rotateAxes(v, {1, 0, 0}, (chance(50) ? 1 : -1) * (M_PI / 2 - uniform(1e-6, 0.05)));
            break;
        case 5: // against the slice order
            v.ny = {0, -1, 0};
            v.nz = {0, 0, -1};
            break;
        case 6: { // axes of few digits, not unit vectors: samples fall on cell edges
            static const double parts[] = {0, 0.5, -0.5, 0.25, -0.25, 0.1, -0.2, 0.3};
            v.nx = {1, 0, parts[between(0, 7)]};
            v.ny = {0, 1, parts[between(0, 7)]};
            v.nz = {parts[between(0, 7)], parts[between(0, 7)], chance(80) ? 1 : 0.5};
            static const double zooms[] = {0.1, 0.2, 0.3, 0.5, 1, 2};
            v.zoom = zooms[between(0, 5)];
            v.centre = {between(-20, 20) * 0.1, between(-20, 20) * 0.1, between(-20, 20) * 0.1};
            return v;
        }
        default:
            for (int t = between(1, 3); t > 0; --t)
                rotateAxes(v, unit(), uniform(-M_PI, M_PI));
            break;
        }
        static const double zooms[] = {1, 0.25, 0.5, 2, 3.7, -1, -0.5, 0.125, 1e6, 1e-6};
        v.zoom = chance(70) ? zooms[between(0, 9)] : uniform(0.05, 4);
        if (chance(50))
            v.centre = {between(-16, 16) * 0.5, between(-16, 16) * 0.5, between(-16, 16) * 0.5};
        else if (chance(50))
            v.centre = {uniform(-20, 20), uniform(-20, 20), uniform(-20, 20)};
        return v;
    }

    // Low values with a few bright blobs, so that most tiles hold little.
    double blobs(int x, int y, int k, double top)
    {
        const double a = std::sin(x * 0.31 + k * 0.7) * std::cos(y * 0.23 - k * 0.4);
        return a > 0.8 ? top * uniform(0.5, 1) : top * uniform(0, 0.1);
    }

    const Slice *tiledSlice(Slices &slices, int sw, int sh, int k, int kind)
    {
        if (kind == 0) {
            static const QImage::Format formats[] = {
                QImage::Format_Grayscale8, QImage::Format_RGB32, QImage::Format_ARGB32,
                QImage::Format_RGB888, QImage::Format_Grayscale16};
            QImage image(sw, sh, formats[between(0, 4)]);
            for (int y = 0; y < sh; ++y) {
                for (int x = 0; x < sw; ++x) {
                    const int b = int(blobs(x, y, k, 255));
                    image.setPixel(x, y, image.format() == QImage::Format_Grayscale8
                                                 ? uint(b)
                                                 : qRgb(between(0, 255), between(0, 255), b));
                }
            }
            return slices.picture(image);
        }
        QList<QList<double>> rows(sh, QList<double>(sw));
        for (int y = 0; y < sh; ++y) {
            for (int x = 0; x < sw; ++x) {
                double v = blobs(x, y, k, 300) - 50;
                if (kind == 2 && chance(2))
                    v = chance(50) ? notANumber : (chance(50) ? 1e300 : -infinity);
                rows[y][x] = kind == 3 ? std::round(v / 30) : v;
            }
        }
        return chance(50) ? slices.text(rows) : slices.scanner(rows);
    }

    // kind: 0 pictures, 1 real values, 2 with values not finite, 3 whole
    // numbers, 4 pictures and text mixed; -1 any.
    SetSnapshot tiledSet(Slices &slices, const ViewState &view, int kind = -1)
    {
        SetSnapshot s;
        s.sw = chance(10) ? 1 : between(1, 72);
        s.sh = chance(10) ? 1 : between(1, 72);
        const int ss = chance(10) ? 1 : between(1, 40);
        kind = kind < 0 ? between(0, 4) : kind;
        for (int k = 0; k < ss; ++k)
            s.slices.append(tiledSlice(slices, s.sw, s.sh, k,
                                       kind == 4 ? (chance(50) ? 0 : 1) : kind));
        const bool text = kind != 0;
        const double lowest = text ? -50 : 0;
        const double highest = text ? 250 : 255;
        switch (between(0, 6)) {
        case 0: // zero width on a value that occurs
            s.windowLow = s.windowHigh = kind == 3 ? 0 : 25;
            break;
        case 1: // ends swapped
            s.windowLow = highest;
            s.windowHigh = lowest;
            break;
        case 2:
            s.windowLow = -1e308;
            s.windowHigh = 1e308;
            break;
        case 3: // a value that occurs right at the top of the window
            s.windowLow = 0;
            s.windowHigh = between(1, 8) * (kind == 3 ? 1 : 30) * 256 / 255.0;
            break;
        default: {
            const ColourWindow w = colourWindow(lowest, highest, uniform(-10, 60), uniform(40, 110));
            s.windowLow = w.low;
            s.windowHigh = w.high;
        }
        }
        s.showFrame = chance(30);
        s.showVolume = chance(95);
        s.showSection = chance(50);
        static const int sliders[] = {-100, 100, 0, 50, -1};
        s.slider = chance(40) ? sliders[between(0, 4)] : between(-100, 100);
        switch (between(0, 5)) {
        case 5:
            s.nz = {0.5, 0, 1};
            break;
        case 0:
            s.nz = view.nz;
            break;
        case 1:
            s.nz = unit();
            break;
        case 2:
            s.nz = Vec3{};
            break;
        case 3:
            s.nz = Vec3{0, 0, 1};
            break;
        default:
            s.nz = Vec3{1, 0, 0};
            break;
        }
        s.vColor = QColor(between(0, 255), between(0, 255), between(0, 255));
        s.sColor = QColor(between(0, 255), between(0, 255), between(0, 255));
        // Ten slices evenly apart, cut through the centres of a slice's cells.
        if (s.slices.size() >= 10 && shapes.bounded(100) < 15) {
            s.slices.resize(10);
            s.showSection = true;
            s.slider = 10 * int(shapes.bounded(10)) - 45;
            s.nz = {0, 0, shapes.bounded(2) ? 1.0 : -1.0};
            s.shape = shapes.bounded(2) ? spacedShape(10, 1, 1, 2.5) : CellShape();
        } else {
            s.shape = shape(int(s.slices.size()));
        }
        s.sampling = shapes.bounded(2) ? Sampling::Cells : Sampling::Planes;
        return s;
    }

    // Views from near the slices' axis, where a ray meets many of them.
    ViewState tallView()
    {
        if (chance(20))
            return tiledView();
        ViewState v;
        if (chance(30)) {
            v.ny = {0, -1, 0};
            v.nz = {0, 0, -1};
        }
        // Straight along the stack, turned in the picture's plane, or tilted
        // a little: rays that go through all or many of the slices.
        if (chance(40))
            rotateAxes(v, v.nz, uniform(-M_PI, M_PI));
        else
            rotateAxes(v, unit(), uniform(-0.01, 0.01));
        v.zoom = uniform(0.3, 2);
        v.centre = {uniform(-10, 10), uniform(-10, 10), uniform(-1600, 1600)};
        return v;
    }

    // A stack of up to 3000 slices, dim but for a few bright lumps far apart
    // along it, of heights on and off the multiples of the runs the renderer
    // sums slices up by; with runs made with it, none, or runs of other
    // slices, which must be left alone.
    SetSnapshot tallSet(Slices &slices, const ViewState &view)
    {
        SetSnapshot s;
        s.sw = between(1, 48);
        s.sh = between(1, 48);
        static const int heights[] = {1, 7, 8, 9, 63, 64, 65, 511, 513, 1000, 2049, 3000};
        const int ss = chance(50) ? heights[between(0, 11)] : between(1, 3000);
        const int kind = between(0, 2); // pictures, whole numbers, real values
        struct Lump
        {
            int k0, k1, x0, x1, y0, y1;
            int value;
        };
        std::vector<Lump> lumps;
        for (int n = between(0, 3); n > 0; --n) {
            const int k0 = between(0, ss - 1);
            const int x0 = between(0, s.sw - 1);
            const int y0 = between(0, s.sh - 1);
            lumps.push_back({k0, std::min(ss - 1, k0 + between(0, 4)), x0,
                             std::min(s.sw - 1, x0 + between(0, 19)), y0,
                             std::min(s.sh - 1, y0 + between(0, 19)), between(100, 255)});
        }
        const auto valueAt = [&](int x, int y, int k) {
            for (const Lump &l : lumps) {
                if (k >= l.k0 && k <= l.k1 && x >= l.x0 && x <= l.x1 && y >= l.y0 && y <= l.y1)
                    return l.value - between(0, 3);
            }
            return between(0, 20);
        };
        for (int k = 0; k < ss; ++k) {
            if (kind == 0) {
                QImage image(s.sw, s.sh, QImage::Format_Grayscale8);
                for (int y = 0; y < s.sh; ++y) {
                    for (int x = 0; x < s.sw; ++x)
                        image.scanLine(y)[x] = uchar(valueAt(x, y, k));
                }
                s.slices.append(slices.picture(image));
                continue;
            }
            QList<QList<double>> rows(s.sh, QList<double>(s.sw));
            for (int y = 0; y < s.sh; ++y) {
                for (int x = 0; x < s.sw; ++x)
                    rows[y][x] = valueAt(x, y, k) + (kind == 2 ? 0.3 : 0.0);
            }
            s.slices.append(slices.text(rows));
        }
        if (chance(10)) {
            s.windowLow = 255;
            s.windowHigh = 0;
        } else if (chance(70)) {
            // Every lump shows, and the dim cells do or do not.
            s.windowLow = uniform(-10, 25);
            s.windowHigh = uniform(256, 300);
        } else {
            const ColourWindow w = colourWindow(0, 255, uniform(-10, 60), uniform(40, 110));
            s.windowLow = w.low;
            s.windowHigh = w.high;
        }
        s.showFrame = false;
        s.showSection = chance(50);
        s.slider = between(-100, 100);
        s.nz = chance(50) ? view.nz : chance(50) ? Vec3{0, 0, 1} : unit();
        s.vColor = QColor(between(0, 255), between(0, 255), between(0, 255));
        s.sColor = QColor(between(0, 255), between(0, 255), between(0, 255));
        s.shape = shape(ss);
        s.sampling = shapes.bounded(2) ? Sampling::Cells : Sampling::Planes;
        const auto serial = [](int n, const std::function<void(int)> &work) {
            for (int i = 0; i < n; ++i)
                work(i);
        };
        const int runs = between(0, 2);
        if (runs == 1)
            s.runs = SliceRuns::of(s.slices, s.sw, s.sh, serial);
        else if (runs == 2)
            s.runs = SliceRuns::of(s.slices.mid(1), s.sw, s.sh, serial);
        return s;
    }

    // Half the sets keep cubes; the others get rows 0.3 to 4 columns apart and
    // slices evenly spaced, with gaps, or with several at one place. Drawn
    // from a generator of their own, so that the scenes above stay the same.
    CellShape shape(int ss)
    {
        const auto pick = [this](double a, double b) { return a + (b - a) * shapes.generateDouble(); };
        const auto percent = [this](int p) { return int(shapes.bounded(100)) < p; };
        if (percent(50))
            return {};
        static const double ratios[] = {1, 0.5, 2, 0.3, 4, 1.25};
        const double cs = percent(30) ? 1.0 : pick(0.3, 2);
        const double rs = cs * (percent(50) ? ratios[shapes.bounded(6)] : pick(0.3, 4));
        static const double gaps[] = {1, 2.5, 3.5, 0.5, 5};
        const double gap = percent(60) ? gaps[shapes.bounded(5)] : pick(0.2, 5);
        QList<double> q;
        double at = pick(-200, 200);
        for (int k = 0; k < ss; ++k) {
            q.append(at);
            const int kind = int(shapes.bounded(10));
            at += kind == 0 ? 0.0 : kind == 1 ? 3 * gap : gap; // one place, a missing file
        }
        return percent(30) ? spacedShape(ss, cs, rs, gap) : measuredShape(cs, rs, q);
    }

    QRandomGenerator g;
    QRandomGenerator shapes;
};

} // namespace

class tst_Projection : public QObject
{
    Q_OBJECT

private slots:
    void intensityWindow_data();
    void intensityWindow();
    void tintRule_data();
    void tintRule();
    void wholeIntensityGivesTheColour_data();
    void wholeIntensityGivesTheColour();
    void pictureFormats_data();
    void pictureFormats();
    void truncation_data();
    void truncation();
    void edgeOn();
    void twoSetsCentred_data();
    void twoSetsCentred();
    void frameColour();
    void nullAndUnsupportedImages();
    void malformedSlices();
    void extremeViews_data();
    void extremeViews();
    void randomScenes_data();
    void randomScenes();
    void tiledScenes_data();
    void tiledScenes();
    void probedPixels_data();
    void probedPixels();
    void runBounds_data();
    void runBounds();
    void tallScenes_data();
    void tallScenes();
    void sideViews_data();
    void sideViews();
    void windowTop();
    void poolWithThreadsThatCannotStart_data();
    void poolWithThreadsThatCannotStart();
};

void tst_Projection::intensityWindow_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QRgb>("expected");

    QTest::newRow("500 in 200..800: I = 128") << 500.0 << qRgb(127, 190, 190);
    QTest::newRow("100 below the window") << 100.0 << untouched;
    QTest::newRow("900 above the window") << 900.0 << untouched;
    QTest::newRow("at windowLow: I = 0") << 200.0 << untouched;
    QTest::newRow("t = 255: the colour itself") << 797.65625 << qRgb(0, 127, 127);
    QTest::newRow("at windowHigh: t = 256, I = 0") << 800.0 << untouched;
}

// Thresholds 20 % and 80 % on the range 0..1000.
void tst_Projection::intensityWindow()
{
    QFETCH(double, value);
    QFETCH(QRgb, expected);
    const ColourWindow window = colourWindow(0, 1000, 20, 80);
    QCOMPARE(window.low, 200.0);
    QCOMPARE(window.high, 800.0);
    Slices slices;
    SetSnapshot set = snapshot(1, 1, window.low, window.high);
    set.slices.append(slices.text({{value}}));
    QImage image = filled(1, 1, untouched);
    renderVolume(image, ViewState(), set);
    QCOMPARE(image.pixel(0, 0), expected);
}

void tst_Projection::tintRule_data()
{
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<bool>("showSection");
    QTest::addColumn<int>("slider");
    QTest::addColumn<Vec3>("normal");
    QTest::addColumn<QRgb>("expected");

    const Vec3 z{0, 0, 1};
    const QList<double> three{600, 300, 900};
    // Window 0..1000. Three slices lie at Z = -1.5, -0.5, 0.5 and the ray
    // meets them there, so along the normal Z their offsets are those Z.
    QTest::newRow("maximum along the ray") << QList<double>{100, 700, 400} << false << 0 << z
                                           << qRgb(75, 165, 165);
    QTest::newRow("top of the window vanishes") << QList<double>{1000, 300} << false << 0 << z
                                                << qRgb(178, 216, 216);
    QTest::newRow("nothing inside the window") << QList<double>{-5, 1000, 2000} << false << 0 << z
                                               << untouched;
    QTest::newRow("section hidden: the whole ray") << three << false << 0 << z
                                                   << qRgb(24, 139, 139);
    QTest::newRow("slider 0: near half cut, layer slice tints the section")
            << three << true << 0 << z << qRgb(216, 178, 178);
    QTest::newRow("slider 0: layer value 0, the kept half shows")
            << QList<double>{600, -5, 900} << true << 0 << z << qRgb(101, 177, 177);
    QTest::newRow("slider 0: the section wins over a larger volume value")
            << QList<double>{900, 300, 600} << true << 0 << z << qRgb(216, 178, 178);
    QTest::newRow("slider +100: nothing cut, no section") << three << true << 100 << z
                                                          << qRgb(24, 139, 139);
    QTest::newRow("slider -100: everything cut") << three << true << -100 << z << untouched;
    QTest::newRow("zero normal, slider 0: every sample at 0 is cut")
            << three << true << 0 << Vec3{} << untouched;
    QTest::newRow("zero normal, slider 1: the last slice gives the section")
            << three << true << 1 << Vec3{} << qRgb(139, 24, 24);
}

void tst_Projection::tintRule()
{
    QFETCH(QList<double>, values);
    QFETCH(bool, showSection);
    QFETCH(int, slider);
    QFETCH(Vec3, normal);
    QFETCH(QRgb, expected);

    Slices slices;
    SetSnapshot set = snapshot(1, 1, 0, 1000);
    for (double v : values)
        set.slices.append(slices.text({{v}}));
    set.showSection = showSection;
    set.slider = slider;
    set.nz = normal;
    QImage image = filled(1, 1, untouched);
    renderVolume(image, ViewState(), set);
    QCOMPARE(image.pixel(0, 0), expected);
}

// 255 - I * (1 - c / 255) loses a level at I = 255 for components such as
// 20 and 85; the set's colour must come out as it is, on both sample roads.
void tst_Projection::wholeIntensityGivesTheColour_data()
{
    QTest::addColumn<QColor>("colour");
    QTest::newRow("20, 85, 0") << QColor(20, 85, 0);
    QTest::newRow("85, 20, 254") << QColor(85, 20, 254);
}

void tst_Projection::wholeIntensityGivesTheColour()
{
    QFETCH(QColor, colour);
    for (int c = 0; c < 256; ++c)
        QCOMPARE(tintComponent(c, 255), c);

    Slices slices;
    QImage grey(1, 1, QImage::Format_Grayscale8);
    grey.fill(255);
    // 255 in 0..256 and 996.09375 in 0..1000 both give I = 255 exactly.
    const struct { const Slice *slice; double high; } sets[] = {
        {slices.picture(grey), 256}, {slices.text({{996.09375}}), 1000}};
    for (const auto &s : sets) {
        SetSnapshot set = snapshot(1, 1, 0, s.high);
        set.vColor = colour;
        set.slices.append(s.slice);
        QImage image = filled(1, 1, untouched);
        renderVolume(image, ViewState(), set);
        QCOMPARE(image.pixel(0, 0), colour.rgb());
    }
}

void tst_Projection::pictureFormats_data()
{
    QTest::addColumn<QImage>("picture");

    QImage grey(1, 1, QImage::Format_Grayscale8);
    grey.bits()[0] = 50;
    QImage rgb(1, 1, QImage::Format_RGB32);
    rgb.fill(QColor(200, 100, 50));
    QImage argb(1, 1, QImage::Format_ARGB32);
    argb.fill(QColor(200, 100, 50, 128));
    QImage packed(1, 1, QImage::Format_RGB888);
    packed.fill(QColor(200, 100, 50));
    QImage indexed(1, 1, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(9, 9, 9), qRgb(200, 100, 50)});
    indexed.setPixel(0, 0, 1);

    QTest::newRow("grey level") << grey;
    QTest::newRow("colour picture: only blue counts") << rgb;
    QTest::newRow("with alpha: only blue counts") << argb;
    QTest::newRow("packed colour") << packed;
    QTest::newRow("colour table") << indexed;
}

// Blue 50 in the window 0..255.
void tst_Projection::pictureFormats()
{
    QFETCH(QImage, picture);
    Slices slices;
    SetSnapshot set = snapshot(1, 1, 0, 255);
    set.slices.append(slices.picture(picture));
    QImage image = filled(1, 1, untouched);
    renderVolume(image, ViewState(), set);
    QCOMPARE(image.pixel(0, 0), qRgb(204, 229, 229));
}

void tst_Projection::truncation_data()
{
    QTest::addColumn<double>("centreX");
    QTest::addColumn<QString>("columns");

    // Pixel i samples at sw/2 + X = centreX + i - 1.
    QTest::newRow("aligned: -1 before the first column reads nothing") << 0.0 << "-01-";
    QTest::newRow("-0.5 before the first column reads column 0") << 0.5 << "001-";
    QTest::newRow("-0.001 reads column 0") << 0.999 << "001-";
    QTest::newRow("half a column to the left") << -0.5 << "-001";
    QTest::newRow("nearly a column to the left") << -0.999 << "-001";
    QTest::newRow("one column to the right") << 1.0 << "01--";
    QTest::newRow("one column to the left") << -1.0 << "--01";
}

// A set of two columns with the values 100 and 700 on a four-pixel row.
void tst_Projection::truncation()
{
    QFETCH(double, centreX);
    QFETCH(QString, columns);
    Slices slices;
    SetSnapshot set = snapshot(2, 1, 0, 1000);
    set.slices.append(slices.text({{100, 700}}));
    QImage image = filled(4, 1, untouched);
    renderVolume(image, viewCentredAt({centreX, 0, 0}), set);
    const QRgb tints[2] = {qRgb(229, 242, 242), qRgb(75, 165, 165)};
    for (int i = 0; i < 4; ++i) {
        const QRgb expected = columns[i] == '-' ? untouched : tints[columns[i].digitValue()];
        QVERIFY2(image.pixel(i, 0) == expected, qPrintable(QString("pixel %1").arg(i)));
    }
}

// Rays parallel to the slices meet none of them; the frame is still drawn.
void tst_Projection::edgeOn()
{
    ViewState view;
    view.ny = {0, 0, 1};
    view.nz = {0, -1, 0};
    Slices slices;
    SetSnapshot set = snapshot(8, 8, 0, 1000);
    for (int k = 0; k < 4; ++k)
        set.slices.append(slices.text(QList<QList<double>>(8, QList<double>(8, 500))));

    QImage volume = filled(16, 16, untouched);
    renderVolume(volume, view, set);
    QCOMPARE(volume, filled(16, 16, untouched));

    set.showFrame = true;
    QImage scene = filled(16, 16, untouched);
    renderScene(scene, view, {set});
    int framePixels = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const QRgb pixel = scene.pixel(x, y);
            QVERIFY(pixel == qRgb(255, 255, 255) || pixel == frameColourOf(set).rgb());
            framePixels += pixel != qRgb(255, 255, 255);
        }
    }
    QVERIFY(framePixels > 0);
}

void tst_Projection::twoSetsCentred_data()
{
    QTest::addColumn<bool>("smallLast");
    QTest::addColumn<bool>("framed");
    QTest::addColumn<bool>("plainRoad");
    QTest::addColumn<QStringList>("picture");

    // s: small set's volume, f: its frame, L: large set's volume.
    const QStringList smallInside{"LLLLLLLL", "LLLLLLLL", "LLssssLL", "LLssssLL",
                                  "LLssssLL", "LLssssLL", "LLLLLLLL", "LLLLLLLL"};
    const QStringList allLarge(8, "LLLLLLLL");
    // Without frames the sets are drawn last first; a far centre takes the
    // plain road, which must do the same.
    for (bool plainRoad : {false, true}) {
        const QString road = plainRoad ? ", plain road" : "";
        QTest::addRow("no frames, small set last%s", qPrintable(road))
                << true << false << plainRoad << smallInside;
        QTest::addRow("no frames, large set last%s", qPrintable(road))
                << false << false << plainRoad << allLarge;
    }
    QTest::newRow("small set drawn last") << true << true << false
                                          << QStringList{"LLLLLLLL", "LLLLLLLL", "LLfffffL",
                                                         "LLfsssfL", "LLfsssfL", "LLfsssfL",
                                                         "LLfffffL", "LLLLLLLL"};
    QTest::newRow("large set covers the small one and its front frame")
            << false << true << false << allLarge;
}

// Both sets are centred on the same point of an 8 x 8 image.
void tst_Projection::twoSetsCentred()
{
    QFETCH(bool, smallLast);
    QFETCH(bool, framed);
    QFETCH(bool, plainRoad);
    QFETCH(QStringList, picture);

    Slices slices;
    SetSnapshot large = snapshot(8, 8, 0, 1000);
    large.vColor = QColor(127, 0, 127);
    SetSnapshot small = snapshot(4, 4, 0, 1000);
    small.showFrame = framed;
    ViewState view;
    if (plainRoad) {
        view.centre.z = 0x1p40;
        large.nz = small.nz = Vec3{0, 0, 1};
    }
    for (int k = 0; k < 2; ++k) {
        large.slices.append(slices.text(QList<QList<double>>(8, QList<double>(8, 300))));
        small.slices.append(slices.text(QList<QList<double>>(4, QList<double>(4, 500))));
    }
    QImage image(8, 8, QImage::Format_ARGB32);
    renderScene(image, view, smallLast ? QList<SetSnapshot>{large, small}
                                       : QList<SetSnapshot>{small, large});

    const QRgb largeTint = tint(large.vColor, 300 / 1000.0 * 256);
    const QRgb smallTint = tint(small.vColor, 500 / 1000.0 * 256);
    const QRgb frame = frameColourOf(small).rgb();
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            const char c = picture[y][x].toLatin1();
            const QRgb expected = c == 'L' ? largeTint : c == 's' ? smallTint : frame;
            QVERIFY2(image.pixel(x, y) == expected,
                     qPrintable(QString("pixel %1,%2").arg(x).arg(y)));
        }
    }
}

// Frames take the volume colour; the lite program draws every frame red.
void tst_Projection::frameColour()
{
    Slices slices;
    SetSnapshot set = snapshot(8, 8, 0, 1000);
    set.showFrame = true;
    set.showVolume = false;
    set.vColor = QColor(10, 200, 30);
    set.slices.append(slices.text(QList<QList<double>>(8, QList<double>(8, 500))));
    QImage image(8, 8, QImage::Format_ARGB32);
    renderScene(image, ViewState(), {set});
#ifdef CTSLAB_LITE
    const QRgb expected = qRgb(255, 0, 0);
#else
    const QRgb expected = qRgb(10, 200, 30);
#endif
    QCOMPARE(image.pixel(0, 3), expected);
    QCOMPARE(image.pixel(3, 0), expected);
    QCOMPARE(image.pixel(3, 3), qRgb(255, 255, 255));
}

// An image that could not be allocated is null: nothing is drawn on it.
void tst_Projection::nullAndUnsupportedImages()
{
    Slices slices;
    SetSnapshot set = snapshot(4, 4, 0, 1000);
    set.showFrame = true;
    set.slices.append(slices.text(QList<QList<double>>(4, QList<double>(4, 500))));

    QImage null;
    renderScene(null, ViewState(), {set});
    QVERIFY(null.isNull());
    renderVolume(null, ViewState(), set);
    QVERIFY(null.isNull());

    QImage grey(4, 4, QImage::Format_Grayscale8);
    grey.fill(7);
    const QImage before = grey;
    renderVolume(grey, ViewState(), set);
    QCOMPARE(grey, before);
}

// Slices that are missing or smaller than their set are passed over rather
// than read outside their cells.
void tst_Projection::malformedSlices()
{
    Slices slices;
    SetSnapshot set = snapshot(4, 1, 0, 1000);
    QImage narrow(2, 1, QImage::Format_Grayscale8);
    narrow.fill(255);
    set.slices = {nullptr,
                  slices.text({{900, 900}}),
                  slices.text({}),
                  slices.picture(narrow),
                  slices.picture(QImage()),
                  slices.text({{100, 700, 400, 1000}})};
    // Face on, both samplings meet the same cells.
    for (const Sampling sampling : {Sampling::Planes, Sampling::Cells}) {
        set.sampling = sampling;
        QImage image = filled(4, 1, untouched);
        renderVolume(image, ViewState(), set);
        const QRgb expected[4] = {qRgb(229, 242, 242), qRgb(75, 165, 165), qRgb(152, 203, 203),
                                  untouched};
        for (int i = 0; i < 4; ++i)
            QVERIFY2(image.pixel(i, 0) == expected[i], qPrintable(QString("pixel %1").arg(i)));
    }
}

void tst_Projection::extremeViews_data()
{
    QTest::addColumn<ViewState>("view");
    QTest::addColumn<bool>("cells");

    ViewState turned;
    rotateAxes(turned, {0.48, 0.6, 0.64}, 0.9);
    const auto with = [&](double zoom, Vec3 centre, Vec3 nz) {
        ViewState v = turned;
        v.zoom = zoom;
        v.centre = centre;
        v.nz = nz;
        return v;
    };
    const Vec3 nz = turned.nz;
    for (const bool cells : {false, true}) {
        const char *how = cells ? "cells" : "planes";
        QTest::addRow("tiny zoom, %s", how) << with(1e-300, {}, nz) << cells;
        QTest::addRow("zoom below the normal doubles, %s", how)
                << with(1e-310, {}, nz) << cells;
        QTest::addRow("huge zoom, %s", how) << with(1e300, {}, nz) << cells;
        QTest::addRow("zoom 0, %s", how) << with(0, {}, nz) << cells;
        QTest::addRow("infinite zoom, %s", how) << with(infinity, {}, nz) << cells;
        QTest::addRow("zoom not a number, %s", how) << with(notANumber, {}, nz) << cells;
        QTest::addRow("centre not a number, %s", how)
                << with(1, {notANumber, 0, 0}, nz) << cells;
        QTest::addRow("huge centre, %s", how)
                << with(1, {1e200, -1e200, 1e200}, nz) << cells;
        QTest::addRow("infinite centre, %s", how) << with(1, {0, infinity, 0}, nz) << cells;
        QTest::addRow("rays parallel to the slices, %s", how)
                << with(0.5, {}, {1, 0, 0}) << cells;
        QTest::addRow("rays nearly parallel: t overflows, %s", how)
                << with(0.5, {}, {1, 0, 1e-300}) << cells;
        QTest::addRow("direction not a number, %s", how)
                << with(0.5, {}, {0, notANumber, 1}) << cells;
        QTest::addRow("huge direction, %s", how)
                << with(0.5, {}, {1e300, 1e300, 1e-10}) << cells;
    }
}

// Views no user would reach still render exactly like the plain algorithm,
// with nothing out of range converted or read.
void tst_Projection::extremeViews()
{
    QFETCH(ViewState, view);
    QFETCH(bool, cells);
    Slices slices;
    SetSnapshot set = snapshot(12, 10, 0, 255);
    set.sampling = cells ? Sampling::Cells : Sampling::Planes;
    set.showFrame = true;
    set.showSection = true;
    set.slider = 30;
    set.nz = {0.6, 0, 0.8};
    SceneMaker maker(7);
    for (int k = 0; k < 8; ++k)
        set.slices.append(slices.picture(maker.picture(12, 10)));

    QImage image(33, 31, QImage::Format_ARGB32);
    QImage expected(33, 31, QImage::Format_ARGB32);
    renderScene(image, view, {set});
    referenceScene(expected, view, {set});
    const QString diff = difference(image, expected);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

void tst_Projection::randomScenes_data()
{
    QTest::addColumn<quint32>("seed");
    for (quint32 seed = 1; seed <= 10; ++seed)
        QTest::addRow("seed %u", seed) << seed;
}

// Random sets, views, windows and sections against the plain algorithm,
// pixel for pixel: whole scenes, and single volumes over a random picture.
void tst_Projection::randomScenes()
{
    QFETCH(quint32, seed);
    SceneMaker maker(seed);
    for (int scene = 0; scene < 30; ++scene) {
        Slices slices;
        const ViewState view = maker.view();
        QList<SetSnapshot> sets;
        const int count = maker.between(1, 3);
        for (int s = 0; s < count; ++s)
            sets.append(maker.set(slices, view));
        const int W = maker.between(1, 40);
        const int H = maker.between(1, 40);
        QString diff = sceneDifference(view, sets, W, H);
        QVERIFY2(diff.isEmpty(), qPrintable(QString("scene %1: %2").arg(scene).arg(diff)));

        QImage noise(W, H, QImage::Format_ARGB32);
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x)
                noise.setPixel(x, y, maker.g.generate());
        }
        QImage volume = noise;
        QImage expectedVolume = noise;
        renderVolume(volume, view, sets.first());
        {
            QPainter p(&expectedVolume);
            referenceOf(p, W, H, view, sets.first());
        }
        diff = difference(volume, expectedVolume);
        QVERIFY2(diff.isEmpty(), qPrintable(QString("volume %1: %2").arg(scene).arg(diff)));
    }
}

void tst_Projection::tiledScenes_data()
{
    QTest::addColumn<quint32>("seed");
    // CTSLAB_SCENES sets how many scenes to try, 20 to a row.
    const int scenes = qEnvironmentVariableIntValue("CTSLAB_SCENES");
    const int rows = std::max(1, (scenes > 0 ? scenes : 200) / 20);
    for (int seed = 1; seed <= rows; ++seed)
        QTest::addRow("seed %d", seed) << quint32(1000 + seed);
}

// Larger scenes than above, where whole tiles can be passed over, with views
// whose arithmetic is exact, grazing ones, huge and negative zooms and
// values that are not finite, against the plain algorithm.
void tst_Projection::tiledScenes()
{
    QFETCH(quint32, seed);
    SceneMaker maker(seed);
    for (int scene = 0; scene < 20; ++scene) {
        Slices slices;
        const ViewState view = maker.tiledView();
        QList<SetSnapshot> sets;
        for (int count = maker.chance(70) ? 1 : maker.between(2, 3); count > 0; --count)
            sets.append(maker.tiledSet(slices, view));
        const int W = maker.between(1, 90);
        const int H = maker.between(1, 90);
        const QString diff = sceneDifference(view, sets, W, H);
        QVERIFY2(diff.isEmpty(), qPrintable(QString("scene %1: %2").arg(scene).arg(diff)));
    }
}

void tst_Projection::probedPixels_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<bool>("tiled");
    for (quint32 seed = 1; seed <= 4; ++seed) {
        QTest::addRow("random %u", seed) << seed << false;
        QTest::addRow("tiled %u", seed) << 2000 + seed << true;
    }
}

// Every pixel of random scenes, framed nowhere: the set, value and cell that
// one ray finds give the pixel's colour, and white where it finds none.
void tst_Projection::probedPixels()
{
    QFETCH(quint32, seed);
    QFETCH(bool, tiled);
    SceneMaker maker(seed);
    for (int scene = 0; scene < 15; ++scene) {
        Slices slices;
        const ViewState view = tiled ? maker.tiledView() : maker.view();
        QList<SetSnapshot> sets;
        for (int count = maker.between(1, 3); count > 0; --count) {
            sets.append(tiled ? maker.tiledSet(slices, view) : maker.set(slices, view));
            sets.last().showFrame = false;
        }
        const int W = maker.between(1, tiled ? 60 : 30);
        const int H = maker.between(1, tiled ? 60 : 30);
        QImage image(W, H, QImage::Format_ARGB32);
        renderScene(image, view, sets);
        for (int j = 0; j < H; ++j) {
            for (int i = 0; i < W; ++i) {
                const std::optional<ProbeHit> hit = probeScene(view, sets, W, H, i, j);
                QRgb expected = qRgb(255, 255, 255);
                if (hit) {
                    const SetSnapshot &set = sets.at(hit->set);
                    const double value =
                            set.slices.at(hit->slice)->valueAt(hit->column, hit->row);
                    QCOMPARE(value, hit->value);
                    expected = tint(hit->face ? set.sColor : set.vColor,
                                    intensity(value, set.windowLow, set.windowHigh));
                }
                QVERIFY2(image.pixel(i, j) == expected,
                         qPrintable(QString("scene %1, pixel %2,%3: %4, probed %5")
                                            .arg(scene)
                                            .arg(i)
                                            .arg(j)
                                            .arg(image.pixel(i, j), 8, 16, QChar('0'))
                                            .arg(expected, 8, 16, QChar('0'))));
            }
        }
    }
}

void tst_Projection::runBounds_data()
{
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<double>("least");
    QTest::addColumn<double>("greatest");
    // Floats hold none of these exactly: the bounds round outwards.
    QTest::newRow("fractions") << QList<double>{0.1, -0.7, 0.3} << -0.7 << 0.3;
    QTest::newRow("beyond 24 bits") << QList<double>{16777217.0, -16777217.0} << -16777217.0
                                    << 16777217.0;
    QTest::newRow("beyond the floats") << QList<double>{1e300, -1e300} << -1e300 << 1e300;
    QTest::newRow("infinities and not a number")
            << QList<double>{infinity, notANumber, -infinity} << -infinity << infinity;
    QTest::newRow("tiny") << QList<double>{1e-300, -1e-300} << -1e-300 << 1e-300;
}

// The summaries over runs never lie inside the values they sum up, at any
// level, though they keep them as floats.
void tst_Projection::runBounds()
{
    QFETCH(QList<double>, values);
    QFETCH(double, least);
    QFETCH(double, greatest);
    Slices slices;
    SetSnapshot set = snapshot(9, 9, 0, 1);
    for (int k = 0; k < 70; ++k) {
        set.slices.append(slices.text({9, QList<double>(9, values[k % values.size()])}));
    }
    const auto serial = [](int n, const std::function<void(int)> &work) {
        for (int i = 0; i < n; ++i)
            work(i);
    };
    const auto runs = SliceRuns::of(set.slices, 9, 9, serial);
    QVERIFY(runs);
    for (const SliceRuns::Level &level : runs->level) {
        float low = std::numeric_limits<float>::infinity();
        float high = -low;
        for (const SliceRuns::BoundsF &b : level.text) {
            QVERIFY(b.blockLow <= b.low && b.blockHigh >= b.high);
            low = std::min(low, b.low);
            high = std::max(high, b.high);
        }
        QVERIFY2(low <= least && high >= greatest,
                 qPrintable(QString("%1 .. %2").arg(double(low)).arg(double(high))));
    }
}

void tst_Projection::tallScenes_data()
{
    QTest::addColumn<quint32>("seed");
    // CTSLAB_SCENES sets how many scenes to try here too, 50 to one here.
    const int scenes = qEnvironmentVariableIntValue("CTSLAB_SCENES");
    const int rows = std::max(1, (scenes > 0 ? scenes / 50 : 4));
    for (int seed = 1; seed <= rows; ++seed)
        QTest::addRow("seed %d", seed) << quint32(3000 + seed);
}

// Tall stacks, where runs of slices are passed over whole, against the
// plain algorithm.
void tst_Projection::tallScenes()
{
    QFETCH(quint32, seed);
    SceneMaker maker(seed);
    for (int scene = 0; scene < 5; ++scene) {
        Slices slices;
        ViewState view = maker.tallView();
        const QList<SetSnapshot> sets{maker.tallSet(slices, view)};
        const int W = maker.between(1, 40);
        const int H = maker.between(1, 40);
        // Mostly a picture within the stack, where every ray meets slices and
        // whole runs can be passed over.
        if (maker.chance(70))
            view.zoom = maker.uniform(0.2, 1) * std::min(sets[0].sw / double(W), sets[0].sh / double(H));
        const QString diff = sceneDifference(view, sets, W, H);
        QVERIFY2(diff.isEmpty(), qPrintable(QString("scene %1: %2").arg(scene).arg(diff)));
    }
}

void tst_Projection::sideViews_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("pictures") << 0;
    QTest::newRow("text") << 1;
    QTest::newRow("whole numbers, read from 16 bits") << 3;
    QTest::newRow("pictures and text") << 4;
}

// Exactly edge-on to the slices, along the rows or the columns, each ray
// keeps its row or column and its slice: cells of every kind of slice.
void tst_Projection::sideViews()
{
    QFETCH(int, kind);
    SceneMaker maker(quint32(500 + kind));
    for (int scene = 0; scene < 12; ++scene) {
        ViewState view;
        rotateAxes(view, maker.chance(50) ? Vec3{1, 0, 0} : Vec3{0, 1, 0}, 0.0,
                   maker.chance(50) ? 1.0 : -1.0);
        if (maker.chance(50))
            rotateAxes(view, view.nz, 0.0, 1.0);
        view.zoom = maker.chance(50) ? 1.0 : maker.uniform(0.2, 3);
        view.centre = {maker.between(-8, 8) * 0.5, maker.between(-8, 8) * 0.5,
                       maker.between(-8, 8) * 0.5};
        Slices slices;
        SetSnapshot set = maker.tiledSet(slices, view, kind);
        set.sampling = Sampling::Cells;
        const QString diff = sceneDifference(view, {set}, maker.between(8, 70),
                                             maker.between(8, 70));
        QVERIFY2(diff.isEmpty(), qPrintable(QString("scene %1: %2").arg(scene).arg(diff)));
    }
}

// Windows whose top falls on a value that occurs, where rounding decides
// whether that value still shows: in order and swapped, over pictures, and
// over text holding the last value that shows and the first that does not.
void tst_Projection::windowTop()
{
    Slices slices;
    for (int v = 1; v <= 255; ++v) {
        for (bool swapped : {false, true}) {
            const double top = v * 256 / 255.0;
            const double low = swapped ? top : 0;
            const double high = swapped ? 0 : top;
            SetSnapshot text = snapshot(1, 1, low, high);
            const auto shows = [&](double x) { return (x - low) / (high - low) * 256 <= 255; };
            // Walked one double at a time from where exact arithmetic puts it.
            const double away = swapped ? -1e9 : 1e9;
            double last = swapped ? top - v : v;
            while (!shows(last))
                last = std::nextafter(last, -away);
            while (shows(std::nextafter(last, away)))
                last = std::nextafter(last, away);
            text.slices = {slices.text({{last}}), slices.text({{std::nextafter(last, away)}})};

            QImage grey(1, 1, QImage::Format_Grayscale8);
            grey.bits()[0] = uchar(v);
            QImage half = grey;
            half.bits()[0] = uchar(v / 2);
            SetSnapshot pictures = snapshot(1, 1, low, high);
            pictures.slices = {slices.picture(half), slices.picture(grey)};
            for (const SetSnapshot &set : {text, pictures}) {
                QImage image = filled(1, 1, untouched);
                QImage expected = image;
                renderVolume(image, ViewState(), set);
                QPainter p(&expected);
                referenceVolume(p, 1, 1, ViewState(), set);
                p.end();
                QVERIFY2(image == expected, qPrintable(QString("value %1").arg(v)));
            }
        }
    }
}

QTEST_GUILESS_MAIN(tst_Projection)
// Starting a thread can fail (no resources); the work must still be done, on
// the threads that did start or on the caller alone.
void tst_Projection::poolWithThreadsThatCannotStart_data()
{
    QTest::addColumn<int>("startable");
    QTest::newRow("none starts") << 0;
    QTest::newRow("one of three starts") << 1;
}

void tst_Projection::poolWithThreadsThatCannotStart()
{
    QFETCH(int, startable);
    int started = 0;
    WorkerPool pool(3, [&](std::function<void()> loop) {
        if (started == startable)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        ++started;
        return std::thread(std::move(loop));
    });
    QCOMPARE(pool.workerCount(), startable);

    for (int round = 0; round < 3; ++round) {
        std::vector<std::atomic<int>> done(64);
        auto piece = [&](int i) { ++done[size_t(i)]; };
        pool.run(int(done.size()), piece);
        for (const std::atomic<int> &d : done)
            QCOMPARE(d.load(), 1);
    }
}

#include "tst_projection.moc"
