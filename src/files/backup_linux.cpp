#include "files/backup.h"

#include "files/backupnames.h"
#include "files/newfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

// Writes the bytes read into a new file under backupName, flushed, with the sheet's mode bits
// and modification time: where hard links are refused, the backup is a copy. Only where
// nothing has that name yet, unless replaceOlder; made is left empty when an older backup was
// replaced.
std::optional<Failure> copyBackup(int folder, const QByteArray &backupName, const ReadSheet &read,
    bool replaceOlder, QByteArray &made)
{
    NewFile copy(folder, backupName, read.bytes.size(), read.status.mode);
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
    return BackupPlan { {}, highest + 1 };
}

std::optional<Failure> keepBackup(int folder, const QByteArray &name, const ReadSheet &read,
    const BackupPlan &plan, QByteArray &made)
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

} // namespace cueprune
