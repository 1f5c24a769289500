#include "core/linerule.h"
#include "core/pruningcost.h"
#include "support/cuesheetmodel.h"

#include <QRandomGenerator>
#include <QStringEncoder>
#include <QTest>

#include <utility>

using namespace cueprune;

namespace {

const QByteArray twoTracksSecondWithPregap = "FILE \"disc.bin\" BINARY\n"
                                             "  TRACK 01 AUDIO\n"
                                             "    INDEX 01 00:00:00\n"
                                             "  TRACK 02 AUDIO\n"
                                             "    INDEX 00 03:10:20\n"
                                             "    INDEX 01 03:12:20\n";

// text in a Unicode form, behind a byte-order mark.
QByteArray encoded(const QString &text, QStringConverter::Encoding form)
{
    return QStringEncoder(form).encode(QChar(QChar::ByteOrderMark) + text);
}

QByteArray utf16(const QString &text, QSysInfo::Endian order)
{
    return encoded(text,
        order == QSysInfo::LittleEndian ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
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
    void noObserverNoDecoding();
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

    const QByteArray twoTracksPruned = "FILE \"disc.bin\" BINARY\n"
                                       "  TRACK 01 AUDIO\n"
                                       "    INDEX 01 00:00:00\n"
                                       "  TRACK 02 AUDIO\n"
                                       "    INDEX 01 03:12:20\n";
    QTest::newRow("twoTracksSecondWithPregap") << twoTracksSecondWithPregap << twoTracksPruned << 1;
    QTest::newRow("crlfTerminators") << QByteArray(twoTracksSecondWithPregap).replace("\n", "\r\n")
                                     << QByteArray(twoTracksPruned).replace("\n", "\r\n") << 1;
    QTest::newRow("mixedTerminatorsKeptPerLine")
        << QByteArray("TRACK 01\r\nINDEX 00 a\nINDEX 01 b\r\nTRACK 02\n")
        << QByteArray("TRACK 01\r\nINDEX 01 b\r\nTRACK 02\n") << 1;
    QTest::newRow("noFinalTerminator") << QByteArray("TRACK 01\nINDEX 00 a\nINDEX 01 b")
                                       << QByteArray("TRACK 01\nINDEX 01 b") << 1;
    QTest::newRow("emptyLastLineKept") << QByteArray("TRACK 01\nINDEX 00 a\nINDEX 01 b\n\n")
                                       << QByteArray("TRACK 01\nINDEX 01 b\n\n") << 1;
    QTest::newRow("pregapOnFirstLine")
        << QByteArray("INDEX 00 a\r\nINDEX 01 b\r\n") << QByteArray("INDEX 01 b\r\n") << 1;
    QTest::newRow("emptySheet") << QByteArray() << QByteArray() << 0;
    QTest::newRow("loneUtf16ByteOrderMark") << QByteArray("\xFE\xFF") << QByteArray() << 0;
    QTest::newRow("onlyTerminators") << QByteArray("\n\r\n\n") << QByteArray() << 0;
    QTest::newRow("oneLine") << QByteArray("INDEX 00 a\n") << QByteArray() << 0;
    QTest::newRow("pregapOnLastLine") << QByteArray("TRACK 01\nINDEX 00 a") << QByteArray() << 0;
    QTest::newRow("pregapBeforeTrackLine")
        << QByteArray("INDEX 00 a\nTRACK 02\nINDEX 01 b\n") << QByteArray() << 0;
    QTest::newRow("pregapBeforeIndex02")
        << QByteArray("INDEX 00 a\nINDEX 02 b\n") << QByteArray() << 0;
    QTest::newRow("markersAreCaseSensitive")
        << QByteArray("index 00 a\nINDEX 01 b\nIndex 00 c\nINDEX 01 d\nINDEX 00 e\nindex 01 f\n")
        << QByteArray() << 0;
    QTest::newRow("markerAmidOtherText")
        << QByteArray("REM comment INDEX 00 here\n\tINDEX 01 00:00:00\n")
        << QByteArray("\tINDEX 01 00:00:00\n") << 1;
    QTest::newRow("twoPregapsInARowLoseOnePerRun")
        << QByteArray("INDEX 00 a\nINDEX 00 b\nINDEX 01 c\n")
        << QByteArray("INDEX 00 a\nINDEX 01 c\n") << 1;
    QTest::newRow("pregapHoldingIndex01DropsBoth")
        << QByteArray("INDEX 00 a\nINDEX 00 b INDEX 01\nINDEX 01 c\n") << QByteArray("INDEX 01 c\n")
        << 2;
    QTest::newRow("loneCarriageReturnIsNotATerminator")
        << QByteArray("INDEX 00 a\rINDEX 01 b\n") << QByteArray() << 0;
    QTest::newRow("latin1BytesUntouched")
        << QByteArray("TITLE \"Caf\xE9 cr\xE8me\"\nINDEX 00 a\nINDEX 01 b\n")
        << QByteArray("TITLE \"Caf\xE9 cr\xE8me\"\nINDEX 01 b\n") << 1;
    QTest::newRow("utf8ByteOrderMarkKept") << QByteArray("\xEF\xBB\xBFINDEX 00 a\nINDEX 01 b\n")
                                           << QByteArray("\xEF\xBB\xBFINDEX 01 b\n") << 1;
    QTest::newRow("nulBytesAreText")
        << QByteArray("INDEX 00\0a\nINDEX 01\0b\nIN\0DEX 00\nINDEX 01\n", 40)
        << QByteArray("INDEX 01\0b\nIN\0DEX 00\nINDEX 01\n", 29) << 1;
    const QByteArray longLine(3 * 1024 * 1024, 'x');
    QTest::newRow("megabyteLines") << longLine + " INDEX 00\n" + longLine + " INDEX 01\n"
                                   << longLine + " INDEX 01\n"
                                   << 1;

    const QString utf16Sheet = QStringLiteral("TITLE \"Été\"\r\nINDEX 00 a\r\nINDEX 01 b\r\n");
    const QString utf16Result = QStringLiteral("TITLE \"Été\"\r\nINDEX 01 b\r\n");
    QTest::newRow("utf16LittleEndian") << utf16(utf16Sheet, QSysInfo::LittleEndian)
                                       << utf16(utf16Result, QSysInfo::LittleEndian) << 1;
    QTest::newRow("utf16BigEndian")
        << utf16(utf16Sheet, QSysInfo::BigEndian) << utf16(utf16Result, QSysInfo::BigEndian) << 1;
    for (const auto &[tag, form] : { std::pair { "utf32LittleEndian", QStringConverter::Utf32LE },
             { "utf32BigEndian", QStringConverter::Utf32BE } })
        QTest::newRow(tag) << encoded(utf16Sheet, form) << encoded(utf16Result, form) << 1;
    // Without a mark: the zero bytes beside the letters show UTF-16, and no mark is added.
    QTest::newRow("utf16LittleEndianWithoutMark")
        << utf16(utf16Sheet, QSysInfo::LittleEndian).mid(2)
        << utf16(utf16Result, QSysInfo::LittleEndian).mid(2) << 1;
    QTest::newRow("utf16BigEndianWithoutMark")
        << utf16(utf16Sheet, QSysInfo::BigEndian).mid(2)
        << utf16(utf16Result, QSysInfo::BigEndian).mid(2) << 1;
    QTest::newRow("utf16OddTrailingByte")
        << utf16(QStringLiteral("INDEX 00 a\nINDEX 01 b"), QSysInfo::LittleEndian) + "X"
        << utf16(QStringLiteral("INDEX 01 b"), QSysInfo::LittleEndian) + "X" << 1;
    // The marker bytes stand here at odd offsets, inside other characters: no match.
    QTest::newRow("utf16MarkersMatchOnlyWholeCharacters") << QByteArray("\xFF\xFE ")
            + utf16(QStringLiteral("INDEX 00"), QSysInfo::LittleEndian).mid(2)
            + QByteArray(" \n\0 ", 4)
            + utf16(QStringLiteral("INDEX 01"), QSysInfo::LittleEndian).mid(2)
            + " " << QByteArray() << 0;
}

void TestLineRule::prunesBytes()
{
    QFETCH(QByteArray, sheet);
    QFETCH(QByteArray, expected);
    QFETCH(int, dropped);

    const PrunedSheet pruned = pruneSheet(sheet);
    QCOMPARE(pruned.droppedLines.size(), qsizetype(dropped));
    if (dropped > 0) {
        QCOMPARE(pruned.bytes, expected);
    } else {
        QCOMPARE(pruned.bytes, sheet);
        QCOMPARE(pruned.bytes.constData(), sheet.constData()); // shared, not copied
    }
}

void TestLineRule::observerSees_data()
{
    QTest::addColumn<QByteArray>("sheet");
    QTest::addColumn<QStringList>("seen");

    QTest::newRow("twoTracksSecondWithPregap")
        << twoTracksSecondWithPregap
        << QStringList { "FILE \"disc.bin\" BINARY\n", "  TRACK 01 AUDIO\n",
               "    INDEX 01 00:00:00\n", "  TRACK 02 AUDIO\n", "    INDEX 01 03:12:20" };
    QTest::newRow("emptySheet") << QByteArray() << QStringList { "" };
    QTest::newRow("oneLine") << QByteArray("REM x") << QStringList { "REM x" };
    QTest::newRow("crlfShownAsLineFeeds") << QByteArray("A\r\nB\r\n") << QStringList { "A\n", "B" };
    QTest::newRow("emptyLastLine") << QByteArray("A\n\n") << QStringList { "A\n", "" };
    QTest::newRow("utf8") << QByteArray("Caf\xC3\xA9") << QStringList { "Café" };
    QTest::newRow("utf8ByteOrderMarkHidden")
        << QByteArray("\xEF\xBB\xBFOn\xC3\xA9\nB") << QStringList { "Oné\n", "B" };
    QTest::newRow("latin1") << QByteArray("Caf\xE9 cr\xE8me") << QStringList { "Café crème" };
    QTest::newRow("windows1252Punctuation")
        << QByteArray("l\x92\x9cuvre \x80 \x85 \x96") << QStringList { "l’œuvre € … –" };
    QTest::newRow("oneInvalidByteMakesTheSheetWindows1252")
        << QByteArray("Caf\xC3\xA9\nCaf\xE9") << QStringList { "CafÃ©\n", "Café" };
    QTest::newRow("utf16LittleEndian") << utf16(QStringLiteral("Été\r\nINDEX 00\r\nINDEX 01"),
        QSysInfo::LittleEndian) << QStringList { "Été\n", "INDEX 01" };
    QTest::newRow("utf16BigEndian")
        << utf16(QStringLiteral("Été\nZ"), QSysInfo::BigEndian) << QStringList { "Été\n", "Z" };
    QTest::newRow("loneUtf16ByteOrderMark") << QByteArray("\xFF\xFE") << QStringList { "" };
    QTest::newRow("loneUtf8ByteOrderMark") << QByteArray("\xEF\xBB\xBF") << QStringList { "" };
    QTest::newRow("utf16OddByteCount") << QByteArray("\xFF\xFE"
                                                     "A\0\n\0B",
        7) << QStringList { "A\n", "\uFFFD" };
    // UTF-16 needs more than half the letters beside a zero byte.
    QTest::newRow("halfTheLettersBesideZeroBytes")
        << QByteArray("A\0B", 3) << QStringList { QString::fromUtf8("A\0B", 3) };
    QTest::newRow("truncatedUtf8IsWindows1252") << QByteArray("Caf\xC3") << QStringList { "CafÃ" };
    QTest::newRow("overlongUtf8IsWindows1252") << QByteArray("\xC0\xAF") << QStringList { "À¯" };
    QTest::newRow("surrogateInUtf8IsWindows1252")
        << QByteArray("\xED\xA0\x80") << QStringList { "í\u00A0€" };
}

void TestLineRule::observerSees()
{
    QFETCH(QByteArray, sheet);
    QFETCH(QStringList, seen);

    QStringList received;
    (void)pruneSheet(sheet, [&received](const QString &text) { received.append(text); });
    QCOMPARE(received, seen);
}

void TestLineRule::noObserverNoDecoding()
{
    // Without an observer the result must not depend on the text being decodable.
    const QByteArray sheet("\xFF\xFE\x00\xD8\n\x00I\x00", 8);
    QVERIFY(pruneSheet(sheet).droppedLines.isEmpty());
}

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
        QCOMPARE(!pruned.droppedLines.isEmpty(), expected != sheet);
        if (!pruned.droppedLines.isEmpty())
            QCOMPARE(pruned.bytes, expected);
    }
}

