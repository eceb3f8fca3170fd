#ifndef VIEW_VEC3_H
#define VIEW_VEC3_H

#include <QMetaType>

// Travels by value in signals (section normals, rotation axes), so it is
// registered as the meta-type "Vec3" once at start-up.
struct Vec3
{
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

Q_DECLARE_METATYPE(Vec3)

#endif // VIEW_VEC3_H
