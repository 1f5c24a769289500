#include "core/pruningcost.h"

#include "core/sheetlines.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace cueprune {

namespace {

// A sheet's command: its words, a quoted one whole, without its quotes.
std::vector<std::string> words(const std::string &line)
{
    std::vector<std::string> found;
    for (std::size_t at = 0; at < line.size();) {
        if (line[at] == ' ' || line[at] == '\t') {
            ++at;
            continue;
        }
        const bool quoted = line[at] == '"';
        const std::size_t from = quoted ? at + 1 : at;
        const std::size_t end = quoted ? line.find('"', from) : line.find_first_of(" \t", from);
        const std::size_t stop = end == std::string::npos ? line.size() : end;
        found.push_back(line.substr(from, stop - from));
        at = quoted && end != std::string::npos ? stop + 1 : stop;
    }
    return found;
}

// "mm:ss:ff" in frames, or nothing.
std::optional<qsizetype> framesOf(const std::string &time)
{
    const QList<QByteArray> parts = QByteArray::fromStdString(time).split(':');
    if (parts.size() != 3)
        return std::nullopt;
    bool valid[3] = {};
    const qsizetype frames = parts[0].toLongLong(&valid[0]) * 60 * framesPerSecond
        + parts[1].toLongLong(&valid[1]) * framesPerSecond + parts[2].toLongLong(&valid[2]);
    if (!valid[0] || !valid[1] || !valid[2])
        return std::nullopt;
    return frames;
}

// Reads a sheet's commands line after line and notes what dropping its lines costs. Only the
// FILE lines, and the TRACK and INDEX lines around a dropped one, are read word by word: the
// others are told apart by their first word alone, without a copy. (A sheet can hold thousands
// of lines, and a dry run reads every sheet that changes.)
class CostReader
{
public:
    CostReader(const SheetLines &lines, const QList<qsizetype> &droppedLines)
        : lines(lines)
        , droppedLines(droppedLines)
        , file(lines.encoded("FILE"))
        , track(lines.encoded("TRACK"))
        , index(lines.encoded("INDEX"))
        , firstIndexOfFile(lines)
        , dataTrackTypes { lines.encoded("MODE"), lines.encoded("CDI"), lines.encoded("CDG") }
    {
    }
    void read(qsizetype number, const SheetLines::Line &line);
    QList<PruningWarning> warnings() const;

private:
    void readIndex(qsizetype number, const SheetLines::Line &line, bool first);

    const SheetLines &lines;
    const QList<qsizetype> &droppedLines;
    const std::string file;
    const std::string track;
    const std::string index;
    FirstIndexOfFile firstIndexOfFile;
    // What a track that is not AUDIO says it is: MODE1/2352, MODE2/2336, CDI/2352, CDG...
    const std::string dataTrackTypes[3];
    qsizetype nextDropped = 0; // index into droppedLines
    int files = 0;
    std::optional<SheetLines::Line> lastTrack;
    bool discImage = false;
    // A dropped first index of a file, waiting for the INDEX 01 on the next line.
    std::optional<PruningWarning> pending;
    qsizetype pendingStart = 0;
    qsizetype pendingLine = 0;
    QList<PruningWarning> found;
};

void CostReader::read(qsizetype number, const SheetLines::Line &line)
{
    const bool firstIndex = firstIndexOfFile(line);
    const qsizetype word = lines.firstWord(line);
    if (lines.isWordAt(line, word, file)) {
        const std::vector<std::string> command = words(lines.ascii(line));
        ++files;
        const std::string type = command.size() > 2 ? command.back() : std::string();
        discImage = discImage || type == "BINARY" || type == "MOTOROLA";
    } else if (lines.isWordAt(line, word, track)) {
        // "TRACK nn TYPE": no free text in which a type's name could stand otherwise.
        lastTrack = line;
        for (const std::string &type : dataTrackTypes)
            discImage = discImage || lines.contains(line, type);
    } else if (lines.isWordAt(line, word, index) || (pending && number == pendingLine + 1)) {
        // The line after a dropped one may hold its INDEX 01 behind other words.
        readIndex(number, line, firstIndex);
    }
    while (nextDropped < droppedLines.size() && droppedLines[nextDropped] <= number)
        ++nextDropped;
}

void CostReader::readIndex(qsizetype number, const SheetLines::Line &line, bool first)
{
    const bool dropped = nextDropped < droppedLines.size() && droppedLines[nextDropped] == number;
    const bool follows = pending && number == pendingLine + 1;
    if (!follows && !(dropped && first)) {
        pending.reset();
        return;
    }
    std::vector<std::string> command = words(lines.ascii(line));
    command.erase(command.begin(), std::find(command.begin(), command.end(), "INDEX"));
    const auto time = command.size() > 2 ? framesOf(command[2]) : std::nullopt;
    if (follows && time && command[1] == "01" && *time != 0) {
        pending->frames = *time > pendingStart ? *time - pendingStart : *time;
        found.append(*pending);
    }
    pending.reset();
    if (dropped && first && time) {
        const std::vector<std::string> trackCommand
            = lastTrack ? words(lines.ascii(*lastTrack)) : std::vector<std::string>();
        const int trackNumber
            = trackCommand.size() > 1 ? QByteArray::fromStdString(trackCommand[1]).toInt() : 0;
        pending
            = PruningWarning { PruningWarning::Kind::UnindexedAudio, trackNumber, 0, files <= 1 };
        pendingStart = *time;
        pendingLine = number;
    }
}

QList<PruningWarning> CostReader::warnings() const
{
    QList<PruningWarning> warnings = found;
    if (discImage)
        warnings.append({ PruningWarning::Kind::DiscImage });
    return warnings;
}

} // namespace

QList<PruningWarning> pruningWarnings(const QByteArray &sheet, const QList<qsizetype> &droppedLines)
{
    SheetLines lines(sheet);
    CostReader reader(lines, droppedLines);
    qsizetype number = 0;
    for (SheetLines::Line line; lines.next(line);)
        reader.read(++number, line);
    return reader.warnings();
}

} // namespace cueprune
