#include "slices/dicomreader.h"
#include "slices/slice.h"

#include <QByteArray>
#include <QFile>
#include <QImageReader>
#include <QList>
#include <QLocale>

#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmdata/dccodec.h"
#include "dcmtk/dcmdata/dcdatset.h"
#include "dcmtk/dcmdata/dcdeftag.h"
#include "dcmtk/dcmdata/dcfilefo.h"
#include "dcmtk/dcmdata/dcmetinf.h"
#include "dcmtk/dcmdata/dcpixel.h"
#include "dcmtk/dcmdata/dcpixseq.h"
#include "dcmtk/dcmdata/dcpxitem.h"
#include "dcmtk/dcmdata/dcrledrg.h"
#include "dcmtk/dcmdata/dcuid.h"
#include "dcmtk/dcmdata/dcxfer.h"
#include "dcmtk/dcmjpeg/djdecode.h"
#include "dcmtk/dcmjpls/djdecode.h"
#include "dcmtk/oflog/oflog.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

namespace {

// The largest sample buffer a reading thread keeps between files: a 2048 x
// 2048 slice of 16 bits. Larger ones are made for their file alone.
constexpr size_t keptWords = size_t(2048) * 2048;

void setUpDicom()
{
    // Once per process, before any thread reads a file: the library's own
    // log would repeat what the reader says in one line, and its decoders
    // are registered in a list that every thread shares.
    static const bool ready = [] {
        OFLog::configure(OFLogger::OFF_LOG_LEVEL);
        DcmRLEDecoderRegistration::registerCodecs();
        DJDecoderRegistration::registerCodecs();
        DJLSDecoderRegistration::registerCodecs();
        return true;
    }();
    Q_UNUSED(ready);
}

// Whether the file's first bytes are those of a DICOM file: the "DICM" mark
// after the 128-byte preamble, or a dataset written without it, which opens
// with an element of the file meta or the identifying group, in either byte
// order. Anything else never reaches the library.
bool looksLikeDicom(const QByteArray &head)
{
    if (head.size() >= 132 && head.mid(128, 4) == "DICM")
        return true;
    if (head.size() < 8)
        return false;
    const auto byte = [&head](int i) { return uchar(head.at(i)); };
    const int little = byte(0) | byte(1) << 8;
    const int big = byte(0) << 8 | byte(1);
    return little == 0x0002 || little == 0x0008 || big == 0x0008;
}

QString text(const OFString &value)
{
    return QString::fromLatin1(value.c_str()).trimmed();
}

// Whether the dataset after the file meta header is deflated. The library
// cannot weigh an element's length against a deflated stream, so it makes
// room for whatever length a header claims, up to 4 GiB, before it finds the
// stream too short; such files are refused before the library reads them.
bool deflated(const QString &fileName)
{
    DcmFileFormat meta;
    OFString syntax;
    return meta.loadFile(OFFilename(QFile::encodeName(fileName).constData()), EXS_Unknown,
                         EGL_noChange, DCM_MaxReadLength, ERM_metaOnly)
                   .good()
            && meta.getMetaInfo()->findAndGetOFString(DCM_TransferSyntaxUID, syntax).good()
            && text(syntax) == QLatin1String(UID_DeflatedExplicitVRLittleEndianTransferSyntax);
}

// One component of a decimal-string attribute, read as the text slices read
// their values so that both round alike. Absent: false with *present false.
bool decimal(DcmItem *item, const DcmTagKey &tag, unsigned long pos, double *value,
             bool *present = nullptr)
{
    OFString field;
    const bool found = item->findAndGetOFString(tag, field, pos).good();
    if (present)
        *present = found;
    if (!found)
        return false;
    bool ok = false;
    *value = QLocale::c().toDouble(text(field), &ok);
    return ok && std::isfinite(*value);
}

template<size_t N>
void readNumbers(DcmItem *item, const DcmTagKey &tag, DicomPlacement::Numbers<N> *numbers)
{
    numbers->present = item->tagExists(tag);
    numbers->readable = numbers->present;
    for (size_t i = 0; i < N; ++i) {
        numbers->readable = decimal(item, tag, static_cast<unsigned long>(i), &numbers->values[i])
                && numbers->readable;
    }
}

DicomPlacement placement(DcmItem *item)
{
    DicomPlacement place;
    OFString series;
    place.seriesPresent = item->tagExists(DCM_SeriesInstanceUID);
    if (item->findAndGetOFString(DCM_SeriesInstanceUID, series).good())
        place.series = text(series);
    readNumbers(item, DCM_ImagePositionPatient, &place.position);
    readNumbers(item, DCM_ImageOrientationPatient, &place.orientation);
    readNumbers(item, DCM_PixelSpacing, &place.pixelSpacing);
    return place;
}

bool integer(DcmItem *item, const DcmTagKey &tag, qint64 *value)
{
    OFString field;
    if (item->findAndGetOFString(tag, field).bad())
        return false;
    bool ok = false;
    *value = text(field).toLongLong(&ok);
    return ok;
}

// Fills the grid from stored samples of one width: the stored value sits in
// bitsStored bits ending at highBit, two's complement when signed; bits
// outside it (overlays, padding) do not count. The rescale is monotonic, so
// the range follows from the smallest and largest stored value.
template<typename Sample>
void fillGrid(double *cells, const Sample *raw, qint64 count, int bitsStored, int highBit,
              bool isSigned, double slope, double intercept, double *low, double *high)
{
    const int shift = highBit + 1 - bitsStored;
    const qint32 mask = (qint32(1) << bitsStored) - 1;
    const qint32 signBit = isSigned ? qint32(1) << (bitsStored - 1) : 0;
    qint32 least = mask;
    qint32 most = -mask - 1;
    for (qint64 i = 0; i < count; ++i) {
        const qint32 bits = (qint32(raw[i]) >> shift) & mask;
        const qint32 stored = bits - 2 * (bits & signBit);
        least = std::min(least, stored);
        most = std::max(most, stored);
        cells[i] = double(stored) * slope + intercept;
    }
    const double first = double(least) * slope + intercept;
    const double last = double(most) * slope + intercept;
    *low = std::min(first, last);
    *high = std::max(first, last);
}

// Whether DCMTK 3.6.7's JPEG decoder would stall on a fragment: before it
// decodes, it walks the markers up to the frame header to learn the sample
// precision, and a TEM marker (FF 01) on that walk never moves it on, so the
// reading thread would spin for good. The walk here takes the same steps.
bool stallsJpegScan(const Uint8 *data, Uint32 length)
{
    quint64 at = 0;
    while (at + 4 < length) {
        if (data[at] != 0xff)
            return false;
        const Uint8 code = data[at + 1];
        if (code == 0x01)
            return true;
        const bool frameHeader = code >= 0xc0 && code <= 0xcf && code != 0xc4 && code != 0xc8
                && code != 0xcc;
        if (frameHeader || code <= 0x02)
            return false;
        // A fill byte is passed by itself; reserved, restart, start and end of
        // image are bare markers; the rest carry their length.
        if (code == 0xff)
            at += 1;
        else if (code <= 0xbf || (code >= 0xd0 && code <= 0xd9))
            at += 2;
        else
            at += 2 + (quint64(data[at + 2]) << 8 | data[at + 3]);
    }
    return false;
}

} // namespace

