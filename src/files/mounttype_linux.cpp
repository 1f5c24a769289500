#include "files/mounttype.h"

#include <QFile>
#include <QHash>

#include <linux/magic.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>

#include <mutex>

namespace cueprune {

std::optional<MountSource> mountOf(QByteArrayView mountinfo, quint32 major, quint32 minor)
{
    const QByteArray wanted = QByteArray::number(major) + ':' + QByteArray::number(minor);
    for (const QByteArray &line : mountinfo.toByteArray().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf("-");
        if (fields.size() > 2 && fields[2] == wanted && separator > 0
            && separator + 2 < fields.size())
            return MountSource { fields[separator + 1], fields[separator + 2] };
    }
    return std::nullopt;
}

bool isSharedFileSystem(quint32 fileSystemType, const std::optional<MountSource> &mount)
{
    switch (fileSystemType) {
    case NFS_SUPER_MAGIC:
    case SMB_SUPER_MAGIC:
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2
    case 0x01021997: // 9P
    case 0x00C36400: // Ceph
    case AFS_SUPER_MAGIC:
    case CODA_SUPER_MAGIC:
        return true;
    case FUSE_SUPER_MAGIC:
        // A FUSE file system on a block device or an image file is a disk of this machine.
        return !mount
            || !(mount->type == "fuseblk"
                || (mount->type == "fuse" && mount->source.startsWith('/')));
    default:
        return false;
    }
}

namespace {

bool sharedFileSystem(int folder, dev_t device)
{
    struct statfs system = {};
    if (::fstatfs(folder, &system) != 0)
        return true;
    std::optional<MountSource> mount;
    if (quint32(system.f_type) == FUSE_SUPER_MAGIC) {
        QFile table(QStringLiteral("/proc/self/mountinfo"));
        // Read whole: a file of /proc gives no size, so atEnd() would hold at once.
        if (table.open(QIODevice::ReadOnly))
            mount = mountOf(table.readAll(), major(device), minor(device));
    }
    return isSharedFileSystem(quint32(system.f_type), mount);
}

} // namespace

bool onSharedFileSystem(const Folder &folder)
{
    static std::mutex mutex;
    static QHash<quint64, bool> known;
    const std::lock_guard<std::mutex> lock(mutex);
    const quint64 device = folder.key().device;
    const auto found = known.constFind(device);
    if (found != known.cend())
        return *found;
    return *known.insert(device, sharedFileSystem(folder.descriptor(), dev_t(device)));
}

} // namespace cueprune
