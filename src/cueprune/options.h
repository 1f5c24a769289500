#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace cueprune {

// One option of cueprune. The parser, --help and the shell completions are all made from the
// one table of them, so that they cannot say different things.
struct OptionSpec
{
    QStringList names; // as QCommandLineOption takes them: the short one first
    QString description;
    QString valueName; // of the value it takes; empty when it takes none
    bool valueOptional = false; // the value is given only as --name=VALUE
    QStringList values; // what the value may be, for completion
    bool fromParser = false; // added by QCommandLineParser itself
};

[[nodiscard]] const QList<OptionSpec> &optionTable();

// The words --backup takes, as GNU cp, mv and install take them.
[[nodiscard]] const QStringList &backupControls();

// Completion scripts for the shells, made from the table.
[[nodiscard]] QString bashCompletion();
[[nodiscard]] QString zshCompletion();
[[nodiscard]] QString fishCompletion();

} // namespace cueprune
