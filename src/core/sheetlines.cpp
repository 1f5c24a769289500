#include "core/sheetlines.h"

namespace cueprune {

namespace {

using Form = SheetEncoding::Form;

bool isAsciiLetterOrLineFeed(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '\n';
}

// UTF-16 without a byte-order mark shows in the zero byte beside each ASCII letter and line
// feed, the bulk of any sheet: after it in little-endian order, before it in big-endian. A
// clear majority decides, so that a few stray zero bytes leave an 8-bit sheet 8-bit.
Form zeroBytePattern(QByteArrayView sheet)
{
    qsizetype letters = 0;
    qsizetype littleEndian = 0;
    qsizetype bigEndian = 0;
    for (qsizetype i = 0; i < sheet.size(); ++i) {
        if (!isAsciiLetterOrLineFeed(sheet[i]))
            continue;
        ++letters;
        if (i % 2 == 0 && i + 1 < sheet.size() && sheet[i + 1] == '\0')
            ++littleEndian;
        else if (i % 2 == 1 && sheet[i - 1] == '\0')
            ++bigEndian;
    }
    if (littleEndian * 2 > letters)
        return Form::Utf16LE;
    if (bigEndian * 2 > letters)
        return Form::Utf16BE;
    return Form::EightBit;
}

} // namespace

qsizetype SheetEncoding::unitSize() const
{
    switch (form) {
    case Form::Utf16LE:
    case Form::Utf16BE:
        return 2;
    case Form::Utf32LE:
    case Form::Utf32BE:
        return 4;
    case Form::EightBit:
        break;
    }
    return 1;
}

SheetEncoding detectEncoding(QByteArrayView sheet)
{
    // UTF-32 LE's mark begins with UTF-16 LE's, so it is looked for first.
    if (sheet.startsWith(QByteArrayView("\xFF\xFE\0\0", 4)))
        return { Form::Utf32LE, 4 };
    if (sheet.startsWith(QByteArrayView("\0\0\xFE\xFF", 4)))
        return { Form::Utf32BE, 4 };
    if (sheet.startsWith("\xFF\xFE"))
        return { Form::Utf16LE, 2 };
    if (sheet.startsWith("\xFE\xFF"))
        return { Form::Utf16BE, 2 };
    if (sheet.startsWith("\xEF\xBB\xBF"))
        return { Form::EightBit, 3 };
    if (!sheet.contains('\0'))
        return {};
    return { zeroBytePattern(sheet), 0 };
}

SheetLines::SheetLines(QByteArrayView sheet)
    : bytes(sheet.data(), std::size_t(sheet.size()))
    , sheetEncoding(detectEncoding(sheet))
    , unit(std::size_t(sheetEncoding.unitSize()))
    , lineFeed(encoded("\n"))
    , carriageReturn(encoded("\r"))
    , space(encoded(" "))
    , tab(encoded("\t"))
    , position(sheetEncoding.byteOrderMarkSize)
{
}

std::string SheetLines::encoded(std::string_view ascii) const
{
    std::string text;
    for (const char c : ascii) {
        switch (sheetEncoding.form) {
        case Form::EightBit:
            text += c;
            break;
        case Form::Utf16LE:
            text += { c, '\0' };
            break;
        case Form::Utf16BE:
            text += { '\0', c };
            break;
        case Form::Utf32LE:
            text += { c, '\0', '\0', '\0' };
            break;
        case Form::Utf32BE:
            text += { '\0', '\0', '\0', c };
            break;
        }
    }
    return text;
}

bool SheetLines::isWordAt(const Line &line, qsizetype at, std::string_view word) const
{
    const auto end = at + qsizetype(word.size());
    // The first byte alone tells most lines apart, without a call to compare.
    return end <= line.contentEnd && bytes[std::size_t(at)] == word.front()
        && bytes.compare(std::size_t(at), word.size(), word) == 0
        && (end == line.contentEnd || isBlankAt(end));
}

std::string SheetLines::ascii(const Line &line) const
{
    // The byte of a unit that holds an ASCII character's value; the others are zero then.
    const bool bigEndian
        = sheetEncoding.form == Form::Utf16BE || sheetEncoding.form == Form::Utf32BE;
    const std::size_t low = bigEndian ? unit - 1 : 0;
    std::string text;
    text.reserve(std::size_t(line.contentEnd - line.start) / unit);
    for (auto at = std::size_t(line.start); at + unit <= std::size_t(line.contentEnd); at += unit) {
        const auto value = static_cast<unsigned char>(bytes[at + low]);
        bool ascii = value < 0x80;
        for (std::size_t i = 0; i < unit && ascii; ++i)
            ascii = i == low || bytes[at + i] == '\0';
        text += ascii ? char(value) : '\x80';
    }
    return text;
}

} // namespace cueprune
