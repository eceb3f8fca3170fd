#include "view/valuewindow.h"

#include <bit>
#include <cmath>

namespace {

// Doubles in the order of unsigned integers, for searching by bisection.
quint64 orderKey(double x)
{
    const quint64 bits = std::bit_cast<quint64>(x);
    return (bits >> 63) ? ~bits : bits | (quint64(1) << 63);
}

double fromOrderKey(quint64 key)
{
    return std::bit_cast<double>((key >> 63) ? key & ~(quint64(1) << 63) : ~key);
}

// The double farthest from `from` toward `to` (both included) for which
// `holds` is true, where it holds at `from` and, once false on the way to
// `to`, stays false.
template<typename Predicate>
double farthestHolding(double from, double to, Predicate holds)
{
    if (holds(to))
        return to;
    quint64 good = orderKey(from);
    quint64 bad = orderKey(to);
    while ((good < bad ? bad - good : good - bad) > 1) {
        const quint64 mid = good < bad ? good + (bad - good) / 2 : bad + (good - bad) / 2;
        if (holds(fromOrderKey(mid)))
            good = mid;
        else
            bad = mid;
    }
    return fromOrderKey(good);
}

// The keys of the text values whose intensity is in 0..255.
void keepTextWindow(ValueWindow &f)
{
    const double low = f.low;
    const double high = f.high;
    const double span = high - low;
    // A window without a finite, non-zero width gives every value intensity 0.
    if (!(std::isfinite(low) && std::isfinite(high) && std::isfinite(span) && span != 0))
        return;
    const auto withinTop = [&](double v) { return (v - low) / (high - low) * 256 <= 255; };
    // The intensity is at least 0 exactly from `low` on, upward for a window
    // in order and downward for a swapped one.
    if (span > 0) {
        f.keptLow = low;
        f.keptHigh = farthestHolding(low, std::numeric_limits<double>::max(), withinTop);
    } else {
        f.keySign = -1.0;
        f.keptLow = -low;
        f.keptHigh = -farthestHolding(low, -std::numeric_limits<double>::max(), withinTop);
    }
}

// The picture values with an intensity above 0, turned so that the
// intensity never falls along them. False if they are not so (which the
// intensity rule rules out).
bool keepPictureWindow(ValueWindow &f)
{
    int first = -1;
    int last = -1;
    for (int v = 0; v < 256; ++v) {
        f.pictureIntensity[v] = intensity(v, f.low, f.high);
        if (f.pictureIntensity[v] > 0) {
            if (first < 0)
                first = v;
            last = v;
        }
    }
    if (first < 0)
        return true;
    f.flip = f.pictureIntensity[last] >= f.pictureIntensity[first] ? 0 : 255;
    f.codeLow = std::min(first ^ f.flip, last ^ f.flip);
    f.codeHigh = std::max(first ^ f.flip, last ^ f.flip);
    for (int turned = f.codeLow; turned < f.codeHigh; ++turned) {
        const double here = f.pictureIntensity[turned ^ f.flip];
        const double next = f.pictureIntensity[(turned + 1) ^ f.flip];
        if (!(here > 0 && next >= here))
            return false;
    }
    f.picturesShow = true;
    return true;
}

} // namespace

bool setUpWindow(ValueWindow &w, double low, double high, bool anyPicture, bool anyText,
                 const QColor &volume, const QColor &section)
{
    w.low = low;
    w.high = high;
    if (!keepPictureWindow(w))
        return false;
    keepTextWindow(w);
    w.picturesShow = w.picturesShow && anyPicture;
    w.textShows = anyText && w.keptLow <= w.keptHigh;
    w.volumeTint = Tint(volume);
    w.sectionTint = Tint(section);
    if (w.picturesShow) {
        for (int code = 1; code <= w.codeHigh - w.codeLow + 1; ++code)
            w.codeTint[code - 1] = w.volumeTint.of(w.pictureIntensity[(code - 1 + w.codeLow) ^ w.flip]);
    }
    return true;
}
