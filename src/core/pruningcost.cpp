#include "core/pruningcost.h"

#include "core/sheetlines.h"

#include <optional>
#include <string>
#include <vector>

namespace cueprune {

namespace {

constexpr qsizetype framesPerSecond = 75;

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

// Reads a sheet's commands line after line and notes what dropping its lines costs.
class CostReader
{
public:
    explicit CostReader(const QList<qsizetype> &droppedLines)
        : droppedLines(droppedLines)
    {
    }
    void read(qsizetype number, const std::vector<std::string> &command);
    QList<PruningWarning> warnings() const;

private:
    void readIndex(qsizetype number, const std::vector<std::string> &command);

    const QList<qsizetype> &droppedLines;
    qsizetype nextDropped = 0; // index into droppedLines
    int files = 0;
    int track = 0;
    bool indexInFile = false;
    bool discImage = false;
    // A dropped first index of a file, waiting for the INDEX 01 on the next line.
    std::optional<PruningWarning> pending;
    qsizetype pendingStart = 0;
    qsizetype pendingLine = 0;
    QList<PruningWarning> found;
};

void CostReader::read(qsizetype number, const std::vector<std::string> &command)
{
    const std::string none;
    const std::string &word = command.empty() ? none : command.front();
    if (word == "FILE") {
        ++files;
        indexInFile = false;
        const std::string &type = command.size() > 2 ? command.back() : none;
        discImage = discImage || type == "BINARY" || type == "MOTOROLA";
    } else if (word == "TRACK") {
        track = command.size() > 1 ? QByteArray::fromStdString(command[1]).toInt() : 0;
        discImage = discImage || (command.size() > 2 && command[2] != "AUDIO");
    } else if (word == "INDEX") {
        readIndex(number, command);
    }
    while (nextDropped < droppedLines.size() && droppedLines[nextDropped] <= number)
        ++nextDropped;
}

void CostReader::readIndex(qsizetype number, const std::vector<std::string> &command)
{
    const bool first = !indexInFile;
    indexInFile = true;
    const auto time = command.size() > 2 ? framesOf(command[2]) : std::nullopt;
    if (pending && time && number == pendingLine + 1 && command[1] == "01" && *time != 0) {
        pending->frames = *time > pendingStart ? *time - pendingStart : *time;
        found.append(*pending);
    }
    pending.reset();
    const bool dropped = nextDropped < droppedLines.size() && droppedLines[nextDropped] == number;
    if (dropped && first && time) {
        pending = PruningWarning { PruningWarning::Kind::UnindexedAudio, track, 0, files <= 1 };
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
    CostReader reader(droppedLines);
    qsizetype number = 0;
    for (SheetLines::Line line; lines.next(line);)
        reader.read(++number, words(lines.ascii(line)));
    return reader.warnings();
}

QString cueTime(qsizetype frames)
{
    return QStringLiteral("%1:%2:%3")
        .arg(frames / (60 * framesPerSecond), 2, 10, QLatin1Char('0'))
        .arg(frames / framesPerSecond % 60, 2, 10, QLatin1Char('0'))
        .arg(frames % framesPerSecond, 2, 10, QLatin1Char('0'));
}

} // namespace cueprune
