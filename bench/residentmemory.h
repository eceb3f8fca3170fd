#ifndef BENCH_RESIDENTMEMORY_H
#define BENCH_RESIDENTMEMORY_H

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

namespace bench {

// Resident memory of the process, in MB, as /proc/self/status gives it: now
// and at its peak.
struct Memory
{
    double rss = 0;
    double peak = 0;
};

inline Memory residentMemory()
{
    Memory memory;
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return memory;
    for (const QByteArray &line : status.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() < 2)
            continue;
        if (parts[0] == "VmRSS:")
            memory.rss = parts[1].toDouble() / 1024;
        else if (parts[0] == "VmHWM:")
            memory.peak = parts[1].toDouble() / 1024;
    }
    return memory;
}

// Brings the peak down to what is resident now, so that a later peak is that
// of the work since.
inline void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

} // namespace bench

#endif // BENCH_RESIDENTMEMORY_H
