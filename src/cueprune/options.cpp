#include "cueprune/options.h"

#include "core/quoting.h"
#include "engine/explanations.h"
#include "engine/sheetbatch.h"

#include <iterator>
#include <optional>

namespace cueprune {

namespace {

using Id = OptionSpec::Id;
using Control = BackupPolicy::Control;

// The words of --backup and VERSION_CONTROL, and what each means, two words a meaning.
struct BackupWord
{
    QLatin1String word;
    Control control;
};

constexpr BackupWord backupWords[] = { { QLatin1String("none"), Control::None },
    { QLatin1String("off"), Control::None }, { QLatin1String("numbered"), Control::Numbered },
    { QLatin1String("t"), Control::Numbered }, { QLatin1String("existing"), Control::Existing },
    { QLatin1String("nil"), Control::Existing }, { QLatin1String("simple"), Control::Simple },
    { QLatin1String("never"), Control::Simple } };

QString dashed(const QString &name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// Typed text in a message: bare when it may be, else quoted so that it drives no terminal.
QString typed(QByteArrayView text)
{
    return shellQuoted(text);
}

} // namespace

QStringList OptionSpec::dashedNames() const
{
    QStringList names;
    if (shortName != '\0')
        names.append(dashed(QString(QLatin1Char(shortName))));
    names.append(dashed(longName));
    return names;
}

QStringList backupControls()
{
    QStringList words;
    for (const BackupWord &word : backupWords)
        words.append(word.word);
    return words;
}

const QList<OptionSpec> &optionTable()
{
    using Argument = OptionArgument;
    static const QList<OptionSpec> table = {
        { Id::Recursive, 'r', QStringLiteral("recursive"), Argument::None, {},
            QStringLiteral("Parcourt aussi les sous-dossiers."), {} },
        { Id::DryRun, 'n', QStringLiteral("dry-run"), Argument::None, {},
            QStringLiteral("N'écrit rien : indique les feuilles à modifier."), {} },
        { Id::Quiet, 'q', QStringLiteral("quiet"), Argument::None, {},
            QStringLiteral("N'affiche que les feuilles modifiées ou en erreur, et le bilan."), {} },
        { Id::Jobs, 'j', QStringLiteral("jobs"), Argument::Required, QStringLiteral("N"),
            QStringLiteral("Traite N feuilles à la fois (par défaut %1, %2 avec --diff ou "
                           "--json, %3 avec -n).")
                .arg(SheetBatch::defaultWorkers(WriteMode::Rewrite))
                .arg(SheetBatch::defaultWorkers(WriteMode::Rewrite, true))
                .arg(SheetBatch::defaultWorkers(WriteMode::DryRun)),
            {} },
        { Id::Backup, 'b', QStringLiteral("backup"), Argument::Optional, QStringLiteral("CONTRÔLE"),
            QStringLiteral("Garde chaque feuille modifiée sous un nom de sauvegarde ; "
                           "--backup=CONTRÔLE choisit lequel (none, numbered, existing, "
                           "simple ; par défaut VERSION_CONTROL, sinon existing)."),
            backupControls() },
        { Id::Suffix, 'S', QStringLiteral("suffix"), Argument::Required, QStringLiteral("SUFFIXE"),
            QStringLiteral("Suffixe des sauvegardes simples (par défaut SIMPLE_BACKUP_SUFFIX, "
                           "sinon ~) ; implique --backup."),
            {} },
        { Id::KeepFirstPregap, '\0', QStringLiteral("keep-first-pregap"), Argument::None, {},
            QStringLiteral("Garde l'INDEX 00 qui est le premier index de son FILE, dont flac, "
                           "les graveurs et les émulateurs ont besoin ; retire les autres."),
            {} },
        { Id::Diff, '\0', QStringLiteral("diff"), Argument::None, {},
            QStringLiteral("Écrit sur la sortie standard le diff unifié de chaque feuille "
                           "modifiée (patch -R -p1 -d / le défait) ; sur la sortie d'erreur "
                           "vont alors le bilan, les avertissements, les erreurs et, quand la "
                           "sortie standard est un terminal, les verdicts."),
            {} },
        { Id::Json, '\0', QStringLiteral("json"), Argument::None, {},
            QStringLiteral("Écrit un objet JSON par ligne sur la sortie standard : un par "
                           "feuille ou chemin inaccessible, puis le bilan."),
            {} },
        { Id::Help, 'h', QStringLiteral("help"), Argument::None, {},
            QStringLiteral("Affiche cette aide."), {} },
        { Id::Version, 'v', QStringLiteral("version"), Argument::None, {},
            QStringLiteral("Affiche la version."), {} },
    };
    return table;
}

namespace {

// The valid words of --backup as coreutils' argmatch lists them: a meaning a line.
QString validBackupWords()
{
    QString text = QStringLiteral("Les arguments valables sont :");
    for (qsizetype i = 0; i < qsizetype(std::size(backupWords)); ++i) {
        const bool synonym = i > 0 && backupWords[i].control == backupWords[i - 1].control;
        text += (synonym ? QStringLiteral(", ") : QStringLiteral("\n  - "))
            + QStringLiteral("« %1 »").arg(backupWords[i].word);
    }
    return text;
}

// The control word stands for, as argmatch takes it: whole, or any beginning that only one
// meaning has; a usage error otherwise. context is where the word came from.
std::variant<Control, UsageError> backupControl(const QByteArray &word, const QString &context)
{
    std::optional<Control> found;
    bool ambiguous = false;
    for (const BackupWord &known : backupWords) {
        if (QLatin1String(word) == known.word)
            return known.control;
        if (!word.isEmpty() && known.word.startsWith(QLatin1String(word))) {
            ambiguous = ambiguous || (found && *found != known.control);
            found = known.control;
        }
    }
    if (found && !ambiguous)
        return *found;
    return UsageError { QStringLiteral("argument %1 « %2 » pour « %3 »\n")
                            .arg(ambiguous ? QStringLiteral("ambigu") : QStringLiteral("invalide"),
                                typed(word), context)
        + validBackupWords() };
}

// A suffix with which no backup is a sheet: sheets end in ".cue", and a suffix that ends the
// same way, or ends it, would make one that a later run prunes.
std::optional<UsageError> checkSuffix(const QByteArray &suffix)
{
    if (suffix.isEmpty() || suffix.contains('/'))
        return UsageError {
            QStringLiteral("suffixe de sauvegarde invalide : « %1 »").arg(typed(suffix))
        };
    const QByteArray lower = suffix.toLower();
    if (lower.endsWith(".cue") || QByteArrayView(".cue").endsWith(lower))
        return UsageError { QStringLiteral(
            "un nom de sauvegarde finirait en .cue avec le suffixe « %1 »")
                                .arg(typed(suffix)) };
    return std::nullopt;
}

// What a command line said, before it is checked as a whole.
struct ReadOptions
{
    Request request;
    bool backupAsked = false;
    std::optional<QByteArray> backupWord;
    std::optional<QByteArray> suffix;
    std::optional<QByteArray> jobs;
};

// The backups asked for by -b, --backup=CONTROL and -S, with VERSION_CONTROL and
// SIMPLE_BACKUP_SUFFIX as GNU tools read them.
std::variant<BackupPolicy, UsageError> backupPolicy(const ReadOptions &read)
{
    BackupPolicy policy;
    if (!read.backupAsked && !read.suffix)
        return policy;
    const QByteArray fromEnvironment = qgetenv("VERSION_CONTROL");
    const auto control = read.backupWord ? backupControl(*read.backupWord, "--backup")
        : fromEnvironment.isEmpty()      ? Control::Existing
                                         : backupControl(fromEnvironment, "$VERSION_CONTROL");
    if (const auto *error = std::get_if<UsageError>(&control))
        return *error;
    policy.control = std::get<Control>(control);
    const QByteArray simpleSuffix = qgetenv("SIMPLE_BACKUP_SUFFIX");
    policy.suffix = read.suffix                                ? *read.suffix
        : simpleSuffix.isEmpty() || simpleSuffix.contains('/') ? QByteArray("~")
                                                               : simpleSuffix;
    if (auto error = checkSuffix(policy.suffix))
        return *error;
    return policy;
}

// The request once every argument is read: values checked, defaults filled in.
std::variant<Request, UsageError> finished(ReadOptions read)
{
    Request &request = read.request;
    if (request.paths.isEmpty())
        return UsageError { QStringLiteral("aucun CHEMIN donné.") };
    // Both would fill standard output.
    if (request.options.diff && request.options.json)
        return UsageError { QStringLiteral("impossible de combiner --diff et --json") };
    const QByteArray jobs = read.jobs.value_or(QByteArray::number(
        SheetBatch::defaultWorkers(request.options.dryRun ? WriteMode::DryRun : WriteMode::Rewrite,
            request.options.diff || request.options.json)));
    bool valid = false;
    request.options.workers = jobs.toInt(&valid);
    if (!valid || request.options.workers < 1 || request.options.workers > 256)
        return UsageError {
            QStringLiteral("nombre de feuilles à la fois invalide : %1").arg(typed(jobs))
        };
    const auto backup = backupPolicy(read);
    if (const auto *error = std::get_if<UsageError>(&backup))
        return *error;
    request.options.backup = std::get<BackupPolicy>(backup);
    return request;
}

// Records one option, with its value when it takes one.
void take(ReadOptions &read, const OptionSpec &option, const std::optional<QByteArray> &value)
{
    SheetRun::Options &options = read.request.options;
    switch (option.id) {
    case Id::Recursive:
        options.recursive = true;
        break;
    case Id::DryRun:
        options.dryRun = true;
        break;
    case Id::Quiet:
        options.quiet = true;
        break;
    case Id::Json:
        options.json = true;
        break;
    case Id::Diff:
        options.diff = true;
        break;
    case Id::KeepFirstPregap:
        options.rule = PregapRule::KeepFirstOfFile;
        break;
    case Id::Jobs:
        read.jobs = value;
        break;
    case Id::Backup:
        read.backupAsked = true;
        if (value)
            read.backupWord = value;
        break;
    case Id::Suffix:
        read.suffix = value;
        break;
    case Id::Help:
        read.request.action = Request::Action::Help;
        break;
    case Id::Version:
        read.request.action = Request::Action::Version;
        break;
    }
}

// The option a long name stands for: whole, or any beginning only one name has.
std::variant<const OptionSpec *, UsageError> longOption(const QByteArray &name)
{
    QList<const OptionSpec *> candidates;
    for (const OptionSpec &option : optionTable()) {
        if (option.longName.toLatin1() == name)
            return &option;
        if (option.longName.startsWith(QLatin1String(name)))
            candidates.append(&option);
    }
    if (candidates.size() == 1)
        return candidates.constFirst();
    if (candidates.isEmpty())
        return UsageError { unrecognisedOptionText("--" + name) };
    QString text = QStringLiteral("option « %1 » ambiguë ; possibilités :").arg(typed("--" + name));
    for (const OptionSpec *option : std::as_const(candidates))
        text += QStringLiteral(" « --%1 »").arg(option->longName);
    return UsageError { text };
}

const OptionSpec *shortOption(char name)
{
    for (const OptionSpec &option : optionTable()) {
        if (option.shortName == name && name != '\0')
            return &option;
    }
    return nullptr;
}

UsageError missingValue(const QString &name)
{
    return { QStringLiteral("l'option « %1 » requiert un argument").arg(name) };
}

// Reads the options argument at index holds, and the next argument too when it is an option's
// value.
class OptionReader
{
public:
    OptionReader(const QList<QByteArray> &arguments, ReadOptions &read)
        : arguments(arguments)
        , read(read)
    {
    }
    std::optional<UsageError> readLong(qsizetype &index);
    std::optional<UsageError> readShort(qsizetype &index);

private:
    const QList<QByteArray> &arguments;
    ReadOptions &read;
};

std::optional<UsageError> OptionReader::readLong(qsizetype &index)
{
    const QByteArray &argument = arguments[index];
    const qsizetype equals = argument.indexOf('=');
    const QByteArray name = argument.mid(2, equals < 0 ? -1 : equals - 2);
    std::optional<QByteArray> value;
    if (equals >= 0)
        value = argument.mid(equals + 1);
    const auto found = longOption(name);
    if (const auto *error = std::get_if<UsageError>(&found))
        return *error;
    const OptionSpec &option = *std::get<const OptionSpec *>(found);
    if (option.argument == OptionArgument::None && value)
        return UsageError {
            QStringLiteral("l'option « --%1 » ne prend pas d'argument").arg(option.longName)
        };
    if (option.argument == OptionArgument::Required && !value) {
        if (index + 1 == arguments.size())
            return missingValue(QStringLiteral("--") + option.longName);
        value = arguments[++index];
    }
    take(read, option, value);
    return std::nullopt;
}

std::optional<UsageError> OptionReader::readShort(qsizetype &index)
{
    const QByteArray &argument = arguments[index];
    for (qsizetype at = 1; at < argument.size(); ++at) {
        const char name = argument[at];
        const OptionSpec *option = shortOption(name);
        if (option == nullptr)
            return UsageError { invalidOptionText(name) };
        if (option->argument != OptionArgument::Required) {
            take(read, *option, std::nullopt);
            if (read.request.action != Request::Action::Run)
                return std::nullopt;
            continue;
        }
        // It takes the rest of the argument, or the next one.
        if (at + 1 < argument.size()) {
            take(read, *option, argument.mid(at + 1));
        } else if (index + 1 < arguments.size()) {
            take(read, *option, arguments[++index]);
        } else {
            return missingValue(QStringLiteral("-") + QLatin1Char(name));
        }
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

std::variant<Request, UsageError> parseCommandLine(const QList<QByteArray> &arguments)
{
    ReadOptions read;
    OptionReader reader(arguments, read);
    bool optionsEnded = false;
    for (qsizetype index = 0; index < arguments.size(); ++index) {
        const QByteArray &argument = arguments[index];
        if (optionsEnded || argument.size() < 2 || !argument.startsWith('-')) {
            read.request.paths.append(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        const auto error
            = argument.startsWith("--") ? reader.readLong(index) : reader.readShort(index);
        if (error)
            return *error;
        if (read.request.action != Request::Action::Run)
            return read.request;
    }
    return finished(std::move(read));
}

} // namespace cueprune
