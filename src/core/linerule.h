#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace cueprune {

// Receives each kept line, decoded for display, as soon as it is decided: every kept line
// followed by "\n", then the last line of the sheet alone.
using KeptLineObserver = std::function<void(const QString &)>;

struct PrunedSheet
{
    QByteArray bytes; // the sheet minus its dropped lines; the sheet itself when none was
    qsizetype droppedLines = 0;
};

// The line rule: a line holding "INDEX 00" that is directly followed by a line holding
// "INDEX 01" is dropped, together with its own terminator. Every other byte is kept, so
// encoding, byte-order mark and line terminators survive. The markers are matched in the
// sheet's own encoding (core/sheetlines.h).
[[nodiscard]] PrunedSheet pruneSheet(
    const QByteArray &sheet, const KeptLineObserver &observer = {});

// How many lines pruneSheet would drop, counted without building the pruned bytes.
[[nodiscard]] qsizetype countPregapLines(const QByteArray &sheet);

} // namespace cueprune
