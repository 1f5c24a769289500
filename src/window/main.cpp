#include "engine/qtfrench.h"
#include "window/vexatrin.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
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
