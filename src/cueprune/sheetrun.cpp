#include "sheetrun.h"

#include "cuesheetlisting.h"
#include "sheettext.h"

namespace {

QString counted(qsizetype count, const char *singular, const char *plural)
{
    return QStringLiteral("%1 %2").arg(count).arg(QString::fromUtf8(count > 1 ? plural : singular));
}

} // namespace

SheetRun::SheetRun(Options options, QTextStream &out, QTextStream &err)
    : options(options)
    , out(out)
    , err(err)
{
}

void SheetRun::handlePath(const QByteArray &path)
{
    switch (pathKind(path)) {
    case PathKind::Missing:
        complain(QStringLiteral("introuvable"), path);
        break;
    case PathKind::Folder:
        handleFolder(absolutePath(path));
        break;
    case PathKind::Other:
        handleSheet(absolutePath(path));
        break;
    }
}

void SheetRun::printSummary()
{
    const qsizetype sheets = pruned + unchanged + errors;
    out << counted(sheets, "fichier", "fichiers") << " : "
        << (options.dryRun ? QStringLiteral("%1 à modifier").arg(pruned)
                           : counted(pruned, "modifié", "modifiés"))
        << ", " << counted(unchanged, "inchangé", "inchangés") << ", "
        << counted(errors, "erreur", "erreurs") << Qt::endl;
}

void SheetRun::handleFolder(const QByteArray &path)
{
    const auto listing = listFolder(path);
    if (!listing) {
        complain(QStringLiteral("dossier illisible"), path);
        return;
    }
    if (handled.contains(listing->key))
        return;
    handled.insert(listing->key);
    for (const QByteArray &sheet : listing->sheets)
        handleSheet(sheet);
    if (options.recursive) {
        for (const QByteArray &subfolder : listing->subfolders)
            handleFolder(subfolder);
    }
}

void SheetRun::handleSheet(const QByteArray &path)
{
    const WriteMode mode = options.dryRun ? WriteMode::DryRun : WriteMode::Rewrite;
    const CueResult result = processCueFile(path, {}, mode, &handled);
    switch (result) {
    case CueResult::AlreadyHandled:
        return;
    case CueResult::Pruned:
        ++pruned;
        break;
    case CueResult::Unchanged:
        ++unchanged;
        break;
    case CueResult::Failed:
    case CueResult::NotFound:
        ++errors;
        break;
    }
    if (options.quiet && result == CueResult::Unchanged)
        return;
    out << displayPath(path) << '\n' << verdictText(result, mode) << '\n';
}

void SheetRun::complain(const QString &problem, const QByteArray &path)
{
    ++unreachable;
    out.flush();
    err << "cueprune : " << problem << " : " << displayPath(path) << Qt::endl;
}
