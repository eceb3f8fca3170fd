#ifndef SLICES_SLICEDATAS_H
#define SLICES_SLICEDATAS_H

#include "slices/cellshape.h"
#include "slices/dicomreader.h"
#include "slices/slice.h"
#include "slices/sliceruns.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>
#include <shared_mutex>

// One slice set: a stack of slices of one common size with its value range,
// display window and histogram. It lives on a worker thread of its own, where
// filesSelected reads the files; the interface thread reads the fields.
class SliceDatas : public QObject
{
    Q_OBJECT

public:
    explicit SliceDatas(QObject *parent = nullptr);
    ~SliceDatas() override;

    // Guards every field below except windowLow and windowHigh. A load reads
    // its files and computes its histogram aside and changes these fields only
    // while it holds the lock for writing (when it empties the set at its start
    // and when it publishes the new slices at its end), so a reader on another
    // thread holds it for reading as long as it reads: the renderer for the
    // whole of one rendering, the histogram display while it draws, the panel
    // while it takes the range. Never emit or wait for the set while holding it.
    mutable std::shared_mutex guard;

    bool loaded = false;
    QList<Slice *> slices;          // owned; index = position in the stack
    // The renderer's summaries over runs of these slices, made with them.
    std::shared_ptr<const SliceRuns> runs;
    int width = 0;
    int height = 0;
    double min = 0.0;
    double max = 1.0;
    // Written and read by the renderer alone, on the interface thread.
    double windowLow = 0.0;
    double windowHigh = 0.0;
    bool histReady = false;
    int binCount = 50;
    int histHeight = 100;
    QList<int> counts;              // a count beyond the int range stays at its largest
    double binWidth = 0.0;
    double maxCount = 0.0;
    QImage histImage;
    // Where the cells lie: as the set is drawn, and as its files say (cubes
    // when they say nothing).
    CellShape shape;
    CellShape fileShape;

    // How the last load went: the files it was given and how many gave
    // slices, and the slices (or unreadable files) it left out, by reason.
    // Zero after clear.
    struct Account
    {
        int selected = 0;
        int filesLoaded = 0;
        // Some file gave a stack of slices, so slices and files differ.
        bool stacks = false;
        int flat = 0;
        // Every file that gave nothing, and the same files by kind.
        int unreadable = 0;
        int notSlices = 0;
        int unsupported = 0;
        int damaged = 0;
        int otherSize = 0;
        int overBudget = 0;
        // The forms left unread, each with its count, in the order met.
        QList<std::pair<QString, int>> unsupportedForms;
    };
    Account account;

    // What a reader's refusal of a whole file says of it: no slice format at
    // all, a form of one that is not read (multi-frame of a kind, an unknown
    // coding, colour), a file cut short or broken, or want of memory.
    enum class Refusal { NotSlices, Unsupported, Damaged, OverBudget };
    static Refusal refusalOf(const QString &whyNot);
    // The form an unsupported file is in, without its particulars:
    // "multi-frame DICOM image" of "multi-frame DICOM image (3 frames)".
    static QString formOf(const QString &whyNot);

    // Empties the set; the histogram stays as it is.
    void clear();
    // The user's spacing in millimetres, between columns, rows and slices:
    // the set is drawn with its slices that far apart, whatever its files
    // say, until the next load or reset. Refused (false, nothing changed)
    // unless each is a finite number above 0, the set holds a slice and its
    // planes come out as numbers.
    bool setSpacing(double column, double row, double slice);
    // Back to what the files say.
    void resetSpacing();
    // Builds the histogram of the slices the set holds now.
    void makeHistogram();
    // Thread-safe: a running load stops before its next file and finishes as
    // usual, with what it has; every later load stops at once. For shutting
    // down without waiting for a long selection to be read.
    void requestStop();

    // The bytes of slice values that all sets of the process may hold
    // together. A slice that would go beyond it is refused like a misfit, so a
    // large selection cannot make the system end the program for want of
    // memory. By default half the physical memory.
    static void setMemoryBudget(qint64 bytes);
    static qint64 defaultMemoryBudget();

    // Loads the files on the set's thread once what it is doing is done, as
    // filesSelected through a queued connection would; callable from any
    // thread. The names are handed over under a lock of our own.
    void queueFiles(const QStringList &files);

signals:
    void cleared();
    void loadedNewFile(QString fname);
    // After each file of a load is read or left out, of all the load reads;
    // first with none read, before the first file.
    void filesRead(int read, int chosen);
    void loadFilesFinished();
    // The selection holds images of several DICOM series and nothing was
    // loaded: the set is as it was. Loading one series's files and the
    // others is up to whoever asks the user.
    void severalSeries(QList<DicomSeries> series, QStringList others);

public slots:
    void filesSelected(QStringList files);

private slots:
    void loadQueuedFiles();

private:
    struct Histogram;
    static Histogram computeHistogram(const QList<Slice *> &stack, int columns, int rowCount,
                                      double low, double high, int bins, int imageHeight);
    void publishHistogram(const Histogram &histogram);

    std::atomic<bool> stopRequested = false;
    std::mutex queueGuard;
    std::deque<QStringList> queued;
    // What the slices in `slices` take of the budget; changed with them.
    qint64 heldBytes = 0;
};

#endif // SLICES_SLICEDATAS_H
