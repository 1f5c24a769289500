#pragma once

#include <QByteArray>

// What a window program is asked to do by its command line: the first argument that is not an
// option is the path for its field, as the bytes the system passed; "--" ends the options.
struct CommandLine
{
    enum class Action { Open, Help, Version, UnknownOption };
    Action action = Action::Open;
    QByteArray argument; // the path to open (may be empty), or the unknown option
};

// Asking for help or the version wins over anything else given before "--", so that it is
// answered before Qt, which takes its own options out of argv, needs a display.
[[nodiscard]] CommandLine parseCommandLine(int argc, const char *const *argv);
