#include "core/displaytext.h"

#include "core/codepage.h"

#include <QHash>
#include <QList>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

namespace cueprune {

namespace {

using Form = SheetEncoding::Form;

} // namespace

SheetDecoder::SheetDecoder(
    QByteArrayView sheet, const SheetEncoding &encoding, const QByteArray &codePage)
    : unitSize(encoding.unitSize())
{
    constexpr auto stateless = QStringConverter::Flag::Stateless;
    const auto unicode = [&](QStringConverter::Encoding form, const char *name) {
        decoder = QStringDecoder(form, stateless);
        used = name;
    };
    switch (encoding.form) {
    case Form::Utf16LE:
        unicode(QStringConverter::Utf16LE, "UTF-16LE");
        return;
    case Form::Utf16BE:
        unicode(QStringConverter::Utf16BE, "UTF-16BE");
        return;
    case Form::Utf32LE:
        unicode(QStringConverter::Utf32LE, "UTF-32LE");
        return;
    case Form::Utf32BE:
        unicode(QStringConverter::Utf32BE, "UTF-32BE");
        return;
    case Form::EightBit:
        break;
    }
    if (codePage.isEmpty() ? encoding.byteOrderMarkSize > 0 || isValidUtf8(sheet)
                           : codePage == "UTF-8") {
        unicode(QStringConverter::Utf8, "UTF-8");
        return;
    }
    used = codePage.isEmpty() ? chooseCodePage(sheet, systemCodePage()).chosen : codePage;
    decoder = QStringDecoder(used.constData(), stateless);
    // Qt without ICU (Windows builds) knows no legacy code page by name.
    if (!decoder.isValid() || used == "windows-1252") {
        windows1252 = true;
        used = "windows-1252";
    }
}

QString SheetDecoder::operator()(QByteArrayView bytes)
{
    if (windows1252)
        return fromWindows1252(bytes);
    QString text = decoder.decode(bytes);
    // The stateless UTF-16 decoder drops a lone trailing byte; show that it is there.
    if (unitSize == 2 && bytes.size() % 2 != 0)
        text += QChar(QChar::ReplacementCharacter);
    return text;
}

// Qt's decoder replaces every ill-formed sequence, so only valid UTF-8 comes back unchanged.
// (Qt 6.4's QStringDecoder::hasError() never reports a UTF-8 error.) Most names are ASCII,
// valid as it stands: checking that first spares them the round trip.
bool isValidUtf8(QByteArrayView bytes)
{
    const bool ascii = std::all_of(
        bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii || QString::fromUtf8(bytes).toUtf8() == bytes;
}

// Windows-1252 differs from Latin-1 only in 0x80..0x9F; its five unassigned bytes map to the
// C1 control of the same value, as Windows itself does. Written out because Qt builds without
// ICU (Windows) have no codec for it.
QString fromWindows1252(QByteArrayView bytes)
{
    static constexpr std::array<char16_t, 32> upperControls = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, //
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, //
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, //
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, //
    };
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        *out++
            = (value >= 0x80 && value < 0xA0) ? QChar(upperControls[value - 0x80]) : QChar(value);
    }
    return text;
}

namespace {

// C0 and C1 controls and DEL, and the marks that reorder or break what a terminal shows
// (bidirectional embeddings, overrides, isolates and marks; line and paragraph separators).
bool isControl(QChar c)
{
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u < 0xA0) || u == 0x061C || u == 0x200E || u == 0x200F
        || (u >= 0x2028 && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
}

// The well-formed UTF-8 sequence at the start of bytes: its length and code point, or a length
// of 0. Decoded here, a character at a time, because names are printed by the thousand.
struct Utf8Sequence
{
    qsizetype length = 0;
    char32_t codePoint = 0;
};

Utf8Sequence utf8Sequence(QByteArrayView bytes)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(0);
    const qsizetype length = lead < 0x80 ? 1
        : lead >= 0xC2 && lead <= 0xDF   ? 2
        : lead >= 0xE0 && lead <= 0xEF   ? 3
        : lead >= 0xF0 && lead <= 0xF4   ? 4
                                         : 0;
    if (length == 0 || length > bytes.size())
        return {};
    char32_t codePoint = length == 1 ? lead : lead & (0x7F >> length);
    for (qsizetype i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return {};
        codePoint = (codePoint << 6) | (byte(i) & 0x3F);
    }
    // Overlong forms, surrogates and code points beyond Unicode are not UTF-8.
    static constexpr char32_t smallest[] = { 0, 0, 0x80, 0x800, 0x10000 };
    if (codePoint < smallest[length] || (codePoint >= 0xD800 && codePoint <= 0xDFFF)
        || codePoint > 0x10FFFF)
        return {};
    return { length, codePoint };
}

} // namespace

QString decodePath(QByteArrayView path)
{
    // Made only for a name that is not UTF-8: opening a decoder costs more than most names.
    std::optional<QStringDecoder> legacy;
    QString text;
    text.reserve(path.size());
    for (qsizetype start = 0;;) {
        qsizetype end = path.indexOf('/', start);
        if (end < 0)
            end = path.size();
        const QByteArrayView component = path.sliced(start, end - start);
        if (isValidUtf8(component)) {
            text += QString::fromUtf8(component);
        } else {
            // In the system's legacy code page where the name is valid there, else windows-1252.
            if (!legacy)
                legacy.emplace(systemCodePage().constData(), QStringConverter::Flag::Stateless);
            const QString decoded = legacy->isValid() ? legacy->decode(component) : QString();
            text += legacy->isValid() && !legacy->hasError() ? decoded : fromWindows1252(component);
            legacy->resetState();
        }
        if (end == path.size())
            return text;
        text += QLatin1Char('/');
        start = end + 1;
    }
}

