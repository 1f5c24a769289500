#include "core/sheetdiff.h"
#include "support/files.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using namespace cueprune;

namespace {

QByteArray encoded(const QString &text, QStringConverter::Encoding form, bool mark)
{
    return QStringEncoder(form).encode((mark ? QString(QChar::ByteOrderMark) : QString()) + text);
}

// What the real GNU tool writes, standard output then error, or why it did not run.
QByteArray output(const QString &tool, const QStringList &arguments)
{
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished())
        return tool.toUtf8() + " did not run";
    return process.readAllStandardOutput() + process.readAllStandardError();
}

} // namespace

class TestSheetDiff : public QObject
{
    Q_OBJECT

private slots:
    void undoesThePruning_data();
    void undoesThePruning();
};

void TestSheetDiff::undoesThePruning_data()
{
    QTest::addColumn<QByteArray>("sheet");
    QTest::addColumn<QList<qsizetype>>("dropped");
    QTest::addColumn<QByteArray>("pruned");
    QTest::addColumn<QByteArray>("decoded"); // the lines above the labels, but the first
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("label"); // of the old side, after the folder's path

    const auto row
        = [](const char *tag, const QString &text, QList<qsizetype> dropped, const QString &pruned,
              QStringConverter::Encoding form, bool mark, const QByteArray &decoded = {},
              const QByteArray &name = "a.cue", const QByteArray &label = "/a.cue") {
              QTest::newRow(tag) << encoded(text, form, mark) << dropped
                                 << encoded(pruned, form, mark) << decoded << name << label;
          };
    const QByteArray dropB = "# @@ -1,3 +1,2 @@\n#  a\n# -b\n#  c\n";
    // A line feed's zero bytes start the next line in little-endian forms.
    row("utf16LittleEndian", "a\nb\nc\n", { 2 }, "a\nc\n", QStringConverter::Utf16LE, true, dropB);
    row("utf16BigEndianNoFinalNewline", "a\nb\nc", { 2 }, "a\nc", QStringConverter::Utf16BE, true,
        dropB + "# \\ No newline at end of file\n");
    // U+010A holds the byte 0x0A, where diff -a cuts a line too.
    row("utf16CharacterHoldingLineFeedByte", "a\n\u010A\u010A\nc\n", { 2 }, "a\nc\n",
        QStringConverter::Utf16LE, true, "# @@ -1,3 +1,2 @@\n#  a\n# -\xC4\x8A\xC4\x8A\n#  c\n");
    // The mark and the next line join into a line of their own.
    row("utf16FirstTwoLines", "a\nb\nc\nd\n", { 1, 2 }, "c\nd\n", QStringConverter::Utf16LE, true,
        "# @@ -1,4 +1,2 @@\n# -a\n# -b\n#  c\n#  d\n");
    row("utf32LittleEndian", "a\r\nb\r\nc\r\n", { 2 }, "a\r\nc\r\n", QStringConverter::Utf32LE,
        true, dropB);
    row("utf8MarkOneLineLeft", "a\nb\n", { 1 }, "b\n", QStringConverter::Utf8, true);
    // Changes six lines apart share a hunk, seven apart do not; the first hunk's new line
    // counts in the second's numbers.
    const QString letters = "a\nb\nc\nd\ne\nf\ng\nh\ni\nj\nk\nl";
    row("sixApart", letters, { 2, 9 }, "a\nc\nd\ne\nf\ng\nh\nj\nk\nl", QStringConverter::Latin1,
        false);
    row("sevenApartAfterAByteOrderMark", letters, { 1, 10 }, "b\nc\nd\ne\nf\ng\nh\ni\nk\nl",
        QStringConverter::Utf8, true);
    // A name of any bytes is labelled so that GNU patch finds the very file again.
    row("spaceQuoteAndBackslash", "a\nb\n", { 1 }, "b\n", QStringConverter::Latin1, false, {},
        "a \"b\\c.cue", "/a \\\"b\\\\c.cue\"");
    row("controlsAndBeyondAscii", "a\nb\n", { 1 }, "b\n", QStringConverter::Latin1, false, {},
        "a\tb\nc\rd\x7F\xC3\xA9t\xE9.cue", "/a\\tb\\nc\\rd\\177\\303\\251t\\351.cue\"");
}

// The diff of every encoding is the one diff -a -u writes, lines cut at each byte 0x0A, and
// the real GNU patch gives the sheet back from it; the decoded lines above it change nothing.
void TestSheetDiff::undoesThePruning()
{
    QFETCH(QByteArray, sheet);
    QFETCH(QList<qsizetype>, dropped);
    QFETCH(QByteArray, pruned);
    QFETCH(QByteArray, decoded);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, label);
    if (QStandardPaths::findExecutable("patch").isEmpty())
        QSKIP("GNU patch is not installed (Debian patch)");
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path());
    const QByteArray path = folder + '/' + name;
    QVERIFY(testsupport::writeFile(path, pruned) && testsupport::writeFile(folder + "/new", pruned)
        && testsupport::writeFile(folder + "/old", sheet));

    const QByteArray diff = unifiedDiff(sheet, dropped, path);
    const QByteArray quote = label.endsWith('"') ? "\"" : "";
    const QByteArray labels
        = "--- " + quote + 'a' + folder + label + "\n+++ " + quote + 'b' + folder + label + '\n';
    const QByteArray byDiff
        = output("diff", { "-a", "-u", dir.filePath("old"), dir.filePath("new") });
    QCOMPARE(diff.mid(diff.indexOf(labels)), labels + byDiff.mid(byDiff.indexOf("\n@@") + 1));
    const QByteArray above = diff.left(diff.indexOf(labels));
    QCOMPARE(above.mid(above.indexOf('\n') + 1), decoded);

    QVERIFY(testsupport::writeFile(folder + "/run.diff", diff));
    QCOMPARE(
        output("patch", { "-R", "-s", "-F0", "-p1", "-d", "/", "-i", dir.filePath("run.diff") }),
        QByteArray());
    QCOMPARE(testsupport::readFile(path), sheet);
}

QTEST_GUILESS_MAIN(TestSheetDiff)
#include "tst_sheetdiff.moc"
