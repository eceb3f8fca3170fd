#include "slices/slicedatas.h"

#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include <shared_mutex>

#include "tests/dicomfixtures.h"
#include "tests/slicefixtures.h"

// Whole loads of the files scanners write, through a slice set: TIFF stacks
// beside the same PNG stacks, DICOM series in position order, and the account
// of what a load left out. The set runs on the test thread here; its threading
// is the same for every format.
class tst_ScannerFiles : public QObject
{
    Q_OBJECT

private:
    QString path(const QString &name) const { return dir.filePath(name); }
    QStringList load(SliceDatas &set, const QStringList &files);

    QTemporaryDir dir;

private slots:
    void tiffStackLikePng_data();
    void tiffStackLikePng();
    void multiPageTiff();
    void filesOfTodayUnchanged_data();
    void filesOfTodayUnchanged();
    void dicomSeries();
    void realSeriesShape_data();
    void realSeriesShape();
    void account();
};

// The names the set accepted, in the order it announced them.
QStringList tst_ScannerFiles::load(SliceDatas &set, const QStringList &files)
{
    QStringList accepted;
    const auto connection = connect(&set, &SliceDatas::loadedNewFile,
                                    [&accepted](const QString &name) { accepted.append(name); });
    set.filesSelected(files);
    disconnect(connection);
    return accepted;
}

static QImage greyRamp(int index, QImage::Format format)
{
    QImage image(24, 10, QImage::Format_Grayscale16);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<quint16 *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = quint16((x * 2731 + y * 617 + index * 4099) % 65536);
    }
    return image.convertToFormat(format);
}

void tst_ScannerFiles::tiffStackLikePng_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::newRow("8-bit grey") << QImage::Format_Grayscale8;
    QTest::newRow("16-bit grey") << QImage::Format_Grayscale16;
}

void tst_ScannerFiles::tiffStackLikePng()
{
    QFETCH(QImage::Format, format);

    QStringList tiffs;
    QStringList pngs;
    for (int i = 0; i < 3; ++i) {
        const QImage image = greyRamp(i, format);
        tiffs.append(path(QStringLiteral("stack%1.tif").arg(i)));
        pngs.append(path(QStringLiteral("stack%1.png").arg(i)));
        QVERIFY(image.save(tiffs.last(), "tiff"));
        QVERIFY(image.save(pngs.last(), "png"));
    }
    SliceDatas fromTiff;
    SliceDatas fromPng;
    QCOMPARE(load(fromTiff, tiffs), tiffs);
    QCOMPARE(load(fromPng, pngs), pngs);

    QCOMPARE(fromTiff.width, fromPng.width);
    QCOMPARE(fromTiff.height, fromPng.height);
    QCOMPARE(fromTiff.min, fromPng.min);
    QCOMPARE(fromTiff.max, fromPng.max);
    QCOMPARE(fromTiff.counts, fromPng.counts);
    for (int i = 0; i < tiffs.size(); ++i) {
        const Slice *tiff = fromTiff.slices.at(i);
        const Slice *png = fromPng.slices.at(i);
        QVERIFY(tiff->isImage);
        for (int y = 0; y < png->height; ++y) {
            for (int x = 0; x < png->width; ++x)
                QCOMPARE(tiff->valueAt(x, y), png->valueAt(x, y));
        }
    }
}

