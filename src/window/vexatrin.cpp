#include "vexatrin.h"

VexaTrin::VexaTrin(QWidget *parent)
    : QMainWindow(parent)
{
    ui.setupUi(this);
}
