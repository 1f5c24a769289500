#pragma once

#include "files/descriptor.h"
#include "files/failure.h"
#include "files/linuxstatus.h"
#include "files/temporaries.h"

#include <QByteArray>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

namespace cueprune {

// Writes all of bytes to descriptor: a short write is retried, no room is a full disk.
[[nodiscard]] std::optional<Failure> writeAll(int descriptor, const QByteArray &bytes);

// Links a file under a fresh temporary name for target, linkTo(name) making the link and giving
// linkat's result: the name it got, or nothing, errno saying why (EEXIST when every name tried
// was taken).
template <typename Link>
std::optional<QByteArray> linkAside(const QByteArray &target, qint64 size, Link linkTo)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray candidate = temporaryName(target, size);
        if (linkTo(candidate) == 0)
            return candidate;
        if (errno != EEXIST)
            return std::nullopt;
    }
    errno = EEXIST;
    return std::nullopt;
}

// The new file of a replacement, until it takes the name it replaces. O_TMPFILE gives it no
// name at all while it is written, so that a crash then leaves nothing; where the file system
// lacks O_TMPFILE, or there is no /proc to name such a file through, it is created under a
// temporary name at once, and removed again on failure. Its writer holds a lock on it
// throughout, which tells a later run on this machine that it is live.
class NewFile
{
public:
    // mode: what the new file is created with, before it is written; never writable by others.
    NewFile(int folder, const QByteArray &target, qint64 size, mode_t mode)
        : folder(folder)
        , target(target)
        , size(size)
    {
        mode &= 0755;
        if (descriptorsHaveNames())
            file = Descriptor(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
        for (int attempt = 0; attempt < 100 && !file.isOpen(); ++attempt) {
            name = temporaryName(target, size);
            file = Descriptor(
                ::openat(folder, name.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode));
            if (!file.isOpen()) {
                name.clear();
                if (errno != EEXIST)
                    break;
            }
        }
        error = errno;
        if (file.isOpen())
            ::flock(file.get(), LOCK_EX);
    }
    ~NewFile()
    {
        // Closed first: SMB refuses to remove a file that is still open.
        file.reset();
        if (!name.isEmpty())
            ::unlinkat(folder, name.constData(), 0);
    }
    NewFile(const NewFile &) = delete;
    NewFile &operator=(const NewFile &) = delete;

    int fd() const { return file.get(); }
    // Why it could not be created.
    int creationError() const { return error; }

    // Gives an O_TMPFILE file its temporary name, which its rename needs. linkat through /proc
    // rather than AT_EMPTY_PATH, which needs a capability before Linux 6.10.
    std::optional<Failure> nameAside()
    {
        if (!name.isEmpty())
            return std::nullopt;
        const QByteArray self = nameOfDescriptor(file.get());
        const auto linked = linkAside(target, size, [&](const QByteArray &candidate) {
            return ::linkat(
                AT_FDCWD, self.constData(), folder, candidate.constData(), AT_SYMLINK_FOLLOW);
        });
        // Every name taken (EEXIST) is a system error; a refusal is the folder's.
        if (!linked)
            return Failure::fromErrno(errno, Failure::Reason::WriteRefused);
        name = *linked;
        return std::nullopt;
    }

    // Renames the named file to its target, over what is there unless exclusive; errno says why
    // not.
    [[nodiscard]] bool moveToTarget(bool exclusive)
    {
        const bool moved = exclusive
            ? renameExclusively(folder, name, target)
            : ::renameat(folder, name.constData(), folder, target.constData()) == 0;
        if (moved)
            name.clear();
        return moved;
    }

private:
    int folder;
    QByteArray target;
    qint64 size;
    Descriptor file;
    QByteArray name; // the new file's name in the folder while it has one
    int error = 0;
};

} // namespace cueprune
