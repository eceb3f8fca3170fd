#include <QtTest>

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QSlider>
#include <QTemporaryDir>
#include <QTextStream>

#include <array>
#include <cmath>

#include "app/renderjob.h"
#include "app/renderoptions.h"
#include "panel/slicesctrl.h"
#include "tests/dicomfixtures.h"
#include "tests/slicefixtures.h"
#include "view/ctview.h"

// ctslab-render's options and driver, and the one thing it promises: the
// picture the window shows for the same state.
class tst_RenderJob : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void options_data();
    void options();
    void failures_data();
    void failures();
    void frameFileName_data();
    void frameFileName();
    void quarterTurnsAreExact_data();
    void quarterTurnsAreExact();
    void folderGivesItsFilesInNameOrder();
    void turntable();
    void cellShape_data();
    void cellShape();
    void progressOnlyWhenAsked();
    void loadReport_data();
    void loadReport();
    void windowMatchesCommandLine_data();
    void windowMatchesCommandLine();
    void seriesChoice();

private:
    struct Run
    {
        int status = -1;
        QString out;
        QString err;
    };
    static Run run(const QStringList &arguments, bool progress = false);
    static QString sample(const QString &name);
    static QString describe(const RenderOptions &options);
    QTemporaryDir dir;
};

void tst_RenderJob::initTestCase()
{
    qRegisterMetaType<Vec3>("Vec3");
    QVERIFY(dir.isValid());
    QVERIFY(QFileInfo(sample("torus")).isDir());
}

tst_RenderJob::Run tst_RenderJob::run(const QStringList &arguments, bool progress)
{
    Run result;
    QTextStream out(&result.out);
    QTextStream err(&result.err);
    result.status = runRender(arguments, out, err, progress);
    out.flush();
    err.flush();
    return result;
}

QString tst_RenderJob::sample(const QString &name)
{
    return QStringLiteral(CTSLAB_SAMPLE_DATA "/") + name;
}

// The options in one line, set by set, as the rows below expect them.
QString tst_RenderJob::describe(const RenderOptions &o)
{
    const auto end = [](const WindowEnd &e) {
        return QString::number(e.number) + (e.percent ? "%" : "");
    };
    QStringList parts{ QStringLiteral("%1 %2x%3 zoom %4 az %5 el %6 roll %7 centre %8,%9,%10 "
                                      "turn %11")
                               .arg(o.output)
                               .arg(o.width)
                               .arg(o.height)
                               .arg(o.zoom)
                               .arg(o.azimuth)
                               .arg(o.elevation)
                               .arg(o.roll)
                               .arg(o.centre.x)
                               .arg(o.centre.y)
                               .arg(o.centre.z)
                               .arg(o.turn) };
    for (const RenderSetOptions &s : o.sets) {
        QString set = s.paths.join(u' ') + " window " + end(s.low) + ':' + end(s.high);
        if (s.vColor.isValid())
            set += " v " + s.vColor.name();
        if (s.sColor.isValid())
            set += " s " + s.sColor.name();
        if (s.showSection)
            set += " section " + QString::number(s.slider);
        if (s.fixDir)
            set += " fixed";
        if (!s.showFrame)
            set += " no-frame";
        if (!s.showVolume)
            set += " no-volume";
        if (s.cubic || s.spaced) {
            set += s.cubic ? QStringLiteral(" cubic")
                           : QStringLiteral(" spacing %1,%2,%3")
                                     .arg(s.columnSpacing)
                                     .arg(s.rowSpacing)
                                     .arg(s.sliceSpacing);
        }
        set += std::array{ "", " planes", " cells" }[int(s.sampling)];
        parts << set;
    }
    return parts.join(" | ");
}

