#include "cueprune/completions.h"

#include "cueprune/options.h"

namespace cueprune {

namespace {

// text between single quotes for a shell.
QString singleQuoted(QString text)
{
    return QLatin1Char('\'') + text.replace(QLatin1Char('\''), QStringLiteral("'\\''"))
        + QLatin1Char('\'');
}

} // namespace

QString bashCompletion()
{
    QStringList words;
    QStringList takingValue;
    QString valueCases;
    for (const OptionSpec &option : optionTable()) {
        for (const QString &name : option.dashedNames()) {
            const bool optional
                = option.argument == OptionArgument::Optional && name.startsWith("--");
            words.append(name + (optional ? QStringLiteral("=") : QString()));
            if (optional)
                words.append(name);
            if (option.argument == OptionArgument::Required)
                takingValue.append(name);
        }
        if (option.argument == OptionArgument::Optional) {
            valueCases += QStringLiteral("    %1=*)\n        COMPREPLY=($(compgen -W %2 -- "
                                         "\"${current#*=}\"))\n        return ;;\n")
                              .arg(option.dashedNames().constLast(),
                                  singleQuoted(option.values.join(QLatin1Char(' '))));
        }
    }
    return QStringLiteral(
        "# bash completion for cueprune, made from its option table.\n"
        "_cueprune()\n"
        "{\n"
        "    local current=${COMP_WORDS[COMP_CWORD]} previous=${COMP_WORDS[COMP_CWORD-1]}\n"
        "    # Where \"=\" breaks words, --name=value comes as three words.\n"
        "    if [ \"$current\" = = ]; then\n"
        "        current=\"$previous=\"\n"
        "    elif [ \"$previous\" = = ] && [ \"$COMP_CWORD\" -ge 2 ]; then\n"
        "        current=\"${COMP_WORDS[COMP_CWORD-2]}=$current\"\n"
        "    else\n"
        "        case $previous in\n"
        "        %1) return ;;\n"
        "        esac\n"
        "    fi\n"
        "    case $current in\n"
        "%2"
        "    -*)\n"
        "        COMPREPLY=($(compgen -W %3 -- \"$current\"))\n"
        "        [ \"${#COMPREPLY[@]}\" = 1 ] && [ \"${COMPREPLY[0]: -1}\" = = ] && compopt -o "
        "nospace\n"
        "        return ;;\n"
        "    esac\n"
        "}\n"
        "complete -o default -F _cueprune cueprune\n")
        .arg(takingValue.join(QLatin1Char('|')), valueCases,
            singleQuoted(words.join(QLatin1Char(' '))));
}

QString zshCompletion()
{
    // Brackets and colons end a description in _arguments' specifications.
    const auto described = [](QString text) {
        return text.replace(QLatin1Char('['), QStringLiteral("\\["))
            .replace(QLatin1Char(']'), QStringLiteral("\\]"))
            .replace(QLatin1Char(':'), QStringLiteral("\\:"));
    };
    QString specs;
    for (const OptionSpec &option : optionTable()) {
        const QStringList names = option.dashedNames();
        for (const QString &name : names) {
            QString spec = QStringLiteral("(%1)%2").arg(names.join(QLatin1Char(' ')), name);
            const bool optional = option.argument == OptionArgument::Optional;
            QString value;
            if (optional && name.startsWith("--"))
                value = QStringLiteral("::%1:(%2)")
                            .arg(option.valueName, option.values.join(QLatin1Char(' ')));
            else if (option.argument == OptionArgument::Required)
                value = QStringLiteral(":%1: ").arg(option.valueName);
            if (!value.isEmpty())
                spec += optional ? QStringLiteral("=-") : QStringLiteral("+");
            spec += QStringLiteral("[%1]").arg(described(option.description)) + value;
            specs += QStringLiteral("    ") + singleQuoted(spec) + QStringLiteral(" \\\n");
        }
    }
    return QStringLiteral("#compdef cueprune\n"
                          "# zsh completion for cueprune, made from its option table.\n"
                          "_arguments -s -S \\\n%1    '*:CHEMIN:_files'\n")
        .arg(specs);
}

QString fishCompletion()
{
    QString lines = QStringLiteral("# fish completion for cueprune, made from its option table.\n");
    for (const OptionSpec &option : optionTable()) {
        QString line = QStringLiteral("complete -c cueprune");
        if (option.shortName != '\0')
            line += QStringLiteral(" -s ") + QLatin1Char(option.shortName);
        line += QStringLiteral(" -l ") + option.longName;
        if (option.argument == OptionArgument::Required)
            line += QStringLiteral(" -x");
        lines
            += line + QStringLiteral(" -d ") + singleQuoted(option.description) + QLatin1Char('\n');
        if (option.argument == OptionArgument::Optional) {
            QStringList values;
            for (const QString &value : option.values)
                values.append(QStringLiteral("--%1=%2").arg(option.longName, value));
            lines += QStringLiteral("complete -c cueprune -f -n %1 -a %2\n")
                         .arg(singleQuoted(
                                  QStringLiteral("string match -q -- '--%1=*' (commandline -ct)")
                                      .arg(option.longName)),
                             singleQuoted(values.join(QLatin1Char(' '))));
        }
    }
    return lines;
}

} // namespace cueprune
