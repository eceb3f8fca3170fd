#ifndef TESTS_DICOMFIXTURES_H
#define TESTS_DICOMFIXTURES_H

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmdata/dcdeftag.h"
#include "dcmtk/dcmdata/dcfilefo.h"
#include "dcmtk/dcmdata/dcrleerg.h"
#include "dcmtk/dcmdata/dcuid.h"
#include "dcmtk/dcmjpeg/djencode.h"
#include "dcmtk/dcmjpls/djencode.h"

#include <vector>

// One single-image DICOM file as a scanner would write it, written through
// DCMTK. A text attribute left empty is left out of the file.
struct DicomFixture
{
    int rows = 2;
    int columns = 3;
    int bitsAllocated = 16;
    int bitsStored = 16;
    int highBit = 15;
    int representation = 0;
    int samples = 1;
    QString photometric = QStringLiteral("MONOCHROME2");
    QString slope;
    QString intercept;
    QString frames;
    QString series = QStringLiteral("1.2.826.0.1.3680043.9.7433.1");
    QString position;
    QString orientation = QStringLiteral("1\\0\\0\\0\\1\\0");
    QString pixelSpacing; // between rows, then between columns
    QString instance;
    QString description;
    // The stored words (or bytes when 8 bits are allocated) as they go into
    // the file, row by row; none leaves the pixel data out.
    QList<int> raw;
    E_TransferSyntax encoding = EXS_LittleEndianExplicit;
};

inline void registerDicomEncoders()
{
    static const bool encoders = [] {
        DcmRLEEncoderRegistration::registerCodecs();
        DJEncoderRegistration::registerCodecs();
        DJLSEncoderRegistration::registerCodecs();
        return true;
    }();
    Q_UNUSED(encoders);
}

inline bool writeDicom(const QString &path, const DicomFixture &image)
{
    registerDicomEncoders();

    DcmFileFormat file;
    DcmDataset *data = file.getDataset();
    const auto put = [data](const DcmTagKey &tag, const QString &value) {
        if (!value.isEmpty())
            data->putAndInsertString(tag, value.toLatin1().constData());
    };
    char uid[100];
    put(DCM_SOPClassUID, QString::fromLatin1(UID_CTImageStorage));
    put(DCM_SOPInstanceUID, QString::fromLatin1(dcmGenerateUniqueIdentifier(uid)));
    put(DCM_Modality, QStringLiteral("CT"));
    put(DCM_StudyInstanceUID, QStringLiteral("1.2.826.0.1.3680043.9.7433.2"));
    put(DCM_SeriesInstanceUID, image.series);
    put(DCM_InstanceNumber, image.instance);
    put(DCM_SeriesDescription, image.description);
    put(DCM_ImagePositionPatient, image.position);
    put(DCM_ImageOrientationPatient, image.orientation);
    put(DCM_PixelSpacing, image.pixelSpacing);
    put(DCM_PhotometricInterpretation, image.photometric);
    put(DCM_NumberOfFrames, image.frames);
    put(DCM_RescaleIntercept, image.intercept);
    put(DCM_RescaleSlope, image.slope);
    data->putAndInsertUint16(DCM_SamplesPerPixel, Uint16(image.samples));
    data->putAndInsertUint16(DCM_Rows, Uint16(image.rows));
    data->putAndInsertUint16(DCM_Columns, Uint16(image.columns));
    data->putAndInsertUint16(DCM_BitsAllocated, Uint16(image.bitsAllocated));
    data->putAndInsertUint16(DCM_BitsStored, Uint16(image.bitsStored));
    data->putAndInsertUint16(DCM_HighBit, Uint16(image.highBit));
    data->putAndInsertUint16(DCM_PixelRepresentation, Uint16(image.representation));
    if (!image.raw.isEmpty()) {
        if (image.bitsAllocated == 8) {
            std::vector<Uint8> bytes(image.raw.cbegin(), image.raw.cend());
            data->putAndInsertUint8Array(DCM_PixelData, bytes.data(), bytes.size());
        } else {
            std::vector<Uint16> words(image.raw.cbegin(), image.raw.cend());
            data->putAndInsertUint16Array(DCM_PixelData, words.data(), words.size());
        }
    }
    if (DcmXfer(image.encoding).isEncapsulated()
        && data->chooseRepresentation(image.encoding, nullptr).bad()) {
        return false;
    }
    return file.saveFile(QFile::encodeName(path).constData(), image.encoding).good();
}

// One frame of a multi-frame image: its position and rescale, each left out
// of the file where empty, and its stored words.
struct DicomFrame
{
    QString position;
    QString slope;
    QString intercept;
    QList<int> raw;
};

