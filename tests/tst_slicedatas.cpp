#include "slices/slicedatas.h"

#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <cfloat>
#include <cmath>
#include <limits>
#include <mutex>
#include <shared_mutex>

#include "tests/dicomfixtures.h"

// Stands for the panel: lives on the test thread, sends selections to the set
// and takes its notices, queued, in the order they arrive.
class Panel : public QObject
{
    Q_OBJECT

public:
    QStringList log;

signals:
    void filesSelected(QStringList files);
    void finished();
};

// Qt hands a queued call to the receiver's thread under a lock that
// ThreadSanitizer cannot see, as Qt is not built for it. The sender counts each
// call once it is queued (a direct connection made after the queued one runs
// after the post), and the receiver's thread waits for that count before the
// call is delivered: the hand-over Qt guarantees becomes visible to the tool,
// and nothing else is ordered by it. The filtered objects get no events in
// this test but queued calls, so every event is one of them.
class HandOver : public QObject
{
public:
    void queued() { posted.fetch_add(1, std::memory_order_release); }

    bool eventFilter(QObject *, QEvent *) override
    {
        ++delivered;
        while (posted.load(std::memory_order_acquire) < delivered)
            QThread::yieldCurrentThread();
        return false;
    }

private:
    std::atomic<int> posted = 0;
    int delivered = 0;
};

class tst_SliceDatas : public QObject
{
    Q_OBJECT

private:
    QString path(const QString &name) const { return dir.filePath(name); }
    bool load(const QStringList &names);

    QTemporaryDir dir;
    QThread *worker = nullptr;
    SliceDatas *set = nullptr;
    Panel *panel = nullptr;
    HandOver *toSet = nullptr;
    HandOver *toPanel = nullptr;
    std::atomic<int> finishedLoads = 0;
    std::atomic<bool> workerDone = false;

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void load_data();
    void load();
    void emptyLoadKeepsHistogram();
    void secondSelectionReplaces();
    void requestStop_data();
    void requestStop();
    void memoryBudget_data();
    void memoryBudget();
    void histogramBins_data();
    void histogramBins();
    void histogramImage();
    void histogramOfEmptySet();
    void histogramCountBeyondInt();
    void stressReadWhileLoading();
    void fileShape_data();
    void fileShape();
    void spacing_data();
    void spacing();
};

static bool saveGrey(const QString &path, int w, int h, int (*level)(int x, int y))
{
    QImage image(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            image.scanLine(y)[x] = uchar(level(x, y));
    }
    return image.save(path, "png");
}

