#pragma once

#include "files/failure.h"
#include "files/folder.h"
#include "files/sheetlisting.h"

#include <QByteArray>
#include <QList>
#include <QSet>

#include <optional>
#include <vector>

namespace cueprune {

// Walks the paths given, in order, one step at a time: each sheet named, and the notices and
// "*.cue" sheets of each folder named, then (when recursive) its subfolders by name, depth first.
// Below a named path every folder and sheet is opened relative to its parent, so that a
// folder or sheet swapped meanwhile is reported, not followed. Each folder is walked once and
// each directory entry given once, however often it is reached; two names of one file are
// two entries. Only the folders on the way down and those of the sheets not yet done are
// held open, so the depth of a tree has no limit but the number of open files.
class SheetWalk
{
public:
    SheetWalk(bool recursive, Strays strays);

    // All paths are added before the first step.
    void addPath(const QByteArray &path);
    // The next step, or false at the end.
    [[nodiscard]] bool next(WalkItem &item);

private:
    struct OpenListing
    {
        std::shared_ptr<const Folder> folder;
        FolderListing listing;
        qsizetype nextNotice = 0;
        qsizetype nextSheet = 0;
        qsizetype nextSubfolder = 0;
    };

    // Lists folder, unless walked already; a failure to report otherwise.
    std::optional<Failure> enter(const std::shared_ptr<const Folder> &folder);
    bool giveSheet(const SheetEntry &sheet, WalkItem &item);

    const bool recursive;
    const Strays strays;
    QList<QByteArray> paths;
    qsizetype nextPath = 0;
    std::vector<OpenListing> stack;
    QSet<FileKey> walkedFolders;
    QSet<EntryKey> givenEntries;
};

} // namespace cueprune
