#pragma once

#include "files/descriptor.h"
#include "files/failure.h"
#include "files/filekey.h"

#include <QByteArray>
#include <QList>

#include <memory>

namespace cueprune {

// A folder held open. Everything found in it is opened relative to it, never again by a path,
// so that nobody who can write in a library can lead a run out of it by renaming folders or
// putting links in their place while it goes.

struct FolderEntry
{
    enum class Kind { RegularFile, Folder, Other };
    QByteArray name;
    Kind kind = Kind::Other;
    // From a lookup; from a listing, the folder's device and the inode number it lists, which
    // is the file's identity on most file systems but not on all (overlays, mount points).
    FileKey key;
};

class Folder
{
public:
    // The folder at path, resolved by the kernel as given: links followed, ".." where it leads.
    // It is shown by its physical path.
    [[nodiscard]] static Result<std::shared_ptr<const Folder>> open(const QByteArray &path);

    // The subfolder that this folder's listing found as entry, opened without following a link
    // and only while it is still the folder listed; SwappedDuringWalk otherwise.
    [[nodiscard]] Result<std::shared_ptr<const Folder>> openSubfolder(
        const FolderEntry &entry) const;

    struct Contents
    {
        QList<FolderEntry> entries; // visible regular files and folders, keys as listed
        QList<QByteArray> hidden; // hidden names, for the caller to recognise its own
    };
    // The names in the folder: symbolic links, devices, FIFOs and sockets are left out. Read
    // once: a second call finds the descriptor at the end of the folder.
    [[nodiscard]] Result<Contents> read() const;

    // What name is in this folder now, without following a link.
    [[nodiscard]] Result<FolderEntry> lookUp(const QByteArray &name) const;

    int descriptor() const { return fd.get(); }
    const FileKey &key() const { return identity; }
    // The path it is shown by: physical for a named folder, the parent's with the entry's name
    // below it for a subfolder.
    const QByteArray &path() const { return shownPath; }

    Folder(Descriptor descriptor, FileKey key, QByteArray path)
        : fd(std::move(descriptor))
        , identity(key)
        , shownPath(std::move(path))
    {
    }

private:
    Descriptor fd;
    FileKey identity;
    QByteArray shownPath;
};

// name in the folder at path, for display.
inline QByteArray joinPath(const QByteArray &folder, const QByteArray &name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

// Whether name is a sheet's: the same match as the name filter "*.CUE", without compiling a
// pattern per folder.
inline bool isSheetName(QByteArrayView name)
{
    return name.size() >= 4 && name.last(4).compare(".cue", Qt::CaseInsensitive) == 0;
}

// A sheet as found: a name in an open folder, with the identity it had then.
struct SheetEntry
{
    std::shared_ptr<const Folder> folder;
    QByteArray name;
    FileKey key;
    QByteArray shownPath;

    EntryKey entryKey() const { return { folder->key(), name }; }
};

// A path named by the user: a folder, or a sheet in the folder that really holds it (a link's
// target; the link stays a link). The sheet is shown by the physical path of the folder named
// and the name given.
struct NamedPath
{
    std::shared_ptr<const Folder> folder; // of a named folder
    SheetEntry sheet; // of a named sheet, when folder is null
};

[[nodiscard]] Result<NamedPath> openNamedPath(const QByteArray &path);

// What is at path, links followed; Other when nothing is.
[[nodiscard]] FolderEntry::Kind kindOfPath(const QByteArray &path);

} // namespace cueprune
