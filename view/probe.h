#ifndef VIEW_PROBE_H
#define VIEW_PROBE_H

#include "view/projection.h"

#include <QList>

#include <optional>

// What gave one pixel of a picture its colour: the topmost set whose volume
// drew it, the value of the sample that chose the tint and that sample's cell.
struct ProbeHit
{
    int set = -1; // index into the sets
    double value = 0.0;
    int column = 0;
    int row = 0;
    int slice = 0;
    bool face = false; // tinted with the section colour, as the cut face
};

// Follows the one ray of pixel (i, j) of a W x H picture of the sets through
// the same sampling as renderScene; nothing where no set's volume drew the
// pixel (frames aside). Of several samples with the greatest intensity, the
// first met in slice order is given.
std::optional<ProbeHit> probeScene(const ViewState &view, const QList<SetSnapshot> &sets, int W,
                                   int H, int i, int j);

#endif // VIEW_PROBE_H
