#ifndef SLICES_VOLUMEFILE_H
#define SLICES_VOLUMEFILE_H

#include "slices/slice.h"

#include <QString>

#include <memory>
#include <vector>

// Readers of one-file volumes. Each gives the volume's slices in index order
// (columns along the file's first axis, rows along the second, slices along
// the third, not reoriented), values as stored times the file's scale plus
// its offset, with the spacing in each slice's placement when the file gives
// one; or nothing, with the reason in whyNot. Headers are checked against the
// file's size, the cell limit and the memory budget before anything is
// allocated.

// NIfTI-1 and NIfTI-2: .nii, .nii.gz, .hdr with its .img.
std::vector<std::unique_ptr<Slice>> readNiftiFile(const QString &fileName, QString *whyNot);
// NRRD (.nrrd, .nhdr with its data file) and MetaImage (.mha, .mhd).
std::vector<std::unique_ptr<Slice>> readItkFile(const QString &fileName, QString *whyNot);

#endif // SLICES_VOLUMEFILE_H
