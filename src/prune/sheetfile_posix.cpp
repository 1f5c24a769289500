#include "sheetfile.h"

#include <QRandomGenerator>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

FileKey keyOf(const struct stat &status)
{
    return { quint64(status.st_dev), quint64(status.st_ino) };
}

qint64 nanoseconds(const timespec &time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

bool writeAll(int descriptor, const QByteArray &bytes)
{
    for (qsizetype written = 0; written < bytes.size();) {
        const ssize_t count
            = ::write(descriptor, bytes.constData() + written, std::size_t(bytes.size() - written));
        if (count < 0 && errno != EINTR)
            return false;
        if (count > 0)
            written += count;
    }
    return true;
}

// A short hidden name, so that listings skip it and a name of any length can be replaced.
QByteArray hiddenTemporaryName()
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name = ".cueprune-";
    for (int i = 0; i < 8; ++i)
        name += letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))];
    return name;
}

// Names of a file's extended attributes, POSIX ACLs included; none where the file system
// holds none.
std::optional<QList<QByteArray>> attributeNames(int descriptor)
{
    QByteArray list;
    for (;;) {
        const ssize_t size = ::flistxattr(descriptor, nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP ? std::optional(QList<QByteArray>()) : std::nullopt;
        list.resize(size);
        const ssize_t got = ::flistxattr(descriptor, list.data(), std::size_t(size));
        if (got >= 0) {
            list.resize(got);
            break;
        }
        if (errno != ERANGE)
            return std::nullopt;
    }
    QList<QByteArray> names = list.split('\0');
    names.removeAll(QByteArray());
    return names;
}

std::optional<QByteArray> attributeValue(int descriptor, const QByteArray &name)
{
    QByteArray value;
    for (;;) {
        const ssize_t size = ::fgetxattr(descriptor, name.constData(), nullptr, 0);
        if (size < 0)
            return std::nullopt;
        value.resize(size);
        const ssize_t got
            = ::fgetxattr(descriptor, name.constData(), value.data(), std::size_t(size));
        if (got >= 0) {
            value.resize(got);
            return value;
        }
        if (errno != ERANGE)
            return std::nullopt;
    }
}

// Gives copy exactly the extended attributes of original: each of original's, and none of
// those the copy inherited (a folder's default ACL, say). A value the system will not set
// is accepted only where the copy already holds it.
bool copyAttributes(int original, int copy)
{
    const auto wanted = attributeNames(original);
    if (!wanted)
        return false;
    for (const QByteArray &name : *wanted) {
        const auto value = attributeValue(original, name);
        if (!value)
            return false;
        if (::fsetxattr(copy, name.constData(), value->constData(), std::size_t(value->size()), 0)
                != 0
            && attributeValue(copy, name) != value)
            return false;
    }
    const auto inherited = attributeNames(copy);
    if (!inherited)
        return false;
    for (const QByteArray &name : *inherited) {
        if (!wanted->contains(name) && ::fremovexattr(copy, name.constData()) != 0)
            return false;
    }
    return true;
}

// The new file of a replacement, until it takes the sheet's name. O_TMPFILE gives it no name
// at all until then, so that a crash leaves nothing; where the file system lacks O_TMPFILE
// it is created under a hidden name, removed again on failure.
class Replacement
{
public:
    explicit Replacement(int folder)
        : folder(folder)
    {
        descriptor = ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (descriptor >= 0)
            return;
        for (int attempt = 0; attempt < 100 && descriptor < 0; ++attempt) {
            name = hiddenTemporaryName();
            descriptor
                = ::openat(folder, name.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
            if (descriptor < 0 && errno != EEXIST)
                break;
        }
        if (descriptor < 0)
            name.clear();
    }
    ~Replacement()
    {
        if (descriptor >= 0)
            ::close(descriptor);
        if (!name.isEmpty())
            ::unlinkat(folder, name.constData(), 0);
    }
    Replacement(const Replacement &) = delete;
    Replacement &operator=(const Replacement &) = delete;

    int fd() const { return descriptor; }

    // Renames the new file over target, after giving a name to an O_TMPFILE file. linkat
    // through /proc rather than AT_EMPTY_PATH, which needs a capability before Linux 6.10.
    bool renameOver(const QByteArray &target)
    {
        if (name.isEmpty()) {
            const QByteArray self = "/proc/self/fd/" + QByteArray::number(descriptor);
            for (int attempt = 0; attempt < 100 && name.isEmpty(); ++attempt) {
                const QByteArray candidate = hiddenTemporaryName();
                if (::linkat(AT_FDCWD, self.constData(), folder, candidate.constData(),
                        AT_SYMLINK_FOLLOW)
                    == 0)
                    name = candidate;
                else if (errno != EEXIST)
                    return false;
            }
        }
        if (name.isEmpty() || ::renameat(folder, name.constData(), folder, target.constData()) != 0)
            return false;
        name.clear();
        return true;
    }

private:
    int folder;
    int descriptor = -1;
    QByteArray name; // the new file's name in the folder while it has one
};

class Descriptor
{
public:
    explicit Descriptor(int fd)
        : fd(fd)
    {
    }
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    const int fd;
};

} // namespace

std::optional<Directory> readDirectory(const QByteArray &folder)
{
    const int descriptor = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat status
    {
    };
    if (descriptor < 0)
        return std::nullopt;
    DIR *stream = ::fdopendir(descriptor);
    if (!stream || ::fstat(descriptor, &status) != 0) {
        stream ? ::closedir(stream) : ::close(descriptor);
        return std::nullopt;
    }
    Directory directory { keyOf(status), {} };
    errno = 0;
    while (const dirent *entry = ::readdir(stream)) {
        if (entry->d_name[0] == '.')
            continue;
        unsigned char type = entry->d_type;
        // Some file systems do not type their entries; ask without following links.
        struct stat entryStatus
        {
        };
        if (type == DT_UNKNOWN
            && ::fstatat(descriptor, entry->d_name, &entryStatus, AT_SYMLINK_NOFOLLOW) == 0)
            type = S_ISREG(entryStatus.st_mode) ? DT_REG
                : S_ISDIR(entryStatus.st_mode)  ? DT_DIR
                                                : DT_UNKNOWN;
        if (type == DT_REG)
            directory.entries.append({ entry->d_name, DirectoryEntry::Kind::RegularFile });
        else if (type == DT_DIR)
            directory.entries.append({ entry->d_name, DirectoryEntry::Kind::Folder });
    }
    const bool complete = errno == 0;
    ::closedir(stream);
    return complete ? std::optional(directory) : std::nullopt;
}

PathKind pathKind(const QByteArray &path)
{
    struct stat status
    {
    };
    if (::stat(path.constData(), &status) != 0)
        return PathKind::Missing;
    return S_ISDIR(status.st_mode) ? PathKind::Folder : PathKind::Other;
}

QByteArray absolutePath(const QByteArray &path)
{
    QByteArray full = path;
    if (!path.startsWith('/')) {
        char *workingFolder = ::getcwd(nullptr, 0);
        full = QByteArray(workingFolder ? workingFolder : "") + '/' + path;
        std::free(workingFolder);
    }
    QList<QByteArray> components;
    for (const QByteArray &component : full.split('/')) {
        if (component == "..") {
            if (!components.isEmpty())
                components.removeLast();
        } else if (!component.isEmpty() && component != ".") {
            components.append(component);
        }
    }
    return '/' + components.join('/');
}

SheetFile::SheetFile(QByteArray path)
    : path(std::move(path))
{
}

SheetFile::~SheetFile()
{
    if (descriptor >= 0)
        ::close(descriptor);
}

FileKey SheetFile::key() const
{
    return status.key;
}

SheetFile::ReadResult SheetFile::read()
{
    // Looked at before it is opened: opening a device or a FIFO could block or act on it.
    struct stat found
    {
    };
    if (path.isEmpty() || ::stat(path.constData(), &found) != 0)
        return ReadResult::NotFound;
    if (!S_ISREG(found.st_mode) || found.st_size > maxSheetSize)
        return ReadResult::Failed;
    descriptor = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat opened
    {
    };
    if (descriptor < 0 || ::fstat(descriptor, &opened) != 0 || !S_ISREG(opened.st_mode)
        || opened.st_size > maxSheetSize)
        return ReadResult::Failed;
    status = { keyOf(opened), qint64(opened.st_size), nanoseconds(opened.st_mtim),
        nanoseconds(opened.st_ctim), opened.st_uid, opened.st_gid, opened.st_mode & 07777 };

    // One byte more than expected shows a sheet that changes while it is read: someone else
    // is writing it, so it is left alone.
    bytes.resize(status.size + 1);
    qsizetype total = 0;
    while (total < bytes.size()) {
        const ssize_t count
            = ::read(descriptor, bytes.data() + total, std::size_t(bytes.size() - total));
        if (count == 0)
            break;
        if (count < 0 && errno != EINTR)
            return ReadResult::Failed;
        if (count > 0)
            total += count;
    }
    if (total != status.size)
        return ReadResult::Failed;
    bytes.resize(total);
    return ReadResult::Read;
}

// The rules of a replacement, in order, each failure leaving the sheet as it was:
// - the new file goes into the folder of the file that was read (a symbolic link's target),
//   so that the rename stays within one file system and the link stays a link;
// - the sheet must be writable to this process: no rewrite of what it may not change;
// - the new file is written in full, then given the sheet's owner and group (which clears
//   setgid, so first), its extended attributes and ACLs, then its exact mode bits; where the
//   system refuses one of these, the result is compared with the sheet and only a difference
//   fails (a normal user cannot give a file away, vfat holds no modes);
// - it is flushed to disk, a failed flush failing the replacement;
// - the sheet must still be the file that was read (same identity, size and times), so that
//   another program's recent change is not overwritten;
// - then, only then, the new file takes the sheet's name in one rename.
bool SheetFile::replace(const QByteArray &contents)
{
    if (descriptor < 0)
        return false;
    QByteArray target = path;
    struct stat link
    {
    };
    if (::lstat(path.constData(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char *resolved = ::realpath(path.constData(), nullptr);
        if (!resolved)
            return false;
        target = resolved;
        std::free(resolved);
    }
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folderPath = slash < 0 ? "." : slash == 0 ? "/" : target.left(slash);
    const QByteArray name = target.mid(slash + 1);

    const Descriptor folder(::open(folderPath.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd < 0 || ::faccessat(folder.fd, name.constData(), W_OK, AT_EACCESS) != 0)
        return false;
    Replacement replacement(folder.fd);
    const int fd = replacement.fd();
    if (fd < 0 || !writeAll(fd, contents))
        return false;

    (void)::fchown(fd, status.owner, status.group);
    if (!copyAttributes(descriptor, fd))
        return false;
    (void)::fchmod(fd, status.mode);
    struct stat made
    {
    };
    if (::fstat(fd, &made) != 0 || made.st_uid != status.owner || made.st_gid != status.group
        || (made.st_mode & 07777) != status.mode)
        return false;
    if (::fsync(fd) != 0)
        return false;

    struct stat now
    {
    };
    if (::fstatat(folder.fd, name.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0
        || !(keyOf(now) == status.key) || qint64(now.st_size) != status.size
        || nanoseconds(now.st_mtim) != status.modified
        || nanoseconds(now.st_ctim) != status.changed)
        return false;
    if (!replacement.renameOver(name))
        return false;
    status.key = keyOf(made);
    return true;
}
