#pragma once

#include "engine/processcuefile.h"
#include "files/sheetwalk.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QTextStream>

#include <atomic>
#include <functional>

namespace cueprune {

// One run of cueprune over the paths it is given: each sheet named, and the "*.cue" sheets of
// each folder named (and of their subfolders when recursive), each directory entry at most
// once. The sheets are pruned on a pool of workers while the walk goes on, and each gets its
// path, verdict and warnings on out, in walk order; failed sheets and unreachable paths are
// explained on err in their place.
class SheetRun
{
public:
    struct Options
    {
        bool recursive = false;
        bool dryRun = false;
        bool quiet = false;
        int workers = 1;
        // A self-updating line on err while a long run goes on (err being a terminal).
        bool progress = false;
        // out is the terminal the progress line is drawn on.
        bool outputOnProgressTerminal = false;
        // out is a terminal: a diff there is read beside the verdicts and the progress line.
        bool outputIsTerminal = false;
        // out is flushed after each sheet, so that a reader that leaves is seen at once.
        bool outputIsPipe = false;
        BackupPolicy backup;
        // out gets a JSON object a line instead of text.
        bool json = false;
        // out gets the unified diff of each sheet that changes, and err the verdicts (only the
        // warnings, errors and summary when out is not a terminal).
        bool diff = false;
        PregapRule rule = PregapRule::All;
    };

    SheetRun(Options options, QTextStream &out, QTextStream &err);

    // Walks path (as the system names it: bytes), absolute or relative to the working folder.
    void addPath(const QByteArray &path);
    // Prunes what the walk finds, prints it, then the summary. Once stopRequested answers true,
    // or out cannot be written, no new sheet starts; those started are printed, and the
    // summary says the run was interrupted (on err when out failed).
    void run(const std::function<bool()> &stopRequested = {});
    // True when a path was missing, a folder could not be read or a sheet failed.
    [[nodiscard]] bool anyFailure() const { return errorCount() > 0; }

private:
    // Failed sheets, missing paths and unreadable folders: the errors a run says.
    [[nodiscard]] qsizetype errorCount() const { return errors + unreachable; }
    [[nodiscard]] bool wayBackAsked() const { return options.json || options.diff; }
    void recordWayBack(const WalkItem &item, const CueOutcome *outcome);
    [[nodiscard]] bool flushWayBack();
    void reportNotice(const WalkItem &item);
    void reportSheet(const SheetEntry &sheet, const CueOutcome &outcome);
    [[nodiscard]] QJsonObject jsonSheet(const SheetEntry &sheet, const CueOutcome &outcome) const;
    void printText(const SheetEntry &sheet, const CueOutcome &outcome);
    void printDiff(const QByteArray &diff);
    void complain(const QByteArray &path, const QString &reason, bool sheet);
    void updateProgress();
    void drawProgress();
    void clearProgress();
    void printSummary(bool interrupted);
    void sent();
    // One line of JSON on out.
    void printJson(const QJsonObject &object);

    const Options options;
    const WriteMode mode;
    QTextStream &out;
    QTextStream &err;
    QTextStream &listing; // where the verdicts and the summary go: out, or err with --diff
    const bool listOnProgressTerminal;
    // Each sheet's path and verdict; not with --diff to a pipe or a file, where only warnings
    // (with their sheet's path), errors and the summary are said, and no progress is drawn.
    const bool sheetsListed;
    // One count of the descriptors free, for the walk and the batch.
    const DescriptorBudget descriptors;
    SheetWalk walk;
    qsizetype pruned = 0;
    qsizetype unchanged = 0;
    qsizetype errors = 0; // sheets that failed
    qsizetype unreachable = 0; // missing paths and unreadable folders
    qsizetype subfoldersLeftOut = 0; // of folders named, without recursive
    qsizetype withWarnings = 0; // sheets
    QElapsedTimer clock;
    qint64 progressUpdatedAt = -1000; // milliseconds into the run
    QString progressText; // empty until the run has lasted a second
    bool progressVisible = false;
    bool outputLost = false;
    std::atomic_bool wayBackLost = false; // out could not be made durable, seen by a worker
};

} // namespace cueprune