static bool saveText(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

void tst_SliceDatas::initTestCase()
{
    QVERIFY(dir.isValid());
    // 16 x 8 pictures g1 (0 .. 127), g2 (50 .. 60), g3 (200 .. 207); 8 x 8 ones.
    QVERIFY(saveGrey(path("g1.png"), 16, 8, [](int x, int y) { return x + 16 * y; }));
    QVERIFY(saveGrey(path("g2.png"), 16, 8, [](int x, int) { return 50 + x % 11; }));
    QVERIFY(saveGrey(path("g3.png"), 16, 8, [](int, int y) { return 200 + y; }));
    QVERIFY(saveGrey(path("small.png"), 8, 8, [](int x, int y) { return x * y; }));
    QVERIFY(saveGrey(path("flat8.png"), 8, 8, [](int, int) { return 7; }));
    QImage red(16, 8, QImage::Format_RGB32);
    red.fill(QColor(255, 0, 0));
    QVERIFY(red.save(path("red.png"), "png"));
    QVERIFY(saveText(path("text.txt"), "no slice here\n"));
    QVERIFY(saveText(path("ct.dat"),
                     "#VELD-CTImg\n# Range_X1 = 15\n# Range_Y1 = 7\n0 0 -5\n15 7 300\n"));
    QVERIFY(saveText(path("table.dat"), "## 240301\n# X-NUM 17\n# Y-NUM 9\n0,0,1000\n1,0,2\n"));
}

void tst_SliceDatas::init()
{
    worker = new QThread;
    set = new SliceDatas;
    panel = new Panel;
    toSet = new HandOver;
    toPanel = new HandOver;
    finishedLoads = 0;
    workerDone = false;
    // The worker's last act that the test can see; waiting for the thread
    // orders it before the teardown below, also for ThreadSanitizer.
    connect(worker, &QThread::finished, worker,
            [this] { workerDone.store(true, std::memory_order_release); }, Qt::DirectConnection);
    set->moveToThread(worker);
    toSet->moveToThread(worker);
    set->installEventFilter(toSet);
    panel->installEventFilter(toPanel);

    connect(panel, &Panel::filesSelected, set, &SliceDatas::filesSelected);
    connect(set, &SliceDatas::cleared, panel, [this] { panel->log << "cleared"; });
    connect(set, &SliceDatas::loadedNewFile, panel, [this](QString name) { panel->log << name; });
    connect(set, &SliceDatas::loadFilesFinished, panel, [this] {
        panel->log << "finished";
        emit panel->finished();
    });
    connect(set, &SliceDatas::loadFilesFinished, set, [this] { ++finishedLoads; },
            Qt::DirectConnection);

    const auto toSetQueued = [this] { toSet->queued(); };
    const auto toPanelQueued = [this] { toPanel->queued(); };
    connect(panel, &Panel::filesSelected, panel, toSetQueued, Qt::DirectConnection);
    connect(set, &SliceDatas::cleared, set, toPanelQueued, Qt::DirectConnection);
    connect(set, &SliceDatas::loadedNewFile, set, toPanelQueued, Qt::DirectConnection);
    connect(set, &SliceDatas::loadFilesFinished, set, toPanelQueued, Qt::DirectConnection);
    worker->start();
}

void tst_SliceDatas::cleanup()
{
    // The set may be destroyed only once its thread has stopped.
    worker->quit();
    QVERIFY(worker->wait(60000));
    QVERIFY(workerDone.load(std::memory_order_acquire));
    delete set;
    delete toSet;
    delete worker;
    delete panel;
    delete toPanel;
}

bool tst_SliceDatas::load(const QStringList &names)
{
    panel->log.clear();
    QSignalSpy done(panel, &Panel::finished);
    emit panel->filesSelected(names);
    return done.wait(60000);
}

void tst_SliceDatas::load_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("accepted");
    QTest::addColumn<QList<double>>("firstValues");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");

    QTest::newRow("three of one size and one smaller: the smaller dropped")
        << QStringList{"g1.png", "g2.png", "small.png", "g3.png"}
        << QStringList{"g1.png", "g2.png", "g3.png"} << QList<double>{0, 50, 200} << 16 << 8
        << 0.0 << 207.0;
    QTest::newRow("names kept in the order received: c, a, b")
        << QStringList{"g3.png", "g1.png", "g2.png"} << QStringList{"g3.png", "g1.png", "g2.png"}
        << QList<double>{200, 0, 50} << 16 << 8 << 0.0 << 207.0;
    QTest::newRow("first readable file flat: it fixes the size and is dropped")
        << QStringList{"text.txt", "flat8.png", "g1.png", "small.png"}
        << QStringList{"small.png"} << QList<double>{0} << 8 << 8 << 0.0 << 49.0;
    QTest::newRow("pure red picture dropped")
        << QStringList{"red.png", "g2.png"} << QStringList{"g2.png"} << QList<double>{50} << 16
        << 8 << 50.0 << 60.0;
    QTest::newRow("a picture and both text formats")
        << QStringList{"ct.dat", "g1.png", "table.dat"}
        << QStringList{"ct.dat", "g1.png", "table.dat"} << QList<double>{-5, 0, 1000} << 16 << 8
        << -5.0 << 1000.0;
    QTest::newRow("only a flat file: size fixed, nothing accepted")
        << QStringList{"flat8.png"} << QStringList{} << QList<double>{} << 8 << 8 << DBL_MAX
        << -DBL_MAX;
    QTest::newRow("nothing readable")
        << QStringList{"missing.png", "text.txt"} << QStringList{} << QList<double>{} << 0 << 0
        << DBL_MAX << -DBL_MAX;
    QTest::newRow("empty selection") << QStringList{} << QStringList{} << QList<double>{} << 0
                                     << 0 << DBL_MAX << -DBL_MAX;
}

