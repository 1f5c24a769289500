#pragma once

#include "files/folder.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace cueprune {

// What kind of file system a folder lies on, as far as the safe replace cares: one of this
// machine's disks, or one that other machines may write too.

// A mount of the kernel's table (/proc/self/mountinfo): its type and where it comes from.
struct MountSource
{
    QByteArray type; // "ext4", "fuse.sshfs", "fuseblk"...
    QByteArray source; // "/dev/sda1", "user@nas:/music"...
};

// The mount of device major:minor in a mountinfo table's text; nothing when it is not there.
[[nodiscard]] std::optional<MountSource> mountOf(
    QByteArrayView mountinfo, quint32 major, quint32 minor);

// Whether a file system of type fileSystemType (statfs's f_type) is one that other machines may
// write too (NFS, SMB, 9P, Ceph, AFS, Coda, and FUSE but on a block device or an image file),
// where a lock taken here is not seen there and a cache may hold an older file. A FUSE mount
// of unknown kind counts as one.
[[nodiscard]] bool isSharedFileSystem(
    quint32 fileSystemType, const std::optional<MountSource> &mount);

// isSharedFileSystem for the folder, asked once a file system: the mount table is read only
// for FUSE. A folder whose file system cannot be asked counts as shared.
[[nodiscard]] bool onSharedFileSystem(const Folder &folder);

} // namespace cueprune
