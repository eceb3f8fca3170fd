#include "slices/dicomreader.h"
#include "slices/slice.h"
#include "slices/slicedatas.h"
#include "slices/slicefile.h"

#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include <cfloat>

#include "tests/dicomfixtures.h"
#include "tests/slicefixtures.h"

Q_DECLARE_METATYPE(DicomFixture)
Q_DECLARE_METATYPE(DcmTagKey)

// The DICOM reader and the order in which a selection loads. The files under
// tests/data/dicom are real ones (see the README there); their expected
// figures were read independently, with pydicom's pixel_array and modality
// rescale.
class tst_DicomReader : public QObject
{
    Q_OBJECT

private:
    QString data(const QString &name) const
    {
        return QStringLiteral(CTSLAB_TEST_DATA "/dicom/") + name;
    }
    QString path(const QString &name) const { return dir.filePath(name); }

    QTemporaryDir dir;

private slots:
    void realFiles_data();
    void realFiles();
    void sameImageEveryEncoding_data();
    void sameImageEveryEncoding();
    void writtenValues_data();
    void writtenValues();
    void largeGrid_data();
    void largeGrid();
    void refused_data();
    void refused();
    void jpegMarkerThatStallsTheDecoder_data();
    void jpegMarkerThatStallsTheDecoder();
    void loadTriesDicomLast();
    void loadingOrder_data();
    void loadingOrder();
    void realSeriesOrder();
    void doseGrids_data();
    void doseGrids();
    void enhancedFrames_data();
    void enhancedFrames();
    void framesRefused_data();
    void framesRefused();
    void survey();
};

static double sum(const Slice &slice)
{
    double total = 0;
    for (const QList<double> &row : cellsOf(slice)) {
        for (double value : row)
            total += value;
    }
    return total;
}

void tst_DicomReader::realFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<double>("total");
    QTest::addColumn<QList<double>>("corners"); // (0,0), (1,0), (w-1,h-1)

    QTest::newRow("CT, signed 16-bit, intercept -1024")
        << "CT_small.dcm" << 128 << 128 << -896.0 << 1167.0 << -1950906.0
        << QList<double>{ -849, -844, -115 };
    QTest::newRow("MR, no rescale")
        << "MR_small.dcm" << 64 << 64 << 127.0 << 2145.0 << 2125338.0
        << QList<double>{ 905, 1019, 862 };
    QTest::newRow("CT slice without a suffix")
        << "ct5n/2062" << 16 << 16 << -888.0 << 44.0 << -90697.0
        << QList<double>{ -50, -50, -729 };
    // pydicom decodes JPEG 2000 through Pillow, and reads the stream's bits
    // by the header's Pixel Representation.
    QTest::newRow("JPEG 2000, signed stream")
        << "JPEG2000.dcm" << 256 << 1024 << -30.0 << 245.0 << 3527976.0
        << QList<double>{ 0, 0, 0 };
    QTest::newRow("JPEG 2000 of 16 bits where the header says 14, intercept -1024")
        << "693_J2KI.dcm" << 512 << 512 << -3995.0 << 1812.0 << -270617240.0
        << QList<double>{ -3040, -3040, -3040 };
    QTest::newRow("JPEG 2000 unsigned 13-bit stream in a signed image")
        << "J2K_pixelrep_mismatch.dcm" << 512 << 512 << -2000.0 << 1896.0 << -172605258.0
        << QList<double>{ -2000, -2000, -2000 };
}

void tst_DicomReader::realFiles()
{
    QFETCH(QString, file);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(double, min);
    QFETCH(double, max);
    QFETCH(double, total);
    QFETCH(QList<double>, corners);

    Slice slice;
    QString whyNot;
    QVERIFY2(slice.readDicom(data(file), &whyNot), qPrintable(whyNot));
    QCOMPARE(slice.width, width);
    QCOMPARE(slice.height, height);
    QCOMPARE(slice.min, min);
    QCOMPARE(slice.max, max);
    QCOMPARE(sum(slice), total);
    QCOMPARE(slice.valueAt(0, 0), corners.at(0));
    QCOMPARE(slice.valueAt(1, 0), corners.at(1));
    QCOMPARE(slice.valueAt(width - 1, height - 1), corners.at(2));
}

