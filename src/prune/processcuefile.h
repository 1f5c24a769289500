#pragma once

#include "prunepass.h"

#include <QString>

// Results of processCueFile.
namespace CueResult {
constexpr int Failed = -2; // not a readable file, too large, or the rewrite failed; unchanged
constexpr int NotFound = -1; // nothing at the path, or an empty path
constexpr int Unchanged = 0; // no pregap line; the sheet was not opened for writing
constexpr int Pruned = 1; // pregap lines dropped and the sheet rewritten
} // namespace CueResult

// A real sheet is a few kilobytes; anything larger than this is not read at all, so that a
// misnamed disc image cannot exhaust memory.
constexpr qint64 maxSheetSize = 64 * 1024 * 1024;

enum class WriteMode { Rewrite, DryRun };

// Prunes the sheet at path in place (see pruneSheet). The rewrite goes to a temporary file
// that replaces the sheet only once complete, so a failure leaves the sheet as it was. With
// WriteMode::DryRun nothing is written and CueResult::Pruned means the sheet would change.
[[nodiscard]] int processCueFile(const QString &path, const KeptLineObserver &observer = {},
    WriteMode mode = WriteMode::Rewrite);

// The folder log's verdict for a result, e.g. "==> Fichier modifié !", without a line feed.
[[nodiscard]] QString verdictText(int result);
