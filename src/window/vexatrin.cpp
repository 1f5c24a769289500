#include "vexatrin.h"

#include "ui_vexatrin.h"

VexaTrin::VexaTrin(QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui_Vexatrin>())
{
    ui->setupUi(this);
}

VexaTrin::~VexaTrin() = default;
