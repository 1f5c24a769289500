// cueprune: prunes the pregap lines of CUE sheets from the command line, for whole libraries
// and for machines without a display.
#include "core/displaytext.h"
#include "cueprune/sheetrun.h"
#include "engine/qtfrench.h"
#include "engine/sheetbatch.h"
#include "files/processedges.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHash>
#include <QTextStream>
#include <QTranslator>

#include <csignal>
#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace cueprune;

namespace {

// Puts the parser's own texts (usage, headings, help and version options) into French. Installed
// after Qt's own French translation, so it wins for the texts it holds: Debian 12's lacks the
// help options' descriptions, and the error messages keep this wording.
class ParserTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        static const QHash<QByteArray, QString> french = {
            { "Displays help on commandline options.", "Affiche cette aide." },
            { "Displays help including Qt specific options.",
                "Affiche cette aide, options propres à Qt comprises." },
            { "Displays version information.", "Affiche la version." },
            { "Usage: %1", "Utilisation : %1" },
            { "Options:", "Options :" },
            { "Arguments:", "Arguments :" },
            { "Unknown option '%1'.", "Option inconnue : « %1 »." },
            { "Unknown options: %1.", "Options inconnues : %1." },
            { "Missing value after '%1'.", "Valeur manquante après « %1 »." },
            { "Unexpected value after '%1'.", "Valeur inattendue après « %1 »." },
        };
        if (qstrcmp(context, "QCommandLineParser") != 0)
            return QString();
        return french.value(sourceText);
    }
    bool isEmpty() const override { return false; }
};

// The paths among the arguments, as the raw bytes the system passed: Qt's own decoding of the
// arguments would turn a name that is not UTF-8 into replacement characters. Same rule as
// QCommandLineParser's: an argument not starting with '-', "-" itself, all after "--", less
// the value of -j given as the next argument ("-j 4", "-rj 4", "--jobs 4").
QList<QByteArray> pathArguments(int argc, char *argv[])
{
    QList<QByteArray> paths;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (optionsEnded || !argument.startsWith('-') || argument == "-")
            paths.append(argument);
        else if (argument == "--")
            optionsEnded = true;
        else if (argument == "--jobs" || (!argument.startsWith("--") && argument.endsWith('j')))
            ++i;
    }
    return paths;
}

// Says what is wrong in one line and where help is; the exit status of a usage error. What
// was typed is shown, not obeyed: control characters in it come out escaped.
int usageError(const QString &what)
{
    std::fprintf(stderr, "cueprune : %s\nEssayez « cueprune --help ».\n",
        qUtf8Printable(displayPath(what.toUtf8())));
    return 2;
}

// The signal that asked the run to stop, or 0.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void requestStop(int signal)
{
    stopSignal = signal;
}

// SIGINT, SIGTERM and SIGHUP stop the run cleanly: the sheets under way finish, everything
// done is printed. The handler is reset at once, so that a second signal ends the process
// then and there.
void catchStopSignals()
{
#ifdef Q_OS_WIN
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
#else
    struct sigaction action = {};
    action.sa_handler = requestStop;
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : { SIGINT, SIGTERM, SIGHUP })
        sigaction(signal, &action, nullptr);
#endif
}

bool standardErrorIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stderr));
#else
    return isatty(STDERR_FILENO);
#endif
}

// Whether standard output is the very terminal that standard error is.
bool outputOnErrorsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stdout)) && _isatty(_fileno(stderr));
#else
    struct stat output = {};
    struct stat errors = {};
    return isatty(STDOUT_FILENO) && isatty(STDERR_FILENO) && ::fstat(STDOUT_FILENO, &output) == 0
        && ::fstat(STDERR_FILENO, &errors) == 0 && output.st_rdev == errors.st_rdev;
#endif
}

// Whether standard output goes to a pipe or a socket, whose reader may leave.
bool standardOutputIsPipe()
{
#ifdef Q_OS_WIN
    return false;
#else
    struct stat status = {};
    return ::fstat(STDOUT_FILENO, &status) == 0
        && (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode));
#endif
}

// The exit status when the reader of standard output went away: what a shell reports for a
// program killed by SIGPIPE, which cueprune ignores so that it can stop cleanly.
constexpr int readerGoneStatus = 128 + 13;

