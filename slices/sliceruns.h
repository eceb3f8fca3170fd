#ifndef SLICES_SLICERUNS_H
#define SLICES_SLICERUNS_H

#include <QList>
#include <QtGlobal>

#include <functional>
#include <limits>
#include <memory>
#include <vector>

class Slice;

// A stack's slice summaries (SliceTiles) summed up over runs of consecutive
// slices, so that a renderer passes over a whole run at one look. Level 0
// holds each tile over eight slices (a brick), level 1 each group of 4 x 4
// tiles over 64 slices. Like the tiles, every entry keeps the smallest and
// largest value of its region and of the 2 x 2 regions starting at it, values
// that are not a number left out. Text bounds are floats rounded outwards:
// never inside the values, so still bounds, in half the bytes. Made once for
// a set and then only read, from any thread.
struct SliceRuns
{
    static constexpr int levels = 2;
    static constexpr int sliceShift[levels] = {3, 6};
    static constexpr int tileShift[levels] = {0, 2};

    struct Bounds8
    {
        uchar low = 255, high = 0, blockLow = 255, blockHigh = 0;
    };

    struct BoundsF
    {
        float low = std::numeric_limits<float>::infinity();
        float high = -std::numeric_limits<float>::infinity();
        float blockLow = std::numeric_limits<float>::infinity();
        float blockHigh = -std::numeric_limits<float>::infinity();
    };

    struct Level
    {
        int columns = 0; // regions across and down
        int rows = 0;
        int runs = 0;
        std::vector<Bounds8> pictures; // [run][row][column]; empty without pictures
        std::vector<BoundsF> text;     // empty without text

        qsizetype at(int run, int row, int column) const
        {
            return (qsizetype(run) * rows + row) * columns + column;
        }
    };

    // What it was made for: slices of a set of sw x sh cells; slices smaller
    // than that, or without cells, count for nothing, as in the renderer.
    int sw = 0;
    int sh = 0;
    int count = 0;
    Level level[levels];

    // Runs the calls of work(0) .. work(n - 1), on many threads or one.
    using Parallel = std::function<void(int n, const std::function<void(int)> &work)>;

    // False when a slice with cells has no summary, or memory runs short.
    bool make(const QList<const Slice *> &slices, int sw, int sh, const Parallel &parallel);

    // Made aside, for sharing; none when make fails.
    static std::shared_ptr<const SliceRuns> of(const QList<const Slice *> &slices, int sw, int sh,
                                               const Parallel &parallel);

    bool fits(int setSw, int setSh, int setCount) const
    {
        return sw == setSw && sh == setSh && count == setCount;
    }
};

#endif // SLICES_SLICERUNS_H
