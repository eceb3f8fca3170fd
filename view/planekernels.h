#ifndef VIEW_PLANEKERNELS_H
#define VIEW_PLANEKERNELS_H

#include "view/certified.h"
#include "view/skipping.h"
#include "view/tiledtarget.h"
#include "view/valuewindow.h"
#include "view/vec3.h"
#include "view/viewgeometry.h"

// Sampling one slice's plane for the rays of a packet, as the plain
// algorithm samples it: each sample's cell from the certified models where
// they decide it, and by the plain arithmetic where they do not; AVX2
// kernels where the processor has them, four rays at a time, giving the
// same values as the scalar ones.

// Everything that is the same for every ray of one set on the plane road.
struct PlaneFrame : ValueWindow, TiledTarget
{
    ViewState view;
    Vec3 n;
    int sw = 0;
    int sh = 0;
    double halfW = 0.0;
    double halfH = 0.0;
    double swD = 0.0;
    double shD = 0.0;
    double halfSw = 0.0;
    double halfSh = 0.0;
    double ry = 1.0; // rows lie ry apart
    Affine u;
    Affine w;
    Affine d;
    bool exactU = false; // the column stays the same along each ray
    bool exactW = false;
    bool section = false;
    double sectionPos = 0.0; // C: samples at or beyond it are cut away
    double layerLow = 0.0;   // C - L
    const TiledSlice *slices = nullptr;
    int sliceCount = 0;
};

// The rays of a square of pixels and what they have gathered so far. Ray r
// is the pixel (i0 + r % 8, j0 + r / 8); places beyond the image's edge hold
// rays that meet nothing and never hold the least value down.
struct alignas(64) PlanePacket
{
    double u0[packetRays]; // model of the column position at plane 0
    double w0[packetRays];
    double d0[packetRays];
    double key[packetRays];   // greatest text key kept, -infinity for none
    double layer[packetRays]; // intensity of the last sample in the section layer
    qint32 code[packetRays];  // greatest picture code kept, 0 for none
    int i0 = 0;
    int j0 = 0;
    int columns = 0;
    int rows = 0;
    double uMin, uMax, wMin, wMax, dMin, dMax;
    // The least code and key over all rays; a sampler that cannot tell them
    // leaves them as they are, too small, which is always safe.
    qint32 leastCode = 0;
    double leastKey = 0.0;
};

// Whether a position known within `error` truncates to a cell of 0..size-1:

// The slice for every ray of the packet where some samples may be cut away
// or lie in the section layer: every sample is taken, in slice order.
void samplePlaneLayer(const PlaneFrame &f, const TiledSlice &s, PlanePacket &p);

// The slice for the rays its bound can still raise (outside the layer).
void samplePlaneOpen(const PlaneFrame &f, const TiledSlice &s, PlanePacket &p,
                     const Prospect &bound);

#endif // VIEW_PLANEKERNELS_H
