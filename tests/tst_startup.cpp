#include "app/config.h"
#include "app/startup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

namespace {

// Texts laid out as a real argv carries them.
class ArgumentVector
{
public:
    explicit ArgumentVector(const QStringList &arguments)
    {
        for (const QString &argument : arguments)
            encoded.append(argument.toUtf8());
        for (QByteArray &bytes : encoded)
            pointers.push_back(bytes.data());
        pointers.push_back(nullptr);
    }
    int argc() const { return int(encoded.size()); }
    char **argv() { return pointers.data(); }

private:
    QList<QByteArray> encoded;
    std::vector<char *> pointers;
};

// Options first, then file entries given as key/value pairs, as start-up
// fills the store.
Config makeConfig(const QStringList &arguments, const QStringList &entries)
{
    ArgumentVector argumentVector(QStringList{"/opt/ctslab/ctslab"} + arguments);
    Config config;
    config.readCommandLine(argumentVector.argc(), argumentVector.argv());
    for (qsizetype i = 0; i + 1 < entries.size(); i += 2)
        config.setEntry(entries.at(i), entries.at(i + 1));
    return config;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFileInfo(path).dir().mkpath(".");
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Starts a program and collects its stderr lines up to the data-root line,
// which start-up writes before the event loop; then stops it.
QStringList startupLines(const QString &program, const QStringList &arguments,
                         const QString &workingDirectory)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setWorkingDirectory(workingDirectory);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("QT_FORCE_STDERR_LOGGING", "1");
    process.setProcessEnvironment(environment);
    process.setReadChannel(QProcess::StandardError);
    process.start();
    if (!process.waitForStarted())
        return {QStringLiteral("not started: ") + process.errorString()};

    QStringList lines;
    bool done = false;
    while (!done) {
        while (!done && process.canReadLine()) {
            lines.append(QString::fromUtf8(process.readLine()).chopped(1));
            done = lines.last().startsWith(QLatin1String("data root "));
        }
        // Only a guard against a program that hangs before that line.
        if (!done && !process.waitForReadyRead(60000)) {
            const QString tail = QString::fromUtf8(process.readAll());
            if (!tail.isEmpty())
                lines.append(tail.split(u'\n'));
            break;
        }
    }
    process.kill();
    process.waitForFinished();
    return lines;
}

} // namespace

class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void programBaseName_data();
    void programBaseName();
    void commandLineFiles_data();
    void commandLineFiles();
    void japaneseChosen_data();
    void japaneseChosen();
    void startedProgram_data();
    void startedProgram();
    void helpListsTheOptions_data();
    void helpListsTheOptions();
};

void tst_Startup::programBaseName_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("baseName");

    QTest::newRow("path") << QStringList{"/usr/bin/ctslab"} << "ctslab";
    QTest::newRow("suffix dropped") << QStringList{"C:/ct/Meke.exe"} << "Meke";
    QTest::newRow("everything from the first dot dropped") << QStringList{"dir/Mek.j.x"}
                                                           << "Mek";
    QTest::newRow("dot in the directory ignored") << QStringList{"/a.b/Mekj"} << "Mekj";
    QTest::newRow("empty program path") << QStringList{""} << "";
    QTest::newRow("no arguments") << QStringList() << "";
}

void tst_Startup::programBaseName()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, baseName);

    ArgumentVector argumentVector(arguments);
    QCOMPARE(::programBaseName(argumentVector.argc(), argumentVector.argv()), baseName);
}

void tst_Startup::commandLineFiles_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("files");

    QTest::newRow("relative names from the start folder")
            << QStringList{"-e", "scan", "../b/x.dcm"}
            << QStringList{"/home/u/scan", "/home/b/x.dcm"};
    QTest::newRow("values of -d, -c and -CONFIG are no files")
            << QStringList{"-d", "data", "-c", "my.cfg", "-CONFIG", "o.cfg", "/abs/one.png"}
            << QStringList{"/abs/one.png"};
    QTest::newRow("-D is no data root, so its word is a file")
            << QStringList{"-D", "x.png"} << QStringList{"/home/u/x.png"};
    QTest::newRow("-d without a value") << QStringList{"-d", "-e", "x.png"}
                                        << QStringList{"/home/u/x.png"};
    QTest::newRow("after --, names that begin with -")
            << QStringList{"--", "-slice.png", "-d"}
            << QStringList{"/home/u/-slice.png", "/home/u/-d"};
}

