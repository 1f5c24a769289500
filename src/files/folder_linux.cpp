#include "files/folder.h"

#include "files/linuxstatus.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace cueprune {

namespace {

FolderEntry::Kind kindOf(mode_t mode)
{
    return S_ISREG(mode) ? FolderEntry::Kind::RegularFile
        : S_ISDIR(mode)  ? FolderEntry::Kind::Folder
                         : FolderEntry::Kind::Other;
}

// path with every link and ".." resolved, as the kernel went; empty when it cannot be had.
QByteArray physicalPath(const QByteArray &path)
{
    char *resolved = ::realpath(path.constData(), nullptr);
    const QByteArray physical = resolved ? QByteArray(resolved) : QByteArray();
    std::free(resolved);
    return physical;
}

// The path the kernel knows an open folder by, which is the folder actually opened whatever
// happened to the path since.
QByteArray pathOfDescriptor(int descriptor)
{
    const QByteArray link = nameOfDescriptor(descriptor);
    QByteArray target(4096, Qt::Uninitialized);
    for (;;) {
        const ssize_t size
            = ::readlink(link.constData(), target.data(), std::size_t(target.size()));
        if (size < 0)
            return QByteArray();
        if (size < target.size()) {
            target.resize(size);
            return target.startsWith('/') ? target : QByteArray();
        }
        target.resize(target.size() * 2);
    }
}

// name with its ASCII letters in the other case; name itself when it has none.
QByteArray otherCase(const QByteArray &name)
{
    QByteArray other = name;
    for (char &c : other) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
            c ^= 0x20;
    }
    return other;
}

// The name in folder that a lookup of name finds when the folder ignores case: the one it
// lists, byte for byte; name itself when it is listed so or cannot be read.
QByteArray listedName(const QByteArray &folder, const QByteArray &name)
{
    DIR *stream = ::opendir(folder.constData());
    if (!stream)
        return name;
    QByteArray found;
    while (const dirent *entry = ::readdir(stream)) {
        const QByteArray listed(entry->d_name);
        if (listed == name) {
            found = name;
            break;
        }
        if (found.isEmpty() && listed.toLower() == name.toLower())
            found = listed;
    }
    ::closedir(stream);
    return found.isEmpty() ? name : found;
}

// physical, an absolute path with no link in it, spelled as each of its folders lists it: on
// a file system that ignores case, "CI" opens the folder listed as "ci", and FUSE file systems
// give each spelling an identity of its own, so that one folder would be walked twice at once.
// A folder is listed only where the name in the other case finds something.
QByteArray listedSpelling(const QByteArray &physical)
{
    QByteArray spelled;
    for (const QByteArray &part : physical.split('/')) {
        if (part.isEmpty())
            continue;
        const QByteArray parent = spelled.isEmpty() ? QByteArray("/") : spelled;
        const QByteArray other = otherCase(part);
        struct stat found = {};
        const bool caseIgnored
            = other != part && ::lstat(joinPath(parent, other).constData(), &found) == 0;
        spelled = joinPath(parent, caseIgnored ? listedName(parent, part) : part);
    }
    return spelled.isEmpty() ? physical : spelled;
}

} // namespace

