#include "files/sheetfile.h"
#include "files/temporaries.h"
#include "support/faults.h"
#include "support/sheets.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <pty.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/sysmacros.h>

#include <map>
#include <memory>
#include <thread>

using namespace testsupport;

namespace {

// count sheets of text, named 000.cue, 001.cue... under prefix.
FolderContents sheets(int count, const QString &prefix = {}, const QByteArray &text = pregapSheet)
{
    FolderContents contents;
    for (int i = 0; i < count; ++i)
        contents.insert(prefix + QStringLiteral("%1.cue").arg(i, 3, 10, QLatin1Char('0')), text);
    return contents;
}

// A row of wholeRuns; the fields braced empty ({}) may be left out at its end.
struct WholeRun
{
    FolderContents contents;
    QStringList arguments; // DIR for the folder, also the working folder
    int exitCode = 0;
    QString out {};
    QString err {};
    FolderContents after {}; // the files changed: their bytes, "-" when gone
    // What the row does to its folder beyond filling it (links, devices), and what the child
    // does before cueprune starts (limits, closed descriptors, no /proc).
    std::function<bool(const QString &folder)> setup {};
    QStringList environment {}; // NAME=value; FAULTS=... preloads the library
    std::function<void()> prepareChild {};
};

const QString modified = QStringLiteral("==> Fichier modifié !");
const QString toModify = QStringLiteral("==> Fichier à modifier !");
const QString unchanged = QStringLiteral("==> Aucun changement !");

// Lines of output (paths and verdicts in turn, or JSON objects), each ended by a newline.
QString listed(const QStringList &pathsAndVerdicts)
{
    return pathsAndVerdicts.join('\n') + '\n';
}
// A run over 250 sheets whose chosen outputs ("out", "err") go to a pseudo-terminal, read as
// the run goes, the others to files; standard output may also go to /dev/full ("full") or to a
// pipe whose reader leaves after a line ("pipe"). Flushes slowed to 5 ms make it last more than
// a second, unless a signal stops it once its first sheet is pruned.
class LongRun
{
public:
    QTemporaryDir dir;
    QProcess child;
    QElapsedTimer clock;
    int terminalSide = -1;

    LongRun(const QString &terminal, const QStringList &options, int signal)
    {
        int programSide = -1;
        if (!fill(dir.path(), sheets(250, "sheets/"))
            || ::openpty(&terminalSide, &programSide, nullptr, nullptr, nullptr) != 0)
            return;
        // Only its own child holds the terminal, which closes when that child ends.
        ::fcntl(terminalSide, F_SETFD, FD_CLOEXEC);
        ::fcntl(programSide, F_SETFD, FD_CLOEXEC);
        child.setStandardOutputFile(terminal == "full" ? "/dev/full" : dir.filePath("out"));
        child.setStandardErrorFile(dir.filePath("err"));
        child.setProcessEnvironment(withFaults(FAULT_INJECTION, "slowfsync"));
        child.setChildProcessModifier([terminal, programSide] {
            if (terminal.contains("out"))
                ::dup2(programSide, STDOUT_FILENO);
            if (terminal.contains("err"))
                ::dup2(programSide, STDERR_FILENO);
        });
        clock.start();
        const QStringList arguments = options + QStringList { "-j", "1", dir.filePath("sheets") };
        if (terminal == "pipe")
            child.start("bash",
                QStringList {
                    "-c", "\"$0\" \"$@\" | head -n 1; exit \"${PIPESTATUS[0]}\"", CUEPRUNE }
                    + arguments);
        else
            child.start(CUEPRUNE, arguments);
        ::close(programSide);
        reader = std::thread([this] {
            char buffer[4096];
            for (ssize_t count; (count = ::read(terminalSide, buffer, sizeof buffer)) > 0;)
                text.append(buffer, count);
        });
        while (signal != 0 && readFile(dir.filePath("sheets/000.cue")) != prunedSheet
            && clock.elapsed() < 10000)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (signal != 0)
            ::kill(pid_t(child.processId()), signal);
    }
    ~LongRun()
    {
        shown();
        ::close(terminalSide);
    }

