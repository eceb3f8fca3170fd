#ifndef VIEW_CELLWALK_H
#define VIEW_CELLWALK_H

#include <limits>

// Which cells a ray passes through, worked out exactly as the cell sampling
// defines it. Along each axis the grid's cells lie between boundaries
// b[0] <= b[1] <= ... <= b[n], cell i from b[i] up to (not including)
// b[i + 1]. The ray is P0 + t * dir for all real t; along an axis where its
// coordinate is p + t * q, cell i holds it for t in
//   [T(b[i]), T(b[i+1]))   when q > 0, with T(x) = (x - p) / q in doubles,
//   (T(b[i+1]), T(b[i])]   when q < 0,
//   every t                when q = 0 and b[i] <= p < b[i+1] (no t otherwise),
// an infinite end being open and a not-a-number end giving no t at all. A
// cell of the grid counts for the ray when the t it holds on all three axes
// have one in common. Rounding is monotonic, so along each axis these sets
// of t follow one another without gap or overlap: every t lies in exactly
// one cell, and a ray never misses a cell it passes through nor counts one
// twice. The cells of a ray in the order of t are those in order of their
// index along one axis, then the next, then the last, each index counted in
// the direction the ray runs along that axis (any order of the axes gives
// the same).

// The t at which a ray is in a cell along one axis, or in a cell of the grid.
struct Span
{
    double lo = std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();
    bool loClosed = false;
    bool hiClosed = false;

    bool empty() const { return !(lo < hi || (lo == hi && loClosed && hiClosed)); }
    static Span all()
    {
        return {-std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
                false, false};
    }
};

Span meet(const Span &a, const Span &b);

// One axis of the grid as one ray crosses it.
struct RayAxis
{
    const double *bounds = nullptr; // cells + 1 of them
    int cells = 0;
    double p = 0.0; // the ray's coordinate at t = 0
    double q = 0.0; // and its change per unit of t

    Span cell(int i) const;
    // The cells whose spans may share a t with `within` (not empty), from
    // first to last; none when first > last. A few more may come than
    // share one, never fewer.
    void reach(const Span &within, int &first, int &last) const;
    // Where the ray's index runs from the one it meets first: i, or
    // cells - 1 - i when it runs backwards.
    int rank(int i) const { return q < 0 ? cells - 1 - i : i; }
};

// The cell of `value` between sorted boundaries: the i with bounds[i] <=
// value < bounds[i + 1], -1 below them all and `cells` at or above the last.
int cellOfValue(const double *bounds, int cells, double value);

#endif // VIEW_CELLWALK_H
