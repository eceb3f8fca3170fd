#ifndef VIEW_CERTIFIED_H
#define VIEW_CERTIFIED_H

#include "view/viewgeometry.h"

// Positions from affine models, with a certified bound on their distance
// from the plain arithmetic. Along a ray, where the ray meets a plane across
// one axis, the other coordinates are affine in the pixel offsets a, b and
// the plane's place: the models take them from there instead of from a
// division. Model and plain arithmetic differ by rounding alone, both within
// a few dozen units in the last place of the largest term; the bound used,
// boundPerMagnitude times the sum of the magnitudes of the terms, is
// thousands of times that. A decision (the cell a position falls in, an edge
// of the grid, the section) is taken from a model only when no decision
// point lies within the bound; otherwise it is worked out plainly.

// The model's error bound over the sum of the magnitudes of the terms.
inline constexpr double boundPerMagnitude = 0x1p-40;
// Beyond this magnitude the bound would come close to a cell.
inline constexpr double largestMagnitude = 0x1p30;
// Subnormal results can add an absolute error of their own.
inline constexpr double tinyError = 0x1p-1000;

// base + a * perA + b * perB + plane * perZ, within `error` of the plain
// arithmetic over the image.
struct Affine
{
    double base = 0.0;
    double perA = 0.0;
    double perB = 0.0;
    double perZ = 0.0;
    double error = 0.0;
};

// One world coordinate of the point where the ray of (a, b) meets the plane
// at `plane` across another axis: the ray's start (centre, nx and ny
// components along this coordinate) plus its run to the plane, with r the
// direction's part along this coordinate per unit across the plane, and
// centreAcross, nxAcross, nyAcross the components across it.
inline Affine pointModel(const ViewState &v, double centre, double nxAlong, double nyAlong,
                         double centreAcross, double nxAcross, double nyAcross, double r)
{
    Affine m;
    m.base = centre - centreAcross * r;
    m.perA = v.zoom * (nxAlong - nxAcross * r);
    m.perB = v.zoom * (nyAlong - nyAcross * r);
    m.perZ = r;
    return m;
}

#endif // VIEW_CERTIFIED_H
