#pragma once

#include <QByteArray>
#include <QString>

// What a window program is asked to do by its command line: the first argument that is not an
// option is the path for its field, as the bytes the system passed; "--" ends the options. Qt's
// own options (-platform NAME, -style NAME, -reverse...) are passed over, Qt takes them.
struct CommandLine
{
    enum class Action { Open, Help, Version, UnknownOption };
    Action action = Action::Open;
    QByteArray argument; // the path to open (may be empty), or the unknown option
};

// Read before the application object exists, which needs a display: help, the version and an
// unknown option are answered without one. Asking for help or the version wins over anything
// else given before "--".
[[nodiscard]] CommandLine parseCommandLine(int argc, const char *const *argv);

// What is wrong with an unknown option, in cueprune's words: "option non reconnue « --odd »",
// "option invalide -- 'x'".
[[nodiscard]] QString unknownOptionText(const QByteArray &option);