void tst_DicomReader::sameImageEveryEncoding_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("implicit little endian") << "MR_small_implicit.dcm";
    QTest::newRow("explicit big endian") << "MR_small_bigendian.dcm";
    QTest::newRow("RLE") << "MR_small_RLE.dcm";
    QTest::newRow("JPEG-LS lossless") << "MR_small_jpeg_ls_lossless.dcm";
    QTest::newRow("JPEG 2000 lossless") << "MR_small_jp2klossless.dcm";
}

void tst_DicomReader::sameImageEveryEncoding()
{
    QFETCH(QString, file);
    Slice plain;
    Slice encoded;
    QVERIFY(plain.readDicom(data("MR_small.dcm")));
    QString whyNot;
    QVERIFY2(encoded.readDicom(data(file), &whyNot), qPrintable(whyNot));
    QCOMPARE(cellsOf(encoded), cellsOf(plain));
    QCOMPARE(encoded.min, plain.min);
    QCOMPARE(encoded.max, plain.max);
}

void tst_DicomReader::writtenValues_data()
{
    QTest::addColumn<DicomFixture>("image");
    QTest::addColumn<QString>("expected"); // rows separated by '|'

    DicomFixture ct;
    ct.representation = 1;
    ct.slope = QStringLiteral("2.5");
    ct.intercept = QStringLiteral("-1024");
    ct.raw = { 0x8000, 0xffff, 0, 1, 2, 0x7fff };
    QTest::newRow("signed 16-bit, slope and intercept")
        << ct << "-82944 -1026.5 -1024|-1021.5 -1019 80893.5";

    DicomFixture inverted = ct;
    inverted.photometric = QStringLiteral("MONOCHROME1");
    QTest::newRow("MONOCHROME1 keeps the values")
        << inverted << "-82944 -1026.5 -1024|-1021.5 -1019 80893.5";

    // No JPEG-LS file is written here: DCMTK 3.6.7's JPEG-LS encoder corrupts
    // the heap on an image this small. The real JPEG-LS file above is decoded.
    for (const auto &[encoding, name] :
         { std::pair{ EXS_RLELossless, "RLE" }, std::pair{ EXS_JPEGProcess14SV1, "JPEG lossless" },
           std::pair{ EXS_BigEndianExplicit, "big endian" } }) {
        DicomFixture compressed = ct;
        compressed.encoding = encoding;
        QTest::newRow(name) << compressed << "-82944 -1026.5 -1024|-1021.5 -1019 80893.5";
    }

    // 12 bits stored below the high bit 11: the upper bits hold an overlay.
    DicomFixture twelve;
    twelve.bitsStored = 12;
    twelve.highBit = 11;
    twelve.representation = 1;
    twelve.raw = { 0xf800, 0x0fff, 0x07ff, 0x1001, 0xa000, 0x0800 };
    QTest::newRow("12 of 16 bits, signed, overlay bits ignored")
        << twelve << "-2048 -1 2047|1 0 -2048";

    DicomFixture high = twelve;
    high.representation = 0;
    high.highBit = 15;
    high.raw = { 0xfff0, 0x000f, 0x0010, 0x8000, 0x1230, 0x0000 };
    QTest::newRow("12 bits stored at the top of 16, unsigned")
        << high << "4095 0 1|2048 291 0";

    DicomFixture bytes;
    bytes.bitsAllocated = 8;
    bytes.bitsStored = 8;
    bytes.highBit = 7;
    bytes.slope = QStringLiteral(" 0.5 ");
    bytes.raw = { 0, 1, 255, 128, 7, 200 };
    QTest::newRow("8-bit, slope only") << bytes << "0 0.5 127.5|64 3.5 100";

    DicomFixture falling = bytes;
    falling.slope = QStringLiteral("-2");
    falling.intercept = QStringLiteral("10");
    QTest::newRow("negative slope: the range turns round")
        << falling << "10 8 -500|-246 -4 -390";

    DicomFixture implicitBytes = bytes;
    implicitBytes.encoding = EXS_LittleEndianImplicit;
    QTest::newRow("8-bit, implicit VR") << implicitBytes << "0 0.5 127.5|64 3.5 100";

    DicomFixture oneFrame = bytes;
    oneFrame.frames = QStringLiteral("1");
    oneFrame.slope.clear();
    oneFrame.intercept = QStringLiteral("-0.25");
    QTest::newRow("one frame named, intercept only")
        << oneFrame << "-0.25 0.75 254.75|127.75 6.75 199.75";
}

