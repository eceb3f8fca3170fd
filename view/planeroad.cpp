#include "view/fastvolume.h"

#include "slices/slice.h"
#include "view/planekernels.h"
#include "view/projection.h"
#include "slices/workerpool.h"
#include "view/setgeometry.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

// The plane road: the picture of the plain per-pixel, per-slice algorithm,
// to the bit, from far fewer samples. Where a sample lies comes from the
// certified models (view/certified.h); slices, or runs of 8 or 64, whose tile
// summaries show that they cannot raise any ray of a packet are passed over
// for it, brightest first (view/skipping.h). The section layer keeps the
// last of its samples rather than the greatest, so slices that may hold
// layer samples are always sampled, in slice order; slices cut away whole
// are passed over.

namespace {

void startPacket(const PlaneFrame &f, PlanePacket &p, int i0, int j0, int columns, int rows)
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
        p.w0[r] = f.exactW ? f.halfSh + (v.centre.y + v.zoom * (a * v.nx.y + b * v.ny.y)) / f.ry
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


struct Plan
{
    std::vector<int> layered;
    std::vector<Prospect> open; // a heap, greatest bucket on top
};

// Where a packet's samples may lie over the slices from z0 to z1: the
// models are affine in z and rounding keeps order, so the ends bound it.
struct Reach
{
    double uLo, uHi, wLo, wHi, dLo, dHi;
};

Reach reachOf(const PlaneFrame &f, const PlanePacket &p, double z0, double z1)
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

void prefetchReach(const PlaneFrame &f, const TiledSlice &s, const Reach &r)
{
    const int r0 = r.wLo > 0 ? int(r.wLo) : 0;
    const int r1 = r.wHi < f.shD ? (r.wHi > 0 ? int(r.wHi) : 0) : f.sh - 1;
    const int c0 = r.uLo > 0 ? int(r.uLo) : 0;
    const int c1 = r.uHi < f.swD ? (r.uHi > 0 ? int(r.uHi) : 0) : f.sw - 1;
    prefetchCells(s, c0, c1, r0, r1);
}

bool meetsGrid(const PlaneFrame &f, const Reach &r)
{
    return r.uHi > -1 && r.uLo < f.swD && r.wHi > -1 && r.wLo < f.shD;
}

// The slices that may hold section layer samples go first, in slice order,
// as the layer keeps the last of its samples. The others, where only the
// greatest value counts, go greatest bound first, 64 or eight at a time
// where they can: once the least of the packet's rays has passed a bound the
// slices under it are passed over, and visiting the brightest tiles first
// gets there soonest. A run of 64 that may still raise a ray is opened into
// its eights, and an eight into its slices, each back in the heap's order.
void renderPacket(const PlaneFrame &f, const SliceRuns &runs, PlanePacket &p, Plan &plan)
{
    plan.layered.clear();
    plan.open.clear();
    // Where the view's direction has no part along the slices, a packet's
    // samples fall in the same cells of every slice.
    const bool still = f.u.perZ == 0 && f.w.perZ == 0;
    const TileRect stillUnder = tilesUnder(f.sw, f.sh, p.uMin - f.u.error, p.uMax + f.u.error,
                                           p.wMin - f.w.error, p.wMax + f.w.error);
    const auto under = [&](const Reach &reach) {
        return still ? stillUnder : tilesUnder(f.sw, f.sh, reach.uLo, reach.uHi, reach.wLo, reach.wHi);
    };
    const auto lookAtRun = [&](int level, int first, int last, const Reach &reach) {
        Prospect prospect;
        prospect.first = first;
        prospect.last = last;
        if (lookAtRuns(f, runs, level, first, last, under(reach), prospect)) {
            plan.open.push_back(prospect);
            std::push_heap(plan.open.begin(), plan.open.end(), lessBright);
        }
    };
    for (int run = 0; run < f.sliceCount; run += coarseSize) {
        const int runLast = std::min(run + coarseSize, f.sliceCount) - 1;
        const Reach far = reachOf(f, p, f.slices[run].z, f.slices[runLast].z);
        if (!meetsGrid(f, far) || (f.section && far.dLo >= f.sectionPos))
            continue;
        if (!f.section || far.dHi <= f.layerLow) {
            lookAtRun(1, run, runLast, far);
            continue;
        }
        for (int first = run; first <= runLast; first += slabSize) {
            const int last = std::min(first + slabSize - 1, runLast);
            const Reach reach = reachOf(f, p, f.slices[first].z, f.slices[last].z);
            if (!meetsGrid(f, reach) || reach.dLo >= f.sectionPos)
                continue;
            if (reach.dHi <= f.layerLow) {
                lookAtRun(0, first, last, reach);
                continue;
            }
            // Near the section: slice by slice.
            for (int k = first; k <= last; ++k) {
                const TiledSlice &s = f.slices[k];
                const Reach one = reachOf(f, p, s.z, s.z);
                if (!s.tiles || !meetsGrid(f, one) || one.dLo >= f.sectionPos)
                    continue;
                if (!(one.dHi <= f.layerLow)) {
                    // The last layer sample counts even with intensity 0, so
                    // every kind of slice is sampled here. Its cells are asked
                    // for now and come while the rest is planned.
                    plan.layered.push_back(k);
                    prefetchReach(f, s, one);
                    continue;
                }
                Prospect prospect;
                prospect.first = prospect.last = k;
                if ((s.text ? f.textShows : f.picturesShow)
                    && lookAt(f, s, tilesUnder(f.sw, f.sh, one.uLo, one.uHi, one.wLo, one.wHi),
                              prospect)) {
                    plan.open.push_back(prospect);
                    std::push_heap(plan.open.begin(), plan.open.end(), lessBright);
                }
            }
        }
    }

    for (const int k : plan.layered)
        samplePlaneLayer(f, f.slices[k], p);

    const auto raises = [&p](const Prospect &prospect) {
        return prospect.code > p.leastCode || prospect.key > p.leastKey;
    };
    while (!plan.open.empty()) {
        std::pop_heap(plan.open.begin(), plan.open.end(), lessBright);
        const Prospect prospect = plan.open.back();
        plan.open.pop_back();
        if (!raises(prospect))
            continue;
        if (prospect.level < 0) {
            samplePlaneOpen(f, f.slices[prospect.first], p, prospect);
            continue;
        }
        if (prospect.level > 0 && prospect.last - prospect.first >= slabSize) {
            for (int first = prospect.first; first <= prospect.last; first += slabSize) {
                const int last = std::min(first + slabSize - 1, prospect.last);
                const Reach reach = reachOf(f, p, f.slices[first].z, f.slices[last].z);
                if (meetsGrid(f, reach))
                    lookAtRun(0, first, last, reach);
            }
            continue;
        }
        // The slices of the eight to sample have their cells asked for
        // together, so that the waits for memory overlap.
        Prospect chosen[slabSize];
        int count = 0;
        for (int k = prospect.first; k <= prospect.last; ++k) {
            const TiledSlice &s = f.slices[k];
            if (!s.tiles)
                continue;
            const Reach one = reachOf(f, p, s.z, s.z);
            if (!meetsGrid(f, one) || !(s.text ? f.textShows : f.picturesShow))
                continue;
            Prospect &slice = chosen[count];
            slice = Prospect();
            slice.first = slice.last = k;
            if (lookAt(f, s, under(one), slice) && raises(slice)) {
                prefetchReach(f, s, one);
                ++count;
            }
        }
        for (int i = 0; i < count; ++i) {
            if (raises(chosen[i]))
                samplePlaneOpen(f, f.slices[chosen[i].first], p, chosen[i]);
        }
    }
}

void finishPacket(const PlaneFrame &f, const PlanePacket &p)
{
    paintRays(f, f, f.section, p.i0, p.j0, p.columns, p.rows, p.layer, p.key, p.code);
}


thread_local PlanePacket packet;
thread_local Plan plan;
thread_local SliceRuns ownRuns;
thread_local std::vector<TiledSlice> tiledSlices;

void renderBand(const PlaneFrame &f, const SliceRuns &runs, int j0, int rows)
{
    for (int i0 = 0; i0 < f.W; i0 += packetSide) {
        if (f.coversAll(i0, j0, std::min(packetSide, f.W - i0), rows))
            continue;
        startPacket(f, packet, i0, j0, std::min(packetSide, f.W - i0), rows);
        renderPacket(f, runs, packet, plan);
        finishPacket(f, packet);
    }
}

// Sums of the magnitudes of the terms of each coordinate; the models' error
// bounds are a fixed share of them.
bool setModels(PlaneFrame &f, int H, double zExtent)
{
    const ViewState &v = f.view;
    const double A = f.halfW;
    const double B = H * 0.5;
    const double Z = zExtent;
    const double zoom = std::fabs(v.zoom);
    const double mx = std::fabs(v.centre.x) + zoom * (A * std::fabs(v.nx.x) + B * std::fabs(v.ny.x));
    const double my = std::fabs(v.centre.y) + zoom * (A * std::fabs(v.nx.y) + B * std::fabs(v.ny.y));
    const double mz = std::fabs(v.centre.z) + zoom * (A * std::fabs(v.nx.z) + B * std::fabs(v.ny.z));
    // The direction's parts along X and Y per unit along Z.
    const double rx = v.nz.x / v.nz.z;
    const double ry = v.nz.y / v.nz.z;
    const double depth = Z + mz;
    const double sx = mx + depth * std::fabs(rx);
    const double sy = my + depth * std::fabs(ry);
    const double su = f.halfSw + 2 * sx;
    const double sv = f.halfSh + 2 * sy / f.ry;
    const double sd = 2 * (std::fabs(f.n.x) * sx + std::fabs(f.n.y) * sy + std::fabs(f.n.z) * depth);
    if (!(su < largestMagnitude && sv < largestMagnitude && sd < largestMagnitude))
        return false;
    constexpr double tiny = tinyError;

    // The sample point's X and Y; the column and row add the half sizes.
    const Affine px = pointModel(v, v.centre.x, v.nx.x, v.ny.x, v.centre.z, v.nx.z, v.ny.z, rx);
    const Affine py = pointModel(v, v.centre.y, v.nx.y, v.ny.y, v.centre.z, v.nx.z, v.ny.z, ry);
    f.exactU = v.nz.x == 0;
    f.u = px;
    f.u.base = f.halfSw + px.base;
    f.u.perZ = f.exactU ? 0.0 : rx;
    f.u.error = f.exactU ? 0.0 : su * boundPerMagnitude + tiny;
    // The row position divides Y by the rows' spacing.
    f.exactW = v.nz.y == 0;
    f.w.base = f.halfSh + py.base / f.ry;
    f.w.perA = py.perA / f.ry;
    f.w.perB = py.perB / f.ry;
    f.w.perZ = f.exactW ? 0.0 : ry / f.ry;
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
                       const SetGeometry &geometry, quint8 *covered, quint8 mark)
{
    if (!(std::isfinite(view.zoom) && finite(view.nx) && finite(view.ny) && finite(view.nz)
          && finite(view.centre) && view.nz.z != 0 && finite(set.nz)))
        return false;
    PlaneFrame f;
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
    f.ry = geometry.ry;
    if (!setModels(f, H, geometry.zExtent))
        return false;

    std::vector<TiledSlice> &slices = tiledSlices;
    bool anyText = false;
    bool anyPicture = false;
    if (!collectSlices(set, geometry.z, slices, anyPicture, anyText))
        return false;

    // Nothing can have an intensity above 0: every pixel stays as it is.
    if (!setUpWindow(f, set.windowLow, set.windowHigh, anyPicture, anyText, set.vColor,
                     set.sColor))
        return false;
    if (!(anyPicture || anyText) || !(f.picturesShow || f.textShows))
        return true;

    f.section = set.showSection;
    f.sectionPos = geometry.sectionPos(set.slider);
    f.layerLow = f.sectionPos - geometry.layer;
    f.slices = slices.data();
    f.sliceCount = int(slices.size());
    f.bits = image.bits();
    f.bytesPerLine = image.bytesPerLine();

    const SliceRuns *runs = runsFor(set, ownRuns);
    if (!runs)
        return false;
    forEachBand(H, [&f, runs](int j0, int rows) { renderBand(f, *runs, j0, rows); });
    return true;
}
