#include "engine/qtfrench.h"
#include "files/processedges.h"
#include "window/vexatrin.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    // Nothing is opened before the standard descriptors are valid.
    if (!cueprune::openClosedStandardDescriptors())
        return 1;
    cueprune::raiseDescriptorLimit();
    QApplication application(argc, argv);
    // Lets docks and task bars match the window with its desktop entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(CUEPRUNE_DESKTOP_ID));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/cueprune.svg")));
    cueprune::installQtFrenchTexts();
    VexaTrin window;
    window.takeArguments(QCoreApplication::arguments());
    window.show();
    application.exec();
    return 0;
}