bool Slice::readDicom(const QString &fileName, QString *whyNot)
{
    dicom.reset();
    const auto refuse = [whyNot](const QString &reason) {
        if (whyNot)
            *whyNot = reason;
        return false;
    };

    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(QStringLiteral("cannot be opened"));
    const qint64 fileSize = file.size();
    if (!looksLikeDicom(file.read(132)))
        return refuse(QStringLiteral("not a picture, text slice or DICOM file"));
    file.close();

    setUpDicom();
    if (deflated(fileName))
        return refuse(QStringLiteral("deflated DICOM file (its lengths cannot be checked)"));
    DcmFileFormat format;
    OFCondition status = format.loadFile(OFFilename(QFile::encodeName(fileName).constData()));
    if (status.bad())
        return refuse(QStringLiteral("unreadable DICOM file (%1)").arg(status.text()));
    DcmDataset *data = format.getDataset();

    DcmElement *element = nullptr;
    if (data->findAndGetElement(DCM_PixelData, element).bad() || !element
        || element->ident() != EVR_PixelData) {
        return refuse(QStringLiteral("DICOM object without an image"));
    }
    auto *pixels = static_cast<DcmPixelData *>(element);

    qint64 frames = 1;
    OFString framesText;
    if (data->findAndGetOFString(DCM_NumberOfFrames, framesText).good()) {
        if (!integer(data, DCM_NumberOfFrames, &frames) || frames < 1) {
            return refuse(QStringLiteral("DICOM image with an unreadable number of frames (%1)")
                                  .arg(text(framesText)));
        }
    }
    if (frames > 1)
        return refuse(QStringLiteral("multi-frame DICOM image (%1 frames)").arg(frames));

    Uint16 samples = 1;
    if (data->tagExists(DCM_SamplesPerPixel) && data->findAndGetUint16(DCM_SamplesPerPixel,
                                                                       samples).bad()) {
        samples = 0;
    }
    OFString photometricText;
    data->findAndGetOFString(DCM_PhotometricInterpretation, photometricText);
    const QString photometric = text(photometricText);
    if (samples != 1
        || (photometric != QLatin1String("MONOCHROME1")
            && photometric != QLatin1String("MONOCHROME2"))) {
        return refuse(QStringLiteral("colour DICOM image (%1, %2 samples per pixel)")
                              .arg(photometric.isEmpty() ? QStringLiteral("no photometric "
                                                                          "interpretation")
                                                         : photometric)
                              .arg(samples));
    }

    Uint16 bitsAllocated = 0;
    Uint16 bitsStored = 0;
    Uint16 highBit = 0;
    Uint16 representation = 0;
    data->findAndGetUint16(DCM_BitsAllocated, bitsAllocated);
    if (data->findAndGetUint16(DCM_BitsStored, bitsStored).bad())
        bitsStored = bitsAllocated;
    if (data->findAndGetUint16(DCM_HighBit, highBit).bad())
        highBit = bitsStored - 1;
    data->findAndGetUint16(DCM_PixelRepresentation, representation);
    if ((bitsAllocated != 8 && bitsAllocated != 16) || bitsStored < 1
        || bitsStored > bitsAllocated || highBit < bitsStored - 1 || highBit >= bitsAllocated
        || representation > 1) {
        return refuse(QStringLiteral("DICOM image of %1 bits allocated, %2 stored, high bit %3, "
                                     "pixel representation %4")
                              .arg(bitsAllocated)
                              .arg(bitsStored)
                              .arg(highBit)
                              .arg(representation));
    }

    Uint16 rowCount = 0;
    Uint16 columns = 0;
    data->findAndGetUint16(DCM_Rows, rowCount);
    data->findAndGetUint16(DCM_Columns, columns);
    if (rowCount == 0 || columns == 0)
        return refuse(QStringLiteral("DICOM image of %1 x %2 cells").arg(columns).arg(rowCount));
    const qint64 cells = qint64(rowCount) * columns;
    if (cells > maxCells) {
        return refuse(QStringLiteral("DICOM image of %1 x %2 cells, more than the limit of %3")
                              .arg(columns)
                              .arg(rowCount)
                              .arg(maxCells));
    }
    const qint64 bytesNeeded = cells * (bitsAllocated / 8);
    const QString shortData =
            QStringLiteral("DICOM pixel data shorter than rows x columns x samples (%1)");
    const QString cutShort = shortData.arg(QStringLiteral("the file ends within it"));
    const auto bytesShort = [&shortData, bytesNeeded](qint64 length) {
        return shortData.arg(QStringLiteral("%1 of %2 bytes").arg(length).arg(bytesNeeded));
    };

    double slope = 1.0;
    double intercept = 0.0;
    bool present = false;
    if ((!decimal(data, DCM_RescaleSlope, 0, &slope, &present) && present)
        || (!decimal(data, DCM_RescaleIntercept, 0, &intercept, &present) && present)) {
        return refuse(QStringLiteral("DICOM rescale slope or intercept is no finite number"));
    }

    // The grid is made once the pixel data is known to be there, and before it
    // is loaded or decoded: the buffer that then comes and goes lies above the
    // grid in the heap and leaves no gaps that slow later allocations down.
    double *grid = nullptr;
    const auto makeCells = [&] {
        grid = makeBlockGrid(columns, rowCount);
        return grid != nullptr;
    };
    const QString noMemory =
            QStringLiteral("no memory for a grid of %1 x %2").arg(columns).arg(rowCount);

    E_TransferSyntax encoding = EXS_Unknown;
    const DcmRepresentationParameter *parameter = nullptr;
    pixels->getOriginalRepresentationKey(encoding, parameter);
    const DcmXfer originalEncoding(encoding);
    if (originalEncoding.isEncapsulated()) {
        // Fragments are read as the library decodes them, each into a buffer of
        // the length its header gives: no fragment may claim more than the file.
        DcmPixelSequence *sequence = nullptr;
        if (pixels->getEncapsulatedRepresentation(encoding, parameter, sequence).bad()
            || !sequence) {
            return refuse(QStringLiteral("DICOM decoder failed (no compressed pixel data)"));
        }
        qint64 claimed = 0;
        bool stalls = false;
        for (unsigned long i = 0; i < sequence->card(); ++i) {
            DcmPixelItem *fragment = nullptr;
            if (sequence->getItem(fragment, i).bad() || !fragment)
                continue;
            claimed += fragment->getLength();
            Uint8 *bytes = nullptr;
            if (claimed <= fileSize && fragment->getUint8Array(bytes).good() && bytes)
                stalls = stalls || stallsJpegScan(bytes, fragment->getLength());
        }
        if (claimed > fileSize)
            return refuse(cutShort);
        if (stalls)
            return refuse(QStringLiteral("DICOM JPEG data with a TEM marker before its frame header"));
        if (!DcmCodecList::canChangeCoding(encoding, EXS_LittleEndianExplicit)) {
            return refuse(QStringLiteral("no DICOM decoder for %1")
                                  .arg(QString::fromLatin1(originalEncoding.getXferName())));
        }
        if (!makeCells())
            return refuse(noMemory);
        status = data->chooseRepresentation(EXS_LittleEndianExplicit, nullptr);
        if (status.bad() || !data->canWriteXfer(EXS_LittleEndianExplicit))
            return refuse(QStringLiteral("DICOM decoder failed (%1)").arg(status.text()));
        if (qint64(pixels->getLength()) < bytesNeeded)
            return refuse(bytesShort(pixels->getLength()));
    } else {
        // A value still in the file must lie within it; only then is a grid
        // made for it, so a few forged bytes never claim a large one.
        if (!pixels->valueLoaded() && qint64(pixels->getLength()) > fileSize)
            return refuse(cutShort);
        if (qint64(pixels->getLength()) < bytesNeeded)
            return refuse(bytesShort(pixels->getLength()));
        if (!makeCells())
            return refuse(noMemory);
    }

    // The samples are copied out of the file (or out of what the decoder made)
    // into a buffer each thread keeps for the next file, in local byte order:
    // a buffer made anew for every slice of a long series costs more in fresh
    // memory than the copy does.
    thread_local std::vector<Uint16> kept;
    std::vector<Uint16> once;
    const size_t words = size_t(bytesNeeded + 1) / 2;
    std::vector<Uint16> &buffer = words <= keptWords ? kept : once;
    buffer.resize(words);
    status = pixels->getPartialValue(buffer.data(), 0, Uint32(bytesNeeded));
    if (status == EC_StreamNotifyClient || status == EC_InvalidStream)
        return refuse(cutShort);
    if (status.bad())
        return refuse(QStringLiteral("DICOM pixel data unreadable (%1)").arg(status.text()));

    width = columns;
    height = rowCount;
    const bool isSigned = representation == 1;
    if (bitsAllocated == 8) {
        fillGrid(grid, reinterpret_cast<const Uint8 *>(buffer.data()), cells, bitsStored,
                 highBit, isSigned, slope, intercept, &min, &max);
    } else {
        fillGrid(grid, buffer.data(), cells, bitsStored, highBit, isSigned, slope, intercept,
                 &min, &max);
    }
    // A huge slope can carry the values beyond the doubles; no such value may
    // reach the range or the histogram.
    if (!std::isfinite(min) || !std::isfinite(max)) {
        dropGrid();
        return refuse(QStringLiteral("DICOM rescaled values beyond the range of numbers"));
    }
    dicom = placement(data);
    return true;
}