void tst_Startup::commandLineFiles()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, files);

    ArgumentVector argumentVector(QStringList{"/opt/ctslab/ctslab"} + arguments);
    QCOMPARE(::commandLineFiles(argumentVector.argc(), argumentVector.argv(), "/home/u"), files);
}

void tst_Startup::japaneseChosen_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("baseName");
    QTest::addColumn<bool>("japanese");

    const QStringList none;
    const QStringList english{"lang", "English"};
    QTest::newRow("nothing: Japanese") << none << none << "ctslab" << true;
    QTest::newRow("lang English") << none << english << "ctslab" << false;
    QTest::newRow("lang english, lower case") << none << QStringList{"lang", "english"}
                                              << "ctslab" << false;
    QTest::newRow("key LANG in upper case") << none << QStringList{"LANG", "ENGLISH"}
                                            << "ctslab" << false;
    QTest::newRow("lang Japanese") << none << QStringList{"lang", "Japanese"} << "ctslab"
                                   << true;
    QTest::newRow("lang other word") << none << QStringList{"lang", "French"} << "ctslab"
                                     << true;
    QTest::newRow("lang without value") << none << QStringList{"lang", ""} << "ctslab"
                                        << true;
    QTest::newRow("-e") << QStringList{"-e"} << none << "ctslab" << false;
    QTest::newRow("-j") << QStringList{"-j"} << english << "ctslab" << true;
    QTest::newRow("-e and -j: Japanese") << QStringList{"-e", "-j"} << none << "ctslab"
                                         << true;
    QTest::newRow("-E not honoured") << QStringList{"-E"} << none << "ctslab" << true;
    QTest::newRow("-e beats lang Japanese") << QStringList{"-e"}
                                            << QStringList{"lang", "Japanese"} << "ctslab"
                                            << false;
    QTest::newRow("file line -e acts like the option") << none << QStringList{"-e", ""}
                                                       << "ctslab" << false;
    QTest::newRow("Meke") << none << none << "Meke" << false;
    QTest::newRow("Meke with -j") << QStringList{"-j"} << none << "Meke" << true;
    QTest::newRow("Mekj beats lang English") << none << english << "Mekj" << true;
    QTest::newRow("Mekj with -e") << QStringList{"-e"} << none << "Mekj" << false;
    QTest::newRow("Mekx follows lang English") << none << english << "Mekx" << false;
    QTest::newRow("Mekx follows the default") << none << none << "Mekx" << true;
    QTest::newRow("Mekee: too long, follows lang") << none << english << "Mekee" << false;
    QTest::newRow("Mekej: too long, follows the default") << none << none << "Mekej" << true;
    QTest::newRow("meke: exact case only") << none << none << "meke" << true;
    QTest::newRow("MekE: exact case only") << none << none << "MekE" << true;
    QTest::newRow("Mek alone") << none << english << "Mek" << false;
}

void tst_Startup::japaneseChosen()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, entries);
    QFETCH(QString, baseName);
    QFETCH(bool, japanese);

    QCOMPARE(::japaneseChosen(makeConfig(arguments, entries), baseName), japanese);
}

