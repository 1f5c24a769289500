#pragma once

#include "core/sheetlines.h"

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

namespace cueprune {

// Bytes as text, to be shown: the lines of a sheet, and the names of files.

// Decodes the lines of one sheet for display, in the encoding the whole sheet suggests:
// Unicode by its form; UTF-8 when the whole sheet is valid UTF-8; otherwise the code page that
// chooseCodePage finds (core/codepage.h), or the one given.
class SheetDecoder
{
public:
    SheetDecoder(
        QByteArrayView sheet, const SheetEncoding &encoding, const QByteArray &codePage = {});
    QString operator()(QByteArrayView bytes);
    // The encoding used: "UTF-8", "UTF-16LE"..., or the code page's name.
    const QByteArray &codePage() const { return used; }

private:
    QStringDecoder decoder;
    QByteArray used;
    qsizetype unitSize = 1;
    bool windows1252 = false;
};

// The lines of sheet decoded as SheetDecoder does (in codePage, when given), joined by line
// feeds: what a KeptLineObserver shown the whole sheet puts together.
[[nodiscard]] QString decodeSheet(const QByteArray &sheet, const QByteArray &codePage = {});

// True when bytes are well-formed UTF-8 (no overlong forms, surrogates or truncated sequences).
[[nodiscard]] bool isValidUtf8(QByteArrayView bytes);

// Windows-1252, the 8-bit code page of most sheets that are not UTF-8.
[[nodiscard]] QString fromWindows1252(QByteArrayView bytes);

// A file name or path as the system holds it (bytes on Linux), as text: each component is
// decoded on its own, as UTF-8 when valid, else in the system's legacy code page
// (core/codepage.h) when valid there, else as Windows-1252, so a Latin-1 name reads well
// beside UTF-8 ones.
[[nodiscard]] QString decodePath(QByteArrayView path);

// decodePath, for display in a window. A path holding a control character (C0, DEL, C1, or a
// mark that reorders or breaks a line: bidirectional controls, line and paragraph separators)
// is shown as shellQuoted shows it instead, so that it stays on one line and drives nothing.
[[nodiscard]] QString displayPath(QByteArrayView path);

} // namespace cueprune
