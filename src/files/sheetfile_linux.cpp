#include "files/sheetfile.h"

#include "files/linuxstatus.h"
#include "files/mounttype.h"
#include "files/serverread.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace cueprune {

using Reason = Failure::Reason;

SheetFile::SheetFile(SheetEntry entry)
    : entry(std::move(entry))
{
}

namespace {

// Reads descriptor whole into bytes, expecting size bytes: a sheet that grows or shrinks
// while it is read is ChangedWhileRead.
std::optional<Failure> readExpected(int descriptor, qint64 size, QByteArray &bytes)
{
    // One byte more than expected shows a sheet that grows while it is read: someone else is
    // writing it, so it is left alone.
    bytes.resize(size + 1);
    qsizetype total = 0;
    for (;;) {
        const qsizetype wanted = bytes.size() - total;
        const ssize_t count = ::read(descriptor, bytes.data() + total, std::size_t(wanted));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return Failure::fromErrno(errno, Reason::ReadRefused);
        total += count;
        // A short read that ends at the expected size is the end of the file: no further call
        // is needed to see it.
        if (count == 0 || total == bytes.size() || (count < wanted && total == size))
            break;
    }
    if (total != size)
        return Failure { Reason::ChangedWhileRead, 0 };
    bytes.resize(total);
    return std::nullopt;
}

} // namespace

std::optional<Failure> SheetFile::read(const SizeKnown &sizeKnown)
{
    struct stat opened = {};
    auto file = openRegularFile(entry.folder->descriptor(), entry.name, &entry.key, opened);
    if (!file)
        return file.failure();
    sheet.descriptor = std::move(*file);
    const int fd = sheet.descriptor.get();
    // There the size known may be a cache's, older than the file.
    sheet.fromServer = onSharedFileSystem(*entry.folder);
    if (sheet.fromServer && !readPastCaches(fd))
        return Failure { Reason::StaleCache, errno };
    if (opened.st_size > maxSheetSize)
        return Failure { Reason::TooLarge, 0 };
    if (sizeKnown)
        sizeKnown(qint64(opened.st_size));
    const auto failure = sheet.fromServer ? readFromServer(fd, maxSheetSize, sheet.bytes, opened)
                                          : readExpected(fd, qint64(opened.st_size), sheet.bytes);
    if (failure)
        return failure;
    sheet.status = statusOf(opened);
    return std::nullopt;
}

std::optional<Failure> SheetFile::replace(
    const QByteArray &contents, const BackupPolicy &backup, const WayBackSteps &wayBack)
{
    if (!sheet.descriptor.isOpen())
        return Failure { Reason::SystemError, EBADF };
    return replaceSheet(*entry.folder, entry.name, contents, sheet, backup, wayBack);
}

} // namespace cueprune
