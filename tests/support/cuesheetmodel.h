#pragma once

// A deliberately plain model of the pruning rule, to check the real pass against: lines end
// at LF (kept with the line), and a line is dropped when it holds "INDEX 00" and the next one
// holds "INDEX 01". A UTF-8 byte-order mark stays in front of the lines; UTF-16 is not modelled.

#include <QByteArray>
#include <QList>

namespace cuesheetmodel {

struct Line
{
    QByteArray bytes; // with its terminator
    bool dropped = false;
};

inline QByteArray byteOrderMark(const QByteArray &sheet)
{
    return sheet.startsWith("\xEF\xBB\xBF") ? sheet.left(3) : QByteArray();
}

// The lines of the sheet's text, after any byte-order mark.
inline QList<Line> lines(const QByteArray &sheet)
{
    const QList<QByteArray> pieces = sheet.mid(byteOrderMark(sheet).size()).split('\n');
    QList<Line> result;
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const bool last = i + 1 == pieces.size();
        if (last && pieces[i].isEmpty() && i > 0)
            break; // a final terminator does not start another line
        result.append({ last ? pieces[i] : pieces[i] + '\n', false });
    }
    for (qsizetype i = 0; i + 1 < result.size(); ++i)
        result[i].dropped
            = result[i].bytes.contains("INDEX 00") && result[i + 1].bytes.contains("INDEX 01");
    return result;
}

// The sheet as the pruning rule leaves it.
inline QByteArray pruned(const QByteArray &sheet)
{
    QByteArray bytes = byteOrderMark(sheet);
    for (const Line &line : lines(sheet)) {
        if (!line.dropped)
            bytes += line.bytes;
    }
    return bytes;
}

} // namespace cuesheetmodel
