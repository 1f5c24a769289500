#pragma once

#include "files/descriptor.h"
#include "files/failure.h"
#include "files/filekey.h"
#include "files/replacement.h"

#include <QByteArray>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace cueprune {

inline FileKey keyOf(const struct stat &status)
{
    return { quint64(status.st_dev), quint64(status.st_ino) };
}

inline qint64 nanoseconds(const timespec &time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// A sheet's status as a replacement keeps or checks it.
inline SheetStatus statusOf(const struct stat &status)
{
    return { keyOf(status), qint64(status.st_size), nanoseconds(status.st_mtim),
        nanoseconds(status.st_ctim), status.st_uid, status.st_gid, status.st_mode & 07777 };
}

// Whether this process can name its own descriptors through /proc/self/fd: a chroot or a
// small container may have no /proc.
inline bool descriptorsHaveNames()
{
    static const bool named = ::access("/proc/self/fd", X_OK) == 0;
    return named;
}

inline QByteArray nameOfDescriptor(int descriptor)
{
    return "/proc/self/fd/" + QByteArray::number(descriptor);
}

// Opens name in folder for reading when it is a regular file, and never opens anything else,
// not even for an instant: a device's driver acts when it is opened (a tape rewinds). The entry
// is first held with O_PATH, which opens nothing, and checked: a symbolic link or a file other
// than expected (when given) is SwappedDuringWalk, anything but a regular file NotRegularFile.
// Then that very file is opened through /proc. Without /proc it is opened by name and checked
// again, so that a racer could at most make it open something else for an instant.
inline Result<Descriptor> openRegularFile(
    int folder, const QByteArray &name, const FileKey *expected, struct stat &status)
{
    using Reason = Failure::Reason;
    const Descriptor held(::openat(folder, name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!held.isOpen() || ::fstat(held.get(), &status) != 0)
        return Failure::fromErrno(errno, Reason::ReadRefused);
    if (S_ISLNK(status.st_mode) || (expected && !(keyOf(status) == *expected)))
        return Failure { Reason::SwappedDuringWalk, 0 };
    if (!S_ISREG(status.st_mode))
        return Failure { Reason::NotRegularFile, 0 };
    constexpr int reading = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    if (descriptorsHaveNames()) {
        Descriptor opened(::open(nameOfDescriptor(held.get()).constData(), reading));
        if (!opened.isOpen())
            return Failure::fromErrno(errno, Reason::ReadRefused);
        return opened;
    }
    Descriptor opened(::openat(folder, name.constData(), reading | O_NOFOLLOW));
    struct stat now = {};
    if (!opened.isOpen())
        return Failure::fromErrno(errno, Reason::ReadRefused);
    if (::fstat(opened.get(), &now) != 0)
        return Failure::fromErrno(errno, Reason::ReadRefused);
    if (!(keyOf(now) == keyOf(status)))
        return Failure { Reason::SwappedDuringWalk, 0 };
    return opened;
}

} // namespace cueprune
