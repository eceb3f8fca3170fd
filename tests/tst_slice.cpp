#include "slices/slice.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <thread>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

class tst_Slice : public QObject
{
    Q_OBJECT

private:
    QString write(const QString &name, const QByteArray &contents);

    QTemporaryDir dir;

private slots:
    void readPicture_data();
    void readPicture();
    void notAPicture_data();
    void notAPicture();
    void load_data();
    void load();
#ifdef Q_OS_UNIX
    void namedPipeIsNoSlice();
#endif
};

QString tst_Slice::write(const QString &name, const QByteArray &contents)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        return QString();
    return path;
}

static QImage grey(int w, int h, int (*level)(int x, int y))
{
    QImage image(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            image.scanLine(y)[x] = uchar(level(x, y));
    }
    return image;
}

static QImage coloured(int w, int h, QImage::Format format)
{
    QImage image(w, h, format);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            image.setPixelColor(x, y, QColor(255 - x, 17 * y, 3 * x + y + 20, 128 + y));
    }
    return image;
}

void tst_Slice::readPicture_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<QByteArray>("fileFormat");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");

    QTest::newRow("grey 8-bit: values are the grey levels")
        << grey(16, 5, [](int x, int y) { return 10 + 12 * x + y; }) << QByteArray("png") << 10.0
        << 194.0;
    QTest::newRow("pure red: blue channel all 0")
        << [] { QImage i(8, 4, QImage::Format_RGB32); i.fill(QColor(255, 0, 0)); return i; }()
        << QByteArray("png") << 0.0 << 0.0;
    QTest::newRow("colour RGB32: blue channel only")
        << coloured(16, 5, QImage::Format_RGB32) << QByteArray("png") << 20.0 << 69.0;
    QTest::newRow("colour with alpha")
        << coloured(16, 5, QImage::Format_ARGB32) << QByteArray("png") << 20.0 << 69.0;
    QTest::newRow("palette")
        << coloured(16, 5, QImage::Format_RGB32).convertToFormat(QImage::Format_Indexed8)
        << QByteArray("png") << -1.0 << -1.0;
    QTest::newRow("grey 16-bit")
        << grey(16, 5, [](int x, int y) { return 12 * x + y; })
               .convertToFormat(QImage::Format_Grayscale16)
        << QByteArray("png") << 0.0 << 184.0;
    QTest::newRow("one bit")
        << grey(16, 5, [](int x, int) { return x % 2 ? 255 : 0; })
               .convertToFormat(QImage::Format_Mono)
        << QByteArray("png") << 0.0 << 255.0;
    QTest::newRow("BMP, recognised without a format given")
        << grey(16, 5, [](int x, int y) { return 10 + 12 * x + y; }) << QByteArray("bmp") << 10.0
        << 194.0;
}

void tst_Slice::readPicture()
{
    QFETCH(QImage, picture);
    QFETCH(QByteArray, fileFormat);
    QFETCH(double, min);
    QFETCH(double, max);

    // A neutral extension, so that only the contents tell the format.
    const QString path = dir.filePath(QStringLiteral("%1.dat").arg(QTest::currentDataTag()));
    QVERIFY(picture.save(path, fileFormat.constData()));

    Slice slice;
    QVERIFY(slice.readPicture(path));
    QVERIFY(slice.isImage);
    QCOMPARE(slice.width, picture.width());
    QCOMPARE(slice.height, picture.height());
    QVERIFY(slice.rows.isEmpty());

    // Every value is the blue component of the pixel as the reader gave it.
    double lowest = 255;
    double highest = 0;
    for (int y = 0; y < slice.height; ++y) {
        for (int x = 0; x < slice.width; ++x) {
            const double expected = qBlue(slice.image.pixel(x, y));
            QCOMPARE(slice.valueAt(x, y), expected);
            lowest = std::min(lowest, expected);
            highest = std::max(highest, expected);
        }
    }
    QCOMPARE(slice.min, min < 0 ? lowest : min);
    QCOMPARE(slice.max, max < 0 ? highest : max);
}

