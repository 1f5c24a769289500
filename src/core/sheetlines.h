#pragma once

#include <QByteArrayView>

#include <string>
#include <string_view>

namespace cueprune {

// How a sheet's text is laid out in its bytes: its encoding, and its lines in that encoding.

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
    // Where the line's first word begins, after spaces and tabs.
    qsizetype firstWord(const Line &line) const;
    // Whether the word that begins at at (from firstWord()) is word (from encoded()).
    bool isWordAt(const Line &line, qsizetype at, std::string_view word) const;
    QByteArrayView content(const Line &line) const;
    // The line's content a character a code unit, each unit beyond ASCII as 0x80: enough to
    // read a sheet's commands, whatever its encoding.
    std::string ascii(const Line &line) const;

private:
    qsizetype find(std::string_view pattern, qsizetype from, qsizetype to) const;
    bool isBlankAt(qsizetype at) const;

    std::string_view bytes;
    SheetEncoding sheetEncoding;
    std::size_t unit;
    std::string lineFeed;
    std::string carriageReturn;
    std::string space;
    std::string tab;
    qsizetype position;
    bool started = false;
};

// Whether each line of a sheet is the first INDEX line of its FILE (or of the sheet, before
// any FILE), asked of every line in order: the one place this is decided, for the rule's guard
// and for what pruning costs.
class FirstIndexOfFile
{
public:
    explicit FirstIndexOfFile(const SheetLines &lines)
        : lines(lines)
        , file(lines.encoded("FILE"))
        , index(lines.encoded("INDEX"))
    {
    }
    bool operator()(const SheetLines::Line &line)
    {
        const qsizetype word = lines.firstWord(line);
        if (lines.isWordAt(line, word, file)) {
            indexSeen = false;
            return false;
        }
        if (!lines.isWordAt(line, word, index))
            return false;
        const bool first = !indexSeen;
        indexSeen = true;
        return first;
    }

private:
    const SheetLines &lines;
    const std::string file;
    const std::string index;
    bool indexSeen = false;
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

// Run for every line of every sheet that changes: inline, as the walk.
inline bool SheetLines::isBlankAt(qsizetype at) const
{
    if (unit == 1)
        return bytes[std::size_t(at)] == ' ' || bytes[std::size_t(at)] == '\t';
    return bytes.compare(std::size_t(at), unit, space) == 0
        || bytes.compare(std::size_t(at), unit, tab) == 0;
}

inline qsizetype SheetLines::firstWord(const Line &line) const
{
    qsizetype at = line.start;
    while (at < line.contentEnd && isBlankAt(at))
        at += qsizetype(unit);
    return at;
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

} // namespace cueprune