void tst_DicomReader::writtenValues()
{
    QFETCH(DicomFixture, image);
    QFETCH(QString, expected);

    // Each row five times over, so that most cells are converted in runs.
    const int copies = 5;
    QList<int> raw;
    QList<QList<double>> values;
    for (int y = 0; y < image.rows; ++y) {
        QList<double> row;
        for (int copy = 0; copy < copies; ++copy) {
            raw += image.raw.mid(y * image.columns, image.columns);
            row += grid(expected).at(y);
        }
        values.append(row);
    }
    image.raw = raw;
    image.columns *= copies;

    const QString name = path(QStringLiteral("written.dcm"));
    QVERIFY(writeDicom(name, image));
    Slice slice;
    QString whyNot;
    QVERIFY2(slice.readDicom(name, &whyNot), qPrintable(whyNot));
    QCOMPARE(slice.width, image.columns);
    QCOMPARE(slice.height, image.rows);
    QCOMPARE(cellsOf(slice), values);
    double low = DBL_MAX;
    double high = -DBL_MAX;
    for (const QList<double> &row : values) {
        low = std::min(low, *std::min_element(row.cbegin(), row.cend()));
        high = std::max(high, *std::max_element(row.cbegin(), row.cend()));
    }
    QCOMPARE(slice.min, low);
    QCOMPARE(slice.max, high);
}

// Grids of a large page and more lie in a block of their own, which the
// rows view: every row must start at its own place in it, the last one too.
void tst_DicomReader::largeGrid_data()
{
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("rows");
    QTest::newRow("one large page exactly") << 512 << 512;
    QTest::newRow("a row beyond it") << 512 << 513;
    QTest::newRow("odd width") << 1031 << 300;
}

void tst_DicomReader::largeGrid()
{
    QFETCH(int, columns);
    QFETCH(int, rows);
    DicomFixture image;
    image.columns = columns;
    image.rows = rows;
    image.intercept = QStringLiteral("-7");
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < columns; ++x)
            image.raw << (x * 31 + y * 17) % 65536;
    }
    const QString name = path(QStringLiteral("large.dcm"));
    QVERIFY(writeDicom(name, image));
    Slice slice;
    QString whyNot;
    QVERIFY2(slice.load(name, &whyNot), qPrintable(whyNot));
    QCOMPARE(slice.height, rows);
    QCOMPARE(slice.width, columns);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < columns; ++x) {
            if (slice.valueAt(x, y) != (x * 31 + y * 17) % 65536 - 7)
                QFAIL(qPrintable(QStringLiteral("cell %1, %2: %3").arg(x).arg(y).arg(slice.valueAt(x, y))));
        }
    }
    const qint64 cellBytes = slice.narrowCells() ? sizeof(qint16) : sizeof(double);
    QVERIFY(slice.memoryBytes() >= qint64(columns) * rows * cellBytes);
}

