// Windows: folders are held by their path, names are UTF-16, which Qt converts without loss, and
// Qt's own file classes do the work. Not built on the project's Linux machines.
#include "files/folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace cueprune {

namespace {

FileKey keyOf(const QFileInfo &info)
{
    // No inode at hand: the canonical path names the file instead.
    return { 0, quint64(qHash(info.canonicalFilePath().toCaseFolded())) };
}

FolderEntry entryOf(const QFileInfo &info)
{
    const FolderEntry::Kind kind = info.isSymLink() ? FolderEntry::Kind::Other
        : info.isDir()                              ? FolderEntry::Kind::Folder
        : info.isFile()                             ? FolderEntry::Kind::RegularFile
                                                    : FolderEntry::Kind::Other;
    return { QFile::encodeName(info.fileName()), kind, keyOf(info) };
}

} // namespace

Result<std::shared_ptr<const Folder>> Folder::open(const QByteArray &path)
{
    const QFileInfo info(QFile::decodeName(path));
    if (!info.exists() || !info.isDir())
        return Failure { Failure::Reason::Missing, 0 };
    if (!QDir(info.absoluteFilePath()).isReadable())
        return Failure { Failure::Reason::FolderUnreadable, 0 };
    return std::make_shared<const Folder>(
        Descriptor(), keyOf(info), QFile::encodeName(info.canonicalFilePath()));
}

Result<std::shared_ptr<const Folder>> Folder::openSubfolder(const FolderEntry &entry) const
{
    const QFileInfo info(QFile::decodeName(joinPath(shownPath, entry.name)));
    if (info.isSymLink() || !info.isDir() || !(keyOf(info) == entry.key))
        return Failure { Failure::Reason::SwappedDuringWalk, 0 };
    return std::make_shared<const Folder>(Descriptor(), entry.key, joinPath(shownPath, entry.name));
}

Result<Folder::Contents> Folder::read() const
{
    const QDir dir(QFile::decodeName(shownPath));
    if (!dir.isReadable())
        return Failure { Failure::Reason::FolderUnreadable, 0 };
    Contents contents;
    for (const QFileInfo &info : dir.entryInfoList(
             QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
        if (info.fileName().startsWith(QLatin1Char('.')))
            contents.hidden.append(QFile::encodeName(info.fileName()));
        else
            contents.entries.append(entryOf(info));
    }
    return contents;
}

Result<FolderEntry> Folder::lookUp(const QByteArray &name) const
{
    const QFileInfo info(QFile::decodeName(joinPath(shownPath, name)));
    if (!info.exists() && !info.isSymLink())
        return Failure { Failure::Reason::Missing, 0 };
    return entryOf(info);
}

Result<NamedPath> openNamedPath(const QByteArray &path)
{
    const QFileInfo info(QFile::decodeName(path));
    if (path.isEmpty() || !info.exists())
        return Failure { Failure::Reason::Missing, 0 };
    if (info.isDir()) {
        auto folder = Folder::open(path);
        if (!folder)
            return folder.failure();
        return NamedPath { *folder, {} };
    }
    const QFileInfo target(info.canonicalFilePath());
    auto folder = Folder::open(QFile::encodeName(target.absolutePath()));
    if (!folder)
        return folder.failure();
    return NamedPath { nullptr,
        { *folder, QFile::encodeName(target.fileName()), keyOf(target),
            QFile::encodeName(info.absoluteFilePath()) } };
}

FolderEntry::Kind kindOfPath(const QByteArray &path)
{
    const QFileInfo info(QFile::decodeName(path));
    return info.isDir() ? FolderEntry::Kind::Folder
        : info.isFile() ? FolderEntry::Kind::RegularFile
                        : FolderEntry::Kind::Other;
}

} // namespace cueprune
