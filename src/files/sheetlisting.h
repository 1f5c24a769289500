#pragma once

#include "files/failure.h"
#include "files/folder.h"
#include "files/walkitem.h"

#include <QList>

#include <memory>

namespace cueprune {

// What a folder holds for a walk.
struct FolderListing
{
    QList<WalkItem> notices; // entries that could not be looked up, temporaries settled
    QList<SheetEntry> sheets; // the regular files named "*.CUE", any letter case
    QList<FolderEntry> subfolders;
    QList<QByteArray> hidden; // hidden names, among which killed runs' temporaries
};

// What a run does with the leftovers of killed runs that it meets: a dry run keeps them.
enum class Leftovers { Kept, Settled };

// Lists folder in one pass. Both lists go by name ignoring case, compared as decoded, ties
// broken on the bytes. Hidden entries and symbolic links are left out, so that a walk down
// the subfolders never loops. A folder whose names can be read but not looked up (read
// permission without search permission) is FolderUnreadable; an entry that cannot be looked up
// for another reason is a notice, never left out in silence.
[[nodiscard]] Result<FolderListing> listFolder(
    const std::shared_ptr<const Folder> &folder, Leftovers leftovers);

// Settles the killed runs' temporaries among the listing's hidden names, each with a notice
// before the listing's others. A temporary that became its sheet again is listed as a sheet.
void settleLeftovers(const std::shared_ptr<const Folder> &folder, FolderListing &listing);

} // namespace cueprune
