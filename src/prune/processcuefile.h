#pragma once

#include "prunepass.h"

#include <QString>

// Results of processCueFile.
namespace CueResult {
constexpr int Failed = -2; // not a readable file, or the rewrite failed; the sheet is unchanged
constexpr int NotFound = -1; // nothing at the path, or an empty path
constexpr int Unchanged = 0; // no pregap line; the sheet was not opened for writing
constexpr int Pruned = 1; // pregap lines dropped and the sheet rewritten
} // namespace CueResult

// Prunes the sheet at path in place (see pruneSheet). The rewrite goes to a temporary file
// that replaces the sheet only once complete, so a failure leaves the sheet as it was.
[[nodiscard]] int processCueFile(const QString &path, const KeptLineObserver &observer = {});
