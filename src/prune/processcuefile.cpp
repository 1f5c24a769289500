#include "processcuefile.h"

#include <QFile>

CueResult processCueFile(
    const QByteArray &path, const KeptLineObserver &observer, WriteMode mode, HandledFiles *handled)
{
    SheetFile sheet(path);
    switch (sheet.read()) {
    case SheetFile::ReadResult::NotFound:
        return CueResult::NotFound;
    case SheetFile::ReadResult::Failed:
        return CueResult::Failed;
    case SheetFile::ReadResult::Read:
        break;
    }
    if (handled) {
        if (handled->contains(sheet.key()))
            return CueResult::AlreadyHandled;
        handled->insert(sheet.key());
    }

    const PrunedSheet pruned = pruneSheet(sheet.contents(), observer);
    if (pruned.droppedLines == 0)
        return CueResult::Unchanged;
    if (mode == WriteMode::DryRun)
        return CueResult::Pruned;
    if (!sheet.replace(pruned.bytes))
        return CueResult::Failed;
    if (handled)
        handled->insert(sheet.key());
    return CueResult::Pruned;
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
    case CueResult::AlreadyHandled:
        break;
    }
    return QStringLiteral("==> Erreur !");
}
