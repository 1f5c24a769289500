#include "window/commandline.h"

#include "engine/explanations.h"

#include <algorithm>
#include <iterator>

namespace {

// The options QGuiApplication, QApplication and the X11 platform take out of argv themselves,
// by their one-dash names (Qt takes two dashes too), and whether the next argument is theirs.
struct QtOption
{
    const char *name;
    bool takesValue;
};

constexpr QtOption qtOptions[] = { { "-platform", true }, { "-platformpluginpath", true },
    { "-platformtheme", true }, { "-plugin", true }, { "-qwindowgeometry", true },
    { "-geometry", true }, { "-qwindowtitle", true }, { "-title", true }, { "-qwindowicon", true },
    { "-icon", true }, { "-session", true }, { "-style", true }, { "-stylesheet", true },
    { "-display", true }, { "-name", true }, { "-visual", true }, { "-reverse", false },
    { "-testability", false }, { "-widgetcount", false }, { "-nograb", false },
    { "-dograb", false } };

// The ones Qt takes with their value joined by "=".
constexpr const char *qtJoinedOptions[] = { "-style=", "-stylesheet=", "-qmljsdebugger=" };

// How many arguments a Qt option takes from argument on: 1, 2 with its value, 0 if not Qt's.
int qtOptionLength(const QByteArray &argument)
{
    const QByteArray name = argument.startsWith("--") ? argument.mid(1) : argument;
    const auto *known = std::find_if(std::begin(qtOptions), std::end(qtOptions),
        [&](const QtOption &option) { return name == option.name; });
    if (known != std::end(qtOptions))
        return known->takesValue ? 2 : 1;
    return std::any_of(std::begin(qtJoinedOptions), std::end(qtJoinedOptions),
               [&](const char *prefix) { return name.startsWith(prefix); })
        ? 1
        : 0;
}

} // namespace

CommandLine parseCommandLine(int argc, const char *const *argv)
{
    CommandLine line;
    bool pathTaken = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        const bool option = !optionsEnded && argument.startsWith('-') && argument != "-";
        if (option && argument == "--") {
            optionsEnded = true;
        } else if (option && (argument == "-h" || argument == "--help")) {
            return { CommandLine::Action::Help, {} };
        } else if (option && (argument == "-v" || argument == "--version")) {
            return { CommandLine::Action::Version, {} };
        } else if (const int length = option ? qtOptionLength(argument) : 0; length > 0) {
            i += length - 1;
        } else if (option) {
            if (line.action == CommandLine::Action::Open)
                line = { CommandLine::Action::UnknownOption, argument };
        } else if (!pathTaken) {
            pathTaken = true;
            if (line.action == CommandLine::Action::Open)
                line.argument = argument;
        }
    }
    return line;
}

QString unknownOptionText(const QByteArray &option)
{
    const bool oneLetter
        = option.size() == 2 && option[0] == '-' && option[1] > ' ' && option[1] < 0x7F;
    return oneLetter ? cueprune::invalidOptionText(option[1])
                     : cueprune::unrecognisedOptionText(option);
}
