#include "core/linerule.h"
#include "cueprune/sheetrun.h"
#include "files/sheetfile.h"
#include "files/temporaries.h"
#include "support/faults.h"
#include "support/sheets.h"
#include "support/windowdriver.h"
#include "window/vexatrin.h"

#include <QBuffer>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <pty.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/sysmacros.h>

#include <map>
#include <memory>
#include <thread>

using cueprune::pruneSheet;
using cueprune::SheetRun;

using testsupport::cleanSheet;
using testsupport::eacRip;
using testsupport::fill;
using testsupport::pregapSheet;
using testsupport::prunedSheet;
using testsupport::readFile;
using testsupport::setMode;
using testsupport::writeFile;

namespace {

struct Outcome
{
    int exitCode = -1;
    QString out;
    QString err;
};

// prepareChild runs in the child before cueprune starts, after it gave up root when asked.
Outcome runCueprune(const QStringList &arguments, const QString &workingDirectory = QString(),
    bool unprivileged = false,
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment(),
    const std::function<void()> &prepareChild = {})
{
    QProcess process;
    process.setWorkingDirectory(workingDirectory);
    process.setProcessEnvironment(testsupport::withoutDisplay(environment));
    process.setChildProcessModifier([unprivileged, prepareChild] {
        if (unprivileged)
            testsupport::dropRootPrivileges();
        if (prepareChild)
            prepareChild();
    });
    process.start(unprivileged ? testsupport::runnableByAnyone(CUEPRUNE) : CUEPRUNE, arguments);
    if (!process.waitForFinished() || process.exitStatus() != QProcess::NormalExit)
        return {};
    return { process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
        QString::fromUtf8(process.readAllStandardError()) };
}

// A folder of count sheets with pregaps, named 000.cue, 001.cue...
testsupport::FolderContents pregapSheets(int count)
{
    testsupport::FolderContents contents;
    for (int i = 0; i < count; ++i)
        contents.insert(QStringLiteral("%1.cue").arg(i, 3, 10, QLatin1Char('0')), pregapSheet);
    return contents;
}

// How many of contents' sheets in root hold the pruned text now.
qsizetype prunedOnDisk(const QString &root, const testsupport::FolderContents &contents)
{
    qsizetype pruned = 0;
    for (auto it = contents.cbegin(); it != contents.cend(); ++it)
        pruned += readFile(root + '/' + it.key()) == prunedSheet;
    return pruned;
}

// A run over 250 sheets whose chosen outputs ("out", "err") go to a pseudo-terminal, read as
// the run goes so that a full terminal never holds it up. Flushes slowed to 5 ms make it last
// more than a second.
class TerminalRun
{
public:
    TerminalRun(const QString &terminal, const QStringList &options)
    {
        if (!dir.isValid() || !fill(dir.path(), pregapSheets(250))
            || ::openpty(&terminalSide, &programSide, nullptr, nullptr, nullptr) != 0)
            return;
        child.setProcessEnvironment(testsupport::withFaults(FAULT_INJECTION, "slowfsync"));
        child.setChildProcessModifier([this, terminal] {
            if (terminal.contains("out"))
                ::dup2(programSide, STDOUT_FILENO);
            if (terminal.contains("err"))
                ::dup2(programSide, STDERR_FILENO);
        });
        reader = std::thread([this] {
            char buffer[4096];
            for (ssize_t count; (count = ::read(terminalSide, buffer, sizeof buffer)) > 0;)
                terminalText.append(buffer, count);
        });
        clock.start();
        child.start(CUEPRUNE, options + QStringList { "-j", "1", dir.path() });
    }
    ~TerminalRun() { finish(); }
    TerminalRun(const TerminalRun &) = delete;
    TerminalRun &operator=(const TerminalRun &) = delete;

    bool started() const { return clock.isValid(); }
    // Waits for the end of the run and of what it showed; whether it ended.
    bool finish()
    {
        const bool finished = child.state() == QProcess::NotRunning || child.waitForFinished();
        if (!finished) {
            child.kill();
            child.waitForFinished();
        }
        if (!reader.joinable())
            return finished;
        elapsed = clock.elapsed() / 1000.0;
        ::close(programSide);
        reader.join();
        ::close(terminalSide);
        return finished;
    }
    QProcess &process() { return child; }
    const QByteArray &shown() const { return terminalText; }
    double seconds() const { return elapsed; }

private:
    QTemporaryDir dir;
    int terminalSide = -1;
    int programSide = -1;
    QProcess child;
    std::thread reader;
    QByteArray terminalText;
    QElapsedTimer clock;
    double elapsed = 0;
};

// A path of letters and spaces as the text output shows it: between quotes when it has a space.
QString quotedIfSpaced(const QString &path)
{
    return path.contains(' ') ? '\'' + path + '\'' : path;
}

// The per-sheet lines of a run: path then verdict, for each name under root.
QString entries(const QString &root, const QStringList &namesAndVerdicts)
{
    QString text;
    for (qsizetype i = 0; i < namesAndVerdicts.size(); i += 2)
        text += quotedIfSpaced(root + '/' + namesAndVerdicts[i]) + '\n' + namesAndVerdicts[i + 1]
            + '\n';
    return text;
}

const QString modified = QStringLiteral("==> Fichier modifié !");
const QString toModify = QStringLiteral("==> Fichier à modifier !");
const QString unchanged = QStringLiteral("==> Aucun changement !");
const QString failed = QStringLiteral("==> Erreur !");

} // namespace

class TestCuePrune : public QObject
{
    Q_OBJECT

private slots:
    void usage_data();
    void usage();
    void onlyPruningOptionsChangeFiles();
    void noEnglishText_data();
    void noEnglishText();
    void needsNoDisplay();
    void walksFolders_data();
    void walksFolders();
    void dryRunWritesNothing();
    void quietShowsChangesAndFailures();
    void failuresDoNotStopTheRun();
    void unreadableInputs();
    void sameVerdictsAsFolderTool();
    void namesThatAreNotUtf8();
    void sheetReachedTwiceIsHandledOnce();
    void parallelRunMatchesOneWorker();
    void progressOnlyOnATerminal_data();
    void progressOnlyOnATerminal();
    void pathsResolvedAsTheKernelDoes_data();
    void pathsResolvedAsTheKernelDoes();
    void hardLinkedNamesAreBothPruned();
    void namesPasteBack_data();
    void namesPasteBack();
    void jsonNamesOpenTheirSheets();
    void stopSignalEndsCleanly_data();
    void stopSignalEndsCleanly();
    void leftoversOfKilledRunsAreSettled();
    void stoppedRunHasSaidEveryLeftoverRemoval();
    void outputThatCannotBeWrittenFails_data();
    void outputThatCannotBeWrittenFails();
    void closedOrFewDescriptors_data();
    void closedOrFewDescriptors();
    void unsearchableFolderIsReported();
    void rewritesWithoutProc();
    void noDeviceIsEverOpened();
    void backups_data();
    void backups();
    void jsonLines_data();
    void jsonLines();
    void pruningCosts_data();
    void pruningCosts();
    void diffUndoesTheRun();
    void diffListing_data();
    void diffListing();
    void flacTakesWhatTheGuardKeeps();
    void namesInTheSystemCodePage_data();
    void namesInTheSystemCodePage();

private:
    std::map<QString, std::unique_ptr<TerminalRun>> terminalRuns;
};

void TestCuePrune::usage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("expectedOut");
    QTest::addColumn<QString>("expectedErr");

    QTest::newRow("noPath") << QStringList {} << 2 << QString()
                            << "cueprune : aucun CHEMIN donné.\nEssayez « cueprune --help ».\n";
    QTest::newRow("unknownOption")
        << QStringList { "--bogus", "." } << 2 << QString()
        << "cueprune : option non reconnue « --bogus »\nEssayez « cueprune --help ».\n";
    QTest::newRow("unknownOptionWithEscape")
        << QStringList { "--\x1b[2K" } << 2 << QString()
        << "cueprune : option non reconnue « '--'$'\\033''[2K' »\nEssayez « cueprune --help ».\n";
    QTest::newRow("badJobs") << QStringList { "-j", "0", "." } << 2 << QString()
                             << "cueprune : nombre de feuilles à la fois invalide : 0\n"
                                "Essayez « cueprune --help ».\n";
    QTest::newRow("help") << QStringList { "--help" } << 0 << "-n, --dry-run" << QString();
    QTest::newRow("shortHelp") << QStringList { "-h" } << 0 << "Parcourt aussi les sous-dossiers."
                               << QString();
    QTest::newRow("version") << QStringList { "-v" } << 0 << "cueprune " CUEPRUNE_VERSION
                             << QString();
}

void TestCuePrune::usage()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, expectedOut);
    QFETCH(QString, expectedErr);

    const Outcome outcome = runCueprune(arguments);
    QCOMPARE(outcome.exitCode, exitCode);
    if (expectedOut.isEmpty())
        QCOMPARE(outcome.out, QString());
    else
        QVERIFY2(outcome.out.contains(expectedOut), qPrintable(outcome.out));
    QCOMPARE(outcome.err, expectedErr);
}