void tst_DicomReader::refused_data()
{
    QTest::addColumn<QString>("file");          // under tests/data/dicom, or written
    QTest::addColumn<DicomFixture>("image");
    QTest::addColumn<QString>("reason");

    const DicomFixture none;
    QTest::newRow("multi-frame") << "rtdose.dcm" << none << "multi-frame DICOM image (15 frames)";
    QTest::newRow("colour") << "SC_rgb_rle.dcm" << none
                            << "colour DICOM image (RGB, 3 samples per pixel)";
    QTest::newRow("no image") << "rtplan.dcm" << none << "DICOM object without an image";
    QTest::newRow("DICOMDIR") << "ct5n/DICOMDIR" << none << "DICOM object without an image";
    QTest::newRow("truncated")
        << "MR_truncated.dcm" << none
        << "unreadable DICOM file (I/O suspension or premature end of stream)";
    QTest::newRow("deflated: lengths the library would trust")
        << "image_dfl.dcm" << none << "deflated DICOM file (its lengths cannot be checked)";
    QTest::newRow("deflated, an element claiming 1.3 GB")
        << "deflated_huge_element.dcm" << none
        << "deflated DICOM file (its lengths cannot be checked)";

    DicomFixture image;
    image.raw = { 1, 2, 3, 4, 5, 6 };

    DicomFixture frames = image;
    frames.frames = QStringLiteral("2");
    frames.raw += frames.raw;
    QTest::newRow("two frames") << "" << frames << "multi-frame DICOM image (2 frames)";
    frames.frames = QStringLiteral("1A");
    QTest::newRow("frames unreadable")
        << "" << frames << "DICOM image with an unreadable number of frames (1A)";

    DicomFixture palette = image;
    palette.photometric = QStringLiteral("PALETTE COLOR");
    QTest::newRow("palette") << "" << palette
                             << "colour DICOM image (PALETTE COLOR, 1 samples per pixel)";
    DicomFixture unnamed = image;
    unnamed.photometric.clear();
    QTest::newRow("no photometric interpretation")
        << "" << unnamed
        << "DICOM image without a photometric interpretation";
    DicomFixture unknown = image;
    unknown.photometric = QStringLiteral("MONOCHROME3");
    QTest::newRow("unknown photometric interpretation")
        << "" << unknown << "DICOM image of unknown photometric interpretation \"MONOCHROME3\"";

    DicomFixture wide = image;
    wide.bitsAllocated = 32;
    wide.bitsStored = 32;
    wide.highBit = 31;
    wide.raw += wide.raw;
    QTest::newRow("32 bits") << "" << wide
                             << "DICOM image of 32 bits allocated, 32 stored, high bit 31, "
                                "pixel representation 0";
    DicomFixture misplaced = image;
    misplaced.bitsStored = 12;
    misplaced.highBit = 8;
    QTest::newRow("high bit below the stored bits")
        << "" << misplaced
        << "DICOM image of 16 bits allocated, 12 stored, high bit 8, pixel representation 0";

    DicomFixture huge = image;
    huge.rows = 65535;
    huge.columns = 4096;
    QTest::newRow("more cells than the limit")
        << "" << huge << "DICOM image of 4096 x 65535 cells, more than the limit of 67108864";

    DicomFixture empty = image;
    empty.rows = 0;
    QTest::newRow("no rows") << "" << empty << "DICOM image of 3 x 0 cells";

    DicomFixture shortData = image;
    shortData.raw = { 1, 2, 3, 4 };
    QTest::newRow("pixel data shorter")
        << "" << shortData
        << "DICOM pixel data shorter than rows x columns x samples (8 of 12 bytes)";

    DicomFixture noPixels = image;
    noPixels.raw.clear();
    QTest::newRow("written without pixel data") << "" << noPixels
                                                << "DICOM object without an image";

    DicomFixture badSlope = image;
    badSlope.slope = QStringLiteral("abc");
    QTest::newRow("slope no number")
        << "" << badSlope << "DICOM rescale slope or intercept is no finite number";
    DicomFixture hugeSlope = image;
    hugeSlope.slope = QStringLiteral("1e308");
    hugeSlope.raw = { 1, 2, 3, 4, 5, 65535 };
    QTest::newRow("slope carries values beyond the doubles")
        << "" << hugeSlope << "DICOM rescaled values beyond the range of numbers";
}

void tst_DicomReader::refused()
{
    QFETCH(QString, file);
    QFETCH(DicomFixture, image);
    QFETCH(QString, reason);

    QString name = data(file);
    if (file.isEmpty()) {
        name = path(QStringLiteral("refused.dcm"));
        QVERIFY(writeDicom(name, image));
    }
    Slice slice;
    QString whyNot;
    QVERIFY(!slice.readDicom(name, &whyNot));
    QCOMPARE(whyNot, reason);
}

// The library's JPEG decoder never gets past a TEM marker ahead of the frame
// header; such a file must be refused before it is asked, not hang its thread.
void tst_DicomReader::jpegMarkerThatStallsTheDecoder_data()
{
    QTest::addColumn<QByteArray>("afterStart"); // written over the bytes after SOI
    QTest::newRow("TEM") << QByteArray("\xff\x01", 2);
    QTest::newRow("TEM after fill bytes") << QByteArray("\xff\xff\xff\x01", 4);
}

void tst_DicomReader::jpegMarkerThatStallsTheDecoder()
{
    QFETCH(QByteArray, afterStart);
    DicomFixture image;
    image.raw = { 1, 2, 3, 4, 5, 6 };
    image.encoding = EXS_JPEGProcess14SV1;
    const QString name = path(QStringLiteral("stalls.dcm"));
    QVERIFY(writeDicom(name, image));
    QFile file(name);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    const qsizetype start = bytes.indexOf(QByteArray("\xff\xd8\xff", 3));
    QVERIFY(start > 0);
    bytes.replace(start + 2, afterStart.size(), afterStart);
    QVERIFY(file.seek(0));
    QCOMPARE(file.write(bytes), bytes.size());
    file.close();

    Slice slice;
    QString whyNot;
    QVERIFY(!slice.load(name, &whyNot));
    QCOMPARE(whyNot, QStringLiteral("DICOM JPEG data with a TEM marker before its frame header"));
}