// An Enhanced CT image of 16-bit frames, written through DCMTK: the pixel
// spacing and orientation in the groups all frames share, each frame's
// position and rescale in its own; the shared rescale, where given, applies
// to frames without one.
inline bool writeEnhancedCt(const QString &path, const QList<DicomFrame> &frames, int rows,
                            int columns, const QString &pixelSpacing,
                            const QString &sharedSlope = QString(),
                            E_TransferSyntax encoding = EXS_LittleEndianExplicit)
{
    registerDicomEncoders();
    DcmFileFormat file;
    DcmDataset *data = file.getDataset();
    char uid[100];
    data->putAndInsertString(DCM_SOPClassUID, UID_EnhancedCTImageStorage);
    data->putAndInsertString(DCM_SOPInstanceUID, dcmGenerateUniqueIdentifier(uid));
    data->putAndInsertString(DCM_Modality, "CT");
    data->putAndInsertString(DCM_SeriesInstanceUID, "1.2.826.0.1.3680043.9.7433.3");
    data->putAndInsertString(DCM_PhotometricInterpretation, "MONOCHROME2");
    data->putAndInsertString(DCM_NumberOfFrames, QByteArray::number(frames.size()).constData());
    for (const DcmTagKey &tag : { DCM_SamplesPerPixel, DCM_PixelRepresentation })
        data->putAndInsertUint16(tag, 1);
    data->putAndInsertUint16(DCM_Rows, Uint16(rows));
    data->putAndInsertUint16(DCM_Columns, Uint16(columns));
    data->putAndInsertUint16(DCM_BitsAllocated, 16);
    data->putAndInsertUint16(DCM_BitsStored, 16);
    data->putAndInsertUint16(DCM_HighBit, 15);
    DcmItem *shared = nullptr;
    DcmItem *group = nullptr;
    data->findOrCreateSequenceItem(DCM_SharedFunctionalGroupsSequence, shared);
    shared->findOrCreateSequenceItem(DCM_PixelMeasuresSequence, group);
    group->putAndInsertString(DCM_PixelSpacing, pixelSpacing.toLatin1().constData());
    shared->findOrCreateSequenceItem(DCM_PlaneOrientationSequence, group);
    group->putAndInsertString(DCM_ImageOrientationPatient, "1\\0\\0\\0\\1\\0");
    if (!sharedSlope.isEmpty()) {
        shared->findOrCreateSequenceItem(DCM_PixelValueTransformationSequence, group);
        group->putAndInsertString(DCM_RescaleSlope, sharedSlope.toLatin1().constData());
        group->putAndInsertString(DCM_RescaleIntercept, "0");
    }
    std::vector<Uint16> words;
    for (qsizetype k = 0; k < frames.size(); ++k) {
        const DicomFrame &frame = frames.at(k);
        DcmItem *own = nullptr;
        data->findOrCreateSequenceItem(DCM_PerFrameFunctionalGroupsSequence, own, long(k));
        if (!frame.position.isEmpty()) {
            own->findOrCreateSequenceItem(DCM_PlanePositionSequence, group);
            group->putAndInsertString(DCM_ImagePositionPatient,
                                      frame.position.toLatin1().constData());
        }
        if (!frame.slope.isEmpty()) {
            own->findOrCreateSequenceItem(DCM_PixelValueTransformationSequence, group);
            group->putAndInsertString(DCM_RescaleSlope, frame.slope.toLatin1().constData());
            group->putAndInsertString(DCM_RescaleIntercept,
                                      frame.intercept.toLatin1().constData());
        }
        words.insert(words.end(), frame.raw.cbegin(), frame.raw.cend());
    }
    data->putAndInsertUint16Array(DCM_PixelData, words.data(), words.size());
    if (DcmXfer(encoding).isEncapsulated() && data->chooseRepresentation(encoding, nullptr).bad())
        return false;
    return file.saveFile(QFile::encodeName(path).constData(), encoding).good();
}

// A copy of a DICOM file with some of its attributes set anew, in the file's
// own encoding.
inline bool rewriteDicom(const QString &from, const QString &to,
                         const QList<std::pair<DcmTagKey, QString>> &changes)
{
    DcmFileFormat file;
    if (file.loadFile(QFile::encodeName(from).constData()).bad())
        return false;
    for (const auto &[tag, value] : changes)
        file.getDataset()->putAndInsertString(tag, value.toLatin1().constData());
    return file.saveFile(QFile::encodeName(to).constData()).good();
}

#endif // TESTS_DICOMFIXTURES_H
