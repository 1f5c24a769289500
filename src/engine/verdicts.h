#pragma once

#include "engine/processcuefile.h"

#include <QString>

namespace cueprune {

// The log's verdict for a result, e.g. "==> Fichier modifié !", without a line feed; a dry
// run's "==> Fichier à modifier !" for a sheet that would change.
[[nodiscard]] QString verdictText(CueResult result, WriteMode mode = WriteMode::Rewrite);

// The same verdict's stable name, for scripts: "modified", "would-modify", "unchanged", "error".
[[nodiscard]] QString verdictCode(CueResult result, WriteMode mode = WriteMode::Rewrite);

} // namespace cueprune
