#pragma once

#include "files/failure.h"
#include "files/replacement.h"

#include <optional>

namespace cueprune {

// A file's facts beyond its bytes: owner, group, extended attributes (POSIX ACLs among them)
// and mode bits.

// Gives the new file fd, in folder, the owner, group, extended attributes and mode bits of the
// sheet read, each only where it lacks them, since every metadata write costs a journalled disk.
// Where the system refuses one, or may have dropped a set-id bit, the result is compared with the
// sheet and only a difference fails.
[[nodiscard]] std::optional<Failure> keepOwnerAttributesAndMode(
    int folder, int fd, const ReadSheet &read);

} // namespace cueprune
