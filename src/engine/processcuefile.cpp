#include "engine/processcuefile.h"

#include "core/sheetdiff.h"
#include "files/sheetfile.h"

#include <QFile>

namespace cueprune {

namespace {

CueOutcome failed(const Failure &failure)
{
    return { failure.reason == Failure::Reason::Missing ? CueResult::NotFound : CueResult::Failed,
        failure, {}, {}, {}, {} };
}

// A sheet that changes, with what was asked of it said; kept only when an observer was given.
CueOutcome pruned(const SheetEntry &entry, const QByteArray &sheet, QList<qsizetype> dropped,
    QByteArray kept, const PruneOptions &options)
{
    CueOutcome outcome { CueResult::Pruned, {}, std::move(dropped), std::move(kept), {}, {} };
    if (options.costs)
        outcome.warnings = pruningWarnings(sheet, outcome.droppedLines);
    if (options.diff)
        outcome.diff = unifiedDiff(sheet, outcome.droppedLines, entry.shownPath);
    return outcome;
}

} // namespace

CueOutcome processCueFile(const SheetEntry &entry, const KeptLineObserver &observer,
    const PruneOptions &options, ByteBudget *budget)
{
    // Room for the sheet and its pruned copy.
    ByteBudget::Share share(budget);
    SheetFile sheet(entry);
    if (const auto failure = sheet.read([&share](qint64 size) { share.take(2 * size); }))
        return failed(*failure);
    // A dry run needs only the lines, not the pruned bytes it will never write.
    if (options.mode == WriteMode::DryRun && !observer) {
        QList<qsizetype> dropped = pregapLines(sheet.contents(), options.rule);
        if (dropped.isEmpty())
            return { CueResult::Unchanged, {}, {}, {}, {}, {} };
        return pruned(entry, sheet.contents(), std::move(dropped), {}, options);
    }

    PrunedSheet result = pruneSheet(sheet.contents(), observer, options.rule);
    QByteArray kept = observer ? result.bytes : QByteArray();
    if (result.droppedLines.isEmpty())
        return { CueResult::Unchanged, {}, {}, kept, {}, {} };
    // Said before the replace, which gives the sheet's descriptor and bytes up.
    CueOutcome outcome
        = pruned(entry, sheet.contents(), std::move(result.droppedLines), kept, options);
    if (options.mode == WriteMode::Rewrite) {
        if (const auto failure = sheet.replace(result.bytes, options.backup))
            return failed(*failure);
    }
    return outcome;
}

CueOutcome processCueFile(
    const QByteArray &path, const KeptLineObserver &observer, const PruneOptions &options)
{
    const auto named = openNamedPath(path);
    if (!named)
        return failed(named.failure());
    if (named->folder)
        return failed({ Failure::Reason::NotRegularFile, 0 });
    return processCueFile(named->sheet, observer, options);
}

CueOutcome processCueFile(const QString &path, const KeptLineObserver &observer)
{
    return processCueFile(QFile::encodeName(path), observer);
}

} // namespace cueprune
