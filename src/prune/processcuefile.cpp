#include "processcuefile.h"

#include "sheetfile.h"

#include <QFile>

namespace {

CueOutcome failed(const Failure &failure)
{
    return { failure.reason == Failure::Reason::Missing ? CueResult::NotFound : CueResult::Failed,
        failure };
}

} // namespace

CueOutcome processCueFile(
    const SheetEntry &entry, const KeptLineObserver &observer, WriteMode mode, ByteBudget *budget)
{
    SheetFile sheet(entry, budget);
    if (const auto failure = sheet.read())
        return failed(*failure);
    // A dry run needs only the answer, not the pruned bytes it will never write.
    if (mode == WriteMode::DryRun && !observer)
        return { holdsPregapPair(sheet.contents()) ? CueResult::Pruned : CueResult::Unchanged, {} };

    const PrunedSheet pruned = pruneSheet(sheet.contents(), observer);
    if (pruned.droppedLines == 0)
        return { CueResult::Unchanged, {} };
    if (mode == WriteMode::DryRun)
        return { CueResult::Pruned, {} };
    if (const auto failure = sheet.replace(pruned.bytes))
        return failed(*failure);
    return { CueResult::Pruned, {} };
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

QString verdictText(CueResult result, WriteMode mode)
{
    switch (result) {
    case CueResult::Pruned:
        return mode == WriteMode::DryRun ? QStringLiteral("==> Fichier à modifier !")
                                         : QStringLiteral("==> Fichier modifié !");
    case CueResult::Unchanged:
        return QStringLiteral("==> Aucun changement !");
    case CueResult::Failed:
    case CueResult::NotFound:
        break;
    }
    return QStringLiteral("==> Erreur !");
}
