#include "slices/slicedatas.h"
#include "slices/dicomreader.h"
#include "slices/memorybudget.h"
#include "slices/slicefile.h"
#include "slices/workerpool.h"

#include <QColor>
#include <QDebug>
#include <QMetaMethod>
#include <QPainter>
#include <QPen>
#include <QRect>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

qint64 physicalMemory()
{
#if defined(Q_OS_WIN)
    MEMORYSTATUSEX status;
    status.dwLength = sizeof(status);
    if (GlobalMemoryStatusEx(&status))
        return qint64(status.ullTotalPhys);
#elif defined(_SC_PHYS_PAGES)
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0)
        return qint64(pages) * pageSize;
#endif
    // Unknown: no more than a small machine has.
    return qint64(4) << 30;
}

// One budget for every set: each panel's set loads on its own thread, and
// it is the process that runs out of memory.
std::atomic<qint64> budget = SliceDatas::defaultMemoryBudget();
std::atomic<qint64> budgetTaken = 0;


// Files are read on threads of their own, started once; a set whose load
// finds them busy with another set's reads its files alone.
WorkerPool &readers()
{
    static WorkerPool pool(std::max(QThread::idealThreadCount(), 1) - 1);
    return pool;
}

// What the files say of where the stack's cells lie: cubes unless every
// slice is a DICOM image of one series, with its position, one orientation
// and one pixel spacing.
CellShape shapeFromFiles(const QList<Slice *> &stack)
{
    const int ss = int(stack.size());
    if (ss < 1 || !stack.first()->dicom)
        return cubicShape(ss);
    const DicomPlacement &first = *stack.first()->dicom;
    // Direction cosines written by one scanner for one series agree to far
    // better than this; a series whose slices turn by more is no stack.
    constexpr double sameDirection = 1e-6;
    for (const Slice *slice : stack) {
        if (!slice->dicom)
            return cubicShape(ss);
        const DicomPlacement &place = *slice->dicom;
        if (place.series.isEmpty() || place.series != first.series || !place.position.readable
            || !place.orientation.readable || !place.pixelSpacing.readable
            || place.pixelSpacing.values != first.pixelSpacing.values) {
            return cubicShape(ss);
        }
        for (size_t i = 0; i < 6; ++i) {
            if (!(std::abs(place.orientation.values[i] - first.orientation.values[i])
                  <= sameDirection)) {
                return cubicShape(ss);
            }
        }
    }
    // The slices' normal: along a row, cross down a column.
    const std::array<double, 6> &o = first.orientation.values;
    const double n[3] = { o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5],
                          o[0] * o[4] - o[1] * o[3] };
    if (!std::isfinite(n[0]) || !std::isfinite(n[1]) || !std::isfinite(n[2])
        || (n[0] == 0.0 && n[1] == 0.0 && n[2] == 0.0)) {
        return cubicShape(ss);
    }
    QList<double> q;
    q.reserve(ss);
    for (const Slice *slice : stack) {
        const std::array<double, 3> &p = slice->dicom->position.values;
        q.append(p[0] * n[0] + p[1] * n[1] + p[2] * n[2]);
    }
    return measuredShape(first.pixelSpacing.values[1], first.pixelSpacing.values[0], q);
}


} // namespace

bool takeFromBudget(qint64 bytes)
{
    qint64 taken = budgetTaken.load();
    do {
        if (bytes > budget.load() - taken)
            return false;
    } while (!budgetTaken.compare_exchange_weak(taken, taken + bytes));
    return true;
}

void giveBackToBudget(qint64 bytes)
{
    budgetTaken.fetch_sub(bytes);
}

struct SliceDatas::Histogram
{
    QList<int> counts;
    double binWidth = 0.0;
    double maxCount = 0.0;
    QImage image;
};

SliceDatas::SliceDatas(QObject *parent)
    : QObject(parent)
{
    clear();
}

SliceDatas::~SliceDatas()
{
    qDeleteAll(slices);
    giveBackToBudget(heldBytes);
}

void SliceDatas::setMemoryBudget(qint64 bytes)
{
    budget.store(bytes);
}

qint64 SliceDatas::defaultMemoryBudget()
{
    return physicalMemory() / 2;
}

void SliceDatas::clear()
{
    {
        std::unique_lock lock(guard);
        qDeleteAll(slices);
        slices.clear();
        runs.reset();
        giveBackToBudget(heldBytes);
        heldBytes = 0;
        loaded = false;
        width = 0;
        height = 0;
        min = 0.0;
        max = 1.0;
        account = {};
        fileShape = cubicShape(0);
        shape = fileShape;
    }
    emit cleared();
}