// Every option that --help lists, given with a folder: only those meant to prune change it.
void TestCuePrune::onlyPruningOptionsChangeFiles()
{
    const QString help = runCueprune({ "--help" }).out;
    const QRegularExpression listed(
        R"(^  (?:-\w, |    )(--[\w-]+)(=\S+)?)", QRegularExpression::MultilineOption);
    QStringList seen;
    for (const auto &match : listed.globalMatch(help)) {
        const QString option = match.captured(1);
        seen.append(option);
        QTemporaryDir dir;
        QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
        QVERIFY(writeFile(dir.filePath("a.cue"), pregapSheet));
        QStringList arguments { option };
        if (!match.captured(2).isEmpty())
            arguments.append("2");
        const Outcome outcome = runCueprune(arguments + QStringList { dir.path() });
        const bool prunes = QStringList { "--recursive", "--quiet", "--jobs", "--backup",
            "--suffix", "--keep-first-pregap", "--diff", "--json" }
                                .contains(option);
        QCOMPARE(outcome.exitCode, 0);
        QVERIFY2((readFile(dir.filePath("a.cue")) == prunedSheet) == prunes, qPrintable(option));
    }
    QVERIFY2(seen.contains("--json") && seen.contains("--dry-run"), qPrintable(help));
}

void TestCuePrune::noEnglishText_data()
{
    QTest::addColumn<bool>("systemTranslations");
    QTest::newRow("withQtTranslations") << true;
    QTest::newRow("withoutQtTranslations") << false;
}

// The help and the usage errors come out in French whether or not the system has Qt's own
// French translations.
void TestCuePrune::noEnglishText()
{
    QFETCH(bool, systemTranslations);
    const QString translations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (systemTranslations && !QFileInfo::exists(translations + "/qtbase_fr.qm"))
        QSKIP("Qt's French translations are not installed (Debian qt6-translations-l10n)");

    // A copy of cueprune beside a qt.conf that points it at an empty translations folder.
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QString program = CUEPRUNE;
    if (!systemTranslations) {
        program = dir.filePath("cueprune");
        QVERIFY(QFile::copy(CUEPRUNE, program));
        QVERIFY(writeFile(dir.filePath("qt.conf"), "[Paths]\nTranslations=" + dir.path().toUtf8()));
    }
    const QRegularExpression english(
        "Usage|Options:|Arguments:|Displays|Unknown|Missing|Unexpected|information|commandline");
    for (const QStringList &arguments : { QStringList { "--help" }, QStringList { "--bogus" },
             QStringList { "-h" }, QStringList() }) {
        QProcess process;
        process.start(program, arguments);
        QVERIFY(process.waitForFinished());
        const QString text = QString::fromUtf8(process.readAll() + process.readAllStandardError());
        QVERIFY2(text.contains("Utilisation :") || text.contains("Essayez"), qPrintable(text));
        QVERIFY2(!text.contains(english), qPrintable(text));
    }
}

void TestCuePrune::needsNoDisplay()
{
    QProcess ldd;
    ldd.start("ldd", { CUEPRUNE });
    QVERIFY(ldd.waitForFinished());
    const QString libraries = QString::fromLocal8Bit(ldd.readAllStandardOutput());
    QVERIFY2(libraries.contains("libQt6Core"), qPrintable(libraries));
    QVERIFY2(!libraries.contains("libQt6Gui") && !libraries.contains("libQt6Widgets"),
        qPrintable(libraries));

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(writeFile(dir.filePath("a.cue"), pregapSheet));
    const Outcome outcome = runCueprune({ dir.path() }); // started with no display at all
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(readFile(dir.filePath("a.cue")), prunedSheet);
}

void TestCuePrune::walksFolders_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("expectedErr"); // ROOT for the folder given

    // Hidden folders and links are not walked, so not counted as left out either.
    QTest::newRow("ownSheetsOnly")
        << QStringList {} << QStringList { "a.CUE", modified, "Z.cue", unchanged }
        << "cueprune : 'ROOT' : 3 sous-dossiers non parcourus (utilisez -r)\n";
    QTest::newRow("recursiveDepthFirst")
        << QStringList { "-r" }
        << QStringList { "a.CUE", modified, "Z.cue", unchanged, "b/one.cue", modified,
               "b/c/deep.cue", modified, "B2/two.cue", unchanged }
        << QString();
    QTest::newRow("recursiveLongOption")
        << QStringList { "--recursive" }
        << QStringList { "a.CUE", modified, "Z.cue", unchanged, "b/one.cue", modified,
               "b/c/deep.cue", modified, "B2/two.cue", unchanged }
        << QString();
}

void TestCuePrune::walksFolders()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, expected);
    QFETCH(QString, expectedErr);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString root = dir.filePath("Musique à trier");
    QVERIFY(fill(root,
        { { "b/c/", {} }, { "B2/", {} }, { ".hidden/", {} }, { "empty/", {} },
            { "Z.cue", cleanSheet }, { "a.CUE", pregapSheet }, { "notes.txt", pregapSheet },
            { "b/one.cue", pregapSheet }, { "b/c/deep.cue", pregapSheet },
            { "B2/two.cue", cleanSheet }, { ".hidden/h.cue", pregapSheet } }));
    // A link back up the tree must neither loop nor be followed.
    QVERIFY(QFile::link(root, root + "/b/c/loop"));
    QVERIFY(QFile::link(root + "/b/one.cue", root + "/linked.cue"));

    const Outcome outcome = runCueprune(options + QStringList { root });
    QCOMPARE(outcome.exitCode, 0);
    const int sheets = expected.size() / 2;
    const int pruned = expected.count(modified);
    const auto plural = [](int count) { return count > 1 ? "s" : ""; };
    const QString summary = QStringLiteral("%1 fichiers : %2 modifié%3, %4 inchangé%5, 0 erreur\n")
                                .arg(sheets)
                                .arg(pruned)
                                .arg(plural(pruned))
                                .arg(sheets - pruned)
                                .arg(plural(sheets - pruned));
    QCOMPARE(outcome.out, entries(root, expected) + summary);
    QCOMPARE(outcome.err, expectedErr.replace("ROOT", root));
    QCOMPARE(readFile(root + "/.hidden/h.cue"), pregapSheet);
    QCOMPARE(readFile(root + "/notes.txt"), pregapSheet);
}

void TestCuePrune::dryRunWritesNothing()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(fill(dir.path(),
        { { "sub/", {} }, { "a.cue", pregapSheet }, { "b.cue", cleanSheet },
            { "sub/c.cue", pregapSheet } }));
    for (const QString name : { "a.cue", "b.cue", "sub/c.cue" })
        QVERIFY(testsupport::backdate(dir.filePath(name)));

    const Outcome outcome = runCueprune({ "-r", "--dry-run", dir.path() });
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.out,
        entries(dir.path(), { "a.cue", toModify, "b.cue", unchanged, "sub/c.cue", toModify })
            + "3 fichiers : 2 à modifier, 1 inchangé, 0 erreur\n");
    QCOMPARE(readFile(dir.filePath("a.cue")), pregapSheet);
    QCOMPARE(readFile(dir.filePath("sub/c.cue")), pregapSheet);
    for (const QString name : { "a.cue", "b.cue", "sub/c.cue" })
        QCOMPARE(QFileInfo(dir.filePath(name)).lastModified(), testsupport::longAgo());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

void TestCuePrune::quietShowsChangesAndFailures()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(fill(dir.path(), { { "a.cue", cleanSheet }, { "b.cue", pregapSheet } }));

    const Outcome outcome = runCueprune({ "-q", dir.path(), dir.filePath("gone.cue") });
    QCOMPARE(outcome.exitCode, 1);
    QCOMPARE(outcome.out,
        entries(dir.path(), { "b.cue", modified })
            + "2 fichiers : 1 modifié, 1 inchangé, 1 erreur\n");
    QCOMPARE(outcome.err, "cueprune : introuvable : " + dir.filePath("gone.cue") + '\n');
}

void TestCuePrune::failuresDoNotStopTheRun()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(fill(dir.path(),
        { { "folder.cue/", {} }, { "-dash.cue", pregapSheet }, { "notes.txt", pregapSheet },
            { "Café crème.cue", cleanSheet } }));

    // Paths relative to the working directory, a leading dash after "--", any file name.
    const Outcome outcome = runCueprune(
        { "--", "missing.cue", "-dash.cue", "notes.txt", "Café crème.cue", "folder.cue" },
        dir.path());
    QCOMPARE(outcome.exitCode, 1);
    QCOMPARE(outcome.out,
        entries(dir.path(),
            { "-dash.cue", modified, "notes.txt", modified, "Café crème.cue", unchanged })
            + "3 fichiers : 2 modifiés, 1 inchangé, 1 erreur\n");
    QCOMPARE(outcome.err, QStringLiteral("cueprune : introuvable : missing.cue\n"));
    QCOMPARE(readFile(dir.filePath("-dash.cue")), prunedSheet);
    QCOMPARE(readFile(dir.filePath("notes.txt")), prunedSheet);
}