void tst_DicomReader::loadTriesDicomLast()
{
    // Not DICOM at all, DICOM that breaks off, a picture: each reader's answer.
    const QString text = writeFixture(path("notes.txt"), "no slice\n");
    QByteArray broken(128, '\0');
    broken += "DICM";
    broken += QByteArray(40, '\x7f');
    const QString garbage = writeFixture(path("garbage.dcm"), broken);
    QFile whole(data("MR_small_RLE.dcm"));
    QVERIFY(whole.open(QIODevice::ReadOnly));
    const QString cut = writeFixture(path("cut.dcm"), whole.readAll().left(2000));

    QString whyNot;
    QVERIFY(!Slice().load(path("missing.dcm"), &whyNot));
    QCOMPARE(whyNot, QStringLiteral("cannot be opened"));
    QVERIFY(!Slice().load(text, &whyNot));
    QCOMPARE(whyNot, QStringLiteral("not a picture, text slice or DICOM file"));
    QVERIFY(!Slice().load(garbage, &whyNot));
    QVERIFY2(whyNot.startsWith("unreadable DICOM file ("), qPrintable(whyNot));
    QVERIFY(!Slice().load(cut, &whyNot));
    QVERIFY2(whyNot.startsWith("DICOM pixel data shorter") || whyNot.startsWith("unreadable"),
             qPrintable(whyNot));

    // A DICOM file loads as a text-like grid, not as a picture.
    Slice slice;
    slice.isImage = true;
    QVERIFY(slice.load(data("MR_small.dcm")));
    QVERIFY(!slice.isImage);
    QCOMPARE(slice.valueAt(0, 0), 905.0);
}

void tst_DicomReader::loadingOrder_data()
{
    // Each file: name, then "png", "text", "none" (a DICOM object without an
    // image), or the image's series, position and instance number.
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("one series in shuffled names: along the normal")
        << QStringList{ "a s1 0\\0\\3", "b s1 0\\0\\1", "c s1 0\\0\\2", "d s1 0\\0\\-4" }
        << QStringList{ "d", "b", "c", "a" };
    QTest::newRow("other files follow in the given order, objects without images too")
        << QStringList{ "p1 png", "a s1 0\\0\\3", "t text", "n none", "b s1 0\\0\\1", "p0 png" }
        << QStringList{ "b", "a", "p1", "t", "n", "p0" };
    QTest::newRow("ties: instance number, unnumbered last, then as given")
        << QStringList{ "a s1 0\\0\\1", "b s1 0\\0\\1 7", "c s1 0\\0\\1 3", "d s1 0\\0\\0",
                        "e s1 0\\0\\1" }
        << QStringList{ "d", "c", "b", "a", "e" };
    QTest::newRow("two series: as given")
        << QStringList{ "a s1 0\\0\\3", "b s2 0\\0\\1", "c s1 0\\0\\2" }
        << QStringList{ "a", "b", "c" };
    QTest::newRow("one image without a position: as given")
        << QStringList{ "a s1 0\\0\\3", "b s1 -", "c s1 0\\0\\2" }
        << QStringList{ "a", "b", "c" };
    QTest::newRow("no DICOM image: as given")
        << QStringList{ "p1 png", "n none", "t text", "p0 png" }
        << QStringList{ "p1", "n", "t", "p0" };
}

void tst_DicomReader::loadingOrder()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, expected);

    QTemporaryDir here;
    QStringList names;
    for (const QString &file : files) {
        const QStringList parts = file.split(u' ');
        const QString name = here.filePath(parts.at(0));
        names.append(name);
        const QString kind = parts.at(1);
        if (kind == "png") {
            QImage picture(4, 4, QImage::Format_Grayscale8);
            picture.fill(9);
            QVERIFY(picture.save(name, "png"));
        } else if (kind == "text") {
            QVERIFY(!writeFixture(name, "#VELD-CTImg\n").isEmpty());
        } else {
            DicomFixture image;
            image.series = kind;
            image.raw = { 1, 2, 3, 4, 5, 6 };
            if (kind == "none")
                image.raw.clear();
            if (parts.size() > 2 && parts.at(2) != "-")
                image.position = parts.at(2);
            image.instance = parts.value(3);
            QVERIFY(writeDicom(name, image));
        }
    }
    QStringList order;
    for (const QString &name : ::loadingOrder(names))
        order.append(QFileInfo(name).fileName());
    QCOMPARE(order, expected);

    // A stop before the pass leaves the selection as it was given.
    const std::atomic<bool> stop = true;
    QCOMPARE(::loadingOrder(names, &stop), names);
}

