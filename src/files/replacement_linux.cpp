#include "files/replacement.h"

#include "files/attributes.h"
#include "files/backup.h"
#include "files/linuxstatus.h"
#include "files/newfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace cueprune {

namespace {

using Reason = Failure::Reason;

// The status of name in folder now; nothing when it is gone.
std::optional<SheetStatus> currentStatus(int folder, const QByteArray &name)
{
    struct stat now = {};
    if (::fstatat(folder, name.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return statusOf(now);
}

// Whether name in folder is still the file read, as its status says: same identity, size and
// times.
bool statusAsRead(int folder, const QByteArray &name, const SheetStatus &status)
{
    const auto now = currentStatus(folder, name);
    return now && now->key == status.key && now->size == status.size
        && now->modified == status.modified && now->changed == status.changed;
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
// - the way back asked for (a diff, a record) is announced, to be written out meanwhile;
// - the new file is flushed to disk, a failed flush failing the replacement;
// - the name must still hold the file that was read (same identity, size and times), so that
//   another program's recent change is not overwritten;
// - the new file gets its temporary name, which names the sheet it replaces, so that a run
//   after a crash knows what it is;
// - the sheet read takes its backup name when one is asked for (chosen before the new file is
//   opened; a second link to it, so it keeps every byte and fact of its own; a flushed copy
//   where links are refused; a backup that already holds the text read is used as it is); a
//   failed backup leaves the sheet as it was;
// - the sheet is closed: FUSE file systems hide a file renamed over while open, and an
//   interrupted rename would leave the sheet hidden with no name;
// - the name must still hold the very bytes read, compared afresh (from the server, on FUSE
//   and network file systems);
// - the way back must be written out (waited for), and the name is checked once more, since
//   that may take a while;
// - then, only then, the new file takes the sheet's name in one rename.
// A backup made for a replacement that then fails goes again only while it is still the very
// file made and the sheet still the file read: another run that replaced the sheet meanwhile
// may have taken that backup for its own.
std::optional<Failure> replaceSheet(const Folder &folder, const QByteArray &name,
    const QByteArray &contents, ReadSheet &read, const BackupPolicy &backup,
    const WayBackSteps &wayBack)
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
    NewFile replacement(folderFd, name, contents.size(), read.status.mode);
    const int fd = replacement.fd();
    if (fd < 0)
        return Failure::fromErrno(replacement.creationError(), Reason::WriteRefused);
    if (auto failure = writeAll(fd, contents))
        return failure;
    if (auto failure = keepOwnerAttributesAndMode(folderFd, fd, read))
        return failure;
    if (wayBack.announce)
        wayBack.announce();
    if (::fsync(fd) != 0)
        return Failure { Reason::FlushFailed, errno };
    if (!statusAsRead(folderFd, name, read.status))
        return Failure { Reason::ChangedBeforeReplace, 0 };
    if (auto failure = replacement.nameAside())
        return failure;

    MadeBackup made;
    if (plan) {
        if (auto failure = keepBackup(folderFd, name, read, *plan, made))
            return failure;
    }
    read.descriptor.reset();
    // Checked again after the wait for the way back, as it was when its bytes were: a backup's
    // link has changed the sheet's change time since it was read.
    const auto checked = wayBack.ready ? currentStatus(folderFd, name) : std::nullopt;
    // A clock coarser than the change (exFAT's 2 seconds) hides a write of the same size from
    // the status: the bytes tell.
    std::optional<Failure> failure = checkHolds(folderFd, name, &read.status.key, read);
    if (!failure && wayBack.ready) {
        failure = wayBack.ready();
        if (!failure && (!checked || !statusAsRead(folderFd, name, *checked)))
            failure = Failure { Reason::ChangedBeforeReplace, 0 };
    }
    if (!failure && !replacement.moveToTarget(false))
        failure = Failure::fromErrno(errno, Reason::WriteRefused);
    if (failure)
        dropBackup(folderFd, name, read, made);
    return failure;
}

} // namespace cueprune
