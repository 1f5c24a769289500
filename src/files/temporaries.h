#pragma once

#include "files/folder.h"

#include <QByteArray>

#include <optional>

namespace cueprune {

// The hidden files a replacement writes beside the file it replaces. Each one's name says what
// it is and what it replaces: ".cueprune-<8 random letters>-<check>-<size>-<name>", size being
// the bytes it holds once written in full and check 8 hex digits of the SHA-256 of the parts
// after the prefix, so that no name a person gives a file is taken for one by chance. The name
// alone recognises it, on any file system and from any machine: no lock or extended attribute
// is needed, though a lock held on it still tells a live writer on this machine. Only a sheet
// ("*.cue", any letter case, not hidden) or a backup name of one ("<sheet><suffix>", never
// ending in ".cue") may be claimed; any other name, and a name too long to be carried, gets
// the short form ".cueprune-<8 random letters>-<check>", which claims nothing.

struct TemporaryName
{
    enum class Claim {
        Nothing, // the short form
        Sheet, // the new text of a sheet: the only claim ever given its name back
        Backup, // a backup copy, or a backup link made aside: only ever removed
    };
    Claim claim = Claim::Nothing;
    QByteArray replaced; // empty in the short form
    qint64 size = -1; // -1 in the short form
};

// A fresh name for a temporary that will replace replaced with size bytes.
[[nodiscard]] QByteArray temporaryName(const QByteArray &replaced, qint64 size);

// What name says of the temporary it names; nothing when it names none.
[[nodiscard]] std::optional<TemporaryName> parseTemporaryName(const QByteArray &name);

// Renames from to to in folder unless to exists; false with errno set otherwise (EEXIST when
// it does). File systems that lack an exclusive rename get a lookup before a plain one.
[[nodiscard]] bool renameExclusively(int folder, const QByteArray &from, const QByteArray &to);

// What became of a hidden name met in a folder.
enum class Leftover {
    None, // not a temporary, or one that is live or may still be
    Removed, // a killed run's temporary, of no more use: removed
    Recovered, // the only copy of its sheet, which was gone: given the sheet's name back
};

// Settles name in folder, a killed run's leftover or not. A temporary nobody writes any more
// goes when the sheet it belongs to exists; when that sheet is gone, a complete temporary of
// the sheet takes its name back, anything else stays. A second link is a user's, unless it is
// the claimed backup's or its sheet's own (a backup link made aside). On a shared file system
// a temporary is taken for abandoned only once it is older, by that file system's own clock,
// than any run takes to write one plus the clock skew tolerated between machines.
[[nodiscard]] Leftover settleLeftover(const Folder &folder, const QByteArray &name);

// The same, with the age test of a shared file system at sharedNow (nanoseconds by its clock),
// none when it is local.
[[nodiscard]] Leftover settleLeftover(
    const Folder &folder, const QByteArray &name, std::optional<qint64> sharedNow);

} // namespace cueprune
