#include "core/sheetdiff.h"

#include "core/displaytext.h"
#include "core/quoting.h"
#include "core/sheetlines.h"

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

namespace cueprune {

namespace {

constexpr qsizetype context = 3;

// The label of a side: its letter, then the absolute path without its leading '/'.
QByteArray label(char side, QByteArrayView path)
{
    return cQuoted(side + ('/' + path.sliced(path.startsWith('/') ? 1 : 0).toByteArray()));
}

// Lines [first, first + removed) of the old text give way to added, one line (none when empty).
struct Edit
{
    qsizetype first = 0;
    qsizetype removed = 0;
    QByteArray added;
};

// An old line, with its line feed when it has one.
using LineText = std::function<QByteArray(qsizetype)>;

// "-start,count" as diff writes a range: the count only when it is not 1, and the line before
// an empty range.
QByteArray range(char side, qsizetype first, qsizetype count)
{
    QByteArray text = side + QByteArray::number(count == 0 ? first : first + 1);
    if (count != 1)
        text += ',' + QByteArray::number(count);
    return text;
}

QByteArray diffLine(char kind, const QByteArray &line)
{
    return kind + line + (line.endsWith('\n') ? "" : "\n\\ No newline at end of file\n");
}

using Edits = std::vector<Edit>::const_iterator;

// One hunk: old lines [first, last) around edits [begin, end); shift is what the edits before
// it did to the new text's line numbers.
QByteArray hunk(
    qsizetype first, qsizetype last, Edits begin, Edits end, qsizetype shift, const LineText &line)
{
    qsizetype newCount = last - first;
    for (auto edit = begin; edit != end; ++edit)
        newCount += !edit->added.isEmpty() - edit->removed;
    QByteArray text = "@@ " + range('-', first, last - first) + ' '
        + range('+', first + shift, newCount) + " @@\n";
    qsizetype at = first;
    for (auto edit = begin; edit != end; ++edit) {
        for (; at < edit->first; ++at)
            text += diffLine(' ', line(at));
        for (; at < edit->first + edit->removed; ++at)
            text += diffLine('-', line(at));
        if (!edit->added.isEmpty())
            text += diffLine('+', edit->added);
    }
    for (; at < last; ++at)
        text += diffLine(' ', line(at));
    return text;
}

// The hunks of lineCount old lines changed by edits (in order, apart), as diff -u makes them.
QByteArray hunks(qsizetype lineCount, const std::vector<Edit> &edits, const LineText &line)
{
    QByteArray text;
    qsizetype shift = 0;
    for (auto begin = edits.cbegin(); begin != edits.cend();) {
        auto end = begin + 1;
        // Edits at most twice the context apart share a hunk.
        while (end != edits.cend() && end->first - (end[-1].first + end[-1].removed) <= 2 * context)
            ++end;
        const qsizetype first = std::max<qsizetype>(0, begin->first - context);
        const qsizetype last = std::min(lineCount, end[-1].first + end[-1].removed + context);
        text += hunk(first, last, begin, end, shift, line);
        for (; begin != end; ++begin)
            shift += !begin->added.isEmpty() - begin->removed;
    }
    return text;
}

// The bytes of the dropped lines, those next to each other joined: [start, end) each.
std::vector<std::pair<qsizetype, qsizetype>> droppedBytes(
    const QByteArray &sheet, const QList<qsizetype> &droppedLines)
{
    std::vector<std::pair<qsizetype, qsizetype>> dropped;
    SheetLines lines(sheet);
    auto next = droppedLines.cbegin();
    qsizetype number = 0;
    for (SheetLines::Line line; next != droppedLines.cend() && lines.next(line);) {
        if (++number != *next)
            continue;
        ++next;
        if (!dropped.empty() && dropped.back().second == line.start)
            dropped.back().second = line.end;
        else
            dropped.emplace_back(line.start, line.end);
    }
    return dropped;
}

// The sheet cut into lines at each byte 0x0A, as "diff -a" cuts any file, and the edits that
// take the dropped lines out of them. In UTF-16 and UTF-32 a line feed's zero bytes, and a
// character holding the byte 0x0A, straddle those cuts: where a dropped line does not start
// and end on a cut, the old lines around it give way to the line that the drop joins.
class ByteLines
{
public:
    explicit ByteLines(const QByteArray &sheet)
        : sheet(sheet)
    {
        for (qsizetype feed = sheet.indexOf('\n'); feed >= 0 && feed + 1 < sheet.size();
             feed = sheet.indexOf('\n', feed + 1))
            starts.push_back(feed + 1);
    }

