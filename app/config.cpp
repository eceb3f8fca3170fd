#include "app/config.h"

#include "app/tokenizer.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

void Config::readCommandLine(int argc, char **argv)
{
    if (!argv)
        return;
    for (int i = 0; i < argc; ++i) {
        const QString argument = QString::fromUtf8(argv[i]);
        if (!argument.startsWith(u'-'))
            continue;
        QString value;
        if (i + 1 < argc) {
            const QString next = QString::fromUtf8(argv[i + 1]);
            if (!next.startsWith(u'-'))
                value = next;
        }
        setEntry(argument, value);
    }
}

bool Config::readFile(const QString &fileName)
{
    // Symbolic links and "." or ".." steps must not disguise a file that
    // is already open further up the chain.
    const QFileInfo info(fileName);
    QString identity = info.canonicalFilePath();
    if (identity.isEmpty() && !fileName.isEmpty())
        identity = info.absoluteFilePath();
    if (!identity.isEmpty() && filesInProgress.contains(identity)) {
        qDebug() << "Config file is already being read, INCLUDE skipped :" << fileName;
        return false;
    }

    // Distinct files can chain without end; each level holds a file open.
    if (filesInProgress.size() >= maxIncludeDepth) {
        qDebug() << "Config files nested too deeply, INCLUDE skipped :" << fileName;
        return false;
    }

    // An empty name (a bare INCLUDE, or "-c" without a value) is refused
    // here; QFile would add a warning of its own.
    QFile file(fileName);
    if (fileName.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "Can't open config file : " << fileName;
        return false;
    }

    filesInProgress.append(identity);
    QTextStream stream(&file);
    stream.setEncoding(QStringConverter::Utf8);
    QString line;
    while (stream.readLineInto(&line)) {
        const QString content = removeComment(line);
        if (isBlankLine(content))
            continue;
        const TakenItem key = takeItem(content);
        const QString value = takeItem(key.rest).item;
        if (key.item.toUpper() == QLatin1String("INCLUDE"))
            readFile(value);
        else
            setEntry(key.item, value);
    }
    filesInProgress.removeLast();
    return true;
}

void Config::setEntry(const QString &key, const QString &value)
{
    const qsizetype exact = exactKeys.indexOf(key);
    if (exact >= 0) {
        exactValues[exact] = value;
    } else {
        exactKeys.append(key);
        exactValues.append(value);
    }

    const QString upper = key.toUpper();
    const qsizetype anyCase = upperKeys.indexOf(upper);
    if (anyCase >= 0) {
        upperValues[anyCase] = value;
    } else {
        upperKeys.append(upper);
        upperValues.append(value);
    }
}

QString Config::getValue(const QString &key, const QString &defaultValue) const
{
    const qsizetype index = exactKeys.indexOf(key);
    return index >= 0 ? exactValues.at(index) : defaultValue;
}

QString Config::getValueNoCase(const QString &key, const QString &defaultValue) const
{
    const qsizetype index = upperKeys.indexOf(key.toUpper());
    return index >= 0 ? upperValues.at(index) : defaultValue;
}

bool Config::hasKey(const QString &key) const
{
    return exactKeys.contains(key);
}

bool Config::hasKeyNoCase(const QString &key) const
{
    return upperKeys.contains(key.toUpper());
}
