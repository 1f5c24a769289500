#pragma once

#include "core/linerule.h"
#include "core/pruningcost.h"
#include "engine/bytebudget.h"
#include "files/failure.h"
#include "files/folder.h"
#include "files/replacement.h"

#include <QString>

#include <functional>
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
    QList<qsizetype> droppedLines; // by Pruned: their numbers, from 1
    QByteArray keptBytes; // the sheet's text as kept, when an observer was given
    // By Pruned, when asked (PruneOptions::costs): what the change costs later readers, and
    // the change as a unified diff.
    QList<PruningWarning> warnings;
    QByteArray diff;

    // NotFound for a missing path, Failed for any other failure.
    [[nodiscard]] static CueOutcome failedWith(const Failure &failure);
    [[nodiscard]] static CueOutcome unchanged(QByteArray kept = {});
    [[nodiscard]] static CueOutcome prunedAt(QList<qsizetype> dropped, QByteArray kept = {});
};

enum class WriteMode { Rewrite, DryRun };

// How a sheet is pruned, and what is said of it beyond its verdict.
struct PruneOptions
{
    WriteMode mode = WriteMode::Rewrite;
    PregapRule rule = PregapRule::All;
    BackupPolicy backup;
    bool costs = false; // the warnings of a sheet that changes
    bool diff = false; // its unified diff (see unifiedDiff)
};

// The way back of a sheet that changes (its diff, its record): announce is given its outcome
// as it will be once renamed, as soon as its new text is written; ready is called just before
// the rename and waits until the way back is written out. A failure of ready fails the sheet,
// left as it was.
struct WayBackGate
{
    std::function<void(const CueOutcome &planned)> announce;
    std::function<std::optional<Failure>()> ready;
};

// Prunes the sheet in place (see pruneSheet and SheetFile::replace), keeping the old one as
// the options' backup says: a failure leaves the sheet as it was. With WriteMode::DryRun
// nothing is written and CueResult::Pruned means the sheet would change. With a budget, the
// sheet waits for room in it before it is read (see ByteBudget), and gives the room back
// before the gate's ready, which may wait for other sheets.
[[nodiscard]] CueOutcome processCueFile(const SheetEntry &sheet,
    const KeptLineObserver &observer = {}, const PruneOptions &options = {},
    ByteBudget *budget = nullptr, const WayBackGate &gate = {});

// The sheet at path (as the system names it), resolved by the kernel as given.
[[nodiscard]] CueOutcome processCueFile(const QByteArray &path,
    const KeptLineObserver &observer = {}, const PruneOptions &options = {});

// The sheet named by a path as typed or chosen in the window.
[[nodiscard]] CueOutcome processCueFile(const QString &path, const KeptLineObserver &observer = {});

} // namespace cueprune
