#pragma once

#include "files/failure.h"

#include <QByteArray>

#include <sys/stat.h>

#include <optional>

namespace cueprune {

// Reads that see a file as its server holds it now. FUSE and network file systems keep a
// file's size and pages in caches that a change made on the server, or through another
// machine, does not reach at once (sshfs for 20 s): an ordinary read stops at the cached size
// and cuts a sheet short, and a status, or a second ordinary read, agrees with it. O_DIRECT
// reads go past those caches to the server, which ends a read where the file really ends.

// Makes the reads of descriptor go to the server; false with errno where the file system
// cannot.
[[nodiscard]] bool readPastCaches(int descriptor);

// Reads descriptor, set by readPastCaches, from where it is to the end of the file, into
// bytes: more than limit bytes is TooLarge. status is then the file's own, whose size must be
// that of the bytes read: the kernel ends a read at the size it caches, so an end of file
// there may be its own, and a size the system does not confirm is StaleCache.
[[nodiscard]] std::optional<Failure> readFromServer(
    int descriptor, qint64 limit, QByteArray &bytes, struct stat &status);

} // namespace cueprune
