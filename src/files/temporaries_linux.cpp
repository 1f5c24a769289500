#include "files/temporaries.h"

#include "files/linuxstatus.h"

#include <QFile>
#include <QHash>
#include <QRandomGenerator>

#include <fcntl.h>
#include <linux/magic.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <mutex>

namespace cueprune {

namespace {

constexpr char prefix[] = ".cueprune-";
constexpr qsizetype prefixSize = qsizetype(sizeof prefix - 1);
constexpr qsizetype randomLetters = 8;
constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
// Lower case only, so that a file system that ignores case tells two names apart all the same.
constexpr qsizetype longestName = 255;

// Longer than any run takes to write and flush one sheet, even a 64 MiB one on a slow share.
constexpr std::time_t abandonedAfterSeconds = std::time_t(10) * 60;

bool isRandomPart(QByteArrayView part)
{
    if (part.size() != randomLetters)
        return false;
    for (const char letter : part) {
        if (!std::strchr(letters, letter) || letter == '\0')
            return false;
    }
    return true;
}

bool isDecimal(QByteArrayView digits)
{
    if (digits.isEmpty() || digits.size() > 18)
        return false;
    for (const char digit : digits) {
        if (digit < '0' || digit > '9')
            return false;
    }
    return true;
}

// The type of the mount that holds device, and where it comes from, from the kernel's table:
// empty where there is no /proc.
std::pair<QByteArray, QByteArray> mountOf(dev_t device)
{
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return {};
    const QByteArray wanted
        = QByteArray::number(major(device)) + ':' + QByteArray::number(minor(device));
    // Read whole: a file of /proc gives no size, so atEnd() would hold at once.
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf("-");
        if (fields.size() > 2 && fields[2] == wanted && separator > 0
            && separator + 2 < fields.size())
            return { fields[separator + 1], fields[separator + 2] };
    }
    return {};
}

bool sharedFileSystem(int folder, dev_t device)
{
    struct statfs system = {};
    if (::fstatfs(folder, &system) != 0)
        return true;
    switch (quint32(system.f_type)) {
    case NFS_SUPER_MAGIC:
    case SMB_SUPER_MAGIC:
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2
    case 0x01021997: // 9P
    case 0x00C36400: // Ceph
    case AFS_SUPER_MAGIC:
    case CODA_SUPER_MAGIC:
        return true;
    case FUSE_SUPER_MAGIC: {
        // A FUSE file system on a block device or an image file is a disk of this machine.
        const auto [type, source] = mountOf(device);
        return !(type == "fuseblk" || (type == "fuse" && source.startsWith('/')));
    }
    default:
        return false;
    }
}

bool olderThanAnyRun(const struct stat &file)
{
    return std::time(nullptr) - file.st_mtime > abandonedAfterSeconds;
}

} // namespace

QByteArray temporaryName(const QByteArray &replaced, qint64 size)
{
    QByteArray name = prefix;
    for (qsizetype i = 0; i < randomLetters; ++i)
        name += letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))];
    const QByteArray carried = '-' + QByteArray::number(size) + '-' + replaced;
    return name.size() + carried.size() <= longestName ? name + carried : name;
}

std::optional<TemporaryName> parseTemporaryName(const QByteArray &name)
{
    if (!name.startsWith(prefix)
        || !isRandomPart(QByteArrayView(name)
                             .sliced(prefixSize)
                             .first(qMin(randomLetters, name.size() - prefixSize))))
        return std::nullopt;
    const QByteArrayView rest = QByteArrayView(name).sliced(prefixSize + randomLetters);
    if (rest.isEmpty())
        return TemporaryName {};
    const qsizetype dash = rest.indexOf('-', 1);
    if (!rest.startsWith('-') || dash < 0 || dash + 1 == rest.size()
        || !isDecimal(rest.sliced(1, dash - 1)))
        return std::nullopt;
    return TemporaryName { rest.sliced(dash + 1).toByteArray(),
        rest.sliced(1, dash - 1).toLongLong() };
}

bool renameExclusively(int folder, const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(folder, from.constData(), folder, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
    struct stat existing = {};
    if (::fstatat(folder, to.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return errno == ENOENT && ::renameat(folder, from.constData(), folder, to.constData()) == 0;
}

bool onSharedFileSystem(const Folder &folder)
{
    // Asked once a file system: the mount table is read only for FUSE, and only once.
    static std::mutex mutex;
    static QHash<quint64, bool> known;
    const std::lock_guard<std::mutex> lock(mutex);
    const quint64 device = folder.key().device;
    const auto found = known.constFind(device);
    if (found != known.cend())
        return *found;
    return *known.insert(device, sharedFileSystem(folder.descriptor(), dev_t(device)));
}

Leftover settleLeftover(const Folder &folder, const QByteArray &name)
{
    const auto temporary = parseTemporaryName(name);
    if (!temporary)
        return Leftover::None;
    struct stat opened = {};
    const auto file = openRegularFile(folder.descriptor(), name, nullptr, opened);
    // A second link is a user's doing, and a lock a live writer's on this machine.
    if (!file || opened.st_nlink != 1 || ::flock(file->get(), LOCK_EX | LOCK_NB) != 0)
        return Leftover::None;
    if (onSharedFileSystem(folder) && !olderThanAnyRun(opened))
        return Leftover::None;
    const auto stillThisFile = [&] {
        const auto now = folder.lookUp(name);
        return now && now->key == keyOf(opened);
    };
    if (!temporary->replaced.isEmpty()) {
        const auto replaced = folder.lookUp(temporary->replaced);
        if (!replaced && replaced.failure().reason != Failure::Reason::Missing)
            return Leftover::None;
        if (!replaced) {
            const bool complete = qint64(opened.st_size) == temporary->size;
            return complete && stillThisFile()
                    && renameExclusively(folder.descriptor(), name, temporary->replaced)
                ? Leftover::Recovered
                : Leftover::None;
        }
    }
    return stillThisFile() && ::unlinkat(folder.descriptor(), name.constData(), 0) == 0
        ? Leftover::Removed
        : Leftover::None;
}

} // namespace cueprune
