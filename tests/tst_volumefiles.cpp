#include "slices/slicedatas.h"
#include "slices/slicefile.h"
#include "view/projection.h"

#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cmath>

#include "tests/dicomfixtures.h"
#include "tests/slicefixtures.h"

// Volume files written here byte by byte from their formats' layouts, then
// loaded through a slice set as a selection would be. The test's writers are
// the independent reading: they know nothing of the readers' libraries.
class tst_VolumeFiles : public QObject
{
    Q_OBJECT

private slots:
    void volumes_data();
    void volumes();
    void sameVolumeAlike_data();
    void sameVolumeAlike();
    void budget_data();
    void budget();
    void refused_data();
    void refused();
};

namespace {

constexpr int columns = 3;
constexpr int rows = 2;
constexpr int depth = 4;

// The stored number of cell (x, y, k); cell 0 of a float volume is no number.
double stored(int x, int y, int k, char type)
{
    const int i = x + columns * (y + rows * k);
    if (type == 'f' || type == 'd')
        return i == 0 ? std::nan("") : 5 * i - 50.25;
    return type == 'B' || type == 'H' ? 5 * i + 3 : 5 * i - 50;
}

// The stored numbers of a volume, type by its struct
// letter: B h H i q f d (uint8, int16, uint16, int32, int64, float, double).
QByteArray volumeData(char type, bool big)
{
    QByteArray bytes;
    const auto put = [&](auto value) {
        const auto ordered = big ? qToBigEndian(value) : qToLittleEndian(value);
        bytes.append(reinterpret_cast<const char *>(&ordered), sizeof(ordered));
    };
    for (int k = 0; k < depth; ++k) {
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < columns; ++x) {
                const double v = stored(x, y, k, type);
                switch (type) {
                case 'B': put(quint8(v)); break;
                case 'h': put(qint16(v)); break;
                case 'H': put(quint16(v)); break;
                case 'i': put(qint32(v)); break;
                case 'q': put(qint64(v)); break;
                case 'f': put(float(v)); break;
                default: put(v); break;
                }
            }
        }
    }
    return bytes;
}

template<typename T>
void place(QByteArray &bytes, int offset, T value, bool big)
{
    const T ordered = big ? qToBigEndian(value) : qToLittleEndian(value);
    std::memcpy(bytes.data() + offset, &ordered, sizeof(T));
}

struct Nifti
{
    int version = 1;
    bool big = false;
    bool twoFiles = false;
    int datatype = 4; // int16
    int bitpix = 16;
    QList<qint64> dim = { 3, columns, rows, depth };
    double spacing[3] = { 0.5, 0.75, 2 };
    double slope = 0;
    double intercept = 0;
    double voxOffset = -1; // after the header
};

// The header (with its 4 bytes of no extension in a file of one piece).
QByteArray niftiHeader(const Nifti &n)
{
    const bool one = n.version == 1;
    QByteArray h(one ? 352 : 544, '\0');
    place<qint32>(h, 0, one ? 348 : 540, n.big);
    const double offset = std::isnan(n.voxOffset) || n.voxOffset >= 0 ? n.voxOffset : n.twoFiles ? 0 : h.size();
    for (int i = 0; i < 8; ++i) {
        const qint64 d = i < n.dim.size() ? n.dim.at(i) : 1;
        const double pixdim = i >= 1 && i <= 3 ? n.spacing[i - 1] : 1;
        if (one) {
            place<qint16>(h, 40 + 2 * i, qint16(d), n.big);
            place<float>(h, 76 + 4 * i, float(pixdim), n.big);
        } else {
            place<qint64>(h, 16 + 8 * i, d, n.big);
            place<double>(h, 104 + 8 * i, pixdim, n.big);
        }
    }
    if (one) {
        place<qint16>(h, 70, qint16(n.datatype), n.big);
        place<qint16>(h, 72, qint16(n.bitpix), n.big);
        place<float>(h, 108, float(offset), n.big);
        place<float>(h, 112, float(n.slope), n.big);
        place<float>(h, 116, float(n.intercept), n.big);
        h[123] = 2; // millimetres
        std::memcpy(h.data() + 344, n.twoFiles ? "ni1" : "n+1", 4);
    } else {
        std::memcpy(h.data() + 4, n.twoFiles ? "ni2\0\r\n\032\n" : "n+2\0\r\n\032\n", 8);
        place<qint16>(h, 12, qint16(n.datatype), n.big);
        place<qint16>(h, 14, qint16(n.bitpix), n.big);
        place<qint64>(h, 168, qint64(offset), n.big);
        place<double>(h, 176, n.slope, n.big);
        place<double>(h, 184, n.intercept, n.big);
        place<qint32>(h, 500, 2, n.big);
    }
    return n.twoFiles ? h.left(one ? 348 : 540) : h;
}

