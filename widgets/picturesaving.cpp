#include "widgets/picturesaving.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QMessageBox>
#include <QStandardPaths>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("CtView", text);
}

} // namespace

QString pictureFolder(const QString &dataRoot)
{
    // The system names a Pictures folder whether or not one was ever made.
    for (const QString &folder : QStandardPaths::standardLocations(QStandardPaths::PicturesLocation)) {
        if (QFileInfo(folder).isDir())
            return folder;
    }
    return dataRoot;
}

QString writablePicturesFilter()
{
    QStringList patterns;
    for (const QByteArray &format : QImageWriter::supportedImageFormats())
        patterns << QStringLiteral("*.") + QString::fromLatin1(format);
    return tr("Pictures (%1)").arg(patterns.join(u' '));
}

bool writePictureFile(const QImage &picture, const QString &name, QString *why)
{
    const QByteArray format = QFileInfo(name).suffix().toLower().toLatin1();
    // Asked before the file is opened, which would empty one already there.
    if (!QImageWriter::supportedImageFormats().contains(format)) {
        *why = tr("%1 was not saved: this program cannot write pictures of the kind \"%2\". "
                  "End the name with .png, .jpg, .tif or .bmp.")
                       .arg(QDir::toNativeSeparators(name), QFileInfo(name).suffix());
        return false;
    }
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly)) {
        *why = tr("%1 was not saved: %2.").arg(QDir::toNativeSeparators(name), file.errorString());
        return false;
    }
    QImageWriter writer(&file, format);
    if (!writer.write(picture)) {
        *why = tr("%1 was not saved: %2.")
                       .arg(QDir::toNativeSeparators(name), writer.errorString());
        file.remove();
        return false;
    }
    return true;
}

bool copyPictureToClipboard(const QImage &picture, QString *why)
{
    if (picture.isNull()) {
        *why = noPictureText();
        return false;
    }
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->setImage(picture);
    if (clipboard->image().isNull()) {
        *why = tr("The clipboard did not take the picture.");
        return false;
    }
    return true;
}

QString noPictureText()
{
    return tr("There is no picture yet: load a slice set, and give the image a size of at "
              "least 1 x 1 pixels.");
}

void showPictureFailure(QWidget *window, const QString &title, const QString &why)
{
    auto *box = new QMessageBox(QMessageBox::Warning, title, why, QMessageBox::Ok, window);
    box->setObjectName(QStringLiteral("pictureFailure"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
