#ifndef PANEL_COLOURSCALE_H
#define PANEL_COLOURSCALE_H

#include <QColor>
#include <QRgb>

#include <cmath>

// The colour scale of one set: a window of values between two thresholds
// given in percent of a value range.
struct ColourWindow
{
    double low = 0.0;
    double high = 0.0;
};

inline ColourWindow colourWindow(double minV, double maxV, double minThPC, double maxThPC)
{
    const double span = maxV - minV;
    return { minV + span * minThPC / 100, maxV - span * (1 - maxThPC / 100) };
}

// Values outside the window vanish rather than saturate; the top 1/256 of
// the window counts as outside. A NaN fails both comparisons and gives 0.
inline double intensity(double value, double low, double high)
{
    const double t = (value - low) / (high - low) * 256;
    return (t >= 0 && t <= 255) ? t : 0.0;
}

// Written so that I = 255 gives the component itself exactly; I lies in
// [0, 255], so the result is in [c, 255] and fits an int.
inline int tintComponent(int c, double I)
{
    return int(std::trunc(255 - I * (255 - c) / 255));
}

inline QRgb tint(const QColor &colour, double I)
{
    return qRgba(tintComponent(colour.red(), I), tintComponent(colour.green(), I),
                 tintComponent(colour.blue(), I), 255);
}

#endif // PANEL_COLOURSCALE_H