// A gzip member around zlib's deflate stream.
QByteArray gzip(const QByteArray &data)
{
    const QByteArray zlib = qCompress(data).mid(4);
    quint32 crc = 0xffffffff;
    for (const char c : data) {
        crc ^= quint8(c);
        for (int b = 0; b < 8; ++b)
            crc = (crc >> 1) ^ (0xedb88320 & (0 - (crc & 1)));
    }
    QByteArray out("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10);
    out += zlib.mid(2, zlib.size() - 6);
    QByteArray tail(8, '\0');
    place<quint32>(tail, 0, ~crc, false);
    place<quint32>(tail, 4, quint32(data.size()), false);
    return out + tail;
}

QString write(const QString &path, const QByteArray &contents)
{
    return writeFixture(path, path.endsWith(".gz") ? gzip(contents) : contents);
}

QStringList load(SliceDatas &set, const QStringList &files)
{
    QStringList accepted;
    const auto connection = QObject::connect(&set, &SliceDatas::loadedNewFile,
                                             [&](const QString &name) { accepted.append(name); });
    set.filesSelected(files);
    QObject::disconnect(connection);
    return accepted;
}

QStringList stackNames(const QString &file)
{
    QStringList names;
    for (int k = 0; k < depth; ++k)
        names.append(stackSliceName(file, k));
    return names;
}

} // namespace

