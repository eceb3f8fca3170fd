#ifndef SLICES_DICOMREADER_H
#define SLICES_DICOMREADER_H

#include <QStringList>

#include <atomic>

// The order in which a selection loads. When the DICOM images among the files
// all belong to one series and all carry their position and orientation, they
// come first, along the slice normal (ties: instance number, then the given
// order), and the other files follow as given; otherwise the selection stays
// as given. Reads only headers. A raised stop flag ends the pass early and
// leaves the selection as given.
QStringList loadingOrder(const QStringList &files, const std::atomic<bool> *stop = nullptr);

#endif // SLICES_DICOMREADER_H
