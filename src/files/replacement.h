#pragma once

#include "files/failure.h"
#include "files/filekey.h"
#include "files/folder.h"

#include <QByteArray>

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

// Puts contents in the place of name in folder, which holds the sheet read through original
// and found as status: the sheet is always either whole and old or whole and new, and on
// failure it is as it was. The rules are written above the definition.
[[nodiscard]] std::optional<Failure> replaceSheet(const Folder &folder, const QByteArray &name,
    const QByteArray &contents, int original, const SheetStatus &status,
    const BackupPolicy &backup = {});

// Removes the temporary file name in folder, left by a run that was killed, if no live run
// still writes it; leaves anything else alone. True when it removed it.
[[nodiscard]] bool removeStrayTemporary(const Folder &folder, const QByteArray &name);

} // namespace cueprune
