#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

namespace cueprune {

// Receives each kept line, decoded for display, as soon as it is decided: every kept line
// followed by "\n", then the last line of the sheet alone.
using KeptLineObserver = std::function<void(const QString &)>;

// Which of the pregap lines the rule drops.
enum class PregapRule {
    All,
    // All but those that are the first INDEX line after their FILE line (or of the sheet):
    // programs that embed or burn a sheet need each file's first index.
    KeepFirstOfFile,
};

struct PrunedSheet
{
    QByteArray bytes; // the sheet minus its dropped lines; the sheet itself when none was
    QList<qsizetype> droppedLines; // their numbers, from 1, in order
};

// The line rule: a line holding "INDEX 00" that is directly followed by a line holding
// "INDEX 01" is dropped, together with its own terminator, unless rule keeps it. Every other
// byte is kept, so encoding, byte-order mark and line terminators survive. The markers are
// matched in the sheet's own encoding (core/sheetlines.h).
[[nodiscard]] PrunedSheet pruneSheet(const QByteArray &sheet, const KeptLineObserver &observer = {},
    PregapRule rule = PregapRule::All);

// The numbers of the lines pruneSheet would drop, found without building the pruned bytes.
[[nodiscard]] QList<qsizetype> pregapLines(
    const QByteArray &sheet, PregapRule rule = PregapRule::All);

} // namespace cueprune