void tst_RenderJob::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");

    const QString plain = "o.png 256x256 zoom 1 az 0 el 0 roll 0 centre 0,0,0 turn 0";
    QTest::newRow("one folder, window defaults")
            << QStringList{ "-o", "o.png", "d" } << plain + " | d window 0%:100%";
    QTest::newRow("files before the first --set are the first set")
            << QStringList{ "a", "b", "--set", "c", "-o", "o.png" }
            << plain + " | a b window 0%:100% | c window 0%:100%";
    QTest::newRow("set options stay with their set")
            << QStringList{ "-o", "o.png", "--set", "a", "--window", "10%:90%", "--section",
                            "-40", "--fix-dir", "--set", "b", "--no-frame", "--no-volume",
                            "--volume-color", "teal", "--section-colour", "0,0,255" }
            << plain + " | a window 10%:90% section -40 fixed"
                     " | b window 0%:100% v #008080 s #0000ff no-frame no-volume";
    QTest::newRow("values and percentages mix in a window")
            << QStringList{ "-o", "o.png", "a", "--window", "20:75%" }
            << plain + " | a window 20:75%";
    QTest::newRow("negative numbers are values, not options")
            << QStringList{ "--azimuth", "-30", "--elevation=-12.5", "--roll", "-1e1", "--centre",
                            "-1,2.5,-3", "-o", "o.png", "a" }
            << "o.png 256x256 zoom 1 az -30 el -12.5 roll -10 centre -1,2.5,-3 turn 0"
               " | a window 0%:100%";
    QTest::newRow("the last global option counts, wherever it stands")
            << QStringList{ "--size", "64", "-o", "x.png", "a", "--set", "b", "--size",
                            "300x200", "--zoom", "0.5", "--turn", "36", "--output", "t.tif" }
            << "t.tif 300x200 zoom 0.5 az 0 el 0 roll 0 centre 0,0,0 turn 36"
               " | a window 0%:100% | b window 0%:100%";
    QTest::newRow("spacing, cubes and sampling stay with their set")
            << QStringList{ "-o", "o.png", "a", "--spacing", "0.7,0.7,2.5", "--sampling", "Cells",
                            "--set", "b", "--cubic", "--sampling", "planes", "--set", "c" }
            << plain + " | a window 0%:100% spacing 0.7,0.7,2.5 cells"
                       " | b window 0%:100% cubic planes | c window 0%:100%";
    QTest::newRow("--set=path, and after -- a --set is a file")
            << QStringList{ "-o", "o.png", "--set=a", "--", "--set", "-b" }
            << plain + " | a --set -b window 0%:100%";
}

void tst_RenderJob::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);

    RenderOptions options;
    QString message;
    QCOMPARE(parseRenderOptions(arguments, &options, &message), RenderRequest::Render);
    QCOMPARE(describe(options), expected);
}

