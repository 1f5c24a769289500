#pragma once

#include "files/descriptor.h"
#include "files/failure.h"
#include "files/folder.h"
#include "files/replacement.h"

#include <QByteArray>

#include <functional>
#include <optional>

namespace cueprune {

// A real sheet is a few kilobytes; anything larger than this is not read at all, so that a
// misnamed disc image cannot exhaust memory.
constexpr qint64 maxSheetSize = 64 * 1024 * 1024;

// One sheet on disk: read in full, then, if asked, replaced by new contents. Holds the sheet
// open between the two, up to just before the rename, so that what is kept (owner, mode,
// extended attributes, the backup) comes from the very file that was read, and works only
// inside the sheet's folder.
class SheetFile
{
public:
    explicit SheetFile(SheetEntry entry);
    SheetFile(const SheetFile &) = delete;
    SheetFile &operator=(const SheetFile &) = delete;

    // Called with the sheet's size once it is known, before its bytes are read.
    using SizeKnown = std::function<void(qint64 size)>;

    // Opens the entry without following a link and reads it whole, on FUSE and network file
    // systems from the server (serverread.h). Fails when the entry is no longer the file
    // listed, is not a regular file, is larger than maxSheetSize, cannot be read, changes size
    // while being read, or has a size its file system does not confirm.
    [[nodiscard]] std::optional<Failure> read(const SizeKnown &sizeKnown = {});
    const QByteArray &contents() const { return sheet.bytes; }

    // Puts contents in the sheet's place so that the sheet is always either whole and old or
    // whole and new: on failure the sheet is as it was. The old sheet is kept as backup says;
    // The way back's steps are taken as replaceSheet says.
    [[nodiscard]] std::optional<Failure> replace(const QByteArray &contents,
        const BackupPolicy &backup = {}, const WayBackSteps &wayBack = {});

private:
    SheetEntry entry;
    ReadSheet sheet;
};

} // namespace cueprune
