#include "core/linerule.h"

#include "core/displaytext.h"

#include <optional>

namespace cueprune {

namespace {

// The rule: walks the lines and hands each line holding "INDEX 00" that is directly followed
// by a line holding "INDEX 01" to drop, and every other line to keep, with whether it is the
// last. The walk ends early when drop returns false.
template <typename Drop, typename Keep> void applyRule(SheetLines &lines, Drop drop, Keep keep)
{
    const std::string pregapMarker = lines.encoded("INDEX 00");
    const std::string trackStartMarker = lines.encoded("INDEX 01");
    SheetLines::Line previous;
    (void)lines.next(previous); // a sheet has at least one line, if empty
    bool previousIsPregap = lines.contains(previous, pregapMarker);
    for (SheetLines::Line current; lines.next(current); previous = current) {
        if (previousIsPregap && lines.contains(current, trackStartMarker)) {
            if (!drop(previous))
                return;
        } else {
            keep(previous, false);
        }
        previousIsPregap = lines.contains(current, pregapMarker);
    }
    keep(previous, true);
}

} // namespace

PrunedSheet pruneSheet(const QByteArray &sheet, const KeptLineObserver &observer)
{
    SheetLines lines(sheet);
    std::optional<SheetDecoder> decode;
    if (observer)
        decode.emplace(sheet, lines.encoding());

    PrunedSheet pruned { sheet, 0 };
    QByteArray kept; // built only once a line is dropped
    qsizetype keptFrom = 0;
    applyRule(
        lines,
        [&](const SheetLines::Line &line) {
            if (pruned.droppedLines++ == 0)
                kept.reserve(sheet.size());
            kept.append(sheet.constData() + keptFrom, line.start - keptFrom);
            keptFrom = line.end;
            return true;
        },
        [&](const SheetLines::Line &line, bool last) {
            if (decode)
                observer(last ? (*decode)(lines.content(line))
                              : (*decode)(lines.content(line)) + QLatin1Char('\n'));
        });
    if (pruned.droppedLines > 0) {
        kept.append(sheet.constData() + keptFrom, sheet.size() - keptFrom);
        pruned.bytes = kept;
    }
    return pruned;
}

qsizetype countPregapLines(const QByteArray &sheet)
{
    SheetLines lines(sheet);
    qsizetype dropped = 0;
    applyRule(
        lines,
        [&dropped](const SheetLines::Line &) {
            ++dropped;
            return true;
        },
        [](const SheetLines::Line &, bool) {});
    return dropped;
}

} // namespace cueprune
