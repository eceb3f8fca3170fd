#ifndef APP_STARTUP_H
#define APP_STARTUP_H

#include <QString>
#include <QStringList>

#include "view/sampling.h"

class Config;

// The configuration file to read: "config.cfg" unless "-c" or "-config"
// (any letter case) names another; "-config" wins.
QString configFileName(const Config &config);

// Base name of the program file (directory and every suffix from the first
// dot on removed), from the first command-line argument.
QString programBaseName(int argc, char **argv);

// "-d" (exact case) beats the key "DataRoot", which beats currentDir.
QString dataRootDirectory(const Config &config, const QString &currentDir);

// Whether the Japanese translation is to be loaded: "-j" beats "-e", "-e"
// beats the program name "Mek" + "e"/"j", which beats the key "lang".
bool japaneseChosen(const Config &config, const QString &baseName);

// How the panels sample their sets at first: the key "Sampling" (any case)
// with auto, planes or cells (any case). Another value says so in one debug
// line and gives Automatic, as no key does.
SamplingChoice defaultSamplingChoice(const Config &config);

// A display setting of the window, such as the key "KeepAspect" (any case),
// with on or off (any case). Another value says so in one debug line and
// gives off, as no key does.
bool displaySetting(const Config &config, const QString &key);

// The files and folders named on the command line, as absolute paths, relative
// ones taken from startDir: every argument that is neither an option (it
// begins with "-") nor the value after "-c", "-config" (any letter case) or
// "-d"; after "--" every argument is one.
QStringList commandLineFiles(int argc, char **argv, const QString &startDir);

// Whether the command line asks for the list of options ("--help" or "-h")
// rather than for the window; checked before anything needs a display.
bool helpRequested(int argc, char **argv);

// What "--help" prints for the window program of the given name.
QString startupHelpText(const QString &programName);

#endif // APP_STARTUP_H
