#pragma once

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#ifdef QT_WIDGETS_LIB
#include "vexatrin.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#endif

#include <dirent.h>
#include <fcntl.h>

#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace testsupport {

// Sample sheets: two tracks, a Latin-1 title, CR LF, a pregap before the second track.
inline const QByteArray pregapSheet = "FILE \"disc.bin\" BINARY\r\n"
                                      "  TRACK 01 AUDIO\r\n"
                                      "    TITLE \"Caf\xE9\"\r\n"
                                      "    INDEX 01 00:00:00\r\n"
                                      "  TRACK 02 AUDIO\r\n"
                                      "    INDEX 00 03:10:20\r\n"
                                      "    INDEX 01 03:12:20\r\n";
inline const QByteArray prunedSheet
    = QByteArray(pregapSheet).replace("    INDEX 00 03:10:20\r\n", "");
inline const QByteArray cleanSheet
    = "FILE \"b.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";

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

using FolderContents = QMap<QString, QByteArray>; // name -> bytes; a name ending in / is a folder

// Fills root with contents, making the folders on the way.
inline bool fill(const QString &root, const FolderContents &contents)
{
    for (auto it = contents.cbegin(); it != contents.cend(); ++it) {
        const QString path = root + '/' + it.key();
        const bool made = QDir(root).mkpath(QFileInfo(path).path())
            && (it.key().endsWith('/') || writeFile(path, it.value()));
        if (!made)
            return false;
    }
    return true;
}

// Removes, at the end of a test, files whose names QTemporaryDir cannot remove (not UTF-8).
class RemovedAtEnd
{
public:
    explicit RemovedAtEnd(QList<QByteArray> paths)
        : paths(std::move(paths))
    {
    }
    ~RemovedAtEnd()
    {
        for (auto it = paths.crbegin(); it != paths.crend(); ++it)
            ::remove(it->constData());
    }
    RemovedAtEnd(const RemovedAtEnd &) = delete;
    RemovedAtEnd &operator=(const RemovedAtEnd &) = delete;

private:
    const QList<QByteArray> paths;
};

// A copy of program that any user may run: the build folder may sit in a home that other
// users cannot enter, or in a path with spaces, which LD_PRELOAD cannot hold. The copy lives
// as long as the test program.
inline QString runnableByAnyone(const QString &program)
{
    static QTemporaryDir copies;
    const QString copy = copies.filePath(QFileInfo(program).fileName());
    if (!QFileInfo::exists(copy)
        && !(QFile::copy(program, copy) && setMode(copies.path(), 0755) && setMode(copy, 0755)))
        return QString();
    return copy;
}

// The environment of a child that preloads the fault library (tests/prune/faultinjection.cpp)
// with faults, also under AddressSanitizer, which would otherwise insist on coming first.
inline QProcessEnvironment withFaults(const QString &faultLibrary, const QString &faults)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LD_PRELOAD", runnableByAnyone(faultLibrary));
    environment.insert("FAULTS", faults);
    environment.insert(
        "ASAN_OPTIONS", environment.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
    return environment;
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

// Until destroyed, this process (all its threads) acts as "nobody" when it runs as root, so
// that permissions bind it as they bind a user; for runs inside the test process.
class ActingUnprivileged
{
public:
    ActingUnprivileged()
        : wasRoot(geteuid() == 0)
    {
        if (wasRoot && (setegid(nobody) != 0 || seteuid(nobody) != 0))
            std::abort();
    }
    ~ActingUnprivileged()
    {
        if (wasRoot && (seteuid(0) != 0 || setegid(0) != 0))
            std::abort();
    }
    ActingUnprivileged(const ActingUnprivileged &) = delete;
    ActingUnprivileged &operator=(const ActingUnprivileged &) = delete;

private:
    const bool wasRoot;
};

// Makes writes past the given size fail with EFBIG in this process (as on a full disk),
// whatever the user's privileges; for a QProcess child modifier as it is.
inline bool limitFileSize(rlim_t bytes)
{
    signal(SIGXFSZ, SIG_IGN);
    rlimit limited {};
    getrlimit(RLIMIT_FSIZE, &limited);
    limited.rlim_cur = bytes;
    return setrlimit(RLIMIT_FSIZE, &limited) == 0;
}

// limitFileSize until destroyed.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        previousHandler = signal(SIGXFSZ, SIG_IGN);
        active = limitFileSize(bytes);
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

#ifdef QT_WIDGETS_LIB
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
#endif

} // namespace testsupport
