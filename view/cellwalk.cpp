#include "view/cellwalk.h"

#include <algorithm>
#include <cmath>

namespace {

// The closed end of two at the same place is inside both only if both are
// closed there.
void lower(Span &s, double lo, bool closed)
{
    if (lo > s.lo) {
        s.lo = lo;
        s.loClosed = closed;
    } else if (lo == s.lo) {
        s.loClosed = s.loClosed && closed;
    }
}

void upper(Span &s, double hi, bool closed)
{
    if (hi < s.hi) {
        s.hi = hi;
        s.hiClosed = closed;
    } else if (hi == s.hi) {
        s.hiClosed = s.hiClosed && closed;
    }
}

} // namespace

Span meet(const Span &a, const Span &b)
{
    if (a.empty() || b.empty())
        return {};
    Span s = a;
    lower(s, b.lo, b.loClosed);
    upper(s, b.hi, b.hiClosed);
    return s;
}

Span RayAxis::cell(int i) const
{
    Span s;
    if (q > 0) {
        s = {(bounds[i] - p) / q, (bounds[i + 1] - p) / q, true, false};
    } else if (q < 0) {
        s = {(bounds[i + 1] - p) / q, (bounds[i] - p) / q, false, true};
    } else if (q == 0) {
        return bounds[i] <= p && p < bounds[i + 1] ? Span::all() : Span();
    } else {
        return {};
    }
    if (std::isnan(s.lo) || std::isnan(s.hi))
        return {};
    s.loClosed = s.loClosed && std::isfinite(s.lo);
    s.hiClosed = s.hiClosed && std::isfinite(s.hi);
    return s;
}

int cellOfValue(const double *bounds, int cells, double value)
{
    // The first boundary above the value; NaN lies above none.
    if (std::isnan(value))
        return -1;
    return int(std::upper_bound(bounds, bounds + cells + 1, value) - bounds) - 1;
}

void RayAxis::reach(const Span &within, int &first, int &last) const
{
    first = 0;
    last = -1;
    if (cells < 1 || within.empty())
        return;
    if (q == 0) {
        const int i = cellOfValue(bounds, cells, p);
        if (i >= 0 && i < cells && bounds[i] <= p && p < bounds[i + 1])
            first = last = i;
        return;
    }
    if (!(q > 0 || q < 0))
        return;
    const auto T = [this](int b) { return (bounds[b] - p) / q; };
    // The cell at the coordinate the ray has at t, found among the
    // boundaries and then put right by the exact ends of the spans.
    const auto guess = [&](double t) {
        const double x = p + t * q;
        return std::clamp(cellOfValue(bounds, cells, x), 0, cells - 1);
    };
    if (q > 0) {
        // Spans rise with i: the first cell ending at or after `lo`, the last
        // starting at or before `hi`.
        int i = std::isfinite(within.lo) ? guess(within.lo) : 0;
        while (i > 0 && T(i) >= within.lo)
            --i;
        while (i < cells - 1 && T(i + 1) < within.lo)
            ++i;
        int j = std::isfinite(within.hi) ? guess(within.hi) : cells - 1;
        while (j < cells - 1 && T(j + 1) <= within.hi)
            ++j;
        while (j > 0 && T(j) > within.hi)
            --j;
        first = i;
        last = j;
    } else {
        // Spans fall with i: the first cell starting at or before `hi`, the
        // last ending at or after `lo`.
        int i = std::isfinite(within.hi) ? guess(within.hi) : 0;
        while (i > 0 && T(i) <= within.hi)
            --i;
        while (i < cells - 1 && T(i + 1) > within.hi)
            ++i;
        int j = std::isfinite(within.lo) ? guess(within.lo) : cells - 1;
        while (j < cells - 1 && T(j + 1) >= within.lo)
            ++j;
        while (j > 0 && T(j) < within.lo)
            --j;
        first = i;
        last = j;
    }
}
