#pragma once

#include <QByteArray>
#include <QHash>

namespace cueprune {

// A file's identity on its system: the same key means the same file, whatever its name.
struct FileKey
{
    quint64 device = 0;
    quint64 inode = 0;

    friend bool operator==(const FileKey &a, const FileKey &b)
    {
        return a.device == b.device && a.inode == b.inode;
    }
};

inline size_t qHash(const FileKey &key, size_t seed = 0)
{
    return qHashMulti(seed, key.device, key.inode);
}

// One directory entry: a folder's identity and a name in it. Two hard links to one file are
// two entries.
struct EntryKey
{
    FileKey folder;
    QByteArray name;

    friend bool operator==(const EntryKey &a, const EntryKey &b)
    {
        return a.folder == b.folder && a.name == b.name;
    }
};

inline size_t qHash(const EntryKey &key, size_t seed = 0)
{
    return qHashMulti(seed, key.folder, key.name);
}

} // namespace cueprune
