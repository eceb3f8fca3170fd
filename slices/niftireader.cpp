#include "slices/volumefile.h"
#include "slices/volumecells.h"

#include <QFile>
#include <QFileInfo>

#include <nifti2_io.h>

#include <cstring>
#include <mutex>

namespace {

// The header as it lies in the file, read before the library is asked for
// anything: the library trusts the dimensions (their product overflows), the
// offset of the data (a float turned into an int) and reads extensions as
// long as that offset says.
struct RawHeader
{
    int version = 0; // 1 or 2; 0: no NIfTI header
    bool twoFiles = false;
    bool swapped = false;
    qint64 dim[8] = {};
    int datatype = 0;
    double spacing[3] = {}; // the library makes 0 and no number 1
    int units = 0;
    double voxOffset = 0;
};

template<typename T>
T field(const unsigned char *bytes, int offset, bool swapped)
{
    T value;
    std::memcpy(&value, bytes + offset, sizeof(T));
    if (swapped) {
        unsigned char reversed[sizeof(T)];
        std::memcpy(reversed, &value, sizeof(T));
        for (size_t b = 0; b < sizeof(T) / 2; ++b)
            std::swap(reversed[b], reversed[sizeof(T) - 1 - b]);
        std::memcpy(&value, reversed, sizeof(T));
    }
    return value;
}

RawHeader rawHeader(const unsigned char *bytes, size_t size)
{
    RawHeader header;
    if (size < 348)
        return header;
    const qint32 length = field<qint32>(bytes, 0, false);
    const qint32 swappedLength = field<qint32>(bytes, 0, true);
    if ((length == 348 || swappedLength == 348)
        && (!std::memcmp(bytes + 344, "n+1", 4) || !std::memcmp(bytes + 344, "ni1", 4))) {
        header.version = 1;
        header.swapped = length != 348;
        header.twoFiles = bytes[345] == 'i';
        for (int i = 0; i < 8; ++i)
            header.dim[i] = field<qint16>(bytes, 40 + 2 * i, header.swapped);
        for (int i = 0; i < 3; ++i)
            header.spacing[i] = field<float>(bytes, 80 + 4 * i, header.swapped);
        header.units = bytes[123];
        header.datatype = field<qint16>(bytes, 70, header.swapped);
        header.voxOffset = field<float>(bytes, 108, header.swapped);
    } else if (size >= 540 && (length == 540 || swappedLength == 540)
               && (!std::memcmp(bytes + 4, "n+2\0\r\n\032\n", 8)
                   || !std::memcmp(bytes + 4, "ni2\0\r\n\032\n", 8))) {
        header.version = 2;
        header.swapped = length != 540;
        header.twoFiles = bytes[5] == 'i';
        for (int i = 0; i < 8; ++i)
            header.dim[i] = field<qint64>(bytes, 16 + 8 * i, header.swapped);
        for (int i = 0; i < 3; ++i)
            header.spacing[i] = field<double>(bytes, 112 + 8 * i, header.swapped);
        header.units = field<qint32>(bytes, 500, header.swapped);
        header.datatype = field<qint16>(bytes, 12, header.swapped);
        header.voxOffset = double(field<qint64>(bytes, 168, header.swapped));
    }
    return header;
}

bool endsWith(const QString &name, const char *suffix)
{
    return name.endsWith(QLatin1String(suffix), Qt::CaseInsensitive);
}

std::optional<StoredType> storedType(int datatype)
{
    switch (datatype) {
    case NIFTI_TYPE_INT8: return StoredType::Int8;
    case NIFTI_TYPE_UINT8: return StoredType::UInt8;
    case NIFTI_TYPE_INT16: return StoredType::Int16;
    case NIFTI_TYPE_UINT16: return StoredType::UInt16;
    case NIFTI_TYPE_INT32: return StoredType::Int32;
    case NIFTI_TYPE_UINT32: return StoredType::UInt32;
    case NIFTI_TYPE_INT64: return StoredType::Int64;
    case NIFTI_TYPE_UINT64: return StoredType::UInt64;
    case NIFTI_TYPE_FLOAT32: return StoredType::Float32;
    case NIFTI_TYPE_FLOAT64: return StoredType::Float64;
    default: return std::nullopt;
    }
}

// Millimetres in one unit of the file's spacing.
double millimetres(int units)
{
    switch (units) {
    case NIFTI_UNITS_METER: return 1000.0;
    case NIFTI_UNITS_MICRON: return 0.001;
    default: return 1.0;
    }
}

struct ImageFree
{
    void operator()(nifti_image *image) const { nifti_image_free(image); }
};

struct FileClose
{
    void operator()(znzptr *file) const { znzclose(file); }
};

} // namespace