    qsizetype count() const { return sheet.isEmpty() ? 0 : qsizetype(starts.size()); }
    QByteArray line(qsizetype index) const
    {
        return sheet.mid(starts[std::size_t(index)], end(index) - starts[std::size_t(index)]);
    }

    Edit edit(qsizetype droppedStart, qsizetype droppedEnd) const
    {
        const qsizetype first = lineOf(droppedStart);
        const qsizetype feed = sheet.indexOf('\n', droppedEnd);
        const qsizetype last = lineOf(feed >= 0 ? feed : sheet.size() - 1);
        const qsizetype firstStart = starts[std::size_t(first)];
        Edit edit { first, last - first + 1,
            sheet.mid(firstStart, droppedStart - firstStart)
                + sheet.mid(droppedEnd, end(last) - droppedEnd) };
        // Where the joined line is the last one as it was (the drop starts on a cut, or the
        // bytes before it on its line are the zero bytes it ends with), only those before go.
        if (!edit.added.isEmpty() && edit.added == line(last)) {
            --edit.removed;
            edit.added.clear();
        }
        return edit;
    }

private:
    qsizetype end(qsizetype index) const
    {
        return index + 1 < count() ? starts[std::size_t(index + 1)] : sheet.size();
    }
    qsizetype lineOf(qsizetype at) const
    {
        return qsizetype(std::upper_bound(starts.cbegin(), starts.cend(), at) - starts.cbegin())
            - 1;
    }

    const QByteArray &sheet;
    std::vector<qsizetype> starts { 0 };
};

// The hunks of the sheet's own lines, decoded, behind "# ": for people, as patch passes over
// them.
QByteArray decodedHunks(
    const QByteArray &sheet, const QList<qsizetype> &droppedLines, const QByteArray &labelled)
{
    SheetLines lines(sheet);
    std::vector<SheetLines::Line> all;
    for (SheetLines::Line line; lines.next(line);)
        all.push_back(line);
    SheetDecoder decode(sheet, lines.encoding());
    std::vector<Edit> edits;
    for (const qsizetype line : droppedLines)
        edits.push_back({ line - 1, 1, {} });
    const QByteArray text = hunks(qsizetype(all.size()), edits, [&](qsizetype index) {
        const SheetLines::Line &line = all[std::size_t(index)];
        return decode(lines.content(line)).toUtf8() + (line.end > line.contentEnd ? "\n" : "");
    });
    QByteArray shown = "# cueprune : " + labelled + " est en " + decode.codePage()
        + " ; le diff qui suit, décodé pour être lu :\n";
    for (const QByteArray &line : text.split('\n')) {
        if (!line.isEmpty())
            shown += "# " + line + '\n';
    }
    return shown;
}

} // namespace

QByteArray unifiedDiff(
    const QByteArray &sheet, const QList<qsizetype> &droppedLines, QByteArrayView path)
{
    const ByteLines lines(sheet);
    std::vector<Edit> edits;
    for (const auto &[start, end] : droppedBytes(sheet, droppedLines))
        edits.push_back(lines.edit(start, end));
    const QByteArray diff = "--- " + label('a', path) + "\n+++ " + label('b', path) + '\n'
        + hunks(lines.count(), edits, [&](qsizetype index) { return lines.line(index); });
    if (detectEncoding(sheet).unitSize() == 1)
        return diff;
    return decodedHunks(sheet, droppedLines, label('a', path)) + diff;
}

} // namespace cueprune
