#include "core/displaytext.h"
#include "engine/explanations.h"
#include "engine/processcuefile.h"
#include "engine/sheetbatch.h"
#include "engine/verdicts.h"
#include "files/sheetlisting.h"
#include "window/vexatrin.h"

#include "ui_vexatrin.h"

#include <QFileDialog>

// cuefolder: the window's part that makes it the folder tool, with every text it shows.

using namespace cueprune;

namespace {

// Adds a line at the end of the log, wherever the user left the text cursor.
void appendToLog(QPlainTextEdit *log, const QString &line)
{
    log->moveCursor(QTextCursor::End);
    log->insertPlainText(line + QLatin1Char('\n'));
}

// A line under a verdict, indented so that the path and verdict lines stand out.
void appendUnderVerdict(QPlainTextEdit *log, const QString &line)
{
    appendToLog(log, QStringLiteral("  ") + line);
}

// The verdict line of a walk's item: a sheet's, or what became of a killed run's temporary.
QString verdictLine(const WalkItem &item, const CueOutcome *outcome)
{
    if (const auto *settled = std::get_if<SettledLeftover>(&item))
        return settled->leftover == Leftover::Removed
            ? QStringLiteral("==> Temporaire d'une exécution interrompue supprimé !")
            : QStringLiteral("==> Temporaire d'une exécution interrompue récupéré !");
    // A listed entry that could not be looked up is an error, as a failed sheet.
    return verdictText(outcome ? outcome->result : CueResult::Failed);
}

// What cueprune would say under that verdict: an error's reason, or each warning of a change.
QStringList explanationLines(const WalkItem &item, const CueOutcome *outcome)
{
    if (const auto *unreachable = std::get_if<UnreachablePath>(&item))
        return { failureText(unreachable->failure) };
    if (outcome == nullptr)
        return {};
    if (outcome->failure)
        return { failureText(*outcome->failure) };
    QStringList lines;
    for (const PruningWarning &warning : outcome->warnings)
        lines.append(windowWarningText(warning));
    return lines;
}

// Under the last verdict of a run, for a folder whose subfolders the window does not walk.
QString subfoldersLine(qsizetype count)
{
    return subfoldersLeftOutText(count)
        + (count > 1 ? QStringLiteral(" (cueprune -r les parcourt)")
                     : QStringLiteral(" (cueprune -r le parcourt)"));
}

} // namespace

void VexaTrin::applyProgramTexts()
{
    ui->pushButton->setText(
        QCoreApplication::translate("Vexatrin", "Sélection du répertoire", nullptr));
    ui->pushButton->setAccessibleDescription(QStringLiteral("Choisit le dossier des feuilles CUE"));
    ui->pushButton_2->setText(
        QCoreApplication::translate("Vexatrin", "Tester les fichiers", nullptr));
    ui->pushButton_2->setAccessibleDescription(
        QStringLiteral("Retire les index de prégap de chaque feuille CUE du dossier"));
    ui->lineEdit->setAccessibleName(QStringLiteral("Dossier des feuilles CUE"));
    ui->plainTextEdit->setAccessibleName(QStringLiteral("Journal"));
}

QString VexaTrin::usage()
{
    return QStringLiteral(
        "Utilisation : cuefolder [DOSSIER]\n"
        "Ouvre la fenêtre qui retire les index de prégap (chaque ligne « INDEX 00 » directement\n"
        "suivie d'une ligne « INDEX 01 ») des feuilles *.cue d'un dossier. DOSSIER remplit le\n"
        "champ ; rien n'est traité avant le bouton « Tester les fichiers », qui réécrit\n"
        "aussitôt les feuilles. Pour voir d'abord ce qui changerait : cueprune -n DOSSIER.\n");
}

bool VexaTrin::takesDroppedPath(const QByteArray &path)
{
    return kindOfPath(path) == FolderEntry::Kind::Folder;
}

void VexaTrin::on_pushButton_clicked()
{
    const QString folder = QFileDialog::getExistingDirectory(this,
        QStringLiteral("Dossier avec les fichiers CUE"), QString(), QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty())
        takeChosenPath(folder);
}

void VexaTrin::on_pushButton_2_clicked()
{
    QPlainTextEdit *log = ui->plainTextEdit;
    const QByteArray path = pathToRun();
    if (path.isEmpty()) {
        appendToLog(log, QStringLiteral("==> Aucun répertoire sélectionné !"));
        return;
    }
    // The folder is opened once; its sheets are found and replaced inside it.
    const auto folder = Folder::open(path);
    const auto listing = folder ? listFolder(*folder, Leftovers::Settled) : folder.failure();
    if (!listing) {
        const Failure::Reason reason = listing.failure().reason;
        appendToLog(log, displayPath(path));
        appendToLog(log,
            reason == Failure::Reason::Missing ? QStringLiteral("==> Répertoire introuvable !")
                                               : QStringLiteral("==> Répertoire illisible !"));
        return;
    }
    PruneOptions options;
    options.costs = true;
    SheetBatch(SheetBatch::defaultWorkers(WriteMode::Rewrite), options)
        .run(inTurn(*listing), [&](const WalkItem &item, const CueOutcome *outcome) {
            appendToLog(log, displayPath(shownPath(item)));
            appendToLog(log, verdictLine(item, outcome));
            for (const QString &line : explanationLines(item, outcome))
                appendUnderVerdict(log, line);
        });
    if (!listing->subfolders.isEmpty())
        appendUnderVerdict(log, subfoldersLine(listing->subfolders.size()));
    log->ensureCursorVisible();
}
