#include "slices/slice.h"
#include "slices/textnumber.h"

#include <QFile>
#include <QStringList>
#include <QTextStream>

#include <algorithm>
#include <limits>

namespace {

const QLatin1String fileTag("## 240301");

// The grid is one smaller than the count on a size line. The count may be
// the smallest int, so one is taken off in 64 bits.
int sideFromCount(const QString &field)
{
    const qint64 side = qint64(field.toInt(nullptr, 10)) - 1;
    return int(std::max<qint64>(side, std::numeric_limits<int>::min()));
}

} // namespace

bool Slice::readTable(const QString &fileName)
{
    QFile file(fileName);
    QTextStream stream;
    if (!beginTextRead(file, stream, fileTag))
        return false;
    bool haveGrid = false;
    // Coordinates are taken from the origin in 64 bits, where no difference
    // of two ints can overflow; only those that land in the grid are used.
    qint64 originX = 0;
    qint64 originY = 0;

    QString line;
    while (stream.readLineInto(&line)) {
        line.replace(u',', u' ');
        const QStringList fields = line.simplified().split(u' ');
        if (fields.first().startsWith(u'#')) {
            // Once the grid exists, size lines are ignored so that width and
            // height keep describing it.
            if (!haveGrid && fields.size() == 3) {
                if (fields.at(1) == u"X-NUM")
                    width = sideFromCount(fields.at(2));
                else if (fields.at(1) == u"Y-NUM")
                    height = sideFromCount(fields.at(2));
            }
            continue;
        }

        if (!haveGrid) {
            if (!(width > 0 && height > 0) || qint64(width) * height > maxCells)
                continue;
            if (!makeGrid(width, height))
                return false;
            haveGrid = true;
            originX = fields.at(0).toInt(nullptr, 10);
            // A first data line without a second field puts the origin on row 0.
            originY = fields.size() >= 2 ? fields.at(1).toInt(nullptr, 10) : 0;
        }
        if (fields.size() < 3)
            continue;
        // A value for a cell the grid does not have is dropped and takes no
        // part in the range.
        const qint64 x = fields.at(0).toInt(nullptr, 10) - originX;
        const qint64 y = fields.at(1).toInt(nullptr, 10) - originY;
        if (x < 0 || x >= width || y < 0 || y >= height)
            continue;
        const double value = textNumber(fields.at(2));
        rows[y][x] = value;
        max = std::max(max, value);
        min = std::min(min, value);
    }
    return haveGrid && width > 0 && height > 0;
}
