#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace cueprune {

// The unified diff of sheet against itself less droppedLines (numbers from 1, in order), as
// "diff -a -u" prints it with three lines of context, labelled a/PATH and b/PATH: path is
// absolute, and its leading '/' goes, so that "patch -R -p1 -d /" undoes the change. A label
// that holds a space, a quote, a backslash, a control or a byte beyond ASCII is quoted as GNU
// patch reads it ("a/caf\351.cue"). The lines are the sheet's own bytes, cut at each byte 0x0A
// whatever the encoding: line ends, a missing final newline, any 8-bit code page, UTF-16 and
// UTF-32 come back exactly. Above a UTF-16 or UTF-32 sheet's diff, the same changes decoded,
// each line behind "# " so that patch passes over it, for people to read.
[[nodiscard]] QByteArray unifiedDiff(
    const QByteArray &sheet, const QList<qsizetype> &droppedLines, QByteArrayView path);

} // namespace cueprune
