#pragma once

#include <QDir>
#include <QStringList>

// Absolute paths of the "*.CUE" files directly in folder, any letter case, by name ignoring
// case; hidden files, symbolic links and subfolders are left out.
[[nodiscard]] QStringList cueSheetsIn(const QDir &folder);

// Absolute paths of the folders directly in folder, by name ignoring case; hidden folders and
// symbolic links are left out, so that a walk down them never loops.
[[nodiscard]] QStringList subfoldersIn(const QDir &folder);