std::vector<std::unique_ptr<Slice>> readNiftiFile(const QString &fileName, QString *whyNot)
{
    const auto refuse = [whyNot](const QString &reason) {
        if (whyNot)
            *whyNot = reason;
        return std::vector<std::unique_ptr<Slice>>();
    };
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        // The library's own messages would come beside our one line a file.
        nifti_set_debug_level(0);
        nifti_set_allow_upper_fext(1);
    });

    // Without its suffix the library would look for other files of that name.
    const bool compressed = endsWith(fileName, ".gz");
    const QString plain = compressed ? fileName.chopped(3) : fileName;
    const bool dataFile = endsWith(plain, ".img");
    if (!endsWith(plain, ".nii") && !endsWith(plain, ".hdr") && !dataFile)
        return {};
    const QByteArray name = QFile::encodeName(fileName);

    const auto readRawHeader = [](const QByteArray &path, bool gz) {
        unsigned char bytes[540] = {};
        std::unique_ptr<znzptr, FileClose> file(znzopen(path.constData(), "rb", gz));
        if (!file)
            return RawHeader();
        return rawHeader(bytes, znzread(bytes, 1, sizeof(bytes), file.get()));
    };
    if (dataFile) {
        // Its header names and places it; given the data alone as well, the
        // volume would load twice from a selection of both.
        for (const char *suffix : { ".hdr", ".HDR" }) {
            const QString headerName = plain.chopped(4) + QLatin1String(suffix);
            for (const QString &candidate : { headerName, headerName + QStringLiteral(".gz") }) {
                if (QFileInfo(candidate).isFile()
                    && readRawHeader(QFile::encodeName(candidate),
                                     candidate.endsWith(QLatin1String(".gz")))
                                    .version
                            != 0) {
                    return refuse(QStringLiteral("NIfTI image data, read through its header %1")
                                          .arg(QFileInfo(candidate).fileName()));
                }
            }
        }
        return {};
    }
    const RawHeader header = readRawHeader(name, compressed);
    if (header.version == 0)
        return {};

    const qint64 fileSize = QFileInfo(fileName).size();
    const qint64 ndim = header.dim[0];
    if (ndim < 2 || ndim > 7)
        return refuse(QStringLiteral("NIfTI image of %1 dimensions").arg(ndim));
    for (int i = 4; i <= ndim; ++i) {
        if (header.dim[i] != 1) {
            return refuse(QStringLiteral("NIfTI image of %1 dimensions, extent %2 in the %3th")
                                  .arg(ndim)
                                  .arg(header.dim[i])
                                  .arg(i));
        }
    }
    const QString tooLarge =
            volumeTooLarge(header.dim[1], header.dim[2], ndim >= 3 ? header.dim[3] : 1);
    if (!tooLarge.isEmpty())
        return refuse(QStringLiteral("NIfTI ") + tooLarge);
    // Extensions run up to the data in a file of one piece; the library reads
    // them into memory of that size.
    const qint64 reach = compressed ? mostInflated(fileSize) : fileSize;
    if (!(header.voxOffset >= 0 && header.voxOffset <= std::numeric_limits<qint32>::max())
        || (!header.twoFiles && header.voxOffset > double(reach))) {
        return refuse(QStringLiteral("NIfTI data offset %1 outside the file")
                              .arg(header.voxOffset));
    }

    // The library says why it refuses a type on the error stream.
    const std::optional<StoredType> type = storedType(header.datatype);
    if (!type) {
        const char *typeName = nifti_datatype_string(header.datatype);
        return refuse(QStringLiteral("NIfTI image of %1 values, not grey numbers")
                              .arg(QString::fromLatin1(typeName ? typeName : "unknown")));
    }

    std::unique_ptr<nifti_image, ImageFree> image(nifti_image_read(name.constData(), 0));
    if (!image)
        return refuse(QStringLiteral("unreadable NIfTI header"));
    VolumeLayout layout;
    layout.columns = image->nx;
    layout.rows = image->ny;
    layout.slices = image->nz;
    layout.type = *type;
    layout.swapped = image->byteorder != nifti_short_order();
    // The same dimensions as checked above, or the library read another file.
    if (image->dim[1] != header.dim[1] || image->dim[2] != header.dim[2]
        || image->nvox != layout.sliceCells() * layout.slices || !image->iname
        || image->datatype != header.datatype) {
        return refuse(QStringLiteral("NIfTI header read two ways"));
    }
    if (image->scl_slope != 0.0 && std::isfinite(image->scl_slope)) {
        layout.scaled = true;
        layout.slope = image->scl_slope;
        layout.intercept = std::isfinite(image->scl_inter) ? image->scl_inter : 0.0;
    }
    const double unit = millimetres(header.units & 7);
    for (int i = 0; i < 3; ++i)
        layout.spacing[i] = header.spacing[i] * unit;

    // Uncompressed data must lie within its file before anything is made for
    // it; compressed data can claim at most what its bytes could inflate to.
    const QString dataName = QFile::decodeName(image->iname);
    const bool dataCompressed = nifti_is_gzfile(image->iname);
    const qint64 dataFileSize = QFileInfo(dataName).size();
    const qint64 offset = image->iname_offset;
    const qint64 dataReach = dataCompressed ? mostInflated(dataFileSize) : dataFileSize;
    if (offset < 0 || offset > dataReach || layout.dataBytes() > dataReach - offset) {
        return refuse(QStringLiteral("NIfTI data of %1 bytes beyond the end of %2")
                              .arg(layout.dataBytes())
                              .arg(QFileInfo(dataName).fileName()));
    }

    VolumeCells cells(fileName, layout);
    const QString overBudget = cells.takeBudget(layout.sliceBytes());
    if (!overBudget.isEmpty())
        return refuse(overBudget);
    std::unique_ptr<znzptr, FileClose> data(
            znzopen(image->iname, "rb", dataCompressed));
    if (!data || znzseek(data.get(), offset, SEEK_SET) != (dataCompressed ? offset : 0))
        return refuse(QStringLiteral("NIfTI data of %1 cannot be read").arg(dataName));
    std::vector<unsigned char> stored;
    try {
        stored.resize(size_t(layout.sliceBytes()));
    } catch (const std::bad_alloc &) {
        return refuse(QStringLiteral("no memory for a NIfTI slice"));
    }
    for (qint64 k = 0; k < layout.slices; ++k) {
        if (znzread(stored.data(), 1, stored.size(), data.get()) != stored.size())
            return refuse(QStringLiteral("NIfTI data shorter than its header says"));
        const QString failed = cells.addSlice(stored.data());
        if (!failed.isEmpty())
            return refuse(QStringLiteral("NIfTI ") + failed);
    }
    return cells.take();
}
