#ifndef VIEW_TILEDTARGET_H
#define VIEW_TILEDTARGET_H

#include "slices/workerpool.h"

#include <QRgb>
#include <QString>
#include <QtGlobal>

#include <algorithm>

// Where a tiled road writes its pixels. When sets are drawn last first,
// `covered` holds a byte per pixel: pixels not 0 there belong to a later set
// and are left alone, and those drawn get `mark`.
struct TiledTarget
{
    uchar *bits = nullptr;
    qsizetype bytesPerLine = 0;
    int W = 0;
    quint8 *covered = nullptr;
    quint8 mark = 1;

    quint8 *coveredLine(int i0, int j) const
    {
        return covered ? covered + qsizetype(j) * W + i0 : nullptr;
    }

    QRgb *line(int i0, int j) const
    {
        return reinterpret_cast<QRgb *>(bits + j * bytesPerLine) + i0;
    }

    // Whether later sets have drawn every pixel of a block.
    bool coversAll(int i0, int j0, int columns, int rows) const
    {
        if (!covered)
            return false;
        for (int rr = 0; rr < rows; ++rr) {
            const quint8 *c = coveredLine(i0, j0 + rr);
            for (int cc = 0; cc < columns; ++cc) {
                if (!c[cc])
                    return false;
            }
        }
        return true;
    }
};

// Rays go in square packets of this side.
inline constexpr int packetSide = 8;
inline constexpr int packetRays = packetSide * packetSide;
// Where the rays of a packet's places beyond the image's edge lie: outside
// every slice, behind every section.
inline constexpr double nowhere = 0x1p40;

// Code that ran earlier on this thread may have left the upper halves of the
// AVX registers in use; on some processors SSE arithmetic then runs several
// times slower until they are cleared. Clearing them changes no value.
inline void clearUpperVectorState()
{
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
    static const bool hasAvx = __builtin_cpu_supports("avx");
    if (hasAvx) {
        __asm__ volatile("vzeroupper" ::: "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6",
                         "xmm7", "xmm8", "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14",
                         "xmm15");
    }
#endif
}

// The AVX2 kernels are taken where the processor has them, unless
// CTSLAB_KERNELS=scalar asks for the scalar ones (to test them, or to compare).
inline bool wideKernelsWanted()
{
    return qEnvironmentVariable("CTSLAB_KERNELS") != QLatin1String("scalar");
}

// packets(j0, rows) for each band of packets down an H-row picture, on the
// render pool.
template<typename Packets>
void forEachBand(int H, Packets packets)
{
    const int bands = (H + packetSide - 1) / packetSide;
    auto band = [&packets, H](int index) {
        clearUpperVectorState();
        const int j0 = index * packetSide;
        packets(j0, std::min(packetSide, H - j0));
    };
    WorkerPool::shared().run(bands, band);
}

#endif // VIEW_TILEDTARGET_H
