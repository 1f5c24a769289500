#include "core/sheetdiff.h"

#include "core/displaytext.h"
#include "core/sheetlines.h"

#include <algorithm>
#include <vector>

namespace cueprune {

namespace {

constexpr qsizetype context = 3;

// A label as GNU patch reads it: bare, or between double quotes with C escapes.
QByteArray label(char side, QByteArrayView path)
{
    const QByteArray name = side + ('/' + path.sliced(path.startsWith('/') ? 1 : 0).toByteArray());
    const auto plain = [](char c) {
        const auto value = static_cast<unsigned char>(c);
        return value > ' ' && value < 0x7F && c != '"' && c != '\\';
    };
    if (std::all_of(name.begin(), name.end(), plain))
        return name;
    QByteArray quoted = "\"";
    for (const char c : name) {
        const char *escape = c == '"' ? "\\\""
            : c == '\\'               ? "\\\\"
            : c == '\t'               ? "\\t"
            : c == '\n'               ? "\\n"
                                      : nullptr;
        if (escape != nullptr)
            quoted += escape;
        else if (plain(c) || c == ' ')
            quoted += c;
        else
            quoted += '\\'
                + QByteArray::number(static_cast<unsigned char>(c), 8).rightJustified(3, '0');
    }
    return quoted + '"';
}

// Lines [first, last] of the sheet, with the dropped ones among them.
struct Hunk
{
    qsizetype first = 0;
    qsizetype last = 0;
    qsizetype droppedBefore = 0; // dropped lines before first
    qsizetype dropped = 0; // within
};

std::vector<Hunk> hunks(const QList<qsizetype> &droppedLines, qsizetype lineCount)
{
    std::vector<Hunk> found;
    for (qsizetype i = 0; i < droppedLines.size(); ++i) {
        const qsizetype line = droppedLines[i] - 1;
        const qsizetype first = std::max<qsizetype>(0, line - context);
        const qsizetype last = std::min(lineCount - 1, line + context);
        // Changes at most twice the context apart share a hunk, as diff makes them.
        if (!found.empty() && first <= found.back().last + 1) {
            found.back().last = last;
            ++found.back().dropped;
        } else {
            found.push_back({ first, last, i, 1 });
        }
    }
    return found;
}

// "-start,count" as diff writes a range: the count only when it is not 1, and the line before
// an empty range.
QByteArray range(char side, qsizetype first, qsizetype count)
{
    QByteArray text = side + QByteArray::number(count == 0 ? first : first + 1);
    if (count != 1)
        text += ',' + QByteArray::number(count);
    return text;
}

} // namespace

QByteArray unifiedDiff(
    const QByteArray &sheet, const QList<qsizetype> &droppedLines, QByteArrayView path)
{
    SheetLines lines(sheet);
    std::vector<SheetLines::Line> all;
    for (SheetLines::Line line; lines.next(line);)
        all.push_back(line);
    const bool wide = lines.encoding().unitSize() > 1;
    if (!wide)
        all.front().start = 0; // the first line holds the byte-order mark, as patch reads it
    SheetDecoder decode(sheet, lines.encoding());
    const auto text = [&](const SheetLines::Line &line) {
        if (wide)
            return decode(lines.content(line)).toUtf8() + '\n';
        const QByteArray bytes = sheet.mid(line.start, line.end - line.start);
        return line.end > line.contentEnd ? bytes : bytes + "\n\\ No newline at end of file\n";
    };

    QByteArray diff = "--- " + label('a', path) + "\n+++ " + label('b', path) + '\n';
    for (const Hunk &hunk : hunks(droppedLines, qsizetype(all.size()))) {
        const qsizetype count = hunk.last - hunk.first + 1;
        diff += "@@ " + range('-', hunk.first, count) + ' '
            + range('+', hunk.first - hunk.droppedBefore, count - hunk.dropped) + " @@\n";
        qsizetype nextDropped = hunk.droppedBefore;
        for (qsizetype line = hunk.first; line <= hunk.last; ++line) {
            const bool dropped
                = nextDropped < droppedLines.size() && droppedLines[nextDropped] == line + 1;
            nextDropped += dropped;
            diff += (dropped ? '-' : ' ') + text(all[std::size_t(line)]);
        }
    }
    if (!wide)
        return diff;
    QByteArray shown = "# cueprune : " + label('a', path) + " est en " + decode.codePage()
        + " : différences montrées décodées, que patch ne peut pas appliquer\n";
    for (const QByteArray &line : diff.split('\n')) {
        if (!line.isEmpty())
            shown += "# " + line + '\n';
    }
    return shown;
}

} // namespace cueprune
