#pragma once

#include "linerule.h"
#include "sheetfile.h"

#include <QSet>
#include <QString>

// Results of processCueFile.
enum class CueResult {
    Failed = -2, // not a readable file, too large, or the rewrite failed; unchanged
    NotFound = -1, // nothing at the path, or an empty path
    Unchanged = 0, // no pregap line; the sheet was not opened for writing
    Pruned = 1, // pregap lines dropped and the sheet rewritten
    AlreadyHandled = 2, // reached before in the same run; left alone
};

enum class WriteMode { Rewrite, DryRun };

// The files one run has reached: a file met again under another name or through another
// folder is not handled twice.
using HandledFiles = QSet<FileKey>;

// Prunes the sheet at path (as the system names it) in place (see pruneSheet and
// SheetFile::replace): a failure leaves the sheet as it was. With WriteMode::DryRun nothing
// is written and CueResult::Pruned means the sheet would change. With handled, a sheet
// already in it is CueResult::AlreadyHandled, and each sheet handled is added.
[[nodiscard]] CueResult processCueFile(const QByteArray &path,
    const KeptLineObserver &observer = {}, WriteMode mode = WriteMode::Rewrite,
    HandledFiles *handled = nullptr);

// The sheet named by a path as typed or chosen in the window.
[[nodiscard]] CueResult processCueFile(const QString &path, const KeptLineObserver &observer = {});

// The log's verdict for a result, e.g. "==> Fichier modifié !", without a line feed; a dry
// run's "==> Fichier à modifier !" for a sheet that would change.
[[nodiscard]] QString verdictText(CueResult result, WriteMode mode = WriteMode::Rewrite);
