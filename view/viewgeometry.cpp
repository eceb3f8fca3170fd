#include "view/viewgeometry.h"

#include <QLine>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

bool isFinite(const QPointF &p)
{
    return std::isfinite(p.x()) && std::isfinite(p.y());
}

bool withinLimit(const QPointF &p)
{
    return std::fabs(p.x()) <= projectionLimit && std::fabs(p.y()) <= projectionLimit;
}

// Only finite values inside the limit reach the conversion to int.
int pixelCoordinate(double v)
{
    if (std::isnan(v))
        return int(-projectionLimit);
    return int(std::clamp(v, -projectionLimit, projectionLimit));
}

// Cuts the segment a-b to the square of +-projectionLimit (Liang-Barsky);
// false when nothing of it lies inside. Worked in halves, so that the span
// between two finite ends cannot overflow. A cut end is put exactly on the
// side that cut it: from ends far beyond the limit, the interpolation alone
// would lose the line to rounding.
bool clipToLimit(QPointF &a, QPointF &b)
{
    const double half = projectionLimit * 0.5;
    const double ax = a.x() * 0.5;
    const double ay = a.y() * 0.5;
    const double dx = b.x() * 0.5 - ax;
    const double dy = b.y() * 0.5 - ay;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {ax + half, half - ax, ay + half, half - ay};
    double t0 = 0.0;
    double t1 = 1.0;
    int side0 = -1;
    int side1 = -1;
    for (int e = 0; e < 4; ++e) {
        if (p[e] == 0) {
            if (q[e] < 0)
                return false;
            continue;
        }
        const double r = q[e] / p[e];
        if (p[e] < 0) {
            if (r > t1)
                return false;
            if (r > t0) {
                t0 = r;
                side0 = e;
            }
        } else {
            if (r < t0)
                return false;
            if (r < t1) {
                t1 = r;
                side1 = e;
            }
        }
    }
    const auto point = [&](double t, int side) {
        double x = ax + t * dx;
        double y = ay + t * dy;
        if (side == 0 || side == 1)
            x = side == 0 ? -half : half;
        else if (side == 2 || side == 3)
            y = side == 2 ? -half : half;
        return QPointF(std::clamp(x, -half, half) * 2, std::clamp(y, -half, half) * 2);
    };
    if (!std::isfinite(t0) || !std::isfinite(t1))
        return false;
    a = point(t0, side0);
    b = point(t1, side1);
    return isFinite(a) && isFinite(b);
}

} // namespace

Vec3 rayOrigin(const ViewState &view, int W, int H, int i, int j)
{
    const double a = i - W * 0.5;
    const double b = j - H * 0.5;
    return {view.centre.x + view.zoom * (a * view.nx.x + b * view.ny.x),
            view.centre.y + view.zoom * (a * view.nx.y + b * view.ny.y),
            view.centre.z + view.zoom * (a * view.nx.z + b * view.ny.z)};
}

QPointF projectedPosition(const ViewState &view, int W, int H, const Vec3 &p)
{
    const Vec3 d{p.x - view.centre.x, p.y - view.centre.y, p.z - view.centre.z};
    return QPointF(W / 2 + dot(d, view.nx) / view.zoom, H / 2 + dot(d, view.ny) / view.zoom);
}

QPoint projectPoint(const ViewState &view, int W, int H, const Vec3 &p)
{
    const QPointF f = projectedPosition(view, W, H, p);
    return QPoint(pixelCoordinate(f.x()), pixelCoordinate(f.y()));
}

void drawProjectedLine(QPainter &p, const ViewState &view, int W, int H, const Vec3 &a,
                       const Vec3 &b)
{
    QPointF from = projectedPosition(view, W, H, a);
    QPointF to = projectedPosition(view, W, H, b);
    if (!isFinite(from) || !isFinite(to))
        return;
    if ((!withinLimit(from) || !withinLimit(to)) && !clipToLimit(from, to))
        return;
    const QLine line(pixelCoordinate(from.x()), pixelCoordinate(from.y()),
                     pixelCoordinate(to.x()), pixelCoordinate(to.y()));
    p.drawLines(&line, 1);
}

void rotateAxes(ViewState &view, const Vec3 &rax, double th)
{
    rotateAxes(view, rax, std::cos(th), std::sin(th));
}

void rotateAxes(ViewState &view, const Vec3 &rax, double cosine, double sine)
{
    // A copy, because callers may pass one of the axes themselves.
    const Vec3 r = rax;
    const double c = cosine;
    const double s = sine;
    const auto turn = [&](const Vec3 &v) {
        const Vec3 cross{v.y * r.z - v.z * r.y, v.z * r.x - v.x * r.z, v.x * r.y - v.y * r.x};
        const double along = dot(r, v);
        return Vec3{v.x * c + cross.x * s + r.x * along * (1 - c),
                    v.y * c + cross.y * s + r.y * along * (1 - c),
                    v.z * c + cross.z * s + r.z * along * (1 - c)};
    };
    const Vec3 nx = turn(view.nx);
    const Vec3 ny = turn(view.ny);
    const Vec3 nz = turn(view.nz);
    view.nx = nx;
    view.ny = ny;
    view.nz = nz;
}
