#include "slices/jpeg2000.h"

#include <openjpeg.h>

#include <cstring>
#include <algorithm>
#include <memory>
#include <new>

namespace {

// The stream read from memory, as the library asks for it.
struct Source
{
    const unsigned char *data = nullptr;
    OPJ_UINT64 size = 0;
    OPJ_UINT64 at = 0;
};

OPJ_SIZE_T readSource(void *buffer, OPJ_SIZE_T bytes, void *user)
{
    auto *source = static_cast<Source *>(user);
    const OPJ_UINT64 left = source->size - source->at;
    if (left == 0)
        return OPJ_SIZE_T(-1);
    const OPJ_SIZE_T count = OPJ_SIZE_T(std::min<OPJ_UINT64>(left, bytes));
    std::memcpy(buffer, source->data + source->at, count);
    source->at += count;
    return count;
}

OPJ_OFF_T skipSource(OPJ_OFF_T bytes, void *user)
{
    auto *source = static_cast<Source *>(user);
    if (bytes < 0) {
        if (OPJ_UINT64(-bytes) > source->at)
            return -1;
        source->at -= OPJ_UINT64(-bytes);
        return bytes;
    }
    const OPJ_UINT64 step = std::min<OPJ_UINT64>(OPJ_UINT64(bytes), source->size - source->at);
    source->at += step;
    return OPJ_OFF_T(step);
}

OPJ_BOOL seekSource(OPJ_OFF_T place, void *user)
{
    auto *source = static_cast<Source *>(user);
    if (place < 0 || OPJ_UINT64(place) > source->size)
        return OPJ_FALSE;
    source->at = OPJ_UINT64(place);
    return OPJ_TRUE;
}

// The library's messages would go to the standard error; the last error is
// kept for the reason instead.
void quiet(const char *, void *) {}
void keepError(const char *message, void *user)
{
    *static_cast<QString *>(user) = QString::fromLatin1(message).trimmed();
}

struct CodecFree
{
    void operator()(opj_codec_t *codec) const { opj_destroy_codec(codec); }
};
struct StreamFree
{
    void operator()(opj_stream_t *stream) const { opj_stream_destroy(stream); }
};
struct ImageFree
{
    void operator()(opj_image_t *image) const { opj_image_destroy(image); }
};

} // namespace

bool decodeJpeg2000(const unsigned char *data, std::size_t size, int columns, int rows,
                    int maxPrecision, Jpeg2000Samples *samples, QString *whyNot)
{
    const auto refuse = [whyNot](const QString &reason) {
        if (whyNot)
            *whyNot = reason;
        return false;
    };
    static const unsigned char codestream[] = { 0xff, 0x4f, 0xff, 0x51 };
    static const unsigned char box[] = { 0, 0, 0, 0x0c, 'j', 'P', ' ', ' ' };
    OPJ_CODEC_FORMAT format;
    if (size >= sizeof(codestream) && std::memcmp(data, codestream, sizeof(codestream)) == 0)
        format = OPJ_CODEC_J2K;
    else if (size >= sizeof(box) && std::memcmp(data, box, sizeof(box)) == 0)
        format = OPJ_CODEC_JP2;
    else
        return refuse(QStringLiteral("JPEG 2000 data without a code stream"));

    QString error;
    const std::unique_ptr<opj_codec_t, CodecFree> codec(opj_create_decompress(format));
    if (!codec)
        return refuse(QStringLiteral("JPEG 2000 decoder unavailable"));
    opj_set_info_handler(codec.get(), quiet, nullptr);
    opj_set_warning_handler(codec.get(), quiet, nullptr);
    opj_set_error_handler(codec.get(), keepError, &error);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(codec.get(), &parameters))
        return refuse(QStringLiteral("JPEG 2000 decoder unavailable"));

    Source source{ data, OPJ_UINT64(size), 0 };
    const std::unique_ptr<opj_stream_t, StreamFree> stream(opj_stream_create(1 << 16, OPJ_TRUE));
    if (!stream)
        return refuse(QStringLiteral("JPEG 2000 decoder unavailable"));
    opj_stream_set_user_data(stream.get(), &source, nullptr);
    opj_stream_set_user_data_length(stream.get(), OPJ_UINT64(size));
    opj_stream_set_read_function(stream.get(), readSource);
    opj_stream_set_skip_function(stream.get(), skipSource);
    opj_stream_set_seek_function(stream.get(), seekSource);

    const auto failed = [&](const char *step) {
        return refuse(QStringLiteral("JPEG 2000 data unreadable (%1%2)")
                              .arg(QLatin1String(step))
                              .arg(error.isEmpty() ? QString() : QStringLiteral(": ") + error));
    };
    opj_image_t *header = nullptr;
    if (!opj_read_header(stream.get(), codec.get(), &header) || !header)
        return failed("header");
    const std::unique_ptr<opj_image_t, ImageFree> image(header);

    // The header says what the decoder would make; only a stream that makes
    // exactly the image the DICOM header describes is decoded.
    const OPJ_UINT64 width = OPJ_UINT64(image->x1) - image->x0;
    const OPJ_UINT64 height = OPJ_UINT64(image->y1) - image->y0;
    if (image->x1 < image->x0 || image->y1 < image->y0 || width != OPJ_UINT64(columns)
        || height != OPJ_UINT64(rows)) {
        return refuse(QStringLiteral("JPEG 2000 image of %1 x %2 cells in a DICOM image of %3 x %4")
                              .arg(qint64(image->x1) - image->x0)
                              .arg(qint64(image->y1) - image->y0)
                              .arg(columns)
                              .arg(rows));
    }
    if (image->numcomps != 1 || !image->comps || image->comps[0].dx != 1
        || image->comps[0].dy != 1) {
        return refuse(QStringLiteral("JPEG 2000 image of %1 components in a grey DICOM image")
                              .arg(image->numcomps));
    }
    const OPJ_UINT32 precision = image->comps[0].prec;
    if (precision < 1 || precision > OPJ_UINT32(maxPrecision)) {
        return refuse(QStringLiteral("JPEG 2000 samples of %1 bits in %2 bits allocated")
                              .arg(precision)
                              .arg(maxPrecision));
    }

    if (!opj_decode(codec.get(), stream.get(), image.get())
        || !opj_end_decompress(codec.get(), stream.get())) {
        return failed("decoding");
    }
    const opj_image_comp_t &grey = image->comps[0];
    if (grey.w != OPJ_UINT32(columns) || grey.h != OPJ_UINT32(rows) || !grey.data
        || grey.prec != precision) {
        return refuse(QStringLiteral("JPEG 2000 decoder made another image than its header said"));
    }
    samples->precision = int(precision);
    samples->isSigned = grey.sgnd != 0;
    try {
        samples->values.assign(grey.data, grey.data + size_t(columns) * size_t(rows));
    } catch (const std::bad_alloc &) {
        return refuse(QStringLiteral("no memory for a JPEG 2000 image of %1 x %2")
                              .arg(columns)
                              .arg(rows));
    }
    return true;
}
