// libFuzzer target on the pure pass. Checks on every input that the result is the input less
// exactly the dropped lines, that the same sheet as UTF-16 gets the same decisions, and that a
// second pass drops only lines that stood right before another, dropped, "INDEX 00" line.
#include "cuesheetmodel.h"
#include "linerule.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void require(bool holds, const char *what)
{
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

// Each byte becomes one UTF-16 code unit, behind a byte-order mark.
QByteArray widened(const QByteArray &bytes, bool bigEndian)
{
    QByteArray wide = bigEndian ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
    for (const char byte : bytes) {
        wide += bigEndian ? '\0' : byte;
        wide += bigEndian ? byte : '\0';
    }
    return wide;
}

bool startsWithByteOrderMark(const QByteArray &sheet)
{
    return sheet.startsWith("\xFF\xFE") || sheet.startsWith("\xFE\xFF");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray sheet(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    qsizetype observed = 0;
    const PrunedSheet pruned = pruneSheet(sheet, [&observed](const QString &) { ++observed; });
    const QByteArray &result = pruned.bytes;

    if (startsWithByteOrderMark(sheet))
        return 0; // matched as UTF-16: the byte model does not apply

    const QList<cuesheetmodel::Line> lines = cuesheetmodel::lines(sheet);
    require(result == cuesheetmodel::pruned(sheet),
        "the result is the input less exactly the dropped lines");
    require(pruned.droppedLines > 0 || pruned.bytes.constData() == sheet.constData(),
        "without a drop the sheet itself comes back");
    require(observed + pruned.droppedLines == lines.size(), "the observer sees every kept line");

    // The same text in UTF-16, with a byte-order mark of its own.
    const qsizetype markSize = cuesheetmodel::byteOrderMark(sheet).size();
    for (const bool bigEndian : { false, true }) {
        const PrunedSheet wide = pruneSheet(widened(sheet.mid(markSize), bigEndian));
        require(wide.droppedLines == pruned.droppedLines, "UTF-16 takes the same decisions");
        require(wide.droppedLines == 0 || wide.bytes == widened(result.mid(markSize), bigEndian),
            "UTF-16 keeps the same lines");
    }

    // Only a line whose successor was dropped in the first pass, an "INDEX 00" line, may go
    // in a second pass.
    if (startsWithByteOrderMark(result))
        return 0;
    QList<bool> successorDropped; // for each kept line, in order
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!lines[i].dropped)
            successorDropped.append(i + 1 < lines.size() && lines[i + 1].dropped);
    }
    const QList<cuesheetmodel::Line> again = cuesheetmodel::lines(result);
    require(again.size() == successorDropped.size(), "the kept lines are the lines of the result");
    const PrunedSheet second = pruneSheet(result);
    require(second.bytes == cuesheetmodel::pruned(result),
        "the second pass follows the same rule");
    for (qsizetype i = 0; i < again.size(); ++i) {
        if (again[i].dropped)
            require(successorDropped[i], "a second pass drops only a line that lost its successor");
    }
    return 0;
}
