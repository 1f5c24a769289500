#include "core/displaytext.h"

#include "core/codepage.h"
#include "core/quoting.h"

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

} // namespace cueprune