void tst_RenderJob::failures_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");

    const QString torus = sample("torus");
    const QString out = dir.filePath("failed.png");
    const QString garbage = writeFixture(dir.filePath("garbage.dat"), "not a slice\n");
    QDir(dir.path()).mkpath("empty");
    const QString empty = dir.filePath("empty");

    QTest::newRow("missing file") << QStringList{ "-o", out, torus, "--set", "/no/such/x.png" }
                                  << 1 << "no such file or folder: /no/such/x.png";
    QTest::newRow("unreadable set") << QStringList{ "-o", out, garbage } << 1
                                    << "set 1: none of its 1 files could be read as a slice";
    QTest::newRow("empty folder") << QStringList{ "-o", out, empty } << 1
                                  << "set 1 holds no files";
    QTest::newRow("bad number") << QStringList{ "-o", out, "--zoom", "abc", torus } << 2
                                << "--zoom \"abc\": not a number";
    QTest::newRow("infinite number") << QStringList{ "-o", out, "--azimuth", "inf", torus }
                                     << 2 << "--azimuth \"inf\": not a number";
    QTest::newRow("zoom of 0") << QStringList{ "-o", out, "--zoom", "0", torus } << 2
                               << "--zoom \"0\": world units per pixel must be above 0";
    QTest::newRow("size of 0") << QStringList{ "-o", out, "--size", "0x256", torus } << 2
                               << "--size \"0x256\": a picture needs at least 1x1 pixels";
    QTest::newRow("size beyond int") << QStringList{ "-o", out, "--size", "99999999999", torus }
                                     << 2 << "--size \"99999999999\": not a size";
    QTest::newRow("size too large") << QStringList{ "-o", out, "--size", "40000x10", torus }
                                    << 2 << "at most 32767 pixels a side";
    QTest::newRow("section beyond the slider")
            << QStringList{ "-o", out, torus, "--section", "101" } << 2
            << "--section \"101\": not a whole number from -100 to 100";
    QTest::newRow("turn of 0") << QStringList{ "-o", out, "--turn", "0", torus } << 2
                               << "--turn \"0\": not a number of frames";
    QTest::newRow("bad colour") << QStringList{ "-o", out, torus, "--volume-colour", "nocolour" }
                                << 2 << "--volume-colour \"nocolour\": not a colour";
    QTest::newRow("bad window") << QStringList{ "-o", out, torus, "--window", "10%" } << 2
                                << "--window \"10%\": not a window";
    for (const char *spacing : { "1,0,2", "1,nan,2", "1,2" }) {
        QTest::addRow("spacing %s", spacing)
                << QStringList{ "-o", out, torus, "--spacing", spacing } << 2
                << QStringLiteral("--spacing \"%1\": not three millimetre spacings").arg(spacing);
    }
    QTest::newRow("cubes and a spacing")
            << QStringList{ "-o", out, torus, "--cubic", "--spacing", "1,1,1" } << 2
            << "--cubic and --spacing do not go together";
    QTest::newRow("bad sampling") << QStringList{ "-o", out, torus, "--sampling", "rays" } << 2
                                  << "--sampling \"rays\": not auto, planes or cells";
    QTest::newRow("set option before any set")
            << QStringList{ "-o", out, "--window", "1:2", "--set", torus } << 2
            << "set options come after the files of their set";
    QTest::newRow("--set without files") << QStringList{ "-o", out, torus, "--set" } << 2
                                         << "set 2 names no file or folder";
    QTest::newRow("no set") << QStringList{ "-o", out } << 2 << "no set";
    QTest::newRow("no output") << QStringList{ torus } << 2 << "no output file";
    QTest::newRow("unknown option") << QStringList{ "-o", out, "--spin", torus } << 2
                                    << "Unknown option 'spin'";
    QTest::newRow("missing value") << QStringList{ torus, "-o" } << 2 << "Missing value";
    QTest::newRow("format nobody writes") << QStringList{ "-o", dir.filePath("x.nope"), torus }
                                          << 2 << "cannot write pictures named";
    QTest::newRow("unwritable output")
            << QStringList{ "-o", dir.filePath("no/such/dir/x.png"), torus } << 1
            << "cannot write " + dir.filePath("no/such/dir/x.png");
}

void tst_RenderJob::failures()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, message);

    const Run result = run(arguments);
    QCOMPARE(result.status, status);
    QVERIFY2(result.err.startsWith("ctslab-render: "), qPrintable(result.err));
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
    QVERIFY(result.out.isEmpty());
    QVERIFY(!QFileInfo::exists(dir.filePath("failed.png")));
}

void tst_RenderJob::frameFileName_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("frame");
    QTest::addColumn<int>("frames");
    QTest::addColumn<QString>("name");

    QTest::newRow("no turn: the name itself") << "a/out.png" << 0 << 0 << "a/out.png";
    QTest::newRow("before the suffix") << "a/out.png" << 7 << 36 << "a/out_0007.png";
    QTest::newRow("only the last suffix") << "a.b/out.x.tif" << 0 << 1 << "a.b/out.x_0000.tif";
    QTest::newRow("more frames, more digits") << "t.jpg" << 12345 << 20000 << "t_12345.jpg";
    QTest::newRow("10000 frames still fit four") << "t.jpg" << 9999 << 10000 << "t_9999.jpg";
}

void tst_RenderJob::frameFileName()
{
    QFETCH(QString, output);
    QFETCH(int, frame);
    QFETCH(int, frames);
    QFETCH(QString, name);
    QCOMPARE(::frameFileName(output, frame, frames), name);
}

