#ifndef SLICES_CELLSHAPE_H
#define SLICES_CELLSHAPE_H

#include <QList>

// Where a set's cells lie, measured in columns: the columns one unit apart,
// the rows ry apart and slice k in the plane Z = z[k]; the set's box is
// `depth` deep. Cubes, the shape of every set that nothing measured, have
// ry = 1, z[k] = k - ss * 0.5 and depth ss.
struct CellShape
{
    double ry = 1.0;
    QList<double> z;    // one plane per slice; empty for cubes of any count
    double depth = 0.0; // with z empty, taken as the slice count
    // The spacing that gave the shape, in millimetres: between columns,
    // between rows and between slices (0 where not known, as for a single
    // slice). All 0 for cubes that nothing measured.
    double columnMm = 0.0;
    double rowMm = 0.0;
    double sliceMm = 0.0;

    bool measured() const { return columnMm > 0; }
};

// Cubes for ss slices, with their planes written out.
CellShape cubicShape(int ss);

// Columns cs apart and rows rs apart (millimetres), slice k at q[k]
// millimetres along the slices' normal, q in the order of the slices. Cubes
// where these say nothing usable: a spacing that is not a finite number
// above 0, a position that is not finite, positions that go backwards, or
// several slices all at one place.
CellShape measuredShape(double cs, double rs, const QList<double> &q);

// ss slices, each `slice` millimetres beyond the one before.
CellShape spacedShape(int ss, double cs, double rs, double slice);

#endif // SLICES_CELLSHAPE_H
