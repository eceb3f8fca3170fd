#ifndef VIEW_CELLGRID_H
#define VIEW_CELLGRID_H

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

void makeCellGrid(CellGrid &grid, const SetSnapshot &set, const SetGeometry &geometry);

// Whether a slice has every cell of a set of sw x sh cells to give.
bool coversSet(const Slice *slice, int sw, int sh);

#endif // VIEW_CELLGRID_H
