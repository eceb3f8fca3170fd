#include "slices/slice.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "tests/slicefixtures.h"

#include <cfloat>

class tst_TableReader : public QObject
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
};

QString tst_TableReader::write(const QByteArray &contents)
{
    return writeFixture(dir.filePath(QStringLiteral("table%1.dat").arg(++fileCount)), contents);
}

void tst_TableReader::read_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<QString>("cells");

    const QByteArray tag = "## 240301\n";
    const QByteArray sizes = "# X-NUM 4\n# Y-NUM 3\n";
    const QByteArray head = tag + sizes;
    const QString cells = "1.5 0 0|0 2.5 0";

    QTest::newRow("commas: 3 x 2 grid from (10, 20)")
        << head + "10,20,1.5\n11,21,2.5\n" << true << 3 << 2 << 1.5 << 2.5 << cells;
    QTest::newRow("blanks") << head + "10 20 1.5\n11 21 2.5\n" << true << 3 << 2 << 1.5 << 2.5
                            << cells;
    QTest::newRow("comma with blanks around it")
        << head + "10 , 20 , 1.5\n11 ,21,  2.5\n" << true << 3 << 2 << 1.5 << 2.5 << cells;
    QTest::newRow("CRLF, BOM and tabs")
        << QByteArray("\xEF\xBB\xBF## 240301\r\n#\tX-NUM\t4\r\n#,Y-NUM,3\r\n10\t20\t1.5\r\n"
                      " 11,\t21 ,2.5 \r\n")
        << true << 3 << 2 << 1.5 << 2.5 << cells;
    QTest::newRow("tag followed by more text")
        << "## 240301 exported 2024-03-01\n" + sizes + "10,20,1.5\n11,21,2.5\n" << true << 3 << 2
        << 1.5 << 2.5 << cells;
    QTest::newRow("Format1 and Format2 lines change nothing")
        << tag + "# Format1 : XYV\n" + sizes
               + "# Format2 : SPACE-Separated\n10,20,1.5\n11,21,2.5\n"
        << true << 3 << 2 << 1.5 << 2.5 << cells;
    QTest::newRow("comments anywhere, # running on into the field")
        << head + "#comment\n10,20,1.5\n# X-NUM\n#X 7 8 9\n11,21,2.5\n" << true << 3 << 2 << 1.5
        << 2.5 << cells;
    QTest::newRow("a size line whose first field runs on")
        << tag + "#size X-NUM 4\n#size Y-NUM 3\n10,20,1.5\n11,21,2.5\n" << true << 3 << 2 << 1.5
        << 2.5 << cells;
    QTest::newRow("fields beyond the third ignored")
        << head + "10,20,1.5,99\n11,21,2.5,x,y\n" << true << 3 << 2 << 1.5 << 2.5 << cells;
    QTest::newRow("exponent notation")
        << head + "0,0,1.5e2\n1,0,-2E-1\n2,1,3e0\n" << true << 3 << 2 << -0.2 << 150.0
        << "150 -0.2 0|0 0 3";
    QTest::newRow("nan, inf, 1e999 and text read as 0.0")
        << head + "0 0 nan\n1 0 inf\n2 0 -1e999\n0 1 -inf\n1 1 abc\n2 1 7.5\n" << true << 3 << 2
        << 0.0 << 7.5 << "0 0 0|0 0 7.5";
    QTest::newRow("size lines after the data leave the grid")
        << head + "10,20,1.5\n# X-NUM 100\n# Y-NUM 0\n11,21,2.5\n" << true << 3 << 2 << 1.5
        << 2.5 << cells;
    QTest::newRow("data lines before the sizes skipped")
        << tag + "5,5,9\n# X-NUM 4\n7,7,-9\n# Y-NUM 3\n10,20,1.5\n11,21,2.5\n" << true << 3 << 2
        << 1.5 << 2.5 << cells;
    QTest::newRow("all values equal: min = max")
        << head + "10,20,3\n12,21,3\n" << true << 3 << 2 << 3.0 << 3.0 << "3 0 0|0 0 3";
    QTest::newRow("repeated cell keeps the last value, all count in the range")
        << head + "10,20,9\n10,20,1\n11,20,4\n" << true << 3 << 2 << 1.0 << 9.0 << "1 4 0|0 0 0";
    QTest::newRow("full 3 x 3 table: last column and row dropped")
        << tag + "# X-NUM 3\n# Y-NUM 3\n0,0,1\n1,0,2\n2,0,3\n0,1,4\n1,1,5\n2,1,6\n"
               + "0,2,7\n1,2,8\n2,2,9\n"
        << true << 2 << 2 << 1.0 << 5.0 << "1 2|4 5";
    QTest::newRow("empty first data line: origin (0, 0)")
        << head + "\n0,1,2.5\n2,0,1\n" << true << 3 << 2 << 1.0 << 2.5 << "0 0 1|2.5 0 0";
    QTest::newRow("one-field first data line: origin row 0")
        << head + "10\n10,1,2.5\n" << true << 3 << 2 << 2.5 << 2.5 << "0 0 0|2.5 0 0";
    QTest::newRow("coordinates minus the origin beyond 32 bits")
        << head + "-2147483648,0,1\n2147483647,0,5\n-2147483647,1,2\n" << true << 3 << 2 << 1.0
        << 2.0 << "1 0 0|0 2 0";
    QTest::newRow("values outside the grid dropped")
        << head + "10,20,1.5\n9,20,100\n13,20,100\n10,19,-100\n10,22,-100\n11,21,2.5\n" << true
        << 3 << 2 << 1.5 << 2.5 << cells;

    QTest::newRow("tag without its blank")
        << "##240301\n" + sizes + "10,20,1.5\n" << false << 0 << 0 << 0.0 << 0.0 << QString();
    QTest::newRow("blank before the tag")
        << " " + head + "10,20,1.5\n" << false << 0 << 0 << 0.0 << 0.0 << QString();
    QTest::newRow("empty file") << QByteArray() << false << 0 << 0 << 0.0 << 0.0 << QString();
    QTest::newRow("X-NUM 1 gives width 0")
        << tag + "# X-NUM 1\n# Y-NUM 3\n10,20,1.5\n" << false << 0 << 0 << 0.0 << 0.0
        << QString();
    QTest::newRow("size line of four fields ignored")
        << tag + "# X-NUM 4 columns\n# Y-NUM 3\n10,20,1.5\n" << false << 0 << 0 << 0.0 << 0.0
        << QString();
    QTest::newRow("no Y-NUM line") << tag + "# X-NUM 4\n10,20,1.5\n" << false << 0 << 0 << 0.0
                                   << 0.0 << QString();
    QTest::newRow("size 4.0 is no decimal integer")
        << tag + "# X-NUM 4.0\n# Y-NUM 3\n10,20,1.5\n" << false << 0 << 0 << 0.0 << 0.0
        << QString();
    QTest::newRow("huge header: X-NUM 2147483647")
        << tag + "# X-NUM 2147483647\n# Y-NUM 3\n10,20,1.5\n" << false << 0 << 0 << 0.0 << 0.0
        << QString();
    QTest::newRow("X-NUM -2147483648")
        << tag + "# X-NUM -2147483648\n# Y-NUM 3\n10,20,1.5\n" << false << 0 << 0 << 0.0 << 0.0
        << QString();
    QTest::newRow("one cell over the limit: 8192 x 8193")
        << tag + "# X-NUM 8193\n# Y-NUM 8194\n10,20,1.5\n" << false << 0 << 0 << 0.0 << 0.0
        << QString();
}

void tst_TableReader::read()
{
    QFETCH(QByteArray, contents);
    QFETCH(bool, ok);

    const QString path = write(contents);
    QVERIFY(!path.isEmpty());
    Slice slice;
    QCOMPARE(slice.readTable(path), ok);
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
}

void tst_TableReader::missingFile()
{
    Slice slice;
    QVERIFY(!slice.readTable(dir.filePath(QStringLiteral("no such file.dat"))));
}

QTEST_GUILESS_MAIN(tst_TableReader)
#include "tst_tablereader.moc"