void tst_Startup::startedProgram_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("copyName");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("files"); // name, content, name, content...
    // Lines expected in this order; "<dir>" stands for the program directory.
    QTest::addColumn<QStringList>("expected");

    const QString full = QStringLiteral(CTSLAB_PROGRAM);
    const QString lite = QStringLiteral(CTSLAB_LITE_PROGRAM);
    const QStringList none;
    const QStringList defaults{"read Ok false \"config.cfg\"",
                               "data root \"<dir>\" \"aa\""};

    QTest::newRow("ctslab, no file, no option") << full << "ctslab" << none << none << defaults;
    QTest::newRow("ctslab-lite, no file, no option")
            << lite << "ctslab-lite" << none << none << defaults;
    QTest::newRow("-platform offscreen is Qt's own")
            << full << "ctslab" << QStringList{"-platform", "offscreen"} << none << defaults;
    QTest::newRow("config.cfg with DataRoot")
            << full << "ctslab" << none << QStringList{"config.cfg", "DataRoot /data/ct\n"}
            << QStringList{"read Ok true \"config.cfg\"",
                           "data root \"/data/ct\" \"/data/ct\""};
    QTest::newRow("relative DataRoot unchanged")
            << lite << "ctslab-lite" << none << QStringList{"config.cfg", "DataRoot data\n"}
            << QStringList{"read Ok true \"config.cfg\"", "data root \"data\" \"data\""};
    QTest::newRow("-c") << full << "ctslab" << QStringList{"-c", "other.cfg"}
                        << QStringList{"other.cfg", "DataRoot /other\n", "config.cfg",
                                       "DataRoot /default\n"}
                        << QStringList{"read Ok true \"other.cfg\"",
                                       "data root \"/other\" \"/other\""};
    QTest::newRow("-config wins over -c")
            << full << "ctslab" << QStringList{"-config", "b.cfg", "-c", "a.cfg"}
            << QStringList{"a.cfg", "DataRoot /a\n", "b.cfg", "DataRoot /b\n"}
            << QStringList{"read Ok true \"b.cfg\"", "data root \"/b\" \"/b\""};
    QTest::newRow("-C honoured") << full << "ctslab" << QStringList{"-C", "a.cfg"}
                                 << QStringList{"a.cfg", "DataRoot /a\n"}
                                 << QStringList{"read Ok true \"a.cfg\"",
                                                "data root \"/a\" \"/a\""};
    QTest::newRow("-c naming a missing file")
            << full << "ctslab" << QStringList{"-c", "missing.cfg"} << none
            << QStringList{"Can't open config file :  \"missing.cfg\"",
                           "read Ok false \"missing.cfg\"", "data root \"<dir>\" \"aa\""};
    QTest::newRow("-d wins over DataRoot")
            << full << "ctslab" << QStringList{"-d", "/opt/slices"}
            << QStringList{"config.cfg", "DataRoot /data\n"}
            << QStringList{"read Ok true \"config.cfg\"",
                           "data root \"/opt/slices\" \"/data\""};
    QTest::newRow("-CONFIG in upper case, -c without a value")
            << full << "ctslab" << QStringList{"-c", "-CONFIG", "b.cfg"}
            << QStringList{"b.cfg", "DataRoot /b\n"}
            << QStringList{"read Ok true \"b.cfg\"", "data root \"/b\" \"/b\""};
    QTest::newRow("-c as the last argument: empty name")
            << full << "ctslab" << QStringList{"-c"} << none
            << QStringList{"Can't open config file :  \"\"", "read Ok false \"\"",
                           "data root \"<dir>\" \"aa\""};
    QTest::newRow("file line -d acts like the option")
            << full << "ctslab" << QStringList{"-d", "/opt/slices"}
            << QStringList{"config.cfg", "-d /from/file\n"}
            << QStringList{"read Ok true \"config.cfg\"",
                           "data root \"/from/file\" \"aa\""};
    QTest::newRow("-D not honoured, dataroot in other case ignored")
            << full << "ctslab" << QStringList{"-D", "/opt/slices"}
            << QStringList{"config.cfg", "dataroot /lower\n"} << QStringList{
                   "read Ok true \"config.cfg\"", "data root \"<dir>\" \"aa\""};
    QTest::newRow("-d as the last argument")
            << full << "ctslab" << QStringList{"-e", "-d"} << none
            << QStringList{"read Ok false \"config.cfg\"", "data root \"\" \"aa\""};
    QTest::newRow("INCLUDE chain from the program directory")
            << full << "ctslab" << none
            << QStringList{"config.cfg", "include conf/one.cfg\n",
                           "conf/one.cfg", "INCLUDE two.cfg\n",
                           "two.cfg", "DataRoot /from/two\n",
                           "conf/two.cfg", "DataRoot /decoy\n"}
            << QStringList{"read Ok true \"config.cfg\"",
                           "data root \"/from/two\" \"/from/two\""};
    QTest::newRow("INCLUDE cycle does not stop start-up")
            << full << "ctslab" << none
            << QStringList{"config.cfg", "DataRoot /x\nINCLUDE config.cfg\n"}
            << QStringList{"Config file is already being read, INCLUDE skipped : \"config.cfg\"",
                           "read Ok true \"config.cfg\"", "data root \"/x\" \"/x\""};
    QTest::newRow("sampling of no known kind")
            << lite << "ctslab-lite" << none << QStringList{"config.cfg", "sampling voxels\n"}
            << QStringList{"read Ok true \"config.cfg\"",
                           "Sampling is not auto, planes or cells, Automatic taken : \"voxels\"",
                           "data root \"<dir>\" \"aa\""};
    QTest::newRow("display settings of no known value, keys in any case")
            << full << "ctslab" << none
            << QStringList{"config.cfg", "keepaspect yes\nSIZEFOLLOWSDISPLAY 1\n"}
            << QStringList{"read Ok true \"config.cfg\"",
                           "KeepAspect is not on or off, off taken : \"yes\"",
                           "SizeFollowsDisplay is not on or off, off taken : \"1\"",
                           "data root \"<dir>\" \"aa\""};
    QTest::newRow("copy named Meke") << full << "Meke" << none << none << defaults;
    QTest::newRow("copy named Mekj") << full << "Mekj" << QStringList{"-e"} << none << defaults;
    QTest::newRow("copy named Mekx") << lite << "Mekx" << none
                                     << QStringList{"config.cfg", "lang English\n"}
                                     << QStringList{"read Ok true \"config.cfg\"",
                                                    "data root \"<dir>\" \"aa\""};
}