bool SliceDatas::setSpacing(double column, double row, double slice)
{
    const auto usable = [](double mm) { return std::isfinite(mm) && mm > 0; };
    if (!usable(column) || !usable(row) || !usable(slice))
        return false;
    std::unique_lock lock(guard);
    // Spacings far apart can still leave the shape beyond the doubles.
    CellShape spaced = spacedShape(int(slices.size()), column, row, slice);
    if (!spaced.measured())
        return false;
    shape = std::move(spaced);
    return true;
}

void SliceDatas::resetSpacing()
{
    std::unique_lock lock(guard);
    shape = fileShape;
}

void SliceDatas::queueFiles(const QStringList &files)
{
    {
        std::lock_guard lock(queueGuard);
        queued.push_back(files);
    }
    QMetaObject::invokeMethod(this, "loadQueuedFiles", Qt::QueuedConnection);
}

void SliceDatas::loadQueuedFiles()
{
    QStringList files;
    {
        std::lock_guard lock(queueGuard);
        if (queued.empty())
            return;
        files = std::move(queued.front());
        queued.pop_front();
    }
    filesSelected(files);
}

void SliceDatas::requestStop()
{
    stopRequested.store(true);
}

void SliceDatas::filesSelected(QStringList files)
{
    // A selection of several DICOM series loads one of them: the one the
    // user picks, when someone listens to ask, else the largest.
    SelectionSurvey survey = surveySelection(files, &stopRequested);
    QStringList order = files;
    if (survey.series.size() > 1) {
        if (isSignalConnected(QMetaMethod::fromSignal(&SliceDatas::severalSeries))) {
            emit severalSeries(survey.series, survey.others);
            return;
        }
        order = survey.series.first().files + survey.others;
    } else if (survey.series.size() == 1 && survey.series.first().ordered) {
        order = survey.series.first().files + survey.others;
    }
    clear();
    {
        std::unique_lock lock(guard);
        min = DBL_MAX;
        max = -DBL_MAX;
    }

    // The new set is built aside and published whole at the end, so readers
    // on the interface thread never meet a half-read set.
    QList<Slice *> stack;
    int setWidth = 0;
    int setHeight = 0;
    double setMin = DBL_MAX;
    double setMax = -DBL_MAX;
    qint64 stackBytes = 0;
    Account tally;
    tally.selected = files.size();
    // Each file left out says why, in one line.
    const auto skip = [](const QString &name, int &count, const QString &reason) {
        ++count;
        qDebug() << "Skipped" << name << reason;
    };
    // A few files are read at once, and then taken or left in their order
    // exactly as if read one by one; the budget is thus checked a batch late,
    // which holds at most a batch of slices beyond it for a moment.
    const int batch = 2 * (readers().workerCount() + 1);
    std::vector<FileSlices> reads(size_t(std::min<qsizetype>(batch, order.size())));
    emit filesRead(0, int(order.size()));
    for (qsizetype first = 0; first < order.size() && !stopRequested.load(); first += batch) {
        const int count = int(std::min<qsizetype>(batch, order.size() - first));
        auto read = [&](int i) {
            FileSlices &file = reads[size_t(i)];
            file = readSliceFile(order.at(first + i));
            // The renderer's summaries are made here, on the reading threads,
            // rather than one slice after another on the interface thread at
            // the first picture, where a long series kept the window waiting.
            for (const std::unique_ptr<Slice> &slice : file.slices)
                slice->tiles();
        };
        readers().run(count, read);
        for (int i = 0; i < count && !stopRequested.load(); ++i) {
            const QString &fileName = order.at(first + i);
            FileSlices &file = reads[size_t(i)];
            if (file.slices.empty() && file.overBudget == 0) {
                switch (refusalOf(file.whyNot)) {
                case Refusal::OverBudget:
                    skip(fileName, tally.overBudget, file.whyNot);
                    continue;
                case Refusal::NotSlices:
                    ++tally.notSlices;
                    break;
                case Refusal::Unsupported: {
                    ++tally.unsupported;
                    const QString form = formOf(file.whyNot);
                    auto seen = std::find_if(tally.unsupportedForms.begin(),
                                             tally.unsupportedForms.end(),
                                             [&form](const auto &f) { return f.first == form; });
                    if (seen == tally.unsupportedForms.end())
                        tally.unsupportedForms.append({ form, 1 });
                    else
                        ++seen->second;
                    break;
                }
                case Refusal::Damaged:
                    ++tally.damaged;
                    break;
                }
                skip(fileName, tally.unreadable, file.whyNot);
                continue;
            }
            tally.stacks = tally.stacks || file.stack;
            bool taken = false;
            for (size_t k = 0; k < file.slices.size() && !stopRequested.load(); ++k) {
                std::unique_ptr<Slice> slice = std::move(file.slices[k]);
                const QString name = file.stack ? stackSliceName(fileName, int(k)) : fileName;
                // The first slice read fixes the size, even one refused below as flat.
                if (setWidth <= 0 && slice->width > 0 && slice->height != 0) {
                    setWidth = slice->width;
                    setHeight = slice->height;
                }
                if (slice->width != setWidth || slice->height != setHeight) {
                    skip(name, tally.otherSize,
                         QStringLiteral("%1 x %2, the set's slices are %3 x %4")
                                 .arg(slice->width)
                                 .arg(slice->height)
                                 .arg(setWidth)
                                 .arg(setHeight));
                    continue;
                }
                if (!(slice->max > slice->min)) {
                    skip(name, tally.flat,
                         QStringLiteral("flat: every value is %1").arg(slice->min));
                    continue;
                }
                const qint64 bytes = slice->memoryBytes();
                if (!takeFromBudget(bytes)) {
                    ++tally.overBudget;
                    qDebug() << "Slice memory budget reached, file skipped :" << name;
                    continue;
                }
                stackBytes += bytes;
                setMax = std::max(setMax, slice->max);
                setMin = std::min(setMin, slice->min);
                stack.append(slice.release());
                taken = true;
                emit loadedNewFile(name);
            }
            if (file.overBudget > 0) {
                tally.overBudget += file.overBudget;
                qDebug() << "Slice memory budget reached," << file.overBudget
                         << "slices of the file skipped :" << fileName;
            }
            tally.filesLoaded += taken ? 1 : 0;
        }
        for (FileSlices &file : reads)
            file = {};
        emit filesRead(int(first + count), int(order.size()));
    }

    const bool accepted = setMin < DBL_MAX && setMax > -DBL_MAX;
    Histogram histogram;
    if (accepted) {
        histogram = computeHistogram(stack, setWidth, setHeight, setMin, setMax, binCount,
                                     histHeight);
    }
    CellShape stackShape = shapeFromFiles(stack);
    // Made here, once, rather than by every rendering of a long series.
    const auto parallel = [](int n, const std::function<void(int)> &work) {
        std::function<void(int)> piece = work;
        readers().run(n, piece);
    };
    std::shared_ptr<const SliceRuns> stackRuns =
            SliceRuns::of({stack.cbegin(), stack.cend()}, setWidth, setHeight, parallel);
    {
        std::unique_lock lock(guard);
        slices = stack;
        runs = std::move(stackRuns);
        // A new load draws what its files say, not what the user set before.
        fileShape = std::move(stackShape);
        shape = fileShape;
        heldBytes = stackBytes;
        width = setWidth;
        height = setHeight;
        min = setMin;
        max = setMax;
        account = tally;
        if (accepted) {
            loaded = true;
            publishHistogram(histogram);
        }
    }
    emit loadFilesFinished();
}

