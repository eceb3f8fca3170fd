#include "app/startup.h"

#include "app/config.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

QString configFileName(const Config &config)
{
    QString fileName = QStringLiteral("config.cfg");
    fileName = config.getValueNoCase(QStringLiteral("-c"), fileName);
    fileName = config.getValueNoCase(QStringLiteral("-config"), fileName);
    return fileName;
}

QString programBaseName(int argc, char **argv)
{
    if (argc < 1 || !argv || !argv[0])
        return QString();
    return QFileInfo(QString::fromUtf8(argv[0])).baseName();
}

QString dataRootDirectory(const Config &config, const QString &currentDir)
{
    QString dataRoot = config.getValue(QStringLiteral("DataRoot"), currentDir);
    if (config.hasKey(QStringLiteral("-d")))
        dataRoot = config.getValue(QStringLiteral("-d"));
    return dataRoot;
}

bool japaneseChosen(const Config &config, const QString &baseName)
{
    bool japanese = true;
    if (config.hasKeyNoCase(QStringLiteral("lang"))) {
        const QString lang = config.getValueNoCase(QStringLiteral("lang")).toUpper();
        // Only "English" turns Japanese off; any other word, or none, keeps it.
        japanese = lang != QLatin1String("ENGLISH");
    }
    if (baseName.size() == 4 && baseName.startsWith(QLatin1String("Mek"))) {
        if (baseName.at(3) == u'e')
            japanese = false;
        else if (baseName.at(3) == u'j')
            japanese = true;
    }
    return config.hasKey(QStringLiteral("-j"))
            || (!config.hasKey(QStringLiteral("-e")) && japanese);
}

SamplingChoice defaultSamplingChoice(const Config &config)
{
    SamplingChoice choice = SamplingChoice::Automatic;
    if (!config.hasKeyNoCase(QStringLiteral("Sampling")))
        return choice;
    const QString value = config.getValueNoCase(QStringLiteral("Sampling"));
    if (!readSamplingChoice(value, &choice)) {
        qDebug() << "Sampling is not auto, planes or cells, Automatic taken :" << value;
        choice = SamplingChoice::Automatic;
    }
    return choice;
}

bool displaySetting(const Config &config, const QString &key)
{
    if (!config.hasKeyNoCase(key))
        return false;
    const QString value = config.getValueNoCase(key);
    if (value.compare(QLatin1String("on"), Qt::CaseInsensitive) == 0)
        return true;
    if (value.compare(QLatin1String("off"), Qt::CaseInsensitive) != 0) {
        QDebug debug = qDebug();
        debug.noquote() << key;
        debug.quote() << "is not on or off, off taken :" << value;
    }
    return false;
}

QStringList commandLineFiles(int argc, char **argv, const QString &startDir)
{
    QStringList files;
    const QDir start(startDir);
    bool optionsEnded = false;
    for (int i = 1; i < argc && argv && argv[i]; ++i) {
        const QString argument = QFile::decodeName(argv[i]);
        if (!optionsEnded && argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && argument.startsWith(u'-')) {
            const bool takesValue = argument.compare(QLatin1String("-c"), Qt::CaseInsensitive) == 0
                    || argument.compare(QLatin1String("-config"), Qt::CaseInsensitive) == 0
                    || argument == QLatin1String("-d");
            if (takesValue && i + 1 < argc && argv[i + 1] && argv[i + 1][0] != '-')
                ++i;
            continue;
        }
        if (!argument.isEmpty())
            files.append(QDir::cleanPath(start.absoluteFilePath(argument)));
    }
    return files;
}

bool helpRequested(int argc, char **argv)
{
    for (int i = 1; i < argc && argv && argv[i]; ++i) {
        if (qstrcmp(argv[i], "--help") == 0 || qstrcmp(argv[i], "-h") == 0)
            return true;
    }
    return false;
}

QString startupHelpText(const QString &programName)
{
    return QStringLiteral(
R"(Usage: %1 [-e | -j] [-d DIR] [-c FILE] [FILE|FOLDER...]

Opens the viewer window for stacks of CT slices. Files and folders named
load into the first panel as if dropped on it (a folder gives the files
directly inside it, in name order); relative names are taken from the folder
the program was started in.

Options:
  -e         English interface
  -j         Japanese interface (the default; -j wins over -e)
  -d DIR     data root: the folder where the file dialogs open first
  -c FILE    configuration file (default config.cfg; also -config FILE)
  -h, --help show this text and exit

The interface is Japanese unless -e, the key "lang English" in the
configuration file, or a program file named Meke chooses English. Relative
names of options and keys (-d, -c, DataRoot, INCLUDE) are taken from the
program's own folder, not from the folder it was started in. Configuration
keys: DataRoot, lang, Sampling, KeepAspect, SizeFollowsDisplay, INCLUDE;
options may be written there too (-d DIR, -e).
"Sampling auto|planes|cells" chooses how new panels sample their sets: where
the rays cross the slice planes, in every cell a ray passes through, or
(auto, the default) cells for sets whose files give their spacing.
"KeepAspect on" draws the picture at its own aspect, centred on the display;
"SizeFollowsDisplay on" renders the image at the display's size, again at
each resize. Both are off by default and in the display's context menu.
Qt's own options, such as -platform offscreen, are taken as well.
)").arg(programName);
}
