#pragma once

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <functional>

namespace testsupport {

// Hands each modal dialog to handle as soon as it is shown, for as long as this object lives;
// handle must close it.
class ModalDialogHandler
{
public:
    explicit ModalDialogHandler(std::function<void(QDialog *)> handle)
    {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this, handle] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (dialog && dialog->isVisible()) {
                ++count;
                handle(dialog);
            }
        });
        timer.start();
    }

    int handled() const { return count; }

private:
    QTimer timer;
    int count = 0;
};

} // namespace testsupport