void tst_SliceDatas::load()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, accepted);
    QFETCH(QList<double>, firstValues);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(double, min);
    QFETCH(double, max);

    QStringList paths;
    for (const QString &name : files)
        paths << path(name);
    QVERIFY(load(paths));

    QStringList expectedLog{"cleared"};
    for (const QString &name : accepted)
        expectedLog << path(name);
    expectedLog << "finished";
    QCOMPARE(panel->log, expectedLog);

    std::shared_lock lock(set->guard);
    QCOMPARE(set->loaded, !accepted.isEmpty());
    QCOMPARE(set->width, width);
    QCOMPARE(set->height, height);
    QCOMPARE(set->min, min);
    QCOMPARE(set->max, max);
    QCOMPARE(set->slices.size(), accepted.size());
    for (int i = 0; i < set->slices.size(); ++i) {
        QCOMPARE(set->slices.at(i)->width, width);
        QCOMPARE(set->slices.at(i)->valueAt(0, 0), firstValues.at(i));
    }
    QCOMPARE(set->histReady, !accepted.isEmpty());
    if (set->histReady) {
        // Every cell of every slice counts, also the text cells no line named.
        qint64 cells = 0;
        for (int count : set->counts)
            cells += count;
        QCOMPARE(cells, qint64(accepted.size()) * width * height);
        QCOMPARE(set->binWidth, (max - min) / 49);
    }
}

void tst_SliceDatas::emptyLoadKeepsHistogram()
{
    QVERIFY(load({path("g1.png")}));
    QImage image;
    QList<int> counts;
    {
        std::shared_lock lock(set->guard);
        QVERIFY(set->histReady);
        image = set->histImage;
        counts = set->counts;
    }

    QVERIFY(load({path("text.txt"), path("g1.png") + "-missing"}));
    QCOMPARE(panel->log, QStringList({"cleared", "finished"}));
    std::shared_lock lock(set->guard);
    QVERIFY(!set->loaded);
    QVERIFY(set->slices.isEmpty());
    QCOMPARE(set->min, DBL_MAX);
    QCOMPARE(set->max, -DBL_MAX);
    QVERIFY(set->histReady);
    QCOMPARE(set->histImage, image);
    QCOMPARE(set->counts, counts);
}

void tst_SliceDatas::secondSelectionReplaces()
{
    QVERIFY(load({path("g1.png"), path("g2.png")}));
    QVERIFY(load({path("g3.png")}));
    QCOMPARE(panel->log, QStringList({"cleared", path("g3.png"), "finished"}));
    std::shared_lock lock(set->guard);
    QCOMPARE(set->slices.size(), 1);
    QCOMPARE(set->slices.first()->valueAt(0, 0), 200.0);
    QCOMPARE(set->min, 200.0);
    QCOMPARE(set->max, 207.0);
}

void tst_SliceDatas::requestStop_data()
{
    QTest::addColumn<int>("stopAfter");
    QTest::addColumn<QStringList>("accepted");

    QTest::newRow("before the load: nothing read") << 0 << QStringList{};
    QTest::newRow("after the first accepted file") << 1 << QStringList{"g1.png"};
    QTest::newRow("after the second accepted file") << 2 << QStringList{"g1.png", "g2.png"};
}

