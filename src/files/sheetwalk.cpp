#include "files/sheetwalk.h"

#include <memory>

namespace cueprune {

namespace {

// Subfolders are listed ahead of the walk a few at a time, each listing a subfolder and what
// lies below it, so that a thread is handed a tree, not a folder. Each folder listed ahead
// holds a descriptor until the walk reaches it: only so many are, and none when the
// descriptor limit leaves little room beyond the sheets under way.
constexpr int foldersPerListing = 16;
constexpr int mostFoldersAhead = 4 * foldersPerListing;
// Two measured best, folders cached or not: more only switch more.
constexpr int listingThreads = 2;

} // namespace

SheetWalk::SheetWalk(bool recursive, Leftovers leftovers, const DescriptorBudget &budget)
    : recursive(recursive)
    , leftovers(leftovers)
    , foldersAheadAllowed(recursive ? budget.foldersAhead(mostFoldersAhead, foldersPerListing) : 0)
    , readers(listingThreads)
{
}

void SheetWalk::addPath(const QByteArray &path)
{
    paths.append(path);
}

SheetWalk::ReadFolder SheetWalk::readFolder(std::shared_ptr<const Folder> folder)
{
    // Temporaries are removed only once the walk enters a folder, so that each removal is
    // reported even when the run stops before it gets there.
    auto listing = listFolder(folder, Leftovers::Kept);
    if (!listing)
        return { std::move(folder), listing.failure(), {}, {} };
    return { std::move(folder), std::nullopt, std::move(*listing), {} };
}

SheetWalk::ReadFolder SheetWalk::readSubfolder(const Folder &parent, const FolderEntry &entry)
{
    auto folder = parent.openSubfolder(entry);
    if (!folder)
        return { nullptr, folder.failure(), {}, {} };
    return readFolder(std::move(*folder));
}

SheetWalk::ReadFolder SheetWalk::readTree(
    const Folder &parent, const FolderEntry &entry, int &budget)
{
    ReadFolder tree = readSubfolder(parent, entry);
    --budget;
    if (!tree.folder || tree.failure)
        return tree;
    for (const FolderEntry &subfolder : std::as_const(tree.listing.subfolders)) {
        if (budget == 0)
            break;
        tree.subfolders.push_back(readTree(*tree.folder, subfolder, budget));
        tree.folders += tree.subfolders.back().folders;
    }
    return tree;
}

std::optional<Failure> SheetWalk::enter(ReadFolder read)
{
    if (!read.folder)
        return read.failure;
    if (walkedFolders.contains(read.folder->key()))
        return std::nullopt;
    if (read.failure)
        return read.failure;
    if (!read.listing.hidden.isEmpty() && leftovers == Leftovers::Settled)
        settleLeftovers(read.folder, read.listing);
    walkedFolders.insert(read.folder->key());
    stack.push_back({ std::move(read.folder), std::move(read.listing), 0, 0, 0,
        { std::make_move_iterator(read.subfolders.begin()),
            std::make_move_iterator(read.subfolders.end()) },
        {} });
    startReadingAhead();
    return std::nullopt;
}

SheetWalk::ReadFolder SheetWalk::takeSubfolder(Level &top)
{
    const FolderEntry &entry = top.listing.subfolders[top.nextSubfolder++];
    if (!top.readAhead.empty()) {
        ReadFolder subfolder = std::move(top.readAhead.front());
        top.readAhead.pop_front();
        return subfolder;
    }
    if (!top.beingRead.empty()) {
        ReadFolder subfolder = top.beingRead.front().get();
        top.beingRead.pop_front();
        return subfolder;
    }
    return readSubfolder(*top.folder, entry);
}

void SheetWalk::startReadingAhead()
{
    const auto roomForListing
        = [this] { return foldersAhead() + foldersPerListing <= foldersAheadAllowed; };
    for (auto level = stack.rbegin(); level != stack.rend() && roomForListing(); ++level) {
        const QList<FolderEntry> &subfolders = level->listing.subfolders;
        while (roomForListing()) {
            const qsizetype next = level->nextSubfolder + qsizetype(level->readAhead.size())
                + qsizetype(level->beingRead.size());
            if (next == subfolders.size())
                break;
            auto listing = std::make_shared<std::promise<ReadFolder>>();
            level->beingRead.push_back(listing->get_future());
            const auto list = [parent = level->folder, entry = subfolders[next], listing] {
                int budget = foldersPerListing;
                listing->set_value(readTree(*parent, entry, budget));
            };
            if (!readers.start(list))
                list();
        }
    }
}

// The one count of what is held ahead: each tree read ahead holds its folders; each reading
// under way is counted at the most it may hold.
int SheetWalk::foldersAhead() const
{
    int folders = 0;
    for (const Level &level : stack) {
        for (const ReadFolder &tree : level.readAhead)
            folders += tree.folders;
        folders += int(level.beingRead.size()) * foldersPerListing;
    }
    return folders;
}

bool SheetWalk::giveSheet(const SheetEntry &sheet, WalkItem &item)
{
    // Below one path, each folder walked once gives each of its entries once: only several
    // paths can reach an entry twice.
    if (paths.size() > 1) {
        const qsizetype given = givenEntries.size();
        givenEntries.insert(sheet.entryKey());
        if (givenEntries.size() == given)
            return false;
    }
    item = sheet;
    return true;
}

SheetWalk::Step SheetWalk::stepInTop(WalkItem &item)
{
    Level &top = stack.back();
    if (top.nextNotice < top.listing.notices.size()) {
        item = top.listing.notices[top.nextNotice++];
        return Step::Given;
    }
    if (top.nextSheet < top.listing.sheets.size())
        return giveSheet(top.listing.sheets[top.nextSheet++], item) ? Step::Given : Step::Again;
    const qsizetype subfolders = top.listing.subfolders.size();
    if (top.nextSubfolder == subfolders) {
        stack.pop_back();
        startReadingAhead();
        return Step::Again;
    }
    if (!recursive) {
        top.nextSubfolder = subfolders;
        item = SubfoldersLeftOut { top.folder->path(), subfolders };
        return Step::Given;
    }
    const QByteArray shown
        = joinPath(top.folder->path(), top.listing.subfolders[top.nextSubfolder].name);
    // enter() may grow the stack, so top is not used after it.
    const std::optional<Failure> failure = enter(takeSubfolder(top));
    if (!failure)
        return Step::Again;
    item = UnreachablePath { shown, *failure };
    return Step::Given;
}

SheetWalk::Step SheetWalk::stepToNextPath(WalkItem &item)
{
    if (nextPath == paths.size())
        return Step::End;
    const QByteArray &path = paths[nextPath++];
    const auto named = openNamedPath(path);
    std::optional<Failure> failure;
    if (!named)
        failure = named.failure();
    else if (named->folder)
        failure = enter(readFolder(named->folder));
    else
        return giveSheet(named->sheet, item) ? Step::Given : Step::Again;
    if (!failure)
        return Step::Again;
    // Shown as given when it cannot be found, physically when the folder was opened.
    item = UnreachablePath { named ? named->folder->path() : path, *failure };
    return Step::Given;
}

bool SheetWalk::next(WalkItem &item)
{
    for (;;) {
        const Step step = stack.empty() ? stepToNextPath(item) : stepInTop(item);
        if (step != Step::Again)
            return step == Step::Given;
    }
}

} // namespace cueprune
