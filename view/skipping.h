#ifndef VIEW_SKIPPING_H
#define VIEW_SKIPPING_H

#include "slices/sliceruns.h"
#include "slices/slicetiles.h"
#include "view/valuewindow.h"

#include <QList>

#include <algorithm>
#include <limits>
#include <vector>

class Slice;
struct SetSnapshot;

// Bounds that let a packet of rays pass over cells without looking at them.
// Each slice keeps the smallest and largest value of every 8 x 8 tile and of
// every block of 2 x 2 tiles (SliceTiles); a set sums these up over runs of
// consecutive slices (SliceRuns). A bound over a region is never below
// the greatest code or key of any value in it, so a ray whose code or key
// has reached the bound cannot be raised there, and a packet all of whose
// rays have reached it passes the region over: only the maximum decides.

// One slice as the tiled roads read it: its summary's tiles, read for every
// packet the slice meets.
struct TiledSlice
{
    double z = 0.0; // the plane of the slice
    const SliceTiles *tiles = nullptr; // none: the slice gives nothing
    bool text = false;
    bool offsets32 = false; // a picture's offsets fit 32 bits
    int columns = 0;
    const uchar *low8 = nullptr;
    const uchar *high8 = nullptr;
    const uchar *blockLow8 = nullptr;
    const uchar *blockHigh8 = nullptr;
    const double *low = nullptr;
    const double *high = nullptr;
    const double *blockLow = nullptr;
    const double *blockHigh = nullptr;
    const qint16 *low16 = nullptr; // instead of the doubles where the cells are narrow
    const qint16 *high16 = nullptr;
    const qint16 *blockLow16 = nullptr;
    const qint16 *blockHigh16 = nullptr;
};

// The set's slices with their summaries, one per slice in stack order;
// slices that are missing or smaller than the set have no tiles. False when
// a slice with cells has no summary (memory ran short): the caller then
// takes the plain road.
bool collectSlices(const SetSnapshot &set, const QList<double> &planes,
                   std::vector<TiledSlice> &out, bool &anyPicture, bool &anyText);

// Wider than this many tiles a look costs more than sampling.
inline constexpr int widestLook = 6;

// How far a packet's samples in a region can raise its rays, from the tile
// summaries alone: the greatest picture code and the greatest text key that
// the tiles hold within the window (-infinity for none), and a bucket for
// visiting the greatest first. Footprints too wide to look at get the top
// bucket and bounds nothing passes.
struct Prospect
{
    int first = 0; // the slices, or layers
    int last = 0;
    int bucket = 0;
    int level = -1; // the level of the runs looked at; -1 for one slice
    double code = -std::numeric_limits<double>::infinity();
    double key = -std::numeric_limits<double>::infinity();
};

inline constexpr int buckets = 258;

// A rectangle of tiles, both ends included.
struct TileRect
{
    int tx0 = 0;
    int tx1 = 0;
    int ty0 = 0;
    int ty1 = 0;
};

// The tiles under cell positions from uLo..uHi across and wLo..wHi down.
inline TileRect tilesUnder(int sw, int sh, double uLo, double uHi, double wLo, double wHi)
{
    const int c0 = uLo > 0 ? int(uLo) : 0;
    const int c1 = uHi < sw ? (uHi > 0 ? int(uHi) : 0) : sw - 1;
    const int r0 = wLo > 0 ? int(wLo) : 0;
    const int r1 = wHi < sh ? (wHi > 0 ? int(wHi) : 0) : sh - 1;
    return {c0 >> SliceTiles::shift, c1 >> SliceTiles::shift, r0 >> SliceTiles::shift,
            r1 >> SliceTiles::shift};
}

inline bool tooWide(const TileRect &r)
{
    return r.tx1 - r.tx0 > widestLook || r.ty1 - r.ty0 > widestLook;
}

int bucketOf(const ValueWindow &f, const Prospect &p);

// Asks for the cells of columns c0..c1 of rows r0..r1 of a slice, so that
// they come while other work is done; a footprint of more rows than this is
// left. A packet whose rays lie two cells apart spans more than 16 rows;
// left unasked for, the waits for its cells took a third of the time of a
// picture half the stack's width across, and half of it sampled by cells.
inline constexpr int prefetchRows = 4 * packetSide;
void prefetchCells(const TiledSlice &s, int c0, int c1, int r0, int r1);

// One slice; false when nothing there can raise a ray at all.
bool lookAt(const ValueWindow &f, const TiledSlice &s, const TileRect &r, Prospect &out);

// Slices by runs (SliceRuns): a packet passes over eight slices, or 64, at
// one look; a run of eight slices is a brick.
inline constexpr int slabShift = SliceRuns::sliceShift[0];
inline constexpr int slabSize = 1 << slabShift;
inline constexpr int coarseShift = SliceRuns::sliceShift[1];
inline constexpr int coarseSize = 1 << coarseShift;

// The runs of the level over slices first..last and tiles r (in tiles);
// false when nothing there can raise a ray at all.
bool lookAtRuns(const ValueWindow &f, const SliceRuns &runs, int level, int first, int last,
                const TileRect &r, Prospect &out);

// The summaries over runs for rendering the set: its own where it carries
// them for these slices, else made into `own` for this rendering. None when
// they cannot be made; the caller then takes the plain road.
const SliceRuns *runsFor(const SetSnapshot &set, SliceRuns &own);

// Prospects in a heap, greatest bucket on top: once the least of a packet's
// rays has passed a bound the cells under it are passed over, and visiting
// the brightest first gets there soonest.
struct LessBright
{
    bool operator()(const Prospect &a, const Prospect &b) const { return a.bucket < b.bucket; }
};
inline constexpr LessBright lessBright;

#endif // VIEW_SKIPPING_H
