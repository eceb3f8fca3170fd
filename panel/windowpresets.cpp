#include "panel/windowpresets.h"

#include "panel/colourscale.h"
#include "slices/textnumber.h"

#include <cmath>
#include <limits>

namespace {

// The largest value's place in the window, with the texts as they read back.
bool topShows(double max, const QString &low, const QString &high)
{
    const ColourWindow window = colourWindow(textNumber(low), textNumber(high), 0, 100);
    const double t = (max - window.low) / (window.high - window.low) * 256;
    return t >= 0 && t <= 255;
}

// v written with the fewest digits, from six on, that read back at or above it.
QString fieldNumberAtLeast(double v)
{
    for (int digits = 6; digits < 17; ++digits) {
        const QString text = QString::number(v, 'g', digits);
        if (textNumber(text) >= v)
            return text;
    }
    return QString::number(v, 'g', 17);
}

} // namespace

QString fieldNumber(double v)
{
    return QString::number(v, 'g', 6);
}

PresetWindow wholeRangeWindow(double min, double max)
{
    PresetWindow window{ fieldNumber(min), fieldNumber(max) };
    const double low = textNumber(window.low);
    double top = low + (max - low) * 256 / 255;
    // Rounding may still leave the largest value a hair above the visible
    // part; a few steps up settle it.
    for (int step = 0; step < 64 && std::isfinite(top); ++step) {
        window.high = fieldNumberAtLeast(top);
        if (topShows(max, window.low, window.high))
            break;
        top = std::nextafter(textNumber(window.high), std::numeric_limits<double>::infinity());
        top += std::abs(top) * 1e-12;
    }
    return window;
}

bool looksLikeHounsfield(double min, double max)
{
    return min >= -3072 && min <= -900 && max >= 0 && max <= 32767;
}
