#pragma once

#include "files/failure.h"
#include "files/folder.h"

#include <QList>

#include <memory>

namespace cueprune {

struct FolderListing
{
    QList<SheetEntry> sheets; // the regular files named "*.CUE", any letter case
    QList<FolderEntry> subfolders;
};

// What a run does with the hidden temporaries of killed runs that it meets.
enum class Strays { Kept, Removed };

// Lists folder in one pass. Both lists go by name ignoring case, compared as decoded, ties
// broken on the bytes. Hidden entries and symbolic links are left out, so that a walk down
// the subfolders never loops.
[[nodiscard]] Result<FolderListing> listFolder(
    const std::shared_ptr<const Folder> &folder, Strays strays);

} // namespace cueprune
