#include "slices/cellshape.h"

#include <cmath>

CellShape cubicShape(int ss)
{
    CellShape shape;
    shape.z.reserve(ss);
    for (int k = 0; k < ss; ++k)
        shape.z.append(k - ss * 0.5);
    shape.depth = ss;
    return shape;
}

CellShape measuredShape(double cs, double rs, const QList<double> &q)
{
    const int ss = int(q.size());
    if (ss < 1 || !(cs > 0 && rs > 0 && std::isfinite(cs) && std::isfinite(rs)))
        return cubicShape(ss);
    for (int k = 0; k < ss; ++k) {
        if (!std::isfinite(q[k]) || (k > 0 && !(q[k] >= q[k - 1])))
            return cubicShape(ss);
    }
    CellShape shape;
    shape.ry = rs / cs;
    // The mean distance between slices, in columns.
    const double g = ss >= 2 ? (q[ss - 1] - q[0]) / (ss - 1) / cs : 1.0;
    const double depth = ss * g;
    if (!(shape.ry > 0 && std::isfinite(shape.ry) && g > 0 && std::isfinite(depth)))
        return cubicShape(ss);
    shape.depth = depth;
    shape.z.reserve(ss);
    for (int k = 0; k < ss; ++k) {
        const double z = (q[k] - q[0]) / cs - depth * 0.5;
        if (!std::isfinite(z))
            return cubicShape(ss);
        shape.z.append(z);
    }
    shape.columnMm = cs;
    shape.rowMm = rs;
    shape.sliceMm = ss >= 2 ? (q[ss - 1] - q[0]) / (ss - 1) : 0.0;
    return shape;
}

CellShape spacedShape(int ss, double cs, double rs, double slice)
{
    QList<double> q;
    q.reserve(ss);
    for (int k = 0; k < ss; ++k)
        q.append(k * slice);
    return measuredShape(cs, rs, q);
}
