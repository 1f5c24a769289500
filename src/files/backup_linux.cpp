#include "files/backup.h"

#include "files/backupnames.h"
#include "files/newfile.h"
#include "files/serverread.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace cueprune {

namespace {

using Reason = Failure::Reason;

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
    int highest = 0;
    while (const dirent *entry = ::readdir(stream))
        highest = qMax(highest, backupNumber(entry->d_name, name).value_or(0));
    ::closedir(stream);
    return highest;
}

// Whether backupName in folder already keeps the sheet read: it is its very file, or holds
// exactly its bytes.
bool alreadyKept(int folder, const QByteArray &backupName, const ReadSheet &read)
{
    struct stat status = {};
    return ::fstatat(folder, backupName.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0
        && (keyOf(status) == read.status.key || !checkHolds(folder, backupName, nullptr, read));
}

// Writes the bytes read into a new file under backupName, flushed, with the sheet's mode bits
// and modification time: where hard links are refused, the backup is a copy. Only where
// nothing has that name yet, unless replaceOlder.
std::optional<Failure> copyBackup(int folder, const QByteArray &backupName, const ReadSheet &read,
    bool replaceOlder, MadeBackup &made)
{
    made = {};
    if (alreadyKept(folder, backupName, read))
        return std::nullopt;
    NewFile copy(folder, backupName, read.bytes.size(), read.status.mode);
    struct stat status = {};
    if (copy.fd() < 0 || ::fstat(copy.fd(), &status) != 0)
        return Failure { Reason::BackupFailed, copy.fd() < 0 ? copy.creationError() : errno };
    if (const auto failure = writeAll(copy.fd(), read.bytes))
        return Failure { Reason::BackupFailed, failure->systemError };
    if (::fsync(copy.fd()) != 0)
        return Failure { Reason::BackupFailed, errno };
    if (const auto failure = copy.nameAside())
        return Failure { Reason::BackupFailed, failure->systemError };
    const bool placed = copy.moveToTarget(true);
    const bool replacedOlder
        = !placed && errno == EEXIST && replaceOlder && copy.moveToTarget(false);
    if (!placed && !replacedOlder)
        return Failure { Reason::BackupFailed, errno };
    // The sheet's time only now that the copy has its backup name: while it had a temporary's,
    // its own time told another machine's run that it was fresh. A help to its reader, not a
    // promise.
    const timespec modified { time_t(read.status.modified / 1000000000),
        long(read.status.modified % 1000000000) };
    const timespec times[2] = { modified, modified };
    ::futimens(copy.fd(), times);
    if (placed)
        made = { backupName, keyOf(status) };
    return std::nullopt;
}

// Gives the sheet read its backup name backupName: a second link to that very file, so that
// it keeps every byte and fact of its own, or a copy where links are refused. Only where
// nothing has that name yet, unless replaceOlder.
std::optional<Failure> placeBackup(int folder, const QByteArray &name, const QByteArray &backupName,
    const ReadSheet &read, bool replaceOlder, MadeBackup &made)
{
    made = {};
    const QByteArray self = nameOfDescriptor(read.descriptor.get());
    const auto link = [&](const QByteArray &to) {
        return descriptorsHaveNames()
            ? ::linkat(AT_FDCWD, self.constData(), folder, to.constData(), AT_SYMLINK_FOLLOW)
            : ::linkat(folder, name.constData(), folder, to.constData(), 0);
    };
    if (link(backupName) == 0) {
        made = { backupName, read.status.key };
        return std::nullopt;
    }
    // A rename onto another link of the same file does nothing, and would leave the link aside.
    const int linkError = errno;
    if (linkError == EEXIST && alreadyKept(folder, backupName, read))
        return std::nullopt;
    errno = linkError;
    if (errno == EEXIST && replaceOlder) {
        // An older backup is replaced in one rename, as cp replaces it: the link is made aside.
        if (const auto aside = linkAside(backupName, read.bytes.size(), link)) {
            const bool renamed
                = ::renameat(folder, aside->constData(), folder, backupName.constData()) == 0;
            const int error = errno;
            // Left after a failure, or after a rename onto the very file, which another run
            // gave the backup name meanwhile.
            ::unlinkat(folder, aside->constData(), 0);
            return renamed ? std::nullopt : std::optional(Failure { Reason::BackupFailed, error });
        }
    }
    if (linksRefused(errno))
        return copyBackup(folder, backupName, read, replaceOlder, made);
    return Failure { Reason::BackupFailed, errno };
}

} // namespace

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
    // The highest is tried first: a killed run's backup of the same text is used again.
    return BackupPlan { {}, qMax(highest, 1) };
}

std::optional<Failure> keepBackup(int folder, const QByteArray &name, const ReadSheet &read,
    const BackupPlan &plan, MadeBackup &made)
{
    if (plan.firstNumber == 0)
        return placeBackup(folder, name, plan.simpleName, read, true, made);
    // Another run may have taken a number since: the next ones are tried.
    for (int number = plan.firstNumber; number < plan.firstNumber + 100; ++number) {
        const QByteArray numbered = numberedBackupName(name, number);
        auto failure = placeBackup(folder, name, numbered, read, false, made);
        if (!failure || failure->systemError != EEXIST)
            return failure;
    }
    return Failure { Reason::BackupFailed, EEXIST };
}

void dropBackup(int folder, const QByteArray &name, const ReadSheet &read, const MadeBackup &made)
{
    struct stat backup = {};
    // Identity alone did not prove it on exFAT through FUSE, where two runs at once lost a
    // backup so: the sheet must still be the file read and hold its very bytes.
    if (!made.name.isEmpty()
        && ::fstatat(folder, made.name.constData(), &backup, AT_SYMLINK_NOFOLLOW) == 0
        && keyOf(backup) == made.key && !checkHolds(folder, name, &read.status.key, read))
        ::unlinkat(folder, made.name.constData(), 0);
}

namespace {

// Fails unless descriptor holds exactly bytes as the server has them.
std::optional<Failure> serverHolds(int descriptor, const QByteArray &bytes, struct stat &status)
{
    if (!readPastCaches(descriptor))
        return Failure { Reason::StaleCache, errno };
    QByteArray now;
    const auto failure = readFromServer(descriptor, bytes.size(), now, status);
    if (failure && failure->reason != Reason::TooLarge)
        return failure;
    return !failure && now == bytes ? std::nullopt
                                    : std::optional(Failure { Reason::ChangedBeforeReplace, 0 });
}

} // namespace

std::optional<Failure> checkHolds(
    int folder, const QByteArray &name, const FileKey *expected, const ReadSheet &read)
{
    const QByteArray &bytes = read.bytes;
    const Failure changed { Reason::ChangedBeforeReplace, 0 };
    struct stat opened = {};
    const auto file = openRegularFile(folder, name, expected, opened);
    if (!file)
        return file.failure().reason == Reason::SwappedDuringWalk ? changed : file.failure();
    if (read.fromServer)
        return serverHolds(file->get(), bytes, opened);
    if (qint64(opened.st_size) != bytes.size())
        return changed;
    char buffer[16 * 1024];
    for (qsizetype at = 0;;) {
        const ssize_t got = ::read(file->get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Failure::fromErrno(errno, Reason::ReadRefused);
        if (got == 0)
            return at == bytes.size() ? std::nullopt : std::optional<Failure>(changed);
        if (got > bytes.size() - at
            || std::memcmp(buffer, bytes.constData() + at, std::size_t(got)) != 0)
            return changed;
        at += got;
    }
}

} // namespace cueprune
