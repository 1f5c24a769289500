#pragma once

#include "ui_vexatrin.h"

#include <QMainWindow>

// The window of both programs. Each program links its own bodies of the two slots, which
// the form binds to the buttons by object name.
class VexaTrin : public QMainWindow
{
    Q_OBJECT

public:
    explicit VexaTrin(QWidget *parent = nullptr);

public slots:
    void on_pushButton_clicked();
    void on_pushButton_2_clicked();

private:
    Ui_Vexatrin ui;
};
