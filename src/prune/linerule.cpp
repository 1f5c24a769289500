#include "linerule.h"

#include "sheettext.h"

#include <optional>

PrunedSheet pruneSheet(const QByteArray &sheet, const KeptLineObserver &observer)
{
    SheetLines lines(sheet);
    const std::string pregapMarker = lines.encoded("INDEX 00");
    const std::string trackStartMarker = lines.encoded("INDEX 01");
    std::optional<SheetDecoder> decode;
    if (observer)
        decode.emplace(sheet, lines.encoding());

    PrunedSheet pruned { sheet, 0 };
    QByteArray kept; // built only once a line is dropped
    qsizetype keptFrom = 0;
    SheetLines::Line previous;
    (void)lines.next(previous); // a sheet has at least one line, if empty
    bool previousIsPregap = lines.contains(previous, pregapMarker);
    for (SheetLines::Line current; lines.next(current); previous = current) {
        if (previousIsPregap && lines.contains(current, trackStartMarker)) {
            if (pruned.droppedLines == 0)
                kept.reserve(sheet.size());
            kept.append(sheet.constData() + keptFrom, previous.start - keptFrom);
            keptFrom = previous.end;
            ++pruned.droppedLines;
        } else if (decode) {
            observer((*decode)(lines.content(previous)) + QLatin1Char('\n'));
        }
        previousIsPregap = lines.contains(current, pregapMarker);
    }
    if (decode)
        observer((*decode)(lines.content(previous)));

    if (pruned.droppedLines > 0) {
        kept.append(sheet.constData() + keptFrom, sheet.size() - keptFrom);
        pruned.bytes = kept;
    }
    return pruned;
}