void tst_DicomReader::realSeriesOrder()
{
    // Five real CT slices in name order run from head to feet; along their
    // normal (0, 0, 1) they go the other way. Their DICOMDIR does not count.
    QStringList names;
    for (const char *name : { "2062", "2392", "2693", "3023", "3353", "DICOMDIR" })
        names.append(data(QStringLiteral("ct5n/") + name));
    const QStringList expected = { names[4], names[3], names[2], names[1], names[0], names[5] };
    QCOMPARE(::loadingOrder(names), expected);

    // The orientation makes the normal: rows along y and columns along -z
    // give a normal along -x, so the largest x comes first.
    QTemporaryDir here;
    QStringList sagittal;
    for (int x : { 5, -2, 9 }) {
        DicomFixture image;
        image.orientation = QStringLiteral("0\\1\\0\\0\\0\\-1");
        image.position = QStringLiteral("%1\\0\\0").arg(x);
        image.raw = { 1, 2, 3, 4, 5, 6 };
        sagittal.append(here.filePath(QString::number(x)));
        QVERIFY(writeDicom(sagittal.last(), image));
    }
    QCOMPARE(::loadingOrder(sagittal), QStringList({ sagittal[2], sagittal[0], sagittal[1] }));

    // A TIFF header in the preamble, as the NEMA sample files carry, that no
    // picture reader can follow: still DICOM images.
    for (const QString &name : sagittal) {
        QFile file(name);
        QVERIFY(file.open(QIODevice::ReadWrite));
        file.write(QByteArray::fromHex("49492a00e8050800"));
    }
    QCOMPARE(::loadingOrder(sagittal), QStringList({ sagittal[2], sagittal[0], sagittal[1] }));
}

// Figures from pydicom 2.3.1's pixel_array times Dose Grid Scaling; the grid
// lies 5 mm apart along z, in the file's order, with 10 mm pixels.
void tst_DicomReader::doseGrids_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("32-bit") << "rtdose.dcm";
    QTest::newRow("32-bit, RLE, its attributes of unknown kind") << "rtdose_rle.dcm";
    QTest::newRow("32-bit, big endian") << "rtdose_expb.dcm";
}

void tst_DicomReader::doseGrids()
{
    QFETCH(QString, file);
    const FileSlices read = readSliceFile(data(file));
    QVERIFY2(read.slices.size() == 15, qPrintable(read.whyNot));
    double total = 0;
    for (const auto &slice : read.slices)
        total += sum(*slice);
    QCOMPARE_LT(std::abs(total - 1519.91), 1e-9);
    QCOMPARE(read.slices.front()->valueAt(1, 0), 1.249);
    QCOMPARE(read.slices.back()->valueAt(9, 9), 0.799);
    QCOMPARE(read.slices[7]->valueAt(5, 4), 1.022);
    QCOMPARE(std::abs(sum(*read.slices[1]) - 101.381) < 1e-9, true);

    SliceDatas set;
    set.filesSelected({ data(file) });
    QCOMPARE(set.slices.size(), 15);
    QCOMPARE(set.min, 0.795);
    QCOMPARE(set.max, 1.254);
    QCOMPARE(set.fileShape.sliceMm, 5.0);
    const SelectionSurvey survey = surveySelection({ data(file) });
    QCOMPARE(survey.series.first().images, 15);
    QCOMPARE(survey.series.first().sliceMm, 5.0);
    QCOMPARE(set.fileShape.z, measuredShape(10, 10, { 0, 5, 10, 15, 20, 25, 30, 35, 40, 45, 50,
                                                      55, 60, 65, 70 }).z);
}

