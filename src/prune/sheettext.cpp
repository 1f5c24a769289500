#include "sheettext.h"

#include <array>

// Qt's decoder replaces every ill-formed sequence, so only valid UTF-8 comes back unchanged.
// (Qt 6.4's QStringDecoder::hasError() never reports a UTF-8 error.)
bool isValidUtf8(QByteArrayView bytes)
{
    return QString::fromUtf8(bytes).toUtf8() == bytes;
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

QString displayPath(QByteArrayView path)
{
    QString text;
    text.reserve(path.size());
    qsizetype start = 0;
    while (start <= path.size()) {
        qsizetype end = path.indexOf('/', start);
        if (end < 0)
            end = path.size();
        const QByteArrayView component = path.sliced(start, end - start);
        text += isValidUtf8(component) ? QString::fromUtf8(component) : fromWindows1252(component);
        if (end < path.size())
            text += QLatin1Char('/');
        start = end + 1;
    }
    return text;
}
