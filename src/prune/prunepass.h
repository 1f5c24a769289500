#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// Receives each kept line, decoded for display, as soon as it is decided: every kept line
// followed by "\n", then the last line of the sheet alone.
using KeptLineObserver = std::function<void(const QString &)>;

struct PrunedSheet
{
    QByteArray bytes; // the sheet minus its dropped lines; empty when nothing was dropped
    qsizetype droppedLines = 0;
};

// Drops every line holding "INDEX 00" that is directly followed by a line holding "INDEX 01".
// Works on the raw bytes: a dropped line goes together with its own terminator and every
// other byte is kept, so encoding, byte-order mark and line terminators survive. A sheet that
// starts with a UTF-16 byte-order mark is matched as UTF-16 text of that byte order.
[[nodiscard]] PrunedSheet pruneSheet(
    const QByteArray &sheet, const KeptLineObserver &observer = {});