SliceDatas::Refusal SliceDatas::refusalOf(const QString &whyNot)
{
    // The readers' own words; a refusal not named here is taken as damage.
    static const QRegularExpression notSlices(QStringLiteral(
            "^(not a picture, text slice or DICOM file|not a regular file|"
            "DICOM object without an image)"));
    static const QRegularExpression overBudget(
            QStringLiteral("over the memory budget|^no memory for"));
    static const QRegularExpression unsupported(QStringLiteral(
            "^colour DICOM image|^DICOM image of unknown photometric interpretation|"
            "^multi-frame DICOM image|^deflated DICOM file|^no DICOM decoder for|"
            "^DICOM image of \\d+ bits allocated|more than the limit of|"
            "^JPEG 2000 decoder unavailable|^JPEG 2000 image of \\d+ components|"
            "^JPEG 2000 samples of|image of \\d+ dimensions|image of \\S+ values|"
            "^NRRD encoding|data in several files"));
    if (notSlices.match(whyNot).hasMatch())
        return Refusal::NotSlices;
    if (overBudget.match(whyNot).hasMatch())
        return Refusal::OverBudget;
    if (unsupported.match(whyNot).hasMatch())
        return Refusal::Unsupported;
    return Refusal::Damaged;
}

QString SliceDatas::formOf(const QString &whyNot)
{
    static const QRegularExpression particulars(QStringLiteral(" \\([^()]*\\)$"));
    QString form = whyNot;
    form.remove(particulars);
    return form;
}

