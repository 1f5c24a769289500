#include "files/replacement.h"

#include "files/posixstatus.h"
#include "files/temporaries.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace cueprune {

namespace {

using Reason = Failure::Reason;

std::optional<Failure> writeAll(int descriptor, const QByteArray &bytes)
{
    for (qsizetype written = 0; written < bytes.size();) {
        const ssize_t count
            = ::write(descriptor, bytes.constData() + written, std::size_t(bytes.size() - written));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return Failure::fromErrno(errno, Reason::WriteRefused);
        if (count == 0)
            return Failure { Reason::DiskFull, ENOSPC };
        written += count;
    }
    return std::nullopt;
}

// Links a file under a fresh temporary name for target, linkTo(name) making the link and giving
// linkat's result: the name it got, or nothing, errno saying why (EEXIST when every name tried
// was taken).
template <typename Link>
std::optional<QByteArray> linkAside(const QByteArray &target, qint64 size, Link linkTo)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray candidate = temporaryName(target, size);
        if (linkTo(candidate) == 0)
            return candidate;
        if (errno != EEXIST)
            return std::nullopt;
    }
    errno = EEXIST;
    return std::nullopt;
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
// those the copy inherited (a folder's default ACL, say). A value the system will not set is
// accepted only where the copy already holds it. Returns the names copied.
std::optional<QList<QByteArray>> copyAttributes(int original, int copy)
{
    const auto wanted = attributeNames(original);
    if (!wanted)
        return std::nullopt;
    for (const QByteArray &name : *wanted) {
        const auto value = attributeValue(original, name);
        if (!value)
            return std::nullopt;
        if (::fsetxattr(copy, name.constData(), value->constData(), std::size_t(value->size()), 0)
                != 0
            && attributeValue(copy, name) != value)
            return std::nullopt;
    }
    const auto inherited = attributeNames(copy);
    if (!inherited)
        return std::nullopt;
    for (const QByteArray &name : *inherited) {
        if (!wanted->contains(name) && ::fremovexattr(copy, name.constData()) != 0)
            return std::nullopt;
    }
    return wanted;
}