// Root reads through any permission: then the run goes as an unprivileged user.
void TestCuePrune::unreadableInputs()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(fill(dir.path(),
        { { "locked/", {} }, { "open/", {} }, { "locked/a.cue", pregapSheet },
            { "open/secret.cue", pregapSheet }, { "open/fine.cue", pregapSheet } }));
    QVERIFY(setMode(dir.filePath("."), 0755));
    QVERIFY(setMode(dir.filePath("locked"), 0));
    QVERIFY(setMode(dir.filePath("open"), 0777));
    QVERIFY(setMode(dir.filePath("open/secret.cue"), 0));
    QVERIFY(setMode(dir.filePath("open/fine.cue"), 0666));
    QVERIFY(testsupport::giveToUnprivileged(dir.filePath("open/fine.cue")));

    const Outcome outcome
        = runCueprune({ dir.filePath("locked"), dir.filePath("open") }, QString(), geteuid() == 0);
    QVERIFY(setMode(dir.filePath("locked"), 0755));
    QVERIFY(setMode(dir.filePath("open/secret.cue"), 0644));
    QCOMPARE(outcome.exitCode, 1);
    QCOMPARE(outcome.err,
        "cueprune : dossier illisible : " + dir.filePath("locked")
            + "\ncueprune : " + dir.filePath("open/secret.cue") + " : lecture refusée\n");
    QCOMPARE(outcome.out,
        entries(dir.filePath("open"), { "fine.cue", modified, "secret.cue", failed })
            + "2 fichiers : 1 modifié, 0 inchangé, 2 erreurs\n");
    QCOMPARE(readFile(dir.filePath("open/secret.cue")), pregapSheet);
    QCOMPARE(readFile(dir.filePath("locked/a.cue")), pregapSheet);
}

void TestCuePrune::sameVerdictsAsFolderTool()
{
    const QMap<QString, QByteArray> sheets = {
        { "a.cue", pregapSheet },
        { "B.CUE", cleanSheet },
        { "c.Cue", pregapSheet + pregapSheet },
        { ".h.cue", pregapSheet },
        { "d.txt", pregapSheet },
        { "e.cue", QByteArray() },
    };
    QTemporaryDir windowDir;
    QTemporaryDir commandDir;
    QVERIFY2(windowDir.isValid() && commandDir.isValid(), "temporary folders");
    for (const QString &root : { windowDir.path(), commandDir.path() })
        QVERIFY(fill(root, sheets) && QDir(root).mkdir("sub.cue"));

    testsupport::Window ui;
    ui.run(windowDir.path());
    const QString log = ui.textArea->toPlainText();

    const Outcome outcome = runCueprune({ commandDir.path() });
    QCOMPARE(outcome.exitCode, 0);
    QString commandLog
        = outcome.out.left(outcome.out.lastIndexOf('\n', -2) + 1); // less the summary
    // The window says under its last verdict what cueprune says on err.
    QCOMPARE(commandLog.replace(commandDir.path(), windowDir.path())
            + "  1 sous-dossier non parcouru (cueprune -r le parcourt)\n",
        log);
    for (auto it = sheets.cbegin(); it != sheets.cend(); ++it)
        QCOMPARE(readFile(commandDir.filePath(it.key())), readFile(windowDir.filePath(it.key())));
}

// Latin-1 names, as in libraries copied from old disks: found in folders, taken from the
// command line as the bytes given, printed so that pasting a printed name gives it back.
void TestCuePrune::namesThatAreNotUtf8()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray root = QFile::encodeName(dir.path());
    const testsupport::RemovedAtEnd latin1Names(
        { root + "/Beyonc\xE9", root + "/Beyonc\xE9/caf\xE9.cue", root + "/D\xE9j\xE0 vu.cue" });
    QCOMPARE(::mkdir(root + "/Beyonc\xE9", 0755), 0);
    QVERIFY(writeFile(root + "/Beyonc\xE9/caf\xE9.cue", pregapSheet));
    QVERIFY(writeFile(root + "/D\xE9j\xE0 vu.cue", pregapSheet));

    // QProcess would encode the arguments as UTF-8: the shell passes the bytes themselves.
    QProcess shell;
    shell.setWorkingDirectory(dir.path());
    shell.start("sh",
        { "-c", R"sh(exec "$0" -r "$(printf 'Beyonc\351')" "$(printf 'D\351j\340 vu.cue')")sh",
            CUEPRUNE });
    QVERIFY(shell.waitForFinished());
    QCOMPARE(shell.exitCode(), 0);
    const QString cafe = '\'' + dir.path() + R"(/Beyonc'$'\351''/caf'$'\351''.cue')";
    QCOMPARE(QString::fromUtf8(shell.readAllStandardOutput()),
        cafe + '\n' + modified + "\n'" + dir.path() + R"(/D'$'\351''j'$'\340'' vu.cue')" + '\n'
            + modified + "\n2 fichiers : 2 modifiés, 0 inchangé, 0 erreur\n");
    QCOMPARE(readFile(root + "/Beyonc\xE9/caf\xE9.cue"), prunedSheet);
    QCOMPARE(readFile(root + "/D\xE9j\xE0 vu.cue"), prunedSheet);

    // The printed name, pasted back as an argument, is the sheet.
    shell.start("bash", { "-c", R"sh(eval "set -- $1"; exec "$0" -n "$1")sh", CUEPRUNE, cafe });
    QVERIFY(shell.waitForFinished());
    QCOMPARE(QString::fromUtf8(shell.readAllStandardOutput()),
        cafe + '\n' + unchanged + "\n1 fichier : 0 à modifier, 1 inchangé, 0 erreur\n");
}

// Two pregap lines in a row lose one line per pass: a second pass would show. The run goes
// in-process, as main() starts it.
void TestCuePrune::sheetReachedTwiceIsHandledOnce()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray sheet = "TRACK 01\nINDEX 00 a\nINDEX 00 b\nINDEX 01 c\n";
    QVERIFY(fill(dir.path(), { { "Jazz/", {} }, { "Jazz/a.cue", sheet } }));
    QVERIFY(QFile::link(dir.filePath("Jazz/a.cue"), dir.filePath("link.cue")));

    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    SheetRun::Options options;
    options.recursive = true;
    options.workers = 4;
    SheetRun run(options, outStream, errStream);
    for (const QString &path : { dir.path(), dir.filePath("Jazz"), dir.filePath("Jazz/a.cue"),
             dir.filePath("link.cue"), dir.filePath("Jazz/../Jazz") })
        run.addPath(QFile::encodeName(path));
    run.run();
    QVERIFY(!run.anyFailure());
    QCOMPARE(out,
        entries(dir.path(), { "Jazz/a.cue", modified })
            + "1 fichier : 1 modifié, 0 inchangé, 0 erreur\n");
    QCOMPARE(err, QString());
    QCOMPARE(readFile(dir.filePath("Jazz/a.cue")), pruneSheet(sheet).bytes);
}

// A tree of many sheets, a third of them with pregaps, one unreadable sheet and one unreadable
// folder, everything owned by the unprivileged user the run goes as.
bool fillTree(const QString &root)
{
    testsupport::FolderContents contents;
    for (int artist = 0; artist < 6; ++artist) {
        for (int album = 0; album < 8; ++album) {
            for (int disc = 0; disc < 3; ++disc) {
                contents.insert(QStringLiteral("Artiste %1/Album %2/disque %3.cue")
                                    .arg(artist)
                                    .arg(album)
                                    .arg(disc),
                    (artist + album + disc) % 3 == 0 ? pregapSheet : cleanSheet);
            }
        }
    }
    if (!fill(root, contents) || !setMode(root + "/Artiste 2/Album 3/disque 1.cue", 0)
        || !setMode(root + "/Artiste 4/Album 5", 0))
        return false;
    QDirIterator entries(
        root, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    bool given = testsupport::giveToUnprivileged(root);
    while (entries.hasNext())
        given = testsupport::giveToUnprivileged(entries.next()) && given;
    return given;
}

// Whatever the timing, many workers print, write and return what one does.
void TestCuePrune::parallelRunMatchesOneWorker()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(setMode(dir.path(), 0755));
    QList<Outcome> outcomes;
    for (const QString workers : { "1", "8" }) {
        const QString root = dir.filePath(workers);
        QVERIFY(fillTree(root));
        Outcome outcome = runCueprune({ "-r", "-j", workers, root, dir.filePath("absent"),
                                          root + "/Artiste 1", root + "/Artiste 5/Album 7" },
            QString(), true);
        outcome.out.replace(root, "ROOT");
        outcome.err.replace(root, "ROOT");
        outcomes.append(outcome);
        QVERIFY(setMode(root + "/Artiste 4/Album 5", 0755));
    }
    QCOMPARE(outcomes[1].exitCode, outcomes[0].exitCode);
    QCOMPARE(outcomes[1].out, outcomes[0].out);
    QCOMPARE(outcomes[1].err, outcomes[0].err);
    QCOMPARE(outcomes[0].exitCode, 1);
    QVERIFY2(outcomes[0].out.endsWith("141 fichiers : 46 modifiés, 94 inchangés, 3 erreurs\n"),
        qPrintable(outcomes[0].out.right(80)));
    QCOMPARE(outcomes[0].err,
        "cueprune : 'ROOT/Artiste 2/Album 3/disque 1.cue' : lecture refusée\n"
        "cueprune : dossier illisible : 'ROOT/Artiste 4/Album 5'\ncueprune : introuvable : "
            + dir.filePath("absent") + '\n');
    QDirIterator sheets(dir.filePath("1"), { "*.cue" }, QDir::Files, QDirIterator::Subdirectories);
    while (sheets.hasNext()) {
        const QString one = sheets.next();
        QCOMPARE(
            readFile(QString(one).replace(dir.filePath("1"), dir.filePath("8"))), readFile(one));
    }
}

