#ifndef SLICES_TEXTNUMBER_H
#define SLICES_TEXTNUMBER_H

#include <QLocale>
#include <QString>

#include <cmath>

// A floating-point number written in the C locale: point as decimal separator,
// exponent allowed, blanks around it ignored. A group separator makes it no
// number ("1,500" is not 1500), as it already does for the integer fields;
// so do "nan", "inf" and overflowing exponents. What is not a number is 0.0.
inline double textNumber(const QString &text)
{
    static const QLocale c = [] {
        QLocale locale = QLocale::c();
        locale.setNumberOptions(QLocale::RejectGroupSeparator);
        return locale;
    }();
    bool ok = false;
    const double value = c.toDouble(text, &ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

#endif // SLICES_TEXTNUMBER_H
