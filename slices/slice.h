#ifndef SLICES_SLICE_H
#define SLICES_SLICE_H

#include <QImage>
#include <QList>
#include <QString>

#include <array>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>

class QFile;
class QTextStream;
struct SliceTiles;

// Frees a slice's block of cells, mapped, cut from a shared large page, or
// from new[], and knows its size.
struct SliceBlockFree
{
    size_t bytes = 0;
    bool mapped = false;
    mutable std::shared_ptr<std::byte> page; // the large page the block was cut from
    void operator()(std::byte *cells) const;
};

// Where a DICOM image lies, as its header says: each attribute with whether
// the file carries it and whether every number of it reads as a finite one.
struct DicomPlacement
{
    template<size_t N>
    struct Numbers
    {
        std::array<double, N> values{};
        bool present = false;
        bool readable = false;
    };
    QString series; // Series Instance UID; empty when absent or blank
    bool seriesPresent = false;
    Numbers<3> position;     // Image Position (Patient), millimetres
    Numbers<6> orientation;  // Image Orientation (Patient): along a row, then down a column
    Numbers<2> pixelSpacing; // Pixel Spacing: between rows, then between columns
};

// Whether the picture readers are worth asking about a file: not about a
// DICOM file whose preamble opens like a TIFF but points at no directory
// inside the file, which the TIFF library cannot read and only complains
// about on standard error.
bool picturePossible(const QString &fileName);

// One two-dimensional slice read from one file: either a picture, kept as
// read, or a grid of values: the text formats' doubles in `rows`, or for
// scanner files whose values are all whole numbers within 16 bits those
// numbers alone (`narrowCells`, with `rows` empty).
class Slice
{
public:
    int width = 0;
    int height = 0;
    bool isImage = false;
    QImage image;
    double min = 0.0;
    double max = 1.0;
    QList<QList<double>> rows;
    // DICOM images only: where the slice lies.
    std::optional<DicomPlacement> dicom;

    // Callers pass only 0 <= x < width and 0 <= y < height.
    double valueAt(int x, int y) const;

    // whyNot, when given, receives the reason a file is refused.
    bool load(const QString &fileName, QString *whyNot = nullptr);
    bool readPicture(const QString &fileName);
    // Makes the slice this picture, as readPicture does with what it reads.
    void takePicture(QImage picture);
    // The slice's cells when it keeps them as 16-bit whole numbers, row after
    // row; nullptr otherwise.
    const qint16 *narrowCells() const { return narrow; }
    // For the scanner readers (CellWriter): makes the slice a grid of
    // columns x rowCount 16-bit cells, for the caller to write every one of,
    // and gives its first cell, or nullptr without memory.
    qint16 *makeNarrowCells(int columns, int rowCount);
    // Turns narrow cells into a grid of doubles in one block, which the rows
    // view, the first `filled` cells keeping their values; gives the first
    // cell, or nullptr without memory (the narrow cells are then kept).
    double *widenCells(qsizetype filled);
    bool readCtImage(const QString &fileName);
    bool readTable(const QString &fileName);
    // Tried last, so only for files every other reader refuses.
    bool readDicom(const QString &fileName, QString *whyNot = nullptr);

    // Largest grid a text slice may declare. 2^26 cells are 64 Mi doubles,
    // 512 MiB for one slice: more than any scanner's slice needs (8192 x 8192),
    // yet a forged header cannot make one file claim the whole memory.
    static constexpr qint64 maxCells = qint64(1) << 26;

    // Bytes the values take in memory: the picture, the narrow cells, or the
    // rows of the grid.
    qint64 memoryBytes() const;

    // How often each value 0..255 occurs in a picture slice; the same
    // values as valueAt, counted in one pass over the scan lines.
    std::array<qint64, 256> pictureTally() const;

    // The slice's values by tiles, for the renderer; made on first use and
    // kept. A slice is not changed once it has been drawn.
    const SliceTiles &tiles() const;

    Slice();
    ~Slice();
    Q_DISABLE_COPY_MOVE(Slice)

private:
    bool beginTextRead(QFile &file, QTextStream &stream, QLatin1String tag);
    bool makeGrid(int columns, int rowCount);
    // A grid whose cells lie in one block that the rows only view: one
    // allocation, in large pages where the system gives them, instead of a
    // row each. Gives the block's first cell, or nullptr without memory.
    double *makeBlockGrid(int columns, int rowCount);
    void dropGrid();
    static std::unique_ptr<std::byte[], SliceBlockFree> allocateBlock(size_t bytes);
    std::unique_ptr<std::byte[], SliceBlockFree> block;
    qint16 *narrow = nullptr; // into block
    mutable std::once_flag tilesMade;
    mutable std::unique_ptr<SliceTiles> tileSummary;
};

inline double Slice::valueAt(int x, int y) const
{
    if (!isImage) {
        if (narrow)
            return narrow[qsizetype(y) * width + x];
        return rows.at(y).at(x);
    }
    // A picture's value is the blue component, the lowest eight bits of the
    // pixel's colour; the common formats are read straight from the scan line.
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        return reinterpret_cast<const QRgb *>(image.constScanLine(y))[x] & 0xff;
    case QImage::Format_Grayscale8:
        return image.constScanLine(y)[x];
    default:
        return qBlue(image.pixel(x, y));
    }
}

#endif // SLICES_SLICE_H