    // What the run showed on its terminal, once the run ended.
    const QByteArray &shown()
    {
        if (reader.joinable())
            reader.join();
        return text;
    }

private:
    std::thread reader;
    QByteArray text;
};

} // namespace

Q_DECLARE_METATYPE(WholeRun)

class TestCuePrune : public QObject
{
    Q_OBJECT

private slots:
    void wholeRuns_data();
    void wholeRuns();
    void longRuns_data();
    void longRuns();

private:
    std::map<QString, std::unique_ptr<LongRun>> runs;
};

void TestCuePrune::wholeRuns_data()
{
    QTest::addColumn<WholeRun>("run");
    const auto row = [](const char *name, const WholeRun &run) { QTest::newRow(name) << run; };
    const QString flacWarning = "piste 01 : 0,44 s d'audio avant INDEX 01 hors de tout index (flac "
                                "refuse d'intégrer une telle feuille) ; ";
    const QByteArray eacPruned = QByteArray(eacRip)
                                     .replace("    INDEX 00 00:00:00\n", "")
                                     .replace("    INDEX 00 00:04:00\n", "");

    row("noPath",
        { {}, {}, 2, {}, "cueprune : aucun CHEMIN donné.\nEssayez « cueprune --help ».\n" });
    // A killed run's temporary goes, and its removal is said; a user's own file named much like
    // one stays.
    const QString removed = QFile::decodeName(cueprune::temporaryName({}, 0));
    row("ownSheetsOnly",
        { { { "a.CUE", eacRip }, { "Z.cue", cleanSheet }, { "notes.txt", pregapSheet },
              { "b/one.cue", pregapSheet }, { ".hidden/h.cue", pregapSheet }, { "empty/", {} },
              { removed, pregapSheet }, { ".cueprune-abcdefgh-5-a.cue", "mine\n" } },
            { "DIR" }, 0,
            listed({ "DIR/a.CUE", modified,
                "  attention : " + flacWarning + "--keep-first-pregap garde l'INDEX 00",
                "DIR/Z.cue", unchanged })
                + "2 fichiers : 1 modifié, 1 inchangé, 0 erreur, 1 avec avertissement\n",
            "cueprune : temporaire d'une exécution interrompue supprimé : DIR/" + removed
                + "\ncueprune : DIR : 2 sous-dossiers non parcourus (utilisez -r)\n",
            { { "a.CUE", eacPruned }, { removed, "-" } } });
    // A dry run writes nothing: no sheet, no backup, no removal of a killed run's temporary.
    row("recursiveDryRun",
        { { { "a.cue", pregapSheet }, { "b.cue", cleanSheet }, { "c/d.cue", pregapSheet },
              { QFile::decodeName(cueprune::temporaryName({}, 0)), pregapSheet } },
            { "-r", "-n", "-b", "DIR" }, 0,
            listed({ "DIR/a.cue", toModify, "DIR/b.cue", unchanged, "DIR/c/d.cue", toModify })
                + "3 fichiers : 2 à modifier, 1 inchangé, 0 erreur\n" });
    // Paths relative to the working folder, a leading dash after "--", any file name.
    row("quietFailuresDoNotStopTheRun",
        { { { "folder.cue/", {} }, { "-dash.cue", pregapSheet }, { "notes.txt", pregapSheet },
              { "Café crème.cue", cleanSheet } },
            { "-q", "--", "missing.cue", "-dash.cue", "notes.txt", "Café crème.cue", "folder.cue" },
            1,
            listed({ "DIR/-dash.cue", modified, "DIR/notes.txt", modified })
                + "3 fichiers : 2 modifiés, 1 inchangé, 1 erreur\n",
            "cueprune : introuvable : missing.cue\n",
            { { "-dash.cue", prunedSheet }, { "notes.txt", prunedSheet } } });
    // "link/.." is where the link leads, not the folder holding the link; backups as GNU cp
    // and mv make them, of the sheets that change.
    row("pathsResolvedAsTheKernelDoes",
        { { { "album.cue", pregapSheet }, { "real/album.cue", pregapSheet }, { "real/sub/", {} },
              { "real/album.cue.~3~", "older" } },
            { "-b", "link/../album.cue" }, 0,
            listed({ "DIR/real/album.cue", modified })
                + "1 fichier : 1 modifié, 0 inchangé, 0 erreur\n",
            {}, { { "real/album.cue", prunedSheet }, { "real/album.cue.~4~", pregapSheet } },
            [](const QString &folder) { return QFile::link("real/sub", folder + "/link"); } });
    // Saved or piped, standard output holds the diff alone, and standard error the warnings
    // and the errors, each with its path, and the summary.
    const QString eacDiff
        = "--- aDIR/a.cue\n+++ bDIR/a.cue\n@@ -1,7 +1,5 @@\n FILE \"Album.wav\" WAVE\n"
          "   TRACK 01 AUDIO\n-    INDEX 00 00:00:00\n     INDEX 01 00:00:33\n   TRACK 02 AUDIO\n"
          "-    INDEX 00 00:04:00\n     INDEX 01 00:05:00\n";
    const QString eacWarned = "cueprune : DIR/a.cue : attention : " + flacWarning
        + "--keep-first-pregap garde l'INDEX 00\n";
    row("diffToAPipe",
        { { { "a.cue", eacRip }, { "b.cue", cleanSheet } }, { "--diff", "DIR", "DIR/missing" }, 1,
            eacDiff,
            eacWarned
                + "cueprune : DIR/c.cue : fichier trop grand (plus de 64 Mio)\n"
                  "cueprune : introuvable : DIR/missing\n"
                  "3 fichiers : 1 modifié, 1 inchangé, 2 erreurs, 1 avec avertissement\n",
            { { "a.cue", eacPruned } }, [](const QString &folder) {
                QFile sparse(folder + "/c.cue"); // too large, but taking no room
                return sparse.open(QIODevice::WriteOnly)
                    && sparse.resize(cueprune::maxSheetSize + 1);
            } });
    // One object a line, in the text output's order: a sheet too large for the disk's limit
    // fails, a name that is not UTF-8 comes as its bytes, for a script, and decoded in the
    // system's legacy code page, for a person; then the path not found, then the summary.
    row("json",
        { { { "a.cue", eacRip }, { "b.cue", cleanSheet },
              { "c.cue", pregapSheet + QByteArray(8192, '\n') } },
            { "--json", "DIR", "DIR/missing" }, 1,
            listed({ R"({"dropped":2,"dropped_lines":[3,6],"path":"DIR/a.cue",)"
                     R"("verdict":"modified","warnings":[{"code":"unindexed-audio","frames":33,)"
                     R"("track":1}]})",
                R"({"dropped":0,"path":"DIR/b.cue","verdict":"unchanged"})",
                R"({"code":"disk-full","dropped":0,"path":"DIR/c.cue","reason":"disque plein",)"
                R"("verdict":"error"})",
                R"({"dropped":0,"path":"DIR/歌.cue","path_base64":"DIR/¸è.cue",)"
                R"("verdict":"unchanged"})",
                R"({"code":"missing","path":"DIR/missing","reason":"introuvable",)"
                R"("unreachable":true})",
                R"({"summary":{"errors":2,"interrupted":false,"modified":1,"sheets":4,)"
                R"("subfolders_left_out":0,"unchanged":2,"unreachable":1,"with_warnings":1}})" }),
            "cueprune : DIR/c.cue : disque plein\ncueprune : introuvable : DIR/missing\n",
            { { "a.cue", eacPruned } },
            [](const QString &folder) {
                return writeFile(QFile::encodeName(folder) + "/\xb8\xe8.cue", cleanSheet);
            },
            { "LANG=zh_CN.UTF-8", "LC_ALL=", "LC_CTYPE=" },
            [] {
                if (!limitFileSize(4096))
                    _exit(3);
            } });
    const FolderContents ab { { "a.cue", pregapSheet }, { "b.cue", cleanSheet } };
    const QString abListed = listed({ "DIR/a.cue", modified, "DIR/b.cue", unchanged })
        + "2 fichiers : 1 modifié, 1 inchangé, 0 erreur\n";
    // Output that cannot be written fails the run, whatever was asked.
    const auto outputFull = [] { ::dup2(::open("/dev/full", O_WRONLY), STDOUT_FILENO); };
    const QString cannotWrite = "cueprune : écriture impossible sur la sortie standard\n";
    row("outputFull",
        { ab, { "-n", "DIR" }, 1, {},
            "2 fichiers : 1 à modifier, 1 inchangé, 0 erreur\n" + cannotWrite, {}, {}, {},
            outputFull });
    row("helpToAFullOutput", { {}, { "--help" }, 1, {}, cannotWrite, {}, {}, {}, outputFull });
    row("versionToAFullOutput", { {}, { "-v" }, 1, {}, cannotWrite, {}, {}, {}, outputFull });
    // With --diff, the summary is on standard error, where it stays when the diff is lost.
    row("diffToAFullOutput",
        { { { "a.cue", pregapSheet } }, { "--diff", "DIR" }, 1, {},
            "cueprune : DIR/a.cue : diff ou enregistrement JSON impossible à écrire\n"
            "1 fichier : 0 modifié, 0 inchangé, 1 erreur (interrompu)\n"
                + cannotWrite,
            {}, {}, {}, outputFull });
    row("jsonDryRun",
        { ab, { "-n", "--json", "DIR" }, 0,
            listed({ R"({"dropped":1,"dropped_lines":[6],"path":"DIR/a.cue",)"
                     R"("verdict":"would-modify","warnings":[]})",
                R"({"dropped":0,"path":"DIR/b.cue","verdict":"unchanged"})",
                R"({"summary":{"errors":0,"interrupted":false,"sheets":2,"subfolders_left_out":0,)"
                R"("unchanged":1,"unreachable":0,"with_warnings":0,"would_modify":1}})" }) });

    // Started as cron jobs and service managers may start it, cueprune gives no file of the
    // library a standard descriptor (the fault library ends it if one does), so no sheet ever
    // holds its output; with few descriptors it neither aborts nor says less than it did.
    QStringList manyListed;
    for (const QString &name : sheets(60).keys())
        manyListed << "DIR/" + name << modified;
    const QString manyOut
        = listed(manyListed) + "60 fichiers : 60 modifiés, 0 inchangé, 0 erreur\n";
    // limit: hard and soft; 0 leaves them.
    const auto edge = [&](const QByteArray &name, const QList<int> &closed, rlim_t limit) {
        row(name.constData(),
            { sheets(60), { "DIR" }, 0, closed.contains(1) ? QString() : manyOut, {},
                sheets(60, {}, prunedSheet), {}, { "FAULTS=lowdescriptor" }, [closed, limit] {
                    for (const int descriptor : closed)
                        ::close(descriptor);
                    const rlimit low { limit, limit };
                    if (limit > 0 && setrlimit(RLIMIT_NOFILE, &low) != 0)
                        _exit(3);
                } });
    };
    edge("inputClosed", { 0 }, 0);
    edge("outputClosed", { 1 }, 0);
    edge("errorsClosed", { 2 }, 0);
    edge("allClosed", { 0, 1, 2 }, 0);
    for (const rlim_t limit : { 10, 24, 48 })
        edge("limit" + QByteArray::number(limit), {}, limit);
    // A device named like a temporary and a sheet swapped for a device after the listing are
    // never opened (the fault library ends the run if one is): a driver acts when opened.
    const auto devices = [](const QString &folder) {
        const auto node = [](const QString &path) {
            return ::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0666, makedev(1, 3));
        };
        return node(folder + "/.cueprune-abcdefgh") == 0 && node(folder + "/device") == 0;
    };
    if (geteuid() != 0)
        return;
    // In a chroot or container without /proc, rewrites still work, with a named temporary.
    // The sanitizers' runtime itself needs /proc to find leaks.
    row("withoutProc",
        { ab, { "DIR" }, 0, abListed, {}, { { "a.cue", prunedSheet } }, {},
            { "ASAN_OPTIONS=detect_leaks=0" }, [] {
                if (::unshare(CLONE_NEWNS) != 0
                    || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                    || ::mount("none", "/proc", "tmpfs", 0, nullptr) != 0)
                    _exit(3);
            } });
    row("noDeviceIsEverOpened",
        { ab, { "DIR" }, 1,
            listed({ "DIR/a.cue", modified, "DIR/b.cue", "==> Erreur !" })
                + "2 fichiers : 1 modifié, 0 inchangé, 1 erreur\n",
            "cueprune : DIR/b.cue : changé pendant le parcours\n",
            { { "a.cue", prunedSheet }, { "b.cue.away", cleanSheet }, { "b.cue", {} },
                { "device", "-" } },
            devices, { "FAULTS=device", "SWAP_ENTRY=b.cue", "SWAP_MOVE=DIR/device" } });
}

