#pragma once

#include "bytebudget.h"
#include "descriptor.h"
#include "failure.h"
#include "folder.h"

#include <QByteArray>

#include <optional>

// A real sheet is a few kilobytes; anything larger than this is not read at all, so that a
// misnamed disc image cannot exhaust memory.
constexpr qint64 maxSheetSize = 64 * 1024 * 1024;

// One sheet on disk: read in full, then, if asked, replaced by new contents. Holds the sheet
// open between the two, so that what is kept (owner, mode, extended attributes) comes from
// the very file that was read, and works only inside the sheet's folder.
class SheetFile
{
public:
    // With a budget, the sheet waits for room in it before it is read.
    explicit SheetFile(SheetEntry entry, ByteBudget *budget = nullptr);
    ~SheetFile();
    SheetFile(const SheetFile &) = delete;
    SheetFile &operator=(const SheetFile &) = delete;

    // Opens the entry without following a link and reads it whole. Fails when the entry is no
    // longer the file listed, is not a regular file, is larger than maxSheetSize, cannot be
    // read, or changes size while being read.
    [[nodiscard]] std::optional<Failure> read();
    const QByteArray &contents() const { return bytes; }

    // Puts contents in the sheet's place so that the sheet is always either whole and old or
    // whole and new: on failure the sheet is as it was.
    [[nodiscard]] std::optional<Failure> replace(const QByteArray &contents);

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
    SheetEntry entry;
    ByteBudget *budget;
    qint64 budgetTaken = 0;
    QByteArray bytes;
    Status status;
    Descriptor descriptor;
};

// Whether name is one a replacement gives its new file while it is written.
[[nodiscard]] bool isTemporaryName(const QByteArray &name);

// Removes the temporary file name in folder, left by a run that was killed, if no live run
// still writes it; leaves anything else alone.
void removeStrayTemporary(const Folder &folder, const QByteArray &name);