// A baseline TIFF of 16-bit grey pages, one strip each, little-endian: the
// form ImageJ saves a stack in, which Qt's writer cannot make.
static QByteArray tiffOfPages(const QList<QImage> &pages)
{
    QByteArray file("II*\0\0\0\0\0", 8);
    const auto put = [&file](qsizetype at, quint32 value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            file[at + i] = char((value >> (8 * i)) & 0xff);
    };
    qsizetype link = 4; // where the offset of the next directory goes
    for (const QImage &page : pages) {
        const qsizetype strip = file.size();
        for (int y = 0; y < page.height(); ++y) {
            file.append(reinterpret_cast<const char *>(page.constScanLine(y)),
                        page.width() * 2);
        }
        if (file.size() % 2)
            file.append('\0');
        put(link, quint32(file.size()), 4);
        const quint32 entries[][3] = { { 256, 4, quint32(page.width()) },
                                       { 257, 4, quint32(page.height()) },
                                       { 258, 3, 16 },
                                       { 259, 3, 1 },
                                       { 262, 3, 1 },
                                       { 273, 4, quint32(strip) },
                                       { 277, 3, 1 },
                                       { 278, 4, quint32(page.height()) },
                                       { 279, 4, quint32(page.width() * page.height() * 2) } };
        const qsizetype ifd = file.size();
        file.append(QByteArray(2 + 12 * std::size(entries) + 4, '\0'));
        put(ifd, std::size(entries), 2);
        for (size_t i = 0; i < std::size(entries); ++i) {
            const qsizetype at = ifd + 2 + 12 * qsizetype(i);
            put(at, entries[i][0], 2);
            put(at + 2, entries[i][1], 2);
            put(at + 4, 1, 4);
            put(at + 8, entries[i][2], entries[i][1] == 3 ? 2 : 4);
        }
        link = ifd + 2 + 12 * qsizetype(std::size(entries));
    }
    return file;
}

// Every page of a multi-page TIFF is a slice, named by its number and valued
// as the same page saved alone; the files after it load as usual.
void tst_ScannerFiles::multiPageTiff()
{
    QList<QImage> pages;
    QStringList pngs;
    for (int i = 0; i < 3; ++i) {
        pages.append(greyRamp(i, QImage::Format_Grayscale16));
        pngs.append(path(QStringLiteral("page%1.png").arg(i)));
        QVERIFY(pages.last().save(pngs.last(), "png"));
    }
    const QString tiff = writeFixture(path(QStringLiteral("stack.tif")), tiffOfPages(pages));
    SliceDatas fromTiff;
    SliceDatas fromPng;
    QCOMPARE(load(fromTiff, { tiff, pngs.first() }),
             QStringList({ tiff + " [1]", tiff + " [2]", tiff + " [3]", pngs.first() }));
    QCOMPARE(load(fromPng, pngs), pngs);
    QCOMPARE(fromTiff.account.selected, 2);
    QCOMPARE(fromTiff.account.filesLoaded, 2);
    QVERIFY(fromTiff.account.stacks);
    for (int i = 0; i < 4; ++i) {
        const Slice *page = fromTiff.slices.at(i);
        const Slice *png = fromPng.slices.at(i % 3);
        QVERIFY(page->isImage);
        for (int y = 0; y < png->height; ++y) {
            for (int x = 0; x < png->width; ++x)
                QCOMPARE(page->valueAt(x, y), png->valueAt(x, y));
        }
    }
}

void tst_ScannerFiles::filesOfTodayUnchanged_data()
{
    // Files the picture plugins now claim by their suffix alone still load as
    // they did before those plugins came.
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("isImage");
    QTest::addColumn<double>("firstValue");

    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    greyRamp(0, QImage::Format_Grayscale8).save(&buffer, "png");
    const QByteArray text = "#VELD-CTImg\n# Range_X1 = 2\n# Range_Y1 = 1\n0 0 5\n2 1 7.5\n";
    QTest::newRow("PNG named .tif") << "picture.tif" << png << true << 0.0;
    QTest::newRow("PNG named .webp") << "picture.webp" << png << true << 0.0;
    QTest::newRow("CT text named .tiff") << "text.tiff" << text << false << 5.0;
    QTest::newRow("CT text named .dcm") << "text.dcm" << text << false << 5.0;
}

void tst_ScannerFiles::filesOfTodayUnchanged()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, contents);
    QFETCH(bool, isImage);
    QFETCH(double, firstValue);

    Slice slice;
    QVERIFY(slice.load(writeFixture(path(name), contents)));
    QCOMPARE(slice.isImage, isImage);
    QCOMPARE(slice.valueAt(0, 0), firstValue);
}

