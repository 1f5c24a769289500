#include "cueprune/sheetrun.h"

#include "core/displaytext.h"
#include "engine/sheetbatch.h"
#include "engine/verdicts.h"
#include "files/sheetfile.h"

#include <cerrno>
#include <cstring>

namespace cueprune {

namespace {

QString counted(qsizetype count, const char *singular, const char *plural)
{
    return QStringLiteral("%1 %2").arg(count).arg(QString::fromUtf8(count > 1 ? plural : singular));
}

// Erases the terminal line the cursor stands on.
constexpr char clearLine[] = "\r\33[K";

} // namespace

QString failureText(const Failure &failure)
{
    using Reason = Failure::Reason;
    switch (failure.reason) {
    case Reason::Missing:
        return QStringLiteral("introuvable");
    case Reason::NotRegularFile:
        return QStringLiteral("pas un fichier ordinaire");
    case Reason::TooLarge:
        return QStringLiteral("fichier trop grand (plus de %1 Mio)").arg(maxSheetSize >> 20);
    case Reason::ReadRefused:
        return QStringLiteral("lecture refusée");
    case Reason::WriteRefused:
        return QStringLiteral("écriture refusée");
    case Reason::OwnerOrModeNotKept:
        return QStringLiteral("propriétaire, groupe ou droits impossibles à garder");
    case Reason::AttributesNotKept:
        return QStringLiteral("attributs étendus impossibles à garder");
    case Reason::DiskFull:
        return QStringLiteral("disque plein");
    case Reason::FlushFailed:
        return QStringLiteral("échec de l'écriture sur le disque");
    case Reason::ChangedWhileRead:
        return QStringLiteral("modifié pendant la lecture");
    case Reason::ChangedBeforeReplace:
        return QStringLiteral("modifié par un autre programme entre-temps");
    case Reason::SwappedDuringWalk:
        return QStringLiteral("changé pendant le parcours");
    case Reason::FolderUnreadable:
        return QStringLiteral("dossier illisible");
    case Reason::SystemError:
        break;
    }
    switch (failure.systemError) {
    case EIO:
        return QStringLiteral("erreur d'entrée-sortie");
    case ELOOP:
        return QStringLiteral("trop de liens symboliques");
    case ENAMETOOLONG:
        return QStringLiteral("nom trop long");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("trop de fichiers ouverts");
    case EAGAIN:
        return QStringLiteral("ressources du système épuisées");
    default:
        return QString::fromLocal8Bit(std::strerror(failure.systemError));
    }
}

SheetRun::SheetRun(Options options, QTextStream &out, QTextStream &err)
    : options(options)
    , mode(options.dryRun ? WriteMode::DryRun : WriteMode::Rewrite)
    , out(out)
    , err(err)
    // A dry run writes nothing, not even the removal of a killed run's temporaries.
    , walk(options.recursive, options.dryRun ? Strays::Kept : Strays::Removed)
{
}

void SheetRun::addPath(const QByteArray &path)
{
    walk.addPath(path);
}

void SheetRun::run(const std::function<bool()> &stopRequested)
{
    clock.start();
    const auto stopped = [&] { return outputLost || (stopRequested && stopRequested()); };
    SheetBatch(options.workers, mode)
        .run([&](WalkItem &item) { return !stopped() && walk.next(item); },
            [&](const WalkItem &item, const CueOutcome &outcome) {
                report(item, outcome);
                updateProgress();
            },
            stopped);
    clearProgress();
    printSummary(stopped());
}

void SheetRun::report(const WalkItem &item, const CueOutcome &outcome)
{
    if (item.unreachable) {
        ++unreachable;
        complain(item.sheet.shownPath, failureText(*item.unreachable), false);
        return;
    }
    if (item.strayRemoved) {
        complain(item.sheet.shownPath,
            QStringLiteral("temporaire d'une exécution interrompue supprimé"), false);
        return;
    }
    switch (outcome.result) {
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
    if (options.quiet && outcome.result == CueResult::Unchanged)
        return;
    if (options.outputOnProgressTerminal)
        clearProgress();
    out << displayPath(item.sheet.shownPath) << '\n' << verdictText(outcome.result, mode) << '\n';
    if (options.outputIsPipe)
        out.flush();
    outputLost = out.status() != QTextStream::Ok;
    if (outcome.failure)
        complain(item.sheet.shownPath, failureText(*outcome.failure), true);
    else if (options.outputOnProgressTerminal)
        drawProgress();
}

// A failed sheet: "cueprune : PATH : REASON"; another path: "cueprune : REASON : PATH".
void SheetRun::complain(const QByteArray &path, const QString &reason, bool sheet)
{
    clearProgress();
    out.flush(); // what was printed comes first, on a shared terminal
    const QString shown = displayPath(path);
    err << "cueprune : " << (sheet ? shown : reason) << " : " << (sheet ? reason : shown)
        << Qt::endl;
    drawProgress();
}

// The count is brought up to date once the run has lasted a second, at most ten times a
// second; the line is drawn again after every line printed on its terminal, so it stays at the
// bottom.
void SheetRun::updateProgress()
{
    const qint64 now = clock.elapsed();
    if (!options.progress || now < 1000 || now - progressUpdatedAt < 100)
        return;
    progressText = QStringLiteral("cueprune : %1, ")
                       .arg(counted(pruned + unchanged + errors, "feuille", "feuilles"))
        + counted(errors, "erreur", "erreurs");
    progressUpdatedAt = now;
    drawProgress();
}

void SheetRun::drawProgress()
{
    if (progressText.isEmpty())
        return;
    out.flush();
    // Over the line it replaces, or on the empty line the cursor stands on.
    err << (progressVisible ? clearLine : "\r") << progressText;
    err.flush();
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

// On err when out cannot be written: the count of what was done is never lost.
void SheetRun::printSummary(bool interrupted)
{
    const qsizetype sheets = pruned + unchanged + errors;
    const QString summary = counted(sheets, "fichier", "fichiers") + QStringLiteral(" : ")
        + (options.dryRun ? QStringLiteral("%1 à modifier").arg(pruned)
                          : counted(pruned, "modifié", "modifiés"))
        + QStringLiteral(", ") + counted(unchanged, "inchangé", "inchangés") + QStringLiteral(", ")
        + counted(errors, "erreur", "erreurs")
        + (interrupted ? QStringLiteral(" (interrompu)") : QString());
    if (!outputLost) {
        out << summary << Qt::endl;
        outputLost = out.status() != QTextStream::Ok;
    }
    if (outputLost)
        err << summary << Qt::endl;
}

} // namespace cueprune
