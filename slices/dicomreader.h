#ifndef SLICES_DICOMREADER_H
#define SLICES_DICOMREADER_H

#include "slices/slice.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <vector>

// The order in which a selection loads. When the DICOM images among the files
// all belong to one series and all carry their position and orientation, they
// come first, along the slice normal (ties: instance number, then the given
// order), and the other files follow as given; otherwise the selection stays
// as given. Reads only headers. A raised stop flag ends the pass early and
// leaves the selection as given.
QStringList loadingOrder(const QStringList &files, const std::atomic<bool> *stop = nullptr);

// One DICOM series among the files of a selection, as its headers say.
struct DicomSeries
{
    QString uid; // Series Instance UID; empty for images without one
    QString description;
    QString modality;
    QStringList files; // in loading order
    // Every image carried a usable position and orientation, so that files
    // are sorted along the slice normal; else they are in the given order.
    bool ordered = false;
    qint64 images = 0; // frames of all its files
    int columns = 0;
    int rows = 0;
    // Millimetres between columns, rows and slices; 0 where the files do not
    // say. Between slices: from the first to the last along the normal,
    // divided by their count less one, as the set's shape takes it; for a
    // lone multi-frame file, from its frames' places, else its Spacing
    // Between Slices.
    double columnMm = 0.0;
    double rowMm = 0.0;
    double sliceMm = 0.0;
};

// A selection's DICOM images grouped by series, the largest (most images)
// first, ties in the order of their first file; and the selection's other
// files, as given. Reads only headers; a raised stop flag ends it early with
// every file among the others.
struct SelectionSurvey
{
    QList<DicomSeries> series;
    QStringList others;
};
SelectionSurvey surveySelection(const QStringList &files, const std::atomic<bool> *stop = nullptr);

// A multi-frame grey DICOM image (Enhanced CT or MR, RT Dose, NM and the
// like): one slice per frame, ordered and placed along the slice normal by
// each frame's position where the file gives them; or nothing, with the
// reason in whyNot.
std::vector<std::unique_ptr<Slice>> readDicomFrames(const QString &fileName, QString *whyNot);

Q_DECLARE_METATYPE(DicomSeries)

#endif // SLICES_DICOMREADER_H
