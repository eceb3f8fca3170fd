#include "view/framedrawing.h"

#include <QPainter>
#include <QPen>

namespace {

// Corners by the signs of (X, Y, Z), bit 0 set for +X, bit 1 for +Y, bit 2 for +Z.
constexpr int corner(int x, int y, int z)
{
    return (x > 0 ? 1 : 0) | (y > 0 ? 2 : 0) | (z > 0 ? 4 : 0);
}

struct Edge
{
    int from;
    int to;
};

// The four edges of each face, in the order the faces are tested:
// Z-, Y-, X-, X+, Y+, Z+.
constexpr Edge faceEdges[6][4] = {
    {{corner(-1, -1, -1), corner(+1, -1, -1)}, {corner(-1, -1, -1), corner(-1, +1, -1)},
     {corner(+1, +1, -1), corner(+1, -1, -1)}, {corner(+1, +1, -1), corner(-1, +1, -1)}},
    {{corner(-1, -1, -1), corner(+1, -1, -1)}, {corner(-1, -1, -1), corner(-1, -1, +1)},
     {corner(+1, -1, +1), corner(+1, -1, -1)}, {corner(+1, -1, +1), corner(-1, -1, +1)}},
    {{corner(-1, -1, -1), corner(-1, +1, -1)}, {corner(-1, -1, -1), corner(-1, -1, +1)},
     {corner(-1, +1, +1), corner(-1, +1, -1)}, {corner(-1, +1, +1), corner(-1, -1, +1)}},
    {{corner(+1, +1, +1), corner(+1, +1, -1)}, {corner(+1, +1, +1), corner(+1, -1, +1)},
     {corner(+1, -1, -1), corner(+1, +1, -1)}, {corner(+1, -1, -1), corner(+1, -1, +1)}},
    {{corner(+1, +1, +1), corner(-1, +1, +1)}, {corner(+1, +1, +1), corner(+1, +1, -1)},
     {corner(-1, +1, -1), corner(-1, +1, +1)}, {corner(-1, +1, -1), corner(+1, +1, -1)}},
    {{corner(+1, +1, +1), corner(-1, +1, +1)}, {corner(+1, +1, +1), corner(+1, -1, +1)},
     {corner(-1, -1, +1), corner(-1, +1, +1)}, {corner(-1, -1, +1), corner(+1, -1, +1)}},
};

} // namespace

void paintFrame(QPainter &p, const ViewState &view, int W, int H, double hx, double hy,
                double hz, bool temae, const QColor &colour)
{
    Vec3 corners[8];
    for (int c = 0; c < 8; ++c)
        corners[c] = Vec3{(c & 1) ? hx : -hx, (c & 2) ? hy : -hy, (c & 4) ? hz : -hz};

    // Face centre . nz; the zero components of each centre are left out.
    const double facing[6] = {-hz * view.nz.z, -hy * view.nz.y, -hx * view.nz.x,
                              hx * view.nz.x,  hy * view.nz.y,  hz * view.nz.z};

    p.setPen(QPen(colour));
    for (int f = 0; f < 6; ++f) {
        // A face seen edge-on (f == 0) belongs to neither pass; a facing
        // value that is not a number fails both tests as well.
        if (temae ? !(facing[f] > 0) : !(facing[f] < 0))
            continue;
        for (const Edge &edge : faceEdges[f])
            drawProjectedLine(p, view, W, H, corners[edge.from], corners[edge.to]);
    }
}
