#include "slices/slice.h"
#include "slices/textnumber.h"

#include "slices/slicetiles.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTextStream>

#include <cfloat>
#include <cstdint>
#include <new>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#include <unistd.h>
#endif

Slice::Slice() = default;
Slice::~Slice() = default;

const SliceTiles &Slice::tiles() const
{
    std::call_once(tilesMade, [this] {
        try {
            tileSummary = std::make_unique<SliceTiles>(SliceTiles::of(*this));
        } catch (const std::bad_alloc &) {
        }
    });
    // Without memory for a summary the renderer takes the slow road.
    static const SliceTiles none;
    return tileSummary ? *tileSummary : none;
}

bool Slice::load(const QString &fileName, QString *whyNot)
{
    dicom.reset();
    // Only a regular file is read: a named pipe or a device picked in the
    // dialog could block the panel's thread, and the closing window with it.
    const QFileInfo info(fileName);
    if (!info.isFile()) {
        if (whyNot) {
            *whyNot = info.exists() ? QStringLiteral("not a regular file")
                                    : QStringLiteral("cannot be opened");
        }
        return false;
    }
    if (readPicture(fileName))
        return true;
    if (readCtImage(fileName) || readTable(fileName) || readDicom(fileName, whyNot)) {
        isImage = false;
        return true;
    }
    return false;
}

bool picturePossible(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return true;
    const QByteArray head = file.read(132);
    if (head.size() < 132 || head.mid(128, 4) != "DICM")
        return true;
    const bool little = head.startsWith(QByteArrayLiteral("II\x2a\x00"));
    if (!little && !head.startsWith(QByteArrayLiteral("MM\x00\x2a")))
        return true;
    const auto number = [little](const QByteArray &bytes) {
        quint64 n = 0;
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            const quint64 byte = uchar(bytes.at(little ? bytes.size() - 1 - i : i));
            n = n << 8 | byte;
        }
        return n;
    };
    // The first directory: its count of entries at the offset the header
    // gives, then twelve bytes an entry and the next offset.
    const quint64 offset = number(head.mid(4, 4));
    const quint64 size = quint64(file.size());
    if (offset < 8 || offset + 2 > size || !file.seek(qint64(offset)))
        return false;
    const quint64 entries = number(file.read(2));
    return entries > 0 && offset + 2 + 12 * entries + 4 <= size;
}

bool Slice::readPicture(const QString &fileName)
{
    if (!picturePossible(fileName))
        return false;
    // No format given: the reader recognises the picture by its contents.
    QImageReader reader(fileName);
    QImage picture = reader.read();
    if (picture.isNull())
        return false;
    takePicture(std::move(picture));
    return true;
}

void Slice::takePicture(QImage picture)
{
    dropGrid();
    isImage = true;
    image = std::move(picture);
    width = image.width();
    height = image.height();
    min = DBL_MAX;
    max = -DBL_MAX;
    const std::array<qint64, 256> tally = pictureTally();
    for (int value = 0; value < 256; ++value) {
        if (tally[value] > 0) {
            min = std::min(min, double(value));
            max = value;
        }
    }
}

std::array<qint64, 256> Slice::pictureTally() const
{
    std::array<qint64, 256> tally{};
    const int w = image.width();
    const int h = image.height();
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        for (int y = 0; y < h; ++y) {
            const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            for (int x = 0; x < w; ++x)
                ++tally[line[x] & 0xff];
        }
        break;
    case QImage::Format_Grayscale8:
        for (int y = 0; y < h; ++y) {
            const uchar *line = image.constScanLine(y);
            for (int x = 0; x < w; ++x)
                ++tally[line[x]];
        }
        break;
    default:
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x)
                ++tally[int(valueAt(x, y))];
        }
        break;
    }
    return tally;
}

qint64 Slice::memoryBytes() const
{
    if (isImage)
        return image.sizeInBytes();
    qint64 bytes = rows.capacity() * qint64(sizeof(QList<double>));
    if (block)
        return bytes + qint64(block.get_deleter().bytes);
    for (const QList<double> &row : rows)
        bytes += row.capacity() * qint64(sizeof(double));
    return bytes;
}

void Slice::dropGrid()
{
    rows.clear();
    narrow = nullptr;
    block.reset();
}

void SliceBlockFree::operator()(std::byte *cells) const
{
    if (page) {
        page.reset();
        return;
    }
#ifdef Q_OS_LINUX
    if (mapped) {
        munmap(cells, bytes);
        return;
    }
#endif
    delete[] cells;
}

