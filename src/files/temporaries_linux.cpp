#include "files/temporaries.h"

#include "files/linuxstatus.h"
#include "files/mounttype.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace cueprune {

namespace {

using Claim = TemporaryName::Claim;

constexpr char prefix[] = ".cueprune-";
constexpr qsizetype prefixSize = qsizetype(sizeof prefix - 1);
constexpr qsizetype randomLetters = 8;
constexpr qsizetype checkDigits = 8;
constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
// Lower case only, so that a file system that ignores case tells two names apart all the same.
constexpr qsizetype longestName = 255;

// Longer than any run takes to write and flush one sheet, even a 64 MiB one on a slow share.
constexpr qint64 longestWriteSeconds = qint64(10) * 60;
// How far behind the share's own clock another machine's clock may be, where that machine sets
// a file's times itself (some FUSE clients do): its fresh temporary still looks live.
constexpr qint64 toleratedClockSkewSeconds = qint64(60) * 60;
constexpr qint64 abandonedAfter = (longestWriteSeconds + toleratedClockSkewSeconds) * 1000000000;

QByteArray checkOf(QByteArrayView carried)
{
    return QCryptographicHash::hash(carried, QCryptographicHash::Sha256).toHex().first(checkDigits);
}

bool isRandomPart(QByteArrayView part)
{
    return part.size() == randomLetters && std::all_of(part.begin(), part.end(), [](char letter) {
        return letter != '\0' && std::strchr(letters, letter);
    });
}

bool isDecimal(QByteArrayView digits)
{
    return !digits.isEmpty() && digits.size() <= 18
        && std::all_of(
            digits.begin(), digits.end(), [](char digit) { return digit >= '0' && digit <= '9'; });
}

// The sheets whose backup name backupName may be: its beginnings named like a sheet.
QList<QByteArray> sheetsOfBackup(const QByteArray &backupName)
{
    QList<QByteArray> sheets;
    for (qsizetype end = backupName.size() - 1; end > 0; --end) {
        if (isSheetName(backupName.first(end)))
            sheets.append(backupName.first(end));
    }
    return sheets;
}

Claim claimOf(const QByteArray &replaced)
{
    if (replaced.isEmpty() || replaced.startsWith('.') || replaced.contains('/'))
        return Claim::Nothing;
    if (isSheetName(replaced))
        return Claim::Sheet;
    return sheetsOfBackup(replaced).isEmpty() ? Claim::Nothing : Claim::Backup;
}

// The last time a file's contents or status changed: a run sets a copy's modification time
// only once it has its backup name, and nobody can set the change time back where the file
// system keeps one (sshfs shows the modification time for both).
qint64 lastChanged(const struct stat &file)
{
    return qMax(nanoseconds(file.st_mtim), nanoseconds(file.st_ctim));
}

// The time now by the clock of the file system that holds folder, as it stamps a file made
// there: neither this machine's clock nor another's counts. Nothing when no file can be made.
std::optional<qint64> fileSystemNow(int folder)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = temporaryName({}, 0);
        Descriptor made(
            ::openat(folder, name.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600));
        if (!made.isOpen() && errno == EEXIST)
            continue;
        if (!made.isOpen())
            return std::nullopt;
        struct stat status = {};
        const bool stamped = ::fstat(made.get(), &status) == 0;
        // Closed first: some shares refuse to remove an open file, or hide it until closed.
        made.reset();
        ::unlinkat(folder, name.constData(), 0);
        return stamped ? std::optional<qint64>(lastChanged(status)) : std::nullopt;
    }
    return std::nullopt;
}

// Whether a leftover with more than one link (key) is a backup link made aside, whose other
// name is its claimed backup's or its sheet's.
bool linkedOnlyWithItsClaim(const Folder &folder, const TemporaryName &temporary, FileKey key)
{
    if (temporary.claim != Claim::Backup)
        return false;
    const QList<QByteArray> names
        = QList<QByteArray> { temporary.replaced } + sheetsOfBackup(temporary.replaced);
    return std::any_of(names.cbegin(), names.cend(), [&](const QByteArray &name) {
        const auto found = folder.lookUp(name);
        return found && found->key == key;
    });
}

// Whether the sheet that a backup leftover was made for is there: then it holds the text the
// backup would have kept, since a run replaces a sheet only once its backup has its name.
bool sheetOfBackupExists(const Folder &folder, const QByteArray &backupName)
{
    const QList<QByteArray> sheets = sheetsOfBackup(backupName);
    return std::any_of(sheets.cbegin(), sheets.cend(),
        [&](const QByteArray &sheet) { return bool(folder.lookUp(sheet)); });
}

} // namespace

