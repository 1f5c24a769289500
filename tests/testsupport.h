#pragma once

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <dirent.h>
#include <fcntl.h>

#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace testsupport {

// By the system's own name (bytes), which Qt's file classes cannot open when not UTF-8.
inline bool writeFile(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool written = fd >= 0 && ::write(fd, bytes.constData(), bytes.size()) == bytes.size();
    return fd >= 0 && ::close(fd) == 0 && written;
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    return writeFile(QFile::encodeName(path), bytes);
}

inline QByteArray readFile(const QByteArray &path)
{
    QFile file;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    const QByteArray bytes = fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFile::AutoCloseHandle)
        ? file.readAll()
        : QByteArray("<unreadable>");
    return bytes;
}

inline QByteArray readFile(const QString &path)
{
    return readFile(QFile::encodeName(path));
}

// Every name in folder, hidden ones and those that are not UTF-8 included (QDir skips these).
inline QList<QByteArray> namesIn(const QString &folder)
{
    QList<QByteArray> names;
    if (DIR *stream = ::opendir(QFile::encodeName(folder).constData())) {
        while (const dirent *entry = ::readdir(stream)) {
            if (qstrcmp(entry->d_name, ".") != 0 && qstrcmp(entry->d_name, "..") != 0)
                names.append(entry->d_name);
        }
        ::closedir(stream);
    }
    std::sort(names.begin(), names.end());
    return names;
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

// A copy of program that any user may run: the build folder may sit in a home that other
// users cannot enter. The copy lives as long as the test program.
inline QString runnableByAnyone(const QString &program)
{
    static QTemporaryDir copies;
    const QString copy = copies.filePath(QFileInfo(program).fileName());
    if (!QFileInfo::exists(copy)
        && !(QFile::copy(program, copy) && setMode(copies.path(), 0755) && setMode(copy, 0755)))
        return QString();
    return copy;
}

constexpr uid_t nobody = 65534;

// Gives path to "nobody" when running as root, so that an unprivileged child owns what it is
// to rewrite; as another user, the files are the user's own already.
inline bool giveToUnprivileged(const QString &path)
{
    return geteuid() != 0 || ::chown(QFile::encodeName(path).constData(), nobody, nobody) == 0;
}

// For a QProcess child modifier: root reads and writes through any permission, so a child
// started by root runs as "nobody" instead.
inline void dropRootPrivileges()
{
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