int cannotWriteOutput()
{
    std::fprintf(stderr, "cueprune : écriture impossible sur la sortie standard\n");
    return 1;
}

// Prints the help or the version; a failure to print it is a failure of the run.
int printAndLeave(const QString &text)
{
    std::fputs(qUtf8Printable(text), stdout);
    return std::fflush(stdout) != 0 || std::ferror(stdout) ? cannotWriteOutput() : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // Nothing is opened before the standard descriptors are valid. Without its standard error
    // the program cannot even say why it stops.
    if (!openClosedStandardDescriptors())
        return 1;
    raiseDescriptorLimit();
#ifndef Q_OS_WIN
    // A reader that goes away is seen as a failed write, and the run stops cleanly.
    signal(SIGPIPE, SIG_IGN);
#endif
    // cueprune runs no event loop: Qt's own, without GLib, costs one descriptor and no more.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("cueprune"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CUEPRUNE_VERSION));
    installQtFrenchTexts();
    ParserTranslator translator;
    QCoreApplication::installTranslator(&translator);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Retire des feuilles CUE chaque ligne « INDEX 00 » directement suivie "
                       "d'une ligne « INDEX 01 ».\nUn dossier donne ses fichiers *.cue."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption recursive(
        { "r", "recursive" }, QStringLiteral("Parcourt aussi les sous-dossiers."));
    const QCommandLineOption dryRun(
        { "n", "dry-run" }, QStringLiteral("N'écrit rien : indique les feuilles à modifier."));
    const QCommandLineOption quiet({ "q", "quiet" },
        QStringLiteral("N'affiche que les feuilles modifiées ou en erreur, et le bilan."));
    const QCommandLineOption jobs({ "j", "jobs" },
        QStringLiteral("Traite N feuilles à la fois (par défaut %1).")
            .arg(SheetBatch::defaultWorkers()),
        QStringLiteral("N"), QString::number(SheetBatch::defaultWorkers()));
    parser.addOptions({ recursive, dryRun, quiet, jobs });
    parser.addPositionalArgument(QStringLiteral("CHEMIN"),
        QStringLiteral("Feuille CUE ou dossier à traiter."), QStringLiteral("CHEMIN..."));

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    // The parser offers --help-all beside --help; cueprune has no options of Qt's to add to it.
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))
        return printAndLeave(parser.helpText());
    if (parser.isSet(QStringLiteral("version")))
        return printAndLeave(QStringLiteral("cueprune %1\n").arg(CUEPRUNE_VERSION));
    if (parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("aucun CHEMIN donné."));

    bool jobsValid = false;
    const int workers = parser.value(jobs).toInt(&jobsValid);
    if (!jobsValid || workers < 1 || workers > 256)
        return usageError(
            QStringLiteral("nombre de feuilles à la fois invalide : %1").arg(parser.value(jobs)));

    QTextStream out(stdout);
    QTextStream err(stderr);
    const bool quietRun = parser.isSet(quiet);
    const bool outputIsPipe = standardOutputIsPipe();
    SheetRun run(
        { parser.isSet(recursive), parser.isSet(dryRun), quietRun, workers,
            !quietRun && standardErrorIsTerminal(), outputOnErrorsTerminal(), outputIsPipe },
        out, err);
    for (const QByteArray &path : pathArguments(argc, argv))
        run.addPath(path);
    catchStopSignals();
    run.run([] { return stopSignal != 0; });

    // A stop signal's status wins over every other; then a reader that left; then output that
    // could not be written, as on a full disk under "> list", which fails the run too.
    out.flush();
    const bool outputWritten
        = out.status() == QTextStream::Ok && std::fflush(stdout) == 0 && !std::ferror(stdout);
    err.flush();
    const bool errorsWritten
        = err.status() == QTextStream::Ok && std::fflush(stderr) == 0 && !std::ferror(stderr);
    if (stopSignal != 0)
        return 128 + stopSignal;
    if (!outputWritten)
        return outputIsPipe ? readerGoneStatus : cannotWriteOutput();
    return run.anyFailure() || !errorsWritten ? 1 : 0;
}
