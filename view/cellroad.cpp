#include "view/fastvolume.h"

#include "panel/colourscale.h"
#include "slices/slice.h"
#include "view/cellgrid.h"
#include "view/cellkernels.h"
#include "view/cellwalk.h"
#include "view/projection.h"
#include "slices/workerpool.h"
#include "view/setgeometry.h"
#include "view/tiledtarget.h"

#include <QImage>

#include <algorithm>
#include <cmath>

// Sampling by cells. Cell (c, r, k) is the box from c - sw/2 to c + 1 - sw/2
// across, from ry (r - sh/2) to ry (r + 1 - sh/2) down and from z[k] to
// z[k + 1] deep (the last to D/2), each including its lower side and not its
// upper one. A cell counts for the ray of a pixel when the ray, P0 + t nz
// for all real t, passes through it (view/cellwalk.h says exactly how, in
// doubles); each counts once. The pixel's V is the greatest intensity of the
// counted cells. With the section shown, a cell whose centre M has M.n >= C
// is cut away, and a kept one with M.n >= C - L lies in the cut face; S is
// the intensity of the face cell nearest the viewer (the last along the
// ray), also when it is 0. Colours as for slice planes.
//
// The tiled road gives the same picture from far fewer cells: packets of
// rays go layer by layer across the axis they cross fastest, layers whose
// bounds cannot raise any ray of a packet are passed over, brightest first,
// and the kernels (view/cellkernels.h) find each ray's cells in a layer. The
// plain road walks every ray through the whole grid; it is taken where the
// tiled one cannot vouch for its positions.

