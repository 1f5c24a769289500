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
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
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
    // Most files have few names or none: a first guess at the size saves asking for it.
    QByteArray list(1024, Qt::Uninitialized);
    for (;;) {
        const ssize_t got = ::flistxattr(descriptor, list.data(), std::size_t(list.size()));
        if (got >= 0) {
            list.resize(got);
            break;
        }
        if (errno == ENOTSUP)
            return QList<QByteArray>();
        const ssize_t size = errno == ERANGE ? ::flistxattr(descriptor, nullptr, 0) : -1;
        if (size < 0)
            return std::nullopt;
        list.resize(size);
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
    // opendir rather than fdopendir, which checks again what O_DIRECTORY already ensured.
    DIR *stream = ::opendir(folder.constData());
    if (!stream)
        return std::nullopt;
    const int descriptor = ::dirfd(stream);
    struct stat status = {};
    if (::fstat(descriptor, &status) != 0) {
        ::closedir(stream);
        return std::nullopt;
    }
    Directory directory { keyOf(status), {} };
    errno = 0;
    while (const dirent *entry = ::readdir(stream)) {
        if (entry->d_name[0] == '.')
            continue;
        unsigned char type = entry->d_type;
        // Some file systems do not type their entries; ask without following links.
        struct stat entryStatus = {};
        if (type == DT_UNKNOWN
            && ::fstatat(descriptor, entry->d_name, &entryStatus, AT_SYMLINK_NOFOLLOW) == 0)
            type = S_ISREG(entryStatus.st_mode) ? DT_REG
                : S_ISDIR(entryStatus.st_mode)  ? DT_DIR
                                                : DT_UNKNOWN;
        const FileKey key { quint64(status.st_dev), quint64(entry->d_ino) };
        if (type == DT_REG)
            directory.entries.append({ entry->d_name, DirectoryEntry::Kind::RegularFile, key });
        else if (type == DT_DIR)
            directory.entries.append({ entry->d_name, DirectoryEntry::Kind::Folder, key });
    }
    const bool complete = errno == 0;
    ::closedir(stream);
    return complete ? std::optional(directory) : std::nullopt;
}