namespace {

#ifdef Q_OS_LINUX
constexpr size_t largePage = size_t(2) << 20;

bool largePagesOn()
{
    static const bool on = [] {
        QFile setting(QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled"));
        return setting.open(QIODevice::ReadOnly) && !setting.readAll().contains("[never]");
    }();
    return on;
}

// `span` bytes, a whole number of pages, starting on a large page and asked
// to be held in large ones; nullptr when the system gives none.
std::byte *mapLarge(size_t span)
{
    void *start = mmap(nullptr, span + largePage, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (start == MAP_FAILED)
        return nullptr;
    const auto first = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t aligned = (first + largePage - 1) & ~(largePage - 1);
    if (aligned > first)
        munmap(start, aligned - first);
    munmap(reinterpret_cast<void *>(aligned + span), first + largePage - aligned);
    auto *cells = reinterpret_cast<std::byte *>(aligned);
    madvise(cells, span, MADV_HUGEPAGE);
    return cells;
}
#endif

} // namespace

std::unique_ptr<std::byte[], SliceBlockFree> Slice::allocateBlock(size_t bytes)
{
    std::byte *cells = nullptr;
    SliceBlockFree held{ bytes, false, {} };
#ifdef Q_OS_LINUX
    // Every page of fresh memory costs a fault when first written, and for a
    // long series of large slices those faults were most of a first load; in
    // whole large pages there is one fault per 2 MiB.
    // Without large pages a block of its own would only give its memory back
    // at every load, where the heap keeps it for the next one.
    if (largePagesOn() && bytes >= largePage) {
        // Whole small pages after the last whole large one: a slice just
        // beyond a multiple of 2 MiB does not hold nearly twice its cells.
        const size_t small = size_t(sysconf(_SC_PAGESIZE));
        const size_t span = (bytes + small - 1) / small * small;
        cells = mapLarge(span);
        if (cells)
            held = { span, true, {} };
    } else if (largePagesOn() && bytes >= largePage / 32) {
        // Smaller slices share large pages, cut by each reading thread from
        // its own; a page goes when the last slice cut from it does.
        thread_local std::shared_ptr<std::byte> page;
        thread_local size_t used = largePage;
        const size_t size = (bytes + 63) & ~size_t(63);
        if (used + size > largePage) {
            page.reset();
            if (std::byte *fresh = mapLarge(largePage)) {
                page = std::shared_ptr<std::byte>(fresh,
                                                  [](std::byte *p) { munmap(p, largePage); });
                used = 0;
            }
        }
        if (page) {
            cells = page.get() + used;
            used += size;
            held = { size, false, page };
        }
    }
#endif
    // Uninitialised: every maker of a block writes all its cells.
    if (!cells)
        cells = new (std::nothrow) std::byte[bytes];
    return std::unique_ptr<std::byte[], SliceBlockFree>(cells, held);
}

double *Slice::makeBlockGrid(int columns, int rowCount)
{
    dropGrid();
    if (columns <= 0 || rowCount <= 0)
        return nullptr;
    block = allocateBlock(size_t(columns) * size_t(rowCount) * sizeof(double));
    if (!block)
        return nullptr;
    auto *cells = reinterpret_cast<double *>(block.get());
    try {
        rows.reserve(rowCount);
        if (rows.capacity() < rowCount) {
            dropGrid();
            return nullptr;
        }
        for (int y = 0; y < rowCount; ++y) {
            rows.append(QList<double>(QArrayDataPointer<double>::fromRawData(
                    cells + size_t(y) * size_t(columns), columns)));
        }
    } catch (const std::bad_alloc &) {
        dropGrid();
        return nullptr;
    }
    return cells;
}

qint16 *Slice::makeNarrowCells(int columns, int rowCount)
{
    isImage = false;
    image = QImage();
    dropGrid();
    width = 0;
    height = 0;
    if (columns <= 0 || rowCount <= 0)
        return nullptr;
    block = allocateBlock(size_t(columns) * size_t(rowCount) * sizeof(qint16));
    if (!block)
        return nullptr;
    narrow = reinterpret_cast<qint16 *>(block.get());
    width = columns;
    height = rowCount;
    return narrow;
}

double *Slice::widenCells(qsizetype filled)
{
    if (!narrow)
        return nullptr;
    // The narrow block stays until the doubles hold its values.
    std::unique_ptr<std::byte[], SliceBlockFree> kept = std::move(block);
    const qint16 *from = narrow;
    narrow = nullptr;
    double *cells = makeBlockGrid(width, height);
    if (!cells) {
        block = std::move(kept);
        narrow = reinterpret_cast<qint16 *>(block.get());
        return nullptr;
    }
    for (qsizetype i = 0; i < filled; ++i)
        cells[i] = from[i];
    return cells;
}

bool Slice::makeGrid(int columns, int rowCount)
{
    // A grid below the cell limit may still not fit in memory; the reader then
    // gives the file up instead of the program ending. QList reports a failed
    // reservation by a smaller capacity and a failed growth by std::bad_alloc.
    try {
        dropGrid();
        rows.reserve(rowCount);
        if (rows.capacity() < rowCount) {
            rows = {};
            return false;
        }
        for (int y = 0; y < rowCount; ++y) {
            QList<double> row;
            row.reserve(columns);
            if (row.capacity() < columns) {
                rows = {};
                return false;
            }
            row.resize(columns, 0.0);
            rows.append(std::move(row));
        }
    } catch (const std::bad_alloc &) {
        rows = {};
        return false;
    }
    return true;
}

// Opens a text slice whose first line begins with the tag, and resets what
// the readers fill before they read the rest.
bool Slice::beginTextRead(QFile &file, QTextStream &stream, QLatin1String tag)
{
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    stream.setDevice(&file);
    // Only the tag is compared; reading it alone keeps a large file of another
    // kind from being read whole as one long first line.
    if (stream.read(tag.size()) != tag)
        return false;
    stream.readLine();

    min = DBL_MAX;
    max = -DBL_MAX;
    width = 0;
    height = 0;
    dropGrid();
    return true;
}
