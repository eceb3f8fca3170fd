#ifndef APP_CONFIG_H
#define APP_CONFIG_H

#include <QString>
#include <QStringList>

// Start-up settings: command-line options and configuration-file entries in
// one pair of tables, so a lookup sees both.
class Config
{
public:
    void readCommandLine(int argc, char **argv);
    bool readFile(const QString &fileName);

    void setEntry(const QString &key, const QString &value);

    QString getValue(const QString &key, const QString &defaultValue = QString()) const;
    QString getValueNoCase(const QString &key, const QString &defaultValue = QString()) const;
    bool hasKey(const QString &key) const;
    bool hasKeyNoCase(const QString &key) const;

    // Most files open at once along a chain of INCLUDE lines, the first one
    // counted; a file further down is skipped.
    static constexpr int maxIncludeDepth = 64;

    // Exact-case table: keys as written.
    const QStringList &keys() const { return exactKeys; }
    const QStringList &values() const { return exactValues; }
    // Any-case table: keys upper-cased.
    const QStringList &keysNoCase() const { return upperKeys; }
    const QStringList &valuesNoCase() const { return upperValues; }

private:
    QStringList exactKeys;
    QStringList exactValues;
    QStringList upperKeys;
    QStringList upperValues;
    // Files being read right now, outermost first, so that an INCLUDE
    // leading back into one of them is refused instead of recursing forever.
    QStringList filesInProgress;
};

#endif // APP_CONFIG_H
