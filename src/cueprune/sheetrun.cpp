#include "sheetrun.h"

#include "cuesheetlisting.h"
#include "sheetbatch.h"
#include "sheettext.h"

namespace {

QString counted(qsizetype count, const char *singular, const char *plural)
{
    return QStringLiteral("%1 %2").arg(count).arg(QString::fromUtf8(count > 1 ? plural : singular));
}

// Erases the terminal line the cursor stands on.
constexpr char clearLine[] = "\r\33[K";

} // namespace

SheetRun::SheetRun(Options options, QTextStream &out, QTextStream &err)
    : options(options)
    , out(out)
    , err(err)
{
}

void SheetRun::addPath(const QByteArray &path)
{
    const PathInfo info = pathInfo(path);
    switch (info.kind) {
    case PathInfo::Kind::Missing:
        found.append({ { path, {} }, QStringLiteral("introuvable") });
        break;
    case PathInfo::Kind::Folder:
        addFolder({ absolutePath(path), info.key });
        break;
    case PathInfo::Kind::Other:
        addSheet({ absolutePath(path), info.key });
        break;
    }
}

void SheetRun::addFolder(const NamedFile &folder)
{
    const auto listing = listFolder(folder.path);
    if (!listing) {
        found.append({ folder, QStringLiteral("dossier illisible") });
        return;
    }
    if (walked.contains(listing->key))
        return;
    walked.insert(listing->key);
    for (const NamedFile &sheet : listing->sheets)
        addSheet(sheet);
    if (options.recursive) {
        for (const NamedFile &subfolder : listing->subfolders)
            addFolder(subfolder);
    }
}

void SheetRun::addSheet(const NamedFile &sheet)
{
    if (walked.contains(sheet.key))
        return;
    walked.insert(sheet.key);
    found.append({ sheet, QString() });
}

void SheetRun::run()
{
    clock.start();
    const WriteMode mode = options.dryRun ? WriteMode::DryRun : WriteMode::Rewrite;
    QList<NamedFile> sheets;
    QList<qsizetype> foundAt; // where each sheet stands among what was found
    for (qsizetype i = 0; i < found.size(); ++i) {
        if (found[i].problem.isEmpty()) {
            sheets.append(found[i].sheet);
            foundAt.append(i);
        }
    }
    qsizetype printed = 0; // of found
    const auto complainUpTo = [&](qsizetype end) {
        for (; printed < end; ++printed)
            complain(found[printed]);
    };
    SheetBatch(options.workers, mode).run(sheets, [&](qsizetype index, CueResult result) {
        complainUpTo(foundAt[index]);
        report(sheets[index].path, result, mode);
        ++printed;
        showProgress(index + 1, sheets.size());
    });
    complainUpTo(found.size());
    clearProgress();
    printSummary();
}

void SheetRun::report(const QByteArray &path, CueResult result, WriteMode mode)
{
    switch (result) {
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
    clearProgress();
    out << displayPath(path) << '\n' << verdictText(result, mode) << '\n';
}

void SheetRun::complain(const Found &unreachablePath)
{
    ++unreachable;
    clearProgress();
    out.flush();
    err << "cueprune : " << unreachablePath.problem << " : "
        << displayPath(unreachablePath.sheet.path) << Qt::endl;
}

// Shown once the run has lasted a second, redrawn at most ten times a second.
void SheetRun::showProgress(qsizetype done, qsizetype total)
{
    const qint64 now = clock.elapsed();
    if (!options.progress || now < 1000 || now - progressDrawnAt < 100)
        return;
    out.flush(); // what was printed comes before the line, on a shared terminal
    err << clearLine << QStringLiteral("cueprune : %1 feuilles sur %2, ").arg(done).arg(total)
        << counted(errors, "erreur", "erreurs");
    err.flush();
    progressDrawnAt = now;
    progressVisible = true;
}

void SheetRun::clearProgress()
{
    if (!progressVisible)
        return;
    err << clearLine;
    err.flush();
    progressVisible = false;
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