// The highest N of name's numbered backups ("name.~N~") in folder, 0 when there is none, -1
// when the folder cannot be read (errno says why). Read through a descriptor of its own, since
// the folder's was read to its end by the walk.
int highestBackupNumber(int folder, const QByteArray &name)
{
    const int listed = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *stream = listed >= 0 ? ::fdopendir(listed) : nullptr;
    if (!stream) {
        if (listed >= 0)
            ::close(listed);
        return -1;
    }
    const QByteArray prefix = name + ".~";
    int highest = 0;
    while (const dirent *entry = ::readdir(stream)) {
        const QByteArrayView other(entry->d_name);
        if (other.size() <= prefix.size() + 1 || !other.startsWith(prefix) || !other.endsWith('~'))
            continue;
        const QByteArrayView digits = other.sliced(prefix.size(), other.size() - prefix.size() - 1);
        bool number = std::all_of(
            digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
        const int value = number ? digits.toInt(&number) : 0;
        if (number)
            highest = qMax(highest, value);
    }
    ::closedir(stream);
    return highest;
}

// The new file of a replacement, until it takes the name it replaces. O_TMPFILE gives it no
// name at all while it is written, so that a crash then leaves nothing; where the file system
// lacks O_TMPFILE, or there is no /proc to name such a file through, it is created under a
// temporary name at once, and removed again on failure. Its writer holds a lock on it
// throughout, which tells a later run on this machine that it is live.
class Replacement
{
public:
    // mode: what the new file is created with, before it is written; never writable by others.
    Replacement(int folder, const QByteArray &target, qint64 size, mode_t mode)
        : folder(folder)
        , target(target)
        , size(size)
    {
        mode &= 0755;
        if (descriptorsHaveNames())
            file = Descriptor(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
        for (int attempt = 0; attempt < 100 && !file.isOpen(); ++attempt) {
            name = temporaryName(target, size);
            file = Descriptor(
                ::openat(folder, name.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode));
            if (!file.isOpen()) {
                name.clear();
                if (errno != EEXIST)
                    break;
            }
        }
        error = errno;
        if (file.isOpen())
            ::flock(file.get(), LOCK_EX);
    }
    ~Replacement()
    {
        if (!name.isEmpty())
            ::unlinkat(folder, name.constData(), 0);
    }
    Replacement(const Replacement &) = delete;
    Replacement &operator=(const Replacement &) = delete;

    int fd() const { return file.get(); }
    // Why it could not be created.
    int creationError() const { return error; }

    // Gives an O_TMPFILE file its temporary name, which its rename needs. linkat through /proc
    // rather than AT_EMPTY_PATH, which needs a capability before Linux 6.10.
    std::optional<Failure> nameAside()
    {
        if (!name.isEmpty())
            return std::nullopt;
        const QByteArray self = nameOfDescriptor(file.get());
        const auto linked = linkAside(target, size, [&](const QByteArray &candidate) {
            return ::linkat(
                AT_FDCWD, self.constData(), folder, candidate.constData(), AT_SYMLINK_FOLLOW);
        });
        // Every name taken (EEXIST) is a system error; a refusal is the folder's.
        if (!linked)
            return Failure::fromErrno(errno, Reason::WriteRefused);
        name = *linked;
        return std::nullopt;
    }

    // Renames the named file to its target, over what is there unless exclusive; errno says why
    // not.
    [[nodiscard]] bool moveToTarget(bool exclusive)
    {
        const bool moved = exclusive
            ? renameExclusively(folder, name, target)
            : ::renameat(folder, name.constData(), folder, target.constData()) == 0;
        if (moved)
            name.clear();
        return moved;
    }

private:
    int folder;
    QByteArray target;
    qint64 size;
    Descriptor file;
    QByteArray name; // the new file's name in the folder while it has one
    int error = 0;
};

// Errors of a file system that keeps no second link to a file (FAT, exFAT, some shares).
bool linksRefused(int error)
{
    return error == EPERM || error == EMLINK || error == EXDEV || error == ENOTSUP
        || error == EOPNOTSUPP;
}

// Writes the bytes read into a new file under backupName, flushed, with the sheet's mode bits
// and modification time: where hard links are refused, the backup is a copy. Only where
// nothing has that name yet, unless replaceOlder; made is left empty when an older backup was
// replaced.
std::optional<Failure> copyBackup(int folder, const QByteArray &backupName, const ReadSheet &read,
    bool replaceOlder, QByteArray &made)
{
    Replacement copy(folder, backupName, read.bytes.size(), read.status.mode);
    if (copy.fd() < 0)
        return Failure { Reason::BackupFailed, copy.creationError() };
    if (const auto failure = writeAll(copy.fd(), read.bytes))
        return Failure { Reason::BackupFailed, failure->systemError };
    const timespec modified { time_t(read.status.modified / 1000000000),
        long(read.status.modified % 1000000000) };
    const timespec times[2] = { modified, modified };
    ::futimens(copy.fd(), times); // a backup's time is a help to its reader, not a promise
    if (::fsync(copy.fd()) != 0)
        return Failure { Reason::BackupFailed, errno };
    if (const auto failure = copy.nameAside())
        return Failure { Reason::BackupFailed, failure->systemError };
    if (copy.moveToTarget(true)) {
        made = backupName;
        return std::nullopt;
    }
    if (errno == EEXIST && replaceOlder && copy.moveToTarget(false)) {
        made.clear();
        return std::nullopt;
    }
    return Failure { Reason::BackupFailed, errno };
}

// Gives the sheet read its backup name backupName: a second link to that very file, so that
// it keeps every byte and fact of its own, or a copy where links are refused. Only where
// nothing has that name yet, unless replaceOlder; made as for copyBackup.
std::optional<Failure> placeBackup(int folder, const QByteArray &name, const QByteArray &backupName,
    const ReadSheet &read, bool replaceOlder, QByteArray &made)
{
    const QByteArray self = nameOfDescriptor(read.descriptor.get());
    const auto link = [&](const QByteArray &to) {
        return descriptorsHaveNames()
            ? ::linkat(AT_FDCWD, self.constData(), folder, to.constData(), AT_SYMLINK_FOLLOW)
            : ::linkat(folder, name.constData(), folder, to.constData(), 0);
    };
    if (link(backupName) == 0) {
        made = backupName;
        return std::nullopt;
    }
    if (errno == EEXIST && replaceOlder) {
        // An older backup is replaced in one rename, as cp replaces it: the link is made aside.
        if (const auto aside = linkAside(backupName, read.bytes.size(), link)) {
            if (::renameat(folder, aside->constData(), folder, backupName.constData()) != 0) {
                const int error = errno;
                ::unlinkat(folder, aside->constData(), 0);
                return Failure { Reason::BackupFailed, error };
            }
            made.clear();
            return std::nullopt;
        }
    }
    if (linksRefused(errno))
        return copyBackup(folder, backupName, read, replaceOlder, made);
    return Failure { Reason::BackupFailed, errno };
}

// Where the backup of a sheet goes: a simple name, replacing an older backup, or the first of
// the numbers to try. Decided before the new file is opened, since reading the folder takes a
// descriptor of its own and a low limit may leave only two to a sheet.
struct BackupPlan
{
    QByteArray simpleName; // when not numbered
    int firstNumber = 0; // when numbered
};

Result<BackupPlan> planBackup(int folder, const QByteArray &name, const BackupPolicy &backup)
{
    using Control = BackupPolicy::Control;
    if (backup.control == Control::Simple)
        return BackupPlan { name + backup.suffix, 0 };
    const int highest = highestBackupNumber(folder, name);
    if (highest < 0)
        return Failure { Reason::BackupFailed, errno };
    if (backup.control == Control::Existing && highest == 0)
        return BackupPlan { name + backup.suffix, 0 };
    return BackupPlan { {}, highest + 1 };
}

// Keeps the sheet read (name in folder) as planned. made is the name given, to be removed
// again if the sheet is not replaced after all; empty when an older simple backup was
// replaced, which cannot be undone.
std::optional<Failure> keepBackup(int folder, const QByteArray &name, const ReadSheet &read,
    const BackupPlan &plan, QByteArray &made)
{
    if (plan.firstNumber == 0)
        return placeBackup(folder, name, plan.simpleName, read, true, made);
    // Another run may have taken a number since: the next ones are tried.
    for (int number = plan.firstNumber; number < plan.firstNumber + 100; ++number) {
        const QByteArray numbered = name + ".~" + QByteArray::number(number) + '~';
        auto failure = placeBackup(folder, name, numbered, read, false, made);
        if (!failure || failure->systemError != EEXIST)
            return failure;
    }
    return Failure { Reason::BackupFailed, EEXIST };
}

// Gives the new file fd the owner, group, extended attributes and mode bits of the sheet read,
// each only where it lacks them, since every metadata write costs a journalled disk. Where the
// system refuses one, or may have dropped a set-id bit, the result is compared with the sheet
// and only a difference fails.
std::optional<Failure> keepOwnerAttributesAndMode(int fd, const ReadSheet &read)
{
    const SheetStatus &status = read.status;
    struct stat made = {};
    if (::fstat(fd, &made) != 0)
        return Failure::fromErrno(errno, Reason::WriteRefused);
    const bool ownerRight = made.st_uid == status.owner && made.st_gid == status.group;
    const bool ownerGiven = ownerRight || ::fchown(fd, status.owner, status.group) == 0;
    const auto sheetAttributes = copyAttributes(read.descriptor.get(), fd);
    if (!sheetAttributes)
        return Failure { Reason::AttributesNotKept, errno };
    // A change of owner may clear set-id bits, and an ACL sets mode bits.
    const bool modeRight
        = ownerRight && sheetAttributes->isEmpty() && (made.st_mode & 07777) == status.mode;
    const bool modeGiven = modeRight || ::fchmod(fd, status.mode) == 0;
    if ((!ownerGiven || !modeGiven || (status.mode & (S_ISUID | S_ISGID)) != 0)
        && (::fstat(fd, &made) != 0 || made.st_uid != status.owner || made.st_gid != status.group
            || (made.st_mode & 07777) != status.mode))
        return Failure { Reason::OwnerOrModeNotKept, 0 };
    return std::nullopt;
}

// Whether name in folder is still the file read, as its status says: same identity, size and
// times.
bool statusAsRead(int folder, const QByteArray &name, const SheetStatus &status)
{
    struct stat now = {};
    return ::fstatat(folder, name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0
        && keyOf(now) == status.key && qint64(now.st_size) == status.size
        && nanoseconds(now.st_mtim) == status.modified
        && nanoseconds(now.st_ctim) == status.changed;
}

// Fails unless name in folder still holds exactly the bytes read: a clock coarser than the
// change, or attributes cached by FUSE or a network file system, hide a write of the same size
// from the status. Read through a descriptor opened afresh, since opening is what makes FUSE
// drop what it cached of the file.
std::optional<Failure> checkBytesAsRead(int folder, const QByteArray &name, const ReadSheet &read)
{
    const Failure changed { Reason::ChangedBeforeReplace, 0 };
    struct stat opened = {};
    const auto file = openRegularFile(folder, name, &read.status.key, opened);
    if (!file)
        return file.failure().reason == Reason::SwappedDuringWalk ? changed : file.failure();
    if (qint64(opened.st_size) != read.bytes.size())
        return changed;
    char buffer[16 * 1024];
    for (qsizetype at = 0;;) {
        const ssize_t got = ::read(file->get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Failure::fromErrno(errno, Reason::ReadRefused);
        if (got == 0)
            return at == read.bytes.size() ? std::nullopt : std::optional<Failure>(changed);
        if (got > read.bytes.size() - at
            || std::memcmp(buffer, read.bytes.constData() + at, std::size_t(got)) != 0)
            return changed;
        at += got;
    }
}

} // namespace

// The rules of a replacement, in order, each failure leaving the sheet as it was:
// - everything happens inside the sheet's folder, held open since it was listed: no path is
//   looked up again, so the rename stays within one file system and inside the tree;
// - the sheet must be writable to this process: no rewrite of what it may not change;
// - the new file is created with the sheet's permission bits (never writable by others while
//   it is written), written in full, then given the sheet's owner and group (which clears
//   setgid, so first), its extended attributes and ACLs, then its exact mode bits (a normal
//   user cannot give a file away, vfat holds no modes: only a difference fails);
// - it is flushed to disk, a failed flush failing the replacement;
// - the name must still hold the file that was read (same identity, size and times), so that
//   another program's recent change is not overwritten;
// - the new file gets its temporary name, which names the sheet it replaces, so that a run
//   after a crash knows what it is;
// - the sheet read takes its backup name when one is asked for (chosen before the new file is
//   opened; a second link to it, so it keeps every byte and fact of its own; a flushed copy
//   where links are refused); a failed backup leaves the sheet as it was;
// - the sheet is closed: FUSE file systems hide a file renamed over while open, and an
//   interrupted rename would leave the sheet hidden with no name;
// - the name must still hold the very bytes read, compared afresh;
// - then, only then, the new file takes the sheet's name in one rename.
std::optional<Failure> replaceSheet(const Folder &folder, const QByteArray &name,
    const QByteArray &contents, ReadSheet &read, const BackupPolicy &backup)
{
    const int folderFd = folder.descriptor();
    if (::faccessat(folderFd, name.constData(), W_OK, AT_EACCESS) != 0)
        return Failure::fromErrno(errno, Reason::WriteRefused);
    std::optional<BackupPlan> plan;
    if (backup.control != BackupPolicy::Control::None) {
        auto planned = planBackup(folderFd, name, backup);
        if (!planned)
            return planned.failure();
        plan = *planned;
    }
    Replacement replacement(folderFd, name, contents.size(), read.status.mode);
    const int fd = replacement.fd();
    if (fd < 0)
        return Failure::fromErrno(replacement.creationError(), Reason::WriteRefused);
    if (auto failure = writeAll(fd, contents))
        return failure;
    if (auto failure = keepOwnerAttributesAndMode(fd, read))
        return failure;
    if (::fsync(fd) != 0)
        return Failure { Reason::FlushFailed, errno };
    if (!statusAsRead(folderFd, name, read.status))
        return Failure { Reason::ChangedBeforeReplace, 0 };
    if (auto failure = replacement.nameAside())
        return failure;

    QByteArray backupName;
    if (plan) {
        if (auto failure = keepBackup(folderFd, name, read, *plan, backupName))
            return failure;
    }
    read.descriptor.reset();
    std::optional<Failure> failure = checkBytesAsRead(folderFd, name, read);
    if (!failure && !replacement.moveToTarget(false))
        failure = Failure::fromErrno(errno, Reason::WriteRefused);
    if (failure && !backupName.isEmpty())
        ::unlinkat(folderFd, backupName.constData(), 0);
    return failure;
}

} // namespace cueprune
