#include "app/config.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

namespace {

// Feeds a list of texts to readCommandLine as a real argv would carry them.
void readArguments(Config &config, const QStringList &arguments)
{
    QList<QByteArray> encoded;
    for (const QString &argument : arguments)
        encoded.append(argument.toUtf8());
    std::vector<char *> argv;
    for (QByteArray &bytes : encoded)
        argv.push_back(bytes.data());
    argv.push_back(nullptr);
    config.readCommandLine(int(encoded.size()), argv.data());
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

const char *cantOpen(const char *name)
{
    static QByteArray message;
    message = QByteArray("Can't open config file :  \"") + name + '"';
    return message.constData();
}

const char *cycleSkipped(const char *name)
{
    static QByteArray message;
    message = QByteArray("Config file is already being read, INCLUDE skipped : \"") + name + '"';
    return message.constData();
}

} // namespace

class tst_Config : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void readCommandLine_data();
    void readCommandLine();
    void readCommandLineAbsentArgument();
    void setEntry_data();
    void setEntry();
    void lookups();
    void readFile_data();
    void readFile();
    void readFileUnbalancedQuotes();
    void readFileEncodings_data();
    void readFileEncodings();
    void readFileSymlinkCycle();
    void readFileDepthBound();
    void fileEntriesReplaceOptions();

private:
    QString startDirectory;
};

void tst_Config::initTestCase()
{
    // Relative names, included ones too, resolve against the working
    // directory, which the program sets to its own directory.
    startDirectory = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QStringLiteral(CTSLAB_TEST_DATA "/config")));
}

void tst_Config::cleanupTestCase()
{
    QDir::setCurrent(startDirectory);
}

void tst_Config::readCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("values");

    QTest::newRow("program path only") << QStringList{"/opt/ctslab"} << QStringList()
                                       << QStringList();
    QTest::newRow("option with value, option without")
            << QStringList{"p", "-d", "/data", "-j"} << QStringList{"-d", "-j"}
            << QStringList{"/data", ""};
    QTest::newRow("option as last argument") << QStringList{"p", "-d"} << QStringList{"-d"}
                                             << QStringList{""};
    QTest::newRow("value beginning with dash is an option")
            << QStringList{"p", "-c", "-config", "b.cfg"} << QStringList{"-c", "-config"}
            << QStringList{"", "b.cfg"};
    QTest::newRow("stray words ignored") << QStringList{"p", "word", "-e", "x", "y"}
                                         << QStringList{"-e"} << QStringList{"x"};
    QTest::newRow("option twice keeps the last value")
            << QStringList{"p", "-d", "a", "-d", "b"} << QStringList{"-d"} << QStringList{"b"};
    QTest::newRow("value with spaces in one argument") << QStringList{"p", "-d", "a b"}
                                                       << QStringList{"-d"}
                                                       << QStringList{"a b"};
    QTest::newRow("UTF-8 decoded") << QStringList{"p", "-d", "/データ"} << QStringList{"-d"}
                                   << QStringList{"/データ"};
    QTest::newRow("letter case kept in the exact table")
            << QStringList{"p", "-c", "a", "-C", "b"} << QStringList{"-c", "-C"}
            << QStringList{"a", "b"};
}

void tst_Config::readCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, values);

    Config config;
    readArguments(config, arguments);
    QCOMPARE(config.keys(), keys);
    QCOMPARE(config.values(), values);
}

void tst_Config::readCommandLineAbsentArgument()
{
    // A null entry counts as an empty argument.
    char program[] = "p";
    char option[] = "-d";
    char *argv[] = {program, option, nullptr, nullptr};
    Config config;
    config.readCommandLine(3, argv);
    QCOMPARE(config.keys(), QStringList{"-d"});
    QCOMPARE(config.values(), QStringList{""});

    Config none;
    none.readCommandLine(-1, argv);
    none.readCommandLine(2, nullptr);
    QVERIFY(none.keys().isEmpty());
}

void tst_Config::setEntry_data()
{
    QTest::addColumn<QStringList>("pairs");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QStringList>("keysNoCase");
    QTest::addColumn<QStringList>("valuesNoCase");

    QTest::newRow("replaced key keeps its place")
            << QStringList{"a", "1", "b", "2", "a", "3"} << QStringList{"a", "b"}
            << QStringList{"3", "2"} << QStringList{"A", "B"} << QStringList{"3", "2"};
    QTest::newRow("keys differing in case: two exact, one any-case")
            << QStringList{"DataRoot", "x", "dataroot", "y"}
            << QStringList{"DataRoot", "dataroot"} << QStringList{"x", "y"}
            << QStringList{"DATAROOT"} << QStringList{"y"};
    QTest::newRow("full Unicode upper-casing") << QStringList{"straße", "v"}
                                               << QStringList{"straße"} << QStringList{"v"}
                                               << QStringList{"STRASSE"} << QStringList{"v"};
    QTest::newRow("empty key and value") << QStringList{"", ""} << QStringList{""}
                                         << QStringList{""} << QStringList{""}
                                         << QStringList{""};
}

