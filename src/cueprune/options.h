#pragma once

#include "cueprune/sheetrun.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <variant>

namespace cueprune {

enum class OptionArgument {
    None,
    Required, // --name=VALUE, --name VALUE, -xVALUE or -x VALUE
    Optional, // only as --name=VALUE; the short name then takes none
};

// One option of cueprune. The parser, --help and the shell completions are all made from the
// one table of them, so that they cannot say different things.
struct OptionSpec
{
    enum class Id {
        Recursive,
        DryRun,
        Quiet,
        Jobs,
        Backup,
        Suffix,
        KeepFirstPregap,
        Diff,
        Json,
        Help,
        Version,
    };
    Id id;
    char shortName; // '\0' when it has none
    QString longName;
    OptionArgument argument;
    QString valueName;
    QString description;
    QStringList values; // what the value may be, for completion

    // The names as typed: "-r", "--recursive".
    [[nodiscard]] QStringList dashedNames() const;
};

[[nodiscard]] const QList<OptionSpec> &optionTable();

// The words --backup takes, as GNU cp, mv and install take them.
[[nodiscard]] QStringList backupControls();

// What a command line asks for.
struct Request
{
    enum class Action { Run, Help, Version };
    Action action = Action::Run;
    // All but what only the terminal can tell (progress, pipes).
    SheetRun::Options options;
    QList<QByteArray> paths; // the bytes given
};

// What is wrong with a command line, in GNU tools' words, in French: one or more lines, without
// the program's name.
struct UsageError
{
    QString text;
};

// Reads arguments (those after the program's name) as GNU getopt_long does: grouped short
// options, values attached or in the next argument, any unambiguous beginning of a long
// option, options after paths, "--" ending the options. --help and --version act as soon as
// they are read. VERSION_CONTROL and SIMPLE_BACKUP_SUFFIX are read from the environment.
[[nodiscard]] std::variant<Request, UsageError> parseCommandLine(
    const QList<QByteArray> &arguments);

} // namespace cueprune
