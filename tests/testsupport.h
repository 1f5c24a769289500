#pragma once

#include <QDateTime>
#include <QFile>

#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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

inline bool setMode(const QString &path, mode_t mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

// A modification time that no write made during a test can leave behind.
inline QDateTime longAgo()
{
    return QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6));
}

inline bool backdate(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite)
        && file.setFileTime(longAgo(), QFileDevice::FileModificationTime);
}

// For a QProcess child modifier: root reads and writes through any permission, so a child
// started by root runs as "nobody" instead.
inline void dropRootPrivileges()
{
    constexpr uid_t nobody = 65534;
    if (geteuid() == 0
        && (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0))
        _exit(3);
}

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
