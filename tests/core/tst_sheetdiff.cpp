#include "core/sheetdiff.h"
#include "support/files.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using namespace cueprune;

namespace {

// Bytes as written, zero bytes included.
template <std::size_t size> QByteArray bytes(const char (&literal)[size])
{
    return QByteArray(literal, size - 1);
}

QByteArray encoded(const QString &text, QStringConverter::Encoding form, bool mark)
{
    return QStringEncoder(form).encode((mark ? QString(QChar::ByteOrderMark) : QString()) + text);
}

// Undoes diff with the real GNU patch, from the root as a user would: what went wrong, or
// nothing.
QByteArray patchedBack(const QTemporaryDir &dir, const QByteArray &diff)
{
    if (!testsupport::writeFile(dir.filePath("run.diff"), diff))
        return "run.diff not written";
    QProcess patch;
    patch.setProcessChannelMode(QProcess::MergedChannels);
    patch.start("patch", { "-R", "-F0", "-p1", "-d", "/", "-i", dir.filePath("run.diff") });
    if (!patch.waitForFinished())
        return "patch did not end";
    return patch.exitCode() == 0 ? QByteArray() : "patch failed: " + patch.readAll();
}

} // namespace

class TestSheetDiff : public QObject
{
    Q_OBJECT

private slots:
    void undoesThePruning_data();
    void undoesThePruning();
    void labelsReadBackByPatch_data();
    void labelsReadBackByPatch();
};

void TestSheetDiff::undoesThePruning_data()
{
    QTest::addColumn<QByteArray>("sheet");
    QTest::addColumn<QList<qsizetype>>("dropped");
    QTest::addColumn<QByteArray>("pruned");
    QTest::addColumn<QByteArray>("hunks"); // what follows the labels
    QTest::addColumn<QByteArray>("decoded"); // the lines above the labels, but the first

    const auto row = [](const char *tag, const QString &text, QList<qsizetype> dropped,
                         const QString &pruned, QStringConverter::Encoding form, bool mark,
                         const QByteArray &hunks, const QByteArray &decoded = {}) {
        QTest::newRow(tag) << encoded(text, form, mark) << dropped << encoded(pruned, form, mark)
                           << hunks << decoded;
    };
    // A line feed's zero bytes start the next line in little-endian forms.
    row("utf16LittleEndian", "a\nb\nc\n", { 2 }, "a\nc\n", QStringConverter::Utf16LE, true,
        bytes("@@ -1,4 +1,3 @@\n \xFF\xFE"
              "a\0\n-\0b\0\n \0c\0\n \0\n\\ No newline at end of file\n"),
        "# @@ -1,3 +1,2 @@\n#  a\n# -b\n#  c\n");
    const QByteArray dropB = "# @@ -1,3 +1,2 @@\n#  a\n# -b\n#  c\n";
    row("utf16BigEndianNoMark", "a\nb\nc\n", { 2 }, "a\nc\n", QStringConverter::Utf16BE, false,
        bytes("@@ -1,3 +1,2 @@\n \0a\0\n-\0b\0\n \0c\0\n"), dropB);
    row("utf16BigEndianNoFinalNewline", "a\nb\nc", { 2 }, "a\nc", QStringConverter::Utf16BE, true,
        bytes("@@ -1,3 +1,2 @@\n \xFE\xFF\0a\0\n-\0b\0\n \0c\n\\ No newline at end of file\n"),
        "# @@ -1,3 +1,2 @@\n#  a\n# -b\n#  c\n# \\ No newline at end of file\n");
    // The mark and the next line join into a line of their own.
    row("utf16FirstLine", "a\nb\nc\n", { 1 }, "b\nc\n", QStringConverter::Utf16LE, true,
        bytes("@@ -1,4 +1,3 @@\n-\xFF\xFE"
              "a\0\n-\0b\0\n+\xFF\xFE"
              "b\0\n \0c\0\n \0\n\\ No newline at end of file\n"),
        "# @@ -1,3 +1,2 @@\n# -a\n#  b\n#  c\n");
    // U+010A holds the byte 0x0A, where diff -a cuts a line too.
    row("utf16CharacterHoldingLineFeedByte", "a\n\u010A\u010A\nc\n", { 2 }, "a\nc\n",
        QStringConverter::Utf16LE, true,
        bytes("@@ -1,6 +1,3 @@\n \xFF\xFE"
              "a\0\n-\0\n-\1\n-\1\n \0c\0\n \0\n\\ No newline at end of file\n"),
        "# @@ -1,3 +1,2 @@\n#  a\n# -\xC4\x8A\xC4\x8A\n#  c\n");
    row("utf16FirstTwoLines", "a\nb\nc\nd\n", { 1, 2 }, "c\nd\n", QStringConverter::Utf16LE, true,
        bytes("@@ -1,5 +1,3 @@\n-\xFF\xFE"
              "a\0\n-\0b\0\n-\0c\0\n+\xFF\xFE"
              "c\0\n \0d\0\n \0\n\\ No newline at end of file\n"),
        "# @@ -1,4 +1,2 @@\n# -a\n# -b\n#  c\n#  d\n");
    row("utf32LittleEndian", "a\r\nb\r\nc\r\n", { 2 }, "a\r\nc\r\n", QStringConverter::Utf32LE,
        true,
        bytes("@@ -1,4 +1,3 @@\n \xFF\xFE\0\0a\0\0\0\r\0\0\0\n-\0\0\0b\0\0\0\r\0\0\0\n"
              " \0\0\0c\0\0\0\r\0\0\0\n \0\0\0\n\\ No newline at end of file\n"),
        dropB);
    row("utf32BigEndian", "a\nb\nc\n", { 2 }, "a\nc\n", QStringConverter::Utf32BE, true,
        bytes("@@ -1,3 +1,2 @@\n \0\0\xFE\xFF\0\0\0a\0\0\0\n-\0\0\0b\0\0\0\n"
              " \0\0\0c\0\0\0\n"),
        dropB);
    row("utf8MarkOneLineLeft", "a\nb\n", { 1 }, "b\n", QStringConverter::Utf8, true,
        "@@ -1,2 +1 @@\n-\xEF\xBB\xBF"
        "a\n-b\n+\xEF\xBB\xBF"
        "b\n");
    // Changes six lines apart share a hunk, seven apart do not, as diff -u makes them.
    const QString letters = "a\nb\nc\nd\ne\nf\ng\nh\ni\nj\nk\nl";
    row("sixApart", letters, { 2, 9 }, "a\nc\nd\ne\nf\ng\nh\nj\nk\nl", QStringConverter::Latin1,
        false,
        "@@ -1,12 +1,10 @@\n a\n-b\n c\n d\n e\n f\n g\n h\n-i\n j\n k\n l\n"
        "\\ No newline at end of file\n");
    // The first hunk's new line counts in the second's numbers.
    row("sevenApartAfterAByteOrderMark", letters, { 1, 10 }, "b\nc\nd\ne\nf\ng\nh\ni\nk\nl",
        QStringConverter::Utf8, true,
        "@@ -1,5 +1,4 @@\n-\xEF\xBB\xBF"
        "a\n-b\n+\xEF\xBB\xBF"
        "b\n c\n d\n e\n@@ -7,6 +6,5 @@\n g\n h\n i\n-j\n k\n l\n"
        "\\ No newline at end of file\n");
}

