#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <string>
#include <string_view>

// What the bytes of a sheet, or of a file name, are as text: the sheet's encoding, its lines
// in that encoding, and decoding for display.

// How a sheet's characters are laid out in bytes. The line rule only needs ASCII (the
// markers, CR and LF), so 8-bit sheets and UTF-8 share one layout.
struct SheetEncoding
{
    enum class Form { EightBit, Utf16LE, Utf16BE, Utf32LE, Utf32BE };
    Form form = Form::EightBit;
    qsizetype byteOrderMarkSize = 0;

    // Bytes per code unit: an ASCII character takes one unit.
    qsizetype unitSize() const;
};

// From the byte-order mark (UTF-8, UTF-16, UTF-32), else from the bytes: ASCII text in UTF-16
// puts a zero byte beside most letters and line feeds. Anything else is 8-bit text.
[[nodiscard]] SheetEncoding detectEncoding(QByteArrayView sheet);

// The lines of a sheet after its byte-order mark, each with its terminator (LF, or CR LF),
// walked one at a time. A lone CR does not end a line; an empty sheet is one empty line; a
// final terminator does not start another line.
class SheetLines
{
public:
    struct Line
    {
        qsizetype start = 0; // offsets into the sheet
        qsizetype contentEnd = 0; // where the terminator begins
        qsizetype end = 0; // past the terminator
    };

    explicit SheetLines(QByteArrayView sheet);

    const SheetEncoding &encoding() const { return sheetEncoding; }
    // Moves to the next line; false when there is none.
    bool next(Line &line);
    // ASCII text in the sheet's own encoding, for contains().
    std::string encoded(std::string_view ascii) const;
    // Whether the line's content holds pattern (from encoded()) on a unit boundary.
    bool contains(const Line &line, std::string_view pattern) const;
    QByteArrayView content(const Line &line) const;

private:
    qsizetype find(std::string_view pattern, qsizetype from, qsizetype to) const;

    std::string_view bytes;
    SheetEncoding sheetEncoding;
    std::size_t unit;
    std::string lineFeed;
    std::string carriageReturn;
    qsizetype position;
    bool started = false;
};

// The walk runs once per line of every sheet: inline, so that it costs no call.
inline bool SheetLines::next(Line &line)
{
    const auto size = qsizetype(bytes.size());
    if (started && position >= size)
        return false;
    started = true;
    line.start = position;
    line.contentEnd = line.end = size;
    const qsizetype feed = find(lineFeed, position, size);
    if (feed >= 0) {
        const auto width = qsizetype(unit); // of the line feed, and of a carriage return
        const bool crBefore = feed - width >= position
            && bytes.compare(std::size_t(feed - width), unit, carriageReturn) == 0;
        line.contentEnd = crBefore ? feed - width : feed;
        line.end = feed + width;
    }
    position = line.end;
    return true;
}

inline bool SheetLines::contains(const Line &line, std::string_view pattern) const
{
    return find(pattern, line.start, line.contentEnd) >= 0;
}

inline QByteArrayView SheetLines::content(const Line &line) const
{
    return QByteArrayView(bytes.data() + line.start, line.contentEnd - line.start);
}

// The first occurrence of pattern in [from, to) that starts on a code unit boundary, or -1:
// in UTF-16 and UTF-32 the bytes of an ASCII pattern can also stand inside other characters.
inline qsizetype SheetLines::find(std::string_view pattern, qsizetype from, qsizetype to) const
{
    const std::string_view range = bytes.substr(std::size_t(from), std::size_t(to - from));
    for (auto at = range.find(pattern); at != std::string_view::npos;
         at = range.find(pattern, at + 1)) {
        if (unit == 1 || (std::size_t(from) + at) % unit == 0)
            return from + qsizetype(at);
    }
    return -1;
}

// Decodes the lines of one sheet for display, in the encoding the whole sheet suggests:
// Unicode by its form; UTF-8 when the whole sheet is valid UTF-8; a legacy code page of a
// non-Latin script (Cyrillic, Greek, Hebrew, Arabic, Thai, East Asian) when the system's
// detector names one; Windows-1252 otherwise.
class SheetDecoder
{
public:
    SheetDecoder(QByteArrayView sheet, const SheetEncoding &encoding);
    QString operator()(QByteArrayView bytes);

private:
    QStringDecoder decoder;
    qsizetype unitSize = 1;
    bool windows1252 = false;
};

// True when bytes are well-formed UTF-8 (no overlong forms, surrogates or truncated sequences).
[[nodiscard]] bool isValidUtf8(QByteArrayView bytes);

// Windows-1252, the 8-bit code page of most sheets that are not UTF-8.
[[nodiscard]] QString fromWindows1252(QByteArrayView bytes);

// A file name or path as the system holds it (bytes on Linux), as text: each component is
// decoded on its own, as UTF-8 when valid and as Windows-1252 otherwise, so a Latin-1 name
// reads well beside UTF-8 ones.
[[nodiscard]] QString decodePath(QByteArrayView path);

// decodePath, for display. A path holding a control character (C0, DEL, C1) is
// shown whole in the shell's quoting instead, 'a'$'\033''[2K' for "a", ESC, "[2K", so that it
// stays on one line, drives no terminal and can be pasted back into a shell.
[[nodiscard]] QString displayPath(QByteArrayView path);
