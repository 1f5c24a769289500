// cueprune: prunes the pregap lines of CUE sheets from the command line, for whole libraries
// and for machines without a display.
#include "cueprune/help.h"
#include "cueprune/options.h"
#include "cueprune/sheetrun.h"
#include "engine/sheetbatch.h"
#include "files/processedges.h"

#include <QCoreApplication>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <variant>
#include <vector>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace cueprune;

namespace {

// Says what is wrong, then where help is; the exit status of a usage error.
int usageError(const UsageError &error)
{
    std::fprintf(
        stderr, "cueprune : %s\nEssayez « cueprune --help ».\n", qUtf8Printable(error.text));
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

bool isTerminal(std::FILE *stream)
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stream));
#else
    return isatty(fileno(stream));
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
    return allWritten(stdout) ? 0 : cannotWriteOutput();
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

    std::vector<QByteArray> given(argv + 1, argv + argc);
    const auto parsed = parseCommandLine(QList<QByteArray>(given.begin(), given.end()));
    if (const auto *error = std::get_if<UsageError>(&parsed))
        return usageError(*error);
    const Request &request = std::get<Request>(parsed);
    if (request.action == Request::Action::Help)
        return printAndLeave(helpText());
    if (request.action == Request::Action::Version)
        return printAndLeave(QStringLiteral("cueprune %1\n").arg(CUEPRUNE_VERSION));

    QTextStream out(stdout);
    QTextStream err(stderr);
    SheetRun::Options options = request.options;
    options.progress = !options.quiet && isTerminal(stderr);
    options.outputIsTerminal = isTerminal(stdout);
    options.outputOnProgressTerminal = outputOnErrorsTerminal();
    options.outputIsPipe = standardOutputIsPipe();
    SheetRun run(options, out, err);
    for (const QByteArray &path : request.paths)
        run.addPath(path);
    catchStopSignals();
    run.run([] { return stopSignal != 0; });

    // A stop signal's status wins over every other; then a reader that left; then output that
    // could not be written, as on a full disk under "> list", which fails the run too.
    out.flush();
    const bool outputWritten = out.status() == QTextStream::Ok && allWritten(stdout);
    err.flush();
    const bool errorsWritten = err.status() == QTextStream::Ok && allWritten(stderr);
    if (stopSignal != 0)
        return 128 + stopSignal;
    if (!outputWritten)
        return options.outputIsPipe ? readerGoneStatus : cannotWriteOutput();
    return run.anyFailure() || !errorsWritten ? 1 : 0;
}