// An Enhanced CT file with frames in shuffled places, each with its own
// rescale (the second with the shared one): the slices come out along the
// normal with their values, and the set takes the shape they give.
void tst_DicomReader::enhancedFrames_data()
{
    QTest::addColumn<int>("encoding");
    QTest::addColumn<bool>("placed");
    QTest::newRow("native") << int(EXS_LittleEndianExplicit) << true;
    QTest::newRow("RLE") << int(EXS_RLELossless) << true;
    QTest::newRow("JPEG lossless") << int(EXS_JPEGProcess14SV1) << true;
    QTest::newRow("a frame without its place: as written, cubes")
        << int(EXS_LittleEndianExplicit) << false;
    // The same frames as JPEG 2000 code streams in two fragments each, found
    // by the offset table (see the README there); the last frame's stream is
    // unsigned.
    QTest::newRow("JPEG 2000") << -1 << true;
}

void tst_DicomReader::enhancedFrames()
{
    QFETCH(int, encoding);
    QFETCH(bool, placed);
    const QList<DicomFrame> frames = {
        { "0\\0\\3", "2", "-5", { 0, 1, 2, 3, 4, 5 } },
        { "0\\0\\0", "", "", { 10, 11, 12, 13, 14, 15 } },
        { placed ? "0\\0\\1" : "", "1", "-1024", { 20, 21, 22, 23, 24, 0xffff } },
        { "0\\0\\-4", "3", "7", { 30, 31, 32, 33, 34, 35 } },
    };
    QString name = data(QStringLiteral("enhanced_ct_j2k.dcm"));
    if (encoding >= 0) {
        name = path(QStringLiteral("enhanced.dcm"));
        QVERIFY(writeEnhancedCt(name, frames, 2, 3, "0.5\\0.25", "0.5",
                                E_TransferSyntax(encoding)));
    }
    // Each frame's first and last value, in the order the slices should come.
    const QList<double> ends = placed ? QList<double>{ 97, 112, 5, 7.5, -1004, -1025, -5, 5 }
                                      : QList<double>{ -5, 5, 5, 7.5, -1004, -1025, 97, 112 };
    QString whyNot;
    const auto slices = readDicomFrames(name, &whyNot);
    QVERIFY2(slices.size() == 4, qPrintable(whyNot));
    for (int k = 0; k < 4; ++k) {
        QCOMPARE(slices[size_t(k)]->valueAt(0, 0), ends[2 * k]);
        QCOMPARE(slices[size_t(k)]->valueAt(2, 1), ends[2 * k + 1]);
    }

    SliceDatas set;
    set.filesSelected({ name });
    QCOMPARE(set.slices.size(), 4);
    QCOMPARE(set.fileShape.z, placed ? measuredShape(0.25, 0.5, { -4, 0, 1, 3 }).z
                                     : cubicShape(4).z);
    const SelectionSurvey survey = surveySelection({ name });
    QCOMPARE(survey.series.size(), 1);
    QCOMPARE(survey.series.first().images, 4);
    QCOMPARE(survey.series.first().sliceMm, placed ? 7.0 / 3 : 0.0);
}

// Forged headers and cut files: refused with a reason, and the picture after
// them in the selection still loads.
void tst_DicomReader::framesRefused_data()
{
    using Changes = QList<std::pair<DcmTagKey, QString>>;
    QTest::addColumn<QString>("file");
    QTest::addColumn<Changes>("changes");
    QTest::addColumn<qint64>("cut"); // bytes cut off its end
    QTest::addColumn<QString>("reason");

    QTest::newRow("a frame beyond the data")
        << "rtdose.dcm" << Changes{ { DCM_NumberOfFrames, "16" } } << qint64(0)
        << "DICOM pixel data shorter than frames x rows x columns x samples (6000 of 6400 bytes)";
    QTest::newRow("a frame beyond the fragments")
        << "rtdose_rle.dcm" << Changes{ { DCM_NumberOfFrames, "16" } } << qint64(0)
        << "DICOM image of 16 frames beyond its pixel data";
    QTest::newRow("frames beyond any pixel data")
        << "rtdose.dcm" << Changes{ { DCM_NumberOfFrames, "99999999999" } } << qint64(0)
        << "DICOM image of 99999999999 frames beyond its pixel data";
    QTest::newRow("cells beyond the limit")
        << "rtdose.dcm" << Changes{ { DCM_Rows, "65535" }, { DCM_Columns, "65535" } }
        << qint64(0) << "DICOM image of 65535 x 65535 cells, more than the limit of 67108864";
    QTest::newRow("cut in its last frame")
        << "rtdose.dcm" << Changes{} << qint64(100)
        << "unreadable DICOM file (I/O suspension or premature end of stream)";
    QTest::newRow("JPEG 2000 stream of another size")
        << "JPEG2000.dcm" << Changes{ { DCM_Rows, "512" } } << qint64(0)
        << "JPEG 2000 image of 256 x 1024 cells in a DICOM image of 256 x 512";
    QTest::newRow("over the memory budget")
        << "rtdose.dcm" << Changes{ { DCM_PatientName, "budget" } } << qint64(0)
        << "multi-frame DICOM image over the memory budget (15 frames of 10 x 10)";
}

