#include "vexatrin.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    VexaTrin window;
    window.show();
    application.exec();
    return 0;
}
