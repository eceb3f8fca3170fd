#ifndef VIEW_VALUEWINDOW_H
#define VIEW_VALUEWINDOW_H

#include "panel/colourscale.h"
#include "view/tiledtarget.h"

#include <QColor>
#include <QRgb>

#include <algorithm>

#include <limits>

// How the tiled roads compare a set's values without working out their
// intensities. The intensity never falls as the value grows (never rises,
// for a window whose ends are swapped), so of the values whose intensity
// counts the greatest (the least) has the greatest intensity: a ray keeps
// the greatest code or key it meets, and its intensity is worked out once,
// at the end. That is exact, since only the maximum decides a pixel.

// A colour's components, read once rather than per pixel.
struct Tint
{
    int red = 0;
    int green = 0;
    int blue = 0;

    explicit Tint(const QColor &c = QColor()) : red(c.red()), green(c.green()), blue(c.blue()) {}
    QRgb of(double I) const
    {
        return qRgba(tintComponent(red, I), tintComponent(green, I), tintComponent(blue, I), 255);
    }
};

struct ValueWindow
{
    double low = 0.0;
    double high = 0.0;

    // Pictures: a value v is turned to v ^ flip, so that the intensity never
    // falls as the turned value grows; turned values codeLow..codeHigh have
    // an intensity above 0 and are kept as the code turned - codeLow + 1.
    int flip = 0;
    int codeLow = 1;
    int codeHigh = 0;
    bool picturesShow = false;
    double pictureIntensity[256];

    // Text: keys are values times keySign; keys in [keptLow, keptHigh] have
    // intensities in 0..255, all others have intensity 0.
    double keySign = 1.0;
    double keptLow = 1.0;
    double keptHigh = 0.0;
    bool textShows = false;

    Tint volumeTint;
    Tint sectionTint;
    QRgb codeTint[256]; // the volume tint of each picture code but 0
};

// The codes and keys of the window low..high for a set holding pictures,
// text or both, and its tints. False when picture values cannot be coded,
// which the intensity rule rules out; the caller then takes the plain road.
bool setUpWindow(ValueWindow &w, double low, double high, bool anyPicture, bool anyText,
                 const QColor &volume, const QColor &section);

// The greatest code of the picture values in [low, high], 0 for none.
inline int codeBound(const ValueWindow &f, int low, int high)
{
    const int lo = f.flip ? 255 - high : low;
    const int hi = f.flip ? 255 - low : high;
    return hi >= f.codeLow && lo <= f.codeHigh ? std::min(hi, f.codeHigh) - f.codeLow + 1 : 0;
}

// The greatest kept key of the text values in [low, high], -infinity for none.
inline double keyBound(const ValueWindow &f, double low, double high)
{
    const double lo = f.keySign > 0 ? low : -high;
    const double hi = f.keySign > 0 ? high : -low;
    return hi >= f.keptLow && lo <= f.keptHigh ? std::min(hi, f.keptHigh)
                                               : -std::numeric_limits<double>::infinity();
}

// The colour of a ray from what it gathered: the section's intensity where
// the section is shown and gave more than 0, else the greatest key and code.
// False where nothing shows.
inline bool rayColour(const ValueWindow &f, bool section, double layer, double key, qint32 code,
                      QRgb &colour)
{
    if (section && layer > 0) {
        colour = f.sectionTint.of(layer);
    } else if (key > -std::numeric_limits<double>::infinity()) {
        double V = intensity(f.keySign * key, f.low, f.high);
        if (code > 0)
            V = std::max(V, f.pictureIntensity[(code - 1 + f.codeLow) ^ f.flip]);
        if (!(V > 0))
            return false;
        colour = f.volumeTint.of(V);
    } else if (code > 0) {
        colour = f.codeTint[code - 1];
    } else {
        return false;
    }
    return true;
}

// A packet's rays into the picture: ray r is pixel (i0 + r % 8, j0 + r / 8)
// of the columns x rows in the image; pixels a later set drew stay.
inline void paintRays(const ValueWindow &f, const TiledTarget &target, bool section, int i0,
                      int j0, int columns, int rows, const double *layer, const double *key,
                      const qint32 *code)
{
    for (int rr = 0; rr < rows; ++rr) {
        QRgb *line = target.line(i0, j0 + rr);
        quint8 *covered = target.coveredLine(i0, j0 + rr);
        for (int cc = 0; cc < columns; ++cc) {
            if (covered && covered[cc])
                continue;
            const int r = rr * packetSide + cc;
            QRgb colour;
            if (!rayColour(f, section, layer[r], key[r], code[r], colour))
                continue;
            line[cc] = colour;
            if (covered)
                covered[cc] = target.mark;
        }
    }
}

#endif // VIEW_VALUEWINDOW_H
