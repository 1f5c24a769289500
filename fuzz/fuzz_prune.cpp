// libFuzzer target on the pure pass. Checks on every input that the result is the input less
// exactly the dropped lines, that the same sheet as UTF-16 or UTF-32 gets the same decisions, and
// that a second pass drops only lines that stood right before another, dropped, "INDEX 00" line.
#include "core/linerule.h"
#include "core/sheetlines.h"
#include "support/cuesheetmodel.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

using namespace cueprune;

namespace {

void require(bool holds, const char *what)
{
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

using Form = SheetEncoding::Form;

// Each byte becomes one code unit of form, behind that form's byte-order mark where asked.
QByteArray widened(const QByteArray &bytes, Form form, bool withMark)
{
    const qsizetype unit = SheetEncoding { form, 0 }.unitSize();
    const bool littleEndian = form == Form::Utf16LE || form == Form::Utf32LE;
    QByteArray wide;
    if (withMark) {
        const QByteArray mark = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
        const QByteArray padding(unit - 2, '\0');
        wide = littleEndian ? mark + padding : padding + mark;
    }
    for (const char byte : bytes) {
        QByteArray code(unit, '\0');
        code[littleEndian ? 0 : unit - 1] = byte;
        wide += code;
    }
    return wide;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray sheet(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    qsizetype observed = 0;
    const PrunedSheet pruned = pruneSheet(sheet, [&observed](const QString &) { ++observed; });
    const QByteArray &result = pruned.bytes;

    if (detectEncoding(sheet).form != Form::EightBit)
        return 0; // matched as UTF-16 or UTF-32: the byte model does not apply

    const QList<cuesheetmodel::Line> lines = cuesheetmodel::lines(sheet);
    require(result == cuesheetmodel::pruned(sheet),
        "the result is the input less exactly the dropped lines");
    require(!pruned.droppedLines.isEmpty() || pruned.bytes.constData() == sheet.constData(),
        "without a drop the sheet itself comes back");
    require(pregapLines(sheet) == pruned.droppedLines, "a dry run finds the lines the pass drops");
    require(
        observed + pruned.droppedLines.size() == lines.size(), "the observer sees every kept line");

    // The same text in UTF-16 and UTF-32, with a byte-order mark of its own, and in UTF-16
    // without one where its zero bytes show it.
    const qsizetype markSize = cuesheetmodel::byteOrderMark(sheet).size();
    for (const auto &[form, withMark] :
        { std::pair { Form::Utf16LE, true }, { Form::Utf16BE, true }, { Form::Utf32LE, true },
            { Form::Utf32BE, true }, { Form::Utf16LE, false }, { Form::Utf16BE, false } }) {
        const QByteArray wideSheet = widened(sheet.mid(markSize), form, withMark);
        if (detectEncoding(wideSheet).form != form)
            continue; // a mark-less sheet with too few letters, or a UTF-16 mark read as UTF-32's
        const PrunedSheet wide = pruneSheet(wideSheet);
        require(wide.droppedLines == pruned.droppedLines, "wide forms take the same decisions");
        require(wide.bytes == widened(result.mid(markSize), form, withMark),
            "wide forms keep the same lines");
    }

    // Only a line whose successor was dropped in the first pass, an "INDEX 00" line, may go
    // in a second pass.
    if (detectEncoding(result).form != Form::EightBit)
        return 0;
    QList<bool> successorDropped; // for each kept line, in order
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!lines[i].dropped)
            successorDropped.append(i + 1 < lines.size() && lines[i + 1].dropped);
    }
    const QList<cuesheetmodel::Line> again = cuesheetmodel::lines(result);
    require(again.size() == successorDropped.size(), "the kept lines are the lines of the result");
    const PrunedSheet second = pruneSheet(result);
    require(second.bytes == cuesheetmodel::pruned(result), "the second pass follows the same rule");
    for (qsizetype i = 0; i < again.size(); ++i) {
        if (again[i].dropped)
            require(successorDropped[i], "a second pass drops only a line that lost its successor");
    }
    return 0;
}