// The diff of every encoding is the one diff -a -u writes, lines cut at each byte 0x0A, and
// the real GNU patch gives the sheet back from it; the decoded lines above it change nothing.
void TestSheetDiff::undoesThePruning()
{
    QFETCH(QByteArray, sheet);
    QFETCH(QList<qsizetype>, dropped);
    QFETCH(QByteArray, pruned);
    QFETCH(QByteArray, hunks);
    QFETCH(QByteArray, decoded);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray path = QFile::encodeName(dir.filePath("a.cue"));

    const QByteArray diff = unifiedDiff(sheet, dropped, path);
    const QByteArray labels = "--- a" + path + "\n+++ b" + path + '\n';
    QCOMPARE(diff.mid(diff.indexOf(labels)), labels + hunks);
    const QByteArray above = diff.left(diff.indexOf(labels));
    QCOMPARE(above.mid(above.indexOf('\n') + 1), decoded);

    if (QStandardPaths::findExecutable("patch").isEmpty())
        QSKIP("GNU patch is not installed (Debian patch)");
    QVERIFY(testsupport::writeFile(path, pruned));
    const QByteArray failure = patchedBack(dir, diff);
    QVERIFY2(failure.isEmpty(), failure.constData());
    QCOMPARE(testsupport::readFile(path), sheet);
}

void TestSheetDiff::labelsReadBackByPatch_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("label"); // of the old side, after the folder's path

    QTest::newRow("plain") << QByteArray("a-b_c.cue") << QByteArray("/a-b_c.cue");
    QTest::newRow("space") << QByteArray("a b.cue") << QByteArray("/a b.cue\"");
    QTest::newRow("quoteAndBackslash")
        << QByteArray("a\"b\\c.cue") << QByteArray("/a\\\"b\\\\c.cue\"");
    QTest::newRow("controls") << QByteArray("a\tb\nc\rd\x7F.cue")
                              << QByteArray("/a\\tb\\nc\\rd\\177.cue\"");
    QTest::newRow("beyondAscii") << QByteArray("\xC3\xA9t\xE9.cue")
                                 << QByteArray("/\\303\\251t\\351.cue\"");
}

// A name of any bytes is labelled so that GNU patch finds the very file again.
void TestSheetDiff::labelsReadBackByPatch()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, label);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray folder = QFile::encodeName(dir.path());
    const QByteArray path = folder + '/' + name;
    const QByteArray sheet = "INDEX 00 a\nINDEX 01 b\n";

    const QByteArray diff = unifiedDiff(sheet, { 1 }, path);
    const bool quoted = label.endsWith('"');
    const QByteArray old = quoted ? "\"a" + folder + label : "a" + folder + label;
    QVERIFY2(diff.startsWith("--- " + old + '\n'), diff.constData());

    if (QStandardPaths::findExecutable("patch").isEmpty())
        QSKIP("GNU patch is not installed (Debian patch)");
    QVERIFY(testsupport::writeFile(path, "INDEX 01 b\n"));
    const QByteArray failure = patchedBack(dir, diff);
    QVERIFY2(failure.isEmpty(), failure.constData());
    QCOMPARE(testsupport::readFile(path), sheet);
}

QTEST_GUILESS_MAIN(TestSheetDiff)
#include "tst_sheetdiff.moc"