Result<std::shared_ptr<const Folder>> Folder::open(const QByteArray &path)
{
    Descriptor descriptor(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat status = {};
    if (!descriptor.isOpen() || ::fstat(descriptor.get(), &status) != 0)
        return Failure::fromErrno(errno, Failure::Reason::FolderUnreadable);
    QByteArray shown = pathOfDescriptor(descriptor.get());
    if (shown.isEmpty())
        shown = physicalPath(path);
    if (shown.isEmpty())
        shown = path;
    return std::make_shared<const Folder>(std::move(descriptor), keyOf(status), shown);
}

Result<std::shared_ptr<const Folder>> Folder::openSubfolder(const FolderEntry &entry) const
{
    Descriptor descriptor(::openat(
        fd.get(), entry.name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!descriptor.isOpen()) {
        // A link or a file where the folder was: someone swapped it since it was listed.
        if (errno == ELOOP || errno == ENOTDIR)
            return Failure { Failure::Reason::SwappedDuringWalk, errno };
        return Failure::fromErrno(errno, Failure::Reason::FolderUnreadable);
    }
    struct stat status = {};
    if (::fstat(descriptor.get(), &status) != 0)
        return Failure::fromErrno(errno, Failure::Reason::FolderUnreadable);
    if (!(keyOf(status) == entry.key))
        return Failure { Failure::Reason::SwappedDuringWalk, 0 };
    return std::make_shared<const Folder>(
        std::move(descriptor), entry.key, joinPath(shownPath, entry.name));
}

namespace {

// Adds a directory entry of the folder open as fd to contents: its hidden names, and its
// regular files and folders.
void addEntry(int fd, quint64 device, const dirent64 &entry, Folder::Contents &contents)
{
    const QByteArray name(entry.d_name);
    if (name.startsWith('.')) {
        if (name != "." && name != "..")
            contents.hidden.append(name);
        return;
    }
    FolderEntry::Kind kind = entry.d_type == DT_REG ? FolderEntry::Kind::RegularFile
        : entry.d_type == DT_DIR                    ? FolderEntry::Kind::Folder
                                                    : FolderEntry::Kind::Other;
    // Some file systems do not type their entries; ask without following links.
    struct stat status = {};
    if (entry.d_type == DT_UNKNOWN
        && ::fstatat(fd, entry.d_name, &status, AT_SYMLINK_NOFOLLOW) == 0)
        kind = kindOf(status.st_mode);
    if (kind != FolderEntry::Kind::Other)
        contents.entries.append({ name, kind, { device, quint64(entry.d_ino) } });
}

} // namespace

Result<Folder::Contents> Folder::read() const
{
    // Read straight from the folder's own descriptor: readdir would need one of its own
    // (fdopendir takes the one it is given), which cost four more calls a folder, about a
    // tenth of a dry run. A folder is read once, from the start where opening it left it.
    Contents contents;
    alignas(dirent64) char buffer[32 * 1024];
    for (;;) {
        const ssize_t got = ::getdents64(fd.get(), buffer, sizeof buffer);
        if (got < 0)
            return Failure::fromErrno(errno, Failure::Reason::FolderUnreadable);
        if (got == 0)
            return contents;
        for (ssize_t at = 0; at < got;) {
            const auto *entry = reinterpret_cast<const dirent64 *>(buffer + at);
            at += entry->d_reclen;
            addEntry(fd.get(), identity.device, *entry, contents);
        }
    }
}

Result<FolderEntry> Folder::lookUp(const QByteArray &name) const
{
    struct stat status = {};
    if (::fstatat(fd.get(), name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return Failure::fromErrno(errno, Failure::Reason::ReadRefused);
    return FolderEntry { name, kindOf(status.st_mode), keyOf(status) };
}

FolderEntry::Kind kindOfPath(const QByteArray &path)
{
    struct stat status = {};
    return ::stat(path.constData(), &status) == 0 ? kindOf(status.st_mode)
                                                  : FolderEntry::Kind::Other;
}

Result<NamedPath> openNamedPath(const QByteArray &path)
{
    struct stat named = {};
    if (path.isEmpty() || ::stat(path.constData(), &named) != 0) {
        // Behind a folder that cannot be searched is as good as missing.
        return path.isEmpty() ? Failure { Failure::Reason::Missing, ENOENT }
                              : Failure::fromErrno(errno, Failure::Reason::Missing);
    }
    if (S_ISDIR(named.st_mode)) {
        const QByteArray physical = physicalPath(path);
        auto folder = Folder::open(physical.isEmpty() ? path : listedSpelling(physical));
        if (!folder)
            return folder.failure();
        return NamedPath { *folder, {} };
    }

    // The sheet is replaced in the folder that really holds it, so a link stays a link.
    const QByteArray physical = physicalPath(path);
    if (physical.isEmpty())
        return Failure::fromErrno(errno, Failure::Reason::Missing);
    const QByteArray real = listedSpelling(physical);
    const qsizetype slash = real.lastIndexOf('/');
    auto folder = Folder::open(slash == 0 ? QByteArray("/") : real.left(slash));
    if (!folder)
        return folder.failure();
    const QByteArray name = real.mid(slash + 1);
    const auto entry = (*folder)->lookUp(name);
    if (!entry)
        return entry.failure();
    if (!(entry->key == keyOf(named)))
        return Failure { Failure::Reason::SwappedDuringWalk, 0 };

    const qsizetype givenSlash = path.lastIndexOf('/');
    const QByteArray givenFolder
        = physicalPath(givenSlash < 0 ? QByteArray(".") : path.left(qMax(givenSlash, 1)));
    const QByteArray shown
        = givenFolder.isEmpty() ? real : joinPath(givenFolder, path.mid(givenSlash + 1));
    return NamedPath { nullptr, { *folder, name, entry->key, shown } };
}

} // namespace cueprune
