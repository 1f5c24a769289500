#pragma once

namespace cueprune {

// Installs Qt's own French texts (standard dialogs, context menus, the command-line parser's
// messages) whatever the locale, where the system has them (Debian: qt6-translations-l10n).
// Needs the application object, which owns the translator.
void installQtFrenchTexts();

} // namespace cueprune
