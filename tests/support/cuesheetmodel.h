#pragma once

// A deliberately plain model of the pruning rule, to check the real pass against: lines end
// at LF (kept with the line), and a line is dropped when it holds "INDEX 00" and the next one
// holds "INDEX 01". A UTF-8 byte-order mark stays in front of the lines; UTF-16 is not modelled.

#include <QByteArray>
#include <QList>

namespace cuesheetmodel {

// The sheet as the pruning rule leaves it.
inline QByteArray pruned(const QByteArray &sheet)
{
    const QByteArray mark = sheet.startsWith("\xEF\xBB\xBF") ? sheet.left(3) : QByteArray();
    QList<QByteArray> lines = sheet.mid(mark.size()).split('\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        lines[i] += '\n'; // after a final terminator, an empty piece that adds nothing
    QByteArray kept = mark;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!(lines[i].contains("INDEX 00") && i + 1 < lines.size()
                && lines[i + 1].contains("INDEX 01")))
            kept += lines[i];
    }
    return kept;
}

} // namespace cuesheetmodel
