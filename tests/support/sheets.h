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

// Sheets whose pruning costs something. An EAC rip of one file whose track 1 starts 33 frames
// in, and a track 2 with a pregap; a disc image, a file a track, each with a 2-second pregap.
inline const QByteArray eacRip
    = "FILE \"Album.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n"
      "    INDEX 01 00:00:33\n  TRACK 02 AUDIO\n    INDEX 00 00:04:00\n"
      "    INDEX 01 00:05:00\n";
inline const QByteArray discImage = "FILE \"t1.bin\" BINARY\n  TRACK 01 MODE1/2352\n"
                                    "    INDEX 00 00:00:00\n    INDEX 01 00:02:00\n";

} // namespace testsupport