void tst_RenderJob::quarterTurnsAreExact_data()
{
    QTest::addColumn<QStringList>("angles");
    QTest::addColumn<int>("frame");
    QTest::addColumn<bool>("quarter");

    QTest::newRow("azimuth 90: the side view") << QStringList{ "--azimuth", "90" } << 0 << true;
    QTest::newRow("elevation 180: the flip") << QStringList{ "--elevation", "180" } << 0 << true;
    QTest::newRow("roll 270, azimuth -90, elevation 450")
            << QStringList{ "--roll", "270", "--azimuth", "-90", "--elevation", "450" } << 0
            << true;
    for (int frame : { 9, 18, 27 })
        QTest::addRow("frame %d of 36", frame) << QStringList{ "--turn", "36" } << frame << true;
    QTest::newRow("frame 5 of 10: the half turn") << QStringList{ "--turn", "10" } << 5 << true;
    QTest::newRow("frame 2 of 10: 72 degrees") << QStringList{ "--turn", "10" } << 2 << false;
    QTest::newRow("other angles") << QStringList{ "--azimuth", "30", "--elevation", "-20",
                                                  "--roll", "90.000001", "--turn", "36" }
                                  << 1 << false;
}

// Quarter turns come out exact, each axis along a world axis; any other
// angle gives the window's own doubles.
void tst_RenderJob::quarterTurnsAreExact()
{
    QFETCH(QStringList, angles);
    QFETCH(int, frame);
    QFETCH(bool, quarter);

    RenderOptions o;
    QString message;
    QCOMPARE(parseRenderOptions(angles + QStringList{ "-o", "o.png", "a" }, &o, &message),
             RenderRequest::Render);
    ViewState window;
    rotateAxes(window, window.ny, radians(o.azimuth));
    rotateAxes(window, window.nx, radians(o.elevation));
    rotateAxes(window, window.nz, radians(o.roll));
    if (frame > 0)
        rotateAxes(window, window.ny, turnAngle(frame, o.turn));
    const auto axes = [](const ViewState &v) {
        return std::array{ v.nx.x, v.nx.y, v.nx.z, v.ny.x, v.ny.y, v.ny.z, v.nz.x, v.nz.y, v.nz.z };
    };
    const auto got = axes(frameView(o, frame));
    const auto turned = axes(window);
    for (size_t i = 0; i < got.size(); ++i) {
        const double expected = quarter ? std::round(turned[i]) : turned[i];
        QVERIFY2(got[i] == expected, qPrintable(QString::number(got[i], 'g', 17)));
    }
}

void tst_RenderJob::folderGivesItsFilesInNameOrder()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    for (const char *name : { "s10.png", "s02.png", "s01.png", ".hidden" })
        QVERIFY(!writeFixture(folder.filePath(name), "x").isEmpty());
    QVERIFY(QDir(folder.path()).mkdir("sub.png"));
    const QString single = writeFixture(dir.filePath("single.dat"), "x");

    QString missing;
    const QStringList files = setFiles({ single, folder.path() }, &missing);
    QVERIFY(missing.isEmpty());
    QCOMPARE(files, (QStringList{ single, folder.filePath("s01.png"), folder.filePath("s02.png"),
                                  folder.filePath("s10.png") }));
}

void tst_RenderJob::turntable()
{
    const QString still = dir.filePath("still.png");
    const QString turn = dir.filePath("turn.png");
    const QStringList common{ "--size", "48x40", "--elevation", "20", sample("phantom") };
    QCOMPARE(run(QStringList{ "-o", still } + common).status, 0);
    const Run result = run(QStringList{ "-o", turn, "--turn", "4" } + common);
    QCOMPARE(result.status, 0);
    QVERIFY2(result.err.isEmpty(), qPrintable(result.err));

    QStringList frames;
    for (const QString &name : QDir(dir.path()).entryList({ "turn*" }, QDir::Files, QDir::Name))
        frames << name;
    QCOMPARE(frames, (QStringList{ "turn_0000.png", "turn_0001.png", "turn_0002.png",
                                   "turn_0003.png" }));
    // The first frame is the still view; the half turn shows another side.
    const QImage first(dir.filePath("turn_0000.png"));
    QCOMPARE(first.size(), QSize(48, 40));
    QCOMPARE(first, QImage(still));
    QVERIFY(QImage(dir.filePath("turn_0002.png")) != first);
}

