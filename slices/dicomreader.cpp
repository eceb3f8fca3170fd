#include "slices/dicomreader.h"
#include "slices/cellwriter.h"
#include "slices/jpeg2000.h"
#include "slices/memorybudget.h"
#include "slices/slice.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QList>
#include <QLocale>
#include <QRegularExpression>

#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmdata/dccodec.h"
#include "dcmtk/dcmdata/dcdatset.h"
#include "dcmtk/dcmdata/dcdeftag.h"
#include "dcmtk/dcmdata/dcfcache.h"
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
#include <array>
#include <cfloat>
#include <cmath>
#include <limits>
#include <map>
#include <new>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// The components of an element the file gives as of unknown kind (UN), as
// some writers do for attributes of dose grids: the library would show its
// bytes in hex, but they are the attribute's text.
bool unknownParts(DcmElement *element, QList<QByteArray> *parts)
{
    Uint8 *bytes = nullptr;
    if (element->ident() != EVR_UN || element->getLength() == 0
        || element->getUint8Array(bytes).bad() || !bytes) {
        return false;
    }
    *parts = QByteArray(reinterpret_cast<const char *>(bytes), qsizetype(element->getLength()))
                     .split('\\');
    for (QByteArray &part : *parts)
        part = part.replace('\0', ' ').trimmed();
    return true;
}

// One component of a number attribute as text, as the library gives it.
bool numberText(DcmItem *item, const DcmTagKey &tag, unsigned long pos, QString *out)
{
    DcmElement *element = nullptr;
    if (item->findAndGetElement(tag, element).bad() || !element)
        return false;
    if (element->ident() == EVR_UN) {
        QList<QByteArray> parts;
        if (!unknownParts(element, &parts) || pos >= static_cast<unsigned long>(parts.size()))
            return false;
        *out = QString::fromLatin1(parts.at(qsizetype(pos)));
        return true;
    }
    OFString field;
    if (element->getOFString(field, pos).bad())
        return false;
    *out = text(field);
    return true;
}

// Every component of a number attribute, trimmed.
QStringList numberTexts(DcmItem *item, const DcmTagKey &tag)
{
    DcmElement *element = nullptr;
    QStringList texts;
    if (item->findAndGetElement(tag, element).bad() || !element)
        return texts;
    QList<QByteArray> parts;
    OFString all;
    if (!unknownParts(element, &parts) && element->getOFStringArray(all).good())
        parts = QByteArray(all.c_str()).split('\\');
    for (const QByteArray &part : parts)
        texts.append(QString::fromLatin1(part).trimmed());
    return texts;
}

// One component of a decimal-string attribute, read as the text slices read
// their values so that both round alike. Absent: false with *present false.
bool decimal(DcmItem *item, const DcmTagKey &tag, unsigned long pos, double *value,
             bool *present = nullptr)
{
    QString field;
    const bool found = numberText(item, tag, pos, &field);
    if (present)
        *present = found;
    if (!found)
        return false;
    bool ok = false;
    *value = QLocale::c().toDouble(field, &ok);
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
    QString field;
    if (!numberText(item, tag, 0, &field))
        return false;
    bool ok = false;
    *value = field.toLongLong(&ok);
    return ok;
}

// Fills the grid from stored samples of one width: the stored value sits in
// bitsStored bits ending at highBit, two's complement when signed; bits
// outside it (overlays, padding) do not count. The rescale is monotonic, so
// the range follows from the smallest and largest stored value.
// Word is wide enough for the stored value and its sign: 64 bits for samples
// of 32.
// 16-bit samples to 16-bit cells in 16-bit lanes, which the compiler turns
// into vector code: the stored value shifted to the top of the word and back
// (arithmetically when signed), plus the offset modulo 2^16, which is exact
// whenever the range the stored values give fits. Returns that range.
// Eight at a time where the machine has SSE2 (every x86-64): the compiler
// leaves this loop scalar at -O2. The top bit is flipped for unsigned values,
// since SSE2 compares only signed 16-bit numbers.
template<bool isSigned>
std::pair<qint32, qint32> narrowSamples(qint16 *out, const Uint16 *raw, qint64 count,
                                        int bitsStored, int highBit, qint16 offset)
{
    const int up = 15 - highBit;
    const int down = 16 - bitsStored;
    const auto convert = [up, down](Uint16 sample) -> qint32 {
        if constexpr (isSigned)
            return qint16(qint16(Uint16(sample << up)) >> down);
        return Uint16(Uint16(sample << up) >> down);
    };
    qint32 least = isSigned ? 32767 : 65535;
    qint32 most = isSigned ? -32768 : 0;
    qint64 i = 0;
#ifdef __SSE2__
    const __m128i upBy = _mm_cvtsi32_si128(up);
    const __m128i downBy = _mm_cvtsi32_si128(down);
    const __m128i shift = _mm_set1_epi16(isSigned ? 0 : qint16(-32768));
    const __m128i added = _mm_set1_epi16(offset);
    __m128i low = _mm_set1_epi16(32767);
    __m128i high = _mm_set1_epi16(-32768);
    for (; i + 8 <= count; i += 8) {
        __m128i v = _mm_sll_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(raw + i)), upBy);
        v = isSigned ? _mm_sra_epi16(v, downBy) : _mm_srl_epi16(v, downBy);
        const __m128i ordered = _mm_xor_si128(v, shift);
        low = _mm_min_epi16(low, ordered);
        high = _mm_max_epi16(high, ordered);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_add_epi16(v, added));
    }
    alignas(16) qint16 lows[8];
    alignas(16) qint16 highs[8];
    _mm_store_si128(reinterpret_cast<__m128i *>(lows), low);
    _mm_store_si128(reinterpret_cast<__m128i *>(highs), high);
    if (i > 0) {
        for (int j = 0; j < 8; ++j) {
            const int back = isSigned ? 0 : 32768;
            least = std::min<qint32>(least, lows[j] + back);
            most = std::max<qint32>(most, highs[j] + back);
        }
    }
