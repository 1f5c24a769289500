#pragma once

#include <QByteArray>
#include <QList>

namespace cueprune {

// A sheet's times count frames, 75 a second: "mm:ss:ff".
constexpr qsizetype framesPerSecond = 75;

// What dropping a sheet's pregap lines costs the programs that read it afterwards: players and
// splitters see no difference, but programs that embed a sheet (FLAC), burn it or load a disc
// image read each file's first index and each track's position.
struct PruningWarning
{
    enum class Kind {
        // A FILE's first index was a dropped INDEX 00, and the INDEX 01 after it is not at
        // 00:00:00: the audio between them is now in no index.
        UnindexedAudio,
        // A disc image (a BINARY or MOTOROLA file, or a track that is not AUDIO): a burner or
        // an emulator places the tracks differently.
        DiscImage,
    };
    Kind kind;
    int track = 0; // UnindexedAudio: the number of the track
    qsizetype frames = 0; // UnindexedAudio: the audio left out, in 1/75 s
    bool firstFile = false; // UnindexedAudio: in the sheet's first FILE, which FLAC embeds
};

// The warnings for sheet once droppedLines (numbers from 1, in order) are dropped from it.
[[nodiscard]] QList<PruningWarning> pruningWarnings(
    const QByteArray &sheet, const QList<qsizetype> &droppedLines);

} // namespace cueprune
