#ifndef VIEW_CELLKERNELS_H
#define VIEW_CELLKERNELS_H

#include "view/cellgrid.h"
#include "view/certified.h"
#include "view/skipping.h"
#include "view/tiledtarget.h"
#include "view/valuewindow.h"
#include "view/viewgeometry.h"

// The cells of one layer of the grid that the rays of a packet pass
// through, as the cell sampling defines them (view/cellwalk.h). The grid is
// walked in layers across axis A, the one whose cells a ray crosses fastest;
// B and C are the others. Where a ray meets a layer's two planes, its B and
// C positions come from the certified models; when both positions fall
// inside cells with no boundary within the bound, the ray's cells in the
// layer are those two and, where it changes cell along both B and C, the
// one it passes on the way, decided by which boundary it crosses first, by
// a cross product with its own bound. Every other ray and layer is walked
// exactly. The cells' order along the ray (for the section face nearest the
// viewer) is their order across A, then B, then C.

// Everything that is the same for every ray of one set on the cell road.
struct CellFrame : ValueWindow, TiledTarget
{
    ViewState view;
    int H = 0;
    double halfW = 0.0;
    double halfH = 0.0;
    const CellGrid *grid = nullptr;
    int A = 2; // 0: X, 1: Y, 2: Z
    int B = 0;
    int C = 1;
    int cellsA = 0;
    int cellsB = 0;
    int cellsC = 0;
    const double *planesA = nullptr; // the boundaries across A
    // B and C in cells of their own (a boundary at every whole number) where
    // the ray meets A's plane `alpha`: a model over a, b and alpha, or, where
    // the rays keep the coordinate, the middle of their cell.
    Affine b;
    Affine c;
    bool exactB = false;
    bool exactC = false;
    bool backward[3] = {false, false, false}; // the rays run against the axis
    bool section = false;
    double sectionPos = 0.0; // C: cells whose centre lies at or beyond are cut away
    double faceFrom = 0.0;   // C - L: kept cells from here on make the face
    const TiledSlice *slices = nullptr; // one per slice, in stack order
    // Where every slice is a picture of one layout whose offsets fit 32 bits:
    // that layout, and each slice's cells (none for a slice that gives
    // nothing). Otherwise none.
    const SliceTiles *layout = nullptr;
    const uchar *const *planes = nullptr;

    // The place along the ray of the cell at layer i and positions j, k
    // across B and C: greater is later.
    qint64 order(int i, int j, int k) const
    {
        return (qint64(backward[A] ? cellsA - 1 - i : i) * (cellsB + 1)
                + (backward[B] ? cellsB - 1 - j : j))
                * (cellsC + 1)
                + (backward[C] ? cellsC - 1 - k : k);
    }
};

// The rays of a square of pixels and what they have gathered so far. Ray r
// is the pixel (i0 + r % 8, j0 + r / 8); places beyond the image's edge hold
// rays that meet nothing and never hold the least value down.
struct alignas(64) CellPacket
{
    double b0[packetRays]; // B and C where the ray meets A's plane 0
    double c0[packetRays];
    double key[packetRays];     // greatest text key kept, -infinity for none
    double layer[packetRays];   // intensity of the face cell nearest the viewer so far
    qint64 nearest[packetRays]; // its order along the ray, -1 for none
    qint32 code[packetRays];    // greatest picture code kept, 0 for none
    // Across X or Y, for rays that keep their cells across B and C: where
    // their cells start in their slice and how far apart they lie, in the
    // slice's own units (a picture's bytes, 16-bit or double text cells).
    enum Still : quint8 { Walked, Picture, Narrow, Wide };
    const void *still[packetRays];
    qsizetype stillStep[packetRays];
    Still stillKind[packetRays];
    int i0 = 0;
    int j0 = 0;
    int columns = 0;
    int rows = 0;
    double bMin, bMax, cMin, cMax;
    qint32 leastCode = 0;
    double leastKey = 0.0;
};

// Layer `layer` for the rays that `bound` can still raise; no cell within
// reach is cut away or in the face.
void sampleCellsOpen(const CellFrame &f, CellPacket &p, int layer, const Prospect &bound);

// Layer `layer` for every ray, each cell weighed against the section.
void sampleCellsCut(const CellFrame &f, CellPacket &p, int layer);

#endif // VIEW_CELLKERNELS_H
