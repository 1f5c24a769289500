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

// Keeps the sheet read (name in folder) as planned. made is the name given, to be removed
// again if the sheet is not replaced after all; empty when an older simple backup was
// replaced, which cannot be undone.
[[nodiscard]] std::optional<Failure> keepBackup(int folder, const QByteArray &name,
    const ReadSheet &read, const BackupPlan &plan, QByteArray &made);

} // namespace cueprune
