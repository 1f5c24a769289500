#include "core/quoting.h"

#include <QChar>
#include <QHash>

#include <algorithm>
#include <cstring>

namespace cueprune {

namespace {

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

// A byte as a C string writes it: its short escape (\t, \n...) or \ooo.
QByteArray escapedAsInC(char byte)
{
    static const QHash<char, char> shortEscapes = { { '\a', 'a' }, { '\b', 'b' }, { '\t', 't' },
        { '\n', 'n' }, { '\v', 'v' }, { '\f', 'f' }, { '\r', 'r' } };
    const char letter = shortEscapes.value(byte);
    return letter != 0
        ? QByteArray("\\") + letter
        : '\\' + QByteArray::number(static_cast<unsigned char>(byte), 8).rightJustified(3, '0');
}

// Bytes in the shell's $'...' form, with the short escapes bash and ls use.
QString escapedBytes(QByteArrayView bytes)
{
    QString escaped = QStringLiteral("$'");
    for (const char byte : bytes)
        escaped += QLatin1String(escapedAsInC(byte));
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

QByteArray cQuoted(QByteArrayView text)
{
    const auto plain = [](char c) {
        const auto value = static_cast<unsigned char>(c);
        return value > ' ' && value < 0x7F && c != '"' && c != '\\';
    };
    if (std::all_of(text.begin(), text.end(), plain))
        return text.toByteArray();
    QByteArray quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        const auto value = static_cast<unsigned char>(c);
        quoted += value >= ' ' && value < 0x7F ? QByteArray(1, c) : escapedAsInC(c);
    }
    return quoted + '"';
}

} // namespace cueprune
