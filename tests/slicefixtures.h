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
