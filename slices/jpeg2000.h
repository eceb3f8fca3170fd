#ifndef SLICES_JPEG2000_H
#define SLICES_JPEG2000_H

#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

// One grey image decoded from a JPEG 2000 code stream (bare or in a JP2 file).
struct Jpeg2000Samples
{
    int precision = 0;    // bits per sample in the stream
    bool isSigned = false; // as the stream says; the caller may read the bits otherwise
    std::vector<std::int32_t> values; // row after row
};

// Decodes the stream held in memory, only when its header gives exactly
// columns x rows samples of one component in at most maxPrecision bits: a
// stream that claims any other size is refused before anything is decoded.
// On failure: false, with the reason in whyNot.
bool decodeJpeg2000(const unsigned char *data, std::size_t size, int columns, int rows,
                    int maxPrecision, Jpeg2000Samples *samples, QString *whyNot);

#endif // SLICES_JPEG2000_H
