#pragma once

#include "core/pruningcost.h"
#include "files/failure.h"

#include <QString>

namespace cueprune {

// The words every program says a verdict with, beside the verdicts themselves: why a sheet
// failed, and what a change costs. cueprune and both windows take them from here alone.

// The reason of a failure, in French: "écriture refusée", "disque plein"...
[[nodiscard]] QString failureText(const Failure &failure);

// A stable name of a failure's reason, for scripts: "disk-full", "swapped"...
[[nodiscard]] QString failureCode(const Failure &failure);

// Who reads a warning's advice: cueprune names its own options; the windows, which have none,
// name cueprune.
enum class Advice { CuePruneOptions, CuePruneProgram };

// What a warning says after "attention : ", then what keeps the cost away or the way back.
[[nodiscard]] QString warningText(
    const PruningWarning &warning, Advice advice = Advice::CuePruneOptions);

// "1 sous-dossier non parcouru", "2 sous-dossiers non parcourus".
[[nodiscard]] QString subfoldersLeftOutText(qsizetype count);

} // namespace cueprune