// Each run lasts more than the second after which progress shows, so they all start here,
// together, and each row then checks its own.
void TestCuePrune::progressOnlyOnATerminal_data()
{
    QTest::addColumn<QString>("terminal"); // which of the outputs go to a terminal
    QTest::addColumn<QString>("listing"); // which holds the verdicts and the summary
    QTest::addColumn<bool>("verdicts");
    QTest::addColumn<bool>("progress");
    const struct
    {
        const char *name;
        QString terminal;
        QStringList options;
        QString listing;
        bool verdicts;
        bool progress;
    } rows[] = {
        { "errorsOnTerminal", "err", {}, "out", true, true },
        { "bothOnTerminal", "out+err", {}, "out", true, true },
        { "terminalQuiet", "err", { "-q" }, "out", true, false },
        { "pipe", "", {}, "out", true, false },
        // A pager reads the diff on the terminal: neither progress nor verdicts cover it.
        { "diffToPipe", "err", { "--diff" }, "err", false, false },
        { "diffOnTerminal", "out", { "--diff" }, "err", true, false },
    };
    terminalRuns.clear();
    for (const auto &row : rows) {
        QTest::newRow(row.name) << row.terminal << row.listing << row.verdicts << row.progress;
        terminalRuns[row.name] = std::make_unique<TerminalRun>(row.terminal, row.options);
    }
}

// Progress is drawn again after each line printed on its own terminal, so it stays in sight,
// and otherwise at most ten times a second.
void TestCuePrune::progressOnlyOnATerminal()
{
    QFETCH(QString, terminal);
    QFETCH(QString, listing);
    QFETCH(bool, verdicts);
    QFETCH(bool, progress);
    TerminalRun &run = *terminalRuns.at(QTest::currentDataTag());
    QVERIFY(run.started());
    QVERIFY(run.finish());
    const bool outOnTerminal = terminal.contains("out");
    const bool listedOnTerminal = terminal.contains(listing);
    const QByteArray &shown = run.shown();

    // The verdicts and the summary, wherever they went.
    const QByteArray list = listedOnTerminal ? shown
        : listing == "out"                   ? run.process().readAllStandardOutput()
                                             : run.process().readAllStandardError();
    const QByteArray summary = "250 fichiers : 250 modifiés, 0 inchangé, 0 erreur";
    QVERIFY2(list.contains(summary), list.right(200).constData());
    QCOMPARE(list.count(modified.toUtf8()), verdicts ? 250 : 0);
    if (!listedOnTerminal)
        QVERIFY(!list.contains('\r') && !list.contains('\33'));
    QCOMPARE(run.process().readAllStandardError(), QByteArray());
    QCOMPARE(shown.contains(" feuilles, 0 erreur"), progress);
    if (!progress) {
        if (!outOnTerminal) // nothing else on the terminal
            QCOMPARE(shown, listedOnTerminal ? summary + "\r\n" : QByteArray());
        return;
    }
    const QByteArray sinceShown = shown.mid(shown.indexOf("cueprune : "));
    const qsizetype redraws = sinceShown.count("cueprune : ");
    if (outOnTerminal)
        QCOMPARE(sinceShown.count("!\r\n\rcueprune : "), sinceShown.count("!\r\n"));
    else
        QVERIFY2(redraws <= 10 * run.seconds() + 2, qPrintable(QString::number(redraws)));
    QVERIFY2(!shown.contains("\33[K\r\33[K"), shown.left(200).constData());
    QVERIFY2(outOnTerminal || shown.endsWith("\r\33[K"), shown.right(40).constData());
}

void TestCuePrune::pathsResolvedAsTheKernelDoes_data()
{
    QTest::addColumn<QStringList>("arguments"); // from the folder "work"
    QTest::addColumn<QString>("expectedOut"); // DIR for the temporary folder
    QTest::addColumn<QString>("expectedErr");
    QTest::newRow("sheetAfterLinkAndDotDot")
        << QStringList { "link/../album.cue" }
        << "DIR/real/album.cue\n" + modified + "\n1 fichier : 1 modifié, 0 inchangé, 0 erreur\n"
        << QString();
    QTest::newRow("folderAfterLinkAndDotDot")
        << QStringList { "-n", "link/.." }
        << "DIR/real/album.cue\n" + toModify + "\n1 fichier : 1 à modifier, 0 inchangé, 0 erreur\n"
        << "cueprune : DIR/real : 1 sous-dossier non parcouru (utilisez -r)\n";
}

// "link/.." is where the link leads, not the folder holding the link.
void TestCuePrune::pathsResolvedAsTheKernelDoes()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expectedOut);
    QFETCH(QString, expectedErr);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(fill(dir.path(),
        { { "work/album.cue", pregapSheet }, { "real/album.cue", pregapSheet },
            { "real/sub/", {} } }));
    QVERIFY(QFile::link("../real/sub", dir.filePath("work/link")));

    const Outcome outcome = runCueprune(arguments, dir.filePath("work"));
    QCOMPARE(outcome.err, expectedErr.replace("DIR", dir.path()));
    QCOMPARE(outcome.out, QString(expectedOut).replace("DIR", dir.path()));
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(readFile(dir.filePath("work/album.cue")), pregapSheet);
}

// Each name is a sheet of its own; the names of one file are worked on one after the other
// (at once, the first rename would show the others as changed meanwhile).
void TestCuePrune::hardLinkedNamesAreBothPruned()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(writeFile(dir.filePath("a.cue"), pregapSheet));
    for (const char *name : { "b.cue", "c.cue" })
        QCOMPARE(::link(QFile::encodeName(dir.filePath("a.cue")).constData(),
                     QFile::encodeName(dir.filePath(name)).constData()),
            0);

    const Outcome outcome = runCueprune({ "-j", "3", dir.path() }, QString(), false,
        testsupport::withFaults(FAULT_INJECTION, "slowfsync"));
    QCOMPARE(outcome.err, QString());
    QCOMPARE(outcome.out,
        entries(dir.path(), { "a.cue", modified, "b.cue", modified, "c.cue", modified })
            + "3 fichiers : 3 modifiés, 0 inchangé, 0 erreur\n");
    for (const char *name : { "a.cue", "b.cue", "c.cue" })
        QCOMPARE(readFile(dir.filePath(name)), prunedSheet);
}

namespace {

// Names a library may hold, each with what the text output shows for DIR/name.
struct AwkwardName
{
    const char *tag;
    QByteArray name;
    QString shown; // DIR for the folder
};

const QList<AwkwardName> awkwardNames = {
    { "plain", "plain.cue", "DIR/plain.cue" },
    { "space", "a b.cue", "'DIR/a b.cue'" },
    { "quote", "it's.cue", "\"DIR/it's.cue\"" },
    { "commandSubstitution", "$(touch PWNED).cue", "'DIR/$(touch PWNED).cue'" },
    { "quoteAndDollar", "it's $5.cue", R"('DIR/it'\''s $5.cue')" },
    { "newline", "a\nb.cue", R"('DIR/a'$'\n''b.cue')" },
    { "escape", "a\x1b[2K.cue", R"('DIR/a'$'\033''[2K.cue')" },
    { "rightToLeftOverride", "a\u202Egpj.cue", R"('DIR/a'$'\342\200\256''gpj.cue')" },
    { "zeroWidthSpace", "a\u200Bb.cue", R"('DIR/a'$'\342\200\213''b.cue')" },
    { "byteOrderMarkAndSoftHyphen", "\uFEFFa\u00ADb.cue",
        R"('DIR/'$'\357\273\277''a'$'\302\255''b.cue')" },
    { "latin1", "caf\xe9.cue", R"('DIR/caf'$'\351''.cue')" },
    { "invalidUtf8", "\xff\xfe.cue", R"('DIR/'$'\377\376''.cue')" },
    { "loneContinuationByte", "a\x80.cue", R"('DIR/a'$'\200''.cue')" },
    { "accents", "Déjà vu.cue", "'DIR/Déjà vu.cue'" },
};

// Runs cueprune's run in-process over paths, as main() would with these options.
QString runInProcess(SheetRun::Options options, const QList<QByteArray> &paths)
{
    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    SheetRun run(options, outStream, errStream);
    for (const QByteArray &path : paths)
        run.addPath(path);
    run.run();
    outStream.flush();
    return out;
}

} // namespace

void TestCuePrune::namesPasteBack_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("shown");
    for (const AwkwardName &awkward : awkwardNames)
        QTest::newRow(awkward.tag) << awkward.name << awkward.shown;
}

// A name is printed as ls prints it: on one line, driving no terminal, running nothing, and
// pasted into bash it gives back the very bytes.
void TestCuePrune::namesPasteBack()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, shown);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray sheet = QFile::encodeName(dir.path()) + '/' + name;
    const testsupport::RemovedAtEnd nativeName({ sheet });
    QVERIFY(writeFile(sheet, pregapSheet));

    SheetRun::Options options;
    options.dryRun = true;
    const QString printed
        = runInProcess(options, { QFile::encodeName(dir.path()) }).section('\n', 0, 0);
    QCOMPARE(printed, shown.replace("DIR", dir.path()));
    QProcess shell;
    shell.setWorkingDirectory(dir.path());
    shell.start("bash", { "-c", "printf %s " + printed });
    QVERIFY(shell.waitForFinished());
    QCOMPARE(shell.readAllStandardOutput(), sheet);
    QVERIFY(!QFileInfo::exists(dir.filePath("PWNED")));
}

