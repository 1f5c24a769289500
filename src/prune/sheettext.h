#pragma once

#include <QByteArrayView>
#include <QString>

// How the bytes of a sheet, or of a file name, are shown as text.

// True when bytes are well-formed UTF-8 (no overlong forms, surrogates or truncated sequences).
[[nodiscard]] bool isValidUtf8(QByteArrayView bytes);

// Windows-1252, the 8-bit code page of most sheets that are not UTF-8.
[[nodiscard]] QString fromWindows1252(QByteArrayView bytes);

// A file name or path as the system holds it (bytes on Linux), for display: each component
// is decoded on its own, as UTF-8 when valid and as Windows-1252 otherwise, so a Latin-1
// name shows readably beside UTF-8 ones.
[[nodiscard]] QString displayPath(QByteArrayView path);