void SliceDatas::makeHistogram()
{
    std::unique_lock lock(guard);
    histReady = false;
    publishHistogram(computeHistogram(slices, width, height, min, max, binCount, histHeight));
}

SliceDatas::Histogram SliceDatas::computeHistogram(const QList<Slice *> &stack, int columns,
                                                   int rowCount, double low, double high,
                                                   int bins, int imageHeight)
{
    Histogram result;
    result.binWidth = (high - low) / (bins - 1);
    const double start = low - 0.5 * result.binWidth;
    // Clamped while still a double: a value far outside the range must not
    // become an int it does not fit.
    const auto binOf = [&](double value) {
        const double k = (value - start) / result.binWidth;
        if (!(k > 0))
            return 0;
        if (k >= bins)
            return bins - 1;
        return int(k);
    };

    // Counted in 64 bits: a large stack can hold more cells than an int counts.
    std::vector<qint64> tally(bins, 0);

    // 16-bit cells are counted by value first, on the reading threads, each
    // its share of the stack; each value is then binned once.
    std::vector<const qint16 *> narrow;
    for (const Slice *slice : stack) {
        if (!slice->isImage && slice->narrowCells())
            narrow.push_back(slice->narrowCells());
    }
    if (!narrow.empty()) {
        const qsizetype cells = qsizetype(columns) * rowCount;
        const int pieces = std::min(readers().workerCount() + 1, int(narrow.size()));
        std::vector<std::vector<qint64>> byValue(size_t(pieces), std::vector<qint64>(65536, 0));
        auto count = [&](int piece) {
            qint64 *values = byValue[size_t(piece)].data() + 32768;
            const size_t first = narrow.size() * size_t(piece) / size_t(pieces);
            const size_t last = narrow.size() * size_t(piece + 1) / size_t(pieces);
            for (size_t k = first; k < last; ++k) {
                for (qsizetype i = 0; i < cells; ++i)
                    ++values[narrow[k][i]];
            }
        };
        readers().run(pieces, count);
        for (int value = -32768; value < 32768; ++value) {
            qint64 total = 0;
            for (const std::vector<qint64> &piece : byValue)
                total += piece[size_t(value + 32768)];
            if (total > 0)
                tally[binOf(value)] += total;
        }
    }

    for (const Slice *slice : stack) {
        if (!slice->isImage && slice->narrowCells())
            continue;
        if (slice->isImage) {
            // A picture holds only the values 0..255; each is binned once.
            const std::array<qint64, 256> values = slice->pictureTally();
            for (int value = 0; value < 256; ++value) {
                if (values[value] > 0)
                    tally[binOf(value)] += values[value];
            }
            continue;
        }
        for (int y = 0; y < rowCount; ++y) {
            for (int x = 0; x < columns; ++x)
                ++tally[binOf(slice->valueAt(x, y))];
        }
    }

    result.counts.reserve(bins);
    qint64 largest = 0;
    for (const qint64 count : tally) {
        result.counts.append(int(std::min<qint64>(count, std::numeric_limits<int>::max())));
        largest = std::max(largest, count);
    }
    result.maxCount = double(largest);

    result.image = QImage(bins, imageHeight, QImage::Format_RGB32);
    // The last column and row are never shown; black keeps them defined.
    result.image.fill(Qt::black);
    QPainter painter(&result.image);
    painter.fillRect(QRect(0, 0, bins - 1, imageHeight - 1), QColor(255, 255, 255));
    painter.setPen(QPen(QColor(0, 220, 160), 1));
    const int bottom = imageHeight - 1;
    for (int i = 0; i < bins; ++i) {
        // Bar heights come from the exact counts, also when a count is too
        // large for the int list.
        const int top = largest > 0 ? int(bottom - tally[i] / result.maxCount * bottom) : bottom;
        painter.drawLine(i, bottom, i, top);
    }
    painter.end();
    return result;
}

void SliceDatas::publishHistogram(const Histogram &histogram)
{
    counts = histogram.counts;
    binWidth = histogram.binWidth;
    maxCount = histogram.maxCount;
    histImage = histogram.image;
    histReady = true;
}
