#ifndef VIEW_FRAMEDRAWING_H
#define VIEW_FRAMEDRAWING_H

#include "view/viewgeometry.h"

#include <QColor>

class QPainter;

// One pass of the outline box of a set with ss slices of sw x sh cells on a
// W x H image: the faces turned away from the viewer when temae is false,
// those turned toward the viewer when it is true.
void paintFrame(QPainter &p, const ViewState &view, int W, int H, int ss, int sw, int sh,
                bool temae, const QColor &colour);

#endif // VIEW_FRAMEDRAWING_H