void tst_RenderJob::cellShape_data()
{
    QTest::addColumn<QStringList>("first");
    QTest::addColumn<QStringList>("second");
    QTest::addColumn<bool>("same");
    QTest::addColumn<QString>("warning");

    const QStringList p{ sample("phantom") };
    // Five real CT slices whose files give cells 0.49 mm wide, 2.5 mm deep.
    QStringList ct;
    for (const char *name : { "2062", "2392", "2693", "3023", "3353" })
        ct << QFINDTESTDATA(QStringLiteral("data/dicom/ct5n/") + name);
    QTest::newRow("cubes of 1 mm") << p << p + QStringList{ "--spacing", "1,1,1" } << true << "";
    QTest::newRow("--cubic on pictures") << p << p + QStringList{ "--cubic" } << true << "";
    QTest::newRow("rows 2 apart") << p << p + QStringList{ "--spacing", "1,2,1" } << false << "";
    QTest::newRow("--cubic on DICOM") << ct + QStringList{ "--spacing", "1,1,1" }
                                      << ct + QStringList{ "--cubic" } << true << "";
    QTest::newRow("a spacing beyond doubles, said")
            << p << p + QStringList{ "--spacing", "1e-300,1e300,1" } << true
            << "set 1: the spacing 1e-300,1e+300,1 gives no shape that can be drawn";
}

void tst_RenderJob::cellShape()
{
    QFETCH(QStringList, first);
    QFETCH(QStringList, second);
    QFETCH(bool, same);
    QFETCH(QString, warning);

    const QString one = dir.filePath("first.png");
    const QString two = dir.filePath("second.png");
    const QStringList view{ "--size", "48x40", "--azimuth", "35", "--elevation", "25" };
    QCOMPARE(run(QStringList{ "-o", one } + view + first).status, 0);
    const Run result = run(QStringList{ "-o", two } + view + second);
    QCOMPARE(result.status, 0);
    QVERIFY2(warning.isEmpty() ? result.err.isEmpty() : result.err.contains(warning),
             qPrintable(result.err));
    QCOMPARE(QImage(two) == QImage(one), same);
}

void tst_RenderJob::progressOnlyWhenAsked()
{
    const QStringList arguments{ "-o", dir.filePath("progress.png"), "--size", "16",
                                 sample("phantom") };
    QCOMPARE(run(arguments).err, QString());
    const Run shown = run(arguments, true);
    QCOMPARE(shown.status, 0);
    // One line redrawn in place, ended once all is done.
    QVERIFY2(shown.err.startsWith("\r[") && shown.err.count(u'\n') == 1
                     && shown.err.contains(QRegularExpression("\r\\[#+\\] 100% done *\n$")),
             qPrintable(shown.err));
    QVERIFY(shown.err.contains("loading set 1"));
}

void tst_RenderJob::loadReport_data()
{
    QTest::addColumn<QStringList>("options"); // after the files
    QTest::addColumn<QStringList>("lines");   // whole lines of standard error
    QTest::addColumn<bool>("named");          // each file left out named

    const QStringList summary{
        "ctslab-render: set 1: 3 of 7 files taken",
        "ctslab-render: set 1: 2 left out: flat, every value the same",
        "ctslab-render: set 1: 1 left out: of another size than the set's 16 x 16",
        "ctslab-render: set 1: 1 left out: not a picture, text slice or DICOM file",
    };
    QTest::newRow("one line per reason") << QStringList() << summary << false;
    QTest::newRow("--verbose names the files") << QStringList{ "--verbose" } << summary << true;
    QTest::newRow("a window turned upside down still shows")
            << QStringList{ "--window", "200:50" } << summary << false;
    QTest::newRow("a window above every value")
            << QStringList{ "--window", "300:400" }
            << (QStringList(summary) << "ctslab-render: set 1: the window 300:400 shows none of "
                                        "its values, which run from 0 to 255; its volume stays "
                                        "blank")
            << false;
}