void tst_DicomReader::framesRefused()
{
    using Changes = QList<std::pair<DcmTagKey, QString>>;
    QFETCH(QString, file);
    QFETCH(Changes, changes);
    QFETCH(qint64, cut);
    QFETCH(QString, reason);

    const QString name = path(QStringLiteral("forged.dcm"));
    QFile::remove(name);
    QVERIFY(rewriteDicom(data(file), name, changes));
    if (cut > 0) {
        QFile forged(name);
        QVERIFY(forged.open(QIODevice::ReadWrite));
        QVERIFY(forged.resize(forged.size() - cut));
    }
    const QString picture = path(QStringLiteral("after.png"));
    QImage grey(3, 2, QImage::Format_Grayscale8);
    grey.fill(3);
    grey.setPixel(0, 0, 0);
    QVERIFY(grey.save(picture, "png"));

    const bool tight = changes.value(0).second == "budget";
    if (tight)
        SliceDatas::setMemoryBudget(10000);
    const FileSlices read = readSliceFile(name);
    SliceDatas set;
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Skipped .*forged.dcm"));
    set.filesSelected({ name, picture });
    if (tight)
        SliceDatas::setMemoryBudget(SliceDatas::defaultMemoryBudget());
    QVERIFY(read.slices.empty());
    QCOMPARE(read.whyNot, reason);
    QCOMPARE(set.slices.size(), 1);
}

// A study folder: a scout of its own size, a 5 mm and a 1 mm series of one
// size, written in shuffled order, with a picture among them.
void tst_DicomReader::survey()
{
    QTemporaryDir here;
    QStringList names;
    const auto image = [&](int series, double z, const char *description) {
        DicomFixture written;
        written.series = QStringLiteral("1.2.3.%1").arg(series);
        written.description = QString::fromLatin1(description);
        written.position = QStringLiteral("0\\0\\%1").arg(z);
        written.pixelSpacing = QStringLiteral("0.75\\0.5");
        written.raw = { 1, 2, 3, 4, 5, 6 };
        if (series == 2) {
            written.columns = 2;
            written.rows = 4;
            written.raw += { 7, 8 };
        }
        names.append(here.filePath(QString::number(names.size())));
        return writeDicom(names.last(), written);
    };
    for (double z : { 10.0, 0.0, 5.0 })
        QVERIFY(image(1, z, "5 mm"));
    QVERIFY(image(2, 3, "scout"));
    for (double z : { 5.0, 0.0, 3.0, 1.0, 4.0, 2.0 })
        QVERIFY(image(0, z, "1 mm"));
    const QString picture = here.filePath("p.png");
    QVERIFY(QImage(3, 2, QImage::Format_Grayscale8).save(picture, "png"));
    names.insert(4, picture);

    const SelectionSurvey survey = surveySelection(names);
    QCOMPARE(survey.others, QStringList{ picture });
    QCOMPARE(survey.series.size(), 3);
    const QList<QList<int>> order = { { 6, 8, 10, 7, 9, 5 }, { 1, 2, 0 }, { 3 } };
    const double between[] = { 1, 5, 0 };
    const char *descriptions[] = { "1 mm", "5 mm", "scout" };
    for (int i = 0; i < 3; ++i) {
        const DicomSeries &series = survey.series.at(i);
        QStringList files;
        for (int k : order[i])
            files.append(names.at(k));
        QCOMPARE(series.files, files);
        QCOMPARE(series.images, order[i].size());
        QCOMPARE(series.description, QString::fromLatin1(descriptions[i]));
        QCOMPARE(series.rows, i == 2 ? 4 : 2);
        QCOMPARE(series.sliceMm, between[i]);
        QCOMPARE(series.rowMm, 0.75);
        QCOMPARE(series.columnMm, 0.5);
        QVERIFY(series.ordered);
    }
}

QTEST_GUILESS_MAIN(tst_DicomReader)
#include "tst_dicomreader.moc"
