#include "engine/processcuefile.h"

#include "core/sheetdiff.h"
#include "files/sheetfile.h"

#include <QFile>

namespace cueprune {

CueOutcome CueOutcome::failedWith(const Failure &failure)
{
    CueOutcome outcome;
    outcome.result
        = failure.reason == Failure::Reason::Missing ? CueResult::NotFound : CueResult::Failed;
    outcome.failure = failure;
    return outcome;
}

CueOutcome CueOutcome::unchanged(QByteArray kept)
{
    CueOutcome outcome;
    outcome.result = CueResult::Unchanged;
    outcome.keptBytes = std::move(kept);
    return outcome;
}

CueOutcome CueOutcome::prunedAt(QList<qsizetype> dropped, QByteArray kept)
{
    CueOutcome outcome;
    outcome.result = CueResult::Pruned;
    outcome.droppedLines = std::move(dropped);
    outcome.keptBytes = std::move(kept);
    return outcome;
}

namespace {

// A sheet that changes, with what was asked of it said; kept only when an observer was given.
CueOutcome pruned(const SheetEntry &entry, const QByteArray &sheet, QList<qsizetype> dropped,
    QByteArray kept, const PruneOptions &options)
{
    CueOutcome outcome = CueOutcome::prunedAt(std::move(dropped), std::move(kept));
    if (options.costs)
        outcome.warnings = pruningWarnings(sheet, outcome.droppedLines);
    if (options.diff)
        outcome.diff = unifiedDiff(sheet, outcome.droppedLines, entry.shownPath);
    return outcome;
}

} // namespace

CueOutcome processCueFile(const SheetEntry &entry, const KeptLineObserver &observer,
    const PruneOptions &options, ByteBudget *budget, const WayBackGate &gate)
{
    // Room for the sheet and its pruned copy.
    ByteBudget::Share share(budget);
    SheetFile sheet(entry);
    if (const auto failure = sheet.read([&share](qint64 size) { share.take(2 * size); }))
        return CueOutcome::failedWith(*failure);
    // A dry run needs only the lines, not the pruned bytes it will never write.
    if (options.mode == WriteMode::DryRun && !observer) {
        QList<qsizetype> dropped = pregapLines(sheet.contents(), options.rule);
        if (dropped.isEmpty())
            return CueOutcome::unchanged();
        return pruned(entry, sheet.contents(), std::move(dropped), {}, options);
    }

    PrunedSheet result = pruneSheet(sheet.contents(), observer, options.rule);
    QByteArray kept = observer ? result.bytes : QByteArray();
    if (result.droppedLines.isEmpty())
        return CueOutcome::unchanged(kept);
    // Said before the replace, which gives the sheet's descriptor and bytes up.
    CueOutcome outcome
        = pruned(entry, sheet.contents(), std::move(result.droppedLines), kept, options);
    if (options.mode == WriteMode::Rewrite) {
        WayBackSteps wayBack;
        if (gate.ready) {
            wayBack.announce = [&] { gate.announce(outcome); };
            wayBack.ready = [&] {
                share.giveBack();
                return gate.ready();
            };
        }
        if (const auto failure = sheet.replace(result.bytes, options.backup, wayBack))
            return CueOutcome::failedWith(*failure);
    }
    return outcome;
}

CueOutcome processCueFile(
    const QByteArray &path, const KeptLineObserver &observer, const PruneOptions &options)
{
    const auto named = openNamedPath(path);
    if (!named)
        return CueOutcome::failedWith(named.failure());
    if (named->folder)
        return CueOutcome::failedWith({ Failure::Reason::NotRegularFile, 0 });
    return processCueFile(named->sheet, observer, options);
}

CueOutcome processCueFile(const QString &path, const KeptLineObserver &observer)
{
    return processCueFile(QFile::encodeName(path), observer);
}

} // namespace cueprune
