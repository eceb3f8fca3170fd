#include "slices/slice.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "tests/slicefixtures.h"

#include <sys/resource.h>

#include <cfloat>

class tst_CtImageReader : public QObject
{
    Q_OBJECT

private:
    QString write(const QByteArray &contents);

    QTemporaryDir dir;
    int fileCount = 0;

private slots:
    void read_data();
    void read();
    void missingFile();
    void allocationFailure();
};

QString tst_CtImageReader::write(const QByteArray &contents)
{
    return writeFixture(dir.filePath(QStringLiteral("slice%1.dat").arg(++fileCount)), contents);
}

void tst_CtImageReader::read_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<QString>("cells");

    const QByteArray tag = "#VELD-CTImg\n";
    const QByteArray ranges = "# Range_X0 = 0\n# Range_Y0 = 0\n# Range_X1 = 2\n# Range_Y1 = 1\n";
    const QByteArray head = tag + ranges;
    const QByteArray data = "0 0 5\n2 1 7.5\n";
    const QString cells = "5 0 0|0 0 7.5";

    QTest::newRow("3 x 2 grid: 5 at (0, 0), 7.5 at (2, 1)")
        << head + data << true << 3 << 2 << 5.0 << 7.5 << cells;
    QTest::newRow("tag followed by more text")
        << "#VELD-CTImg exported 2024-03-01\n" + ranges + data << true << 3 << 2 << 5.0 << 7.5
        << cells;
    QTest::newRow("CRLF, BOM, tabs and stray blanks")
        << QByteArray("\xEF\xBB\xBF#VELD-CTImg\r\n#\tRange_X0\t=\t0\r\n# Range_Y0 =  0 \r\n"
                      "  #  Range_X1 = 2\r\n# Range_Y1\t=\t1\r\n0\t0\t5\r\n  2   1  7.5  \r\n")
        << true << 3 << 2 << 5.0 << 7.5 << cells;
    QTest::newRow("colon in the third field")
        << tag + "# Range_X0 : 0\n# Range_Y0 : 0\n# Range_X1 : 2\n# Range_Y1 : 1\n" + data
        << true << 3 << 2 << 5.0 << 7.5 << cells;
    QTest::newRow("comments and unknown keys")
        << head + "#\n# exported by the scanner\n# Range_Z0 = 9\n#note\n" + data << true << 3 << 2
        << 5.0 << 7.5 << cells;
    QTest::newRow("fields beyond the third ignored")
        << head + "0 0 5 99 extra\n2 1 7.5 -99\n" << true << 3 << 2 << 5.0 << 7.5 << cells;
    QTest::newRow("exponent notation")
        << head + "0 0 1.5e2\n1 0 -2E-1\n2 1 3e0\n" << true << 3 << 2 << -0.2 << 150.0
        << "150 -0.2 0|0 0 3";
    QTest::newRow("nan, inf, 1e999 and text read as 0.0")
        << head + "0 0 nan\n1 0 inf\n2 0 1e999\n0 1 -inf\n1 1 abc\n2 1 7.5\n" << true << 3 << 2
        << 0.0 << 7.5 << "0 0 0|0 0 7.5";
    QTest::newRow("comma decimal is no number")
        << head + "0 0 1,5\n1 1 2\n" << true << 3 << 2 << 0.0 << 2.0 << "0 0 0|0 2 0";
    QTest::newRow("group separator is no number: 1,500 reads 0.0")
        << head + "0 0 1,500\n1 1 2\n" << true << 3 << 2 << 0.0 << 2.0 << "0 0 0|0 2 0";
    QTest::newRow("repeated cell keeps the last value, all count in the range")
        << head + "0 0 9\n0 0 1\n1 0 4\n" << true << 3 << 2 << 1.0 << 9.0 << "1 4 0|0 0 0";
    QTest::newRow("values outside the grid dropped")
        << head + "0 0 5\n-1 0 100\n3 0 100\n0 2 100\n0 -1 -100\n2147483647 1 100\n2 1 7.5\n"
        << true << 3 << 2 << 5.0 << 7.5 << cells;
    QTest::newRow("X0 = 1: 2 columns, column 2 names no cell")
        << tag + "# Range_X0 = 1\n# Range_Y0 = 0\n# Range_X1 = 2\n# Range_Y1 = 1\n" + data << true
        << 2 << 2 << 5.0 << 5.0 << "5 0|0 0";
    QTest::newRow("#note 1 2 3 stores 2 in row 1, column 0")
        << head + "#note 1 2 3\n" << true << 3 << 2 << 2.0 << 2.0 << "0 0 0|2 0 0";
    QTest::newRow("two-field line creates the grid, stores nothing")
        << head + "1 1\n" << true << 3 << 2 << DBL_MAX << -DBL_MAX << "0 0 0|0 0 0";
    QTest::newRow("empty line creates the grid")
        << head + "\n" << true << 3 << 2 << DBL_MAX << -DBL_MAX << "0 0 0|0 0 0";
    QTest::newRow("all values equal: min = max")
        << head + "0 0 3\n1 1 3\n" << true << 3 << 2 << 3.0 << 3.0 << "3 0 0|0 3 0";
    QTest::newRow("data lines before the ranges skipped")
        << tag + "0 0 9\n2 1 -9\n" + ranges + "1 0 4\n0 1 6\n" << true << 3 << 2 << 4.0 << 6.0
        << "0 4 0|6 0 0";
    QTest::newRow("range lines after the grid change nothing")
        << head + "0 0 5\n# Range_X1 = 9\n# Range_Y1 = 9\n# Range_X0 = 2\n2 1 7.5\n" << true << 3
        << 2 << 5.0 << 7.5 << cells;
    QTest::newRow("oversized ranges corrected before the next data line")
        << tag + "# Range_X1 = 2000000000\n# Range_Y1 = 1\n0 0 9\n# Range_X1 = 2\n" + data << true
        << 3 << 2 << 5.0 << 7.5 << cells;

    QTest::newRow("blank before the tag") << " " + head + data << false << 0 << 0 << 0.0 << 0.0
                                           << QString();
    QTest::newRow("first line shorter than the tag")
        << "#VELD\n" + ranges + data << false << 0 << 0 << 0.0 << 0.0 << QString();
    QTest::newRow("tag in other case")
        << "#veld-ctimg\n" + ranges + data << false << 0 << 0 << 0.0 << 0.0 << QString();
    QTest::newRow("empty file") << QByteArray() << false << 0 << 0 << 0.0 << 0.0 << QString();
    QTest::newRow("tag alone") << tag << false << 0 << 0 << 0.0 << 0.0 << QString();
    QTest::newRow("range line of three fields ignored")
        << tag + "# Range_X1 2\n# Range_Y1 = 1\n" + data << false << 0 << 0 << 0.0 << 0.0
        << QString();
    QTest::newRow("range 2.0 is no decimal integer")
        << tag + "# Range_X1 = 2.0\n# Range_Y1 = 1\n" + data << false << 0 << 0 << 0.0 << 0.0
        << QString();
    QTest::newRow("key in other case ignored")
        << tag + "# range_x1 = 2\n# Range_Y1 = 1\n" + data << false << 0 << 0 << 0.0 << 0.0
        << QString();
    QTest::newRow("X1 = 0 with X0 = -3")
        << tag + "# Range_X0 = -3\n# Range_X1 = 0\n# Range_Y1 = 1\n" + data << false << 0 << 0
        << 0.0 << 0.0 << QString();
    QTest::newRow("huge header: X1 = 2000000000")
        << tag + "# Range_X1 = 2000000000\n# Range_Y1 = 1\n" + data << false << 0 << 0 << 0.0
        << 0.0 << QString();
    QTest::newRow("huge header: Y1 = 2147483647")
        << tag + "# Range_X1 = 2\n# Range_Y1 = 2147483647\n" + data << false << 0 << 0 << 0.0
        << 0.0 << QString();
    QTest::newRow("one cell over the limit: 8192 x 8193")
        << tag + "# Range_X1 = 8191\n# Range_Y1 = 8192\n" + data << false << 0 << 0 << 0.0
        << 0.0 << QString();
    QTest::newRow("width beyond 32 bits: X0 = -2147483648, X1 = 2147483647")
        << tag + "# Range_X0 = -2147483648\n# Range_X1 = 2147483647\n# Range_Y1 = 1\n" + data
        << false << 0 << 0 << 0.0 << 0.0 << QString();
    QTest::newRow("width beyond 32 bits: X0 = -10, X1 = 2147483647")
        << tag + "# Range_X0 = -10\n# Range_X1 = 2147483647\n# Range_Y1 = 1\n" + data << false
        << 0 << 0 << 0.0 << 0.0 << QString();
    QTest::newRow("range beyond the int range reads as 0")
        << tag + "# Range_X1 = 2147483648\n# Range_Y1 = 1\n" + data << false << 0 << 0 << 0.0
        << 0.0 << QString();
}

