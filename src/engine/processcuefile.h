#pragma once

#include "core/linerule.h"
#include "engine/bytebudget.h"
#include "files/failure.h"
#include "files/folder.h"
#include "files/replacement.h"

#include <QString>

#include <optional>

namespace cueprune {

// What processCueFile did to a sheet. -1, 0 and 1 are the codes the pass has always returned
// (a program's log or a caller may know them); -2 came with failures other than a missing path.
enum class CueResult {
    Failed = -2, // not a readable regular file, too large, or the rewrite failed; unchanged
    NotFound = -1, // nothing at the path, or an empty path
    Unchanged = 0, // no pregap line; the sheet was not opened for writing
    Pruned = 1, // pregap lines dropped and the sheet rewritten
};

struct CueOutcome
{
    CueResult result = CueResult::Failed;
    std::optional<Failure> failure; // why, for Failed and NotFound
    qsizetype droppedLines = 0; // by Pruned
    QByteArray keptBytes; // the sheet's text as kept, when an observer was given
};

enum class WriteMode { Rewrite, DryRun };

// Prunes the sheet in place (see pruneSheet and SheetFile::replace), keeping the old one as
// backup says: a failure leaves the sheet as it was. With WriteMode::DryRun nothing is written
// and CueResult::Pruned means the sheet would change. With a budget, the sheet waits for room
// in it before it is read (see ByteBudget).
[[nodiscard]] CueOutcome processCueFile(const SheetEntry &sheet,
    const KeptLineObserver &observer = {}, WriteMode mode = WriteMode::Rewrite,
    ByteBudget *budget = nullptr, const BackupPolicy &backup = {});

// The sheet at path (as the system names it), resolved by the kernel as given.
[[nodiscard]] CueOutcome processCueFile(
    const QByteArray &path, const KeptLineObserver &observer = {});

// The sheet named by a path as typed or chosen in the window.
[[nodiscard]] CueOutcome processCueFile(const QString &path, const KeptLineObserver &observer = {});

} // namespace cueprune
