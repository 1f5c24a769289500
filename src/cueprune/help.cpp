#include "cueprune/help.h"

#include "cueprune/options.h"

namespace cueprune {

namespace {

// text cut into lines of at most width characters, at spaces, each but the first after
// indent spaces.
QString wrapped(const QString &text, qsizetype indent, qsizetype width)
{
    QString lines;
    qsizetype lineLength = 0;
    for (const QString &word : text.split(QLatin1Char(' '))) {
        if (lineLength > 0 && lineLength + 1 + word.size() > width - indent) {
            lines += QLatin1Char('\n') + QString(indent, QLatin1Char(' '));
            lineLength = 0;
        } else if (lineLength > 0) {
            lines += QLatin1Char(' ');
            ++lineLength;
        }
        lines += word;
        lineLength += word.size();
    }
    return lines;
}

// An option as --help shows it: "-j, --jobs=N", "    --json".
QString helpNames(const OptionSpec &option)
{
    QString names = option.shortName != '\0'
        ? QStringLiteral("-%1, ").arg(QLatin1Char(option.shortName))
        : QStringLiteral("    ");
    names += QStringLiteral("--") + option.longName;
    if (option.argument == OptionArgument::Required)
        names += QLatin1Char('=') + option.valueName;
    else if (option.argument == OptionArgument::Optional)
        names += QStringLiteral("[=%1]").arg(option.valueName);
    return names;
}

} // namespace

QString helpText()
{
    constexpr qsizetype column = 28;
    constexpr qsizetype width = 80;
    QString text = QStringLiteral("Utilisation : cueprune [OPTION]... CHEMIN...\n")
        + wrapped(QStringLiteral("Retire des feuilles CUE chaque ligne « INDEX 00 » directement "
                                 "suivie d'une ligne « INDEX 01 »."),
            0, width)
        + QLatin1Char('\n')
        + wrapped(QStringLiteral("Un dossier donne ses fichiers *.cue ; -r y ajoute ses "
                                 "sous-dossiers. Sans -n, les feuilles sont réécrites aussitôt."),
            0, width)
        + QStringLiteral("\n\nOptions :\n");
    for (const OptionSpec &option : optionTable()) {
        const QString names = QStringLiteral("  ") + helpNames(option);
        text += names.leftJustified(column - 1) + QLatin1Char(' ')
            + wrapped(option.description, column, width) + QLatin1Char('\n');
    }
    return text
        + QStringLiteral(
            "\nCodes de retour :\n"
            "  0              toutes les feuilles ont été traitées\n"
            "  1              un chemin introuvable, un dossier illisible, une feuille en\n"
            "                 erreur, ou une sortie impossible à écrire\n"
            "  2              erreur d'utilisation\n"
            "  129, 130, 143  arrêté par SIGHUP, SIGINT ou SIGTERM\n"
            "  141            le lecteur de la sortie standard est parti\n"
            "\nExemples :\n"
            "  cueprune -r -n ~/Musique   montre les feuilles qui changeraient, sans écrire\n"
            "  cueprune -r -b ~/Musique   les réécrit en gardant l'ancienne sous feuille.cue~\n");
}

} // namespace cueprune
