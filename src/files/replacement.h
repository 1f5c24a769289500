#pragma once

#include "files/descriptor.h"
#include "files/failure.h"
#include "files/filekey.h"
#include "files/folder.h"

#include <QByteArray>

#include <functional>
#include <optional>

namespace cueprune {

// What a sheet was when it was read, which its replacement keeps or checks.
struct SheetStatus
{
    FileKey key;
    qint64 size = 0;
    qint64 modified = 0; // nanoseconds
    qint64 changed = 0; // nanoseconds
    quint32 owner = 0;
    quint32 group = 0;
    quint32 mode = 0;
};

// Whether and how a replaced sheet is kept, as GNU cp, mv and install keep a file they replace:
// the old file itself takes the backup name, so it keeps every byte and fact of its own.
struct BackupPolicy
{
    enum class Control {
        None, // no backup
        Simple, // name + suffix, replacing an older one
        Numbered, // name.~N~, one more than the highest there
        Existing, // numbered where numbered backups exist already, simple otherwise
    };
    Control control = Control::None;
    QByteArray suffix = "~";
};

// A sheet as it was read: the descriptor it was read through, which the replacement closes
// before its rename, its bytes and what it was.
struct ReadSheet
{
    Descriptor descriptor;
    QByteArray bytes;
    SheetStatus status;
    // Read from the server past the caches of a FUSE or network file system: so is every
    // comparison with these bytes (see files/serverread.h).
    bool fromServer = false;
};

// What a replacement does for the way back that must be written before the sheet changes (a
// diff, a record): announce once the new text is written, so that the way back is written
// while the new file is flushed and checked; ready once every check has passed, just before the
// rename, which waits for it. A failure of ready stops the replacement, the sheet as it was.
struct WayBackSteps
{
    std::function<void()> announce;
    std::function<std::optional<Failure>()> ready;
};

// Puts contents in the place of name in folder, which holds read: the sheet is always either
// whole and old or whole and new, and on failure it is as it was. The rules are written above
// the definition.
[[nodiscard]] std::optional<Failure> replaceSheet(const Folder &folder, const QByteArray &name,
    const QByteArray &contents, ReadSheet &read, const BackupPolicy &backup = {},
    const WayBackSteps &wayBack = {});

} // namespace cueprune
