#ifndef VIEW_FASTVOLUME_H
#define VIEW_FASTVOLUME_H

#include <QtGlobal>

class QImage;
struct SetGeometry;
struct SetSnapshot;
struct ViewState;

// The volume of one set by the tiled road: the same picture as the plain
// algorithm, found with far fewer samples. Returns false, having drawn
// nothing, when the view or the set is one this road does not take (values
// so large that its error bounds say nothing, slices without a summary); the
// caller then draws by the plain road. The image is a 32-bit one of at least
// one row, and the set has slices and cells.
// `covered` as for renderVolume.
bool renderVolumeTiled(QImage &image, const ViewState &view, const SetSnapshot &set,
                       const SetGeometry &geometry, quint8 *covered = nullptr, quint8 mark = 1);

// The same for sampling by cells; false, having drawn nothing, where the
// tiled road cannot vouch for its positions.
bool renderCellsTiled(QImage &image, const ViewState &view, const SetSnapshot &set,
                      const SetGeometry &geometry, quint8 *covered = nullptr, quint8 mark = 1);

// The volume of one set sampled in every cell its rays pass through.
void renderCells(QImage &image, const ViewState &view, const SetSnapshot &set,
                 const SetGeometry &geometry, quint8 *covered = nullptr, quint8 mark = 1);

#endif // VIEW_FASTVOLUME_H
