// cueprune: prunes the pregap lines of CUE sheets from the command line, for whole libraries
// and for machines without a display.
#include "core/displaytext.h"
#include "cueprune/options.h"
#include "cueprune/sheetrun.h"
#include "engine/qtfrench.h"
#include "engine/sheetbatch.h"
#include "files/processedges.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QTextStream>
#include <QTranslator>

#include <csignal>
#include <cstdio>
#include <optional>
#include <variant>

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

// Whether option (a name of the table, without dashes) takes its value from the next argument
// when none is attached.
bool takesNextArgument(const QString &name)
{
    for (const OptionSpec &option : optionTable()) {
        if (option.names.contains(name))
            return !option.valueName.isEmpty() && !option.valueOptional;
    }
    return false;
}

// The paths among the arguments, as the raw bytes the system passed: Qt's own decoding of the
// arguments would turn a name that is not UTF-8 into replacement characters. Same rule as
// QCommandLineParser's: an argument not starting with '-', "-" itself, all after "--", less
// the values of options given as the next argument ("-j 4", "-rj 4", "--jobs 4", "-S .old").
QList<QByteArray> pathArguments(int argc, char *argv[])
{
    QList<QByteArray> paths;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (optionsEnded || !argument.startsWith('-') || argument == "-") {
            paths.append(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument.startsWith("--")) {
            if (!argument.contains('=') && takesNextArgument(QString::fromUtf8(argument.mid(2))))
                ++i;
        } else {
            // In a cluster, the first letter that takes a value takes the rest, or the next one.
            for (qsizetype at = 1; at < argument.size(); ++at) {
                if (takesNextArgument(QString(QLatin1Char(argument[at])))) {
                    i += at == argument.size() - 1;
                    break;
                }
            }
        }
    }
    return paths;
}

// The control word that word stands for, as GNU tools take it: whole, or any beginning that
// only one of them has.
std::optional<BackupPolicy::Control> backupControl(const QString &word)
{
    using Control = BackupPolicy::Control;
    static const QList<Control> meanings = { Control::None, Control::None, Control::Numbered,
        Control::Numbered, Control::Existing, Control::Existing, Control::Simple, Control::Simple };
    const QStringList &words = backupControls();
    std::optional<Control> found;
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (words[i] == word)
            return meanings[i];
        if (!word.isEmpty() && words[i].startsWith(word)) {
            if (found && *found != meanings[i])
                return std::nullopt;
            found = meanings[i];
        }
    }
    return found;
}

