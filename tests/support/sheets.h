#pragma once

#include <QByteArray>

namespace testsupport {

// Sample sheets: two tracks, a Latin-1 title, CR LF, a pregap before the second track.
inline const QByteArray pregapSheet = "FILE \"disc.wav\" WAVE\r\n"
                                      "  TRACK 01 AUDIO\r\n"
                                      "    TITLE \"Caf\xE9\"\r\n"
                                      "    INDEX 01 00:00:00\r\n"
                                      "  TRACK 02 AUDIO\r\n"
                                      "    INDEX 00 03:10:20\r\n"
                                      "    INDEX 01 03:12:20\r\n";
inline const QByteArray prunedSheet
    = QByteArray(pregapSheet).replace("    INDEX 00 03:10:20\r\n", "");
inline const QByteArray cleanSheet
    = "FILE \"b.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";

} // namespace testsupport
