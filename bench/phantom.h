#ifndef BENCH_PHANTOM_H
#define BENCH_PHANTOM_H

// A CT-like head: added ellipsoids (skull, brain, ventricles, small bright
// spots and a thin vessel) with hashed noise, as 8-bit grey slices. The same
// size always gives the same voxels, those of the peer benchmark's phantom
// generator, so that both are timed on the same data.

#include <QImage>

#include <cmath>
#include <cstdint>
#include <iterator>
#include <numbers>

namespace phantom {

struct Ellipsoid
{
    double cx, cy, cz;
    double a, b, c;
    double degrees;
    double value;
};

inline constexpr Ellipsoid ellipsoids[] = {
    {0.00, 0.00, 0.00, 0.69, 0.92, 0.81, 0.0, 200.0},
    {0.00, -0.0184, 0.00, 0.6624, 0.874, 0.78, 0.0, -130.0},
    {0.22, 0.00, 0.00, 0.11, 0.31, 0.22, -18.0, -30.0},
    {-0.22, 0.00, 0.00, 0.16, 0.41, 0.28, 18.0, -30.0},
    {0.00, 0.35, -0.15, 0.21, 0.25, 0.41, 0.0, 15.0},
    {0.00, 0.10, 0.25, 0.046, 0.046, 0.05, 0.0, 25.0},
    {0.00, -0.10, 0.25, 0.046, 0.046, 0.05, 0.0, 25.0},
    {-0.08, -0.605, 0.00, 0.046, 0.023, 0.05, 0.0, 30.0},
    {0.00, -0.605, 0.00, 0.023, 0.023, 0.02, 0.0, 30.0},
    {0.06, -0.605, 0.00, 0.023, 0.046, 0.02, 0.0, 30.0},
    {0.00, -0.30, 0.45, 0.09, 0.06, 0.07, 25.0, 45.0},
    {0.30, 0.40, -0.35, 0.03, 0.03, 0.03, 0.0, 165.0},
    {-0.35, -0.25, 0.30, 0.025, 0.04, 0.025, 0.0, 170.0},
    {0.10, 0.55, 0.55, 0.02, 0.02, 0.03, 0.0, 160.0},
    {0.00, 0.00, 0.00, 0.012, 0.50, 0.012, 30.0, 150.0},
};

inline constexpr std::uint64_t defaultSeed = 20240601;

inline std::uint64_t mix(std::uint64_t h)
{
    h ^= h >> 30;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 27;
    h *= 0x94D049BB133111EBull;
    h ^= h >> 31;
    return h;
}

inline QImage slice(int w, int h, int s, int z, std::uint64_t seed = defaultSeed)
{
    QImage image(w, h, QImage::Format_Grayscale8);
    // Each ellipsoid's turn, worked out once: the same doubles as per cell.
    constexpr int count = int(std::size(ellipsoids));
    double cosines[count];
    double sines[count];
    for (int e = 0; e < count; ++e) {
        const double p = ellipsoids[e].degrees * (std::numbers::pi / 180.0);
        cosines[e] = std::cos(p);
        sines[e] = std::sin(p);
    }
    const double zn = (z + 0.5 - s / 2.0) / (s / 2.0);
    const std::uint64_t zterm = (std::uint64_t(z) * 0x165667B19E3779F9ull) ^ seed;
    for (int y = 0; y < h; ++y) {
        const double yn = (y + 0.5 - h / 2.0) / (h / 2.0);
        uchar *line = image.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const double xn = (x + 0.5 - w / 2.0) / (w / 2.0);
            double value = 0.0;
            bool head = false;
            bool first = true;
            for (int n = 0; n < count; ++n) {
                const Ellipsoid &e = ellipsoids[n];
                const double dx = xn - e.cx;
                const double dy = yn - e.cy;
                const double dz = zn - e.cz;
                const double xr = dx * cosines[n] + dy * sines[n];
                const double yr = -dx * sines[n] + dy * cosines[n];
                const double qx = xr / e.a;
                const double qy = yr / e.b;
                const double qz = dz / e.c;
                const bool inside = qx * qx + qy * qy + qz * qz <= 1.0;
                if (inside)
                    value += e.value;
                if (first)
                    head = inside;
                first = false;
            }
            const std::uint64_t key = (std::uint64_t(x) * 0x9E3779B97F4A7C15ull)
                    ^ (std::uint64_t(y) * 0xC2B2AE3D27D4EB4Full) ^ zterm;
            const std::uint64_t noise = mix(mix(key));
            if (head)
                value += double(std::int64_t(noise % 13) - 6);
            else
                value += double((noise >> 32) % 6);
            line[x] = uchar(std::clamp(std::nearbyint(value), 0.0, 255.0));
        }
    }
    return image;
}

} // namespace phantom

#endif // BENCH_PHANTOM_H