namespace {

// What the header pass learns of one file.
struct Header
{
    bool image = false;     // carries pixel data
    bool placed = false;    // carries a usable position and orientation
    QString series;
    double position[3] = {};
    double orientation[6] = {};
    bool numbered = false;
    qint64 number = 0;
};

bool readHeader(const QString &fileName, Header *header)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(132);
    file.close();
    if (!looksLikeDicom(head) || head.startsWith('#'))
        return false;
    // A file a picture reader reads loads as a picture, never as a DICOM image.
    // Many DICOM files open with a TIFF header in their preamble, which the
    // picture reader claims but then fails to read.
    QImageReader picture(fileName);
    if (picture.canRead() && !picture.read().isNull())
        return false;

    setUpDicom();
    if (deflated(fileName))
        return false;
    DcmFileFormat format;
    // Long values, the pixel data above all, stay in the file.
    if (format.loadFile(OFFilename(QFile::encodeName(fileName).constData()), EXS_Unknown,
                        EGL_noChange, 1024)
                .bad()) {
        return false;
    }
    DcmDataset *data = format.getDataset();
    header->image = data->tagExists(DCM_PixelData);
    OFString series;
    data->findAndGetOFString(DCM_SeriesInstanceUID, series);
    header->series = text(series);
    header->placed = !header->series.isEmpty();
    for (int i = 0; i < 3; ++i)
        header->placed = header->placed && decimal(data, DCM_ImagePositionPatient, i,
                                                   &header->position[i]);
    for (int i = 0; i < 6; ++i)
        header->placed = header->placed && decimal(data, DCM_ImageOrientationPatient, i,
                                                   &header->orientation[i]);
    header->numbered = integer(data, DCM_InstanceNumber, &header->number);
    return true;
}

} // namespace