// JSON gives each name itself when it is UTF-8, controls and all, and its bytes in base64
// when it is not: either way, what a script reads opens that very sheet.
void TestCuePrune::jsonNamesOpenTheirSheets()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QList<QByteArray> sheets;
    for (const AwkwardName &awkward : awkwardNames)
        sheets.append(QFile::encodeName(dir.path()) + '/' + awkward.name);
    const testsupport::RemovedAtEnd nativeNames(sheets);
    for (qsizetype i = 0; i < sheets.size(); ++i)
        QVERIFY(writeFile(sheets[i], QByteArray::number(i)));

    SheetRun::Options options;
    options.dryRun = true;
    options.json = true;
    QStringList lines = runInProcess(options, { QFile::encodeName(dir.path()) }).split('\n');
    QCOMPARE(lines.takeLast(), QString());
    QCOMPARE(lines.size(), sheets.size() + 1);
    QSet<QByteArray> opened;
    lines.removeLast(); // the summary
    for (const QString &line : std::as_const(lines)) {
        const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
        const QByteArray path = object.contains("path_base64")
            ? QByteArray::fromBase64(object["path_base64"].toString().toLatin1())
            : object["path"].toString().toUtf8();
        const qsizetype index = sheets.indexOf(path);
        QVERIFY2(index >= 0, qPrintable(line));
        QCOMPARE(readFile(path), QByteArray::number(index));
        QCOMPARE(object.contains("path_base64"), QString::fromUtf8(path).toUtf8() != path);
        opened.insert(path);
    }
    QCOMPARE(opened.size(), sheets.size());
}

void TestCuePrune::stopSignalEndsCleanly_data()
{
    QTest::addColumn<int>("signal"); // 0: the reader of standard output leaves instead
    QTest::addColumn<bool>("outputFails");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("interrupt") << int(SIGINT) << false << 130;
    QTest::newRow("terminate") << int(SIGTERM) << false << 143;
    QTest::newRow("hangUp") << int(SIGHUP) << false << 129;
    QTest::newRow("readerLeaves") << 0 << false << 141;
    QTest::newRow("interruptWhileOutputFails") << int(SIGINT) << true << 130;
}

// Stopped mid-run, by a signal or by the reader of its output leaving, cueprune starts no new
// sheet, counts every sheet it rewrote, says the run was interrupted (on standard error when
// standard output is lost) and leaves no temporary file behind.
void TestCuePrune::stopSignalEndsCleanly()
{
    QFETCH(int, signal);
    QFETCH(bool, outputFails);
    QFETCH(int, exitCode);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const testsupport::FolderContents contents = pregapSheets(400);
    QVERIFY(fill(dir.path(), contents));

    QProcess process;
    process.setProcessEnvironment(testsupport::withFaults(FAULT_INJECTION, "slowfsync"));
    if (outputFails)
        process.setStandardOutputFile("/dev/full");
    const QStringList arguments = { "-j", "2", dir.path() };
    if (signal != 0) {
        process.start(CUEPRUNE, arguments);
        QVERIFY(process.waitForStarted());
        QTRY_COMPARE(readFile(dir.filePath("000.cue")), prunedSheet);
        ::kill(pid_t(process.processId()), signal);
    } else {
        process.start("bash",
            QStringList { "-c", "\"$0\" \"$@\" | head -n 1; exit \"${PIPESTATUS[0]}\"", CUEPRUNE }
                + arguments);
    }
    QVERIFY(process.waitForFinished());

    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString err = QString::fromUtf8(process.readAllStandardError());
    const qsizetype rewritten = prunedOnDisk(dir.path(), contents);
    QVERIFY2(rewritten > 0 && rewritten < contents.size(), qPrintable(QString::number(rewritten)));
    const QString summary = QStringLiteral("%1 fichiers : %1 modifiés, 0 inchangé, 0 erreur "
                                           "(interrompu)\n")
                                .arg(rewritten);
    if (signal != 0 && !outputFails) {
        QCOMPARE(out.count(modified), rewritten);
        QVERIFY2(out.endsWith(summary), qPrintable(out.right(100)));
    } else {
        QVERIFY2(err.endsWith(summary), qPrintable(err.right(200)));
    }
    QCOMPARE(testsupport::namesIn(dir.path()).size(), contents.size());
}

// A run meets the hidden files that killed runs left, known by their names: those that no live
// run holds go, and each removal is said; a complete one whose sheet is gone takes the sheet's
// name back. A file with a second link, a live run's temporary, an incomplete one whose sheet
// is gone, a link or a file of another name stay, and so do a user's own files named much like
// one. A dry run writes nothing, so settles nothing.
void TestCuePrune::leftoversOfKilledRunsAreSettled()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    using cueprune::temporaryName;
    const QByteArray removed = temporaryName({}, 0);
    const QByteArray recovered = temporaryName("b.cue", prunedSheet.size());
    const QByteArray incomplete = temporaryName("c.cue", 999);
    const QByteArray linked = temporaryName({}, 0);
    const QByteArray secondLink = temporaryName({}, 0);
    const QByteArray heldName = temporaryName({}, 0);
    const QByteArray symbolicLink = temporaryName({}, 0);
    QList<QByteArray> kept = { incomplete, linked, secondLink, heldName, symbolicLink,
        ".cueprune-settings", ".cueprune-abcdefgh-5-a.cue", "a.cue", "b.cue" };
    std::sort(kept.begin(), kept.end());
    const auto pathOf
        = [&](const QByteArray &name) { return dir.filePath(QFile::decodeName(name)); };
    const auto in = [](const QByteArray &name) { return QFile::decodeName(name); };
    QVERIFY(fill(dir.path(),
        { { in(removed), pregapSheet }, { in(linked), "my notes" }, { in(heldName), pregapSheet },
            { ".cueprune-settings", pregapSheet }, { ".cueprune-abcdefgh-5-a.cue", "mine\n" },
            { "a.cue", pregapSheet }, { in(recovered), prunedSheet },
            { in(incomplete), prunedSheet } }));
    QVERIFY(setMode(pathOf(removed), 06755));
    QVERIFY(QFile::link("a.cue", pathOf(symbolicLink)));
    QCOMPARE(::link(QFile::encodeName(pathOf(linked)).constData(),
                 QFile::encodeName(pathOf(secondLink)).constData()),
        0);
    QFile held(pathOf(heldName));
    QVERIFY(held.open(QIODevice::ReadOnly));
    QCOMPARE(::flock(held.handle(), LOCK_EX), 0);

    QCOMPARE(runCueprune({ "-n", dir.path() }).exitCode, 0);
    QCOMPARE(testsupport::namesIn(dir.path()).size(), kept.size() + 1);
    const Outcome outcome = runCueprune({ dir.path() });
    QCOMPARE(outcome.exitCode, 0);
    QStringList said = outcome.err.split('\n', Qt::SkipEmptyParts);
    said.sort();
    QCOMPARE(said,
        QStringList({ "cueprune : temporaire d'une exécution interrompue récupéré : "
                + dir.filePath("b.cue"),
            "cueprune : temporaire d'une exécution interrompue supprimé : " + pathOf(removed) }));
    QCOMPARE(testsupport::namesIn(dir.path()), kept);
    QCOMPARE(readFile(dir.filePath("a.cue")), prunedSheet);
    QCOMPARE(readFile(dir.filePath("b.cue")), prunedSheet);
    QCOMPARE(readFile(pathOf(secondLink)), QByteArray("my notes"));
    QCOMPARE(readFile(dir.filePath(".cueprune-settings")), pregapSheet);
}

// Folders are listed ahead of the walk, but a killed run's temporary goes only once the walk
// gets to its folder: a run stopped early has said every removal it made.
void TestCuePrune::stoppedRunHasSaidEveryLeftoverRemoval()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    constexpr int folders = 300;
    QStringList leftovers;
    testsupport::FolderContents contents;
    for (int folder = 0; folder < folders; ++folder) {
        const QString name = QStringLiteral("%1/").arg(folder, 3, 10, QLatin1Char('0'));
        contents.insert(name + "a.cue", pregapSheet);
        const QString leftover = name + QFile::decodeName(cueprune::temporaryName("a.cue", 1));
        contents.insert(leftover, pregapSheet);
        leftovers.append(dir.filePath(leftover));
    }
    QVERIFY(fill(dir.path(), contents));

    QProcess process;
    process.setProcessEnvironment(testsupport::withFaults(FAULT_INJECTION, "slowfsync"));
    process.start(CUEPRUNE, { "-r", "-j", "2", dir.path() });
    QVERIFY(process.waitForStarted());
    QTRY_COMPARE(readFile(dir.filePath("000/a.cue")), prunedSheet);
    ::kill(pid_t(process.processId()), SIGINT);
    QVERIFY(process.waitForFinished());
    QCOMPARE(process.exitCode(), 130);

    const qsizetype removed = std::count_if(leftovers.cbegin(), leftovers.cend(),
        [](const QString &leftover) { return !QFileInfo::exists(leftover); });
    QVERIFY2(removed > 0 && removed < folders, qPrintable(QString::number(removed)));
    QCOMPARE(QString::fromUtf8(process.readAllStandardError())
                 .count("temporaire d'une exécution interrompue supprimé"),
        removed);
}

