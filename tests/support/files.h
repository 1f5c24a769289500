#pragma once

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <dirent.h>
#include <fcntl.h>
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
    return fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFile::AutoCloseHandle)
        ? file.readAll()
        : QByteArray("<unreadable>");
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

} // namespace testsupport
