#include "core/displaytext.h"

#ifdef CUEPRUNE_HAVE_UCHARDET
#include <uchardet.h>
#endif

#include <QList>

#include <algorithm>
#include <array>

namespace cueprune {

namespace {

using Form = SheetEncoding::Form;

// The detector's name for the code page of an 8-bit sheet, when it names one of a non-Latin
// script. For Latin text (French, say) Debian 12's detector guesses among several Latin code
// pages and often wrongly ("Noël" as ISO-8859-2), so Windows-1252 stays the better choice.
QByteArray nonLatinCodePage(QByteArrayView sheet)
{
#ifdef CUEPRUNE_HAVE_UCHARDET
    static const QList<QByteArray> nonLatin = {
        "WINDOWS-1251",
        "KOI8-R",
        "KOI8-U",
        "IBM866",
        "IBM855",
        "MAC-CYRILLIC",
        "ISO-8859-5",
        "ISO-8859-7",
        "WINDOWS-1253",
        "ISO-8859-8",
        "WINDOWS-1255",
        "ISO-8859-6",
        "WINDOWS-1256",
        "TIS-620",
        "ISO-8859-11",
        "SHIFT_JIS",
        "EUC-JP",
        "ISO-2022-JP",
        "GB18030",
        "BIG5",
        "EUC-KR",
        "EUC-TW",
        "ISO-2022-KR",
        "ISO-2022-CN",
        "HZ-GB-2312",
    };
    const uchardet_t detector = uchardet_new();
    QByteArray name;
    if (uchardet_handle_data(detector, sheet.data(), std::size_t(sheet.size())) == 0) {
        uchardet_data_end(detector);
        name = QByteArray(uchardet_get_charset(detector)).toUpper();
    }
    uchardet_delete(detector);
    return nonLatin.contains(name) ? name : QByteArray();
#else
    Q_UNUSED(sheet);
    return {};
#endif
}

} // namespace

SheetDecoder::SheetDecoder(QByteArrayView sheet, const SheetEncoding &encoding)
    : unitSize(encoding.unitSize())
{
    constexpr auto stateless = QStringConverter::Flag::Stateless;
    switch (encoding.form) {
    case Form::Utf16LE:
        decoder = QStringDecoder(QStringConverter::Utf16LE, stateless);
        return;
    case Form::Utf16BE:
        decoder = QStringDecoder(QStringConverter::Utf16BE, stateless);
        return;
    case Form::Utf32LE:
        decoder = QStringDecoder(QStringConverter::Utf32LE, stateless);
        return;
    case Form::Utf32BE:
        decoder = QStringDecoder(QStringConverter::Utf32BE, stateless);
        return;
    case Form::EightBit:
        break;
    }
    if (encoding.byteOrderMarkSize > 0 || isValidUtf8(sheet)) {
        decoder = QStringDecoder(QStringConverter::Utf8, stateless);
        return;
    }
    // Qt without ICU (Windows builds) knows no legacy code page by name.
    if (const QByteArray codePage = nonLatinCodePage(sheet); !codePage.isEmpty()) {
        decoder = QStringDecoder(codePage.constData(), stateless);
        if (decoder.isValid())
            return;
    }
    windows1252 = true;
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

using Form = SheetEncoding::Form;

// Calls decoded(wasUtf8, text) for each component of path, decoded on its own, and
// separator() between them.
template <typename Decoded, typename Separator>
void forEachComponent(QByteArrayView path, Decoded decoded, Separator separator)
{
    qsizetype start = 0;
    for (;;) {
        qsizetype end = path.indexOf('/', start);
        if (end < 0)
            end = path.size();
        const QByteArrayView component = path.sliced(start, end - start);
        const bool utf8 = isValidUtf8(component);
        decoded(utf8, utf8 ? QString::fromUtf8(component) : fromWindows1252(component));
        if (end == path.size())
            return;
        separator();
        start = end + 1;
    }
}

bool isControl(QChar c)
{
    return c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0);
}

} // namespace

QString decodePath(QByteArrayView path)
{
    QString text;
    text.reserve(path.size());
    forEachComponent(
        path, [&](bool, const QString &component) { text += component; },
        [&] { text += QLatin1Char('/'); });
    return text;
}

QString displayPath(QByteArrayView path)
{
    const QString decoded = decodePath(path);
    if (std::none_of(decoded.cbegin(), decoded.cend(), isControl))
        return decoded;
    // Printable runs go between single quotes, each control character as $'\ooo' of its bytes.
    QString quoted;
    bool quoting = false;
    const auto add = [&](QChar c) {
        if (!quoting)
            quoted += QLatin1Char('\'');
        quoting = true;
        quoted += c == QLatin1Char('\'') ? QStringLiteral("'\\''") : QString(c);
    };
    const auto addControl = [&](const QByteArray &bytes) {
        if (quoting)
            quoted += QLatin1Char('\'');
        quoting = false;
        quoted += QStringLiteral("$'");
        for (const char byte : bytes)
            quoted += QStringLiteral("\\%1").arg(
                uint(static_cast<unsigned char>(byte)), 3, 8, QLatin1Char('0'));
        quoted += QLatin1Char('\'');
    };
    forEachComponent(
        path,
        [&](bool utf8, const QString &component) {
            for (const QChar c : component) {
                if (!isControl(c))
                    add(c);
                else // a Windows-1252 control stands for the byte of the same value
                    addControl(utf8 ? QString(c).toUtf8() : QByteArray(1, char(c.unicode())));
            }
        },
        [&] { add(QLatin1Char('/')); });
    if (quoting)
        quoted += QLatin1Char('\'');
    return quoted;
}

} // namespace cueprune
