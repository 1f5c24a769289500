#pragma once

#include "processcuefile.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTextStream>

// One run of cueprune over the paths it is given: each sheet named, and the "*.cue" sheets of
// each folder named (and of their subfolders when recursive), each file at most once. The
// walk comes first; then the sheets are pruned on a pool of workers, and each gets its path
// and verdict on out, in walk order, with unreachable paths on err in their place.
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
    };

    SheetRun(Options options, QTextStream &out, QTextStream &err);

    // Walks path (as the system names it: bytes), absolute or relative to the working folder.
    void addPath(const QByteArray &path);
    // Prunes what the walk found, prints it, then the summary.
    void run();
    // True when a path was missing, a folder could not be read or a sheet failed.
    [[nodiscard]] bool anyFailure() const { return errors > 0 || unreachable > 0; }

private:
    // What the walk found, in order: a sheet, or a path that could not be reached.
    struct Found
    {
        NamedFile sheet;
        QString problem; // empty for a sheet
    };

    void addFolder(const NamedFile &folder);
    void addSheet(const NamedFile &sheet);
    void complain(const Found &unreachablePath);
    void report(const QByteArray &path, CueResult result, WriteMode mode);
    void showProgress(qsizetype done, qsizetype total);
    void clearProgress();
    void printSummary();

    const Options options;
    QTextStream &out;
    QTextStream &err;
    QList<Found> found;
    QSet<FileKey> walked; // sheets and folders already found
    qsizetype pruned = 0;
    qsizetype unchanged = 0;
    qsizetype errors = 0;
    qsizetype unreachable = 0; // missing paths and unreadable folders
    QElapsedTimer clock;
    qint64 progressDrawnAt = 0; // milliseconds into the run
    bool progressVisible = false;
};