// A whole run from the folder DIR: its exit status, its output and errors to the byte, and
// the files it changed (every other file keeps its bytes, and no name comes or goes unsaid).
void TestCuePrune::wholeRuns()
{
    QFETCH(WholeRun, run);
    QTemporaryDir dir;
    // Also what QTemporaryDir cannot remove: names that are not UTF-8.
    const auto removal = qScopeGuard([&] { QProcess::execute("rm", { "-rf", dir.path() }); });
    QVERIFY(fill(dir.path(), run.contents) && setMode(dir.path(), 0755));
    QVERIFY(!run.setup || run.setup(dir.path()));
    QList<QByteArray> names = namesIn(dir.path());
    for (const auto &[name, bytes] : run.after.asKeyValueRange()) {
        const QByteArray encoded = QFile::encodeName(name);
        if (bytes == "-")
            names.removeOne(encoded);
        else if (!name.contains('/') && !names.contains(encoded))
            names.append(encoded);
    }
    std::sort(names.begin(), names.end());
    run.contents.insert(run.after);
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    for (const QString &variable : std::as_const(run.environment)) {
        const QString value = variable.section('=', 1).replace("DIR", dir.path());
        if (variable.startsWith("FAULTS="))
            variables = withFaults(FAULT_INJECTION, value);
        else
            variables.insert(variable.section('=', 0, 0), value);
    }

    QProcess child;
    child.setWorkingDirectory(dir.path());
    child.setProcessEnvironment(withoutDisplay(variables));
    if (run.prepareChild)
        child.setChildProcessModifier(run.prepareChild);
    child.start(CUEPRUNE, run.arguments.replaceInStrings("DIR", dir.path()));
    QVERIFY(child.waitForFinished() && child.exitStatus() == QProcess::NormalExit);
    QString shown = QString::fromUtf8(child.readAllStandardOutput());
    // A name's bytes in JSON, shown as Latin-1 text where DIR can stand for the folder.
    static const QRegularExpression base64(R"re("path_base64":"([^"]*)")re");
    for (const auto &match : base64.globalMatch(QString(shown)))
        shown.replace(match.captured(1),
            QString::fromLatin1(QByteArray::fromBase64(match.captured(1).toLatin1())));
    // Under the sanitizers, their runtime's own complaints where /proc is hidden, and the exit
    // status they then set, are not the run's.
    static const QRegularExpression sanitizerLine(
        R"(^==\d+==.*\n)", QRegularExpression::MultilineOption);
    const QString allErrors = QString::fromUtf8(child.readAllStandardError());
    const QString errors = QString(allErrors).remove(sanitizerLine);
    QCOMPARE(errors, run.err.replace("DIR", dir.path()));
    QCOMPARE(shown, run.out.replace("DIR", dir.path()));
    if (errors == allErrors)
        QCOMPARE(child.exitCode(), run.exitCode);
    for (const auto &[name, bytes] : run.contents.asKeyValueRange())
        QVERIFY2(name.endsWith('/')
                || (bytes == "-" ? !QFileInfo::exists(dir.filePath(name))
                                 : readFile(dir.filePath(name)) == bytes),
            qPrintable(name));
    QCOMPARE(namesIn(dir.path()), names);
}

// Each run lasts more than the second after which progress shows, so they all start here,
// together, and each row then checks its own.
void TestCuePrune::longRuns_data()
{
    QTest::addColumn<QString>("terminal"); // which of the outputs go to a terminal
    QTest::addColumn<QString>("listing"); // which holds the verdicts and the summary
    QTest::addColumn<bool>("verdicts");
    QTest::addColumn<bool>("progress");
    QTest::addColumn<int>("exitCode");
    runs.clear();
    const auto row
        = [this](const char *name, const QString &terminal, const QStringList &options, int signal,
              const QString &listing, bool verdicts, bool progress, int exitCode) {
              QTest::newRow(name) << terminal << listing << verdicts << progress << exitCode;
              runs[name] = std::make_unique<LongRun>(terminal, options, signal);
          };
    row("errorsOnTerminal", "err", {}, 0, "out", true, true, 0);
    row("bothOnTerminal", "out+err", {}, 0, "out", true, true, 0);
    row("terminalQuiet", "err", { "-q" }, 0, "out", true, false, 0);
    row("noTerminal", "", {}, 0, "out", true, false, 0);
    // A pager reads the diff on the terminal: neither progress nor verdicts cover it.
    row("diffToPipe", "err", { "--diff" }, 0, "err", false, false, 0);
    row("diffOnTerminal", "out", { "--diff" }, 0, "err", true, false, 0);
    // Stopped mid-run, by a signal or by the reader of its output leaving, cueprune starts no new
    // sheet, counts every sheet it rewrote, says the run was interrupted (on standard error when
    // standard output is lost) and leaves no temporary file behind.
    row("interrupt", "", {}, SIGINT, "out", true, false, 130);
    row("terminate", "", {}, SIGTERM, "out", true, false, 143);
    row("hangUp", "", {}, SIGHUP, "out", true, false, 129);
    row("readerLeaves", "pipe", {}, 0, "err", false, false, 141);
    row("interruptWhileOutputFails", "full", {}, SIGINT, "err", false, false, 130);
}

// Progress is drawn again after each line printed on its own terminal, so it stays in sight,
// and otherwise at most ten times a second.
void TestCuePrune::longRuns()
{
    QFETCH(QString, terminal);
    QFETCH(QString, listing);
    QFETCH(bool, verdicts);
    QFETCH(bool, progress);
    QFETCH(int, exitCode);
    LongRun &run = *runs.at(QTest::currentDataTag());
    const QByteArray &shown = run.shown();
    const double seconds = run.clock.elapsed() / 1000.0;
    QVERIFY(run.child.waitForFinished());
    QCOMPARE(run.child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.child.exitCode(), exitCode);
    const bool outOnTerminal = terminal.contains("out");
    const bool listedOnTerminal = terminal.contains(listing);

    const QList<QByteArray> names = namesIn(run.dir.filePath("sheets"));
    QCOMPARE(names.size(), 250);
    const auto rewritten = std::count_if(names.cbegin(), names.cend(), [&](const QByteArray &name) {
        return readFile(run.dir.filePath("sheets/" + name)) == prunedSheet;
    });
    QVERIFY2(exitCode == 0 ? rewritten == 250 : rewritten > 0 && rewritten < 250,
        qPrintable(QString::number(rewritten)));
    // The verdicts and the summary, wherever they went.
    const QByteArray list = listedOnTerminal ? shown : readFile(run.dir.filePath(listing));
    const QByteArray summary = QByteArray::number(rewritten)
        + " fichiers : " + QByteArray::number(rewritten) + " modifiés, 0 inchangé, 0 erreur"
        + (exitCode == 0 ? "" : " (interrompu)");
    QVERIFY2(
        list.endsWith(summary + (listedOnTerminal ? "\r\n" : "\n")), list.right(200).constData());
    QCOMPARE(list.count(modified.toUtf8()), verdicts ? rewritten : 0);
    if (!listedOnTerminal)
        QVERIFY(!list.contains('\r') && !list.contains('\33'));
    if (terminal.isEmpty())
        QCOMPARE(readFile(run.dir.filePath("err")), QByteArray());
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
        QVERIFY2(redraws <= 10 * seconds + 2, qPrintable(QString::number(redraws)));
    QVERIFY2(!shown.contains("\33[K\r\33[K"), shown.left(200).constData());
    QVERIFY2(outOnTerminal || shown.endsWith("\r\33[K"), shown.right(40).constData());
}

QTEST_GUILESS_MAIN(TestCuePrune)
#include "tst_cueprune.moc"