#endif
    for (; i < count; ++i) {
        const qint32 stored = convert(raw[i]);
        least = std::min(least, stored);
        most = std::max(most, stored);
        out[i] = qint16(Uint16(stored + offset));
    }
    return { least, most };
}

template<typename Sample, typename Word = qint32>
bool fillGrid(CellWriter &cells, const Sample *raw, qint64 count, int bitsStored, int highBit,
              bool isSigned, double slope, double intercept, double *low, double *high)
{
    const int shift = highBit + 1 - bitsStored;
    const Word mask = (Word(1) << bitsStored) - 1;
    const Word signBit = isSigned ? Word(1) << (bitsStored - 1) : 0;
    Word least = mask;
    Word most = -mask - 1;
    // Most scanners: slope 1 and a whole intercept, the sums exact in Word
    // (and no -0, since stored x 1 is +0 at worst). The cells are written as
    // 16-bit numbers and kept if the range fits; else written again below.
    if (cells.isNarrow() && slope == 1.0 && intercept == std::trunc(intercept)
        && std::abs(intercept) <= 65536.0) {
        const Word offset = Word(intercept);
        qint16 *out = cells.narrowCells();
        if constexpr (std::is_same_v<Sample, Uint16>) {
            std::tie(least, most) = isSigned
                    ? narrowSamples<true>(out, raw, count, bitsStored, highBit, qint16(offset))
                    : narrowSamples<false>(out, raw, count, bitsStored, highBit, qint16(offset));
        } else {
            for (qint64 i = 0; i < count; ++i) {
                const Word bits = (Word(raw[i]) >> shift) & mask;
                const Word stored = bits - 2 * (bits & signBit);
                least = std::min(least, stored);
                most = std::max(most, stored);
                out[i] = qint16(stored + offset);
            }
        }
        if (count > 0 && least + offset >= -32768 && most + offset <= 32767) {
            *low = double(least) + intercept;
            *high = double(most) + intercept;
            return true;
        }
        least = mask;
        most = -mask - 1;
    }
    const bool written = cells.fill(count, [&](qsizetype i) {
        const Word bits = (Word(raw[i]) >> shift) & mask;
        const Word stored = bits - 2 * (bits & signBit);
        least = std::min(least, stored);
        most = std::max(most, stored);
        return double(stored) * slope + intercept;
    });
    const double first = double(least) * slope + intercept;
    const double last = double(most) * slope + intercept;
    *low = std::min(first, last);
    *high = std::max(first, last);
    return written;
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

bool isJpeg2000(E_TransferSyntax encoding)
{
    return encoding == EXS_JPEG2000LosslessOnly || encoding == EXS_JPEG2000;
}

quint32 littleWord(const Uint8 *bytes)
{
    return quint32(bytes[0]) | quint32(bytes[1]) << 8 | quint32(bytes[2]) << 16
            | quint32(bytes[3]) << 24;
}

// Where each frame's fragments begin in an encapsulated pixel sequence (item
// 0 is the offset table), with the end of the last: one frame takes every
// fragment; as many fragments as frames give one each; else the offset table
// says, or, for JPEG 2000, each fragment that opens a code stream opens a
// frame. False when none of these fits the frames.
bool frameStarts(DcmPixelSequence *sequence, qint64 frames, bool jpeg2000,
                 std::vector<unsigned long> *starts)
{
    starts->clear();
    const unsigned long count = sequence->card();
    if (count < 2 || frames < 1 || qint64(count - 1) < frames)
        return false;
    const auto bytesOf = [sequence](unsigned long i, Uint32 *length) -> const Uint8 * {
        DcmPixelItem *item = nullptr;
        Uint8 *bytes = nullptr;
        if (sequence->getItem(item, i).bad() || !item)
            return nullptr;
        *length = item->getLength();
        if (*length == 0)
            return reinterpret_cast<const Uint8 *>("");
        return item->getUint8Array(bytes).good() ? bytes : nullptr;
    };
    if (frames == 1 || qint64(count - 1) == frames) {
        for (unsigned long i = 1; i < count && qint64(starts->size()) < frames; ++i)
            starts->push_back(i);
        starts->push_back(count);
        return true;
    }
    Uint32 tableLength = 0;
    const Uint8 *table = bytesOf(0, &tableLength);
    if (table && qint64(tableLength) == frames * 4) {
        // Offsets count from the first fragment's item tag, 8 bytes a tag.
        std::map<quint64, unsigned long> fragmentAt;
        quint64 at = 0;
        for (unsigned long i = 1; i < count; ++i) {
            DcmPixelItem *item = nullptr;
            if (sequence->getItem(item, i).bad() || !item)
                return false;
            fragmentAt[at] = i;
            at += 8 + quint64(item->getLength());
        }
        for (qint64 k = 0; k < frames; ++k) {
            const auto found = fragmentAt.find(littleWord(table + 4 * k));
            if (found == fragmentAt.end() || (!starts->empty() && found->second <= starts->back()))
                break;
            starts->push_back(found->second);
        }
        if (qint64(starts->size()) == frames && starts->front() == 1) {
            starts->push_back(count);
            return true;
        }
        starts->clear();
    }
    if (!jpeg2000)
        return false;
    for (unsigned long i = 1; i < count; ++i) {
        Uint32 length = 0;
        const Uint8 *bytes = bytesOf(i, &length);
        if (bytes && length >= 4 && bytes[0] == 0xff && bytes[1] == 0x4f && bytes[2] == 0xff
            && bytes[3] == 0x51) {
            starts->push_back(i);
        }
    }
    if (qint64(starts->size()) != frames || starts->front() != 1) {
        starts->clear();
        return false;
    }
    starts->push_back(count);
    return true;
}

// Decodes one frame's JPEG 2000 code stream, its fragments [first, end) put
// together.
bool decodeJpeg2000Frame(DcmPixelSequence *sequence, unsigned long first, unsigned long end,
                         int columns, int rows, int bitsAllocated, Jpeg2000Samples *samples,
                         QString *whyNot)
{
    std::vector<unsigned char> joined;
    const unsigned char *stream = nullptr;
    size_t size = 0;
    for (unsigned long i = first; i < end; ++i) {
        DcmPixelItem *fragment = nullptr;
        Uint8 *bytes = nullptr;
        if (sequence->getItem(fragment, i).bad() || !fragment)
            continue;
        const Uint32 length = fragment->getLength();
        if (length == 0)
            continue;
        if (fragment->getUint8Array(bytes).bad() || !bytes) {
            *whyNot = QStringLiteral("DICOM pixel data unreadable (a JPEG 2000 fragment)");
            return false;
        }
        if (end - first == 1) {
            stream = bytes;
            size = length;
        } else {
            try {
                joined.insert(joined.end(), bytes, bytes + length);
            } catch (const std::bad_alloc &) {
                *whyNot = QStringLiteral("no memory for a JPEG 2000 code stream");
                return false;
            }
        }
    }
    if (!stream) {
        stream = joined.data();
        size = joined.size();
    }
    return decodeJpeg2000(stream, size, columns, rows, bitsAllocated, samples, whyNot);
}

// A decoded JPEG 2000 frame into cells. The stream's own precision counts,
// and the header's Pixel Representation decides how its bits are read: a
// signed image whose stream says unsigned holds two's complement values.
bool fillJpeg2000(CellWriter &cells, const Jpeg2000Samples &samples, bool isSigned, double slope,
                  double intercept, double *low, double *high)
{
    return fillGrid<qint32, qint64>(cells, samples.values.data(),
                                    qint64(samples.values.size()), samples.precision,
                                    samples.precision - 1, isSigned, slope, intercept, low, high);
}

// Rescaled values must stay within the doubles.
bool finiteRange(double low, double high)
{
    return std::isfinite(low) && std::isfinite(high);
}

// How many cells a grey image has and how they hold their values.
struct CellBits
{
    Uint16 rows = 0;
    Uint16 columns = 0;
    Uint16 allocated = 0;
    Uint16 stored = 0;
    Uint16 highBit = 0;
    Uint16 representation = 0;
};

// False with the reason where the image is not one grey sample a pixel in 8
// or 16 bits a cell (or 32 where `wide`), its stored bits within them, in a
// grid of at least one cell and at most the slice's cell limit.
bool greyCells(DcmDataset *data, bool wide, CellBits *bits, QString *whyNot)
{
    Uint16 samples = 1;
    if (data->tagExists(DCM_SamplesPerPixel) && data->findAndGetUint16(DCM_SamplesPerPixel,
                                                                       samples).bad()) {
        samples = 0;
    }
    OFString photometricText;
    data->findAndGetOFString(DCM_PhotometricInterpretation, photometricText);
    const QString photometric = text(photometricText);
    const bool grey = photometric == QLatin1String("MONOCHROME1")
            || photometric == QLatin1String("MONOCHROME2");
    // Only several samples a pixel or a colour interpretation make a colour
    // image; one grey sample without its interpretation is a file lacking it.
    static const QRegularExpression colour(
            QStringLiteral("^(RGB|ARGB|CMYK|HSV|PALETTE COLOR|YBR_.*)$"));
    if (samples != 1 || (!grey && colour.match(photometric).hasMatch())) {
        *whyNot = QStringLiteral("colour DICOM image (%1, %2 samples per pixel)")
                          .arg(photometric.isEmpty() ? QStringLiteral("no photometric "
                                                                      "interpretation")
                                                     : photometric)
                          .arg(samples);
        return false;
    }
    if (photometric.isEmpty()) {
        *whyNot = QStringLiteral("DICOM image without a photometric interpretation");
        return false;
    }
    if (!grey) {
        *whyNot = QStringLiteral("DICOM image of unknown photometric interpretation \"%1\"")
                          .arg(photometric);
        return false;
    }

    data->findAndGetUint16(DCM_BitsAllocated, bits->allocated);
    if (data->findAndGetUint16(DCM_BitsStored, bits->stored).bad())
        bits->stored = bits->allocated;
    if (data->findAndGetUint16(DCM_HighBit, bits->highBit).bad())
        bits->highBit = bits->stored - 1;
    data->findAndGetUint16(DCM_PixelRepresentation, bits->representation);
    if ((bits->allocated != 8 && bits->allocated != 16 && (!wide || bits->allocated != 32))
        || bits->stored < 1 || bits->stored > bits->allocated
        || bits->highBit < bits->stored - 1 || bits->highBit >= bits->allocated
        || bits->representation > 1) {
        *whyNot = QStringLiteral("DICOM image of %1 bits allocated, %2 stored, high bit %3, "
                                 "pixel representation %4")
                          .arg(bits->allocated)
                          .arg(bits->stored)
                          .arg(bits->highBit)
                          .arg(bits->representation);
        return false;
    }

    data->findAndGetUint16(DCM_Rows, bits->rows);
    data->findAndGetUint16(DCM_Columns, bits->columns);
    if (bits->rows == 0 || bits->columns == 0) {
        *whyNot = QStringLiteral("DICOM image of %1 x %2 cells").arg(bits->columns).arg(bits->rows);
        return false;
    }
    if (qint64(bits->rows) * bits->columns > Slice::maxCells) {
        *whyNot = QStringLiteral("DICOM image of %1 x %2 cells, more than the limit of %3")
                          .arg(bits->columns)
                          .arg(bits->rows)
                          .arg(Slice::maxCells);
        return false;
    }
    return true;
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

    CellBits bits;
    QString notGrey;
    if (!greyCells(data, false, &bits, &notGrey))
        return refuse(notGrey);

    const Uint16 rowCount = bits.rows;
    const Uint16 columns = bits.columns;
    const qint64 cells = qint64(rowCount) * columns;
    const qint64 bytesNeeded = cells * (bits.allocated / 8);
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
    CellWriter grid;
    const auto makeCells = [&] { return grid.begin(*this, columns, rowCount); };
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
        if (isJpeg2000(encoding)) {
            std::vector<unsigned long> starts;
            if (!frameStarts(sequence, 1, true, &starts))
                return refuse(QStringLiteral("DICOM decoder failed (no compressed pixel data)"));
            if (!makeCells())
                return refuse(noMemory);
            Jpeg2000Samples decoded;
            QString reason;
            if (!decodeJpeg2000Frame(sequence, starts[0], starts[1], columns, rowCount,
                                     bits.allocated, &decoded, &reason)) {
                dropGrid();
                return refuse(reason);
            }
            if (!fillJpeg2000(grid, decoded, bits.representation == 1, slope, intercept, &min,
                              &max)) {
                dropGrid();
                return refuse(noMemory);
            }
            if (!finiteRange(min, max)) {
                dropGrid();
                return refuse(QStringLiteral("DICOM rescaled values beyond the range of numbers"));
            }
            dicom = placement(data);
            return true;
        }
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

    const bool isSigned = bits.representation == 1;
    const bool written = bits.allocated == 8
            ? fillGrid(grid, reinterpret_cast<const Uint8 *>(buffer.data()), cells, bits.stored,
                       bits.highBit, isSigned, slope, intercept, &min, &max)
            : fillGrid(grid, buffer.data(), cells, bits.stored, bits.highBit, isSigned, slope,
                       intercept, &min, &max);
    if (!written) {
        dropGrid();
        return refuse(noMemory);
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

DcmItem *firstItem(DcmItem *item, const DcmTagKey &sequence)
{
    DcmItem *found = nullptr;
    if (item && item->findAndGetSequenceItem(sequence, found, 0).good())
        return found;
    return nullptr;
}

// A functional group of one frame: its own, else the one all frames share.
DcmItem *functionalGroup(DcmItem *frame, DcmItem *shared, const DcmTagKey &group)
{
    if (DcmItem *own = firstItem(frame, group))
        return own;
    return firstItem(shared, group);
}

// The per-frame groups, when the file has one for each frame.
std::vector<DcmItem *> perFrameItems(DcmDataset *data, qint64 frames)
{
    std::vector<DcmItem *> items;
    DcmSequenceOfItems *sequence = nullptr;
    if (data->findAndGetSequence(DCM_PerFrameFunctionalGroupsSequence, sequence).bad() || !sequence
        || qint64(sequence->card()) != frames) {
        return items;
    }
    items.reserve(size_t(frames));
    for (DcmObject *item = sequence->nextInContainer(nullptr); item;
         item = sequence->nextInContainer(item)) {
        items.push_back(static_cast<DcmItem *>(item));
    }
    return items;
}

std::array<double, 3> normalOf(const std::array<double, 6> &o)
{
    return { o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5], o[0] * o[4] - o[1] * o[3] };
}

// Where each frame lies: by its own Plane Position; else, for a dose grid,
// the file's position moved along the normal by the frame's Grid Frame
// Offset; else nowhere, since the file's one position is only the first
// frame's. Orientation and pixel spacing from the frame's or the shared
// groups, else the file's.
std::vector<DicomPlacement> framePlacements(DcmDataset *data, qint64 frames,
                                            const std::vector<DcmItem *> &perFrame)
{
    const DicomPlacement top = placement(data);
    DcmItem *shared = firstItem(data, DCM_SharedFunctionalGroupsSequence);
    const bool offsetsPresent = data->tagExists(DCM_GridFrameOffsetVector);
    std::vector<double> offsets;
    if (offsetsPresent) {
        const QStringList parts = numberTexts(data, DCM_GridFrameOffsetVector);
        for (const QString &part : parts) {
            bool ok = false;
            const double value = QLocale::c().toDouble(part, &ok);
            if (!ok || !std::isfinite(value))
                break;
            offsets.push_back(value);
        }
        if (qint64(offsets.size()) != frames || qint64(parts.size()) != frames)
            offsets.clear();
    }

    std::vector<DicomPlacement> places(size_t(frames), top);
    for (qint64 k = 0; k < frames; ++k) {
        DcmItem *frame = perFrame.empty() ? nullptr : perFrame[size_t(k)];
        DicomPlacement &place = places[size_t(k)];
        if (DcmItem *group = functionalGroup(frame, shared, DCM_PlaneOrientationSequence))
            readNumbers(group, DCM_ImageOrientationPatient, &place.orientation);
        DcmItem *measures = functionalGroup(frame, shared, DCM_PixelMeasuresSequence);
        if (measures && measures->tagExists(DCM_PixelSpacing))
            readNumbers(measures, DCM_PixelSpacing, &place.pixelSpacing);
        if (DcmItem *group = functionalGroup(frame, shared, DCM_PlanePositionSequence)) {
            readNumbers(group, DCM_ImagePositionPatient, &place.position);
        } else if (offsetsPresent) {
            place.position.present = true;
            place.position.readable = !offsets.empty() && top.position.readable
                    && place.orientation.readable;
            if (place.position.readable) {
                const std::array<double, 3> n = normalOf(place.orientation.values);
                const double step = offsets[size_t(k)] - offsets[0];
                for (size_t i = 0; i < 3; ++i)
                    place.position.values[i] = top.position.values[i] + n[i] * step;
            }
        } else {
            place.position = {};
        }
    }
    return places;
}

// Each frame's distance along the normal of the first, in order; empty when
// a frame has no usable place.
std::vector<double> alongNormal(const std::vector<DicomPlacement> &places)
{
    std::vector<double> along;
    if (places.empty() || !places.front().orientation.readable)
        return along;
    const std::array<double, 3> n = normalOf(places.front().orientation.values);
    if (!std::isfinite(n[0]) || !std::isfinite(n[1]) || !std::isfinite(n[2])
        || (n[0] == 0.0 && n[1] == 0.0 && n[2] == 0.0)) {
        return along;
    }
    for (const DicomPlacement &place : places) {
        const std::array<double, 3> &p = place.position.values;
        const double q = p[0] * n[0] + p[1] * n[1] + p[2] * n[2];
        if (!place.position.readable || !place.orientation.readable || !std::isfinite(q))
            return {};
        along.push_back(q);
    }
    return along;
}

// Each frame's slope and intercept: the frame's or the shared Pixel Value
// Transformation, else the file's rescale, else (a dose grid) its Dose Grid
// Scaling as slope. False when one present is no finite number.
bool frameRescales(DcmDataset *data, qint64 frames, const std::vector<DcmItem *> &perFrame,
                   std::vector<std::pair<double, double>> *rescales)
{
    const auto read = [](DcmItem *item, double *slope, double *intercept, bool dose) {
        bool present = false;
        if (!decimal(item, DCM_RescaleSlope, 0, slope, &present) && present)
            return false;
        if (!present && dose && !decimal(item, DCM_DoseGridScaling, 0, slope, &present)
            && present) {
            return false;
        }
        return decimal(item, DCM_RescaleIntercept, 0, intercept, &present) || !present;
    };
    double slope = 1.0;
    double intercept = 0.0;
    if (!read(data, &slope, &intercept, true))
        return false;
    DcmItem *shared = firstItem(data, DCM_SharedFunctionalGroupsSequence);
    rescales->assign(size_t(frames), { slope, intercept });
    for (qint64 k = 0; k < frames; ++k) {
        DcmItem *frame = perFrame.empty() ? nullptr : perFrame[size_t(k)];
        if (DcmItem *group = functionalGroup(frame, shared, DCM_PixelValueTransformationSequence)) {
            auto &[frameSlope, frameIntercept] = (*rescales)[size_t(k)];
            if (!read(group, &frameSlope, &frameIntercept, false))
                return false;
        }
    }
    return true;
}

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
    QString description;
    QString modality;
    int columns = 0;
    int rows = 0;
    qint64 frames = 1;
    DicomPlacement::Numbers<2> pixelSpacing;
    double frameMm = 0.0; // between the frames of a multi-frame image
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
    if (picturePossible(fileName)) {
        QImageReader picture(fileName);
        if (picture.canRead() && !picture.read().isNull())
            return false;
    }

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

    OFString value;
    if (data->findAndGetOFString(DCM_SeriesDescription, value).good())
        header->description = text(value);
    if (data->findAndGetOFString(DCM_Modality, value).good())
        header->modality = text(value);
    Uint16 count = 0;
    if (data->findAndGetUint16(DCM_Columns, count).good())
        header->columns = count;
    if (data->findAndGetUint16(DCM_Rows, count).good())
        header->rows = count;
    readNumbers(data, DCM_PixelSpacing, &header->pixelSpacing);
    qint64 frames = 1;
    if (integer(data, DCM_NumberOfFrames, &frames) && frames > 1) {
        // Frames are counted as slices only when each could hold a byte of
        // the file, and placed only from what the file holds for each: a
        // header alone cannot make the pass build a huge list.
        header->frames = std::min(frames, QFileInfo(fileName).size());
        DcmItem *measures = firstItem(firstItem(data, DCM_SharedFunctionalGroupsSequence),
                                      DCM_PixelMeasuresSequence);
        if (!header->pixelSpacing.readable && measures)
            readNumbers(measures, DCM_PixelSpacing, &header->pixelSpacing);
        const std::vector<DcmItem *> perFrame = perFrameItems(data, header->frames);
        std::vector<double> along;
        if (!perFrame.empty()
            || numberTexts(data, DCM_GridFrameOffsetVector).size() == header->frames) {
            along = alongNormal(framePlacements(data, header->frames, perFrame));
        }
        std::sort(along.begin(), along.end());
        double between = 0.0;
        if (!along.empty())
            between = (along.back() - along.front()) / double(along.size() - 1);
        if (!(between > 0 && std::isfinite(between))
            && !decimal(data, DCM_SpacingBetweenSlices, 0, &between)
            && !(measures && decimal(measures, DCM_SpacingBetweenSlices, 0, &between))) {
            between = 0.0;
        }
        header->frameMm = between > 0 && std::isfinite(between) ? between : 0.0;
    }
    return true;
}

} // namespace