void tst_Slice::notAPicture_data()
{
    QTest::addColumn<QByteArray>("contents");

    QTest::newRow("CT image text")
        << QByteArray("#VELD-CTImg\n# Range_X1 = 1\n# Range_Y1 = 1\n0 0 1\n1 1 2\n");
    QTest::newRow("table text") << QByteArray("## 240301\n# X-NUM 3\n# Y-NUM 3\n0,0,1\n1,1,2\n");
    QTest::newRow("plain words") << QByteArray("no picture here\n");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("truncated BMP") << QByteArray("BM\x46\0\0\0\0\0\0\0\x36\0\0\0", 14);
}

void tst_Slice::notAPicture()
{
    QFETCH(QByteArray, contents);

    const QString path = write(QStringLiteral("text.dat"), contents);
    QVERIFY(!path.isEmpty());
    Slice slice;
    QVERIFY(!slice.readPicture(path));
    QCOMPARE(slice.width, 0);
    QCOMPARE(slice.height, 0);
    QCOMPARE(slice.min, 0.0);
    QCOMPARE(slice.max, 1.0);
    QVERIFY(!slice.isImage);
    QVERIFY(slice.image.isNull());
}

void tst_Slice::load_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("isImage");
    QTest::addColumn<int>("width");
    QTest::addColumn<double>("max");

    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        grey(4, 3, [](int x, int y) { return 40 * x + y; }).save(&buffer, "png");
    }
    QTest::newRow("picture") << png << true << true << 4 << 122.0;
    QTest::newRow("CT image text")
        << QByteArray("#VELD-CTImg\n# Range_X1 = 1\n# Range_Y1 = 1\n0 0 1\n1 1 2\n") << true
        << false << 2 << 2.0;
    QTest::newRow("table text")
        << QByteArray("## 240301\n# X-NUM 3\n# Y-NUM 3\n0,0,1\n1,1,2\n") << true << false << 2
        << 2.0;
    QTest::newRow("CT tag but no grid")
        << QByteArray("#VELD-CTImg\n0 0 1\n") << false << false << 0 << 0.0;
    QTest::newRow("no format") << QByteArray("no slice here\n") << false << false << 0 << 0.0;
    QTest::newRow("missing file") << QByteArray() << false << false << 0 << 0.0;
}

void tst_Slice::load()
{
    QFETCH(QByteArray, contents);
    QFETCH(bool, ok);

    QString path = dir.filePath(QStringLiteral("no such file"));
    if (!contents.isEmpty()) {
        path = write(QStringLiteral("load.dat"), contents);
        QVERIFY(!path.isEmpty());
    }
    Slice slice;
    QCOMPARE(slice.load(path), ok);
    if (!ok)
        return;

    QFETCH(bool, isImage);
    QFETCH(int, width);
    QFETCH(double, max);
    QCOMPARE(slice.isImage, isImage);
    QCOMPARE(slice.width, width);
    QCOMPARE(slice.max, max);
}

#ifdef Q_OS_UNIX
void tst_Slice::namedPipeIsNoSlice()
{
    // Nothing ever writes to the pipe: reading it would wait for ever.
    const QByteArray path = dir.filePath(QStringLiteral("pipe.png")).toLocal8Bit();
    QCOMPARE(mkfifo(path.constData(), 0600), 0);
    std::atomic<bool> done = false;
    bool loaded = true;
    std::thread reader([&] {
        Slice slice;
        loaded = slice.load(QString::fromLocal8Bit(path));
        done = true;
    });
    // A reader that did block is let go, so that the test can end.
    const auto release = qScopeGuard([&] {
        for (int i = 0; i < 100 && !done; ++i) {
            const int fd = open(path.constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                close(fd);
            QThread::msleep(10);
        }
        reader.join();
    });
    QTRY_VERIFY_WITH_TIMEOUT(done, 2000);
    QVERIFY(!loaded);
}
#endif

QTEST_GUILESS_MAIN(tst_Slice)
#include "tst_slice.moc"