void TestCuePrune::outputThatCannotBeWrittenFails_data()
{
    QTest::addColumn<QStringList>("arguments"); // DIR for a folder of one sheet
    QTest::newRow("run") << QStringList { "-n", "DIR" };
    QTest::newRow("help") << QStringList { "--help" };
    QTest::newRow("version") << QStringList { "--version" };
}

void TestCuePrune::outputThatCannotBeWrittenFails()
{
    QFETCH(QStringList, arguments);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(writeFile(dir.filePath("a.cue"), pregapSheet));
    QProcess process;
    process.setStandardOutputFile("/dev/full");
    process.start(CUEPRUNE, arguments.replaceInStrings("DIR", dir.path()));
    QVERIFY(process.waitForFinished());
    QCOMPARE(process.exitCode(), 1);
    QVERIFY2(process.readAllStandardError().endsWith(
                 "cueprune : écriture impossible sur la sortie standard\n"),
        "the failure is said");
}

void TestCuePrune::closedOrFewDescriptors_data()
{
    QTest::addColumn<QList<int>>("closed");
    QTest::addColumn<int>("descriptorLimit"); // hard and soft; 0 leaves them
    QTest::newRow("inputClosed") << QList<int> { 0 } << 0;
    QTest::newRow("outputClosed") << QList<int> { 1 } << 0;
    QTest::newRow("errorsClosed") << QList<int> { 2 } << 0;
    QTest::newRow("allClosed") << QList<int> { 0, 1, 2 } << 0;
    QTest::newRow("limit10") << QList<int>() << 10;
    QTest::newRow("limit24") << QList<int>() << 24;
    QTest::newRow("limit48") << QList<int>() << 48;
}

// Started as cron jobs and service managers may start it, cueprune gives no file of the
// library a standard descriptor (the fault library ends it if one does), so no sheet ever
// holds its output; with few descriptors it neither aborts nor says less than it did.
void TestCuePrune::closedOrFewDescriptors()
{
    QFETCH(QList<int>, closed);
    QFETCH(int, descriptorLimit);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const testsupport::FolderContents contents = pregapSheets(60);
    QVERIFY(fill(dir.path(), contents));

    const Outcome outcome = runCueprune({ dir.path() }, QString(), false,
        testsupport::withFaults(FAULT_INJECTION, "lowdescriptor"), [closed, descriptorLimit] {
            for (const int descriptor : closed)
                ::close(descriptor);
            const rlimit limit { rlim_t(descriptorLimit), rlim_t(descriptorLimit) };
            if (descriptorLimit > 0 && setrlimit(RLIMIT_NOFILE, &limit) != 0)
                _exit(3);
        });
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(prunedOnDisk(dir.path(), contents), contents.size());
    if (!closed.contains(1)) {
        QCOMPARE(outcome.out.count(modified), contents.size());
        QVERIFY2(outcome.out.endsWith("60 fichiers : 60 modifiés, 0 inchangé, 0 erreur\n"),
            qPrintable(outcome.out.right(100)));
    }
    QCOMPARE(testsupport::namesIn(dir.path()).size(), contents.size());
}

// A folder whose names can be read but not looked up (r without x) is said to be unreadable,
// as the folder named and as a subfolder; its sheets are left alone.
void TestCuePrune::unsearchableFolderIsReported()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(fill(dir.path(),
        { { "lib/sub/a.cue", pregapSheet }, { "lib/sub/b.cue", pregapSheet },
            { "lib/top.cue", cleanSheet } }));
    QVERIFY(setMode(dir.path(), 0755) && setMode(dir.filePath("lib"), 0755));
    QVERIFY(setMode(dir.filePath("lib/sub"), 0444));
    const QString sub = dir.filePath("lib/sub");

    const Outcome recursive = runCueprune({ "-r", dir.filePath("lib") }, QString(), true);
    const Outcome named = runCueprune({ sub }, QString(), true);
    QVERIFY(setMode(sub, 0755));
    QCOMPARE(recursive.exitCode, 1);
    QCOMPARE(recursive.err, "cueprune : dossier illisible : " + sub + '\n');
    QCOMPARE(named.exitCode, 1);
    QCOMPARE(named.err, "cueprune : dossier illisible : " + sub + '\n');
    QCOMPARE(readFile(dir.filePath("lib/sub/a.cue")), pregapSheet);
}

// In a chroot or container without /proc, rewrites still work, with a named temporary.
void TestCuePrune::rewritesWithoutProc()
{
    if (geteuid() != 0)
        QSKIP("Hiding /proc takes a mount namespace, which needs root");
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(fill(dir.path(), { { "a.cue", pregapSheet }, { "b.cue", cleanSheet } }));
    const Outcome outcome = runCueprune(
        { dir.path() }, QString(), false, QProcessEnvironment::systemEnvironment(), [] {
            if (::unshare(CLONE_NEWNS) != 0
                || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                || ::mount("none", "/proc", "tmpfs", 0, nullptr) != 0)
                _exit(77);
        });
    if (outcome.exitCode == 77)
        QSKIP("No mount namespace can be made here");
    // The sanitizers' runtime itself fails at exit without /proc; what the run did still counts.
    if (!outcome.err.contains("Sanitizer")) {
        QCOMPARE(outcome.exitCode, 0);
        QCOMPARE(outcome.err, QString());
    }
    QCOMPARE(outcome.out,
        entries(dir.path(), { "a.cue", modified, "b.cue", unchanged })
            + "2 fichiers : 1 modifié, 1 inchangé, 0 erreur\n");
    QCOMPARE(readFile(dir.filePath("a.cue")), prunedSheet);
    QCOMPARE(testsupport::namesIn(dir.path()).size(), 2);
}

// A device named like a temporary and a sheet swapped for a device after the listing are never
// opened (the fault library ends the run if one is): a driver acts when its device is opened.
void TestCuePrune::noDeviceIsEverOpened()
{
    if (geteuid() != 0)
        QSKIP("Making a device node needs root");
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(
        fill(dir.path(), { { "library/a.cue", pregapSheet }, { "library/b.cue", pregapSheet } }));
    const QString root = dir.filePath("library");
    for (const QString &device : { root + "/.cueprune-abcdefgh", dir.filePath("device") })
        QCOMPARE(::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0666, makedev(1, 3)), 0);

    QProcessEnvironment environment = testsupport::withFaults(FAULT_INJECTION, "device");
    environment.insert("SWAP_ENTRY", "b.cue");
    environment.insert("SWAP_MOVE", dir.filePath("device"));
    const Outcome outcome = runCueprune({ root }, QString(), false, environment);
    QCOMPARE(outcome.exitCode, 1);
    QCOMPARE(outcome.err, "cueprune : " + root + "/b.cue : changé pendant le parcours\n");
    QCOMPARE(readFile(dir.filePath("library/a.cue")), prunedSheet);
    QCOMPARE(readFile(dir.filePath("library/b.cue.away")), pregapSheet);
}

void TestCuePrune::backups_data()
{
    QTest::addColumn<QStringList>("arguments"); // before the folder
    QTest::addColumn<QStringList>("environment"); // NAME=value
    QTest::addColumn<QString>("before"); // a name in the folder beforehand: a file, or a folder/
    QTest::addColumn<QString>("backup"); // the name the old a.cue takes, if any
    QTest::addColumn<int>("exitCode");
    const QStringList none;
    QTest::newRow("existingByDefault") << QStringList { "-b" } << none << ""
                                       << "a.cue~" << 0;
    QTest::newRow("existingFindsNumbered") << QStringList { "-b" } << none << "a.cue.~3~"
                                           << "a.cue.~4~" << 0;
    QTest::newRow("numberedAbbreviated") << QStringList { "--backup=num" } << none << ""
                                         << "a.cue.~1~" << 0;
    QTest::newRow("tFromEnvironment")
        << QStringList { "-b" } << QStringList { "VERSION_CONTROL=t" } << ""
        << "a.cue.~1~" << 0;
    QTest::newRow("offFromEnvironment")
        << QStringList { "-b" } << QStringList { "VERSION_CONTROL=off" } << ""
        << "" << 0;
    QTest::newRow("optionOverEnvironment")
        << QStringList { "--backup=never" } << QStringList { "VERSION_CONTROL=numbered" }
        << "a.cue.~1~"
        << "a.cue~" << 0;
    QTest::newRow("simpleReplacesOlder") << QStringList { "--backup=simple" } << none << "a.cue~"
                                         << "a.cue~" << 0;
    QTest::newRow("suffixImpliesBackup") << QStringList { "-S", ".old" } << none << ""
                                         << "a.cue.old" << 0;
    QTest::newRow("suffixFromEnvironment")
        << QStringList { "-b" } << QStringList { "SIMPLE_BACKUP_SUFFIX=.bak" } << ""
        << "a.cue.bak" << 0;
    QTest::newRow("dryRunMakesNone") << QStringList { "-b", "-n" } << none << ""
                                     << "" << 0;
    QTest::newRow("backupRefused") << QStringList { "-b" } << none << "a.cue~/"
                                   << "" << 1;
    QTest::newRow("suffixMakingASheet") << QStringList { "-S", ".CUE" } << none << ""
                                        << "" << 2;
    QTest::newRow("unknownControl") << QStringList { "--backup=x" } << none << ""
                                    << "" << 2;
    QTest::newRow("unknownFromEnvironment")
        << QStringList { "-b" } << QStringList { "VERSION_CONTROL=x" } << ""
        << "" << 2;
}

