#pragma once

#include "window/vexatrin.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace testsupport {

// A program's window and the widgets the tests drive, found by object name.
struct Window
{
    VexaTrin window;
    QLineEdit *path = window.findChild<QLineEdit *>("lineEdit");
    QLineEdit *status = window.findChild<QLineEdit *>("lineEdit_2");
    QPlainTextEdit *textArea = window.findChild<QPlainTextEdit *>("plainTextEdit");

    // Puts path into the field and clicks the run button.
    void run(const QString &pathText)
    {
        path->setText(pathText);
        QTest::mouseClick(window.findChild<QPushButton *>("pushButton_2"), Qt::LeftButton);
    }
};

// The offscreen platform warns each time a shown window's size limits change; count is how
// many times the step about to run does so.
inline void expectSizeHintWarnings(int count)
{
    for (int i = 0; i < count; ++i)
        QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
}

} // namespace testsupport
