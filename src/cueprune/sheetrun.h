#pragma once

#include "processcuefile.h"

#include <QTextStream>

// One run of cueprune over the paths it is given: each sheet named, and the "*.cue" sheets of
// each folder named (and of their subfolders when recursive), each at most once. Writes a
// path and a verdict per sheet to out, unreachable paths to err.
class SheetRun
{
public:
    struct Options
    {
        bool recursive = false;
        bool dryRun = false;
        bool quiet = false;
    };

    SheetRun(Options options, QTextStream &out, QTextStream &err);

    // path as the system names it (bytes), absolute or relative to the working folder.
    void handlePath(const QByteArray &path);
    void printSummary();
    // True when a path was missing, a folder could not be read or a sheet failed.
    [[nodiscard]] bool anyFailure() const { return errors > 0 || unreachable > 0; }

private:
    void handleFolder(const QByteArray &path);
    void handleSheet(const QByteArray &path);
    void complain(const QString &problem, const QByteArray &path);

    const Options options;
    QTextStream &out;
    QTextStream &err;
    HandledFiles handled;
    qsizetype pruned = 0;
    qsizetype unchanged = 0;
    qsizetype errors = 0;
    qsizetype unreachable = 0; // missing paths and unreadable folders
};
