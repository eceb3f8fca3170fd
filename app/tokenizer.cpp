#include "app/tokenizer.h"

#include <QDebug>

namespace {

// Items are split on ASCII white space only; other Unicode spaces belong to
// the item they stand in.
bool isItemSpace(QChar c)
{
    switch (c.unicode()) {
    case ' ':
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
        return true;
    default:
        return false;
    }
}

} // namespace

CommentSplit splitComment(const QString &line)
{
    // Double quote and apostrophe share one flag, so either can close what
    // the other opened.
    bool inQuotes = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == u'"' || c == u'\'') {
            inQuotes = !inQuotes;
        } else if (c == u'#' && !inQuotes) {
            return {line.left(i), line.mid(i + 1)};
        }
    }
    return {line, QString()};
}

QString removeComment(const QString &line)
{
    return splitComment(line).content;
}

bool isBlankLine(const QString &line)
{
    return splitComment(line).content.simplified().isEmpty();
}

TakenItem takeItem(const QString &line)
{
    qsizetype first = 0;
    while (first < line.size() && isItemSpace(line.at(first)))
        ++first;
    if (first == line.size())
        return {};

    if (line.at(first) == u'"') {
        const qsizetype close = line.indexOf(u'"', first + 1);
        if (close >= 0)
            return {line.mid(first + 1, close - first - 1), line.mid(close + 1)};
        qDebug() << QString("In a line [%1] item is started from quote but not ended by quote")
                            .arg(line);
        return {line.mid(first + 1), QString()};
    }

    qsizetype end = first;
    while (end < line.size() && !isItemSpace(line.at(end)))
        ++end;
    TakenItem taken{line.mid(first, end - first), line.mid(end)};
    if (taken.item.endsWith(u'"'))
        qDebug() << QString("In a line [%1] item is started from not quote but ended by quote")
                            .arg(line);
    return taken;
}