QStringList loadingOrder(const QStringList &files, const std::atomic<bool> *stop)
{
    struct Image
    {
        QString name;
        Header header;
        double along = 0.0;
    };
    QList<Image> images;
    QStringList others;
    for (const QString &name : files) {
        if (stop && stop->load())
            return files;
        Header header;
        if (!readHeader(name, &header) || !header.image) {
            others.append(name);
            continue;
        }
        if (!header.placed || (!images.isEmpty() && header.series != images.first().header.series))
            return files;
        images.append({ name, header });
    }
    if (images.isEmpty())
        return files;

    const double *o = images.first().header.orientation;
    const double normal[3] = { o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5],
                               o[0] * o[4] - o[1] * o[3] };
    if (normal[0] == 0.0 && normal[1] == 0.0 && normal[2] == 0.0)
        return files;
    for (Image &image : images) {
        const double *p = image.header.position;
        image.along = p[0] * normal[0] + p[1] * normal[1] + p[2] * normal[2];
        if (!std::isfinite(image.along))
            return files;
    }
    std::stable_sort(images.begin(), images.end(), [](const Image &a, const Image &b) {
        if (a.along != b.along)
            return a.along < b.along;
        // Numbered images before unnumbered ones at one position.
        if (a.header.numbered != b.header.numbered)
            return a.header.numbered;
        return a.header.numbered && a.header.number < b.header.number;
    });

    QStringList order;
    order.reserve(files.size());
    for (const Image &image : images)
        order.append(image.name);
    order.append(others);
    return order;
}
