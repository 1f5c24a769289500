// Windows: names are UTF-16, which Qt converts without loss, so Qt's own file classes do the
// work; QSaveFile replaces the sheet atomically. Not built on the project's Linux machines.
#include "files/sheetfile.h"

#include "files/backupnames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace cueprune {

namespace {

QString pathOf(const SheetEntry &entry)
{
    return QFile::decodeName(joinPath(entry.folder->path(), entry.name));
}

} // namespace

SheetFile::SheetFile(SheetEntry entry)
    : entry(std::move(entry))
{
}

std::optional<Failure> SheetFile::read(const SizeKnown &sizeKnown)
{
    const QFileInfo info(pathOf(entry));
    if (!info.exists())
        return Failure { Failure::Reason::Missing, 0 };
    if (info.isSymLink())
        return Failure { Failure::Reason::SwappedDuringWalk, 0 };
    if (!info.isFile())
        return Failure { Failure::Reason::NotRegularFile, 0 };
    if (info.size() > maxSheetSize)
        return Failure { Failure::Reason::TooLarge, 0 };
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly))
        return Failure { Failure::Reason::ReadRefused, 0 };
    sheet.status.key = entry.key;
    sheet.status.size = info.size();
    if (sizeKnown)
        sizeKnown(sheet.status.size);
    sheet.bytes = file.read(sheet.status.size + 1);
    if (file.error() != QFileDevice::NoError)
        return Failure { Failure::Reason::ReadRefused, 0 };
    if (sheet.bytes.size() != sheet.status.size)
        return Failure { Failure::Reason::ChangedWhileRead, 0 };
    return std::nullopt;
}

std::optional<Failure> SheetFile::replace(
    const QByteArray &contents, const BackupPolicy &backup, const WayBackSteps &wayBack)
{
    // Unbuffered, so that a short write (a full disk) shows in write()'s count.
    QSaveFile rewrite(pathOf(entry));
    if (!rewrite.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return Failure { Failure::Reason::WriteRefused, 0 };
    if (rewrite.write(contents) != contents.size())
        return Failure { Failure::Reason::DiskFull, 0 };
    // No hard links to rely on here: the backup is a copy, made before the sheet is replaced.
    if (backup.control != BackupPolicy::Control::None) {
        const QString path = pathOf(entry);
        const QByteArray name = QFile::encodeName(QFileInfo(path).fileName());
        int highest = 0;
        for (const QString &other : QFileInfo(path).dir().entryList(QDir::Files | QDir::Hidden))
            highest = qMax(highest, backupNumber(QFile::encodeName(other), name).value_or(0));
        const bool simple = backup.control == BackupPolicy::Control::Simple
            || (backup.control == BackupPolicy::Control::Existing && highest == 0);
        const QString backupPath = simple ? path + QFile::decodeName(backup.suffix)
                                          : QFileInfo(path).dir().filePath(QFile::decodeName(
                                              numberedBackupName(name, highest + 1)));
        if ((simple && QFile::exists(backupPath) && !QFile::remove(backupPath))
            || !QFile::copy(path, backupPath))
            return Failure { Failure::Reason::BackupFailed, 0 };
    }
    if (wayBack.announce)
        wayBack.announce();
    if (wayBack.ready) {
        if (auto failure = wayBack.ready())
            return failure;
    }
    if (!rewrite.commit())
        return Failure { Failure::Reason::FlushFailed, 0 };
    return std::nullopt;
}

// QSaveFile removes its own temporaries.
Leftover settleLeftover(const Folder &, const QByteArray &)
{
    return Leftover::None;
}

} // namespace cueprune
