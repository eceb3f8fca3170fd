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
    // The stored words (or bytes when 8 bits are allocated) as they go into
    // the file, row by row; none leaves the pixel data out.
    QList<int> raw;
    E_TransferSyntax encoding = EXS_LittleEndianExplicit;
};

inline bool writeDicom(const QString &path, const DicomFixture &image)
{
    static const bool encoders = [] {
        DcmRLEEncoderRegistration::registerCodecs();
        DJEncoderRegistration::registerCodecs();
        DJLSEncoderRegistration::registerCodecs();
        return true;
    }();
    Q_UNUSED(encoders);

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

#endif // TESTS_DICOMFIXTURES_H
