#ifndef VIEW_FRAMEDRAWING_H
#define VIEW_FRAMEDRAWING_H

#include "view/viewgeometry.h"

#include <QColor>

class QPainter;

// One pass of the outline box reaching hx, hy and hz from the centre along X,
// Y and Z, on a W x H image: the faces turned away from the viewer when temae
// is false, those turned toward the viewer when it is true.
void paintFrame(QPainter &p, const ViewState &view, int W, int H, double hx, double hy,
                double hz, bool temae, const QColor &colour);

// The box of a set of cubic cells: ss slices of sw x sh cells.
inline void paintFrame(QPainter &p, const ViewState &view, int W, int H, int ss, int sw, int sh,
                       bool temae, const QColor &colour)
{
    paintFrame(p, view, W, H, sw * 0.5, sh * 0.5, ss * 0.5, temae, colour);
}

#endif // VIEW_FRAMEDRAWING_H