void tst_SliceDatas::requestStop()
{
    QFETCH(int, stopAfter);
    QFETCH(QStringList, accepted);

    if (stopAfter == 0) {
        set->requestStop();
    } else {
        // Asked on the worker thread right after an accepted file, as a
        // panel closing mid-load would ask from its own thread.
        auto seen = std::make_shared<int>(0);
        connect(set, &SliceDatas::loadedNewFile, set, [this, seen, stopAfter] {
            if (++*seen == stopAfter)
                set->requestStop();
        }, Qt::DirectConnection);
    }
    QVERIFY(load({path("g1.png"), path("g2.png"), path("g3.png")}));

    QStringList expectedLog{"cleared"};
    for (const QString &name : accepted)
        expectedLog << path(name);
    expectedLog << "finished";
    QCOMPARE(panel->log, expectedLog);
    {
        // A stopped load still finishes as usual with what it has.
        std::shared_lock lock(set->guard);
        QCOMPARE(set->slices.size(), accepted.size());
        QCOMPARE(set->loaded, !accepted.isEmpty());
        QCOMPARE(set->histReady, !accepted.isEmpty());
    }

    // Every later load stops at once.
    QVERIFY(load({path("g3.png")}));
    QCOMPARE(panel->log, QStringList({"cleared", "finished"}));
    std::shared_lock lock(set->guard);
    QVERIFY(set->slices.isEmpty());
    QVERIFY(!set->loaded);
}

void tst_SliceDatas::memoryBudget_data()
{
    QTest::addColumn<double>("budgetInSlices");
    QTest::addColumn<int>("heldElsewhere");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("accepted");
    QTest::addColumn<QStringList>("refused");

    const QStringList four{"g1.png", "g2.png", "g3.png", "g1.png"};
    QTest::newRow("room for two and a half: the third and fourth refused")
        << 2.5 << 0 << four << QStringList{"g1.png", "g2.png"} << QStringList{"g3.png", "g1.png"};
    QTest::newRow("room for exactly three") << 3.0 << 0 << four
                                            << QStringList{"g1.png", "g2.png", "g3.png"}
                                            << QStringList{"g1.png"};
    QTest::newRow("a misfit takes nothing")
        << 2.0 << 0 << QStringList{"g1.png", "small.png", "g2.png"}
        << QStringList{"g1.png", "g2.png"} << QStringList{};
    QTest::newRow("another set's slices count too")
        << 3.0 << 2 << QStringList{"g1.png", "g2.png", "g3.png"} << QStringList{"g1.png"}
        << QStringList{"g2.png", "g3.png"};
}

void tst_SliceDatas::memoryBudget()
{
    QFETCH(double, budgetInSlices);
    QFETCH(int, heldElsewhere);
    QFETCH(QStringList, files);
    QFETCH(QStringList, accepted);
    QFETCH(QStringList, refused);

    Slice probe;
    QVERIFY(probe.load(path("g1.png")));
    const qint64 sliceBytes = probe.memoryBytes();
    QVERIFY(sliceBytes >= 16 * 8);
    const auto restore = qScopeGuard(
            [] { SliceDatas::setMemoryBudget(SliceDatas::defaultMemoryBudget()); });
    SliceDatas::setMemoryBudget(qint64(budgetInSlices * sliceBytes));
    // A second set, loading on this thread, holds part of the budget.
    SliceDatas other;
    other.filesSelected(QStringList{path("g1.png"), path("g2.png"), path("g3.png")}
                                .first(heldElsewhere));

    QStringList paths;
    for (const QString &name : files)
        paths << path(name);
    QStringList expectedLog{"cleared"};
    for (const QString &name : accepted)
        expectedLog << path(name);
    expectedLog << "finished";
    // Twice: a new selection first gives back what the last one took.
    for (int round = 0; round < 2; ++round) {
        for (const QString &name : refused) {
            const QByteArray line = "Slice memory budget reached, file skipped : \""
                    + path(name).toUtf8() + '"';
            QTest::ignoreMessage(QtDebugMsg, line.constData());
        }
        QVERIFY(load(paths));
        QCOMPARE(panel->log, expectedLog);
        std::shared_lock lock(set->guard);
        QCOMPARE(set->slices.size(), accepted.size());
        QCOMPARE(set->loaded, true);
        QVERIFY(set->histReady);
    }
}

