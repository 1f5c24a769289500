// cueprune: prunes the pregap lines of CUE sheets from the command line, for whole libraries
// and for machines without a display.
#include "cuesheetlisting.h"
#include "processcuefile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QTextStream>
#include <QTranslator>

#include <cstdio>

namespace {

// Puts the parser's own texts (usage, headings, help and version options) into French.
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

QString counted(qsizetype count, const char *singular, const char *plural)
{
    return QStringLiteral("%1 %2").arg(count).arg(QString::fromUtf8(count > 1 ? plural : singular));
}

class Run
{
public:
    Run(bool recursive, bool dryRun, bool quiet)
        : recursive(recursive)
        , dryRun(dryRun)
        , quiet(quiet)
    {
    }

    void handleArgument(const QString &argument)
    {
        const QFileInfo info(argument);
        if (info.isDir())
            handleFolder(info.absoluteFilePath());
        else if (info.exists())
            handleSheet(info.absoluteFilePath());
        else
            complain(QStringLiteral("introuvable"), argument);
    }

    void printSummary()
    {
        const qsizetype sheets = pruned + unchanged + errors;
        out << counted(sheets, "fichier", "fichiers") << " : "
            << (dryRun ? QStringLiteral("%1 à modifier").arg(pruned)
                       : counted(pruned, "modifié", "modifiés"))
            << ", " << counted(unchanged, "inchangé", "inchangés") << ", "
            << counted(errors, "erreur", "erreurs") << Qt::endl;
    }

    bool anyFailure() const { return errors > 0 || unreachable > 0; }

private:
    void handleFolder(const QString &path)
    {
        const FolderListing listing = listFolder(QDir(path));
        // An unreadable folder lists as empty; only then is it worth asking why.
        if (listing.sheets.isEmpty() && listing.subfolders.isEmpty()) {
            const QFileInfo info(path);
            if (!info.isReadable() || !info.isExecutable())
                complain(QStringLiteral("dossier illisible"), path);
            return;
        }
        for (const QString &sheet : listing.sheets)
            handleSheet(sheet);
        if (recursive) {
            for (const QString &subfolder : listing.subfolders)
                handleFolder(subfolder);
        }
    }

    void handleSheet(const QString &path)
    {
        const int result
            = processCueFile(path, {}, dryRun ? WriteMode::DryRun : WriteMode::Rewrite);
        switch (result) {
        case CueResult::Pruned:
            ++pruned;
            break;
        case CueResult::Unchanged:
            ++unchanged;
            break;
        default:
            ++errors;
        }
        if (quiet && result == CueResult::Unchanged)
            return;
        out << path << '\n'
            << (dryRun && result == CueResult::Pruned ? QStringLiteral("==> Fichier à modifier !")
                                                      : verdictText(result))
            << '\n';
    }

    void complain(const QString &problem, const QString &path)
    {
        ++unreachable;
        out.flush();
        err << "cueprune : " << problem << " : " << path << Qt::endl;
    }

    const bool recursive;
    const bool dryRun;
    const bool quiet;
    QTextStream out { stdout };
    QTextStream err { stderr };
    qsizetype pruned = 0;
    qsizetype unchanged = 0;
    qsizetype errors = 0;
    qsizetype unreachable = 0; // missing paths and unreadable folders
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("cueprune"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CUETOOLS_VERSION));
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
    parser.addOptions({ recursive, dryRun, quiet });
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

    Run run(parser.isSet(recursive), parser.isSet(dryRun), parser.isSet(quiet));
    for (const QString &argument : parser.positionalArguments())
        run.handleArgument(argument);
    run.printSummary();
    return run.anyFailure() ? 1 : 0;
}