void tst_VolumeFiles::volumes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("dataName"); // a second file, the data
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<char>("type");
    QTest::addColumn<double>("slope");
    QTest::addColumn<double>("intercept");
    QTest::addColumn<bool>("spaced"); // 0.5 x 0.75 x 2 mm, else cubes

    Nifti n;
    n.slope = 2.5;
    n.intercept = -1000;
    QTest::newRow("NIfTI-1 .nii, int16, scaled") << "v.nii" << niftiHeader(n) + volumeData('h', false)
                                                  << "" << QByteArray() << 'h' << 2.5 << -1000.0
                                                  << true;
    QTest::newRow("NIfTI-1 .nii.gz, same") << "v.nii.gz" << niftiHeader(n) + volumeData('h', false)
                                           << "" << QByteArray() << 'h' << 2.5 << -1000.0 << true;
    Nifti pair = n;
    pair.twoFiles = true;
    pair.big = true;
    QTest::newRow("NIfTI-1 .hdr/.img pair, big-endian")
            << "p.hdr" << niftiHeader(pair) << "p.img" << volumeData('h', true) << 'h' << 2.5
            << -1000.0 << true;
    Nifti two;
    two.version = 2;
    two.datatype = 16; // float32
    two.bitpix = 32;
    two.spacing[0] = 0;
    QTest::newRow("NIfTI-2, float, no scale, no spacing: cubes")
            << "f.nii" << niftiHeader(two) + volumeData('f', false) << "" << QByteArray() << 'f'
            << 1.0 << 0.0 << false;
    Nifti wide = two;
    wide.big = true;
    wide.datatype = 1024; // int64
    wide.bitpix = 64;
    wide.spacing[0] = 0.5;
    wide.slope = 0.5;
    QTest::newRow("NIfTI-2 big-endian int64, slope without intercept")
            << "q.nii.gz" << niftiHeader(wide) + volumeData('q', true) << "" << QByteArray()
            << 'q' << 0.5 << 0.0 << true;

    const QByteArray nrrd = "NRRD0004\n# a comment\ntype: short\ndimension: 3\nsizes: 3 2 4\n"
                            "spacings: 0.5 0.75 2\nendian: big\n";
    QTest::newRow("NRRD attached raw") << "a.nrrd" << nrrd + "encoding: raw\n\n" + volumeData('h', true)
                                       << "" << QByteArray() << 'h' << 1.0 << 0.0 << true;
    QTest::newRow("NRRD attached gzip")
            << "g.nrrd" << nrrd + "encoding: gzip\n\n" + gzip(volumeData('h', true)) << ""
            << QByteArray() << 'h' << 1.0 << 0.0 << true;
    QTest::newRow("NRRD detached raw")
            << "d.nhdr" << nrrd + "encoding: raw\ndata file: d.raw\n" << "d.raw"
            << volumeData('h', true) << 'h' << 1.0 << 0.0 << true;
    QTest::newRow("NRRD detached gzip, uint8, no spacing")
            << "z.nhdr"
            << QByteArray("NRRD0004\ntype: uchar\ndimension: 3\nsizes: 3 2 4\nencoding: gzip\n"
                          "data file: z.raw.gz\n")
            << "z.raw.gz" << volumeData('B', false) << 'B' << 1.0 << 0.0 << false;

    const QByteArray meta = "ObjectType = Image\nNDims = 3\nBinaryData = True\n"
                            "BinaryDataByteOrderMSB = False\nElementSpacing = 0.5 0.75 2\n"
                            "DimSize = 3 2 4\n";
    QTest::newRow(".mha double") << "m.mha"
                                 << meta + "ElementType = MET_DOUBLE\nElementDataFile = LOCAL\n"
                                            + volumeData('d', false)
                                 << "" << QByteArray() << 'd' << 1.0 << 0.0 << true;
    QTest::newRow(".mha compressed int32")
            << "c.mha"
            << meta + "CompressedData = True\nElementType = MET_INT\nElementDataFile = LOCAL\n"
                       + qCompress(volumeData('i', false)).mid(4)
            << "" << QByteArray() << 'i' << 1.0 << 0.0 << true;
    QTest::newRow(".mhd with its data, uint16")
            << "h.mhd" << meta + "ElementType = MET_USHORT\nElementDataFile = h.raw\n" << "h.raw"
            << volumeData('H', false) << 'H' << 1.0 << 0.0 << true;
}

void tst_VolumeFiles::volumes()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, contents);
    QFETCH(QString, dataName);
    QFETCH(QByteArray, data);
    QFETCH(char, type);
    QFETCH(double, slope);
    QFETCH(double, intercept);
    QFETCH(bool, spaced);

    QTemporaryDir dir;
    const QString file = write(dir.filePath(name), contents);
    QVERIFY(!file.isEmpty());
    if (!dataName.isEmpty())
        QVERIFY(!write(dir.filePath(dataName), data).isEmpty());

    SliceDatas set;
    QCOMPARE(load(set, { file }), stackNames(file));
    for (int k = 0; k < depth; ++k) {
        const Slice *slice = set.slices.at(k);
        double least = INFINITY;
        double most = -INFINITY;
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < columns; ++x) {
                const double s = stored(x, y, k, type);
                const double value = std::isnan(s) ? 0.0 : s * slope + intercept;
                QCOMPARE(slice->valueAt(x, y), value);
                least = std::min(least, value);
                most = std::max(most, value);
            }
        }
        QCOMPARE(slice->min, least);
        QCOMPARE(slice->max, most);
    }
    QCOMPARE(set.fileShape.measured(), spaced);
    if (spaced) {
        QCOMPARE(set.fileShape.columnMm, 0.5);
        QCOMPARE(set.fileShape.rowMm, 0.75);
        QCOMPARE(set.fileShape.sliceMm, 2.0);
    }
}

