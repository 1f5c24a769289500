#include "window/commandline.h"

CommandLine parseCommandLine(int argc, const char *const *argv)
{
    CommandLine line;
    bool pathTaken = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (argument == "-h" || argument == "--help")) {
            return { CommandLine::Action::Help, {} };
        } else if (!optionsEnded && (argument == "-v" || argument == "--version")) {
            return { CommandLine::Action::Version, {} };
        } else if (!optionsEnded && argument.startsWith('-') && argument != "-") {
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
