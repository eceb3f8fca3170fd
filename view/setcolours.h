#ifndef VIEW_SETCOLOURS_H
#define VIEW_SETCOLOURS_H

#include <QColor>

// The volume and section colours that set n (counted from 0) starts with;
// every third set repeats them.
struct SetColours
{
    QColor volume;
    QColor section;
};

inline SetColours coloursFor(int n)
{
    switch (n % 3) {
    case 1:
        return { QColor(127, 0, 127), QColor(0, 127, 0) };
    case 2:
        return { QColor(127, 127, 0), QColor(0, 0, 127) };
    default:
        return { QColor(0, 127, 127), QColor(127, 0, 0) };
    }
}

#endif // VIEW_SETCOLOURS_H