void tst_Config::setEntry()
{
    QFETCH(QStringList, pairs);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, values);
    QFETCH(QStringList, keysNoCase);
    QFETCH(QStringList, valuesNoCase);

    Config config;
    for (qsizetype i = 0; i + 1 < pairs.size(); i += 2)
        config.setEntry(pairs.at(i), pairs.at(i + 1));
    QCOMPARE(config.keys(), keys);
    QCOMPARE(config.values(), values);
    QCOMPARE(config.keysNoCase(), keysNoCase);
    QCOMPARE(config.valuesNoCase(), valuesNoCase);
}

void tst_Config::lookups()
{
    Config config;
    config.setEntry("DataRoot", "/a");
    config.setEntry("lang", "");

    QCOMPARE(config.getValue("DataRoot", "def"), QString("/a"));
    QCOMPARE(config.getValue("dataroot", "def"), QString("def"));
    QCOMPARE(config.getValueNoCase("dATAROOT", "def"), QString("/a"));
    QVERIFY(config.hasKey("lang"));
    QVERIFY(!config.hasKey("LANG"));
    QVERIFY(config.hasKeyNoCase("LaNg"));
    // Present with an empty value is not absent.
    QCOMPARE(config.getValueNoCase("LANG", "def"), QString());
    QVERIFY(!config.hasKeyNoCase("-d"));
    QCOMPARE(config.getValueNoCase("-d", "def"), QString("def"));
}

void tst_Config::readFile_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("opened");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QStringList>("messages");

    QTest::newRow("quoting, comments, apostrophes, key only")
            << "basic.cfg" << true
            << QStringList{"DataRoot", "lang", "onlykey", "", "Title", "Apostrophe"}
            << QStringList{"/data/ct", "English", "", "empty-key", "two words # not a comment",
                           "'it#s'"}
            << QStringList();
    QTest::newRow("empty file") << "empty.cfg" << true << QStringList() << QStringList()
                                << QStringList();
    QTest::newRow("comments and blank lines only") << "comments_only.cfg" << true
                                                   << QStringList() << QStringList()
                                                   << QStringList();
    QTest::newRow("missing file") << "missing.cfg" << false << QStringList() << QStringList()
                                  << QStringList{cantOpen("missing.cfg")};
    QTest::newRow("empty file name") << "" << false << QStringList() << QStringList()
                                     << QStringList{cantOpen("")};
    QTest::newRow("a directory is not a file") << "sub" << false << QStringList()
                                               << QStringList() << QStringList{cantOpen("sub")};
    QTest::newRow("lower-case include, resolved against the working directory")
            << "include_main.cfg" << true << QStringList{"first", "leaf", "fromsub", "after"}
            << QStringList{"replaced", "4", "2", "3"} << QStringList();
    QTest::newRow("include of a name with spaces: quoted reads, bare takes one word")
            << "include_spaces.cfg" << true << QStringList{"spaced"} << QStringList{"yes"}
            << QStringList{cantOpen("name")};
    QTest::newRow("include without a name") << "include_empty.cfg" << true
                                            << QStringList{"before", "after"}
                                            << QStringList{"1", "2"}
                                            << QStringList{cantOpen("")};
    QTest::newRow("file including itself") << "cycle_self.cfg" << true
                                           << QStringList{"before", "after"}
                                           << QStringList{"1", "2"}
                                           << QStringList{cycleSkipped("cycle_self.cfg")};
    QTest::newRow("cycle through another file, and through a dotted path")
            << "cycle_a.cfg" << true << QStringList{"a", "b", "b_after", "a_after"}
            << QStringList{"1", "1", "1", "1"}
            << QStringList{cycleSkipped("cycle_a.cfg"), cycleSkipped("./sub/../cycle_b.cfg")};
    QTest::newRow("same file included twice, not a cycle: read twice")
            << "diamond_top.cfg" << true << QStringList{"count"} << QStringList{"leaf"}
            << QStringList();
}

void tst_Config::readFile()
{
    QFETCH(QString, fileName);
    QFETCH(bool, opened);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, values);
    QFETCH(QStringList, messages);

    for (const QString &message : messages)
        QTest::ignoreMessage(QtDebugMsg, qPrintable(message));
    Config config;
    QCOMPARE(config.readFile(fileName), opened);
    QCOMPARE(config.keys(), keys);
    QCOMPARE(config.values(), values);
}

