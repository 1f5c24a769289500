#include "core/linerule.h"
#include "core/pruningcost.h"
#include "support/cuesheetmodel.h"

#include <QRandomGenerator>
#include <QStringEncoder>
#include <QTest>

#include <tuple>

using namespace cueprune;

namespace {

// text in a Unicode form, behind a byte-order mark.
QByteArray encoded(const QString &text, QStringConverter::Encoding form)
{
    return QStringEncoder(form).encode(QChar(QChar::ByteOrderMark) + text);
}

} // namespace

class TestLineRule : public QObject
{
    Q_OBJECT

private slots:
    void prunesBytes_data();
    void prunesBytes();
    void observerSees_data();
    void observerSees();
    void generatedSheets();
    void guardKeepsEachFilesFirstPregap_data();
    void guardKeepsEachFilesFirstPregap();
    void pruningWarnings_data();
    void pruningWarnings();
};

void TestLineRule::prunesBytes_data()
{
    QTest::addColumn<QByteArray>("sheet");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("dropped");
    QTest::newRow("pregapOnFirstLineCrLf")
        << QByteArray("INDEX 00 a\r\nINDEX 01 b\r\n") << QByteArray("INDEX 01 b\r\n") << 1;
    QTest::newRow("emptySheet") << QByteArray() << QByteArray() << 0;
    QTest::newRow("pregapBeforeIndex02")
        << QByteArray("INDEX 00 a\nINDEX 02 b\n") << QByteArray() << 0;
    QTest::newRow("markersAreCaseSensitive")
        << QByteArray("index 00 a\nINDEX 01 b\nIndex 00 c\nINDEX 01 d\nINDEX 00 e\nindex 01 f\n")
        << QByteArray() << 0;
    QTest::newRow("loneCarriageReturnIsNotATerminator")
        << QByteArray("INDEX 00 a\rINDEX 01 b\n") << QByteArray() << 0;
    QTest::newRow("nulBytesAreText")
        << QByteArray("INDEX 00\0a\nINDEX 01\0b\nIN\0DEX 00\nINDEX 01\n", 40)
        << QByteArray("INDEX 01\0b\nIN\0DEX 00\nINDEX 01\n", 29) << 1;
    // Without an observer the result must not depend on the text being decodable.
    QTest::newRow("undecodableUtf16")
        << QByteArray("\xFF\xFE\x00\xD8\n\x00I\x00", 8) << QByteArray() << 0;

    // Without a mark, the zero bytes beside the letters show UTF-16, and no mark is added.
    const QString text = QStringLiteral("TITLE \"Été\"\r\nINDEX 00 a\r\nINDEX 01 b\r\n");
    const QString result = QStringLiteral("TITLE \"Été\"\r\nINDEX 01 b\r\n");
    for (const auto &[tag, form, markSize] :
        { std::tuple { "utf16LittleEndian", QStringConverter::Utf16LE, 0 },
            { "utf16BigEndian", QStringConverter::Utf16BE, 0 },
            { "utf32LittleEndian", QStringConverter::Utf32LE, 0 },
            { "utf32BigEndian", QStringConverter::Utf32BE, 0 },
            { "utf16LittleEndianWithoutMark", QStringConverter::Utf16LE, 2 },
            { "utf16BigEndianWithoutMark", QStringConverter::Utf16BE, 2 } })
        QTest::newRow(tag) << encoded(text, form).mid(markSize)
                           << encoded(result, form).mid(markSize) << 1;
    QTest::newRow("utf16OddTrailingByte")
        << encoded(QStringLiteral("INDEX 00 a\nINDEX 01 b"), QStringConverter::Utf16LE) + "X"
        << encoded(QStringLiteral("INDEX 01 b"), QStringConverter::Utf16LE) + "X" << 1;
    // The marker bytes stand here at odd offsets, inside other characters: no match.
    QTest::newRow("utf16MarkersMatchOnlyWholeCharacters") << QByteArray("\xFF\xFE ")
            + encoded(QStringLiteral("INDEX 00"), QStringConverter::Utf16LE).mid(2)
            + QByteArray(" \n\0 ", 4)
            + encoded(QStringLiteral("INDEX 01"), QStringConverter::Utf16LE).mid(2)
            + " " << QByteArray() << 0;
}

void TestLineRule::prunesBytes()
{
    QFETCH(QByteArray, sheet);
    QFETCH(QByteArray, expected);
    QFETCH(int, dropped);
    const PrunedSheet pruned = pruneSheet(sheet);
    QCOMPARE(pruned.droppedLines.size(), qsizetype(dropped));
    QCOMPARE(pruned.bytes, dropped > 0 ? expected : sheet);
    QVERIFY(dropped > 0 || pruned.bytes.isSharedWith(sheet)); // not copied
}

