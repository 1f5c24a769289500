#pragma once

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QTimer>

#include <functional>

#include <signal.h>
#include <sys/resource.h>

namespace testsupport {

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

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

// Makes writes past the given size fail with EFBIG in this process (as on a full disk),
// whatever the user's privileges, until destroyed.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        previousHandler = signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved;
        limited.rlim_cur = bytes;
        active = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, previousHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool isActive() const { return active; }

private:
    rlimit saved {};
    sighandler_t previousHandler;
    bool active = false;
};

} // namespace testsupport
