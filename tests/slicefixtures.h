#ifndef TESTS_SLICEFIXTURES_H
#define TESTS_SLICEFIXTURES_H

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

// Expected grids are written as rows separated by '|', cells by blanks.
inline QList<QList<double>> grid(const QString &text)
{
    QList<QList<double>> rows;
    for (const QString &row : text.split(u'|')) {
        QList<double> cells;
        for (const QString &cell : row.split(u' '))
            cells.append(cell.toDouble());
        rows.append(cells);
    }
    return rows;
}

// A slice's values as rows, however the slice keeps them.
template<typename Slice>
QList<QList<double>> cellsOf(const Slice &slice)
{
    QList<QList<double>> rows;
    for (int y = 0; y < slice.height; ++y) {
        QList<double> cells;
        for (int x = 0; x < slice.width; ++x)
            cells.append(slice.valueAt(x, y));
        rows.append(cells);
    }
    return rows;
}

// Writes the bytes exactly as given (CRLF and BOM stay); the path, or an
// empty text when the file could not be written.
inline QString writeFixture(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        return QString();
    return path;
}

#endif // TESTS_SLICEFIXTURES_H
