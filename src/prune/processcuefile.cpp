#include "processcuefile.h"

#include <QFile>

CueResult processCueFile(
    const QByteArray &path, const KeptLineObserver &observer, WriteMode mode, ByteBudget *budget)
{
    SheetFile sheet(path, budget);
    switch (sheet.read()) {
    case SheetFile::ReadResult::NotFound:
        return CueResult::NotFound;
    case SheetFile::ReadResult::Failed:
        return CueResult::Failed;
    case SheetFile::ReadResult::Read:
        break;
    }
    // A dry run needs only the answer, not the pruned bytes it will never write.
    if (mode == WriteMode::DryRun && !observer)
        return holdsPregapPair(sheet.contents()) ? CueResult::Pruned : CueResult::Unchanged;

    const PrunedSheet pruned = pruneSheet(sheet.contents(), observer);
    if (pruned.droppedLines == 0)
        return CueResult::Unchanged;
    if (mode == WriteMode::DryRun)
        return CueResult::Pruned;
    return sheet.replace(pruned.bytes) ? CueResult::Pruned : CueResult::Failed;
}

CueResult processCueFile(const QString &path, const KeptLineObserver &observer)
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
