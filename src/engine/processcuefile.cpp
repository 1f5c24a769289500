#include "engine/processcuefile.h"

#include "files/sheetfile.h"

#include <QFile>

namespace cueprune {

namespace {

CueOutcome failed(const Failure &failure)
{
    return { failure.reason == Failure::Reason::Missing ? CueResult::NotFound : CueResult::Failed,
        failure, 0, {} };
}

} // namespace

CueOutcome processCueFile(const SheetEntry &entry, const KeptLineObserver &observer, WriteMode mode,
    ByteBudget *budget, const BackupPolicy &backup)
{
    // Room for the sheet and its pruned copy.
    ByteBudget::Share share(budget);
    SheetFile sheet(entry);
    if (const auto failure = sheet.read([&share](qint64 size) { share.take(2 * size); }))
        return failed(*failure);
    // A dry run needs only the answer, not the pruned bytes it will never write.
    if (mode == WriteMode::DryRun && !observer) {
        const qsizetype dropped = countPregapLines(sheet.contents());
        return { dropped > 0 ? CueResult::Pruned : CueResult::Unchanged, {}, dropped, {} };
    }

    const PrunedSheet pruned = pruneSheet(sheet.contents(), observer);
    const QByteArray kept = observer ? pruned.bytes : QByteArray();
    if (pruned.droppedLines == 0)
        return { CueResult::Unchanged, {}, 0, kept };
    if (mode == WriteMode::Rewrite) {
        if (const auto failure = sheet.replace(pruned.bytes, backup))
            return failed(*failure);
    }
    return { CueResult::Pruned, {}, pruned.droppedLines, kept };
}

CueOutcome processCueFile(const QByteArray &path, const KeptLineObserver &observer)
{
    const auto named = openNamedPath(path);
    if (!named)
        return failed(named.failure());
    if (named->folder)
        return failed({ Failure::Reason::NotRegularFile, 0 });
    return processCueFile(named->sheet, observer);
}

CueOutcome processCueFile(const QString &path, const KeptLineObserver &observer)
{
    return processCueFile(QFile::encodeName(path), observer);
}

} // namespace cueprune
