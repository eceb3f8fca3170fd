#ifndef SLICES_SLICEFILE_H
#define SLICES_SLICEFILE_H

#include "slices/slice.h"

#include <QString>

#include <memory>
#include <vector>

// What one file gives: its slices in the file's order, or why none.
struct FileSlices
{
    std::vector<std::unique_ptr<Slice>> slices;
    // The file holds a stack of its own (a volume, a multi-frame image, a
    // multi-page picture): its slices are named by the file and their number.
    bool stack = false;
    // Slices of the file left unread because the memory budget could not
    // hold them.
    int overBudget = 0;
    QString whyNot;
};

// Reads one file with the first reader that takes it: a picture (every page
// of a multi-page TIFF), the two text formats, a DICOM image, a multi-frame
// DICOM image, then a volume file (NIfTI, NRRD, MetaImage).
FileSlices readSliceFile(const QString &fileName);

// The name a slice of a stack file is listed under: "chest.nii.gz [12]",
// counted from 1.
QString stackSliceName(const QString &fileName, int index);

#endif // SLICES_SLICEFILE_H