void TestLineRule::guardKeepsEachFilesFirstPregap_data()
{
    QTest::addColumn<QByteArray>("sheet");
    QTest::addColumn<QList<qsizetype>>("dropped"); // under --keep-first-pregap
    QTest::newRow("firstLineOfTheSheet")
        << QByteArray("INDEX 00 00:00:00\nINDEX 01 00:00:33\n") << QList<qsizetype> {};
    QTest::newRow("beforeAnyFile") << QByteArray("TITLE \"x\"\n  TRACK 01 AUDIO\n"
                                                 "    INDEX 00 00:00:00\n    INDEX 01 00:00:33\n")
                                   << QList<qsizetype> {};
    QTest::newRow("eacRipSecondTrack") << QByteArray(
        "FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n"
        "    INDEX 01 00:00:33\n  TRACK 02 AUDIO\n    INDEX 00 03:00:00\n"
        "    INDEX 01 03:02:00\n") << QList<qsizetype> { 6 };
    QTest::newRow("fileATrack") << QByteArray(
        "FILE \"1.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n"
        "    INDEX 01 00:01:00\nFILE \"2.wav\" WAVE\n  TRACK 02 AUDIO\n"
        "    INDEX 00 00:00:00\n    INDEX 01 00:02:00\n")
                                << QList<qsizetype> {};
    QTest::newRow("secondIndexOfItsFile")
        << QByteArray("FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n"
                      "    INDEX 00 00:00:10\n    INDEX 01 00:00:33\n")
        << QList<qsizetype> { 4 };
    QTest::newRow("remarkIsNoIndex")
        << QByteArray("FILE \"a.wav\" WAVE\nREM INDEX 00 here\n    INDEX 01 00:00:00\n")
        << QList<qsizetype> { 2 };
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
    const QByteArray eac = "FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n"
                           "    INDEX 01 00:00:33\n";
    QTest::newRow("eacRip") << eac
                            << QList<PruningWarning> { { Kind::UnindexedAudio, 1, 33, true } };
    QTest::newRow("indexOneAtZero") << QByteArray(
        "FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n"
        "    INDEX 01 00:00:00\n") << QList<PruningWarning> {};
    QTest::newRow("secondTrackPregap")
        << twoTracksSecondWithPregap << QList<PruningWarning> { { Kind::DiscImage } };
    QTest::newRow("fileATrack") << QByteArray(
        "FILE \"1.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n"
        "    INDEX 01 00:01:00\nFILE \"2.wav\" WAVE\n  TRACK 02 AUDIO\n"
        "    INDEX 00 00:00:00\n    INDEX 01 00:02:05\n")
                                << QList<PruningWarning> { { Kind::UnindexedAudio, 1, 75, true },
                                       { Kind::UnindexedAudio, 2, 155, false } };
    QTest::newRow("indexOneBehindFlags")
        << QByteArray("FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n"
                      "    FLAGS DCP INDEX 01 00:00:33\n")
        << QList<PruningWarning> { { Kind::UnindexedAudio, 1, 33, true } };
    QTest::newRow("crLf") << QByteArray(eac).replace("\n", "\r\n")
                          << QList<PruningWarning> { { Kind::UnindexedAudio, 1, 33, true } };
    for (const char *type : { "BINARY", "MOTOROLA" }) {
        QTest::addRow("%s", type) << QByteArray("FILE \"d.img\" ") + type
                + "\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n"
                  "    INDEX 00 01:00:00\n    INDEX 01 01:02:00\n"
                                  << QList<PruningWarning> { { Kind::DiscImage } };
    }
    for (const char *type : { "MODE1/2352", "MODE2/2336", "CDI/2352", "CDG" }) {
        QTest::addRow("%s", type) << QByteArray("FILE \"d.wav\" WAVE\n  TRACK 01 ") + type
                + "\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 00 01:00:00\n"
                  "    INDEX 01 01:02:00\n"
                                  << QList<PruningWarning> { { Kind::DiscImage } };
    }
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
