#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace cueprune {

// The unified diff of sheet against itself less droppedLines (numbers from 1, in order), as
// "diff -u" prints it with three lines of context, labelled a/PATH and b/PATH: path is absolute,
// and its leading '/' goes, so that "patch -R -p1 -d /" undoes the change. A label that holds a
// space, a quote, a backslash, a control or a byte beyond ASCII is quoted as GNU patch reads it
// ("a/caf\351.cue"). The lines are the sheet's own bytes: line ends, a missing final newline
// and any 8-bit code page come back exactly. A UTF-16 or UTF-32 sheet, which patch cannot
// read, is shown decoded, each line of its diff behind "# " so that patch passes over it, under
// a line that says so.
[[nodiscard]] QByteArray unifiedDiff(
    const QByteArray &sheet, const QList<qsizetype> &droppedLines, QByteArrayView path);

} // namespace cueprune
