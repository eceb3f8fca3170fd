#ifndef VIEW_CELLGRID_H
#define VIEW_CELLGRID_H

#include "view/cellwalk.h"

#include <QtGlobal>

#include <vector>

class Slice;
struct SetGeometry;
struct SetSnapshot;

// A set's cells for one rendering by cells: their boundaries along X, Y and
// Z, and the parts of their centres' depth along the section normal.
struct CellGrid
{
    std::vector<double> bounds[3]; // cells + 1 each: X, Y, Z
    std::vector<double> depth[3];  // the centre's coordinate times the normal's part
    int cells[3] = {0, 0, 0};

    // M.n of the centre M of cell (c, r, k), added up as M.x n.x + M.y n.y +
    // M.z n.z is.
    double depthOf(int c, int r, int k) const
    {
        return (depth[0][size_t(c)] + depth[1][size_t(r)]) + depth[2][size_t(k)];
    }

    // The place of a cell along a ray from its ranks along three axes, the
    // first ranked first: greater is later.
    qint64 order(int first, int second, int third, int secondCells, int thirdCells) const
    {
        return (qint64(first) * (secondCells + 1) + second) * (thirdCells + 1) + third;
    }
    qint64 order(int k, int c, int r) const { return order(k, c, r, cells[0], cells[1]); }
};

// Every cell the ray p + t q passes through, each once, slice by slice and
// in the slice column by column: visit(c, r, k, place), where place() is the
// cell's place along the ray, greater later. Slices for which takeSlice(k)
// is false are passed over.
template<typename TakeSlice, typename Visit>
void walkCells(const CellGrid &g, const double p[3], const double q[3], TakeSlice takeSlice,
               Visit visit)
{
    RayAxis axis[3];
    Span inside = Span::all();
    for (int n = 0; n < 3; ++n) {
        axis[n] = {g.bounds[n].data(), g.cells[n], p[n], q[n]};
        const double ends[2] = {g.bounds[n].front(), g.bounds[n].back()};
        inside = meet(inside, RayAxis{ends, 1, p[n], q[n]}.cell(0));
    }
    const RayAxis &X = axis[0];
    const RayAxis &Y = axis[1];
    const RayAxis &Z = axis[2];
    int k0, k1;
    Z.reach(inside, k0, k1);
    for (int k = k0; k <= k1; ++k) {
        const Span inSlab = meet(inside, Z.cell(k));
        if (inSlab.empty() || !takeSlice(k))
            continue;
        int c0, c1;
        X.reach(inSlab, c0, c1);
        for (int c = c0; c <= c1; ++c) {
            const Span inColumn = meet(inSlab, X.cell(c));
            if (inColumn.empty())
                continue;
            int r0, r1;
            Y.reach(inColumn, r0, r1);
            for (int r = r0; r <= r1; ++r) {
                if (!meet(inColumn, Y.cell(r)).empty())
                    visit(c, r, k, [&] { return g.order(Z.rank(k), X.rank(c), Y.rank(r)); });
            }
        }
    }
}

void makeCellGrid(CellGrid &grid, const SetSnapshot &set, const SetGeometry &geometry);

// Whether a slice has every cell of a set of sw x sh cells to give.
bool coversSet(const Slice *slice, int sw, int sh);

#endif // VIEW_CELLGRID_H
