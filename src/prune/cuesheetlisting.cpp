#include "cuesheetlisting.h"

#include "sheettext.h"

#include <algorithm>

namespace {

struct SortKey
{
    QString shown;
    QByteArray bytes;
    FileKey key;

    bool operator<(const SortKey &other) const
    {
        const int order = shown.compare(other.shown, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : bytes < other.bytes;
    }
};

QList<NamedFile> sortedPaths(const QByteArray &folder, QList<SortKey> &names)
{
    std::sort(names.begin(), names.end());
    const QByteArray prefix = folder.endsWith('/') ? folder : folder + '/';
    QList<NamedFile> files;
    files.reserve(names.size());
    for (const SortKey &name : names)
        files.append({ prefix + name.bytes, name.key });
    return files;
}

} // namespace

std::optional<FolderListing> listFolder(const QByteArray &folder)
{
    const std::optional<Directory> directory = readDirectory(folder);
    if (!directory)
        return std::nullopt;
    QList<SortKey> sheets;
    QList<SortKey> subfolders;
    for (const DirectoryEntry &entry : directory->entries) {
        // Same match as the name filter "*.CUE", without compiling a pattern per folder.
        if (entry.kind == DirectoryEntry::Kind::Folder)
            subfolders.append({ displayPath(entry.name), entry.name, entry.key });
        else if (entry.name.toLower().endsWith(".cue"))
            sheets.append({ displayPath(entry.name), entry.name, entry.key });
    }
    return FolderListing { directory->key, sortedPaths(folder, sheets),
        sortedPaths(folder, subfolders) };
}
