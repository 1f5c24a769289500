#include "cueprune/completions.h"
#include "cueprune/help.h"
#include "cueprune/options.h"
#include "support/files.h"

#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include <optional>

using cueprune::Request;
using cueprune::UsageError;

namespace {

// A request in a few words: the flags set, then workers, backup and paths.
QString described(const Request &request)
{
    using Control = cueprune::BackupPolicy::Control;
    if (request.action != Request::Action::Run)
        return request.action == Request::Action::Help ? "help" : "version";
    const cueprune::SheetRun::Options &options = request.options;
    static const QHash<Control, QString> controls
        = { { Control::None, "none" }, { Control::Simple, "simple" },
              { Control::Numbered, "numbered" }, { Control::Existing, "existing" } };
    QString text = QString(options.recursive ? "r" : "") + (options.dryRun ? "n" : "")
        + (options.quiet ? "q" : "") + (options.json ? "J" : "") + (options.diff ? "d" : "")
        + (options.rule == cueprune::PregapRule::KeepFirstOfFile ? "k" : "");
    text += QStringLiteral(" j%1 %2").arg(options.workers).arg(controls[options.backup.control]);
    if (options.backup.control != Control::None)
        text += QString::fromUtf8(options.backup.suffix);
    for (const QByteArray &path : request.paths)
        text += ' ' + QString::fromUtf8(path);
    return text;
}

// arguments read, a first argument NAME=value being set in the environment meanwhile.
std::variant<Request, UsageError> parsed(QByteArrayList arguments)
{
    std::optional<QByteArray> variable;
    if (!arguments.isEmpty() && arguments.constFirst().contains('=')
        && !arguments.constFirst().startsWith('-')) {
        const QByteArray assignment = arguments.takeFirst();
        variable = assignment.left(assignment.indexOf('='));
        qputenv(*variable, assignment.mid(variable->size() + 1));
    }
    const auto request = cueprune::parseCommandLine(arguments);
    if (variable)
        qunsetenv(*variable);
    return request;
}

// The option names a text shows: "-r" and "--recursive", as pattern finds them.
QSet<QString> namesIn(const QString &text, const QRegularExpression &pattern)
{
    QSet<QString> names;
    for (const auto &match : pattern.globalMatch(text))
        names.insert(match.captured(1).remove('\\'));
    return names;
}

} // namespace

class TestOptions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readsAsGetoptLong_data();
    void readsAsGetoptLong();
    void helpManPageAndCompletionsAgree();
};

void TestOptions::initTestCase()
{
    qunsetenv("VERSION_CONTROL");
    qunsetenv("SIMPLE_BACKUP_SUFFIX");
}

