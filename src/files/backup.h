#pragma once

#include "files/failure.h"
#include "files/replacement.h"

#include <QByteArray>

#include <optional>

namespace cueprune {

// The backup of a sheet about to be replaced, as GNU cp and mv make them.

// Where the backup of a sheet goes: a simple name, replacing an older backup, or the first of
// the numbers to try. Decided before the new file is opened, since reading the folder takes a
// descriptor of its own and a low limit may leave only two to a sheet.
struct BackupPlan
{
    QByteArray simpleName; // when not numbered
    int firstNumber = 0; // when numbered
};

[[nodiscard]] Result<BackupPlan> planBackup(
    int folder, const QByteArray &name, const BackupPolicy &backup);

// The backup a replacement made, which only that replacement may remove again, and only while
// it is still the very file made (its identity, not its name, proves it): another run may have
// put its own backup under that name since. No name when nothing was made (an existing backup
// already held the text read) or when an older backup was replaced, which cannot be undone.
struct MadeBackup
{
    QByteArray name;
    FileKey key;
};

// Keeps the sheet read (name in folder) as planned: a backup that already is the sheet's file
// or holds exactly the bytes read (a killed run's, another run's) is used as it is, never
// made again under a new number.
[[nodiscard]] std::optional<Failure> keepBackup(int folder, const QByteArray &name,
    const ReadSheet &read, const BackupPlan &plan, MadeBackup &made);

// Removes made after the sheet name in folder was not replaced, only while that name still
// holds the file read, with the very bytes read: once another run has replaced the sheet, its
// backup may be this one.
void dropBackup(int folder, const QByteArray &name, const ReadSheet &read, const MadeBackup &made);

// Fails unless name in folder holds exactly the bytes read (and is the file expected, when
// given): ChangedBeforeReplace when it does not. Read through a descriptor opened afresh, since
// opening is what makes FUSE drop what it cached of the file, and from the server when the
// sheet was, since a size that FUSE or a network file system caches may be an older file's.
[[nodiscard]] std::optional<Failure> checkHolds(
    int folder, const QByteArray &name, const FileKey *expected, const ReadSheet &read);

} // namespace cueprune
