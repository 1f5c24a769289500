#include "files/attributes.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

namespace cueprune {

namespace {

using Reason = Failure::Reason;

// Whether a file's attributes failing to list with error means that its file system keeps none.
// Some say so with another error than ENOTSUP: rclone gives EIO for a file, SMB through FUSE
// for a file and its folder alike. So the folder is asked too: where it lists its attributes,
// the file system has them and the file's failure is a real one; where it fails the same way,
// or says it has none, so does the file system. errno is left as error.
bool keepsNoAttributes(int folder, int error)
{
    if (error == ENOTSUP || error == ENOSYS)
        return true;
    const bool folderListed = ::flistxattr(folder, nullptr, 0) >= 0;
    const int folderError = errno;
    errno = error;
    return !folderListed
        && (folderError == ENOTSUP || folderError == ENOSYS || folderError == error);
}

// Names of a file's extended attributes in folder, POSIX ACLs included; none where the file
// system holds none.
std::optional<QList<QByteArray>> attributeNames(int folder, int descriptor)
{
    // Most files have few names or none: a first guess at the size saves asking for it.
    QByteArray list(1024, Qt::Uninitialized);
    for (;;) {
        const ssize_t got = ::flistxattr(descriptor, list.data(), std::size_t(list.size()));
        if (got >= 0) {
            list.resize(got);
            break;
        }
        if (errno == ERANGE) {
            const ssize_t size = ::flistxattr(descriptor, nullptr, 0);
            if (size >= 0) {
                list.resize(size);
                continue;
            }
        }
        if (keepsNoAttributes(folder, errno))
            return QList<QByteArray>();
        return std::nullopt;
    }
    QList<QByteArray> names = list.split('\0');
    names.removeAll(QByteArray());
    return names;
}

std::optional<QByteArray> attributeValue(int descriptor, const QByteArray &name)
{
    QByteArray value;
    for (;;) {
        const ssize_t size = ::fgetxattr(descriptor, name.constData(), nullptr, 0);
        if (size < 0)
            return std::nullopt;
        value.resize(size);
        const ssize_t got
            = ::fgetxattr(descriptor, name.constData(), value.data(), std::size_t(size));
        if (got >= 0) {
            value.resize(got);
            return value;
        }
        if (errno != ERANGE)
            return std::nullopt;
    }
}

// Gives copy exactly the extended attributes of original: each of original's, and none of
// those the copy inherited (a folder's default ACL, say). A value the system will not set is
// accepted only where the copy already holds it. Returns the names copied.
std::optional<QList<QByteArray>> copyAttributes(int folder, int original, int copy)
{
    const auto wanted = attributeNames(folder, original);
    if (!wanted)
        return std::nullopt;
    for (const QByteArray &name : *wanted) {
        const auto value = attributeValue(original, name);
        if (!value)
            return std::nullopt;
        if (::fsetxattr(copy, name.constData(), value->constData(), std::size_t(value->size()), 0)
                != 0
            && attributeValue(copy, name) != value)
            return std::nullopt;
    }
    const auto inherited = attributeNames(folder, copy);
    if (!inherited)
        return std::nullopt;
    for (const QByteArray &name : *inherited) {
        if (!wanted->contains(name) && ::fremovexattr(copy, name.constData()) != 0)
            return std::nullopt;
    }
    return wanted;
}

} // namespace

std::optional<Failure> keepOwnerAttributesAndMode(int folder, int fd, const ReadSheet &read)
{
    const SheetStatus &status = read.status;
    struct stat made = {};
    if (::fstat(fd, &made) != 0)
        return Failure::fromErrno(errno, Reason::WriteRefused);
    const bool ownerRight = made.st_uid == status.owner && made.st_gid == status.group;
    const bool ownerGiven = ownerRight || ::fchown(fd, status.owner, status.group) == 0;
    const auto sheetAttributes = copyAttributes(folder, read.descriptor.get(), fd);
    if (!sheetAttributes)
        return Failure { Reason::AttributesNotKept, errno };
    // A change of owner may clear set-id bits, and an ACL sets mode bits.
    const bool modeRight
        = ownerRight && sheetAttributes->isEmpty() && (made.st_mode & 07777) == status.mode;
    const bool modeGiven = modeRight || ::fchmod(fd, status.mode) == 0;
    if ((!ownerGiven || !modeGiven || (status.mode & (S_ISUID | S_ISGID)) != 0)
        && (::fstat(fd, &made) != 0 || made.st_uid != status.owner || made.st_gid != status.group
            || (made.st_mode & 07777) != status.mode))
        return Failure { Reason::OwnerOrModeNotKept, 0 };
    return std::nullopt;
}

} // namespace cueprune
