#include "files/replacement.h"

#include "files/posixstatus.h"

#include <QRandomGenerator>

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

constexpr char temporaryPrefix[] = ".cueprune-";
// Set on a named temporary from its creation until it takes the sheet's name, so that a later
// run removes a killed run's temporary only, never a user's file of the same name.
constexpr char temporaryMark[] = "user.cueprune.temporary";
constexpr qsizetype temporaryLetters = 8;
constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";

// A short hidden name, so that listings skip it and a name of any length can be replaced.
QByteArray temporaryName()
{
    QByteArray name = temporaryPrefix;
    for (qsizetype i = 0; i < temporaryLetters; ++i)
        name += letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))];
    return name;
}

// Links a file under a fresh temporary name, linkTo(name) making the link and giving linkat's
// result: the name it got, or nothing, errno saying why (EEXIST when every name tried was
// taken).
template <typename Link> std::optional<QByteArray> linkAside(Link linkTo)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray candidate = temporaryName();
        if (linkTo(candidate) == 0)
            return candidate;
        if (errno != EEXIST)
            return std::nullopt;
    }
    errno = EEXIST;
    return std::nullopt;
}

// Whether name is one a replacement gives its new file while it is written.
bool isTemporaryName(const QByteArray &name)
{
    const qsizetype prefix = qsizetype(sizeof temporaryPrefix - 1);
    if (name.size() != prefix + temporaryLetters || !name.startsWith(temporaryPrefix))
        return false;
    for (qsizetype i = prefix; i < name.size(); ++i) {
        if (!std::strchr(letters, name[i]))
            return false;
    }
    return true;
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
// those the copy inherited (a folder's default ACL, say), but for the temporary's mark, which
// the caller removes last. A value the system will not set is accepted only where the copy
// already holds it. Returns the names copied.
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
        if (!wanted->contains(name) && name != temporaryMark
            && ::fremovexattr(copy, name.constData()) != 0)
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

// Gives the sheet read through original (name in folder) its backup name, as a second link to
// that very file. made is the name linked, to be removed again if the sheet is not replaced after
// all; empty when an older simple backup was replaced, which cannot be undone.
std::optional<Failure> linkBackup(
    int folder, const QByteArray &name, int original, const BackupPolicy &backup, QByteArray &made)
{
    using Control = BackupPolicy::Control;
    Control control = backup.control;
    int highest = 0;
    if (control == Control::Numbered || control == Control::Existing) {
        highest = highestBackupNumber(folder, name);
        if (highest < 0)
            return Failure { Reason::BackupFailed, errno };
        if (control == Control::Existing)
            control = highest > 0 ? Control::Numbered : Control::Simple;
    }
    const QByteArray self = nameOfDescriptor(original);
    const auto link = [&](const QByteArray &to) {
        return descriptorsHaveNames()
            ? ::linkat(AT_FDCWD, self.constData(), folder, to.constData(), AT_SYMLINK_FOLLOW)
            : ::linkat(folder, name.constData(), folder, to.constData(), 0);
    };
    if (control == Control::Numbered) {
        for (int number = highest + 1; number <= highest + 100; ++number) {
            const QByteArray numbered = name + ".~" + QByteArray::number(number) + '~';
            if (link(numbered) == 0) {
                made = numbered;
                return std::nullopt;
            }
            if (errno != EEXIST)
                return Failure { Reason::BackupFailed, errno };
        }
        return Failure { Reason::BackupFailed, EEXIST };
    }
    const QByteArray simple = name + backup.suffix;
    if (link(simple) == 0) {
        made = simple;
        return std::nullopt;
    }
    if (errno != EEXIST)
        return Failure { Reason::BackupFailed, errno };
    // An older backup is replaced in one rename, as cp replaces it: the link is made aside.
    const auto aside = linkAside(link);
    if (!aside)
        return Failure { Reason::BackupFailed, errno };
    if (::renameat(folder, aside->constData(), folder, simple.constData()) != 0) {
        const int error = errno;
        ::unlinkat(folder, aside->constData(), 0);
        return Failure { Reason::BackupFailed, error };
    }
    made.clear();
    return std::nullopt;
}

// The new file of a replacement, until it takes the sheet's name. O_TMPFILE gives it no name
// at all until then, so that a crash leaves nothing; where the file system lacks O_TMPFILE, or
// there is no /proc to name such a file through, it is created under a hidden name and marked,
// and removed again on failure. Its writer holds a lock on it throughout, which tells a later
// run whether a hidden file it meets is a live one.
class Replacement
{
public:
    // mode: what the new file is created with, before it is written; never writable by others.
    Replacement(int folder, mode_t mode)
        : folder(folder)
    {
        mode &= 0755;
        if (descriptorsHaveNames())
            file = Descriptor(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
        for (int attempt = 0; attempt < 100 && !file.isOpen(); ++attempt) {
            name = temporaryName();
            file = Descriptor(
                ::openat(folder, name.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode));
            if (!file.isOpen()) {
                name.clear();
                if (errno != EEXIST)
                    break;
            }
        }
        error = errno;
        if (!file.isOpen())
            return;
        ::flock(file.get(), LOCK_EX);
        // A file system without user attributes takes no mark; the name alone then tells.
        marked = !name.isEmpty() && ::fsetxattr(file.get(), temporaryMark, "1", 1, 0) == 0;
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

    // Renames the new file over target, after giving a name to an O_TMPFILE file and taking
    // its mark off a named one, unless the sheet carried that attribute itself (sheetAttributes),
    // and after giving the sheet read through original its backup name, as backup says.
    // linkat through /proc rather than AT_EMPTY_PATH, which needs a capability before Linux 6.10.
    std::optional<Failure> renameOver(const QByteArray &target,
        const QList<QByteArray> &sheetAttributes, int original, const BackupPolicy &backup)
    {
        if (name.isEmpty()) {
            const QByteArray self = nameOfDescriptor(file.get());
            const auto linked = linkAside([&](const QByteArray &candidate) {
                return ::linkat(
                    AT_FDCWD, self.constData(), folder, candidate.constData(), AT_SYMLINK_FOLLOW);
            });
            // Every name taken (EEXIST) is a system error; a refusal is the folder's.
            if (!linked)
                return Failure::fromErrno(errno, Reason::WriteRefused);
            name = *linked;
        }
        if (marked && !sheetAttributes.contains(temporaryMark)
            && ::fremovexattr(file.get(), temporaryMark) != 0)
            return Failure { Reason::AttributesNotKept, errno };
        QByteArray backupName;
        if (backup.control != BackupPolicy::Control::None) {
            if (auto failure = linkBackup(folder, target, original, backup, backupName))
                return failure;
        }
        if (::renameat(folder, name.constData(), folder, target.constData()) != 0) {
            const Failure failure = Failure::fromErrno(errno, Reason::WriteRefused);
            if (!backupName.isEmpty())
                ::unlinkat(folder, backupName.constData(), 0);
            return failure;
        }
        name.clear();
        return std::nullopt;
    }

private:
    int folder;
    Descriptor file;
    QByteArray name; // the new file's name in the folder while it has one
    bool marked = false;
    int error = 0;
};

} // namespace

// The rules of a replacement, in order, each failure leaving the sheet as it was:
// - everything happens inside the sheet's folder, held open since it was listed: no path is
//   looked up again, so the rename stays within one file system and inside the tree;
// - the sheet must be writable to this process: no rewrite of what it may not change;
// - the new file is created with the sheet's permission bits (never writable by others while
//   it is written), written in full, then given the sheet's owner and group (which clears
//   setgid, so first), its extended attributes and ACLs, then its exact mode bits, each only
//   where it lacks them, since every metadata write costs a journalled disk; where the system
//   refuses one of these, or may have dropped a set-id bit, the result is compared with the
//   sheet and only a difference fails (a normal user cannot give a file away, vfat holds no
//   modes);
// - it is flushed to disk, a failed flush failing the replacement;
// - the name must still hold the file that was read (no link, same identity, size and
//   times), so that another program's recent change is not overwritten;
// - then, only then, the sheet read takes its backup name when one is asked for (a second link
//   to it, so it keeps every byte and fact of its own), and the new file takes the sheet's
//   name in one rename; a failed backup leaves the sheet as it was.
std::optional<Failure> replaceSheet(const Folder &folder, const QByteArray &name,
    const QByteArray &contents, int original, const SheetStatus &status, const BackupPolicy &backup)
{
    if (::faccessat(folder.descriptor(), name.constData(), W_OK, AT_EACCESS) != 0)
        return Failure::fromErrno(errno, Reason::WriteRefused);
    Replacement replacement(folder.descriptor(), status.mode);
    const int fd = replacement.fd();
    if (fd < 0)
        return Failure::fromErrno(replacement.creationError(), Reason::WriteRefused);
    if (auto failure = writeAll(fd, contents))
        return failure;

    struct stat made = {};
    if (::fstat(fd, &made) != 0)
        return Failure::fromErrno(errno, Reason::WriteRefused);
    const bool ownerRight = made.st_uid == status.owner && made.st_gid == status.group;
    const bool ownerGiven = ownerRight || ::fchown(fd, status.owner, status.group) == 0;
    const auto sheetAttributes = copyAttributes(original, fd);
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
    if (::fsync(fd) != 0)
        return Failure { Reason::FlushFailed, errno };

    struct stat now = {};
    if (::fstatat(folder.descriptor(), name.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0
        || !(keyOf(now) == status.key) || qint64(now.st_size) != status.size
        || nanoseconds(now.st_mtim) != status.modified
        || nanoseconds(now.st_ctim) != status.changed)
        return Failure { Reason::ChangedBeforeReplace, 0 };
    return replacement.renameOver(name, *sheetAttributes, original, backup);
}

// A hidden file is a killed run's temporary when it bears the mark, or, on a file system that
// takes no mark, when it has a temporary's exact name; and when no live run holds its lock.
bool removeStrayTemporary(const Folder &folder, const QByteArray &name)
{
    if (!name.startsWith(temporaryPrefix))
        return false;
    struct stat opened = {};
    const auto stray = openRegularFile(folder.descriptor(), name, nullptr, opened);
    if (!stray)
        return false;
    char mark = 0;
    const ssize_t got = ::fgetxattr(stray->get(), temporaryMark, &mark, sizeof mark);
    const bool marked = got == 1 && mark == '1';
    const bool markless = got < 0 && (errno == ENOTSUP || errno == EOPNOTSUPP);
    if (!(marked || (markless && isTemporaryName(name)))
        || ::flock(stray->get(), LOCK_EX | LOCK_NB) != 0)
        return false;
    // Locked by nobody: its writer is gone. The name must still be this very file.
    const auto now = folder.lookUp(name);
    return now && now->key == keyOf(opened)
        && ::unlinkat(folder.descriptor(), name.constData(), 0) == 0;
}

} // namespace cueprune
