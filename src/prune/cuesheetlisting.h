#pragma once

#include "sheetfile.h"

#include <QByteArray>
#include <QList>

#include <optional>

struct FolderListing
{
    FileKey key; // the folder's own
    QList<NamedFile> sheets; // the regular files named "*.CUE", any letter case
    QList<NamedFile> subfolders;
};

// Lists folder (an absolute path as the system holds it) in one pass. Both lists go by name
// ignoring case, compared as displayed, ties broken on the bytes. Hidden entries and
// symbolic links are left out, so that a walk down the subfolders never loops. Nothing when
// the folder cannot be read.
[[nodiscard]] std::optional<FolderListing> listFolder(const QByteArray &folder);
