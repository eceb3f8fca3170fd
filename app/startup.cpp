#include "app/startup.h"

#include "app/config.h"

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
