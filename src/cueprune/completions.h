#pragma once

#include <QString>

namespace cueprune {

// The shells' completion scripts for cueprune, made from its option table at build time.
[[nodiscard]] QString bashCompletion();
[[nodiscard]] QString zshCompletion();
[[nodiscard]] QString fishCompletion();

} // namespace cueprune
