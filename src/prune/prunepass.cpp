#include "prunepass.h"

#include <QStringDecoder>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

enum class TextEncoding { Utf8, Windows1252, Utf16LE, Utf16BE };

struct Layout
{
    TextEncoding encoding = TextEncoding::Utf8;
    qsizetype bomSize = 0;
    bool utf16 = false;
};

Layout detectLayout(std::string_view sheet)
{
    if (sheet.substr(0, 2) == "\xFF\xFE")
        return { TextEncoding::Utf16LE, 2, true };
    if (sheet.substr(0, 2) == "\xFE\xFF")
        return { TextEncoding::Utf16BE, 2, true };
    if (sheet.substr(0, 3) == "\xEF\xBB\xBF")
        return { TextEncoding::Utf8, 3, false };
    return {};
}

bool isValidUtf8(std::string_view text)
{
    const auto size = text.size();
    for (std::size_t i = 0; i < size;) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        char32_t codePoint;
        char32_t smallest;
        if ((lead & 0xE0) == 0xC0) {
            length = 2, codePoint = lead & 0x1F, smallest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, codePoint = lead & 0x0F, smallest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, codePoint = lead & 0x07, smallest = 0x10000;
        } else {
            return false;
        }
        if (size - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        if (codePoint < smallest || codePoint > 0x10FFFF
            || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

// Windows-1252 differs from Latin-1 only in 0x80..0x9F; its five unassigned bytes map to
// the C1 control of the same value, as Windows itself does.
QString fromWindows1252(std::string_view bytes)
{
    static constexpr std::array<char16_t, 32> upperControls = {
        0x20AC,
        0x0081,
        0x201A,
        0x0192,
        0x201E,
        0x2026,
        0x2020,
        0x2021,
        0x02C6,
        0x2030,
        0x0160,
        0x2039,
        0x0152,
        0x008D,
        0x017D,
        0x008F,
        0x0090,
        0x2018,
        0x2019,
        0x201C,
        0x201D,
        0x2022,
        0x2013,
        0x2014,
        0x02DC,
        0x2122,
        0x0161,
        0x203A,
        0x0153,
        0x009D,
        0x017E,
        0x0178,
    };
    QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        *out++
            = (value >= 0x80 && value < 0xA0) ? QChar(upperControls[value - 0x80]) : QChar(value);
    }
    return text;
}

class LineDecoder
{
public:
    LineDecoder(std::string_view sheet, const Layout &layout)
        : utf16(layout.utf16)
    {
        switch (layout.encoding) {
        case TextEncoding::Utf16LE:
            decoder = QStringDecoder(QStringConverter::Utf16LE, QStringConverter::Flag::Stateless);
            break;
        case TextEncoding::Utf16BE:
            decoder = QStringDecoder(QStringConverter::Utf16BE, QStringConverter::Flag::Stateless);
            break;
        default:
            if (layout.bomSize > 0 || isValidUtf8(sheet))
                decoder = QStringDecoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
            else
                windows1252 = true;
        }
    }

    QString operator()(std::string_view bytes)
    {
        if (windows1252)
            return fromWindows1252(bytes);
        QString text
            = decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
        // A stateless UTF-16 decoder drops a lone trailing byte; show that it is there.
        if (utf16 && bytes.size() % 2 != 0)
            text += QChar(QChar::ReplacementCharacter);
        return text;
    }

private:
    QStringDecoder decoder;
    bool windows1252 = false;
    bool utf16 = false;
};

// The byte patterns of ASCII text in the sheet's own encoding, and the unit they align to.
class Patterns
{
public:
    explicit Patterns(const Layout &layout)
        : unit(layout.utf16 ? 2 : 1)
        , lineFeed(encode("\n", layout))
        , carriageReturn(encode("\r", layout))
        , pregapMarker(encode("INDEX 00", layout))
        , trackStartMarker(encode("INDEX 01", layout))
    {
    }

    // Offset of the first occurrence of pattern in text at or after from that starts on a
    // unit boundary, or npos.
    std::size_t find(std::string_view text, std::string_view pattern, std::size_t from = 0) const
    {
        for (auto at = text.find(pattern, from); at != std::string_view::npos;
             at = text.find(pattern, at + 1)) {
            if (at % unit == 0)
                return at;
        }
        return std::string_view::npos;
    }

    bool contains(std::string_view text, std::string_view pattern) const
    {
        return find(text, pattern) != std::string_view::npos;
    }

    const std::size_t unit;
    const std::string lineFeed;
    const std::string carriageReturn;
    const std::string pregapMarker;
    const std::string trackStartMarker;

private:
    static std::string encode(std::string_view ascii, const Layout &layout)
    {
        std::string bytes;
        for (const char c : ascii) {
            if (layout.encoding == TextEncoding::Utf16BE)
                bytes += '\0';
            bytes += c;
            if (layout.encoding == TextEncoding::Utf16LE)
                bytes += '\0';
        }
        return bytes;
    }
};

struct Line
{
    std::size_t start; // offsets into the text after the byte-order mark
    std::size_t contentEnd; // where the terminator (LF or CR LF) begins
    std::size_t end; // past the terminator
};

} // namespace

PrunedSheet pruneSheet(const QByteArray &sheet, const KeptLineObserver &observer)
{
    const std::string_view data(sheet.constData(), static_cast<std::size_t>(sheet.size()));
    const Layout layout = detectLayout(data);
    const Patterns patterns(layout);
    const std::size_t origin = static_cast<std::size_t>(layout.bomSize);
    const std::string_view body = data.substr(origin);

    std::optional<LineDecoder> decode;
    if (observer)
        decode.emplace(data, layout);
    auto content
        = [&](const Line &line) { return body.substr(line.start, line.contentEnd - line.start); };

    std::vector<std::pair<std::size_t, std::size_t>> droppedRanges;
    Line previous {};
    bool previousIsPregap = false;
    bool primed = false;
    for (std::size_t start = 0; !primed || start < body.size();) {
        Line current { start, body.size(), body.size() };
        const std::size_t feed = patterns.find(body, patterns.lineFeed, start);
        if (feed != std::string_view::npos) {
            const std::size_t unit = patterns.unit;
            const bool crBefore = feed >= start + unit
                && body.compare(feed - unit, unit, patterns.carriageReturn) == 0;
            current.contentEnd = crBefore ? feed - unit : feed;
            current.end = feed + unit;
        }
        if (primed) {
            if (previousIsPregap && patterns.contains(content(current), patterns.trackStartMarker))
                droppedRanges.emplace_back(origin + previous.start, origin + previous.end);
            else if (decode)
                observer((*decode)(content(previous)) + QLatin1Char('\n'));
        }
        previous = current;
        previousIsPregap = patterns.contains(content(current), patterns.pregapMarker);
        primed = true;
        start = current.end;
    }
    if (decode)
        observer((*decode)(content(previous)));

    PrunedSheet pruned;
    pruned.droppedLines = static_cast<qsizetype>(droppedRanges.size());
    if (droppedRanges.empty())
        return pruned;
    pruned.bytes.reserve(sheet.size());
    std::size_t keptFrom = 0;
    for (const auto &[dropStart, dropEnd] : droppedRanges) {
        pruned.bytes.append(
            sheet.constData() + keptFrom, static_cast<qsizetype>(dropStart - keptFrom));
        keptFrom = dropEnd;
    }
    pruned.bytes.append(
        sheet.constData() + keptFrom, sheet.size() - static_cast<qsizetype>(keptFrom));
    return pruned;
}