void TestLineRule::observerSees_data()
{
    QTest::addColumn<QByteArray>("sheet");
    QTest::addColumn<QStringList>("seen");
    QTest::newRow("crlfShownAsLineFeedsAndEmptyLastLine")
        << QByteArray("A\r\nB\r\n\n") << QStringList { "A\n", "B\n", "" };
    QTest::newRow("utf8") << QByteArray("Caf\xC3\xA9") << QStringList { "Café" };
    QTest::newRow("utf8ByteOrderMarkHidden")
        << QByteArray("\xEF\xBB\xBFOn\xC3\xA9\nB") << QStringList { "Oné\n", "B" };
    QTest::newRow("windows1252") << QByteArray("Caf\xE9 l\x92\x9cuvre \x80 \x85 \x96")
                                 << QStringList { "Café l’œuvre € … –" };
    // Legacy code pages: the detector is followed for a non-Latin script only (Debian 12's
    // calls the French one ISO-8859-2 or MAC-CENTRALEUROPE, "NoŽl").
    for (const auto &[codePage, first, second] :
        { std::tuple { "windows-1251", QStringLiteral("PERFORMER \"Кино\""),
              QStringLiteral("  TITLE \"Группа крови\"") },
            { "windows-1252", QStringLiteral("TITLE \"Les fêtes de Noël\""),
                QStringLiteral("  TITLE \"Petit papa Noël\"") } })
        QTest::addRow("%s", codePage)
            << QByteArray(QStringEncoder(codePage).encode(first + "\r\n" + second))
            << QStringList { first + '\n', second };
    QTest::newRow("oneInvalidByteMakesTheSheetWindows1252")
        << QByteArray("Caf\xC3\xA9\nCaf\xE9") << QStringList { "CafÃ©\n", "Café" };
    QTest::newRow("utf16LittleEndian") << encoded(QStringLiteral("Été\r\nINDEX 00\r\nINDEX 01"),
        QStringConverter::Utf16LE) << QStringList { "Été\n", "INDEX 01" };
    QTest::newRow("utf16BigEndian") << encoded(QStringLiteral("Été\nZ"), QStringConverter::Utf16BE)
                                    << QStringList { "Été\n", "Z" };
    QTest::newRow("loneUtf16ByteOrderMark") << QByteArray("\xFF\xFE") << QStringList { "" };
    QTest::newRow("loneUtf8ByteOrderMark") << QByteArray("\xEF\xBB\xBF") << QStringList { "" };
    QTest::newRow("utf16OddByteCount")
        << QByteArray("\377\376A\0\n\0B", 7) << QStringList { "A\n", "\uFFFD" };
    // UTF-16 needs more than half the letters beside a zero byte.
    QTest::newRow("halfTheLettersBesideZeroBytes")
        << QByteArray("A\0B", 3) << QStringList { QString::fromUtf8("A\0B", 3) };
}

void TestLineRule::observerSees()
{
    QFETCH(QByteArray, sheet);
    QFETCH(QStringList, seen);
    QStringList received;
    (void)pruneSheet(sheet, [&received](const QString &text) { received.append(text); });
    QCOMPARE(received, seen);
}

// Terminators, marks, markers amid other text, pregaps in a row: against the plain model.
void TestLineRule::generatedSheets()
{
    const QList<QByteArray> vocabulary
        = { "  TRACK 01 AUDIO", "    INDEX 00 01:02:03", "    INDEX 01 01:04:03",
              "REM INDEX 00 INDEX 01", "TITLE \"\xE9t\xE9\"", "", "\r", "INDEX 0" };
    QRandomGenerator random(20261207);
    for (int round = 0; round < 500; ++round) {
        QByteArray sheet = random.bounded(4) == 0 ? "\xEF\xBB\xBF" : "";
        const int lineCount = random.bounded(12);
        for (int i = 0; i < lineCount; ++i) {
            sheet += vocabulary.at(random.bounded(vocabulary.size()));
            if (i + 1 < lineCount || random.bounded(2))
                sheet += random.bounded(2) ? "\r\n" : "\n";
        }
        const QByteArray expected = cuesheetmodel::pruned(sheet);
        const PrunedSheet pruned = pruneSheet(sheet);
        QCOMPARE(pruned.droppedLines.isEmpty(), expected == sheet);
        QCOMPARE(pruned.bytes, expected);
    }
}