QStringList loadingOrder(const QStringList &files, const std::atomic<bool> *stop)
{
    const SelectionSurvey survey = surveySelection(files, stop);
    if (survey.series.size() == 1 && survey.series.first().ordered)
        return survey.series.first().files + survey.others;
    return files;
}

SelectionSurvey surveySelection(const QStringList &files, const std::atomic<bool> *stop)
{
    struct Image
    {
        QString name;
        Header header;
        double along = 0.0;
    };
    SelectionSurvey survey;
    QList<QList<Image>> groups; // in the order of their first file
    QHash<QString, qsizetype> groupOf;
    for (const QString &name : files) {
        if (stop && stop->load()) {
            survey.others = files;
            return survey;
        }
        Header header;
        if (!readHeader(name, &header) || !header.image) {
            survey.others.append(name);
            continue;
        }
        const auto found = groupOf.constFind(header.series);
        if (found == groupOf.cend()) {
            groupOf.insert(header.series, groups.size());
            groups.append({ { name, header } });
        } else {
            groups[*found].append({ name, header });
        }
    }

    for (QList<Image> &images : groups) {
        const Header &first = images.first().header;
        DicomSeries series;
        series.uid = first.series;
        series.description = first.description;
        series.modality = first.modality;
        series.columns = first.columns;
        series.rows = first.rows;
        for (const Image &image : images) {
            series.images += image.header.frames;
            if (series.columnMm == 0.0 && image.header.pixelSpacing.readable
                && image.header.pixelSpacing.values[0] > 0
                && image.header.pixelSpacing.values[1] > 0) {
                series.rowMm = image.header.pixelSpacing.values[0];
                series.columnMm = image.header.pixelSpacing.values[1];
            }
        }

        // Sorted along the normal of the first image when every image is placed.
        const double *o = first.orientation;
        const double normal[3] = { o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5],
                                   o[0] * o[4] - o[1] * o[3] };
        series.ordered = !(normal[0] == 0.0 && normal[1] == 0.0 && normal[2] == 0.0);
        for (Image &image : images) {
            const double *p = image.header.position;
            image.along = p[0] * normal[0] + p[1] * normal[1] + p[2] * normal[2];
            series.ordered = series.ordered && image.header.placed && std::isfinite(image.along);
        }
        if (series.ordered) {
            std::stable_sort(images.begin(), images.end(), [](const Image &a, const Image &b) {
                if (a.along != b.along)
                    return a.along < b.along;
                // Numbered images before unnumbered ones at one position.
                if (a.header.numbered != b.header.numbered)
                    return a.header.numbered;
                return a.header.numbered && a.header.number < b.header.number;
            });
        }
        for (const Image &image : images)
            series.files.append(image.name);
        // Between slices: the mean step from the first to the last, as the
        // set's shape takes it; a lone multi-frame image says it itself.
        if (images.size() == 1) {
            series.sliceMm = first.frameMm;
        } else if (series.ordered) {
            const double step = (images.last().along - images.first().along)
                    / double(images.size() - 1);
            series.sliceMm = step > 0 && std::isfinite(step) ? step : 0.0;
        }
        survey.series.append(series);
    }
    std::stable_sort(survey.series.begin(), survey.series.end(),
                     [](const DicomSeries &a, const DicomSeries &b) { return a.images > b.images; });
    return survey;
}