void tst_ScannerFiles::dicomSeries()
{
    // A series written in shuffled name order, with a DICOM report, a cut-off
    // image and a multi-frame image of the same series among it, and a
    // picture of the same size first.
    QTemporaryDir here;
    const auto name = [&here](const char *file) { return here.filePath(file); };
    QImage picture(3, 2, QImage::Format_Grayscale8);
    picture.fill(0);
    picture.scanLine(1)[2] = 9;
    QVERIFY(picture.save(name("a_picture.png"), "png"));

    struct Slot
    {
        const char *file;
        double z;
        int first;
    };
    const Slot series[] = { { "im4", 20.0, 400 }, { "im1", -5.0, 100 }, { "im3", 12.5, 300 },
                            { "im2", 0.0, 200 } };
    DicomFixture image;
    image.representation = 1;
    image.intercept = QStringLiteral("-1000");
    for (const Slot &slot : series) {
        image.position = QStringLiteral("-10\\-10\\%1").arg(slot.z);
        image.raw = { slot.first, 1, 2, 3, 4, 0xffff };
        QVERIFY(writeDicom(name(slot.file), image));
    }
    DicomFixture report = image;
    report.raw.clear();
    QVERIFY(writeDicom(name("report"), report));
    DicomFixture frames = image;
    frames.frames = QStringLiteral("2");
    frames.raw += frames.raw;
    QVERIFY(writeDicom(name("frames"), frames));
    QFile whole(name("im2"));
    QVERIFY(whole.open(QIODevice::ReadOnly));
    const QString cut = writeFixture(name("cut"), whole.readAll().chopped(4));

    const QStringList selection = { name("a_picture.png"), name("im4"), name("report"),
                                    name("im1"),           name("frames"), cut,
                                    name("im3"),           name("im2") };
    QTest::ignoreMessage(QtDebugMsg,
                         qPrintable(QStringLiteral("Skipped \"%1\" \"DICOM object without an "
                                                   "image\"")
                                            .arg(name("report"))));
    QTest::ignoreMessage(QtDebugMsg,
                         QRegularExpression(QStringLiteral("^Skipped \"%1\" \"unreadable DICOM "
                                                           "file \\(.+\\)\"$")
                                                    .arg(QRegularExpression::escape(cut))));
    SliceDatas set;
    const QStringList accepted = load(set, selection);
    // The multi-frame image lies where im2 does, and came before it.
    QCOMPARE(accepted, QStringList({ name("im1"), name("frames") + " [1]", name("frames") + " [2]",
                                     name("im2"), name("im3"), name("im4"),
                                     name("a_picture.png") }));

    QCOMPARE(set.width, 3);
    QCOMPARE(set.height, 2);
    const double firsts[] = { -900, -800, -800, -800, -700, -600, 0 };
    for (int i = 0; i < 7; ++i)
        QCOMPARE(set.slices.at(i)->valueAt(0, 0), firsts[i]);
    QCOMPARE(set.slices.first()->valueAt(2, 1), -1001.0);
    QVERIFY(!set.slices.first()->isImage);
    QCOMPARE(set.min, -1001.0);
    QCOMPARE(set.max, 9.0);
    QCOMPARE(set.account.selected, 8);
    QCOMPARE(set.account.unreadable, 2);
    QCOMPARE(set.account.notSlices, 1);
    QCOMPARE(set.account.damaged, 1);
    QCOMPARE(set.account.flat + set.account.otherSize, 0);
}

void tst_ScannerFiles::realSeriesShape_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::newRow("name order") << QStringList{ "2062", "2392", "2693", "3023", "3353" };
    QTest::newRow("shuffled") << QStringList{ "2693", "3353", "2062", "3023", "2392" };
}

