#ifndef PANEL_WINDOWPRESETS_H
#define PANEL_WINDOWPRESETS_H

#include <QString>

// Ready-made windows for the histogram's menu, as texts for the range fields
// with the thresholds at 0 and 100 percent.
struct PresetWindow
{
    QString low;
    QString high;
};

// The windows CT readers know, in Hounsfield units.
struct HounsfieldPreset
{
    const char *name; // translated in the panel's context
    double low;
    double high;
};

inline constexpr HounsfieldPreset hounsfieldPresets[] = {
    { "Brain", 0, 80 },
    { "Soft tissue", -160, 240 },
    { "Lung", -1350, 150 },
    { "Bone", -450, 1050 },
};

// A number as the range fields write it: six significant digits.
QString fieldNumber(double v);

// From the set's smallest value to just above its largest: the top 1/256 of
// any window vanishes, so a window ending at the largest value would hide it.
// The texts, read back, keep the largest value inside the visible part.
PresetWindow wholeRangeWindow(double min, double max);

// Whether a set's values look like Hounsfield units: the smallest that of air
// (-1000, or -1024 where the scanner's range starts) or of the padding
// scanners write outside their field of view (down to -3072), and the largest
// within the 16 bits scanners store (tissue and bone lie above 0). Pictures
// (0..255) never pass.
bool looksLikeHounsfield(double min, double max);

#endif // PANEL_WINDOWPRESETS_H
