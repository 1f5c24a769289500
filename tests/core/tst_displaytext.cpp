// Names shown: quoted as GNU ls --quoting-style=shell-escape quotes them (the rows were checked
// against ls itself, but for invisible format characters, which ls prints raw and we escape),
// and kept on one line in the windows.
#include "core/codepage.h"
#include "core/displaytext.h"
#include "core/quoting.h"

#include <QProcess>
#include <QTest>

class TestDisplayText : public QObject
{
    Q_OBJECT

private slots:
    void shellQuotedAsLs_data();
    void shellQuotedAsLs();
    void displayPathStaysOnOneLine_data();
    void displayPathStaysOnOneLine();
};

void TestDisplayText::shellQuotedAsLs_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("quoted");
    QTest::newRow("plain") << QByteArray("plain.cue") << "plain.cue";
    QTest::newRow("harmlessPunctuation") << QByteArray("a%b+c,d:e@f{g}-h") << "a%b+c,d:e@f{g}-h";
    QTest::newRow("space") << QByteArray("a b.cue") << "'a b.cue'";
    for (const char metacharacter : QByteArray("$`;&|*?()<>[=^!\\\""))
        QTest::addRow("metacharacter %c", metacharacter) << QByteArray("a") + metacharacter
                + 'b' << QStringLiteral("'a%1b'").arg(QLatin1Char(metacharacter));
    QTest::newRow("hashFirst") << QByteArray("#a") << "'#a'";
    QTest::newRow("hashTildeBracketBracesInside") << QByteArray("{a#b]~}") << "{a#b]~}";
    QTest::newRow("tildeFirst") << QByteArray("~a") << "'~a'";
    QTest::newRow("braceAlone") << QByteArray("{") << "'{'";
    QTest::newRow("quote") << QByteArray("it's.cue") << "\"it's.cue\"";
    QTest::newRow("quoteAndDollar") << QByteArray("it's $x") << "'it'\\''s $x'";
    QTest::newRow("shortEscapes") << QByteArray("a\nb\rc\td") << "'a'$'\\n''b'$'\\r''c'$'\\t''d'";
    QTest::newRow("escape") << QByteArray("a\x1b[2K") << "'a'$'\\033''[2K'";
    QTest::newRow("delete") << QByteArray("a\177b") << "'a'$'\\177''b'";
    QTest::newRow("c1NextLine") << QByteArray("a\302\205b") << "'a'$'\\302\\205''b'";
    QTest::newRow("zeroWidthSpace") << QByteArray("a\342\200\213b") << "'a'$'\\342\\200\\213''b'";
    QTest::newRow("utf8Accent") << QByteArray("caf\xc3\xa9.cue") << "café.cue";
    QTest::newRow("latin1") << QByteArray("caf\xe9.cue") << "'caf'$'\\351''.cue'";
    QTest::newRow("loneContinuation") << QByteArray("a\x80") << "'a'$'\\200'";
}

void TestDisplayText::shellQuotedAsLs()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, quoted);
    QCOMPARE(cueprune::shellQuoted(name), quoted);

    // Pasted into a shell, it gives back the very bytes.
    QProcess shell;
    shell.start("bash", { "-c", "printf %s " + quoted });
    QVERIFY(shell.waitForFinished());
    QCOMPARE(shell.readAllStandardOutput(), name);
}

void TestDisplayText::displayPathStaysOnOneLine_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("shown");
    QTest::newRow("latin1Decoded") << QByteArray("/m/caf\xe9.cue") << "/m/café.cue";
    // GBK's 歌 where no locale names a code page (as here): windows-1252.
    QTest::newRow("legacyWithoutHint") << QByteArray("/m/\xb8\xe8.cue") << "/m/¸è.cue";
    QTest::newRow("utf8AndSpaceBare")
        << QByteArray("/m/\xC3\x89t\xC3\xA9 \xC3\xA0 b.cue") << "/m/Été à b.cue";
    QTest::newRow("carriageReturn") << QByteArray("/m/a\rb") << "'/m/a'$'\\r''b'";
    QTest::newRow("delete") << QByteArray("/m/a\177b") << "'/m/a'$'\\177''b'";
    QTest::newRow("c1") << QByteArray("/m/a\302\233b") << "'/m/a'$'\\302\\233''b'";
    QTest::newRow("lineSeparator")
        << QByteArray("/m/a\342\200\250b") << "'/m/a'$'\\342\\200\\250''b'";
}

void TestDisplayText::displayPathStaysOnOneLine()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, shown);
    if (cueprune::systemCodePage() != "windows-1252")
        QSKIP("the rows are for a system whose locale names no legacy code page");
    QCOMPARE(cueprune::displayPath(path), shown);
}

QTEST_GUILESS_MAIN(TestDisplayText)
#include "tst_displaytext.moc"
