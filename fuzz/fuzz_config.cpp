// libFuzzer target: any bytes as configuration files. The bytes are cut at
// each line "#--" into the files 0.cfg, 1.cfg, ... (at most eight) of a
// scratch folder, which is the working directory meanwhile, and 0.cfg is read:
// INCLUDE lines reach one another by relative names. Slashes and backslashes
// become underscores, so that no name leads out of the folder.

#include "app/config.h"
#include "app/tokenizer.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

constexpr int maxFiles = 8;

QString fileName(int index)
{
    return QStringLiteral("%1.cfg").arg(index);
}

// The comment cut and the item split only ever cut the line they are given.
void checkTokenizer(const QString &line)
{
    const CommentSplit split = splitComment(line);
    if (split.content.size() == line.size()) {
        if (split.content != line || !split.comment.isEmpty())
            __builtin_trap();
    } else if (split.content + u'#' + split.comment != line) {
        __builtin_trap();
    }
    if (isBlankLine(line) != split.content.simplified().isEmpty())
        __builtin_trap();

    QString rest = split.content;
    for (int items = 0; items < 4; ++items) {
        const TakenItem taken = takeItem(rest);
        if (taken.item.size() + taken.rest.size() > rest.size() || !rest.endsWith(taken.rest)
            || !rest.contains(taken.item)) {
            __builtin_trap();
        }
        if (taken.rest.size() == rest.size())
            break;
        rest = taken.rest;
    }
}

// Each table holds a key once, beside exactly one value, and the any-case
// table holds one entry per upper-cased exact key.
void checkTables(const Config &config)
{
    if (config.keys().size() != config.values().size()
        || config.keysNoCase().size() != config.valuesNoCase().size()) {
        __builtin_trap();
    }
    QSet<QString> upper;
    for (const QString &key : config.keys()) {
        if (!config.hasKey(key) || !config.hasKeyNoCase(key))
            __builtin_trap();
        upper.insert(key.toUpper());
    }
    if (QSet<QString>(config.keys().begin(), config.keys().end()).size() != config.keys().size()
        || upper.size() != config.keysNoCase().size()) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Every cannot-open or quoting message would otherwise go to the terminal.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    static const QString home = QDir::currentPath();
    // Only while the input is read: libFuzzer reads its corpus by the names
    // it was given, relative to where it started.
    if (!QDir::setCurrent(dir.path()))
        return 0;
    const auto back = qScopeGuard([] { QDir::setCurrent(home); });

    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    bytes.replace('/', '_');
    bytes.replace('\\', '_');
    const QList<QByteArray> parts = bytes.split('\n');
    QList<QByteArray> files{ QByteArray() };
    for (const QByteArray &line : parts) {
        if (line == "#--" && files.size() < maxFiles)
            files.append(QByteArray());
        else
            files.last() += line + '\n';
    }
    for (int i = 0; i < maxFiles; ++i) {
        QFile file(fileName(i));
        if (i >= files.size()) {
            file.remove();
            continue;
        }
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(files.at(i));
    }

    for (const QByteArray &line : parts)
        checkTokenizer(QString::fromUtf8(line));
    Config config;
    if (!config.readFile(fileName(0)))
        __builtin_trap();
    checkTables(config);
    return 0;
}
