#ifndef APP_TOKENIZER_H
#define APP_TOKENIZER_H

#include <QString>

// A configuration line cut at its first "#" outside quotes.
struct CommentSplit
{
    QString content;
    QString comment;
};

// The first item of a line and what follows it.
struct TakenItem
{
    QString item;
    QString rest;
};

CommentSplit splitComment(const QString &line);
QString removeComment(const QString &line);
bool isBlankLine(const QString &line);
TakenItem takeItem(const QString &line);

#endif // APP_TOKENIZER_H