void TestOptions::readsAsGetoptLong_data()
{
    QTest::addColumn<QByteArrayList>("arguments");
    QTest::addColumn<QString>("read"); // the request in a few words, or the usage error
    const auto row = [](const char *name, const char *arguments, const QString &read) {
        QTest::newRow(name) << QByteArray(arguments).split(' ') << read;
    };
    const QString validBackups = "Les arguments valables sont :\n  - « none », « off »\n"
                                 "  - « numbered », « t »\n  - « existing », « nil »\n"
                                 "  - « simple », « never »";
    row("defaults", "a", " j16 none a");
    row("grouped", "-rnq a", "rnq j4 none a");
    row("valueAttached", "-rj2 a", "r j2 none a");
    row("valueNext", "-j 2 a", " j2 none a");
    row("longValueAttached", "--jobs=3 a", " j3 none a");
    row("longValueNext", "--jobs 3 a", " j3 none a");
    row("prefixes", "--rec --dry --js --jo 5 a", "rnJ j5 none a");
    // A rewrite that records its way back waits on flushes: more sheets at once.
    row("diffRewrite", "--diff a", "d j64 none a");
    row("jsonRewrite", "--json a", "J j64 none a");
    row("diffDryRun", "-n --diff a", "nd j4 none a");
    row("backupDefault", "-b a", " j16 existing~ a");
    row("backupPrefix", "--back=num a", " j16 numbered~ a");
    row("backupSynonym", "--backup=never a", " j16 simple~ a");
    row("suffixImpliesBackup", "-S .old a", " j16 existing.old a");
    row("optionsAfterPaths", "a -n b", "n j4 none a b");
    row("doubleDashEndsOptions", "-n -- -r --json", "n j4 none -r --json");
    row("dashIsAPath", "-", " j16 none -");
    row("helpAtOnce", "--he --bogus", "help");
    row("helpInAGroup", "-nh", "help");
    row("version", "-v a", "version");
    row("helpBeforeAnUnknownLetter", "-hx", "help");
    row("mostJobs", "-j256 a", " j256 none a");
    row("fewestJobs", "--jobs=1 a", " j1 none a");
    row("versionControlFromEnvironment", "VERSION_CONTROL=t -b a", " j16 numbered~ a");
    row("optionOverEnvironment", "VERSION_CONTROL=t --backup=simple a", " j16 simple~ a");
    row("suffixFromEnvironment", "SIMPLE_BACKUP_SUFFIX=.bak -b a", " j16 existing.bak a");
    row("suffixWithSlashInEnvironment", "SIMPLE_BACKUP_SUFFIX=a/b -b a", " j16 existing~ a");
    row("offFromEnvironment", "VERSION_CONTROL=off -b a", " j16 none a");
    row("eachOptionItsOwnField", "-rq --jobs=2 -S .x --keep-first-pregap --diff a",
        "rqdk j2 existing.x a");
    row("noPath", "-n", "aucun CHEMIN donné.");
    row("invalidShort", "-n -odd.cue", "option invalide -- 'o'");
    row("invalidControlByte", "-\x1b", R"(option invalide -- $'\033')");
    row("unrecognised", "--foo=1 a", "option non reconnue « --foo »");
    row("unrecognisedWithEscape", "--\x1b[2K", R"(option non reconnue « '--'$'\033''[2K' »)");
    row("helpAllIsGone", "--help-all", "option non reconnue « --help-all »");
    row("ambiguous", "--j a", "option « --j » ambiguë ; possibilités : « --jobs » « --json »");
    row("shortNeedsValue", "a -rj", "l'option « -j » requiert un argument");
    row("longNeedsValue", "a --jobs", "l'option « --jobs » requiert un argument");
    row("takesNoValue", "--dry=yes a", "l'option « --dry-run » ne prend pas d'argument");
    row("ambiguousControl", "--backup=n a",
        "argument ambigu « n » pour « --backup »\n" + validBackups);
    row("invalidControl", "--backup=x a",
        "argument invalide « x » pour « --backup »\n" + validBackups);
    row("diffAndJson", "--diff --json a", "impossible de combiner --diff et --json");
    row("badJobs", "-j 0 a", "nombre de feuilles à la fois invalide : 0");
    row("tooManyJobs", "-j 257 a", "nombre de feuilles à la fois invalide : 257");
    row("suffixMakingASheet", "-S .CUE a",
        "un nom de sauvegarde finirait en .cue avec le suffixe « .CUE »");
    row("suffixEndingACueName", "-S UE a",
        "un nom de sauvegarde finirait en .cue avec le suffixe « UE »");
    row("unknownControlFromEnvironment", "VERSION_CONTROL=x -b a",
        "argument invalide « x » pour « $VERSION_CONTROL »\n" + validBackups);
    row("suffixWithSlash", "--suffix=a/b a", "suffixe de sauvegarde invalide : « a/b »");
}

void TestOptions::readsAsGetoptLong()
{
    QFETCH(QByteArrayList, arguments);
    QFETCH(QString, read);
    const auto request = parsed(arguments);
    const auto *error = std::get_if<UsageError>(&request);
    QCOMPARE(error ? error->text : described(std::get<Request>(request)), read);
}

// --help, the man page and the three completions name the very options of the table.
void TestOptions::helpManPageAndCompletionsAgree()
{
    QSet<QString> table;
    const QString fish = cueprune::fishCompletion();
    qsizetype shortNames = 0;
    for (const auto &option : cueprune::optionTable()) {
        for (const QString &name : option.dashedNames()) {
            table.insert(name);
            QVERIFY2(cueprune::bashCompletion().contains(name), qPrintable(name));
            QVERIFY2(cueprune::zshCompletion().contains(name), qPrintable(name));
        }
        QVERIFY2(fish.contains(" -l " + option.longName + ' '), qPrintable(option.longName));
        shortNames += option.shortName != '\0';
    }
    QCOMPARE(fish.count("complete -c cueprune -s "), shortNames);
    const QRegularExpression dashed(R"((?<![\w-])(--?[a-zA-Z][\w-]*))");
    // In --help, the names' column of the options' block.
    QString helpNames;
    for (const QString &line :
        cueprune::helpText().section("Options :\n", 1).section("\n\n", 0, 0).split('\n'))
        helpNames += line.left(28) + '\n';
    QCOMPARE(namesIn(helpNames, dashed), table);
    for (const QString &line : cueprune::helpText().split('\n'))
        QVERIFY2(line.size() <= 80, qPrintable(line));

    const QString options
        = QString::fromUtf8(testsupport::readFile(QString(MAN_PAGE))).section(".SH OPTIONS", 1);
    const QRegularExpression manHeading(
        R"(^\.TP\n\.BR? ([^\n]*))", QRegularExpression::MultilineOption);
    QString headings;
    for (const auto &match : manHeading.globalMatch(options.section("\n.SH", 0, 0)))
        headings += match.captured(1).remove(QRegularExpression(R"(\\f[BRI])")).remove('\\') + '\n';
    QCOMPARE(namesIn(headings, dashed), table);
}

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