void TestLineRule::guardKeepsEachFilesFirstPregap_data()
{
    QTest::addColumn<QByteArray>("sheet");
    QTest::addColumn<QList<qsizetype>>("dropped"); // under --keep-first-pregap
    QTest::newRow("firstLineOfTheSheet")
        << QByteArray("INDEX 00 a\nINDEX 01 b\n") << QList<qsizetype> {};
    QTest::newRow("beforeAnyFileThenFileATrack")
        << QByteArray("TITLE x\n  INDEX 00 a\n  INDEX 01 b\nFILE b\nINDEX 00 c\nINDEX 01 d\n")
        << QList<qsizetype> {};
    // Not the first index of its FILE: after an INDEX 01, after an INDEX 00, after no index
    // but a remark.
    QTest::newRow("otherPregaps") << QByteArray("FILE a\nINDEX 00 a\nINDEX 01 b\nINDEX 00 c\n"
                                                "INDEX 01 d\nFILE b\nINDEX 00 e\nINDEX 00 f\n"
                                                "INDEX 01 g\nFILE c\nREM INDEX 00 x\nINDEX 01 h\n")
                                  << QList<qsizetype> { 4, 8, 11 };
}

// The guard keeps the INDEX 00 that is the first index of its FILE, or of the sheet before any
// FILE, wherever it stands, and prunes every other as the plain rule does.
void TestLineRule::guardKeepsEachFilesFirstPregap()
{
    QFETCH(QByteArray, sheet);
    QFETCH(QList<qsizetype>, dropped);
    QCOMPARE(pregapLines(sheet, PregapRule::KeepFirstOfFile), dropped);
}

using Kind = PruningWarning::Kind;
Q_DECLARE_METATYPE(QList<PruningWarning>)

void TestLineRule::pruningWarnings_data()
{
    QTest::addColumn<QByteArray>("sheet");
    QTest::addColumn<QList<PruningWarning>>("expected");
    const QList<PruningWarning> trackOneUnindexed { { Kind::UnindexedAudio, 1, 33, true } };
    const QByteArray eac = "FILE \"a b.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n"
                           "    INDEX 01 00:00:33\n";
    QTest::newRow("eacRip") << eac << trackOneUnindexed;
    QTest::newRow("crLf") << QByteArray(eac).replace("\n", "\r\n") << trackOneUnindexed;
    QTest::newRow("utf16WithoutMark")
        << encoded(eac, QStringConverter::Utf16LE).mid(2) << trackOneUnindexed;
    QTest::newRow("utf32BigEndian") << encoded(eac, QStringConverter::Utf32BE) << trackOneUnindexed;
    QTest::newRow("indexOneAtZero")
        << QByteArray(eac).replace("00:00:33", "00:00:00") << QList<PruningWarning> {};
    QTest::newRow("indexOneBehindFlags")
        << QByteArray(eac).replace("    INDEX 01", "FLAGS DCP INDEX 01") << trackOneUnindexed;
    QTest::newRow("fileATrack") << eac
            + "FILE b WAVE\nTRACK 02 AUDIO\nINDEX 00 00:00:00\nINDEX 01 00:02:05\n"
                                << QList<PruningWarning> { { Kind::UnindexedAudio, 1, 33, true },
                                       { Kind::UnindexedAudio, 2, 155, false } };
    // The INDEX 00 dropped is not its file's first index: only the image is told.
    for (const auto &[file, track] : { std::pair { "BINARY", "AUDIO" }, { "MOTOROLA", "AUDIO" },
             { "WAVE", "MODE1/2352" }, { "WAVE", "CDI/2352" }, { "WAVE", "CDG" } })
        QTest::addRow("%s-%s", file, track) << QByteArray("FILE d ") + file + "\nTRACK 01 " + track
                + "\nINDEX 01 00:00:00\nINDEX 00 01:00:00\nINDEX 01 01:02:00\n"
                                            << QList<PruningWarning> { { Kind::DiscImage } };
}

// What a pruning costs, read from the sheet and its dropped lines: the audio a FILE's first
// index no longer covers, and a disc image.
void TestLineRule::pruningWarnings()
{
    QFETCH(QByteArray, sheet);
    QFETCH(QList<PruningWarning>, expected);
    const QList<PruningWarning> found
        = cueprune::pruningWarnings(sheet, pregapLines(sheet, PregapRule::All));
    QCOMPARE(found.size(), expected.size());
    for (qsizetype i = 0; i < found.size(); ++i) {
        QCOMPARE(found[i].kind, expected[i].kind);
        QCOMPARE(found[i].track, expected[i].track);
        QCOMPARE(found[i].frames, expected[i].frames);
        QCOMPARE(found[i].firstFile, expected[i].firstFile);
    }
}

QTEST_GUILESS_MAIN(TestLineRule)
#include "tst_linerule.moc"
