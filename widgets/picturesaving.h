#ifndef WIDGETS_PICTURESAVING_H
#define WIDGETS_PICTURESAVING_H

#include <QString>

class QImage;
class QWidget;

// Saving and copying the window's picture, and saying why when it fails. The
// texts belong to the main window's translation context.

// Where the save dialog opens first: the user's Pictures folder where there
// is one, else the data root.
QString pictureFolder(const QString &dataRoot);

// The save dialog's one filter: every format this Qt writes.
QString writablePicturesFilter();

// Writes the picture in the format its name's suffix names; false, with why
// in the user's words, when the format is one this Qt cannot write or the
// file cannot be written.
bool writePictureFile(const QImage &picture, const QString &name, QString *why);

// Puts the picture on the clipboard; false, with why, when there is none or
// the clipboard does not take it.
bool copyPictureToClipboard(const QImage &picture, QString *why);

// Why there is no picture to save or copy.
QString noPictureText();

// Shows why over the window, without waiting for the user to close it.
void showPictureFailure(QWidget *window, const QString &title, const QString &why);

#endif // WIDGETS_PICTURESAVING_H