std::vector<std::unique_ptr<Slice>> readDicomFrames(const QString &fileName, QString *whyNot)
{
    using Slices = std::vector<std::unique_ptr<Slice>>;
    // Files that are no multi-frame image are left to the other readers,
    // without a reason of this one's.
    if (whyNot)
        whyNot->clear();
    const auto refuse = [whyNot](const QString &reason) {
        if (whyNot)
            *whyNot = reason;
        return Slices();
    };

    QFile file(fileName);
    if (!QFileInfo(fileName).isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    const qint64 fileSize = file.size();
    if (!looksLikeDicom(file.read(132)))
        return {};
    file.close();
    setUpDicom();
    if (deflated(fileName))
        return {};
    DcmFileFormat format;
    if (format.loadFile(OFFilename(QFile::encodeName(fileName).constData())).bad())
        return {};
    DcmDataset *data = format.getDataset();
    DcmElement *element = nullptr;
    if (data->findAndGetElement(DCM_PixelData, element).bad() || !element
        || element->ident() != EVR_PixelData) {
        return {};
    }
    auto *pixels = static_cast<DcmPixelData *>(element);
    qint64 frames = 1;
    if (!integer(data, DCM_NumberOfFrames, &frames) || frames < 2)
        return {};

    // Dose grids hold 32 bits a cell.
    CellBits bits;
    QString notGrey;
    if (!greyCells(data, true, &bits, &notGrey))
        return refuse(notGrey);
    const Uint16 rows = bits.rows;
    const Uint16 columns = bits.columns;
    const qint64 cells = qint64(rows) * columns;
    // Every frame takes at least a byte of pixel data, whose length has 32
    // bits: beyond that the count cannot be true, and below it the products
    // stay well within 64 bits.
    const QString framesBeyond =
            QStringLiteral("DICOM image of %1 frames beyond its pixel data").arg(frames);
    if (frames > qint64(0xffffffff))
        return refuse(framesBeyond);
    const qint64 frameBytes = cells * (bits.allocated / 8);
    const qint64 bytesNeeded = frames * frameBytes;
    const QString shortData =
            QStringLiteral("DICOM pixel data shorter than frames x rows x columns x samples (%1)");
    const QString cutShort = shortData.arg(QStringLiteral("the file ends within it"));
    const auto bytesShort = [&shortData, bytesNeeded](qint64 length) {
        return shortData.arg(QStringLiteral("%1 of %2 bytes").arg(length).arg(bytesNeeded));
    };

    E_TransferSyntax encoding = EXS_Unknown;
    const DcmRepresentationParameter *parameter = nullptr;
    pixels->getOriginalRepresentationKey(encoding, parameter);
    const DcmXfer originalEncoding(encoding);
    const bool jpeg2000 = isJpeg2000(encoding);
    DcmPixelSequence *sequence = nullptr;
    std::vector<unsigned long> starts;
    if (originalEncoding.isEncapsulated()) {
        if (pixels->getEncapsulatedRepresentation(encoding, parameter, sequence).bad()
            || !sequence) {
            return refuse(QStringLiteral("DICOM decoder failed (no compressed pixel data)"));
        }
        // Each frame takes at least one fragment.
        if (qint64(sequence->card()) - 1 < frames)
            return refuse(framesBeyond);
        qint64 claimed = 0;
        bool stalls = false;
        for (unsigned long i = 0; i < sequence->card(); ++i) {
            DcmPixelItem *fragment = nullptr;
            if (sequence->getItem(fragment, i).bad() || !fragment)
                continue;
            claimed += fragment->getLength();
            Uint8 *bytes = nullptr;
            if (!jpeg2000 && claimed <= fileSize && fragment->getUint8Array(bytes).good() && bytes)
                stalls = stalls || stallsJpegScan(bytes, fragment->getLength());
        }
        if (claimed > fileSize)
            return refuse(cutShort);
        if (stalls)
            return refuse(QStringLiteral("DICOM JPEG data with a TEM marker before its frame header"));
        if (jpeg2000 && !frameStarts(sequence, frames, true, &starts)) {
            return refuse(QStringLiteral("DICOM JPEG 2000 fragments that do not make %1 frames")
                                  .arg(frames));
        }
        if (!jpeg2000 && !DcmCodecList::canChangeCoding(encoding, EXS_LittleEndianExplicit)) {
            return refuse(QStringLiteral("no DICOM decoder for %1")
                                  .arg(QString::fromLatin1(originalEncoding.getXferName())));
        }
    } else {
        if (!pixels->valueLoaded() && qint64(pixels->getLength()) > fileSize)
            return refuse(cutShort);
        if (qint64(pixels->getLength()) < bytesNeeded)
            return refuse(bytesShort(pixels->getLength()));
    }

    // The cells, and what each slice holds besides them: a file of many
    // tiny frames must not take far more memory than the budget knows of.
    // Frames are held as 16-bit numbers where they can be; one that needs
    // doubles takes the difference when it turns out to.
    const qint64 frameMemory = cells * qint64(sizeof(qint16))
            + qint64(sizeof(Slice) + sizeof(DicomPlacement));
    const qint64 wideMemory = cells * qint64(sizeof(double) - sizeof(qint16))
            + rows * qint64(sizeof(QList<double>));
    const QString overBudget = QStringLiteral("multi-frame DICOM image over the memory budget "
                                              "(%1 frames of %2 x %3)")
                                       .arg(frames)
                                       .arg(columns)
                                       .arg(rows);
    BudgetHold hold;
    if (!hold.take(frames * frameMemory))
        return refuse(overBudget);
    const std::vector<DcmItem *> perFrame = perFrameItems(data, frames);
    std::vector<std::pair<double, double>> rescales;
    if (!frameRescales(data, frames, perFrame, &rescales))
        return refuse(QStringLiteral("DICOM rescale slope or intercept is no finite number"));
    std::vector<DicomPlacement> places = framePlacements(data, frames, perFrame);

    if (sequence && !jpeg2000) {
        const OFCondition status = data->chooseRepresentation(EXS_LittleEndianExplicit, nullptr);
        if (status.bad() || !data->canWriteXfer(EXS_LittleEndianExplicit))
            return refuse(QStringLiteral("DICOM decoder failed (%1)").arg(status.text()));
        if (qint64(pixels->getLength()) < bytesNeeded)
            return refuse(bytesShort(pixels->getLength()));
    }
    // Words of 32 bits that the library turned as 16-bit ones.
    const bool halvesTurned =
            bits.allocated == 32 && !sequence && DcmXfer(data->getOriginalXfer()).isBigEndian();

    Slices slices;
    std::vector<Uint32> buffer;
    DcmFileCache cache;
    const bool isSigned = bits.representation == 1;
    const QString noMemory =
            QStringLiteral("no memory for %1 grids of %2 x %3").arg(frames).arg(columns).arg(rows);
    try {
        slices.reserve(size_t(frames));
        if (!jpeg2000)
            buffer.resize(size_t(frameBytes + 3) / 4);
    } catch (const std::bad_alloc &) {
        return refuse(noMemory);
    }
    for (qint64 k = 0; k < frames; ++k) {
        auto slice = std::make_unique<Slice>();
        CellWriter grid;
        if (!grid.begin(*slice, columns, rows))
            return refuse(noMemory);
        bool written = true;
        const auto [slope, intercept] = rescales[size_t(k)];
        if (jpeg2000) {
            Jpeg2000Samples decoded;
            QString reason;
            if (!decodeJpeg2000Frame(sequence, starts[size_t(k)], starts[size_t(k) + 1], columns,
                                     rows, bits.allocated, &decoded, &reason)) {
                return refuse(reason);
            }
            written = fillJpeg2000(grid, decoded, isSigned, slope, intercept, &slice->min,
                                   &slice->max);
        } else {
            const OFCondition status = pixels->getPartialValue(
                    buffer.data(), Uint32(k * frameBytes), Uint32(frameBytes), &cache);
            if (status == EC_StreamNotifyClient || status == EC_InvalidStream)
                return refuse(cutShort);
            if (status.bad())
                return refuse(QStringLiteral("DICOM pixel data unreadable (%1)").arg(status.text()));
            if (bits.allocated == 8) {
                written = fillGrid(grid, reinterpret_cast<const Uint8 *>(buffer.data()), cells,
                                   bits.stored, bits.highBit, isSigned, slope, intercept,
                                   &slice->min, &slice->max);
            } else if (bits.allocated == 16) {
                written = fillGrid(grid, reinterpret_cast<const Uint16 *>(buffer.data()), cells,
                                   bits.stored, bits.highBit, isSigned, slope, intercept,
                                   &slice->min, &slice->max);
            } else {
                if (halvesTurned) {
                    for (size_t i = 0; i < size_t(cells); ++i)
                        buffer[i] = buffer[i] << 16 | buffer[i] >> 16;
                }
                written = fillGrid<Uint32, qint64>(grid, buffer.data(), cells, bits.stored,
                                                   bits.highBit, isSigned, slope, intercept,
                                                   &slice->min, &slice->max);
            }
        }
        if (!written)
            return refuse(noMemory);
        if (!grid.isNarrow() && !hold.take(wideMemory))
            return refuse(overBudget);
        if (!finiteRange(slice->min, slice->max))
            return refuse(QStringLiteral("DICOM rescaled values beyond the range of numbers"));
        slice->dicom = std::move(places[size_t(k)]);
        slices.push_back(std::move(slice));
    }

    // Along the normal when every frame has its place; else as the file has them.
    std::vector<DicomPlacement> placed;
    placed.reserve(slices.size());
    for (const auto &slice : slices)
        placed.push_back(*slice->dicom);
    const std::vector<double> along = alongNormal(placed);
    if (!along.empty()) {
        std::vector<size_t> order(slices.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&along](size_t a, size_t b) { return along[a] < along[b]; });
        Slices sorted;
        sorted.reserve(slices.size());
        for (size_t i : order)
            sorted.push_back(std::move(slices[i]));
        slices = std::move(sorted);
    }
    return slices;
}