// One volume as a DICOM series (of whole stored numbers), as NIfTI and as
// text slices: the same values, range, histogram and picture, whether the
// scanner files keep 16-bit cells or doubles; the same shape where the files
// give one.
void tst_VolumeFiles::sameVolumeAlike_data()
{
    QTest::addColumn<char>("type");
    QTest::addColumn<double>("slope");
    QTest::addColumn<double>("intercept");
    QTest::addColumn<int>("wide"); // the slices that hold doubles, a bit each
    QTest::newRow("slope 1, intercept -1024") << 'h' << 1.0 << -1024.0 << 0b0000;
    QTest::newRow("slope 2.5: halves from the second cell on") << 'h' << 2.5 << -1000.0 << 0b1111;
    // Stored 0 in the second slice gives -0.
    QTest::newRow("slope -2, intercept -0") << 'h' << -2.0 << -0.0 << 0b0010;
    // The last cell of the last slice is 32768.
    QTest::newRow("one value beyond 16 bits") << 'h' << 1.0 << 32703.0 << 0b1000;
    QTest::newRow("floats") << 'f' << 1.0 << 0.0 << 0b1111;
}

void tst_VolumeFiles::sameVolumeAlike()
{
    QFETCH(char, type);
    QFETCH(double, slope);
    QFETCH(double, intercept);
    QFETCH(int, wide);
    QTemporaryDir dir;
    QStringList series;
    QStringList texts;
    for (int k = 0; k < depth; ++k) {
        DicomFixture image;
        image.rows = rows;
        image.columns = columns;
        image.representation = 1;
        image.slope = QString::number(slope);
        // Numbers print -0 as 0.
        image.intercept = intercept == 0 && std::signbit(intercept) ? QStringLiteral("-0")
                                                                    : QString::number(intercept);
        image.position = QStringLiteral("0\\0\\%1").arg(2 * k);
        image.pixelSpacing = "0.75\\0.5";
        QByteArray text = "#VELD-CTImg\n# Range_X1 = 2\n# Range_Y1 = 1\n";
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < columns; ++x) {
                double s = stored(x, y, k, type);
                image.raw.append(quint16(qint16(s)));
                // Not a number is 0 in every reader.
                s = std::isnan(s) ? 0 : s;
                text += QByteArray::number(x) + ' ' + QByteArray::number(y) + ' '
                        + QByteArray::number(s * slope + intercept, 'g', 17) + '\n';
            }
        }
        series.append(dir.filePath(QStringLiteral("s%1.dcm").arg(k)));
        QVERIFY(writeDicom(series.last(), image));
        texts.append(write(dir.filePath(QStringLiteral("t%1.dat").arg(k)), text));
    }
    Nifti n;
    n.slope = slope;
    n.intercept = intercept;
    if (type == 'f') {
        n.datatype = 16;
        n.bitpix = 32;
    }
    const QString nifti = write(dir.filePath("v.nii.gz"), niftiHeader(n) + volumeData(type, false));

    // Floats have no DICOM series here: the text slices stand first.
    SliceDatas sets[3];
    QCOMPARE(load(sets[0], texts).size(), depth);
    QCOMPARE(load(sets[1], { nifti }).size(), depth);
    const int count = type == 'f' ? 2 : 3;
    if (count == 3) {
        QCOMPARE(load(sets[2], series).size(), depth);
        QCOMPARE(sets[1].fileShape.z, sets[2].fileShape.z);
        QCOMPARE(sets[1].fileShape.ry, sets[2].fileShape.ry);
    }
    QImage pictures[3];
    for (int i = 0; i < count; ++i) {
        QCOMPARE(sets[i].min, sets[0].min);
        QCOMPARE(sets[i].max, sets[0].max);
        QCOMPARE(sets[i].counts, sets[0].counts);
        for (int k = 0; k < depth; ++k) {
            const Slice *slice = sets[i].slices.at(k);
            if (i > 0) {
                const bool narrow = !(wide & 1 << k);
                QCOMPARE(slice->narrowCells() != nullptr, narrow);
                const qint64 cells = columns * rows;
                QCOMPARE(slice->memoryBytes(),
                         narrow ? cells * 2 : cells * 8 + rows * qint64(sizeof(QList<double>)));
            }
            for (int y = 0; y < rows; ++y) {
                for (int x = 0; x < columns; ++x) {
                    // The text reader makes -0 a 0; the scanner readers keep it.
                    const double v = slice->valueAt(x, y);
                    QCOMPARE(v, sets[0].slices.at(k)->valueAt(x, y));
                    if (i > 0)
                        QCOMPARE(std::signbit(v), std::signbit(sets[1].slices.at(k)->valueAt(x, y)));
                }
            }
        }
        SetSnapshot snapshot;
        for (const Slice *slice : sets[i].slices)
            snapshot.slices.append(slice);
        snapshot.sw = columns;
        snapshot.sh = rows;
        snapshot.vColor = Qt::red;
        snapshot.windowLow = sets[0].min;
        snapshot.windowHigh = sets[0].max + 1;
        snapshot.shape = cubicShape(depth);
        ViewState view;
        view.zoom = 8;
        rotateAxes(view, { 0.48, 0.6, 0.64 }, 0.9);
        pictures[i] = QImage(32, 32, QImage::Format_ARGB32);
        pictures[i].fill(Qt::white);
        renderVolume(pictures[i], view, snapshot);
    }
    QImage white(32, 32, QImage::Format_ARGB32);
    white.fill(Qt::white);
    QVERIFY(pictures[0] != white);
    for (int i = 1; i < count; ++i)
        QCOMPARE(pictures[i], pictures[0]);
}

