#include "prunepass.h"
#include "sheettext.h"

#include <QStringDecoder>

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
            if (layout.bomSize > 0
                || isValidUtf8(QByteArrayView(sheet.data(), qsizetype(sheet.size()))))
                decoder = QStringDecoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
            else
                windows1252 = true;
        }
    }

    QString operator()(std::string_view bytes)
    {
        const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
        if (windows1252)
            return fromWindows1252(view);
        QString text = decoder.decode(view);
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
