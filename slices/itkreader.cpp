#include "slices/volumefile.h"
#include "slices/volumecells.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QRegularExpression>
#include <QSysInfo>

#include <exception>
#include <mutex>

// Debian's ITK headers know only GCC; clang (the fuzzing build) speaks its
// dialect well enough to be taken for a recent one while they are read. The
// standard headers they use are read first, as themselves.
#if defined(__clang__)
#include <algorithm>
#include <array>
#include <atomic>
#include <complex>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <list>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>
#pragma push_macro("__clang__")
#pragma push_macro("__GNUC__")
#pragma push_macro("__GNUC_MINOR__")
#undef __clang__
#undef __GNUC__
#undef __GNUC_MINOR__
#define __GNUC__ 12
#define __GNUC_MINOR__ 2
#define CTSLAB_CLANG_AS_GCC
#endif
#include <itkMetaImageIO.h>
#include <itkNrrdImageIO.h>
#include <itk_zlib.h>
#ifdef CTSLAB_CLANG_AS_GCC
#pragma pop_macro("__GNUC_MINOR__")
#pragma pop_macro("__GNUC__")
#pragma pop_macro("__clang__")
#endif

namespace {

// Headers longer than this are refused: real ones take a few hundred bytes,
// and reading on would make a large file of another kind a long header.
constexpr qint64 headerLimit = 64 * 1024;

// What our own reading of a header learns, before the library reads it: the
// numbers that decide how much it would allocate and read, and where from.
struct TextHeader
{
    QString whyNot;
    qint64 length = 0;     // bytes of header before the data of a file of one piece
    QList<qint64> sizes;   // extent along each axis
    bool spaced = false;   // the file gives spacings
    bool compressed = false;
    QString dataFile;      // empty: the data follows the header
    qint64 skip = 0;       // bytes before the data in its file; -1: data at its end
    qint64 compressedSize = 0; // MetaImage: what the header says, 0 when it does not
};

// The header's lines with the offset after each; false when it does not end
// within the limit. NRRD ends at its first blank line, MetaImage after the
// line that names its data.
bool headerLines(const QByteArray &bytes, bool nrrd, QList<QPair<QByteArray, qint64>> *lines)
{
    qint64 start = 0;
    while (start < bytes.size()) {
        qint64 end = bytes.indexOf('\n', start);
        if (end < 0) {
            // A detached header may end with its file, without a last newline.
            if (bytes.size() >= headerLimit)
                return false;
            end = bytes.size();
        }
        QByteArray line = bytes.mid(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        start = end + 1;
        lines->append({ line, std::min<qint64>(start, bytes.size()) });
        if (nrrd && line.isEmpty())
            break;
        if (!nrrd && line.trimmed().startsWith("ElementDataFile"))
            break;
    }
    return true;
}

QList<qint64> numbers(const QByteArray &text, bool *ok)
{
    QList<qint64> list;
    *ok = true;
    for (const QByteArray &word : text.simplified().split(' ')) {
        bool one = false;
        list.append(word.toLongLong(&one));
        *ok = *ok && one;
    }
    return list;
}

TextHeader readHeader(const QString &fileName, bool nrrd)
{
    TextHeader header;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        header.whyNot = QStringLiteral("cannot be opened");
        return header;
    }
    const QByteArray bytes = file.read(headerLimit);
    QList<QPair<QByteArray, qint64>> lines;
    const QString kind = nrrd ? QStringLiteral("NRRD") : QStringLiteral("MetaImage");
    if (!headerLines(bytes, nrrd, &lines)) {
        header.whyNot = kind + QStringLiteral(" header longer than %1 bytes").arg(headerLimit);
        return header;
    }
    bool sized = false;
    qint64 dimensions = -1;
    QByteArray encoding = nrrd ? "raw" : "";
    bool dataNamed = false;
    qsizetype number = 0;
    for (const auto &[line, after] : lines) {
        ++number;
        header.length = after;
        // The library takes a MetaImage name on past its line to the next '='
        // or ':', swallowing the field after it (then reading the data as
        // header, up to a data file found there that it leaks the stream of);
        // '#' marks no comment to it.
        if (!nrrd && !line.trimmed().isEmpty() && !line.contains('=') && !line.contains(':')) {
            header.whyNot = QStringLiteral("MetaImage header line %1 without a value").arg(number);
            return header;
        }
        if (line.startsWith('#'))
            continue;
        // NRRD fields are "name: value", its key/value pairs "key:=value";
        // MetaImage fields "Name = Value".
        const qsizetype colon = line.indexOf(nrrd ? ": " : " = ");
        if (colon < 0 || (nrrd && line.indexOf(":=") >= 0 && line.indexOf(":=") < colon))
            continue;
        const QByteArray key = line.left(colon).trimmed();
        const QByteArray value = line.mid(colon + (nrrd ? 2 : 3)).trimmed();
        bool ok = true;
        if (key == "sizes" || key == "DimSize") {
            header.sizes = numbers(value, &ok);
            sized = ok;
        } else if (key == "dimension" || key == "NDims") {
            dimensions = value.toLongLong(&ok);
        } else if (key == "spacings" || key == "space directions" || key == "ElementSpacing"
                   || key == "ElementSize") {
            header.spaced = true;
        } else if (key == "encoding") {
            encoding = value;
        } else if (key == "CompressedData") {
            header.compressed = value.compare("true", Qt::CaseInsensitive) == 0;
        } else if (key == "CompressedDataSize") {
            header.compressedSize = value.toLongLong(&ok);
        } else if (key == "byte skip" || key == "byteskip" || key == "HeaderSize") {
            header.skip = value.toLongLong(&ok);
        } else if (key == "data file" || key == "datafile" || key == "ElementDataFile") {
            dataNamed = !value.isEmpty(); // the library would read its folder
            if (value != "LOCAL" && (nrrd || (value != "Local" && value != "local")))
                header.dataFile = QFile::decodeName(value);
        }
        if (!ok) {
            header.whyNot = kind + QStringLiteral(" header field \"%1\" unreadable")
                                           .arg(QString::fromLatin1(key));
            return header;
        }
    }
    if (!sized || dimensions != header.sizes.size()) {
        header.whyNot = kind + QStringLiteral(" header without its sizes");
        return header;
    }
    if (!nrrd && !dataNamed) {
        header.whyNot = QStringLiteral("MetaImage header without its data file");
        return header;
    }
    if (nrrd) {
        if (encoding == "gzip" || encoding == "gz")
            header.compressed = true;
        else if (encoding != "raw") {
            header.whyNot = QStringLiteral("NRRD encoding %1, not raw or gzip")
                                    .arg(QString::fromLatin1(encoding));
            return header;
        }
    }
    // One file of data, named relative to the header's folder.
    if (!header.dataFile.isEmpty()) {
        if (header.dataFile.contains(u' ') || header.dataFile.contains(u'%')
            || header.dataFile == u"LIST") {
            header.whyNot = kind + QStringLiteral(" data in several files");
            return header;
        }
        if (QFileInfo(header.dataFile).isRelative())
            header.dataFile = QFileInfo(fileName).dir().filePath(header.dataFile);
    }
    if (header.skip < -1 || header.compressedSize < 0 || (header.compressed && header.skip < 0)) {
        header.whyNot = kind + QStringLiteral(" header places its data outside the file");
        return header;
    }
    return header;
}

// Inflates `length` bytes at `skip` in the file, a zlib stream or with gzip a
// gzip member, into exactly `bytes` bytes; without `out`, only sees that the
// stream is whole.
bool inflated(const QString &fileName, qint64 skip, qint64 length, bool gzip, qint64 bytes,
              std::vector<unsigned char> *out)
{
    QFile file(fileName);
    if (length <= 0 || !file.open(QIODevice::ReadOnly) || !file.seek(skip))
        return false;
    std::vector<unsigned char> scratch;
    try {
        if (out)
            out->resize(size_t(bytes));
        else
            scratch.resize(1 << 20);
    } catch (const std::bad_alloc &) {
        return false;
    }
    z_stream stream{};
    if (inflateInit2(&stream, gzip ? 16 + MAX_WBITS : MAX_WBITS) != Z_OK)
        return false;
    QByteArray input;
    qint64 made = 0;
    int status = Z_OK;
    while (status == Z_OK) {
        if (stream.avail_in == 0) {
            input = file.read(std::min<qint64>(length, 1 << 20));
            length -= input.size();
            if (input.isEmpty())
                break;
            stream.next_in = reinterpret_cast<Bytef *>(input.data());
            stream.avail_in = uInt(input.size());
        }
        const qint64 room = out ? std::min<qint64>(bytes - made, 1 << 30) : qint64(scratch.size());
        stream.next_out = out ? out->data() + made : scratch.data();
        stream.avail_out = uInt(room);
        status = inflate(&stream, Z_NO_FLUSH);
        made += room - stream.avail_out;
        if (out && made == bytes && status == Z_OK)
            status = Z_STREAM_END; // what follows is not ours to read
        else if (status == Z_BUF_ERROR && room > 0 && stream.avail_in == 0)
            status = Z_OK; // wants more input
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END && (!out || made == bytes);
}

std::optional<StoredType> storedType(itk::IOComponentEnum component, size_t bytes)
{
    using C = itk::IOComponentEnum;
    switch (component) {
    case C::CHAR:
    case C::SHORT:
    case C::INT:
    case C::LONG:
    case C::LONGLONG:
        switch (bytes) {
        case 1: return StoredType::Int8;
        case 2: return StoredType::Int16;
        case 4: return StoredType::Int32;
        case 8: return StoredType::Int64;
        }
        break;
    case C::UCHAR:
    case C::USHORT:
    case C::UINT:
    case C::ULONG:
    case C::ULONGLONG:
        switch (bytes) {
        case 1: return StoredType::UInt8;
        case 2: return StoredType::UInt16;
        case 4: return StoredType::UInt32;
        case 8: return StoredType::UInt64;
        }
        break;
    case C::FLOAT:
        return bytes == 4 ? std::optional(StoredType::Float32) : std::nullopt;
    case C::DOUBLE:
        return bytes == 8 ? std::optional(StoredType::Float64) : std::nullopt;
    default:
        break;
    }
    return std::nullopt;
}

std::vector<std::unique_ptr<Slice>> readWith(itk::ImageIOBase *io, const QString &fileName,
                                             const TextHeader &header, bool nrrd,
                                             QString *whyNot)
{
    const QString kind = nrrd ? QStringLiteral("NRRD") : QStringLiteral("MetaImage");
    const auto refuse = [whyNot, &kind](const QString &reason) {
        if (whyNot)
            *whyNot = kind + u' ' + reason;
        return std::vector<std::unique_ptr<Slice>>();
    };
    const QList<qint64> &sizes = header.sizes;
    if (sizes.size() < 2)
        return refuse(QStringLiteral("image of %1 dimensions").arg(sizes.size()));
    for (qsizetype i = 3; i < sizes.size(); ++i) {
        if (sizes.at(i) != 1) {
            return refuse(QStringLiteral("image of %1 dimensions, extent %2 in the %3th")
                                  .arg(sizes.size())
                                  .arg(sizes.at(i))
                                  .arg(i + 1));
        }
    }
    const QString tooLarge = volumeTooLarge(sizes.at(0), sizes.at(1), sizes.value(2, 1));
    if (!tooLarge.isEmpty())
        return refuse(tooLarge);

    // The library's NRRD part opens compressed data already for the header,
    // and leaks what it held where the stream is damaged.
    const QString dataName = header.dataFile.isEmpty() ? fileName : header.dataFile;
    const qint64 skip = header.dataFile.isEmpty() ? header.length : std::max<qint64>(header.skip, 0);
    if (nrrd && header.compressed
        && !inflated(dataName, skip, QFileInfo(dataName).size() - skip, true, 0, nullptr)) {
        return refuse(QStringLiteral("compressed data damaged or short"));
    }

    // Only now, with the dimensions known to be sound, is the library asked.
    io->SetFileName(QFile::encodeName(fileName).constData());
    io->ReadImageInformation();
    if (io->GetPixelType() != itk::IOPixelEnum::SCALAR || io->GetNumberOfComponents() != 1) {
        return refuse(QStringLiteral("image of %1 values, not grey numbers")
                              .arg(QString::fromStdString(
                                      itk::ImageIOBase::GetPixelTypeAsString(io->GetPixelType()))));
    }
    const std::optional<StoredType> type =
            storedType(io->GetComponentType(), io->GetComponentSize());
    if (!type) {
        return refuse(QStringLiteral("image of %1 values")
                              .arg(QString::fromStdString(itk::ImageIOBase::GetComponentTypeAsString(
                                      io->GetComponentType()))));
    }
    const unsigned int axes = io->GetNumberOfDimensions();
    if (qsizetype(axes) != sizes.size())
        return refuse(QStringLiteral("header read two ways"));
    for (unsigned int i = 0; i < axes; ++i) {
        if (qint64(io->GetDimensions(i)) != sizes.at(i))
            return refuse(QStringLiteral("header read two ways"));
    }
    VolumeLayout layout;
    layout.columns = sizes.at(0);
    layout.rows = sizes.at(1);
    layout.slices = sizes.value(2, 1);
    layout.type = *type;
    if (header.spaced) {
        for (unsigned int i = 0; i < std::min(axes, 3u); ++i)
            layout.spacing[i] = io->GetSpacing(i);
    }

    // Data in the file must be there before anything is made for it;
    // compressed data can claim at most what its bytes could inflate to.
    qint64 available = QFileInfo(dataName).size() - skip;
    if (header.compressedSize > available)
        return refuse(QStringLiteral("compressed data beyond the end of its file"));
    if (header.compressed)
        available = mostInflated(available);
    if (!QFileInfo(dataName).isFile() || layout.dataBytes() > available) {
        return refuse(QStringLiteral("data of %1 bytes beyond the end of %2")
                              .arg(layout.dataBytes())
                              .arg(QFileInfo(dataName).fileName()));
    }

    // Stored in the file's order where it is inflated here; the library
    // gives this machine's.
    if (header.compressed) {
        layout.swapped = (io->GetByteOrder() == itk::IOByteOrderEnum::BigEndian)
                != (QSysInfo::ByteOrder == QSysInfo::BigEndian);
    }
    VolumeCells cells(fileName, layout);
    std::vector<unsigned char> stored;
    if (header.compressed) {
        // Compressed data is inflated here: the library's MetaImage part
        // leaves zeros without a word where the stream is damaged or its size
        // not given, its NRRD part leaks what it held.
        const qint64 length = header.compressedSize > 0
                ? header.compressedSize
                : QFileInfo(dataName).size() - skip;
        const QString overBudget = cells.takeBudget(layout.dataBytes());
        if (!overBudget.isEmpty())
            return refuse(overBudget);
        if (!inflated(dataName, skip, length, nrrd, layout.dataBytes(), &stored))
            return refuse(QStringLiteral("compressed data damaged or short"));
    } else {
        const QString overBudget = cells.takeBudget(layout.dataBytes());
        if (!overBudget.isEmpty())
            return refuse(overBudget);
        try {
            stored.resize(size_t(layout.dataBytes()));
        } catch (const std::bad_alloc &) {
            return refuse(QStringLiteral("no memory for the stored values"));
        }
        itk::ImageIORegion region(axes);
        for (unsigned int i = 0; i < axes; ++i) {
            region.SetIndex(i, 0);
            region.SetSize(i, io->GetDimensions(i));
        }
        io->SetIORegion(region);
        io->Read(stored.data());
    }
    for (qint64 k = 0; k < layout.slices; ++k) {
        const QString failed = cells.addSlice(stored.data() + k * layout.sliceBytes());
        if (!failed.isEmpty())
            return refuse(failed);
    }
    return cells.take();
}

// The library's own words, without the object's class and address that it
// puts first: reasons are counted by their text, and an address would make
// each file's reason its own. Of a chain of NRRD complaints the innermost,
// last one says what is wrong.
QString libraryReason(const char *description)
{
    QString text = QString::fromLocal8Bit(description).simplified();
    static const QRegularExpression origin(QStringLiteral("^itk::ERROR: \\w+\\(0x[0-9a-fA-F]+\\): "));
    text.remove(origin);
    const qsizetype last = text.lastIndexOf(QLatin1String("[nrrd] "));
    if (last > 0)
        text = text.mid(last + 7);
    return text.left(200);
}

} // namespace

std::vector<std::unique_ptr<Slice>> readItkFile(const QString &fileName, QString *whyNot)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const bool nrrd = file.read(4) == "NRRD";
    file.close();
    const bool meta = fileName.endsWith(QLatin1String(".mha"), Qt::CaseInsensitive)
            || fileName.endsWith(QLatin1String(".mhd"), Qt::CaseInsensitive);
    if (!nrrd && !meta)
        return {};
    const QString kind = nrrd ? QStringLiteral("NRRD") : QStringLiteral("MetaImage");
    const TextHeader header = readHeader(fileName, nrrd);
    if (!header.whyNot.isEmpty()) {
        if (whyNot)
            *whyNot = header.whyNot;
        return {};
    }
    // The library reports what it cannot read by throwing; nothing of it
    // leaves this file. Its NRRD part keeps its errors in one table for the
    // whole process, so files are read through it one at a time.
    static std::mutex oneAtATime;
    const std::lock_guard lock(oneAtATime);
    static const bool quiet = [] {
        itk::Object::GlobalWarningDisplayOff();
        return true;
    }();
    Q_UNUSED(quiet);
    try {
        if (nrrd) {
            itk::NrrdImageIO::Pointer io = itk::NrrdImageIO::New();
            return readWith(io, fileName, header, nrrd, whyNot);
        }
        itk::MetaImageIO::Pointer io = itk::MetaImageIO::New();
        return readWith(io, fileName, header, nrrd, whyNot);
    } catch (const itk::ExceptionObject &error) {
        if (whyNot) {
            *whyNot = kind + QStringLiteral(" file unreadable (%1)")
                                     .arg(libraryReason(error.GetDescription()));
        }
    } catch (const std::exception &error) {
        if (whyNot) {
            *whyNot = kind + QStringLiteral(" file unreadable (%1)")
                                     .arg(libraryReason(error.what()));
        }
    } catch (...) {
        if (whyNot)
            *whyNot = kind + QStringLiteral(" file unreadable");
    }
    return {};
}
