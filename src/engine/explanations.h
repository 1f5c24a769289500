#pragma once

#include "core/pruningcost.h"
#include "files/failure.h"

#include <QByteArrayView>
#include <QString>

namespace cueprune {

// The words every program says a verdict with, beside the verdicts themselves: why a sheet
// failed, and what a change costs. cueprune and both windows take them from here alone.

// The reason of a failure, in French: "écriture refusée", "disque plein"...
[[nodiscard]] QString failureText(const Failure &failure);

// A stable name of a failure's reason, for scripts: "disk-full", "swapped"...
[[nodiscard]] QString failureCode(const Failure &failure);

// What a warning says after cueprune's "attention : ", then the option that keeps the cost away
// or keeps a way back.
[[nodiscard]] QString warningText(const PruningWarning &warning);

// The same warning as the windows show it, "attention : " first; they have no options, so it
// names cueprune's.
[[nodiscard]] QString windowWarningText(const PruningWarning &warning);

// "1 sous-dossier non parcouru", "2 sous-dossiers non parcourus".
[[nodiscard]] QString subfoldersLeftOutText(qsizetype count);

// An option no program knows, as getopt_long says it in French, with the name quoted as every
// name is: a letter, "option invalide -- 'x'", and a whole option, "option non reconnue
// « --odd »".
[[nodiscard]] QString invalidOptionText(char letter);
[[nodiscard]] QString unrecognisedOptionText(QByteArrayView option);

} // namespace cueprune
