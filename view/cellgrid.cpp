#include "view/cellgrid.h"

#include "slices/slice.h"
#include "view/setgeometry.h"

void makeCellGrid(CellGrid &grid, const SetSnapshot &set, const SetGeometry &geometry)
{
    const int n[3] = {set.sw, set.sh, geometry.ss};
    for (int axis = 0; axis < 3; ++axis) {
        grid.cells[axis] = n[axis];
        grid.bounds[axis].resize(size_t(n[axis]) + 1);
        grid.depth[axis].resize(size_t(n[axis]));
    }
    for (int c = 0; c <= set.sw; ++c)
        grid.bounds[0][size_t(c)] = c - set.sw * 0.5;
    for (int r = 0; r <= set.sh; ++r)
        grid.bounds[1][size_t(r)] = geometry.ry * (r - set.sh * 0.5);
    for (int k = 0; k < geometry.ss; ++k)
        grid.bounds[2][size_t(k)] = geometry.z[k];
    grid.bounds[2][size_t(geometry.ss)] = geometry.depth * 0.5;
    const double normal[3] = {set.nz.x, set.nz.y, set.nz.z};
    for (int axis = 0; axis < 3; ++axis) {
        const std::vector<double> &b = grid.bounds[axis];
        for (int i = 0; i < n[axis]; ++i)
            grid.depth[axis][size_t(i)] = ((b[size_t(i)] + b[size_t(i) + 1]) * 0.5) * normal[axis];
    }
}

bool coversSet(const Slice *slice, int sw, int sh)
{
    if (!slice)
        return false;
    if (slice->isImage)
        return slice->image.width() >= sw && slice->image.height() >= sh;
    if (slice->narrowCells())
        return slice->width >= sw && slice->height >= sh;
    if (slice->rows.size() < sh)
        return false;
    for (qsizetype y = 0; y < sh; ++y) {
        if (slice->rows.at(y).size() < sw)
            return false;
    }
    return true;
}
