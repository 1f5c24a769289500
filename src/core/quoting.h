#pragma once

#include <QByteArrayView>
#include <QString>

namespace cueprune {

// A path as GNU ls --quoting-style=shell-escape prints it, for a terminal: pasted into a POSIX
// shell it gives back the very bytes. A name that needs no quoting is printed bare; one with a
// shell metacharacter or space goes between quotes; each byte of a control or invisible format
// character, and each byte that is not UTF-8, is written as $'\ooo'. 'a'$'\033''[2K' for "a",
// ESC, "[2K".
[[nodiscard]] QString shellQuoted(QByteArrayView path);

// Text as GNU diff labels a file and GNU patch reads it back: bare when it holds only printable
// ASCII other than a quote or a backslash, else between double quotes with C escapes
// ("caf\351.cue").
[[nodiscard]] QByteArray cQuoted(QByteArrayView text);

} // namespace cueprune