void tst_ScannerFiles::realSeriesShape()
{
    QFETCH(QStringList, names);

    QStringList files;
    for (const QString &name : names)
        files.append(QStringLiteral(CTSLAB_TEST_DATA "/dicom/ct5n/") + name);
    SliceDatas set;
    load(set, files);

    // Computed in Python from the files as Debian's python3-pydicom 2.3.1 reads
    // them (Pixel Spacing 0.488281 both ways, orientation 1\0\0\0\1\0, Image
    // Position z from -1.2375 to 8.7625 in steps of 2.5): cs = 0.488281,
    // g = (8.7625 - -1.2375) / 4 / cs, D = 5 g, z_k = (q_k - q_0) / cs - D / 2.
    const QList<double> z = { -12.800006553603357, -7.680003932162014, -2.560001310720672,
                              2.5600013107206685, 7.680003932162013 };
    QCOMPARE(set.fileShape.ry, 1.0);
    QCOMPARE(set.fileShape.depth, 25.600013107206713);
    QCOMPARE(set.fileShape.z, z);
    QCOMPARE(set.fileShape.sliceMm, 2.5);
}

void tst_ScannerFiles::account()
{
    QTemporaryDir here;
    const auto grey = [&here](const char *file, int w, int h, int level) {
        QImage image(w, h, QImage::Format_Grayscale8);
        image.fill(level);
        image.scanLine(0)[0] = level == 0 ? 0 : 255;
        const QString name = here.filePath(file);
        return image.save(name, "png") ? name : QString();
    };
    const QString first = grey("first.png", 4, 4, 10);
    const QString flatOne = grey("flat.png", 4, 4, 0);
    const QString small = grey("small.png", 2, 2, 10);
    const QString notes = writeFixture(here.filePath("notes.txt"), "notes\n");
    const QString last = grey("last.png", 4, 4, 20);
    // Intact files in forms not read are counted apart from damaged ones,
    // each form once with its count.
    DicomFixture palette;
    palette.photometric = QStringLiteral("PALETTE COLOR");
    palette.raw = { 1, 2, 3, 4, 5, 6 };
    DicomFixture wide = palette;
    wide.photometric = QStringLiteral("MONOCHROME2");
    wide.bitsAllocated = 12;
    QVERIFY(writeDicom(here.filePath("palette1.dcm"), palette));
    QVERIFY(writeDicom(here.filePath("palette2.dcm"), palette));
    QVERIFY(writeDicom(here.filePath("wide.dcm"), wide));
    const QStringList unsupported = { here.filePath("palette1.dcm"), here.filePath("wide.dcm"),
                                      here.filePath("palette2.dcm") };

    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Skipped \"%1\" \"flat: every "
                                                               "value is 0\"")
                                                         .arg(flatOne)));
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Skipped \"%1\" \"2 x 2, the "
                                                               "set's slices are 4 x 4\"")
                                                         .arg(small)));
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Skipped \"%1\" \"not a picture, "
                                                               "text slice or DICOM file\"")
                                                         .arg(notes)));
    SliceDatas set;
    QCOMPARE(load(set, { first, flatOne, small, notes, last }), QStringList({ first, last }));
    QCOMPARE(set.account.selected, 5);
    QCOMPARE(set.account.flat, 1);
    QCOMPARE(set.account.otherSize, 1);
    QCOMPARE(set.account.unreadable, 1);
    QCOMPARE(set.account.notSlices, 1);

    load(set, QStringList{ first } + unsupported);
    QCOMPARE(set.account.unsupported, 3);
    QCOMPARE(set.account.unreadable, 3);
    QCOMPARE(set.account.damaged + set.account.notSlices, 0);
    const QList<std::pair<QString, int>> forms = {
        { "colour DICOM image", 2 },
        { "DICOM image of 12 bits allocated, 16 stored, high bit 15, pixel representation 0", 1 }
    };
    QCOMPARE(set.account.unsupportedForms, forms);

    // A new selection starts a new account.
    set.clear();
    QCOMPARE(set.account.selected, 0);
    QCOMPARE(set.account.flat, 0);
}

QTEST_GUILESS_MAIN(tst_ScannerFiles)
#include "tst_scannerfiles.moc"