void tst_Config::readFileUnbalancedQuotes()
{
    // The message about a value shows the rest after the key.
    QTest::ignoreMessage(QtDebugMsg, "\"In a line [ \\\"unclosed value] item is started from "
                                     "quote but not ended by quote\"");
    QTest::ignoreMessage(QtDebugMsg, "\"In a line [stray\\\" value] item is started from not "
                                     "quote but ended by quote\"");
    Config config;
    QVERIFY(config.readFile("unbalanced.cfg"));
    QCOMPARE(config.keys(), (QStringList{"key", "stray\""}));
    QCOMPARE(config.values(), (QStringList{"unclosed value", "value"}));
}

void tst_Config::readFileEncodings_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("values");

    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF" "DataRoot /a\nlang English\n")
                                     << QStringList{"DataRoot", "lang"}
                                     << QStringList{"/a", "English"};
    QTest::newRow("CRLF line ends") << QByteArray("DataRoot /a\r\nonlykey\r\n\r\nlang \"x\"\r\n")
                                    << QStringList{"DataRoot", "onlykey", "lang"}
                                    << QStringList{"/a", "", "x"};
    QTest::newRow("no line end at the end") << QByteArray("a 1\nb 2")
                                            << QStringList{"a", "b"} << QStringList{"1", "2"};
    QTest::newRow("UTF-8 key and value") << QByteArray("言語 日本語\n")
                                         << QStringList{"言語"} << QStringList{"日本語"};
    QTest::newRow("line of only quotes") << QByteArray("\"\"\"\"\"\"\n")
                                         << QStringList{""} << QStringList{""};
    QTest::newRow("very long value") << QByteArray("k ") + QByteArray(4 << 20, 'v') + "\nz 1\n"
                                     << QStringList{"k", "z"}
                                     << QStringList{QString(4 << 20, u'v'), "1"};
}

void tst_Config::readFileEncodings()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, values);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("written.cfg");
    QVERIFY(writeFile(path, bytes));
    Config config;
    QVERIFY(config.readFile(path));
    QCOMPARE(config.keys(), keys);
    QCOMPARE(config.values(), values);
}

void tst_Config::readFileSymlinkCycle()
{
    // A link back to the file being read is the same file under another name.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString real = dir.filePath("real.cfg");
    const QString alias = dir.filePath("alias.cfg");
    QVERIFY(writeFile(real, "x 1\nINCLUDE " + alias.toUtf8() + "\ny 2\n"));
    QVERIFY(QFile::link(real, alias));

    QTest::ignoreMessage(QtDebugMsg, cycleSkipped(alias.toUtf8().constData()));
    Config config;
    QVERIFY(config.readFile(alias));
    QCOMPARE(config.keys(), (QStringList{"x", "y"}));
}

void tst_Config::readFileDepthBound()
{
    // A chain of distinct files, each including the next, deeper than the bound.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const int depth = Config::maxIncludeDepth + 6;
    const auto name = [&dir](int level) {
        return dir.filePath(QStringLiteral("f%1.cfg").arg(level));
    };
    for (int level = 0; level < depth; ++level) {
        QVERIFY(writeFile(name(level), QStringLiteral("in%1 1\nINCLUDE %2\nout%1 1\n")
                                               .arg(level).arg(name(level + 1)).toUtf8()));
    }

    const QByteArray skipped = "Config files nested too deeply, INCLUDE skipped : \""
            + name(Config::maxIncludeDepth).toUtf8() + '"';
    QTest::ignoreMessage(QtDebugMsg, skipped.constData());
    Config config;
    QVERIFY(config.readFile(name(0)));
    QStringList keys;
    for (int level = 0; level < Config::maxIncludeDepth; ++level)
        keys << QStringLiteral("in%1").arg(level);
    for (int level = Config::maxIncludeDepth - 1; level >= 0; --level)
        keys << QStringLiteral("out%1").arg(level);
    QCOMPARE(config.keys(), keys);
}

void tst_Config::fileEntriesReplaceOptions()
{
    Config config;
    readArguments(config, {"p", "-d", "/from/option", "-e"});
    QVERIFY(config.readFile("options.cfg"));
    QCOMPARE(config.keys(), (QStringList{"-d", "-e", "-j"}));
    QCOMPARE(config.values(), (QStringList{"/from/file", "", ""}));
}

QTEST_GUILESS_MAIN(tst_Config)
#include "tst_config.moc"