void tst_SliceDatas::histogramBins_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("bin");

    QTest::newRow("0 -> bin 0") << 0.0 << 0;
    QTest::newRow("0.49 -> bin 0") << 0.49 << 0;
    QTest::newRow("0.5 -> bin 1") << 0.5 << 1;
    QTest::newRow("24.5 -> bin 25") << 24.5 << 25;
    QTest::newRow("48.49 -> bin 48") << 48.49 << 48;
    QTest::newRow("48.5 -> bin 49") << 48.5 << 49;
    QTest::newRow("49 -> bin 49") << 49.0 << 49;
    QTest::newRow("far below the range -> bin 0") << -1e300 << 0;
    QTest::newRow("far above the range -> bin 49") << 1e300 << 49;
}

void tst_SliceDatas::histogramBins()
{
    QFETCH(double, value);
    QFETCH(int, bin);

    // The set's range 0 .. 49 gives bins one unit wide centred on 0 .. 49.
    SliceDatas local;
    auto *slice = new Slice;
    slice->width = 3;
    slice->height = 1;
    slice->rows = {{0.0, 49.0, value}};
    local.slices = {slice};
    local.width = 3;
    local.height = 1;
    local.min = 0.0;
    local.max = 49.0;
    local.makeHistogram();

    QList<int> expected(50, 0);
    expected[0] = 1;
    expected[49] = 1;
    ++expected[bin];
    QVERIFY(local.histReady);
    QCOMPARE(local.binWidth, 1.0);
    QCOMPARE(local.counts, expected);
    QCOMPARE(local.maxCount, bin == 0 || bin == 49 ? 2.0 : 1.0);
}

void tst_SliceDatas::histogramImage()
{
    // Three cells in bin 0 (the fullest), one in bin 24, one in bin 49.
    SliceDatas local;
    auto *slice = new Slice;
    slice->width = 5;
    slice->height = 1;
    slice->rows = {{0.0, 0.0, 0.0, 24.0, 49.0}};
    local.slices = {slice};
    local.width = 5;
    local.height = 1;
    local.min = 0.0;
    local.max = 49.0;
    local.makeHistogram();

    const QImage &image = local.histImage;
    QCOMPARE(image.size(), QSize(50, 100));
    QCOMPARE(image.format(), QImage::Format_RGB32);
    const QRgb bar = qRgb(0, 220, 160);
    const QRgb white = qRgb(255, 255, 255);
    QCOMPARE(image.pixel(0, 0), bar);          // the fullest bin reaches row 0
    QCOMPARE(image.pixel(0, 98), bar);
    QCOMPARE(image.pixel(24, 66), bar);        // 99 - 1/3 * 99
    QCOMPARE(image.pixel(24, 65), white);
    QCOMPARE(image.pixel(10, 0), white);       // an empty bin draws nothing above the last row
    QCOMPARE(image.pixel(10, 98), white);
    QCOMPARE(image.pixel(48, 98), white);
}

void tst_SliceDatas::histogramOfEmptySet()
{
    // No cell at all: every bar stays empty instead of dividing by a zero count.
    SliceDatas local;
    local.makeHistogram();
    QVERIFY(local.histReady);
    QCOMPARE(local.counts, QList<int>(50, 0));
    QCOMPARE(local.maxCount, 0.0);
    QCOMPARE(local.histImage.pixel(0, 0), qRgb(255, 255, 255));
    QCOMPARE(local.histImage.pixel(0, 98), qRgb(255, 255, 255));
}

void tst_SliceDatas::histogramCountBeyondInt()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    QSKIP("Counting 2^31 cells takes too long under a sanitizer.");
#endif
    // Nine slices share one picture of 2^28 pixels: 2^31 - 9 + 2^28 cells
    // land in bin 0, more than an int counts.
    QImage picture(65536, 4096, QImage::Format_Grayscale8);
    QVERIFY(!picture.isNull());
    picture.fill(0);
    picture.scanLine(0)[0] = 1;
    SliceDatas local;
    for (int i = 0; i < 9; ++i) {
        auto *slice = new Slice;
        slice->isImage = true;
        slice->image = picture;
        slice->width = picture.width();
        slice->height = picture.height();
        local.slices.append(slice);
    }
    local.width = picture.width();
    local.height = picture.height();
    local.min = 0.0;
    local.max = 1.0;
    local.makeHistogram();

    const qint64 zeros = 9 * ((qint64(1) << 28) - 1);
    QCOMPARE(local.counts.first(), std::numeric_limits<int>::max());
    QCOMPARE(local.counts.last(), 9);
    QCOMPARE(local.maxCount, double(zeros));
    QCOMPARE(local.histImage.pixel(0, 0), qRgb(0, 220, 160));
}