PathInfo pathInfo(const QByteArray &path)
{
    struct stat status = {};
    if (::stat(path.constData(), &status) != 0)
        return {};
    return { S_ISDIR(status.st_mode) ? PathInfo::Kind::Folder : PathInfo::Kind::Other,
        keyOf(status) };
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

SheetFile::SheetFile(QByteArray path, ByteBudget *budget)
    : path(std::move(path))
    , budget(budget)
{
}

SheetFile::~SheetFile()
{
    if (descriptor >= 0)
        ::close(descriptor);
    if (budget)
        budget->giveBack(budgetTaken);
}

SheetFile::ReadResult SheetFile::read()
{
    if (path.isEmpty())
        return ReadResult::NotFound;
    // Opened without blocking and read only once known to be a regular file, so that a FIFO
    // or a device named like a sheet is never read.
    descriptor = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (descriptor < 0) {
        // Missing, or behind a folder that cannot be searched: not found. There but not
        // readable: a failure.
        struct stat found = {};
        return ::stat(path.constData(), &found) != 0 ? ReadResult::NotFound : ReadResult::Failed;
    }
    struct stat opened = {};
    if (::fstat(descriptor, &opened) != 0 || !S_ISREG(opened.st_mode)
        || opened.st_size > maxSheetSize)
        return ReadResult::Failed;
    status = { keyOf(opened), qint64(opened.st_size), nanoseconds(opened.st_mtim),
        nanoseconds(opened.st_ctim), opened.st_uid, opened.st_gid, opened.st_mode & 07777 };
    if (budget)
        budgetTaken = budget->take(2 * status.size);

    // One byte more than expected shows a sheet that grows while it is read: someone else is
    // writing it, so it is left alone.
    bytes.resize(status.size + 1);
    qsizetype total = 0;
    for (;;) {
        const qsizetype wanted = bytes.size() - total;
        const ssize_t count = ::read(descriptor, bytes.data() + total, std::size_t(wanted));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return ReadResult::Failed;
        total += count;
        // A short read that ends at the expected size is the end of the file: no further call
        // is needed to see it.
        if (count == 0 || total == bytes.size() || (count < wanted && total == status.size))
            break;
    }
    if (total != status.size)
        return ReadResult::Failed;
    bytes.resize(total);
    return ReadResult::Read;
}

namespace {

enum class Replacing { Done, Failed, ThroughLink };

// The rules of a replacement, in order, each failure leaving the sheet as it was:
// - the new file goes into the folder of the file that was read (a symbolic link's target),
//   so that the rename stays within one file system and the link stays a link;
// - the sheet must be writable to this process: no rewrite of what it may not change;
// - the new file is written in full, then given the sheet's owner and group (which clears
//   setgid, so first), its extended attributes and ACLs, then its exact mode bits; where the
//   system refuses one of these, or may have dropped a set-id bit, the result is compared
//   with the sheet and only a difference fails (a normal user cannot give a file away, vfat
//   holds no modes);
// - it is flushed to disk, a failed flush failing the replacement;
// - the sheet must still be the file that was read (same identity, size and times), so that
//   another program's recent change is not overwritten;
// - then, only then, the new file takes the sheet's name in one rename.
// ThroughLink: target is a symbolic link, and nothing was replaced.
Replacing replaceAt(const QByteArray &target, const QByteArray &contents, int original,
    const SheetFile::Status &status)
{
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folderPath = slash < 0 ? "." : slash == 0 ? "/" : target.left(slash);
    const QByteArray name = target.mid(slash + 1);

    const Descriptor folder(::open(folderPath.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd < 0 || ::faccessat(folder.fd, name.constData(), W_OK, AT_EACCESS) != 0)
        return Replacing::Failed;
    Replacement replacement(folder.fd);
    const int fd = replacement.fd();
    if (fd < 0 || !writeAll(fd, contents))
        return Replacing::Failed;

    const bool ownerGiven = ::fchown(fd, status.owner, status.group) == 0;
    if (!copyAttributes(original, fd))
        return Replacing::Failed;
    const bool modeGiven = ::fchmod(fd, status.mode) == 0;
    struct stat made = {};
    if ((!ownerGiven || !modeGiven || (status.mode & (S_ISUID | S_ISGID)) != 0)
        && (::fstat(fd, &made) != 0 || made.st_uid != status.owner || made.st_gid != status.group
            || (made.st_mode & 07777) != status.mode))
        return Replacing::Failed;
    if (::fsync(fd) != 0)
        return Replacing::Failed;

    struct stat now = {};
    if (::fstatat(folder.fd, name.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0)
        return Replacing::Failed;
    if (S_ISLNK(now.st_mode))
        return Replacing::ThroughLink;
    if (!(keyOf(now) == status.key) || qint64(now.st_size) != status.size
        || nanoseconds(now.st_mtim) != status.modified
        || nanoseconds(now.st_ctim) != status.changed)
        return Replacing::Failed;
    return replacement.renameOver(name) ? Replacing::Done : Replacing::Failed;
}

} // namespace

bool SheetFile::replace(const QByteArray &contents)
{
    if (descriptor < 0)
        return false;
    switch (replaceAt(path, contents, descriptor, status)) {
    case Replacing::Done:
        return true;
    case Replacing::Failed:
        return false;
    case Replacing::ThroughLink:
        break;
    }
    // Found only at the end, since listed sheets are never links: the replacement goes again,
    // beside the link's target.
    char *resolved = ::realpath(path.constData(), nullptr);
    if (!resolved)
        return false;
    const QByteArray target(resolved);
    std::free(resolved);
    return replaceAt(target, contents, descriptor, status) == Replacing::Done;
}
