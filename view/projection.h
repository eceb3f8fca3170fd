#ifndef VIEW_PROJECTION_H
#define VIEW_PROJECTION_H

#include "slices/cellshape.h"
#include "view/sampling.h"
#include "view/vec3.h"
#include "view/viewgeometry.h"

#include <QColor>
#include <QList>

#include <memory>

class QImage;
class Slice;
struct SliceRuns;

// What the renderer reads from one panel and its set, copied at render time
// so that the pixel loop touches nothing that the GUI may change.
struct SetSnapshot
{
    QList<const Slice *> slices; // stack in index order
    // The slices' summaries over runs, made once with them; without them
    // (or made for other slices) each rendering makes its own.
    std::shared_ptr<const SliceRuns> runs;
    int sw = 0;
    int sh = 0;
    bool showFrame = true;
    bool showVolume = true;
    bool showSection = false;
    int slider = 0; // -100..100
    Vec3 nz;        // the panel's section normal
    QColor vColor;
    QColor sColor;
    double windowLow = 0.0;
    double windowHigh = 0.0;
    CellShape shape; // cubes unless its planes are given for every slice
    Sampling sampling = Sampling::Planes;
};

// The maximum-intensity projection of one set, cut by its section plane when
// that is shown, onto a 32-bit RGB image: pixels with something to show are
// overwritten with an opaque tint, the others are left as they are. Slices
// that are missing or smaller than the set contribute nothing. With
// `covered` (a byte per pixel, row by row), pixels not 0 there are left
// alone and those drawn get `mark`, so that sets can be drawn last first.
void renderVolume(QImage &image, const ViewState &view, const SetSnapshot &set,
                  quint8 *covered = nullptr, quint8 mark = 1);

// The whole picture: white, then for each set with cells its back frame, its
// volume and its front frame, later sets over earlier ones.
void renderScene(QImage &image, const ViewState &view, const QList<SetSnapshot> &sets);

#endif // VIEW_PROJECTION_H
