#pragma once

#include "files/failure.h"
#include "files/folder.h"
#include "files/temporaries.h"

#include <QByteArray>

#include <variant>

namespace cueprune {

// A path that could not be reached, and why.
struct UnreachablePath
{
    QByteArray shownPath;
    Failure failure;
};

// A killed run's temporary that was settled: shown by its own path when removed, by its
// sheet's when it became the sheet again.
struct SettledLeftover
{
    QByteArray shownPath;
    Leftover leftover = Leftover::Removed;
};

// A folder named whose subfolders a walk that is not recursive leaves out.
struct SubfoldersLeftOut
{
    QByteArray shownPath;
    qsizetype count = 0;
};

// One step of a walk: a sheet to prune, or something the walk has to say.
using WalkItem = std::variant<SheetEntry, UnreachablePath, SettledLeftover, SubfoldersLeftOut>;

// The path an item is shown by.
[[nodiscard]] inline const QByteArray &shownPath(const WalkItem &item)
{
    return std::visit(
        [](const auto &alternative) -> const QByteArray & { return alternative.shownPath; }, item);
}

} // namespace cueprune