namespace {

struct PlainCells
{
    ViewState view;
    const CellGrid *grid = nullptr;
    const Slice *const *slices = nullptr; // per k; none where a slice gives nothing
    TiledTarget target;
    int H = 0;
    double low = 0.0;
    double high = 0.0;
    bool section = false;
    double sectionPos = 0.0; // C
    double faceFrom = 0.0;   // C - L
    QColor vColor;
    QColor sColor;
};

// V and S of one ray, walking every cell it passes through.
void plainRay(const PlainCells &f, int i, int j, double &V, double &S)
{
    const ViewState &v = f.view;
    const CellGrid &g = *f.grid;
    const double a = i - f.target.W * 0.5;
    const double b = j - f.H * 0.5;
    const double p[3] = {v.centre.x + v.zoom * (a * v.nx.x + b * v.ny.x),
                         v.centre.y + v.zoom * (a * v.nx.y + b * v.ny.y),
                         v.centre.z + v.zoom * (a * v.nx.z + b * v.ny.z)};
    const double q[3] = {v.nz.x, v.nz.y, v.nz.z};
    V = 0;
    S = 0;
    qint64 nearest = -1;
    walkCells(
            g, p, q, [&f](int k) { return f.slices[k] != nullptr; },
            [&](int c, int r, int k, auto place) {
                const double I = intensity(f.slices[k]->valueAt(c, r), f.low, f.high);
                if (f.section) {
                    const double d = g.depthOf(c, r, k);
                    if (d >= f.sectionPos)
                        return;
                    if (d >= f.faceFrom) {
                        const qint64 order = place();
                        if (order > nearest) {
                            nearest = order;
                            S = I;
                        }
                    }
                }
                V = std::max(V, I);
            });
}

void plainRows(const PlainCells &f, int rowBegin, int rowEnd)
{
    for (int j = rowBegin; j < rowEnd; ++j) {
        QRgb *line = f.target.line(0, j);
        quint8 *covered = f.target.coveredLine(0, j);
        for (int i = 0; i < f.target.W; ++i) {
            if (covered && covered[i])
                continue;
            double V;
            double S;
            plainRay(f, i, j, V, S);
            if (f.section && S > 0)
                line[i] = tint(f.sColor, S);
            else if (V > 0)
                line[i] = tint(f.vColor, V);
            else
                continue;
            if (covered)
                covered[i] = f.target.mark;
        }
    }
}

thread_local CellGrid plainGrid;
thread_local std::vector<const Slice *> plainSlices;

void renderCellsPlainly(QImage &image, const ViewState &view, const SetSnapshot &set,
                        const SetGeometry &geometry, quint8 *covered, quint8 mark)
{
    PlainCells f;
    f.view = view;
    makeCellGrid(plainGrid, set, geometry);
    f.grid = &plainGrid;
    plainSlices.assign(set.slices.cbegin(), set.slices.cend());
    for (const Slice *&slice : plainSlices) {
        if (!coversSet(slice, set.sw, set.sh))
            slice = nullptr;
    }
    f.slices = plainSlices.data();
    f.target = {image.bits(), image.bytesPerLine(), image.width(), covered, mark};
    f.H = image.height();
    f.low = set.windowLow;
    f.high = set.windowHigh;
    f.section = set.showSection;
    f.sectionPos = geometry.sectionPos(set.slider);
    f.faceFrom = f.sectionPos - geometry.layer;
    f.vColor = set.vColor;
    f.sColor = set.sColor;
    const int H = f.H;
    const int bandCount = std::min(H, (WorkerPool::shared().workerCount() + 1) * 8);
    auto band = [&](int b) {
        plainRows(f, int(qint64(H) * b / bandCount), int(qint64(H) * (b + 1) / bandCount));
    };
    WorkerPool::shared().run(bandCount, band);
}

// The layers a packet has to look at, kept between packets.
struct CellPlan
{
    std::vector<int> cut;
    std::vector<Prospect> open; // a heap, greatest bucket on top
};

thread_local CellPacket cellPacket;
thread_local CellPlan cellPlan;
thread_local SliceRuns cellRuns;
thread_local CellGrid cellGrid;
thread_local std::vector<TiledSlice> cellSlices;
thread_local std::vector<const uchar *> cellPlanes;

double component(const Vec3 &v, int axis)
{
    return axis == 0 ? v.x : axis == 1 ? v.y : v.z;
}

// A ray that keeps its row (across X) or column (across Y) in slice s reads
// its cells along one line of it, where the slice's layout allows.
void keepStill(const CellFrame &f, const TiledSlice &s, int j, CellPacket &p, int r)
{
    const SliceTiles &t = *s.tiles;
    if (!s.text) {
        const qsizetype across = f.A == 0 ? t.cellStride : t.lineStride;
        const qsizetype along = f.A == 0 ? t.lineStride : t.cellStride;
        p.still[r] = t.plane + j * along;
        p.stillStep[r] = across;
        p.stillKind[r] = CellPacket::Picture;
    } else if (t.narrow) {
        p.still[r] = t.narrow + (f.A == 0 ? qsizetype(j) * t.width : j);
        p.stillStep[r] = f.A == 0 ? 1 : t.width;
        p.stillKind[r] = CellPacket::Narrow;
    } else if (f.A == 0) {
        p.still[r] = t.lines[size_t(j)];
        p.stillStep[r] = 1;
        p.stillKind[r] = CellPacket::Wide;
    }
}

void startCellPacket(const CellFrame &f, CellPacket &p, int i0, int j0, int columns, int rows)
{
    p.i0 = i0;
    p.j0 = j0;
    p.columns = columns;
    p.rows = rows;
    const ViewState &v = f.view;
    const CellGrid &g = *f.grid;
    constexpr double infinity = std::numeric_limits<double>::infinity();
    p.bMin = p.cMin = infinity;
    p.bMax = p.cMax = -infinity;
    // Where the rays keep a coordinate, its cell is found once, exactly.
    const auto exactly = [&](int axis, double a, double b) {
        const double start = component(v.centre, axis)
                + v.zoom * (a * component(v.nx, axis) + b * component(v.ny, axis));
        return cellOfValue(g.bounds[axis].data(), g.cells[axis], start) + 0.5;
    };
    for (int r = 0; r < packetRays; ++r) {
        const int cc = r % packetSide;
        const int rr = r / packetSide;
        p.layer[r] = 0.0;
        p.nearest[r] = -1;
        p.stillKind[r] = CellPacket::Walked;
        if (cc >= columns || rr >= rows) {
            p.b0[r] = p.c0[r] = -nowhere;
            p.code[r] = std::numeric_limits<qint32>::max();
            p.key[r] = infinity;
            continue;
        }
        const double a = (i0 + cc) - f.halfW;
        const double b = (j0 + rr) - f.halfH;
        p.b0[r] = f.exactB ? exactly(f.B, a, b) : f.b.base + a * f.b.perA + b * f.b.perB;
        p.c0[r] = f.exactC ? exactly(f.C, a, b) : f.c.base + a * f.c.perA + b * f.c.perB;
        p.bMin = std::min(p.bMin, p.b0[r]);
        p.bMax = std::max(p.bMax, p.b0[r]);
        p.cMin = std::min(p.cMin, p.c0[r]);
        p.cMax = std::max(p.cMax, p.c0[r]);
        p.code[r] = 0;
        p.key[r] = -infinity;
        if (f.A != 2 && f.exactB && f.exactC) {
            const int j = int(std::floor(p.b0[r]));
            const int k = int(std::floor(p.c0[r]));
            if (j >= 0 && j < f.cellsB && k >= 0 && k < f.cellsC && f.slices[k].tiles)
                keepStill(f, f.slices[k], j, p, r);
        }
    }
    p.leastCode = 0;
    p.leastKey = -infinity;
}

// The cells a packet's rays may pass through across B (or C) between A's
// planes from and to, clamped to the grid; false for none.
bool cellsWithin(double lo, double hi, double perZ, double error, double from, double to,
                 int cells, int &first, int &last)
{
    const double a = from * perZ;
    const double b = to * perZ;
    const double low = std::floor((lo + std::min(a, b)) - error);
    const double high = std::floor((hi + std::max(a, b)) + error);
    if (!(high >= 0 && low < cells))
        return false;
    first = int(std::max(low, 0.0));
    last = int(std::min(high, cells - 1.0));
    return true;
}

enum class Reached { Nothing, Open, Cut };

// The box of cells the packet's rays may pass through in layers l0..l1 of
// A, and whether the section may cut any of them away or make any of them
// the face.
Reached boxOf(const CellFrame &f, const CellPacket &p, int l0, int l1, int lo[3], int hi[3])
{
    lo[f.A] = l0;
    hi[f.A] = l1;
    if (!cellsWithin(p.bMin, p.bMax, f.b.perZ, f.b.error, f.planesA[l0], f.planesA[l1 + 1],
                     f.cellsB, lo[f.B], hi[f.B])
        || !cellsWithin(p.cMin, p.cMax, f.c.perZ, f.c.error, f.planesA[l0], f.planesA[l1 + 1],
                        f.cellsC, lo[f.C], hi[f.C]))
        return Reached::Nothing;
    if (!f.section)
        return Reached::Open;
    // Depths grow or fall steadily along each axis, and so does their
    // rounded sum: the corners of the box bound them.
    const CellGrid &g = *f.grid;
    double least[3];
    double most[3];
    for (int axis = 0; axis < 3; ++axis) {
        const double x = g.depth[axis][size_t(lo[axis])];
        const double y = g.depth[axis][size_t(hi[axis])];
        least[axis] = std::min(x, y);
        most[axis] = std::max(x, y);
    }
    if ((least[0] + least[1]) + least[2] >= f.sectionPos)
        return Reached::Nothing;
    return (most[0] + most[1]) + most[2] >= f.faceFrom ? Reached::Cut : Reached::Open;
}

// The box's slices by eights, or by 64 where the eights are too many to
// look at.
void addProspect(const CellFrame &f, const SliceRuns &runs, int l0, int l1, const int lo[3],
                 const int hi[3], CellPlan &plan)
{
    Prospect prospect;
    prospect.first = l0;
    prospect.last = l1;
    const TileRect under{lo[0] >> SliceTiles::shift, hi[0] >> SliceTiles::shift,
                         lo[1] >> SliceTiles::shift, hi[1] >> SliceTiles::shift};
    const int level = (hi[2] >> slabShift) - (lo[2] >> slabShift) > widestLook ? 1 : 0;
    if (lookAtRuns(f, runs, level, lo[2], hi[2], under, prospect)) {
        plan.open.push_back(prospect);
        std::push_heap(plan.open.begin(), plan.open.end(), lessBright);
    }
}

// Layers of A by 64, by eights where the section reaches those, and one by
// one where it reaches the eight; the layers that the section may cut or
// make the face first, every ray through every cell; the others brightest
// first, each passed over once the least of the packet's rays has reached
// its bound, a run of 64 opened into its eights once it still may raise one.
void renderCellPacket(const CellFrame &f, const SliceRuns &runs, CellPacket &p, CellPlan &plan)
{
    plan.cut.clear();
    plan.open.clear();
    int lo[3];
    int hi[3];
    for (int run = 0; run < f.cellsA; run += coarseSize) {
        const int runLast = std::min(run + coarseSize, f.cellsA) - 1;
        const Reached far = boxOf(f, p, run, runLast, lo, hi);
        if (far == Reached::Open)
            addProspect(f, runs, run, runLast, lo, hi, plan);
        if (far != Reached::Cut)
            continue;
        for (int l0 = run; l0 <= runLast; l0 += slabSize) {
            const int l1 = std::min(l0 + slabSize - 1, runLast);
            const Reached reached = boxOf(f, p, l0, l1, lo, hi);
            if (reached == Reached::Open)
                addProspect(f, runs, l0, l1, lo, hi, plan);
            if (reached != Reached::Cut)
                continue;
            for (int layer = l0; layer <= l1; ++layer) {
                const Reached one = boxOf(f, p, layer, layer, lo, hi);
                if (one == Reached::Cut)
                    plan.cut.push_back(layer);
                else if (one == Reached::Open)
                    addProspect(f, runs, layer, layer, lo, hi, plan);
            }
        }
    }

    for (const int layer : plan.cut)
        sampleCellsCut(f, p, layer);

    const auto raises = [&p](const Prospect &prospect) {
        return prospect.code > p.leastCode || prospect.key > p.leastKey;
    };
    while (!plan.open.empty()) {
        std::pop_heap(plan.open.begin(), plan.open.end(), lessBright);
        const Prospect prospect = plan.open.back();
        plan.open.pop_back();
        if (!raises(prospect))
            continue;
        if (prospect.last - prospect.first >= slabSize) {
            for (int l0 = prospect.first; l0 <= prospect.last; l0 += slabSize) {
                const int l1 = std::min(l0 + slabSize - 1, prospect.last);
                if (boxOf(f, p, l0, l1, lo, hi) != Reached::Nothing)
                    addProspect(f, runs, l0, l1, lo, hi, plan);
            }
            continue;
        }
        if (f.A != 2) {
            for (int layer = prospect.first; layer <= prospect.last && raises(prospect); ++layer)
                sampleCellsOpen(f, p, layer, prospect);
            continue;
        }
        // Layers across Z are slices, each with its own tiles to look at;
        // the cells of those to sample are asked for together, so that the
        // waits for memory overlap.
        Prospect chosen[slabSize];
        int count = 0;
        for (int layer = prospect.first; layer <= prospect.last; ++layer) {
            const TiledSlice &s = f.slices[layer];
            int c0, c1, r0, r1;
            if (!s.tiles
                || !cellsWithin(p.bMin, p.bMax, f.b.perZ, f.b.error, f.planesA[layer],
                                f.planesA[layer + 1], f.cellsB, c0, c1)
                || !cellsWithin(p.cMin, p.cMax, f.c.perZ, f.c.error, f.planesA[layer],
                                f.planesA[layer + 1], f.cellsC, r0, r1))
                continue;
            Prospect &one = chosen[count];
            one = Prospect();
            one.first = one.last = layer;
            const TileRect under{c0 >> SliceTiles::shift, c1 >> SliceTiles::shift,
                                 r0 >> SliceTiles::shift, r1 >> SliceTiles::shift};
            if (lookAt(f, s, under, one) && raises(one)) {
                prefetchCells(s, c0, c1, r0, r1);
                ++count;
            }
        }
        for (int i = 0; i < count; ++i) {
            if (raises(chosen[i]))
                sampleCellsOpen(f, p, chosen[i].first, chosen[i]);
        }
    }
}

void finishCellPacket(const CellFrame &f, const CellPacket &p)
{
    paintRays(f, f, f.section, p.i0, p.j0, p.columns, p.rows, p.layer, p.key, p.code);
}

void renderCellBand(const CellFrame &f, const SliceRuns &runs, int j0, int rows)
{
    for (int i0 = 0; i0 < f.W; i0 += packetSide) {
        const int columns = std::min(packetSide, f.W - i0);
        if (f.coversAll(i0, j0, columns, rows))
            continue;
        startCellPacket(f, cellPacket, i0, j0, columns, rows);
        renderCellPacket(f, runs, cellPacket, cellPlan);
        finishCellPacket(f, cellPacket);
    }
}

bool finite(const Vec3 &v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// The layered axis, the models of the other two, and their bounds; false
// where the magnitudes are too large for the bounds to say anything.
bool setCellModels(CellFrame &f, const SetGeometry &geometry)
{
    const ViewState &v = f.view;
    const CellGrid &g = *f.grid;
    // Positions across each axis in cells of its own: (x - origin) / unit.
    double unit[3] = {1.0, geometry.ry, 1.0};
    double origin[3] = {g.bounds[0].front(), g.bounds[1].front(), g.bounds[2].front()};
    double uneven[3] = {0.0, 0.0, 0.0};
    const int ss = g.cells[2];
    unit[2] = (g.bounds[2].back() - g.bounds[2].front()) / ss;
    if (!(unit[2] > 0 && std::isfinite(unit[2])))
        return false;
    // Slices need not be evenly spaced: how far their planes lie from even
    // spacing widens the bound of Z positions.
    for (int k = 0; k <= ss; ++k) {
        const double even = origin[2] + k * unit[2];
        uneven[2] = std::max(uneven[2], std::fabs(g.bounds[2][size_t(k)] - even) / unit[2]);
    }
    uneven[2] *= 1 + 0x1p-20;

    const double along[3] = {v.nz.x, v.nz.y, v.nz.z};
    double rate[3];
    for (int axis = 0; axis < 3; ++axis)
        rate[axis] = std::fabs(along[axis]) / unit[axis];
    f.A = rate[2] >= rate[0] && rate[2] >= rate[1] ? 2 : rate[0] >= rate[1] ? 0 : 1;
    if (!(rate[f.A] > 0))
        return false;
    f.B = f.A == 0 ? 1 : 0;
    f.C = f.A == 2 ? 1 : 2;
    f.cellsA = g.cells[f.A];
    f.cellsB = g.cells[f.B];
    f.cellsC = g.cells[f.C];
    f.planesA = g.bounds[f.A].data();
    for (int axis = 0; axis < 3; ++axis)
        f.backward[axis] = along[axis] < 0;

    const double zoom = std::fabs(v.zoom);
    const auto reachOf = [&](int axis) {
        return std::fabs(component(v.centre, axis))
                + zoom * (f.halfW * std::fabs(component(v.nx, axis))
                          + f.halfH * std::fabs(component(v.ny, axis)));
    };
    const double acrossA = reachOf(f.A)
            + std::max(std::fabs(f.planesA[0]), std::fabs(f.planesA[f.cellsA]));
    const auto model = [&](int axis, Affine &m, bool &exact) {
        exact = along[axis] == 0;
        const double r = along[axis] / along[f.A];
        const Affine world = pointModel(v, component(v.centre, axis), component(v.nx, axis),
                                        component(v.ny, axis), component(v.centre, f.A),
                                        component(v.nx, f.A), component(v.ny, f.A), r);
        const double magnitude =
                (std::fabs(origin[axis]) + 2 * (reachOf(axis) + acrossA * std::fabs(r)))
                / unit[axis];
        if (!(magnitude < largestMagnitude))
            return false;
        m.base = (world.base - origin[axis]) / unit[axis];
        m.perA = world.perA / unit[axis];
        m.perB = world.perB / unit[axis];
        m.perZ = exact ? 0.0 : r / unit[axis];
        m.error = exact ? 0.0 : magnitude * boundPerMagnitude + tinyError + uneven[axis];
        return true;
    };
    return model(f.B, f.b, f.exactB) && model(f.C, f.c, f.exactC);
}

} // namespace

bool renderCellsTiled(QImage &image, const ViewState &view, const SetSnapshot &set,
                      const SetGeometry &geometry, quint8 *covered, quint8 mark)
{
    if (!(std::isfinite(view.zoom) && finite(view.nx) && finite(view.ny) && finite(view.nz)
          && finite(view.centre) && finite(set.nz)))
        return false;
    CellFrame f;
    f.view = view;
    f.H = image.height();
    f.halfW = image.width() * 0.5;
    f.halfH = f.H * 0.5;
    makeCellGrid(cellGrid, set, geometry);
    f.grid = &cellGrid;
    if (!setCellModels(f, geometry))
        return false;

    std::vector<TiledSlice> &slices = cellSlices;
    bool anyText = false;
    bool anyPicture = false;
    if (!collectSlices(set, geometry.z, slices, anyPicture, anyText))
        return false;
    if (!setUpWindow(f, set.windowLow, set.windowHigh, anyPicture, anyText, set.vColor,
                     set.sColor))
        return false;
    // Nothing can have an intensity above 0: every pixel stays as it is.
    if (!(f.picturesShow || f.textShows))
        return true;
    f.slices = slices.data();
    // Across X or Y a layer's cells lie in many slices: the kernels read
    // them by one layout where every slice has it.
    std::vector<const uchar *> &planes = cellPlanes;
    planes.assign(slices.size(), nullptr);
    f.layout = nullptr;
    for (size_t k = 0; k < slices.size(); ++k) {
        const TiledSlice &s = slices[k];
        if (!s.tiles)
            continue;
        const SliceTiles &t = *s.tiles;
        const bool same = !s.text && s.offsets32
                && (!f.layout
                    || (t.lineStride == f.layout->lineStride
                        && t.cellStride == f.layout->cellStride));
        if (!same) {
            f.layout = nullptr;
            break;
        }
        f.layout = &t;
        planes[k] = t.plane;
    }
    f.planes = planes.data();
    f.section = set.showSection;
    f.sectionPos = geometry.sectionPos(set.slider);
    f.faceFrom = f.sectionPos - geometry.layer;
    f.bits = image.bits();
    f.bytesPerLine = image.bytesPerLine();
    f.W = image.width();
    f.covered = covered;
    f.mark = mark;

    const SliceRuns *runs = runsFor(set, cellRuns);
    if (!runs)
        return false;
    forEachBand(f.H, [&f, runs](int j0, int rows) { renderCellBand(f, *runs, j0, rows); });
    return true;
}

void renderCells(QImage &image, const ViewState &view, const SetSnapshot &set,
                 const SetGeometry &geometry, quint8 *covered, quint8 mark)
{
    if (renderCellsTiled(image, view, set, geometry, covered, mark))
        return;
    renderCellsPlainly(image, view, set, geometry, covered, mark);
}
