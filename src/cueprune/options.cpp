#include "cueprune/options.h"

#include "engine/sheetbatch.h"

namespace cueprune {

const QStringList &backupControls()
{
    static const QStringList controls
        = { "none", "off", "numbered", "t", "existing", "nil", "simple", "never" };
    return controls;
}

const QList<OptionSpec> &optionTable()
{
    const QString none;
    const QStringList noValues;
    static const QList<OptionSpec> table = {
        { { "r", "recursive" }, QStringLiteral("Parcourt aussi les sous-dossiers."), none, false,
            noValues, false },
        { { "n", "dry-run" }, QStringLiteral("N'écrit rien : indique les feuilles à modifier."),
            none, false, noValues, false },
        { { "q", "quiet" },
            QStringLiteral("N'affiche que les feuilles modifiées ou en erreur, et le bilan."), none,
            false, noValues, false },
        { { "j", "jobs" },
            QStringLiteral("Traite N feuilles à la fois (par défaut %1, %2 avec -n).")
                .arg(SheetBatch::defaultWorkers(WriteMode::Rewrite))
                .arg(SheetBatch::defaultWorkers(WriteMode::DryRun)),
            QStringLiteral("N"), false, noValues, false },
        { { "b", "backup" },
            QStringLiteral("Garde chaque feuille modifiée sous un nom de sauvegarde ; "
                           "--backup=CONTRÔLE choisit lequel (none, numbered, existing, "
                           "simple ; par défaut VERSION_CONTROL, sinon existing)."),
            QStringLiteral("CONTRÔLE"), true, backupControls(), false },
        { { "S", "suffix" },
            QStringLiteral("Suffixe des sauvegardes simples (par défaut SIMPLE_BACKUP_SUFFIX, "
                           "sinon ~) ; implique --backup."),
            QStringLiteral("SUFFIXE"), false, noValues, false },
        { { "json" },
            QStringLiteral("Écrit un objet JSON par ligne sur la sortie standard : un par "
                           "feuille ou chemin inaccessible, puis le bilan."),
            none, false, noValues, false },
        { { "h", "help" }, QStringLiteral("Affiche cette aide."), none, false, noValues, true },
        { { "help-all" }, QStringLiteral("Affiche cette aide."), none, false, noValues, true },
        { { "v", "version" }, QStringLiteral("Affiche la version."), none, false, noValues, true },
    };
    return table;
}

namespace {

QString dashed(const QString &name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

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
        for (const QString &name : option.names) {
            const bool optional = option.valueOptional && name.size() > 1;
            words.append(dashed(name) + (optional ? QStringLiteral("=") : QString()));
            if (optional)
                words.append(dashed(name));
            if (!option.valueName.isEmpty() && !option.valueOptional)
                takingValue.append(dashed(name));
        }
        if (option.valueOptional) {
            valueCases += QStringLiteral("    %1=*)\n        COMPREPLY=($(compgen -W %2 -- "
                                         "\"${current#*=}\"))\n        return ;;\n")
                              .arg(dashed(option.names.last()),
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
        QStringList exclusive;
        for (const QString &name : option.names)
            exclusive.append(dashed(name));
        for (const QString &name : option.names) {
            QString spec
                = QStringLiteral("(%1)%2").arg(exclusive.join(QLatin1Char(' ')), dashed(name));
            QString value;
            if (!option.valueName.isEmpty() && option.valueOptional && name.size() > 1)
                value = QStringLiteral("::%1:(%2)")
                            .arg(option.valueName, option.values.join(QLatin1Char(' ')));
            else if (!option.valueName.isEmpty() && !option.valueOptional)
                value = QStringLiteral(":%1: ").arg(option.valueName);
            if (!value.isEmpty())
                spec += option.valueOptional ? QStringLiteral("=-") : QStringLiteral("+");
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
        for (const QString &name : option.names)
            line += (name.size() == 1 ? QStringLiteral(" -s ") : QStringLiteral(" -l ")) + name;
        if (!option.valueName.isEmpty() && !option.valueOptional)
            line += QStringLiteral(" -x");
        lines
            += line + QStringLiteral(" -d ") + singleQuoted(option.description) + QLatin1Char('\n');
        if (option.valueOptional) {
            QStringList values;
            for (const QString &value : option.values)
                values.append(dashed(option.names.last()) + QLatin1Char('=') + value);
            lines += QStringLiteral("complete -c cueprune -f -n %1 -a %2\n")
                         .arg(singleQuoted(
                                  QStringLiteral("string match -q -- '%1=*' (commandline -ct)")
                                      .arg(dashed(option.names.last()))),
                             singleQuoted(values.join(QLatin1Char(' '))));
        }
    }
    return lines;
}

} // namespace cueprune
