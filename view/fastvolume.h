#ifndef VIEW_FASTVOLUME_H
#define VIEW_FASTVOLUME_H

#include <QtGlobal>

class QImage;
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
                       quint8 *covered = nullptr, quint8 mark = 1);

#endif // VIEW_FASTVOLUME_H
