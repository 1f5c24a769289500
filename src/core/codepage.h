#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace cueprune {

// Which legacy code page an 8-bit text that is not UTF-8 is in: a sheet written by a Windows
// ripper in its system's "ANSI" code page, or a file name. Code pages go by the names Qt's
// decoders know them by ("GB18030", "Big5", "windows-31j", "windows-949", "EUC-JP",
// "windows-1251"...).

// The code page of the locale named (as LC_ALL, LC_CTYPE or LANG give it: "zh_TW.UTF-8"), from
// its language and territory: windows-1252 for any other.
[[nodiscard]] QByteArray codePageOfLocale(QByteArrayView locale);

// The system's legacy code page: Windows' ANSI code page; elsewhere the locale's, from LC_ALL,
// LC_CTYPE or LANG, whichever is set first.
[[nodiscard]] QByteArray systemCodePage();

struct CodePageChoice
{
    QByteArray chosen;
    QList<QByteArray> plausible; // chosen first, then the others that could be meant
};

// Decides the code page of text with every signal: which multibyte code pages decode it
// without error, the system's detector, the prior (the system's code page), and how plausible
// each decoded text is, all on its first megabyte. Latin text stays windows-1252 unless the
// prior says otherwise.
[[nodiscard]] CodePageChoice chooseCodePage(QByteArrayView text, const QByteArray &prior);

} // namespace cueprune