// The budget counts cells as they are held: a volume of whole numbers takes
// two bytes a cell, one that needs doubles takes those.
void tst_VolumeFiles::budget_data()
{
    QTest::addColumn<char>("type");
    QTest::addColumn<int>("datatype");
    QTest::addColumn<QString>("reason");
    QTest::newRow("int16 fits as 16-bit cells") << 'h' << 4 << QString();
    QTest::newRow("floats would not fit")
            << 'f' << 16 << "volume of 3 x 2 x 4 cells beyond the memory budget";
}

void tst_VolumeFiles::budget()
{
    QFETCH(char, type);
    QFETCH(int, datatype);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    Nifti n;
    n.datatype = datatype;
    n.bitpix = datatype == 4 ? 16 : 32;
    const QString name = write(dir.filePath("v.nii"), niftiHeader(n) + volumeData(type, false));
    SliceDatas::setMemoryBudget(columns * rows * depth * 2 + 16);
    const FileSlices read = readSliceFile(name);
    SliceDatas::setMemoryBudget(SliceDatas::defaultMemoryBudget());
    QCOMPARE(read.whyNot, reason);
    QCOMPARE(int(read.slices.size()), reason.isEmpty() ? depth : 0);
}

void tst_VolumeFiles::refused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("reason");

    Nifti n;
    const QByteArray volume = niftiHeader(n) + volumeData('h', false);
    QTest::newRow("NIfTI cut short") << "cut.nii" << volume.chopped(1)
                                     << "NIfTI data of 48 bytes beyond the end of cut.nii";
    QTest::newRow("NIfTI gzip cut short")
            << "cut.nii.gz" << volume.chopped(2) << "NIfTI data shorter than its header says";
    Nifti huge = n;
    huge.dim = { 3, 30000, 30000, 1 };
    QTest::newRow("NIfTI slices beyond the cell limit")
            << "huge.nii" << niftiHeader(huge)
            << "NIfTI volume slices of 30000 x 30000 cells, more than the limit of 67108864";
    Nifti many = n;
    many.version = 2;
    many.dim = { 3, 1 << 13, 1 << 13, 1 << 30 };
    QTest::newRow("NIfTI-2 gzip claiming 64 TiB")
            << "many.nii.gz" << niftiHeader(many)
            << "NIfTI data of 144115188075855872 bytes beyond the end of many.nii.gz";
    Nifti offset = n;
    offset.voxOffset = NAN;
    QTest::newRow("NIfTI data offset no number")
            << "nan.nii" << niftiHeader(offset) + volumeData('h', false)
            << "NIfTI data offset nan outside the file";
    Nifti complex = n;
    complex.datatype = 32;
    complex.bitpix = 64;
    QTest::newRow("NIfTI complex") << "c.nii" << niftiHeader(complex) + volumeData('d', false)
                                   << "NIfTI image of COMPLEX64 values, not grey numbers";
    QTest::newRow("image data without its header") << "p.img" << volumeData('h', false)
                                                   << "NIfTI image data, read through its header p.hdr";
    QTest::newRow("NRRD RGB")
            << "rgb.nrrd"
            << QByteArray("NRRD0004\ntype: uchar\ndimension: 3\nsizes: 3 3 2\nkinds: RGB-color "
                          "domain domain\nencoding: raw\n\n")
                       + QByteArray(18, 'x')
            << "NRRD image of rgb values, not grey numbers";
    QTest::newRow("MetaImage without its data file")
            << "x.mhd"
            << QByteArray("NDims = 2\nDimSize = 4 4\nElementType = MET_SHORT\nElementDataFile = "
                          "x.raw\n")
            << "MetaImage data of 32 bytes beyond the end of x.raw";
    QTest::newRow("MetaImage claims more compressed data than it has")
            << "z.mha"
            << QByteArray("NDims = 2\nDimSize = 4 4\nElementType = MET_SHORT\nCompressedData = "
                          "True\nCompressedDataSize = 1000000000000\nElementDataFile = LOCAL\nxx")
            << "MetaImage compressed data beyond the end of its file";
    // Its library leaked what it held for such a stream.
    QByteArray cut = gzip(volumeData('h', true));
    cut[20] = char(cut[20] ^ 0x55);
    QTest::newRow("NRRD gzip data damaged")
            << "g.nrrd"
            << "NRRD0004\ntype: short\ndimension: 3\nsizes: 3 2 4\nencoding: gzip\n\n" + cut
            << "NRRD compressed data damaged or short";
    // Reasons are counted by their text: the library's object address must
    // not make each file's its own.
    QTest::newRow("NRRD without its byte order")
            << "e.nrrd"
            << QByteArray("NRRD0004\ntype: short\ndimension: 3\nsizes: 3 2 4\nencoding: raw\n\n")
                       + volumeData('h', false)
            << "NRRD file unreadable (_nrrdHeaderCheck: type (short) and encoding (raw) require "
               "endian info)";
    QByteArray damaged = qCompress(volumeData('h', false)).mid(4);
    damaged[10] = char(damaged[10] ^ 0xff);
    QTest::newRow("MetaImage compressed data damaged")
            << "d.mha"
            << "NDims = 3\nDimSize = 3 2 4\nElementType = MET_SHORT\nCompressedData = True\n"
               "ElementDataFile = LOCAL\n" + damaged
            << "MetaImage compressed data damaged or short";
    // Its library read the line with the next as one name, then the data as
    // header, and leaked the stream of the data file it found there.
    QTest::newRow("MetaImage line without a value")
            << "v.mha"
            << QByteArray("NDims = 2\nDimSize = 2 2\nElementType = MET_UCHAR\nElementSpacing 1 1\n"
                          "ElementDataFile = LOCAL\nabcd = x\nElementDataFile = v.raw\n")
            << "MetaImage header line 4 without a value";
    // Its library read the folder for an empty name, and gave zeros.
    QTest::newRow("MetaImage data file unnamed")
            << "e.mha"
            << QByteArray("NDims = 2\nDimSize = 2 2\nElementType = MET_UCHAR\n"
                          "ElementDataFile = \nabcd")
            << "MetaImage header without its data file";
}

void tst_VolumeFiles::refused()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, contents);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    const QString bad = write(dir.filePath(name), contents);
    if (name.endsWith(".img"))
        QVERIFY(!write(dir.filePath("p.hdr"), niftiHeader(Nifti{ 1, false, true })).isEmpty());
    const QString good = write(dir.filePath("good.nii"), niftiHeader(Nifti()) + volumeData('h', false));
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Skipped \"%1\" \"%2\"").arg(bad, reason)));
    SliceDatas set;
    QCOMPARE(load(set, { bad, good }), stackNames(good));
    QCOMPARE(set.account.unreadable, 1);
}

QTEST_GUILESS_MAIN(tst_VolumeFiles)
#include "tst_volumefiles.moc"
