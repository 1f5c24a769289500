#pragma once

#include <QDir>
#include <QStringList>

// Absolute paths of the "*.CUE" files directly in folder, any letter case, by name ignoring
// case; hidden files, symbolic links and subfolders are left out.
[[nodiscard]] QStringList cueSheetsIn(const QDir &folder);
