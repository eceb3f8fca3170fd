#ifndef VIEW_SAMPLING_H
#define VIEW_SAMPLING_H

#include <QString>

// How a set's volume is sampled: where each ray crosses the slices' planes,
// or in every cell the ray passes through.
enum class Sampling { Planes, Cells };

// What the user chose for a set: Automatic takes cells for a set whose files
// gave it its true shape, planes for any other.
enum class SamplingChoice { Automatic, Planes, Cells };

inline Sampling resolvedSampling(SamplingChoice choice, bool shapeFromFiles)
{
    switch (choice) {
    case SamplingChoice::Planes:
        return Sampling::Planes;
    case SamplingChoice::Cells:
        return Sampling::Cells;
    case SamplingChoice::Automatic:
        break;
    }
    return shapeFromFiles ? Sampling::Cells : Sampling::Planes;
}

// "auto", "planes" or "cells", in any case.
inline bool readSamplingChoice(const QString &text, SamplingChoice *choice)
{
    const QString word = text.trimmed().toLower();
    if (word == QLatin1String("auto"))
        *choice = SamplingChoice::Automatic;
    else if (word == QLatin1String("planes"))
        *choice = SamplingChoice::Planes;
    else if (word == QLatin1String("cells"))
        *choice = SamplingChoice::Cells;
    else
        return false;
    return true;
}

#endif // VIEW_SAMPLING_H