// What a load leaves out is counted by reason; a window that can show
// nothing of the set says so.
void tst_RenderJob::loadReport()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, lines);
    QFETCH(bool, named);

    QTemporaryDir folder;
    QImage grey(16, 16, QImage::Format_Grayscale8);
    for (int k = 0; k < 3; ++k) {
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                grey.scanLine(y)[x] = uchar(std::min(255, (x + y + k) * 9));
        grey.scanLine(0)[0] = 0;
        QVERIFY(grey.save(folder.filePath(QStringLiteral("g%1.png").arg(k))));
    }
    for (int k = 0; k < 2; ++k) {
        grey.fill(7 + k);
        QVERIFY(grey.save(folder.filePath(QStringLiteral("f%1.png").arg(k))));
    }
    QVERIFY(grey.copy(0, 0, 8, 8).save(folder.filePath("s.png")));
    QVERIFY(!writeFixture(folder.filePath("x.dat"), "not a slice\n").isEmpty());

    const Run result = run(QStringList{ "-o", dir.filePath("report.png"), folder.path() }
                           + options);
    QCOMPARE(result.status, 0);
    const QStringList said = result.err.split(u'\n', Qt::SkipEmptyParts);
    for (const QString &line : lines)
        QVERIFY2(said.contains(line), qPrintable(result.err));
    QCOMPARE(result.err.contains(folder.filePath("f1.png") + ": flat: every value is 8"), named);
    QCOMPARE(said.size(), lines.size() + (named ? 4 : 0));
}

void tst_RenderJob::windowMatchesCommandLine_data()
{
    QTest::addColumn<int>("frame"); // of a turn of 8; -1: no turn
    QTest::addColumn<QString>("second"); // the second set's sample
    QTest::newRow("one picture") << -1 << "torus";
    QTest::newRow("frame 3 of a turn, sections fixed") << 3 << "torus";
    // Drawn at its true shape and, automatically, by cells.
    QTest::newRow("a DICOM series second") << -1 << "dicom";
}

// Two sample sets in the window, turned, cut and windowed by hand, against
// ctslab-render told the same.
void tst_RenderJob::windowMatchesCommandLine()
{
    QFETCH(int, frame);
    QFETCH(QString, second);

    CtView view(sample(""));
    view.findChild<QLineEdit *>("imgPixWidth_")->setText("200");
    view.findChild<QLineEdit *>("imgPixHeight_")->setText("160");
    view.findChild<QCheckBox *>("linkCSection_")->setChecked(false);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.addSliceSet();
    SlicesCtrl *a = view.sCtrls.at(0);
    SlicesCtrl *b = view.sCtrls.at(1);
    const std::pair<SlicesCtrl *, QString> loads[] = { { a, QStringLiteral("phantom") },
                                                       { b, second } };
    for (const auto &[panel, set] : loads) {
        QString missing;
        QMetaObject::invokeMethod(panel, "selectFiles");
        emit panel->fileDialog->filesSelected(setFiles({ sample(set) }, &missing));
        // The load is in once the panel has taken the set's range; its
        // repaint signal alone does not say so, as a field losing the focus
        // to the dialog repaints too.
        QTRY_VERIFY_WITH_TIMEOUT(panel->maxV() > 0, 60000);
        panel->fileDialog->close();
    }
    const auto type = [](SlicesCtrl *panel, const char *field, const QString &text) {
        auto *edit = panel->findChild<QLineEdit *>(field);
        edit->setText(text);
        emit edit->editingFinished();
    };
    type(a, "minThPC_", "10");
    type(a, "maxThPC_", "90");
    a->showCSection()->setChecked(true);
    a->cSlider()->setValue(20);
    type(b, "minV_", "20");
    type(b, "maxV_", "200");
    b->showFrame()->setChecked(false);
    b->setVColor(QColor(200, 80, 0));
    b->showCSection()->setChecked(true);
    b->cSlider()->setValue(-30);

    QMetaObject::invokeMethod(&view, "wheelMovedOnDataDisp", Q_ARG(int, 1));
    view.centre = Vec3{ 3.5, -7.25, 2 };
    QMetaObject::invokeMethod(&view, "updateNvs", Q_ARG(Vec3, view.ny),
                              Q_ARG(double, radians(30)));
    QMetaObject::invokeMethod(&view, "updateNvs", Q_ARG(Vec3, view.nx),
                              Q_ARG(double, radians(-20)));
    QMetaObject::invokeMethod(&view, "updateNvs", Q_ARG(Vec3, view.nz),
                              Q_ARG(double, radians(15)));
    QStringList turn;
    if (frame >= 0) {
        a->csFixDir()->setChecked(true);
        b->csFixDir()->setChecked(true);
        QMetaObject::invokeMethod(&view, "updateNvs", Q_ARG(Vec3, view.ny),
                                  Q_ARG(double, turnAngle(frame, 8)));
        turn = QStringList{ "--turn", "8", "--fix-dir" };
    }
    const QImage shown = view.projImage.convertToFormat(QImage::Format_RGB32);

    const QString out = dir.filePath("window.png");
    const Run result = run(QStringList{ "-o", out, "--size", "200x160", "--zoom", "0.9",
                                        "--centre", "3.5,-7.25,2", "--azimuth", "30",
                                        "--elevation", "-20", "--roll", "15", sample("phantom"),
                                        "--window", "10%:90%", "--section", "20" }
                           + turn
                           + QStringList{ "--set", sample(second), "--window", "20:200",
                                          "--no-frame", "--volume-colour", "200,80,0",
                                          "--section", "-30" }
                           + turn.mid(2));
    QVERIFY2(result.status == 0, qPrintable(result.err));
    const QImage written = QImage(frame >= 0 ? ::frameFileName(out, frame, 8) : out)
                                   .convertToFormat(QImage::Format_RGB32);

    QCOMPARE(written.size(), shown.size());
    int coloured = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            QVERIFY2(written.pixel(x, y) == shown.pixel(x, y),
                     qPrintable(QStringLiteral("pixel %1,%2: %3 written, %4 shown")
                                        .arg(x)
                                        .arg(y)
                                        .arg(written.pixel(x, y), 0, 16)
                                        .arg(shown.pixel(x, y), 0, 16)));
            coloured += shown.pixel(x, y) != qRgb(255, 255, 255);
        }
    }
    // Both sets show, so the comparison is not one of two blank pictures.
    QVERIFY(coloured > 2000);
}