void tst_Startup::startedProgram()
{
    QFETCH(QString, program);
    QFETCH(QString, copyName);
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, files);
    QFETCH(QStringList, expected);

    QTemporaryDir programDir;
    QTemporaryDir startDir;
    QVERIFY(programDir.isValid() && startDir.isValid());
    const QString copy = programDir.filePath(copyName);
    QVERIFY(QFile::copy(program, copy));
    QVERIFY(QFileInfo(copy).isExecutable());
    for (qsizetype i = 0; i + 1 < files.size(); i += 2)
        QVERIFY(writeFile(programDir.filePath(files.at(i)), files.at(i + 1).toUtf8()));
    // A configuration in the start directory must not be the one read.
    QVERIFY(writeFile(startDir.filePath("config.cfg"), "DataRoot /wrong\n"));

    const QString dir = QFileInfo(programDir.path()).canonicalFilePath();
    const QStringList lines = startupLines(copy, arguments, startDir.path());
    QVERIFY2(!lines.isEmpty() && lines.last().startsWith("data root "),
             qPrintable(lines.join(u'\n')));

    qsizetype from = 0;
    for (QString line : expected) {
        line.replace("<dir>", dir);
        const qsizetype at = lines.indexOf(line, from);
        QVERIFY2(at >= 0, qPrintable("missing, in order: " + line + "\ngot:\n"
                                     + lines.join(u'\n')));
        from = at + 1;
    }
}

void tst_Startup::helpListsTheOptions_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("option");
    QTest::newRow("ctslab --help") << QStringLiteral(CTSLAB_PROGRAM) << "--help";
    QTest::newRow("ctslab-lite -h after other options")
            << QStringLiteral(CTSLAB_LITE_PROGRAM) << "-h";
}

// The option list comes before any window: with a display that cannot be
// opened, the program still prints it and ends well.
void tst_Startup::helpListsTheOptions()
{
    QFETCH(QString, program);
    QFETCH(QString, option);

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "no-such-platform");
    process.setProcessEnvironment(environment);
    process.start(program, { "-d", "/data", option, "-e" });
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    const QString help = QString::fromUtf8(process.readAllStandardOutput());
    for (const char *shown : { "Usage: ctslab", "-e ", "-j ", "-d DIR", "-c FILE", "--help",
                               "Sampling" })
        QVERIFY2(help.contains(QLatin1String(shown)), qPrintable(help));
}

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
