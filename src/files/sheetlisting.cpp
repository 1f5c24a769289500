#include "files/sheetlisting.h"

#include "core/displaytext.h"
#include "files/replacement.h"

#include <algorithm>
#include <cerrno>

namespace cueprune {

namespace {

// Sorts entries by name as decoded, ignoring case, ties broken on the bytes.
template <typename Entry> void sortByName(QList<Entry> &entries)
{
    QList<std::pair<QString, Entry>> keyed;
    keyed.reserve(entries.size());
    for (Entry &entry : entries)
        keyed.append({ decodePath(entry.name), std::move(entry) });
    std::sort(keyed.begin(), keyed.end(), [](const auto &a, const auto &b) {
        const int order = a.first.compare(b.first, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a.second.name < b.second.name;
    });
    entries.clear();
    for (auto &[shown, entry] : keyed)
        entries.append(std::move(entry));
}

} // namespace

Result<FolderListing> listFolder(const std::shared_ptr<const Folder> &folder, Leftovers leftovers)
{
    const auto contents = folder->read();
    if (!contents)
        return contents.failure();
    FolderListing listing;
    listing.hidden = contents->hidden;
    if (leftovers == Leftovers::Settled)
        settleLeftovers(folder, listing);
    // Whether the listing's inode numbers are the files' identities here, as a first lookup
    // of a sheet shows: then the other sheets need none. Either way, what is opened later must
    // still be the file listed.
    std::optional<bool> listedKeysHold;
    for (const FolderEntry &entry : contents->entries) {
        const bool sheet = entry.kind == FolderEntry::Kind::RegularFile && isSheetName(entry.name);
        if (!sheet && entry.kind != FolderEntry::Kind::Folder)
            continue;
        if (sheet && listedKeysHold.value_or(false)) {
            listing.sheets.append(
                { folder, entry.name, entry.key, joinPath(folder->path(), entry.name) });
            continue;
        }
        // The identity the entry has now (a subfolder may be a mount point).
        const auto found = folder->lookUp(entry.name);
        if (!found && found.failure().systemError == EACCES)
            return Failure { Failure::Reason::FolderUnreadable, EACCES };
        if (!found || found->kind != entry.kind) {
            listing.notices.append(UnreachablePath { joinPath(folder->path(), entry.name),
                found ? Failure { Failure::Reason::SwappedDuringWalk, 0 } : found.failure() });
            continue;
        }
        if (sheet && !listedKeysHold)
            listedKeysHold = found->key == entry.key;
        if (sheet)
            listing.sheets.append(
                { folder, found->name, found->key, joinPath(folder->path(), found->name) });
        else
            listing.subfolders.append(*found);
    }
    sortByName(listing.sheets);
    sortByName(listing.subfolders);
    return listing;
}

void settleLeftovers(const std::shared_ptr<const Folder> &folder, FolderListing &listing)
{
    QList<WalkItem> settled;
    for (const QByteArray &name : std::as_const(listing.hidden)) {
        const Leftover leftover = settleLeftover(*folder, name);
        if (leftover == Leftover::None)
            continue;
        if (leftover == Leftover::Removed) {
            settled.append(SettledLeftover { joinPath(folder->path(), name), leftover });
            continue;
        }
        const QByteArray sheet = parseTemporaryName(name)->replaced;
        const auto found = folder->lookUp(sheet);
        settled.append(SettledLeftover { joinPath(folder->path(), sheet), leftover });
        if (found && found->kind == FolderEntry::Kind::RegularFile && isSheetName(sheet))
            listing.sheets.append({ folder, sheet, found->key, joinPath(folder->path(), sheet) });
    }
    if (!settled.isEmpty())
        sortByName(listing.sheets);
    listing.notices = settled + listing.notices;
    listing.hidden.clear();
}

} // namespace cueprune
