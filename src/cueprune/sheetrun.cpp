#include "cueprune/sheetrun.h"

#include "core/displaytext.h"
#include "core/quoting.h"
#include "engine/explanations.h"
#include "engine/sheetbatch.h"
#include "engine/verdicts.h"
#include "files/processedges.h"

#include <QFileDevice>
#include <QJsonArray>
#include <QJsonDocument>

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
    , sheetsListed(&listing == &out || options.outputIsTerminal)
    // A dry run writes nothing, not even the removal of a killed run's temporaries.
    , walk(options.recursive, options.dryRun ? Leftovers::Kept : Leftovers::Settled, descriptors)
{
}

void SheetRun::addPath(const QByteArray &path)
{
    walk.addPath(path);
}

void SheetRun::run(const std::function<bool()> &stopRequested)
{
    clock.start();
    const auto stopped
        = [&] { return outputLost || wayBackLost || (stopRequested && stopRequested()); };
    SheetBatch::WayBack wayBack;
    if (wayBackAsked()) {
        wayBack.record = [this](const WalkItem &item, const CueOutcome *outcome) {
            recordWayBack(item, outcome);
        };
        wayBack.flush = [this] { return flushWayBack(); };
        auto *file = qobject_cast<QFileDevice *>(out.device());
        wayBack.sync = [this, fd = file ? file->handle() : -1] {
            if (fd >= 0 && !writtenOut(fd))
                wayBackLost = true;
            return !wayBackLost;
        };
    }
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
            stopped, [&] { return walk.foldersHeld(); }, wayBack);
    clearProgress();
    printSummary(stopped());
}

// What goes on out with --json or --diff: each item's JSON object, or each change's diff, in
// walk order; a change's before the sheet is renamed (see SheetBatch::WayBack).
void SheetRun::recordWayBack(const WalkItem &item, const CueOutcome *outcome)
{
    if (listOnProgressTerminal)
        clearProgress();
    if (const auto *sheet = std::get_if<SheetEntry>(&item)) {
        if (options.json)
            printJson(jsonSheet(*sheet, *outcome));
        else if (!outcome->diff.isEmpty())
            printDiff(outcome->diff);
    } else if (const auto *unreachablePath = std::get_if<UnreachablePath>(&item);
               unreachablePath && options.json) {
        QJsonObject object = jsonPath(unreachablePath->shownPath);
        object.insert(QStringLiteral("unreachable"), true);
        insertFailure(object, unreachablePath->failure);
        printJson(object);
    }
}

// The changes recorded leave the process before their renames.
bool SheetRun::flushWayBack()
{
    out.flush();
    auto *file = qobject_cast<QFileDevice *>(out.device());
    outputLost
        = outputLost || out.status() != QTextStream::Ok || (file != nullptr && !file->flush());
    return !outputLost;
}

void SheetRun::reportNotice(const WalkItem &item)
{
    const QByteArray &path = shownPath(item);
    if (const auto *unreachablePath = std::get_if<UnreachablePath>(&item)) {
        ++unreachable;
        complain(path, failureText(unreachablePath->failure), false);
    } else if (const auto *leftOut = std::get_if<SubfoldersLeftOut>(&item)) {
        subfoldersLeftOut += leftOut->count;
        complain(
            path, subfoldersLeftOutText(leftOut->count) + QStringLiteral(" (utilisez -r)"), true);
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
    if (!options.json)
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
    if (sheetsListed) {
        listing << shellQuoted(sheet.shownPath) << '\n'
                << verdictText(outcome.result, mode) << '\n';
        for (const PruningWarning &warning : outcome.warnings)
            listing << "  attention : " << warningText(warning) << '\n';
    } else {
        for (const PruningWarning &warning : outcome.warnings)
            complain(sheet.shownPath, QStringLiteral("attention : ") + warningText(warning), true);
    }
    sent();
}

void SheetRun::printDiff(const QByteArray &diff)
{
    err.flush(); // the listing so far comes first, on a shared terminal
    out.flush();
    // The sheet's own bytes, past the text stream's encoding.
    QIODevice *device = out.device();
    const bool written = device != nullptr && device->write(diff) == diff.size();
    auto *file = qobject_cast<QFileDevice *>(device);
    outputLost = outputLost || !written || (file != nullptr && !file->flush());
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
    if (!options.progress || !sheetsListed || now < 1000 || now - progressUpdatedAt < 100)
        return;
    progressText = QStringLiteral("cueprune : %1, ")
                       .arg(counted(pruned + unchanged + errors, "feuille", "feuilles"))
        + counted(errorCount(), "erreur", "erreurs");
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
                { QStringLiteral("unchanged"), unchanged },
                { QStringLiteral("errors"), errorCount() },
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
        + counted(errorCount(), "erreur", "erreurs")
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
