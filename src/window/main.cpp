#include "files/processedges.h"
#include "window/commandline.h"
#include "window/qtfrench.h"
#include "window/vexatrin.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>

namespace {

// Prints text on stream; a failure to print it is a failure of the program.
int printAndLeave(std::FILE *stream, const QString &text, int status)
{
    std::fputs(qUtf8Printable(text), stream);
    return cueprune::allWritten(stream) ? status : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    // Nothing is opened before the standard descriptors are valid.
    if (!cueprune::openClosedStandardDescriptors())
        return 1;
    cueprune::raiseDescriptorLimit();
    const CommandLine asked = parseCommandLine(argc, argv);
    if (asked.action == CommandLine::Action::Help)
        return printAndLeave(stdout,
            VexaTrin::usage()
                + QStringLiteral("\n"
                                 "  -h, --help     Affiche cette aide.\n"
                                 "  -v, --version  Affiche la version.\n"
                                 "  --             Termine les options : ce qui suit est le "
                                 "chemin.\n"),
            0);
    if (asked.action == CommandLine::Action::Version)
        return printAndLeave(stdout, QStringLiteral(CUEPRUNE_PROGRAM " " CUEPRUNE_VERSION "\n"), 0);
    if (asked.action == CommandLine::Action::UnknownOption)
        return printAndLeave(stderr,
            QStringLiteral(CUEPRUNE_PROGRAM " : %1\nEssayez « " CUEPRUNE_PROGRAM " --help ».\n")
                .arg(unknownOptionText(asked.argument)),
            2);

    // Takes Qt's own options (-platform, -style...) out of argv.
    QApplication application(argc, argv);
    // Lets docks and task bars match the window with its desktop entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(CUEPRUNE_DESKTOP_ID));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/cueprune.svg")));
    cueprune::installQtFrenchTexts();
    VexaTrin window;
    if (!asked.argument.isEmpty())
        window.takePath(asked.argument);
    window.show();
    application.exec();
    return 0;
}
