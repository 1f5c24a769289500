#include "cuesheetlisting.h"

FolderListing listFolder(const QDir &folder)
{
    FolderListing listing;
    const QFileInfoList entries
        = folder.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks,
            QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &entry : entries) {
        // Same match as the name filter "*.CUE", without compiling a pattern per folder.
        if (entry.isDir())
            listing.subfolders.append(entry.absoluteFilePath());
        else if (entry.fileName().endsWith(QLatin1String(".cue"), Qt::CaseInsensitive))
            listing.sheets.append(entry.absoluteFilePath());
    }
    return listing;
}

QStringList cueSheetsIn(const QDir &folder)
{
    return listFolder(folder).sheets;
}