void tst_SliceDatas::stressReadWhileLoading()
{
    // Loads run back to back on the worker while this thread reads the set
    // as the renderer and the histogram display do, under the read lock.
    const QList<QStringList> selections = {
        {path("g1.png"), path("ct.dat"), path("g2.png"), path("table.dat"), path("g3.png")},
        {path("small.png"), path("g1.png")},
        {},
        {path("text.txt")},
        {path("g2.png"), path("red.png"), path("g1.png")},
    };
    const int loads = 200;
    for (int i = 0; i < loads; ++i)
        emit panel->filesSelected(selections.at(i % selections.size()));

    int reads = 0;
    double sum = 0;
    while (finishedLoads.load() < loads) {
        {
            std::shared_lock lock(set->guard);
            for (const Slice *slice : set->slices) {
                QCOMPARE(slice->width, set->width);
                QCOMPARE(slice->height, set->height);
                QVERIFY(slice->min >= set->min && slice->max <= set->max);
                for (int y = 0; y < set->height; ++y) {
                    for (int x = 0; x < set->width; ++x)
                        sum += slice->valueAt(x, y);
                }
            }
            if (set->histReady) {
                QCOMPARE(set->histImage.size(), QSize(set->binCount, set->histHeight));
                const QRgb *top = reinterpret_cast<const QRgb *>(set->histImage.constScanLine(0));
                for (int i = 0; i < set->binCount - 1; ++i)
                    sum += qGreen(top[i]);
            }
        }
        ++reads;
        // Gives the writer its turn: a reader-preferring lock could keep it out.
        QThread::yieldCurrentThread();
    }
    QVERIFY(std::isfinite(sum));
    QVERIFY(reads > 0);

    std::shared_lock lock(set->guard);
    QCOMPARE(set->slices.size(), 2);    // the last selection: g2 and g1, red dropped
}

void tst_SliceDatas::fileShape_data()
{
    // One file per entry: "png", or a DICOM image "series;position;pixel
    // spacing;orientation" (orientation axial where left out); series F is flat.
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<double>("ry");
    QTest::addColumn<QList<double>>("z"); // empty: cubes

    const QList<double> cubes;
    QTest::newRow("a gap keeps its place; rows 0.5 mm, columns 0.25 mm apart")
            << QStringList{ "A;0\\0\\3;0.5\\0.25", "A;0\\0\\0;0.5\\0.25", "A;0\\0\\1;0.5\\0.25" }
            << 2.0 << QList<double>{ -9, -5, 3 };
    QTest::newRow("equal positions share a plane")
            << QStringList{ "A;0\\0\\0;1\\1", "A;0\\0\\0;1\\1", "A;0\\0\\1;1\\1" } << 1.0
            << QList<double>{ -0.75, -0.75, 0.25 };
    QTest::newRow("sagittal: normal along -x, largest x first")
            << QStringList{ "A;5\\0\\0;1\\1;0\\1\\0\\0\\0\\-1",
                            "A;-2\\0\\0;1\\1;0\\1\\0\\0\\0\\-1",
                            "A;9\\0\\0;1\\1;0\\1\\0\\0\\0\\-1" }
            << 1.0 << QList<double>{ -8.25, -4.25, 2.75 };
    QTest::newRow("orientations 1e-7 apart are one")
            << QStringList{ "A;0\\0\\0;1\\1", "A;0\\0\\2;1\\1;1\\0.0000001\\0\\0\\1\\0" } << 1.0
            << QList<double>{ -2, 0 };
    QTest::newRow("orientations 0.01 apart: cubes")
            << QStringList{ "A;0\\0\\0;1\\1", "A;0\\0\\2;1\\1;1\\0.01\\0\\0\\1\\0" } << 1.0
            << cubes;
    QTest::newRow("a picture among DICOM images: cubes")
            << QStringList{ "A;0\\0\\0;1\\1", "png", "A;0\\0\\1;1\\1" } << 1.0 << cubes;
    // Of two series, with no one to ask, the larger loads alone.
    QTest::newRow("two series: the larger")
            << QStringList{ "A;0\\0\\0;1\\1", "B;0\\0\\2;1\\1", "B;0\\0\\0;1\\1" } << 1.0
            << QList<double>{ -2, 0 };
    QTest::newRow("two pixel spacings: cubes")
            << QStringList{ "A;0\\0\\0;1\\1", "A;0\\0\\1;1\\0.5" } << 1.0 << cubes;
    QTest::newRow("a flat series beside: the other, sorted")
            << QStringList{ "A;0\\0\\2;1\\1", "A;0\\0\\0;1\\1", "F;0\\0\\9;1\\1",
                            "A;0\\0\\1;1\\1" }
            << 1.0 << QList<double>{ -1.5, -0.5, 0.5 };
}

