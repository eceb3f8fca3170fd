#include "slices/slicefile.h"
#include "slices/dicomreader.h"
#include "slices/memorybudget.h"
#include "slices/volumefile.h"

#include <QFileInfo>
#include <QImageReader>

namespace {

// A TIFF's pages after its first, each a picture slice of its own. Pages are
// read while the budget holds them; the rest are counted, not read, so that a
// file of many pages cannot fill the memory before the set weighs them.
void readFurtherPages(const QString &fileName, const Slice &first, FileSlices *file)
{
    QImageReader reader(fileName);
    if (reader.format() != "tiff")
        return;
    const int pages = reader.imageCount();
    if (pages < 2)
        return;
    BudgetHold hold;
    if (!hold.take(first.memoryBytes())) {
        file->overBudget = pages - 1;
        return;
    }
    for (int page = 1; page < pages; ++page) {
        if (!reader.jumpToImage(page))
            break;
        QImage picture = reader.read();
        if (picture.isNull())
            continue;
        if (!hold.take(picture.sizeInBytes())) {
            file->overBudget = pages - page;
            break;
        }
        auto slice = std::make_unique<Slice>();
        slice->takePicture(std::move(picture));
        file->slices.push_back(std::move(slice));
    }
    file->stack = file->slices.size() > 1 || file->overBudget > 0;
}

} // namespace

FileSlices readSliceFile(const QString &fileName)
{
    FileSlices file;
    auto first = std::make_unique<Slice>();
    if (first->load(fileName, &file.whyNot)) {
        file.whyNot.clear();
        const bool picture = first->isImage;
        file.slices.push_back(std::move(first));
        if (picture)
            readFurtherPages(fileName, *file.slices.front(), &file);
        return file;
    }
    if (!QFileInfo(fileName).isFile())
        return file;
    // Each of these readers leaves the reason empty for a file that is not of
    // its kind, so that the reason given is that of the reader it was for.
    using Reader = std::vector<std::unique_ptr<Slice>> (*)(const QString &, QString *);
    for (Reader reader : { Reader(readDicomFrames), Reader(readNiftiFile), Reader(readItkFile) }) {
        QString whyNot;
        file.slices = reader(fileName, &whyNot);
        if (!file.slices.empty()) {
            file.stack = true;
            file.whyNot.clear();
            return file;
        }
        if (!whyNot.isEmpty())
            file.whyNot = whyNot;
    }
    return file;
}

QString stackSliceName(const QString &fileName, int index)
{
    return QStringLiteral("%1 [%2]").arg(fileName).arg(index + 1);
}
