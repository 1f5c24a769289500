#include "files/serverread.h"

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>

namespace cueprune {

using Reason = Failure::Reason;

namespace {

// The status of descriptor as its file system gives it now, not as the kernel caches it.
bool statusNow(int descriptor, struct stat &status)
{
    struct statx now = {};
    if (::statx(descriptor, "", AT_EMPTY_PATH | AT_STATX_FORCE_SYNC, STATX_BASIC_STATS, &now) != 0)
        return ::fstat(descriptor, &status) == 0;
    status.st_dev = makedev(now.stx_dev_major, now.stx_dev_minor);
    status.st_ino = now.stx_ino;
    status.st_mode = now.stx_mode;
    status.st_nlink = now.stx_nlink;
    status.st_uid = now.stx_uid;
    status.st_gid = now.stx_gid;
    status.st_size = off_t(now.stx_size);
    status.st_mtim = { time_t(now.stx_mtime.tv_sec), long(now.stx_mtime.tv_nsec) };
    status.st_ctim = { time_t(now.stx_ctime.tv_sec), long(now.stx_ctime.tv_nsec) };
    return true;
}

} // namespace

bool readPastCaches(int descriptor)
{
    const int flags = ::fcntl(descriptor, F_GETFL);
    return flags >= 0 && ::fcntl(descriptor, F_SETFL, flags | O_DIRECT) == 0;
}

std::optional<Failure> readFromServer(
    int descriptor, qint64 limit, QByteArray &bytes, struct stat &status)
{
    // Room for more than the cached size, so that the server's end of file ends a read short
    // and the kernel takes the real size from it.
    bytes.resize(qMin(qint64(status.st_size) + qint64(64) * 1024, limit + 1));
    qsizetype total = 0;
    for (;;) {
        if (total == bytes.size()) {
            if (total > limit)
                return Failure { Reason::TooLarge, 0 };
            bytes.resize(qMin(2 * qint64(total), limit + 1));
        }
        const ssize_t count
            = ::read(descriptor, bytes.data() + total, std::size_t(bytes.size() - total));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return Failure::fromErrno(errno, Reason::ReadRefused);
        if (count == 0)
            break;
        total += count;
    }
    bytes.resize(total);
    if (!statusNow(descriptor, status))
        return Failure::fromErrno(errno, Reason::ReadRefused);
    if (qint64(status.st_size) != total)
        return Failure { Reason::StaleCache, 0 };
    return std::nullopt;
}

} // namespace cueprune
