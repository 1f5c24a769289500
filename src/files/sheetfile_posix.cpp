#include "files/sheetfile.h"

#include "files/posixstatus.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace cueprune {

using Reason = Failure::Reason;

SheetFile::SheetFile(SheetEntry entry)
    : entry(std::move(entry))
{
}

std::optional<Failure> SheetFile::read(const SizeKnown &sizeKnown)
{
    // Opened without following a link and without blocking, and read only once known to be
    // the regular file listed, so that neither a link put in its place nor a FIFO or device
    // named like a sheet is ever read.
    descriptor = Descriptor(::openat(entry.folder->descriptor(), entry.name.constData(),
        O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
    if (!descriptor.isOpen()) {
        if (errno == ELOOP)
            return Failure { Reason::SwappedDuringWalk, errno };
        return Failure::fromErrno(errno, Reason::ReadRefused);
    }
    struct stat opened = {};
    if (::fstat(descriptor.get(), &opened) != 0)
        return Failure::fromErrno(errno, Reason::ReadRefused);
    if (!(keyOf(opened) == entry.key))
        return Failure { Reason::SwappedDuringWalk, 0 };
    if (!S_ISREG(opened.st_mode))
        return Failure { Reason::NotRegularFile, 0 };
    if (opened.st_size > maxSheetSize)
        return Failure { Reason::TooLarge, 0 };
    status = { keyOf(opened), qint64(opened.st_size), nanoseconds(opened.st_mtim),
        nanoseconds(opened.st_ctim), opened.st_uid, opened.st_gid, opened.st_mode & 07777 };
    if (sizeKnown)
        sizeKnown(status.size);

    // One byte more than expected shows a sheet that grows while it is read: someone else is
    // writing it, so it is left alone.
    bytes.resize(status.size + 1);
    qsizetype total = 0;
    for (;;) {
        const qsizetype wanted = bytes.size() - total;
        const ssize_t count = ::read(descriptor.get(), bytes.data() + total, std::size_t(wanted));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return Failure::fromErrno(errno, Reason::ReadRefused);
        total += count;
        // A short read that ends at the expected size is the end of the file: no further call
        // is needed to see it.
        if (count == 0 || total == bytes.size() || (count < wanted && total == status.size))
            break;
    }
    if (total != status.size)
        return Failure { Reason::ChangedWhileRead, 0 };
    bytes.resize(total);
    return std::nullopt;
}

std::optional<Failure> SheetFile::replace(const QByteArray &contents)
{
    if (!descriptor.isOpen())
        return Failure { Reason::SystemError, EBADF };
    return replaceSheet(*entry.folder, entry.name, contents, descriptor.get(), status);
}

} // namespace cueprune
