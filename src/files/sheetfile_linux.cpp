#include "files/sheetfile.h"

#include "files/linuxstatus.h"

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
    struct stat opened = {};
    auto file = openRegularFile(entry.folder->descriptor(), entry.name, &entry.key, opened);
    if (!file)
        return file.failure();
    sheet.descriptor = std::move(*file);
    if (opened.st_size > maxSheetSize)
        return Failure { Reason::TooLarge, 0 };
    SheetStatus &status = sheet.status;
    status = { keyOf(opened), qint64(opened.st_size), nanoseconds(opened.st_mtim),
        nanoseconds(opened.st_ctim), opened.st_uid, opened.st_gid, opened.st_mode & 07777 };
    if (sizeKnown)
        sizeKnown(status.size);

    // One byte more than expected shows a sheet that grows while it is read: someone else is
    // writing it, so it is left alone.
    QByteArray &bytes = sheet.bytes;
    bytes.resize(status.size + 1);
    qsizetype total = 0;
    for (;;) {
        const qsizetype wanted = bytes.size() - total;
        const ssize_t count
            = ::read(sheet.descriptor.get(), bytes.data() + total, std::size_t(wanted));
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

std::optional<Failure> SheetFile::replace(
    const QByteArray &contents, const BackupPolicy &backup, const BeforeRename &beforeRename)
{
    if (!sheet.descriptor.isOpen())
        return Failure { Reason::SystemError, EBADF };
    return replaceSheet(*entry.folder, entry.name, contents, sheet, backup, beforeRename);
}

} // namespace cueprune
