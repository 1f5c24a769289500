#pragma once

#include <QDir>
#include <QStringList>

struct FolderListing
{
    QStringList sheets; // absolute paths of the "*.CUE" files, any letter case
    QStringList subfolders; // absolute paths
};

// Lists folder in one pass, both lists by name ignoring case. Hidden entries and symbolic
// links are left out, so that a walk down the subfolders never loops.
[[nodiscard]] FolderListing listFolder(const QDir &folder);

// The sheets of listFolder alone.
[[nodiscard]] QStringList cueSheetsIn(const QDir &folder);
