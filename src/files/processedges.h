#pragma once

#include <cstdio>

namespace cueprune {

// The edges of the process that every program secures before it opens anything.

// Opens the null device on each of the standard descriptors 0, 1 and 2 that is closed, as a
// cron job or a service manager may start a program: otherwise the first folder or sheet
// opened would take that number, and what the program prints would land in it. False when it
// cannot be done; the program must then stop before it opens anything.
[[nodiscard]] bool openClosedStandardDescriptors();

// Raises the soft limit on open descriptors to the hard limit, so that a low default does not
// cut a large run short.
void raiseDescriptorLimit();

// How many descriptors the process may hold at once.
[[nodiscard]] int descriptorLimit();

// How many more descriptors the process may open now: the limit less those open below it.
[[nodiscard]] int descriptorsFree();

// Flushes stream: whether everything written to it went out (a full disk, a reader gone).
[[nodiscard]] bool allWritten(std::FILE *stream);

// Whether what was written through descriptor fd is kept: confirmed by the disk for a regular
// file; a pipe, a socket or a terminal holds it once written.
[[nodiscard]] bool writtenOut(int fd);

} // namespace cueprune
