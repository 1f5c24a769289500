#include "processcuefile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

int processCueFile(const QString &path, const KeptLineObserver &observer, WriteMode mode)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return CueResult::NotFound;

    QFile file(path);
    const qint64 size = info.size();
    if (!info.isFile() || size > maxSheetSize || !file.open(QIODevice::ReadOnly))
        return CueResult::Failed;
    // One byte more than expected shows a sheet that changes while it is read: someone else
    // is writing it, so it is left alone.
    const QByteArray sheet = file.read(size + 1);
    if (file.error() != QFileDevice::NoError || sheet.size() != size)
        return CueResult::Failed;
    file.close();

    const PrunedSheet pruned = pruneSheet(sheet, observer);
    if (pruned.droppedLines == 0)
        return CueResult::Unchanged;
    if (mode == WriteMode::DryRun)
        return CueResult::Pruned;

    // Unbuffered, so that a short write (a full disk) shows in write()'s count: a buffered
    // QSaveFile can lose it in its flush and still commit a truncated sheet.
    QSaveFile rewrite(path);
    if (!rewrite.open(QIODevice::WriteOnly | QIODevice::Unbuffered)
        || rewrite.write(pruned.bytes) != pruned.bytes.size() || !rewrite.commit())
        return CueResult::Failed;
    return CueResult::Pruned;
}

QString verdictText(int result)
{
    switch (result) {
    case CueResult::Pruned:
        return QStringLiteral("==> Fichier modifié !");
    case CueResult::Unchanged:
        return QStringLiteral("==> Aucun changement !");
    default:
        return QStringLiteral("==> Erreur !");
    }
}