// Of two DICOM series in one folder the larger is drawn unless --series
// names the other, by its place in --list-series or by its UID.
void tst_RenderJob::seriesChoice()
{
    QTemporaryDir study;
    for (int k = 0; k < 5; ++k) {
        DicomFixture image;
        image.series = k < 2 ? QStringLiteral("1.2.3.1") : QStringLiteral("1.2.3.2");
        image.position = QStringLiteral("0\\0\\%1").arg(k);
        // The smaller series is the brighter, so the pictures tell them apart.
        image.raw = { 0, 1, 2, 3, 4, k < 2 ? 900 : 9 };
        QVERIFY(writeDicom(study.filePath(QStringLiteral("im%1").arg(k)), image));
    }
    const Run list = run({ "--list-series", study.path() });
    QCOMPARE(list.status, int(RenderSucceeded));
    const QStringList lines = list.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines.at(1).contains(QLatin1String("3 images")) && lines.at(1).endsWith("1.2.3.2"));
    QVERIFY(lines.at(2).contains(QLatin1String("2 images")) && lines.at(2).endsWith("1.2.3.1"));

    const auto picture = [this, &study](const QStringList &choice, int *status) {
        const QString out = dir.filePath(QStringLiteral("series.png"));
        QFile::remove(out);
        *status = run(QStringList{ "--size", "32", "--zoom", "0.1", "-o", out, study.path() }
                      + choice)
                          .status;
        return QImage(out);
    };
    int status = -1;
    const QImage largest = picture({}, &status);
    QCOMPARE(status, int(RenderSucceeded));
    QCOMPARE(picture({ "--series", "1" }, &status), largest);
    const QImage other = picture({ "--series", "2" }, &status);
    QCOMPARE(status, int(RenderSucceeded));
    QVERIFY(other != largest);
    QCOMPARE(picture({ "--series", "1.2.3.1" }, &status), other);
    QVERIFY(picture({ "--series", "3" }, &status).isNull());
    QCOMPARE(status, int(RenderFailed));
}

QTEST_MAIN(tst_RenderJob)
#include "tst_renderjob.moc"