void tst_SliceDatas::fileShape()
{
    QFETCH(QStringList, files);
    QFETCH(double, ry);
    QFETCH(QList<double>, z);

    QTemporaryDir here;
    QStringList names;
    for (const QString &file : files) {
        names.append(here.filePath(QString::number(names.size())));
        const QStringList parts = file.split(u';');
        DicomFixture image;
        image.series = parts.at(0);
        image.position = parts.value(1);
        image.pixelSpacing = parts.value(2);
        image.orientation = parts.value(3, image.orientation);
        image.raw = image.series == "F" ? QList<int>(6, 5) : QList<int>{ 1, 2, 3, 4, 5, 6 };
        QVERIFY(file == "png" ? saveGrey(names.last(), 3, 2, [](int x, int) { return x; })
                              : writeDicom(names.last(), image));
    }
    QVERIFY(load(names));

    std::shared_lock lock(set->guard);
    const CellShape cubes = cubicShape(int(set->slices.size()));
    QCOMPARE(set->fileShape.measured(), !z.isEmpty());
    QCOMPARE(set->fileShape.ry, ry);
    QCOMPARE(set->fileShape.z, z.isEmpty() ? cubes.z : z);
    QCOMPARE(set->fileShape.depth, z.isEmpty() ? cubes.depth : -2 * z.first());
    QCOMPARE(set->shape.z, set->fileShape.z);
}

void tst_SliceDatas::spacing_data()
{
    QTest::addColumn<double>("column");
    QTest::addColumn<double>("slice");
    QTest::addColumn<bool>("taken");
    QTest::newRow("columns 0.5 mm, slices 2 mm") << 0.5 << 2.0 << true;
    QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << 1.0 << false;
    QTest::newRow("shape beyond the doubles") << 1e-300 << 1e300 << false;
}

void tst_SliceDatas::spacing()
{
    QFETCH(double, column);
    QFETCH(double, slice);
    QFETCH(bool, taken);

    const auto shape = [this] {
        std::shared_lock lock(set->guard);
        return set->shape;
    };
    const QStringList names{ path("g1.png"), path("g2.png"), path("g3.png") };
    QVERIFY(load(names));
    // Rows 0.25 mm apart: half a column; slices 2 mm: four columns.
    QCOMPARE(set->setSpacing(column, 0.25, slice), taken);
    QCOMPARE(shape().ry, taken ? 0.5 : 1.0);
    QCOMPARE(shape().z, taken ? QList<double>({ -6, -2, 2 }) : cubicShape(3).z);
    set->resetSpacing();
    QCOMPARE(shape().z, cubicShape(3).z);

    // A new load draws what its files say.
    QVERIFY(set->setSpacing(1, 2, 3));
    QVERIFY(load(names));
    QVERIFY(!shape().measured());
}

QTEST_GUILESS_MAIN(tst_SliceDatas)
#include "tst_slicedatas.moc"
