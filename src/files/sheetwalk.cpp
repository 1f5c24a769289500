#include "files/sheetwalk.h"

namespace cueprune {

SheetWalk::SheetWalk(bool recursive, Strays strays)
    : recursive(recursive)
    , strays(strays)
{
}

void SheetWalk::addPath(const QByteArray &path)
{
    paths.append(path);
}

std::optional<Failure> SheetWalk::enter(const std::shared_ptr<const Folder> &folder)
{
    if (walkedFolders.contains(folder->key()))
        return std::nullopt;
    auto listing = listFolder(folder, strays);
    if (!listing)
        return listing.failure();
    walkedFolders.insert(folder->key());
    stack.push_back({ folder, std::move(*listing) });
    return std::nullopt;
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
    item = { sheet, std::nullopt };
    return true;
}

bool SheetWalk::next(WalkItem &item)
{
    for (;;) {
        if (!stack.empty()) {
            OpenListing &top = stack.back();
            if (top.nextNotice < top.listing.notices.size()) {
                item = top.listing.notices[top.nextNotice++];
                return true;
            }
            if (top.nextSheet < top.listing.sheets.size()) {
                if (giveSheet(top.listing.sheets[top.nextSheet++], item))
                    return true;
                continue;
            }
            if (recursive && top.nextSubfolder < top.listing.subfolders.size()) {
                const FolderEntry &entry = top.listing.subfolders[top.nextSubfolder++];
                const QByteArray shown = joinPath(top.folder->path(), entry.name);
                const auto subfolder = top.folder->openSubfolder(entry);
                // enter() may grow the stack, so top is not used after it.
                const std::optional<Failure> failure
                    = subfolder ? enter(*subfolder) : subfolder.failure();
                if (failure) {
                    item = WalkItem::unreachablePath(shown, *failure);
                    return true;
                }
                continue;
            }
            stack.pop_back();
            continue;
        }
        if (nextPath == paths.size())
            return false;
        const QByteArray &path = paths[nextPath++];
        const auto named = openNamedPath(path);
        std::optional<Failure> failure;
        if (!named)
            failure = named.failure();
        else if (named->folder)
            failure = enter(named->folder);
        else if (giveSheet(named->sheet, item))
            return true;
        if (failure) {
            // Shown as given when it cannot be found, physically when the folder was opened.
            const QByteArray shown = named ? named->folder->path() : path;
            item = WalkItem::unreachablePath(shown, *failure);
            return true;
        }
    }
}

} // namespace cueprune
