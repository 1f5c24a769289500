#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>

#include <optional>

// The file layer: sheets and folders by the operating system's own names (bytes on Linux,
// whatever they hold), read whole and replaced safely. Names become text only for display
// (sheettext.h).

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

// A real sheet is a few kilobytes; anything larger than this is not read at all, so that a
// misnamed disc image cannot exhaust memory.
constexpr qint64 maxSheetSize = 64 * 1024 * 1024;

struct DirectoryEntry
{
    enum class Kind { RegularFile, Folder };
    QByteArray name;
    Kind kind;
};

struct Directory
{
    FileKey key;
    QList<DirectoryEntry> entries; // regular files and folders only, in no particular order
};

// The visible entries of folder: hidden (dot) names, symbolic links, devices, FIFOs and
// sockets are left out. Nothing when the folder cannot be read.
[[nodiscard]] std::optional<Directory> readDirectory(const QByteArray &folder);

enum class PathKind { Missing, Folder, Other };

// What stands at path, following symbolic links; Missing when it cannot be looked up at all.
[[nodiscard]] PathKind pathKind(const QByteArray &path);

// path made absolute against the working folder, with ".", ".." and repeated slashes
// resolved by name, as QDir::cleanPath does.
[[nodiscard]] QByteArray absolutePath(const QByteArray &path);

// One sheet on disk: read in full, then, if asked, replaced by new contents. Holds the sheet
// open between the two, so that what is kept (owner, mode, extended attributes) comes from
// the very file that was read.
class SheetFile
{
public:
    enum class ReadResult { Read, NotFound, Failed };

    explicit SheetFile(QByteArray path);
    ~SheetFile();
    SheetFile(const SheetFile &) = delete;
    SheetFile &operator=(const SheetFile &) = delete;

    // NotFound when nothing can be looked up at the path; Failed when it is not a regular
    // file, is larger than maxSheetSize, cannot be read, or changes size while being read.
    [[nodiscard]] ReadResult read();
    const QByteArray &contents() const { return bytes; }
    // The file read, then the file that replaced it.
    FileKey key() const;

    // Puts contents in the sheet's place so that the sheet is always either whole and old or
    // whole and new. False, with the sheet as it was, when any step fails or the sheet was
    // changed by someone else since it was read.
    [[nodiscard]] bool replace(const QByteArray &contents);

private:
    struct Status
    {
        FileKey key;
        qint64 size = 0;
        qint64 modified = 0; // nanoseconds
        qint64 changed = 0; // nanoseconds
        quint32 owner = 0;
        quint32 group = 0;
        quint32 mode = 0;
    };

    QByteArray path;
    QByteArray bytes;
    Status status;
    int descriptor = -1;
};
