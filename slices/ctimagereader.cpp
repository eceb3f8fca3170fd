#include "slices/slice.h"
#include "slices/textnumber.h"

#include <QFile>
#include <QStringList>
#include <QTextStream>

#include <algorithm>
#include <limits>

namespace {

const QLatin1String fileTag("#VELD-CTImg");

// Number of cells from the first to the last coordinate, both included. The
// ends are 32-bit integers, so the difference is exact in double but may not
// fit an int; such a side reads as 0 and allows no grid.
int gridSide(double first, double last)
{
    const double side = last - first + 1;
    if (side < std::numeric_limits<int>::min() || side > std::numeric_limits<int>::max())
        return 0;
    return int(side);
}

} // namespace

bool Slice::readCtImage(const QString &fileName)
{
    QFile file(fileName);
    QTextStream stream;
    if (!beginTextRead(file, stream, fileTag))
        return false;
    double x0 = 0.0;
    double y0 = 0.0;
    double x1 = 0.0;
    double y1 = 0.0;
    bool haveGrid = false;

    QString line;
    while (stream.readLineInto(&line)) {
        const QStringList fields = line.simplified().split(u' ');
        if (fields.first() == u"#") {
            if (fields.size() < 4)
                continue;
            const QString &key = fields.at(1);
            double *range = key == u"Range_X0" ? &x0
                          : key == u"Range_Y0" ? &y0
                          : key == u"Range_X1" ? &x1
                          : key == u"Range_Y1" ? &y1
                                               : nullptr;
            if (range)
                *range = fields.at(3).toInt(nullptr, 10);
            continue;
        }

        if (!haveGrid) {
            width = gridSide(x0, x1);
            height = gridSide(y0, y1);
            if (!(x1 > 0 && y1 > 0 && width > 0 && height > 0)
                || qint64(width) * height > maxCells) {
                continue;
            }
            if (!makeGrid(width, height))
                return false;
            haveGrid = true;
        }
        if (fields.size() < 3)
            continue;
        // Column and row index the grid directly; a value for a cell the grid
        // does not have is dropped and takes no part in the range.
        const int x = fields.at(0).toInt(nullptr, 10);
        const int y = fields.at(1).toInt(nullptr, 10);
        if (x < 0 || x >= width || y < 0 || y >= height)
            continue;
        const double value = textNumber(fields.at(2));
        rows[y][x] = value;
        max = std::max(max, value);
        min = std::min(min, value);
    }
    return haveGrid && width > 0 && height > 0;
}
