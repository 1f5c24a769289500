#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QWaitCondition>

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

// A file by one of its names, with its identity.
struct NamedFile
{
    QByteArray path;
    FileKey key;
};

// A real sheet is a few kilobytes; anything larger than this is not read at all, so that a
// misnamed disc image cannot exhaust memory.
constexpr qint64 maxSheetSize = 64 * 1024 * 1024;

struct DirectoryEntry
{
    enum class Kind { RegularFile, Folder };
    QByteArray name;
    Kind kind;
    FileKey key;
};

struct Directory
{
    FileKey key;
    QList<DirectoryEntry> entries; // regular files and folders only, in no particular order
};

// The visible entries of folder: hidden (dot) names, symbolic links, devices, FIFOs and
// sockets are left out. Nothing when the folder cannot be read.
[[nodiscard]] std::optional<Directory> readDirectory(const QByteArray &folder);

struct PathInfo
{
    enum class Kind { Missing, Folder, Other };
    Kind kind = Kind::Missing;
    FileKey key;
};

// What stands at path, following symbolic links; Missing when it cannot be looked up at all.
[[nodiscard]] PathInfo pathInfo(const QByteArray &path);

// Bounds the bytes of sheets held in memory at once, across threads: a sheet waits for room
// before it is read, so that a few of the largest sheets do not multiply by the number of
// workers. A sheet needs room for itself and its pruned copy; one larger than the whole
// budget waits until it has all of it.
class ByteBudget
{
public:
    explicit ByteBudget(qint64 total = 2 * maxSheetSize);
    // Blocks until bytes (at most the total) are free, then takes them.
    qint64 take(qint64 bytes);
    void giveBack(qint64 bytes);

private:
    QMutex mutex;
    QWaitCondition released;
    const qint64 total;
    qint64 available;
};

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

    // With a budget, the sheet waits for room in it before it is read.
    explicit SheetFile(QByteArray path, ByteBudget *budget = nullptr);
    ~SheetFile();
    SheetFile(const SheetFile &) = delete;
    SheetFile &operator=(const SheetFile &) = delete;

    // NotFound when nothing can be looked up at the path; Failed when it is not a regular
    // file, is larger than maxSheetSize, cannot be read, or changes size while being read.
    [[nodiscard]] ReadResult read();
    const QByteArray &contents() const { return bytes; }

    // Puts contents in the sheet's place so that the sheet is always either whole and old or
    // whole and new. False, with the sheet as it was, when any step fails or the sheet was
    // changed by someone else since it was read.
    [[nodiscard]] bool replace(const QByteArray &contents);

    // What was found of the sheet when it was read.
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

private:
    QByteArray path;
    ByteBudget *budget;
    qint64 budgetTaken = 0;
    QByteArray bytes;
    Status status;
    int descriptor = -1;
};
