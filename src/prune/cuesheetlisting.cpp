#include "cuesheetlisting.h"

QStringList cueSheetsIn(const QDir &folder)
{
    QStringList paths;
    const QStringList names = folder.entryList(
        { QStringLiteral("*.CUE") }, QDir::Files | QDir::NoSymLinks, QDir::Name | QDir::IgnoreCase);
    for (const QString &name : names)
        paths.append(folder.absoluteFilePath(name));
    return paths;
}
