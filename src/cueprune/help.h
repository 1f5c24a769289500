#pragma once

#include <QString>

namespace cueprune {

// --help's text.
[[nodiscard]] QString helpText();

} // namespace cueprune