void tst_CtImageReader::read()
{
    QFETCH(QByteArray, contents);
    QFETCH(bool, ok);

    const QString path = write(contents);
    QVERIFY(!path.isEmpty());
    Slice slice;
    QCOMPARE(slice.readCtImage(path), ok);
    if (!ok)
        return;

    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(double, min);
    QFETCH(double, max);
    QFETCH(QString, cells);
    QCOMPARE(slice.width, width);
    QCOMPARE(slice.height, height);
    QCOMPARE(slice.min, min);
    QCOMPARE(slice.max, max);
    QCOMPARE(slice.rows, grid(cells));
    QVERIFY(!slice.isImage);
}

void tst_CtImageReader::missingFile()
{
    Slice slice;
    QVERIFY(!slice.readCtImage(dir.filePath(QStringLiteral("no such file.dat"))));
}

void tst_CtImageReader::allocationFailure()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    QSKIP("The sanitizers reserve address space of their own.");
#endif
    // A grid at the cell limit (512 MiB) in a process that may grow by only
    // 64 MiB more: the file is given up, the program goes on.
    const QString path =
        write("#VELD-CTImg\n# Range_X1 = 8191\n# Range_Y1 = 8191\n0 0 1\n8191 8191 2\n");
    QVERIFY(!path.isEmpty());
    QFile status(QStringLiteral("/proc/self/status"));
    QVERIFY(status.open(QIODevice::ReadOnly));
    qint64 virtualSize = 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmSize:"))
            virtualSize = line.mid(7).trimmed().split(' ').first().toLongLong() * 1024;
    }
    QVERIFY(virtualSize > 0);

    rlimit old;
    QCOMPARE(getrlimit(RLIMIT_AS, &old), 0);
    rlimit tight = old;
    tight.rlim_cur = rlim_t(virtualSize + (qint64(64) << 20));
    QCOMPARE(setrlimit(RLIMIT_AS, &tight), 0);
    Slice slice;
    const bool ok = slice.readCtImage(path);
    QCOMPARE(setrlimit(RLIMIT_AS, &old), 0);

    QVERIFY(!ok);
    QVERIFY(slice.rows.isEmpty());
}

QTEST_GUILESS_MAIN(tst_CtImageReader)
#include "tst_ctimagereader.moc"