// Backups as GNU cp and mv make them: the old sheet itself, with every byte, takes the backup
// name; only sheets that change get one; a backup that cannot be made leaves the sheet alone.
void TestCuePrune::backups()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(QString, before);
    QFETCH(QString, backup);
    QFETCH(int, exitCode);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    testsupport::FolderContents contents { { "a.cue", pregapSheet }, { "b.cue", cleanSheet } };
    if (!before.isEmpty())
        contents.insert(before, "older");
    QVERIFY(fill(dir.path(), contents));
    struct stat sheet = {};
    QCOMPARE(::stat(QFile::encodeName(dir.filePath("a.cue")).constData(), &sheet), 0);

    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "VERSION_CONTROL", "SIMPLE_BACKUP_SUFFIX" })
        variables.remove(name);
    for (const QString &variable : environment)
        variables.insert(variable.section('=', 0, 0), variable.section('=', 1));
    const Outcome outcome
        = runCueprune(arguments + QStringList { dir.path() }, {}, false, variables);
    QCOMPARE(outcome.exitCode, exitCode);
    const bool pruned = exitCode == 0 && !arguments.contains("-n");
    QCOMPARE(readFile(dir.filePath("a.cue")), pruned ? prunedSheet : pregapSheet);
    QList<QByteArray> names = { "a.cue", "b.cue" };
    if (!before.isEmpty())
        names.append(QFile::encodeName(before.chopped(before.endsWith('/'))));
    if (!backup.isEmpty() && !names.contains(QFile::encodeName(backup)))
        names.append(QFile::encodeName(backup));
    std::sort(names.begin(), names.end());
    QCOMPARE(testsupport::namesIn(dir.path()), names);
    if (!backup.isEmpty()) {
        struct stat kept = {};
        QCOMPARE(::stat(QFile::encodeName(dir.filePath(backup)).constData(), &kept), 0);
        QCOMPARE(kept.st_ino, sheet.st_ino);
        QCOMPARE(readFile(dir.filePath(backup)), pregapSheet);
    }
}

void TestCuePrune::jsonLines_data()
{
    QTest::addColumn<bool>("dryRun");
    QTest::newRow("rewrite") << false;
    QTest::newRow("dryRun") << true;
}

// One object a line, in the text output's order, parsed as a script would: every verdict (a
// sheet too large for the disk's limit fails), a Latin-1 name given back exactly, a path that
// cannot be reached, then the summary.
void TestCuePrune::jsonLines()
{
    QFETCH(bool, dryRun);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray large = pregapSheet + QByteArray(8192, '\n');
    QVERIFY(fill(
        dir.path(), { { "a.cue", pregapSheet }, { "b.cue", cleanSheet }, { "c.cue", large } }));
    const QByteArray latin1 = QFile::encodeName(dir.path()) + "/caf\xe9.cue";
    const testsupport::RemovedAtEnd nativeName({ latin1 });
    QVERIFY(writeFile(latin1, pregapSheet));

    const Outcome outcome
        = runCueprune(QStringList { "--json", dir.path(), dir.filePath("missing") }
                + (dryRun ? QStringList { "-n" } : QStringList()),
            {}, false, QProcessEnvironment::systemEnvironment(), [] {
                if (!testsupport::limitFileSize(4096))
                    _exit(3);
            });
    QCOMPARE(outcome.exitCode, 1);
    QStringList lines = outcome.out.split('\n');
    QCOMPARE(lines.takeLast(), QString());
    QList<QJsonObject> objects;
    for (const QString &line : lines) {
        QJsonParseError error {};
        objects.append(QJsonDocument::fromJson(line.toUtf8(), &error).object());
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(line));
    }
    QCOMPARE(objects.size(), 6);
    const QString changed = dryRun ? "would-modify" : "modified";
    const QStringList verdicts = { changed, "unchanged", dryRun ? changed : "error", changed };
    for (qsizetype i = 0; i < verdicts.size(); ++i)
        QCOMPARE(objects[i]["verdict"].toString(), verdicts[i]);
    QCOMPARE(objects[0]["path"].toString(), dir.filePath("a.cue"));
    QCOMPARE(objects[0]["dropped"].toInt(), 1);
    QCOMPARE(objects[0]["dropped_lines"].toArray(), QJsonArray { 6 });
    QCOMPARE(objects[0]["warnings"].toArray(), QJsonArray());
    if (!dryRun) {
        QCOMPARE(objects[2]["code"].toString(), QStringLiteral("disk-full"));
        QCOMPARE(objects[2]["reason"].toString(), QStringLiteral("disque plein"));
    }
    QCOMPARE(objects[3]["path"].toString(), dir.path() + QStringLiteral("/café.cue"));
    QCOMPARE(QByteArray::fromBase64(objects[3]["path_base64"].toString().toLatin1()), latin1);
    QCOMPARE(objects[4]["path"].toString(), dir.filePath("missing"));
    QCOMPARE(objects[4]["unreachable"].toBool(), true);
    QCOMPARE(objects[4]["code"].toString(), QStringLiteral("missing"));
    const QJsonObject summary = objects[5]["summary"].toObject();
    QCOMPARE(summary["sheets"].toInt(), 4);
    QCOMPARE(summary[dryRun ? "would_modify" : "modified"].toInt(), dryRun ? 3 : 2);
    QCOMPARE(summary["errors"].toInt(), dryRun ? 1 : 2);
    QCOMPARE(summary["unreachable"].toInt(), 1);
    QCOMPARE(summary["interrupted"].toBool(), false);
}

void TestCuePrune::pruningCosts_data()
{
    QTest::addColumn<QByteArray>("sheet");
    QTest::addColumn<QString>("byDefault"); // what follows the path, in a dry run
    QTest::addColumn<QString>("guarded"); // the same with --keep-first-pregap
    QTest::addColumn<QJsonArray>("warnings"); // in JSON, by default
    const QString one = toModify + "\n1 fichier : 1 à modifier, 0 inchangé, 0 erreur";
    const QString none = unchanged + "\n1 fichier : 0 à modifier, 1 inchangé, 0 erreur\n";
    const QString flac = "  attention : piste 01 : %1 d'audio avant INDEX 01 hors de tout index "
                         "(flac refuse d'intégrer une telle feuille) ; --keep-first-pregap garde "
                         "l'INDEX 00\n";
    const QString image = "  attention : image de disque : la position des pistes change pour "
                          "un graveur ou un émulateur ; -b ou --diff gardent un chemin de retour\n";
    const QString warned = "1 fichier : 1 à modifier, 0 inchangé, 0 erreur, 1 avec avertissement\n";
    const QJsonObject imageWarning { { "code", "disc-image" } };
    const auto unindexed = [](int track, int frames) {
        return QJsonObject { { "code", "unindexed-audio" }, { "track", track },
            { "frames", frames } };
    };
    const QByteArray hiddenTrack = "FILE \"Album.wav\" WAVE\n  TRACK 01 AUDIO\n"
                                   "    INDEX 00 00:00:00\n    INDEX 01 03:22:00\n";
    const QByteArray fileATrack = "FILE \"t1.bin\" BINARY\n  TRACK 01 MODE1/2352\n"
                                  "    INDEX 00 00:00:00\n    INDEX 01 00:02:00\n"
                                  "FILE \"t2.bin\" BINARY\n  TRACK 02 MODE1/2352\n"
                                  "    INDEX 00 00:00:00\n    INDEX 01 00:02:00\n";
    const QByteArray mixedMode = "FILE \"game.bin\" BINARY\n  TRACK 01 MODE2/2352\n"
                                 "    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n"
                                 "    INDEX 00 10:00:00\n    INDEX 01 10:02:00\n";

    QTest::newRow("eacRip") << eacRip << toModify + '\n' + flac.arg("0,44 s") + warned << one + '\n'
                            << QJsonArray { unindexed(1, 33) };
    QTest::newRow("hiddenTrack") << hiddenTrack << toModify + '\n' + flac.arg("202 s") + warned
                                 << none << QJsonArray { unindexed(1, (3 * 60 + 22) * 75) };
    QTest::newRow("discImageFileATrack") << fileATrack
                                         << toModify + '\n' + flac.arg("2 s")
            + "  attention : piste 02 : 2 s d'audio avant INDEX 01 hors de tout index ; "
              "--keep-first-pregap garde l'INDEX 00\n"
            + image
            + warned << none << QJsonArray { unindexed(1, 150), unindexed(2, 150), imageWarning };
    QTest::newRow("mixedMode") << mixedMode << toModify + '\n' + image + warned
                               << toModify + '\n' + image + warned << QJsonArray { imageWarning };
    QTest::newRow("plain") << pregapSheet << one + '\n' << one + '\n' << QJsonArray();
}