QString decodeSheet(const QByteArray &sheet, const QByteArray &codePage)
{
    SheetLines lines(sheet);
    SheetDecoder decode(sheet, lines.encoding(), codePage);
    QStringList decoded;
    for (SheetLines::Line line; lines.next(line);)
        decoded.append(decode(lines.content(line)));
    return decoded.join(QLatin1Char('\n'));
}

QString displayPath(QByteArrayView path)
{
    const QString decoded = decodePath(path);
    if (std::none_of(decoded.cbegin(), decoded.cend(), isControl))
        return decoded;
    return shellQuoted(path);
}

namespace {

// What a terminal cannot show as itself: controls, invisible format characters (bidirectional
// marks, zero-width spaces, soft hyphens, byte order marks), line and paragraph separators,
// and code points Unicode has not assigned.
bool isUnprintable(char32_t c)
{
    if (c < 0x80) // most characters of most names, without a table lookup
        return c < 0x20 || c == 0x7F;
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

// Whether the character at position at of a string of length size makes the shell read it
// otherwise than as one word of these very characters.
bool isShellSpecial(char c, qsizetype at, qsizetype size)
{
    switch (c) {
    case '#':
    case '~':
        return at == 0;
    case '{':
    case '}':
        return size == 1;
    default:
        return c != '\0' && std::strchr(" \t!\"$&'()*;<=>?[\\^`|", c) != nullptr;
    }
}

// One character of a path: its bytes, and whether it can be printed as itself.
struct PathCharacter
{
    QByteArrayView bytes;
    bool printable = false;
};

// The character of path that starts at byte at: a byte alone where it is not UTF-8.
PathCharacter characterAt(QByteArrayView path, qsizetype at)
{
    const Utf8Sequence sequence = utf8Sequence(path.sliced(at));
    return { path.sliced(at, qMax<qsizetype>(sequence.length, 1)),
        sequence.length > 0 && !isUnprintable(sequence.codePoint) };
}

// Bytes in the shell's $'...' form, with the short escapes bash and ls use.
QString escapedBytes(QByteArrayView bytes)
{
    static const QHash<char, char> shortEscapes = { { '\a', 'a' }, { '\b', 'b' }, { '\t', 't' },
        { '\n', 'n' }, { '\v', 'v' }, { '\f', 'f' }, { '\r', 'r' } };
    QString escaped = QStringLiteral("$'");
    for (const char byte : bytes) {
        const char letter = shortEscapes.value(byte);
        escaped += letter != 0 ? QStringLiteral("\\") + QLatin1Char(letter)
                               : QStringLiteral("\\%1").arg(
                                   uint(static_cast<unsigned char>(byte)), 3, 8, QLatin1Char('0'));
    }
    return escaped + QLatin1Char('\'');
}

// Printable runs between single quotes, the others as $'...', side by side: one word.
QString quotedInRuns(QByteArrayView path)
{
    QString quoted;
    QByteArray printable;
    QByteArray unprintable;
    const auto flush = [&] {
        if (!printable.isEmpty())
            quoted += QLatin1Char('\'')
                + QString::fromUtf8(printable).replace(QLatin1Char('\''), QStringLiteral("'\\''"))
                + QLatin1Char('\'');
        if (!unprintable.isEmpty())
            quoted += escapedBytes(unprintable);
        printable.clear();
        unprintable.clear();
    };
    for (qsizetype at = 0; at < path.size();) {
        const PathCharacter character = characterAt(path, at);
        if (character.printable && !unprintable.isEmpty())
            flush();
        (character.printable ? printable : unprintable).append(character.bytes);
        at += character.bytes.size();
    }
    flush();
    return quoted;
}

} // namespace

QString shellQuoted(QByteArrayView path)
{
    if (path.isEmpty())
        return QStringLiteral("''");
    // Most paths are plain ASCII that needs no quoting: they are spared the decoding.
    const auto plain = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || (c != '\0' && std::strchr("/._-+,:@%", c) != nullptr);
    };
    if (std::all_of(path.begin(), path.end(), plain))
        return QString::fromLatin1(path);
    bool allPrintable = true;
    for (qsizetype at = 0; at < path.size() && allPrintable;) {
        const PathCharacter character = characterAt(path, at);
        allPrintable = character.printable;
        at += character.bytes.size();
    }
    bool special = false;
    for (qsizetype at = 0; at < path.size() && !special; ++at)
        special = isShellSpecial(path[at], at, path.size());
    if (allPrintable && !special)
        return QString::fromUtf8(path);
    // A quote among characters that mean nothing between double quotes: "it's.cue", as ls.
    if (allPrintable && path.contains('\'') && std::none_of(path.begin(), path.end(), [](char c) {
            return c == '"' || c == '$' || c == '`' || c == '\\' || c == '!';
        }))
        return QLatin1Char('"') + QString::fromUtf8(path) + QLatin1Char('"');
    if (allPrintable && !path.contains('\''))
        return QLatin1Char('\'') + QString::fromUtf8(path) + QLatin1Char('\'');
    return quotedInRuns(path);
}

} // namespace cueprune
