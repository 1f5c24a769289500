#include "cueprune/sheetrun.h"

#include "core/displaytext.h"
#include "engine/sheetbatch.h"
#include "engine/verdicts.h"
#include "files/sheetfile.h"

#include <QFileDevice>
#include <QJsonArray>
#include <QJsonDocument>

#include <cerrno>
#include <cstring>
#include <optional>

namespace cueprune {

namespace {

QString counted(qsizetype count, const char *singular, const char *plural)
{
    return QStringLiteral("%1 %2").arg(count).arg(QString::fromUtf8(count > 1 ? plural : singular));
}

// Erases the terminal line the cursor stands on.
constexpr char clearLine[] = "\r\33[K";

} // namespace

namespace {

struct ReasonNames
{
    QString text; // in French, as cueprune prints it
    QLatin1String code; // stable, for scripts
};

// The names of a failure's reason, side by side so that they cannot drift apart; none for
// SystemError, whose names come from errno.
std::optional<ReasonNames> namesOf(Failure::Reason reason)
{
    using Reason = Failure::Reason;
    switch (reason) {
    case Reason::Missing:
        return ReasonNames { QStringLiteral("introuvable"), QLatin1String("missing") };
    case Reason::NotRegularFile:
        return ReasonNames { QStringLiteral("pas un fichier ordinaire"),
            QLatin1String("not-regular-file") };
    case Reason::TooLarge:
        return ReasonNames {
            QStringLiteral("fichier trop grand (plus de %1 Mio)").arg(maxSheetSize >> 20),
            QLatin1String("too-large")
        };
    case Reason::ReadRefused:
        return ReasonNames { QStringLiteral("lecture refusée"), QLatin1String("read-refused") };
    case Reason::WriteRefused:
        return ReasonNames { QStringLiteral("écriture refusée"), QLatin1String("write-refused") };
    case Reason::OwnerOrModeNotKept:
        return ReasonNames { QStringLiteral("propriétaire, groupe ou droits impossibles à garder"),
            QLatin1String("owner-or-mode-not-kept") };
    case Reason::AttributesNotKept:
        return ReasonNames { QStringLiteral("attributs étendus impossibles à garder"),
            QLatin1String("attributes-not-kept") };
    case Reason::DiskFull:
        return ReasonNames { QStringLiteral("disque plein"), QLatin1String("disk-full") };
    case Reason::FlushFailed:
        return ReasonNames { QStringLiteral("échec de l'écriture sur le disque"),
            QLatin1String("flush-failed") };
    case Reason::ChangedWhileRead:
        return ReasonNames { QStringLiteral("modifié pendant la lecture"),
            QLatin1String("changed-while-read") };
    case Reason::ChangedBeforeReplace:
        return ReasonNames { QStringLiteral("modifié par un autre programme entre-temps"),
            QLatin1String("changed-before-replace") };
    case Reason::StaleCache:
        return ReasonNames { QStringLiteral("taille non confirmée par le serveur (cache périmé)"),
            QLatin1String("stale-cache") };
    case Reason::SwappedDuringWalk:
        return ReasonNames { QStringLiteral("changé pendant le parcours"),
            QLatin1String("swapped") };
    case Reason::FolderUnreadable:
        return ReasonNames { QStringLiteral("dossier illisible"),
            QLatin1String("folder-unreadable") };
    case Reason::BackupFailed:
        return ReasonNames { QStringLiteral("sauvegarde impossible"),
            QLatin1String("backup-failed") };
    case Reason::SystemError:
        break;
    }
    return std::nullopt;
}

} // namespace

namespace {

QString systemErrorText(int error)
{
    switch (error) {
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
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("disque plein");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

} // namespace

QString failureText(const Failure &failure)
{
    const auto names = namesOf(failure.reason);
    if (!names)
        return systemErrorText(failure.systemError);
    if (failure.reason != Failure::Reason::BackupFailed || failure.systemError == 0)
        return names->text;
    // A backup can fail for many reasons, and the fix differs for each.
    return QStringLiteral("%1 (%2)").arg(names->text,
        linksRefused(failure.systemError)
            ? QStringLiteral("liens physiques refusés par ce système de fichiers")
            : systemErrorText(failure.systemError));
}

QString failureCode(const Failure &failure)
{
    if (const auto names = namesOf(failure.reason))
        return names->code;
    return failure.systemError == EMFILE || failure.systemError == ENFILE
        ? QStringLiteral("too-many-open-files")
        : QStringLiteral("system-error");
}

namespace {

// What JSON output says of a path: the name itself when it is UTF-8 (JSON escapes its
// controls); otherwise its bytes in base64, which a script takes, beside the name decoded as
// the windows show it, for a person.
QJsonObject jsonPath(const QByteArray &path)
{
    if (isValidUtf8(path))
        return { { QStringLiteral("path"), QString::fromUtf8(path) } };
    return { { QStringLiteral("path"), decodePath(path) },
        { QStringLiteral("path_base64"), QString::fromLatin1(path.toBase64()) } };
}

// Why, in French as the text output says it, and by its stable code.
void insertFailure(QJsonObject &object, const Failure &failure)
{
    object.insert(QStringLiteral("reason"), failureText(failure));
    object.insert(QStringLiteral("code"), failureCode(failure));
}

// What a warning says, after "attention : ".
QString warningText(const PruningWarning &warning)
{
    if (warning.kind == PruningWarning::Kind::DiscImage)
        return QStringLiteral(
            "image de disque : la position des pistes change pour un graveur ou un émulateur");
    return QStringLiteral("piste %1 : %2 avant INDEX 01 ne sont plus indexés%3")
        .arg(warning.track, 2, 10, QLatin1Char('0'))
        .arg(cueTime(warning.frames),
            warning.firstFile ? QStringLiteral(" (flac refuse d'intégrer une telle feuille)")
                              : QString());
}

QJsonObject jsonWarning(const PruningWarning &warning)
{
    if (warning.kind == PruningWarning::Kind::DiscImage)
        return { { QStringLiteral("code"), QStringLiteral("disc-image") } };
    return { { QStringLiteral("code"), QStringLiteral("unindexed-audio") },
        { QStringLiteral("track"), warning.track }, { QStringLiteral("frames"), warning.frames } };
}

} // namespace

SheetRun::SheetRun(Options options, QTextStream &out, QTextStream &err)
    : options(options)
    , mode(options.dryRun ? WriteMode::DryRun : WriteMode::Rewrite)
    , out(out)
    , err(err)
    , listing(options.diff && !options.json ? err : out)
    , listOnProgressTerminal(options.outputOnProgressTerminal || &listing == &err)
    // A dry run writes nothing, not even the removal of a killed run's temporaries.
    , walk(options.recursive, options.dryRun ? Strays::Kept : Strays::Removed, descriptors)
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
    SheetBatch(options.workers,
        { mode, options.rule, options.backup, true, options.diff && !options.json }, descriptors)
        .run([&](WalkItem &item) { return !stopped() && walk.next(item); },
            [&](const WalkItem &item, const CueOutcome *outcome) {
                if (const auto *sheet = std::get_if<SheetEntry>(&item))
                    reportSheet(*sheet, *outcome);
                else
                    reportNotice(item);
                updateProgress();
            },
            stopped, [&] { return walk.foldersHeld(); });
    clearProgress();
    printSummary(stopped());
}

void SheetRun::reportNotice(const WalkItem &item)
{
    const QByteArray &path = shownPath(item);
    if (const auto *unreachablePath = std::get_if<UnreachablePath>(&item)) {
        ++unreachable;
        if (options.json) {
            QJsonObject object = jsonPath(path);
            object.insert(QStringLiteral("unreachable"), true);
            insertFailure(object, unreachablePath->failure);
            printJson(object);
        }
        complain(path, failureText(unreachablePath->failure), false);
    } else if (const auto *leftOut = std::get_if<SubfoldersLeftOut>(&item)) {
        subfoldersLeftOut += leftOut->count;
        complain(path,
            counted(leftOut->count, "sous-dossier non parcouru", "sous-dossiers non parcourus")
                + QStringLiteral(" (utilisez -r)"),
            true);
    } else if (const auto *settled = std::get_if<SettledLeftover>(&item)) {
        complain(path,
            settled->leftover == Leftover::Removed
                ? QStringLiteral("temporaire d'une exécution interrompue supprimé")
                : QStringLiteral("temporaire d'une exécution interrompue récupéré"),
            false);
    }
}

void SheetRun::reportSheet(const SheetEntry &sheet, const CueOutcome &outcome)
{
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
    withWarnings += !outcome.warnings.isEmpty();
    if (options.quiet && outcome.result == CueResult::Unchanged)
        return;
    if (listOnProgressTerminal)
        clearProgress();
    if (options.json)
        printJson(jsonSheet(sheet, outcome));
    else
        printText(sheet, outcome);
    if (outcome.failure)
        complain(sheet.shownPath, failureText(*outcome.failure), true);
    else if (listOnProgressTerminal)
        drawProgress();
}

QJsonObject SheetRun::jsonSheet(const SheetEntry &sheet, const CueOutcome &outcome) const
{
    QJsonObject object = jsonPath(sheet.shownPath);
    object.insert(QStringLiteral("verdict"), verdictCode(outcome.result, mode));
    object.insert(QStringLiteral("dropped"), outcome.droppedLines.size());
    if (outcome.result == CueResult::Pruned) {
        QJsonArray lines;
        for (const qsizetype line : outcome.droppedLines)
            lines.append(line);
        object.insert(QStringLiteral("dropped_lines"), lines);
        QJsonArray warnings;
        for (const PruningWarning &warning : outcome.warnings)
            warnings.append(jsonWarning(warning));
        object.insert(QStringLiteral("warnings"), warnings);
    }
    if (outcome.failure)
        insertFailure(object, *outcome.failure);
    return object;
}

void SheetRun::printText(const SheetEntry &sheet, const CueOutcome &outcome)
{
    listing << shellQuoted(sheet.shownPath) << '\n' << verdictText(outcome.result, mode) << '\n';
    for (const PruningWarning &warning : outcome.warnings)
        listing << "  attention : " << warningText(warning) << '\n';
    if (options.diff && !outcome.diff.isEmpty()) {
        listing.flush();
        out.flush();
        // The sheet's own bytes, past the text stream's encoding.
        QIODevice *device = out.device();
        const bool written
            = device != nullptr && device->write(outcome.diff) == outcome.diff.size();
        auto *file = qobject_cast<QFileDevice *>(device);
        outputLost = outputLost || !written || (file != nullptr && !file->flush());
    }
    sent();
}

// A failed sheet: "cueprune : PATH : REASON"; another path: "cueprune : REASON : PATH".
void SheetRun::complain(const QByteArray &path, const QString &reason, bool sheet)
{
    clearProgress();
    out.flush(); // what was printed comes first, on a shared terminal
    const QString shown = shellQuoted(path);
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

// What was written on out goes at once to a pipe, so that a reader that left is seen.
void SheetRun::sent()
{
    if (options.outputIsPipe)
        out.flush();
    outputLost = outputLost || out.status() != QTextStream::Ok;
}

void SheetRun::printJson(const QJsonObject &object)
{
    out << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
    sent();
}

// On err when out cannot be written: the count of what was done is never lost.
void SheetRun::printSummary(bool interrupted)
{
    if (options.json && !outputLost) {
        printJson({ { QStringLiteral("summary"),
            QJsonObject { { QStringLiteral("sheets"), pruned + unchanged + errors },
                { options.dryRun ? QStringLiteral("would_modify") : QStringLiteral("modified"),
                    pruned },
                { QStringLiteral("unchanged"), unchanged }, { QStringLiteral("errors"), errors },
                { QStringLiteral("unreachable"), unreachable },
                { QStringLiteral("subfolders_left_out"), subfoldersLeftOut },
                { QStringLiteral("with_warnings"), withWarnings },
                { QStringLiteral("interrupted"), interrupted } } } });
        out.flush();
        outputLost = outputLost || out.status() != QTextStream::Ok;
        if (!outputLost)
            return;
    }
    const qsizetype sheets = pruned + unchanged + errors;
    const QString summary = counted(sheets, "fichier", "fichiers") + QStringLiteral(" : ")
        + (options.dryRun ? QStringLiteral("%1 à modifier").arg(pruned)
                          : counted(pruned, "modifié", "modifiés"))
        + QStringLiteral(", ") + counted(unchanged, "inchangé", "inchangés") + QStringLiteral(", ")
        + counted(errors, "erreur", "erreurs")
        + (withWarnings > 0 ? QStringLiteral(", ")
                    + counted(withWarnings, "avec avertissement", "avec avertissements")
                            : QString())
        + (interrupted ? QStringLiteral(" (interrompu)") : QString());
    // With --diff, out holds only the diff.
    if (!outputLost || &listing == &err) {
        listing << summary << Qt::endl;
        outputLost = outputLost || out.status() != QTextStream::Ok;
    }
    if (outputLost && &listing == &out)
        err << summary << Qt::endl;
}

} // namespace cueprune
