#pragma once

#include "files/failure.h"
#include "files/folder.h"
#include "files/temporaries.h"

#include <QList>

#include <memory>
#include <optional>

namespace cueprune {

// One step of a walk: a sheet to prune; or, with only the sheet's shownPath set, a path that
// could not be reached, a killed run's temporary that was settled, or a folder whose
// subfolders a walk that is not recursive leaves out.
struct WalkItem
{
    SheetEntry sheet;
    std::optional<Failure> unreachable;
    Leftover leftover = Leftover::None;
    qsizetype subfoldersLeftOut = 0;

    bool isSheet() const
    {
        return !unreachable && leftover == Leftover::None && subfoldersLeftOut == 0;
    }

    // A path that could not be reached, shown as shownPath.
    static WalkItem unreachablePath(QByteArray shownPath, const Failure &failure)
    {
        return { { {}, {}, {}, std::move(shownPath) }, failure, Leftover::None };
    }
    // A killed run's temporary, shown as shownPath when removed, by its sheet's path when it
    // became the sheet again.
    static WalkItem settledLeftover(QByteArray shownPath, Leftover leftover)
    {
        return { { {}, {}, {}, std::move(shownPath) }, std::nullopt, leftover };
    }
    // A folder, shown as shownPath, whose count subfolders are not walked.
    static WalkItem subfoldersNotWalked(QByteArray shownPath, qsizetype count)
    {
        return { { {}, {}, {}, std::move(shownPath) }, std::nullopt, Leftover::None, count };
    }
};

struct FolderListing
{
    QList<WalkItem> notices; // entries that could not be looked up, temporaries settled
    QList<SheetEntry> sheets; // the regular files named "*.CUE", any letter case
    QList<FolderEntry> subfolders;
    QList<QByteArray> hidden; // hidden names, among which killed runs' temporaries
};

// What a run does with the hidden temporaries of killed runs that it meets.
enum class Strays { Kept, Removed };

// Lists folder in one pass. Both lists go by name ignoring case, compared as decoded, ties
// broken on the bytes. Hidden entries and symbolic links are left out, so that a walk down
// the subfolders never loops. A folder whose names can be read but not looked up (read
// permission without search permission) is FolderUnreadable; an entry that cannot be looked up
// for another reason is a notice, never left out in silence.
[[nodiscard]] Result<FolderListing> listFolder(
    const std::shared_ptr<const Folder> &folder, Strays strays);

// Settles the killed runs' temporaries among the listing's hidden names, each with a notice
// before the listing's others. A temporary that became its sheet again is listed as a sheet.
void settleLeftovers(const std::shared_ptr<const Folder> &folder, FolderListing &listing);

} // namespace cueprune
