// cueprune: prunes the pregap lines of CUE sheets from the command line, for whole libraries
// and for machines without a display.
#include "qtfrench.h"
#include "sheetbatch.h"
#include "sheetrun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHash>
#include <QTextStream>
#include <QTranslator>

#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

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

bool standardErrorIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stderr));
#else
    return isatty(STDERR_FILENO);
#endif
}

} // namespace

int main(int argc, char *argv[])
{
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

    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "cueprune : %s\n\n%s", qUtf8Printable(parser.errorText()),
            qUtf8Printable(parser.helpText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (parser.positionalArguments().isEmpty()) {
        std::fprintf(
            stderr, "cueprune : aucun CHEMIN donné.\n\n%s", qUtf8Printable(parser.helpText()));
        return 2;
    }

    bool jobsValid = false;
    const int workers = parser.value(jobs).toInt(&jobsValid);
    if (!jobsValid || workers < 1 || workers > 256) {
        std::fprintf(stderr, "cueprune : nombre de feuilles à la fois invalide : %s\n\n%s",
            qUtf8Printable(parser.value(jobs)), qUtf8Printable(parser.helpText()));
        return 2;
    }

    QTextStream out(stdout);
    QTextStream err(stderr);
    const bool quietRun = parser.isSet(quiet);
    SheetRun run({ parser.isSet(recursive), parser.isSet(dryRun), quietRun, workers,
                     !quietRun && standardErrorIsTerminal() },
        out, err);
    for (const QByteArray &path : pathArguments(argc, argv))
        run.addPath(path);
    run.run();
    return run.anyFailure() ? 1 : 0;
}
