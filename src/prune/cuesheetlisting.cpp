#include "cuesheetlisting.h"

namespace {

QStringList absolutePaths(const QDir &folder, const QStringList &names)
{
    QStringList paths;
    paths.reserve(names.size());
    for (const QString &name : names)
        paths.append(folder.absoluteFilePath(name));
    return paths;
}

} // namespace

QStringList cueSheetsIn(const QDir &folder)
{
    return absolutePaths(folder,
        folder.entryList({ QStringLiteral("*.CUE") }, QDir::Files | QDir::NoSymLinks,
            QDir::Name | QDir::IgnoreCase));
}

QStringList subfoldersIn(const QDir &folder)
{
    return absolutePaths(folder,
        folder.entryList(
            QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name | QDir::IgnoreCase));
}
