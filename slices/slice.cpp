#include "slices/slice.h"
#include "slices/textnumber.h"

#include "slices/slicetiles.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTextStream>

#include <cfloat>
#include <new>

Slice::Slice() = default;
Slice::~Slice() = default;

const SliceTiles &Slice::tiles() const
{
    std::call_once(tilesMade, [this] {
        try {
            tileSummary = std::make_unique<SliceTiles>(SliceTiles::of(*this));
        } catch (const std::bad_alloc &) {
        }
    });
    // Without memory for a summary the renderer takes the slow road.
    static const SliceTiles none;
    return tileSummary ? *tileSummary : none;
}

bool Slice::load(const QString &fileName, QString *whyNot)
{
    // Only a regular file is read: a named pipe or a device picked in the
    // dialog could block the panel's thread, and the closing window with it.
    const QFileInfo info(fileName);
    if (!info.isFile()) {
        if (whyNot) {
            *whyNot = info.exists() ? QStringLiteral("not a regular file")
                                    : QStringLiteral("cannot be opened");
        }
        return false;
    }
    if (readPicture(fileName))
        return true;
    if (readCtImage(fileName) || readTable(fileName) || readDicom(fileName, whyNot)) {
        isImage = false;
        return true;
    }
    return false;
}

bool Slice::readPicture(const QString &fileName)
{
    // No format given: the reader recognises the picture by its contents.
    QImageReader reader(fileName);
    QImage picture = reader.read();
    if (picture.isNull())
        return false;

    isImage = true;
    image = std::move(picture);
    width = image.width();
    height = image.height();
    min = DBL_MAX;
    max = -DBL_MAX;
    const std::array<qint64, 256> tally = pictureTally();
    for (int value = 0; value < 256; ++value) {
        if (tally[value] > 0) {
            min = std::min(min, double(value));
            max = value;
        }
    }
    return true;
}

std::array<qint64, 256> Slice::pictureTally() const
{
    std::array<qint64, 256> tally{};
    const int w = image.width();
    const int h = image.height();
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        for (int y = 0; y < h; ++y) {
            const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            for (int x = 0; x < w; ++x)
                ++tally[line[x] & 0xff];
        }
        break;
    case QImage::Format_Grayscale8:
        for (int y = 0; y < h; ++y) {
            const uchar *line = image.constScanLine(y);
            for (int x = 0; x < w; ++x)
                ++tally[line[x]];
        }
        break;
    default:
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x)
                ++tally[int(valueAt(x, y))];
        }
        break;
    }
    return tally;
}

qint64 Slice::memoryBytes() const
{
    if (isImage)
        return image.sizeInBytes();
    qint64 bytes = rows.capacity() * qint64(sizeof(QList<double>));
    for (const QList<double> &row : rows)
        bytes += row.capacity() * qint64(sizeof(double));
    return bytes;
}

bool Slice::makeGrid(int columns, int rowCount)
{
    // A grid below the cell limit may still not fit in memory; the reader then
    // gives the file up instead of the program ending. QList reports a failed
    // reservation by a smaller capacity and a failed growth by std::bad_alloc.
    try {
        rows.clear();
        rows.reserve(rowCount);
        if (rows.capacity() < rowCount) {
            rows = {};
            return false;
        }
        for (int y = 0; y < rowCount; ++y) {
            QList<double> row;
            row.reserve(columns);
            if (row.capacity() < columns) {
                rows = {};
                return false;
            }
            row.resize(columns, 0.0);
            rows.append(std::move(row));
        }
    } catch (const std::bad_alloc &) {
        rows = {};
        return false;
    }
    return true;
}

// Opens a text slice whose first line begins with the tag, and resets what
// the readers fill before they read the rest.
bool Slice::beginTextRead(QFile &file, QTextStream &stream, QLatin1String tag)
{
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    stream.setDevice(&file);
    // Only the tag is compared; reading it alone keeps a large file of another
    // kind from being read whole as one long first line.
    if (stream.read(tag.size()) != tag)
        return false;
    stream.readLine();

    min = DBL_MAX;
    max = -DBL_MAX;
    width = 0;
    height = 0;
    rows.clear();
    return true;
}
