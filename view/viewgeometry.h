#ifndef VIEW_VIEWGEOMETRY_H
#define VIEW_VIEWGEOMETRY_H

#include "view/vec3.h"

#include <QPoint>
#include <QPointF>

class QPainter;

// The view of the main window: scale, screen frame and the world point shown
// at the centre of the projection image.
struct ViewState
{
    double zoom = 1.0;
    Vec3 nx{1, 0, 0};
    Vec3 ny{0, 1, 0};
    Vec3 nz{0, 0, 1};
    Vec3 centre{0, 0, 0};
};

// Projected coordinates beyond this are never handed to the painter: far
// enough outside any image that a line cut there still looks straight in it,
// and far inside the range of int.
inline constexpr double projectionLimit = 1073741824.0; // 2^30

inline double dot(const Vec3 &a, const Vec3 &b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// Start of the ray of pixel (i, j) on a W x H image; the ray runs along nz.
Vec3 rayOrigin(const ViewState &view, int W, int H, int i, int j);

// Where a world point lands on a W x H image, before truncation.
QPointF projectedPosition(const ViewState &view, int W, int H, const Vec3 &p);

// The pixel of a world point, truncated toward zero. Positions beyond
// +-projectionLimit saturate there, and a position that is not a number lands
// at -projectionLimit, off the image.
QPoint projectPoint(const ViewState &view, int W, int H, const Vec3 &p);

// One line between the projections of two world points with the painter's
// pen. Ends far outside the image are cut back along the line; a line with an
// end that is not finite is not drawn.
void drawProjectedLine(QPainter &p, const ViewState &view, int W, int H, const Vec3 &a,
                       const Vec3 &b);

// Turns nx, ny and nz together by -th about the unit vector rax.
void rotateAxes(ViewState &view, const Vec3 &rax, double th);
// The same turn given by cos th and sin th, for a caller that knows them
// exactly, as for a quarter turn.
void rotateAxes(ViewState &view, const Vec3 &rax, double cosine, double sine);

#endif // VIEW_VIEWGEOMETRY_H
