#include "view/probe.h"

#include "panel/colourscale.h"
#include "slices/slice.h"
#include "view/cellgrid.h"
#include "view/viewgeometry.h"
#include "view/setgeometry.h"

#include <cmath>

// One ray, sample by sample, in the expressions and the order the renderers
// use, so that the value found is the one that tinted the pixel.

namespace {

struct Sample
{
    double I = 0.0;
    double value = 0.0;
    int column = 0;
    int row = 0;
    int slice = 0;
};

std::optional<ProbeHit> drawn(const SetSnapshot &set, const Sample &volume, const Sample &face)
{
    const Sample *s = nullptr;
    if (set.showSection && face.I > 0)
        s = &face;
    else if (volume.I > 0)
        s = &volume;
    if (!s)
        return std::nullopt;
    ProbeHit hit;
    hit.value = s->value;
    hit.column = s->column;
    hit.row = s->row;
    hit.slice = s->slice;
    hit.face = s == &face;
    return hit;
}

// Where the ray crosses each slice's plane.
std::optional<ProbeHit> probePlanes(const ViewState &v, const SetSnapshot &set,
                                    const SetGeometry &geometry, const Vec3 &p0)
{
    if (v.nz.z == 0 || std::isnan(v.nz.z))
        return std::nullopt;
    const double C = geometry.sectionPos(set.slider);
    const double layerLow = C - geometry.layer;
    const double layerHigh = C + geometry.layer;
    const Vec3 &n = set.nz;
    Sample volume;
    Sample face;
    for (int k = 0; k < geometry.ss; ++k) {
        const double t = (geometry.z[k] - p0.z) / v.nz.z;
        const double px = p0.x + t * v.nz.x;
        const double py = p0.y + t * v.nz.y;
        const double pz = p0.z + t * v.nz.z;
        const double u = set.sw * 0.5 + px;
        const double w = set.sh * 0.5 + py / geometry.ry;
        const Slice *slice = set.slices.at(k);
        if (!(u > -1.0 && u < set.sw && w > -1.0 && w < set.sh)
            || !coversSet(slice, set.sw, set.sh))
            continue;
        Sample s;
        s.column = int(u);
        s.row = int(w);
        s.slice = k;
        s.value = slice->valueAt(s.column, s.row);
        s.I = intensity(s.value, set.windowLow, set.windowHigh);
        if (set.showSection) {
            const double d = px * n.x + py * n.y + pz * n.z;
            if (d >= C)
                continue;
            if (layerLow < d && d < layerHigh)
                face = s;
        }
        // A NaN intensity never raises the greatest.
        if (s.I > volume.I)
            volume = s;
    }
    return drawn(set, volume, face);
}

// Every cell the ray passes through; the face is the cell nearest the viewer.
std::optional<ProbeHit> probeCells(const ViewState &v, const SetSnapshot &set,
                                   const SetGeometry &geometry, const Vec3 &p0)
{
    CellGrid g;
    makeCellGrid(g, set, geometry);
    const double p[3] = {p0.x, p0.y, p0.z};
    const double q[3] = {v.nz.x, v.nz.y, v.nz.z};
    const double C = geometry.sectionPos(set.slider);
    const double faceFrom = C - geometry.layer;
    Sample volume;
    Sample face;
    qint64 nearest = -1;
    walkCells(
            g, p, q, [&](int k) { return coversSet(set.slices.at(k), set.sw, set.sh); },
            [&](int c, int r, int k, auto place) {
                Sample s;
                s.column = c;
                s.row = r;
                s.slice = k;
                s.value = set.slices.at(k)->valueAt(c, r);
                s.I = intensity(s.value, set.windowLow, set.windowHigh);
                if (set.showSection) {
                    const double d = g.depthOf(c, r, k);
                    if (d >= C)
                        return;
                    if (d >= faceFrom) {
                        const qint64 order = place();
                        if (order > nearest) {
                            nearest = order;
                            face = s;
                        }
                    }
                }
                if (s.I > volume.I)
                    volume = s;
            });
    return drawn(set, volume, face);
}

} // namespace

std::optional<ProbeHit> probeScene(const ViewState &view, const QList<SetSnapshot> &sets, int W,
                                   int H, int i, int j)
{
    if (i < 0 || j < 0 || i >= W || j >= H)
        return std::nullopt;
    const Vec3 p0 = rayOrigin(view, W, H, i, j);
    // Later sets are drawn over earlier ones.
    for (qsizetype n = sets.size() - 1; n >= 0; --n) {
        const SetSnapshot &set = sets.at(n);
        if (!set.showVolume || set.slices.isEmpty() || set.sw <= 0 || set.sh <= 0)
            continue;
        const SetGeometry geometry(set);
        std::optional<ProbeHit> hit = set.sampling == Sampling::Cells
                ? probeCells(view, set, geometry, p0)
                : probePlanes(view, set, geometry, p0);
        if (hit) {
            hit->set = int(n);
            return hit;
        }
    }
    return std::nullopt;
}