// The backups asked for by -b, --backup=CONTROL and -S, with VERSION_CONTROL and
// SIMPLE_BACKUP_SUFFIX as GNU tools read them; a usage error's text otherwise. A backup name
// never ends in ".cue", so that no later run prunes a backup.
std::variant<BackupPolicy, QString> backupPolicy(
    bool asked, const std::optional<QString> &control, const std::optional<QString> &suffix)
{
    BackupPolicy policy;
    if (!asked)
        return policy;
    const QString fromEnvironment = qEnvironmentVariable("VERSION_CONTROL");
    const QString word = control    ? *control
        : fromEnvironment.isEmpty() ? QStringLiteral("existing")
                                    : fromEnvironment;
    const auto chosen = backupControl(word);
    if (!chosen) {
        return QStringLiteral("argument invalide « %1 » pour « %2 » (arguments valides : %3)")
            .arg(word, control ? QStringLiteral("--backup") : QStringLiteral("VERSION_CONTROL"),
                backupControls().join(QStringLiteral(", ")));
    }
    policy.control = *chosen;
    const QString simpleSuffix = qEnvironmentVariable("SIMPLE_BACKUP_SUFFIX");
    const QString given = suffix                                            ? *suffix
        : simpleSuffix.isEmpty() || simpleSuffix.contains(QLatin1Char('/')) ? QStringLiteral("~")
                                                                            : simpleSuffix;
    if (given.isEmpty() || given.contains(QLatin1Char('/')))
        return QStringLiteral("suffixe de sauvegarde invalide : « %1 »").arg(given);
    // Sheets end in ".cue": a suffix that ends the same way, or ends it, would make one.
    const QString lower = given.toLower();
    if (lower.endsWith(QStringLiteral(".cue")) || QStringLiteral(".cue").endsWith(lower))
        return QStringLiteral("un nom de sauvegarde finirait en .cue avec le suffixe « %1 »")
            .arg(given);
    policy.suffix = QFile::encodeName(given);
    return policy;
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

// The parser's help, under the name cueprune rather than the path it was started by, with the
// exit statuses and two examples.
QString helpText(const QCommandLineParser &parser)
{
    QString text = parser.helpText();
    const QString started = QCoreApplication::arguments().constFirst();
    const qsizetype at = text.left(text.indexOf(QLatin1Char('\n'))).indexOf(started);
    if (at >= 0)
        text.replace(at, started.size(), QStringLiteral("cueprune"));
    return text
        + QStringLiteral(
            "\nCodes de retour :\n"
            "  0              toutes les feuilles ont été traitées\n"
            "  1              un chemin introuvable, un dossier illisible, une feuille en erreur,\n"
            "                 ou une sortie impossible à écrire\n"
            "  2              erreur d'utilisation\n"
            "  129, 130, 143  arrêté par SIGHUP, SIGINT ou SIGTERM\n"
            "  141            le lecteur de la sortie standard est parti\n"
            "\nExemples :\n"
            "  cueprune -r -n ~/Musique   montre les feuilles qui changeraient, sans rien écrire\n"
            "  cueprune -r -b ~/Musique   les réécrit en gardant l'ancienne sous feuille.cue~\n");
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
    installQtFrenchTexts();
    ParserTranslator translator;
    QCoreApplication::installTranslator(&translator);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Retire des feuilles CUE chaque ligne « INDEX 00 » directement suivie "
                       "d'une ligne « INDEX 01 ».\nUn dossier donne ses fichiers *.cue. Sans -n, "
                       "les feuilles sont réécrites aussitôt."));
    parser.addHelpOption();
    parser.addVersionOption();
    for (const OptionSpec &option : optionTable()) {
        if (!option.fromParser)
            parser.addOption(QCommandLineOption(option.names, option.description,
                option.valueOptional ? QString() : option.valueName));
    }
    parser.addPositionalArgument(QStringLiteral("CHEMIN"),
        QStringLiteral("Feuille CUE ou dossier à traiter."), QStringLiteral("CHEMIN..."));

    // The parser knows no optional values: --backup=CONTROL is taken out before it parses.
    QStringList arguments = QCoreApplication::arguments();
    std::optional<QString> control;
    for (QString &argument : arguments) {
        if (argument == QStringLiteral("--"))
            break;
        if (argument.startsWith(QStringLiteral("--backup="))) {
            control = argument.mid(int(sizeof "--backup=") - 1);
            argument = QStringLiteral("--backup");
        }
    }
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    // The parser offers --help-all beside --help; cueprune has no options of Qt's to add to it.
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))
        return printAndLeave(helpText(parser));
    if (parser.isSet(QStringLiteral("version")))
        return printAndLeave(QStringLiteral("cueprune %1\n").arg(CUEPRUNE_VERSION));
    if (parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("aucun CHEMIN donné."));

    const bool dryRun = parser.isSet(QStringLiteral("dry-run"));
    bool jobsValid = false;
    const QString jobs = parser.isSet(QStringLiteral("jobs"))
        ? parser.value(QStringLiteral("jobs"))
        : QString::number(
            SheetBatch::defaultWorkers(dryRun ? WriteMode::DryRun : WriteMode::Rewrite));
    const int workers = jobs.toInt(&jobsValid);
    if (!jobsValid || workers < 1 || workers > 256)
        return usageError(QStringLiteral("nombre de feuilles à la fois invalide : %1").arg(jobs));
    const auto backup = backupPolicy(
        parser.isSet(QStringLiteral("backup")) || parser.isSet(QStringLiteral("suffix")), control,
        parser.isSet(QStringLiteral("suffix"))
            ? std::optional<QString>(parser.value(QStringLiteral("suffix")))
            : std::nullopt);
    if (const QString *wrong = std::get_if<QString>(&backup))
        return usageError(*wrong);

    QTextStream out(stdout);
    QTextStream err(stderr);
    const bool quietRun = parser.isSet(QStringLiteral("quiet"));
    const bool outputIsPipe = standardOutputIsPipe();
    SheetRun run({ parser.isSet(QStringLiteral("recursive")), dryRun, quietRun, workers,
                     !quietRun && standardErrorIsTerminal(), outputOnErrorsTerminal(), outputIsPipe,
                     std::get<BackupPolicy>(backup), parser.isSet(QStringLiteral("json")) },
        out, err);
    for (const QByteArray &path : pathArguments(argc, argv))
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
        return outputIsPipe ? readerGoneStatus : cannotWriteOutput();
    return run.anyFailure() || !errorsWritten ? 1 : 0;
}