// A dry run says, under each verdict, what the change costs later readers; the guard keeps the
// pregap that each file starts with.
void TestCuePrune::pruningCosts()
{
    QFETCH(QByteArray, sheet);
    QFETCH(QString, byDefault);
    QFETCH(QString, guarded);
    QFETCH(QJsonArray, warnings);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(writeFile(dir.filePath("a.cue"), sheet));
    SheetRun::Options options;
    options.dryRun = true;
    QCOMPARE(runInProcess(options, { QFile::encodeName(dir.path()) }).section('\n', 1), byDefault);
    options.rule = cueprune::PregapRule::KeepFirstOfFile;
    QCOMPARE(runInProcess(options, { QFile::encodeName(dir.path()) }).section('\n', 1), guarded);
    options.rule = cueprune::PregapRule::All;
    options.json = true;
    const QString json = runInProcess(options, { QFile::encodeName(dir.path()) });
    QCOMPARE(
        QJsonDocument::fromJson(json.section('\n', 0, 0).toUtf8())["warnings"].toArray(), warnings);
    QCOMPARE(readFile(dir.filePath("a.cue")), sheet);
}

// The diff of a run, saved, gives every byte back through GNU patch: line ends, a missing
// final newline, Latin-1 text and names, UTF-16. A dry run's diff is the same diff.
void TestCuePrune::diffUndoesTheRun()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray root = QFile::encodeName(dir.filePath("Musique à trier"));
    const QByteArray wide = QByteArray("\xFF\xFE")
        + QByteArray(reinterpret_cast<const char *>(QString::fromLatin1(pregapSheet).utf16()),
            pregapSheet.size() * 2);
    const QMap<QByteArray, QByteArray> sheets = {
        { "crlf.cue", QByteArray(eacRip).replace("\n", "\r\n") + "REM end\r\n" },
        { "Artiste/no newline.cue",
            eacRip
                + "  TRACK 03 AUDIO\n    INDEX 00 00:09:00\n"
                  "    INDEX 01 00:09:30" },
        { "Artiste/caf\xE9.cue", pregapSheet },
        { "Artiste/clean.cue", cleanSheet },
        { "wide.cue", wide },
    };
    QVERIFY(QDir().mkpath(QFile::decodeName(root + "/Artiste")));
    QList<QByteArray> paths;
    for (auto it = sheets.cbegin(); it != sheets.cend(); ++it) {
        paths.append(root + '/' + it.key());
        QVERIFY(writeFile(paths.constLast(), it.value()));
    }
    const testsupport::RemovedAtEnd nativeNames(paths);

    const auto diffOf = [&](const QStringList &options, const QString &saved) {
        QProcess run;
        run.setStandardOutputFile(saved);
        run.start(CUEPRUNE, options + QStringList { "-r", "--diff", QFile::decodeName(root) });
        return run.waitForFinished() && run.exitCode() == 0 ? readFile(saved) : QByteArray();
    };
    const QByteArray dryDiff = diffOf({ "-n" }, dir.filePath("dry.diff"));
    QVERIFY(dryDiff.startsWith("--- "));
    QCOMPARE(diffOf({}, dir.filePath("run.diff")), dryDiff);
    QCOMPARE(readFile(root + "/Artiste/caf\xE9.cue"), prunedSheet);

    QProcess patch;
    patch.start("patch", { "-R", "-p1", "-d", "/", "-i", dir.filePath("run.diff") });
    QVERIFY(patch.waitForFinished());
    QVERIFY2(patch.exitCode() == 0, patch.readAll().constData());
    for (auto it = sheets.cbegin(); it != sheets.cend(); ++it)
        QCOMPARE(readFile(root + '/' + it.key()), it.value());
}

void TestCuePrune::diffListing_data()
{
    QTest::addColumn<bool>("outputIsTerminal");
    QTest::newRow("savedOrPiped") << false;
    QTest::newRow("onATerminal") << true;
}

// With --diff, standard output holds the diff alone. Read on a terminal, the verdicts go beside
// it on standard error; saved or piped, standard error says only the warnings and the errors,
// each with its path, and the summary, where a path not found and a failed sheet are errors.
void TestCuePrune::diffListing()
{
    QFETCH(bool, outputIsTerminal);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(fill(dir.path(), { { "a.cue", eacRip }, { "b.cue", cleanSheet }, { "c.cue", {} } }));
    QFile tooLarge(dir.filePath("c.cue")); // sparse: it takes no room
    QVERIFY(tooLarge.resize(cueprune::maxSheetSize + 1));

    SheetRun::Options options;
    options.diff = true;
    options.outputIsTerminal = outputIsTerminal;
    QBuffer diff;
    QVERIFY(diff.open(QIODevice::WriteOnly));
    QTextStream out(&diff);
    QString err;
    QTextStream errStream(&err);
    SheetRun run(options, out, errStream);
    for (const char *path : { ".", "missing" })
        run.addPath(QFile::encodeName(dir.filePath(path)));
    run.run();
    out.flush();
    errStream.flush();
    QVERIFY2(diff.data().startsWith("--- a" + QFile::encodeName(dir.filePath("a.cue")) + '\n'),
        diff.data().constData());
    QCOMPARE(diff.data().count("\n--- "), 0);

    const QString a = dir.filePath("a.cue");
    const QString c = dir.filePath("c.cue");
    const QStringList said = outputIsTerminal
        ? QStringList { a, modified, "  attention : ", dir.filePath("b.cue"), unchanged, c, failed,
              "cueprune : " + c + " : " }
        : QStringList { "cueprune : " + a + " : attention : ", "cueprune : " + c + " : " };
    QStringList lines = err.split('\n');
    QCOMPARE(lines.takeLast(), QString());
    QCOMPARE(lines.size(), said.size() + 2);
    for (qsizetype i = 0; i < said.size(); ++i)
        QVERIFY2(lines[i].startsWith(said[i]), qPrintable(lines[i]));
    QCOMPARE(lines.mid(said.size()),
        QStringList({ "cueprune : introuvable : " + dir.filePath("missing"),
            "3 fichiers : 1 modifié, 1 inchangé, 2 erreurs, 1 avec avertissement" }));
}

// flac refuses a sheet whose first track's first index is not at 00:00:00, as pruning leaves
// an EAC rip; the guard keeps what flac needs.
void TestCuePrune::flacTakesWhatTheGuardKeeps()
{
    if (QStandardPaths::findExecutable("flac").isEmpty()
        || QStandardPaths::findExecutable("metaflac").isEmpty())
        QSKIP("flac is not installed (Debian flac)");
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    // Ten seconds of CD audio silence.
    QProcess encoder;
    encoder.start("flac",
        { "-s", "--force-raw-format", "--endian=little", "--sign=signed", "--channels=2",
            "--bps=16", "--sample-rate=44100", "-o", dir.filePath("silence.flac"), "-" });
    QVERIFY(encoder.waitForStarted());
    encoder.write(QByteArray(44100 * 4 * 10, '\0'));
    encoder.closeWriteChannel();
    QVERIFY(encoder.waitForFinished() && encoder.exitCode() == 0);

    for (const bool guard : { false, true }) {
        const QString sheet = dir.filePath(guard ? "guarded.cue" : "plain.cue");
        QVERIFY(writeFile(sheet, eacRip));
        SheetRun::Options options;
        options.rule = guard ? cueprune::PregapRule::KeepFirstOfFile : cueprune::PregapRule::All;
        runInProcess(options, { QFile::encodeName(sheet) });
        QVERIFY(readFile(sheet) != eacRip);
        const QString flacFile = dir.filePath(guard ? "guarded.flac" : "plain.flac");
        QVERIFY(QFile::copy(dir.filePath("silence.flac"), flacFile));
        QProcess importer;
        importer.start("metaflac", { "--import-cuesheet-from=" + sheet, flacFile });
        QVERIFY(importer.waitForFinished());
        QCOMPARE(importer.exitCode(), guard ? 0 : 1);
        if (!guard)
            QVERIFY(importer.readAllStandardError().contains("first INDEX of first TRACK"));
    }
}

void TestCuePrune::namesInTheSystemCodePage_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("shown");
    QTest::newRow("chinese") << "zh_CN.UTF-8" << QStringLiteral("歌.cue");
    QTest::newRow("noHint") << "C.UTF-8" << QStringLiteral("¸è.cue");
}

// For a person, JSON decodes a name that is not UTF-8 in the system's legacy code page, else
// in windows-1252, as the windows show it.
void TestCuePrune::namesInTheSystemCodePage()
{
    QFETCH(QString, locale);
    QFETCH(QString, shown);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray sheet = QFile::encodeName(dir.path()) + "/\xb8\xe8.cue"; // GBK
    const testsupport::RemovedAtEnd nativeName({ sheet });
    QVERIFY(writeFile(sheet, cleanSheet));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("LC_ALL");
    environment.remove("LC_CTYPE");
    environment.insert("LANG", locale);
    const Outcome outcome = runCueprune({ "--json", dir.path() }, {}, false, environment);
    const QJsonObject object
        = QJsonDocument::fromJson(outcome.out.section('\n', 0, 0).toUtf8()).object();
    QCOMPARE(object["path"].toString(), dir.path() + '/' + shown);
}

QTEST_MAIN(TestCuePrune)
#include "tst_cueprune.moc"