QByteArray temporaryName(const QByteArray &replaced, qint64 size)
{
    QByteArray random;
    for (qsizetype i = 0; i < randomLetters; ++i)
        random += letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))];
    const QByteArray carried = random + '-' + QByteArray::number(size) + '-' + replaced;
    const QByteArray name
        = prefix + random + '-' + checkOf(carried) + carried.sliced(random.size());
    if (claimOf(replaced) != Claim::Nothing && name.size() <= longestName)
        return name;
    return prefix + random + '-' + checkOf(random);
}

std::optional<TemporaryName> parseTemporaryName(const QByteArray &name)
{
    const QByteArrayView named = QByteArrayView(name);
    const qsizetype checkAt = prefixSize + randomLetters + 1;
    if (!named.startsWith(prefix) || named.size() < checkAt + checkDigits
        || !isRandomPart(named.sliced(prefixSize, randomLetters)) || named[checkAt - 1] != '-')
        return std::nullopt;
    const QByteArrayView random = named.sliced(prefixSize, randomLetters);
    const QByteArrayView check = named.sliced(checkAt, checkDigits);
    const QByteArrayView rest = named.sliced(checkAt + checkDigits);
    if (rest.isEmpty())
        return check == checkOf(random) ? std::optional<TemporaryName>(TemporaryName {})
                                        : std::nullopt;
    const qsizetype dash = rest.indexOf('-', 1);
    if (!rest.startsWith('-') || dash < 0 || !isDecimal(rest.sliced(1, dash - 1))
        || check != checkOf(random.toByteArray() + rest.toByteArray()))
        return std::nullopt;
    TemporaryName temporary { Claim::Nothing, rest.sliced(dash + 1).toByteArray(),
        rest.sliced(1, dash - 1).toLongLong() };
    temporary.claim = claimOf(temporary.replaced);
    return temporary.claim == Claim::Nothing ? std::nullopt : std::optional(temporary);
}

bool renameExclusively(int folder, const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(folder, from.constData(), folder, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
    struct stat existing = {};
    if (::fstatat(folder, to.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return errno == ENOENT && ::renameat(folder, from.constData(), folder, to.constData()) == 0;
}

Leftover settleLeftover(const Folder &folder, const QByteArray &name)
{
    if (!parseTemporaryName(name))
        return Leftover::None;
    if (!onSharedFileSystem(folder))
        return settleLeftover(folder, name, std::nullopt);
    const auto now = fileSystemNow(folder.descriptor());
    return now ? settleLeftover(folder, name, now) : Leftover::None;
}

Leftover settleLeftover(
    const Folder &folder, const QByteArray &name, std::optional<qint64> sharedNow)
{
    const auto temporary = parseTemporaryName(name);
    if (!temporary)
        return Leftover::None;
    struct stat opened = {};
    const auto file = openRegularFile(folder.descriptor(), name, nullptr, opened);
    // A lock is a live writer's on this machine.
    if (!file || ::flock(file->get(), LOCK_EX | LOCK_NB) != 0)
        return Leftover::None;
    if (sharedNow && *sharedNow - lastChanged(opened) <= abandonedAfter)
        return Leftover::None;
    if (opened.st_nlink != 1 && !linkedOnlyWithItsClaim(folder, *temporary, keyOf(opened)))
        return Leftover::None;
    const auto stillThisFile = [&] {
        const auto now = folder.lookUp(name);
        return now && now->key == keyOf(opened);
    };
    const auto removed = [&] {
        return stillThisFile() && ::unlinkat(folder.descriptor(), name.constData(), 0) == 0
            ? Leftover::Removed
            : Leftover::None;
    };
    switch (temporary->claim) {
    case Claim::Nothing:
        return removed();
    case Claim::Backup:
        return sheetOfBackupExists(folder, temporary->replaced) ? removed() : Leftover::None;
    case Claim::Sheet:
        break;
    }
    const auto sheet = folder.lookUp(temporary->replaced);
    if (sheet)
        return removed();
    const bool complete = qint64(opened.st_size) == temporary->size;
    return sheet.failure().reason == Failure::Reason::Missing && complete && stillThisFile()
            && renameExclusively(folder.descriptor(), name, temporary->replaced)
        ? Leftover::Recovered
        : Leftover::None;
}

} // namespace cueprune
