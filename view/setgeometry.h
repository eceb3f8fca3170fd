#ifndef VIEW_SETGEOMETRY_H
#define VIEW_SETGEOMETRY_H

#include "view/projection.h"

#include <QList>

#include <algorithm>
#include <cmath>

// A set's cells in the world as every renderer takes them: from its shape
// where that gives a plane for every slice, as cubes otherwise. Cubes give
// exactly the numbers of the plain cube arithmetic: ry = 1, z_k = k - ss/2,
// D = ss, L = 1.
struct SetGeometry
{
    int sw = 0;
    int sh = 0;
    int ss = 0;
    double ry = 1.0;
    double depth = 0.0;   // D
    double layer = 1.0;   // L: the section layer reaches this far on either side
    double zExtent = 0.0; // the largest |z_k| and D / 2
    QList<double> z;      // the plane of each slice

    explicit SetGeometry(const SetSnapshot &set)
        : sw(set.sw), sh(set.sh), ss(int(set.slices.size()))
    {
        if (set.shape.z.size() == ss && ss > 0 && inOrder(set.shape)) {
            ry = set.shape.ry;
            depth = set.shape.depth;
            z = set.shape.z;
        } else {
            depth = ss;
            z.reserve(ss);
            for (int k = 0; k < ss; ++k)
                z.append(k - ss * 0.5);
        }
        layer = std::max(1.0, ry);
        zExtent = std::fabs(depth * 0.5);
        for (int k = 0; k < ss; ++k) {
            zExtent = std::max(zExtent, std::fabs(z[k]));
            if (k + 1 < ss)
                layer = std::max(layer, z[k + 1] - z[k]);
        }
    }

    // A shape whose planes go backwards, or beyond the box, says nothing
    // usable: its cells would overlap.
    static bool inOrder(const CellShape &shape)
    {
        const int ss = int(shape.z.size());
        if (!(shape.ry > 0 && std::isfinite(shape.ry) && std::isfinite(shape.depth)))
            return false;
        for (int k = 0; k < ss; ++k) {
            if (!(std::isfinite(shape.z[k]) && (k == 0 || shape.z[k] >= shape.z[k - 1])))
                return false;
        }
        return shape.depth * 0.5 >= shape.z[ss - 1];
    }

    // Where the section plane lies for a slider value of -100..100.
    double sectionPos(int slider) const { return (slider / 100.0) * depth; }

    // Half the outline box along X, Y and Z.
    double halfX() const { return sw * 0.5; }
    double halfY() const { return sh * ry / 2; }
    double halfZ() const { return depth / 2; }
};

#endif // VIEW_SETGEOMETRY_H
