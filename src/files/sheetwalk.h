#pragma once

#include "files/descriptorbudget.h"
#include "files/failure.h"
#include "files/folder.h"
#include "files/sheetlisting.h"
#include "files/walkitem.h"
#include "files/workerthreads.h"

#include <QByteArray>
#include <QList>
#include <QSet>

#include <deque>
#include <future>
#include <optional>
#include <vector>

namespace cueprune {

// Walks the paths given, in order, one step at a time: each sheet named, and the notices and
// "*.cue" sheets of each folder named, then (when recursive) its subfolders by name, depth first;
// when not, a notice of how many subfolders it leaves out, if any.
// Below a named path every folder and sheet is opened relative to its parent, so that a
// folder or sheet swapped meanwhile is reported, not followed. Each folder is walked once and
// each directory entry given once, however often it is reached; two names of one file are
// two entries. Only the folders on the way down and those of the sheets not yet done are
// held open, so the depth of a tree has no limit but the number of open files. A few
// subfolders are opened and listed ahead, on other threads, while the walk goes on.
class SheetWalk
{
public:
    explicit SheetWalk(bool recursive, Leftovers leftovers, const DescriptorBudget &budget = {});

    // All paths are added before the first step.
    void addPath(const QByteArray &path);
    // The next step, or false at the end.
    [[nodiscard]] bool next(WalkItem &item);
    // The folders held open by the walk itself now: those on the way down and those listed
    // ahead. The items given hold their folders too.
    int foldersHeld() const { return int(stack.size()) + foldersAhead(); }

private:
    // A folder opened and listed, or why it could not be opened (folder null) or listed; with
    // the first of its subfolders read too, in walk order.
    struct ReadFolder
    {
        std::shared_ptr<const Folder> folder;
        std::optional<Failure> failure;
        FolderListing listing;
        std::vector<ReadFolder> subfolders;
        int folders = 1; // this one and those listed below it
    };
    static ReadFolder readFolder(std::shared_ptr<const Folder> folder);
    static ReadFolder readSubfolder(const Folder &parent, const FolderEntry &entry);
    // entry, then its subfolders depth first, as long as budget lasts.
    static ReadFolder readTree(const Folder &parent, const FolderEntry &entry, int &budget);

    // A folder on the way down, and how far the walk is in it.
    struct Level
    {
        std::shared_ptr<const Folder> folder;
        FolderListing listing;
        qsizetype nextNotice = 0;
        qsizetype nextSheet = 0;
        qsizetype nextSubfolder = 0;
        // Of the subfolders from nextSubfolder on: those read with this folder, then those
        // being read.
        std::deque<ReadFolder> readAhead;
        std::deque<std::future<ReadFolder>> beingRead;
    };

    // Goes into what was read, unless walked already; a failure to report otherwise.
    std::optional<Failure> enter(ReadFolder listed);
    // The next subfolder of top, read.
    ReadFolder takeSubfolder(Level &top);
    // Starts reading the subfolders the walk reaches next, the deepest first.
    void startReadingAhead();
    // The folders read ahead, or reserved for readings under way.
    int foldersAhead() const;
    bool giveSheet(const SheetEntry &sheet, WalkItem &item);
    enum class Step { Given, Again, End };
    // One step in the folder on top of the stack, or on to the next path given.
    Step stepInTop(WalkItem &item);
    Step stepToNextPath(WalkItem &item);

    const bool recursive;
    const Leftovers leftovers;
    const int foldersAheadAllowed;
    QList<QByteArray> paths;
    qsizetype nextPath = 0;
    std::deque<Level> stack;
    QSet<FileKey> walkedFolders;
    QSet<EntryKey> givenEntries;
    // Declared last, so that it is destroyed first: it finishes the readings under way.
    WorkerThreads readers;
};

} // namespace cueprune
