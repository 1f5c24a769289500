#include "core/linerule.h"

#include "core/displaytext.h"

#include <optional>

namespace cueprune {

namespace {

// The rule: walks the lines and hands each line holding "INDEX 00" that is directly followed
// by a line holding "INDEX 01" (and that rule lets go) to drop, with its number, and every
// other line to keep, with whether it is the last.
template <typename Drop, typename Keep>
void applyRule(SheetLines &lines, PregapRule rule, Drop drop, Keep keep)
{
    const std::string pregapMarker = lines.encoded("INDEX 00");
    const std::string trackStartMarker = lines.encoded("INDEX 01");
    // Looked at only under the guard, so that the plain rule costs what it always did.
    const bool guarded = rule == PregapRule::KeepFirstOfFile;
    FirstIndexOfFile firstIndexOfFile(lines);
    SheetLines::Line previous;
    (void)lines.next(previous); // a sheet has at least one line, if empty
    qsizetype number = 1; // previous's
    // Every line goes through firstIndexOfFile, in order, for its count of the FILE's indexes.
    const bool firstIsGuarded = guarded && firstIndexOfFile(previous);
    bool previousIsPregap = lines.contains(previous, pregapMarker) && !firstIsGuarded;
    for (SheetLines::Line current; lines.next(current); previous = current, ++number) {
        if (previousIsPregap && lines.contains(current, trackStartMarker))
            drop(previous, number);
        else
            keep(previous, false);
        const bool isGuarded = guarded && firstIndexOfFile(current);
        previousIsPregap = lines.contains(current, pregapMarker) && !isGuarded;
    }
    keep(previous, true);
}

} // namespace

PrunedSheet pruneSheet(const QByteArray &sheet, const KeptLineObserver &observer, PregapRule rule)
{
    SheetLines lines(sheet);
    std::optional<SheetDecoder> decode;
    if (observer)
        decode.emplace(sheet, lines.encoding());

    PrunedSheet pruned { sheet, {} };
    QByteArray kept; // built only once a line is dropped
    qsizetype keptFrom = 0;
    applyRule(
        lines, rule,
        [&](const SheetLines::Line &line, qsizetype number) {
            if (pruned.droppedLines.isEmpty())
                kept.reserve(sheet.size());
            pruned.droppedLines.append(number);
            kept.append(sheet.constData() + keptFrom, line.start - keptFrom);
            keptFrom = line.end;
        },
        [&](const SheetLines::Line &line, bool last) {
            if (decode)
                observer(last ? (*decode)(lines.content(line))
                              : (*decode)(lines.content(line)) + QLatin1Char('\n'));
        });
    if (!pruned.droppedLines.isEmpty()) {
        kept.append(sheet.constData() + keptFrom, sheet.size() - keptFrom);
        pruned.bytes = kept;
    }
    return pruned;
}

QList<qsizetype> pregapLines(const QByteArray &sheet, PregapRule rule)
{
    SheetLines lines(sheet);
    QList<qsizetype> dropped;
    applyRule(
        lines, rule,
        [&dropped](const SheetLines::Line &, qsizetype number) { dropped.append(number); },
        [](const SheetLines::Line &, bool) {});
    return dropped;
}

} // namespace cueprune
