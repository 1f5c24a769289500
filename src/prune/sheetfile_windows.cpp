// Windows: names are UTF-16, which Qt converts without loss, so Qt's own file classes do the
// work; QSaveFile replaces the sheet atomically. Not built on the project's Linux machines.
#include "sheetfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

FileKey keyOf(const QFileInfo &info)
{
    // No inode at hand: the canonical path names the file instead.
    return { 0, quint64(qHash(info.canonicalFilePath().toCaseFolded())) };
}

} // namespace

std::optional<Directory> readDirectory(const QByteArray &folder)
{
    const QDir dir(QFile::decodeName(folder));
    if (!dir.isReadable())
        return std::nullopt;
    Directory directory { keyOf(QFileInfo(dir.absolutePath())), {} };
    const QFileInfoList entries
        = dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QFileInfo &entry : entries) {
        directory.entries.append({ QFile::encodeName(entry.fileName()),
            entry.isDir() ? DirectoryEntry::Kind::Folder : DirectoryEntry::Kind::RegularFile,
            keyOf(entry) });
    }
    return directory;
}

PathInfo pathInfo(const QByteArray &path)
{
    const QFileInfo info(QFile::decodeName(path));
    if (!info.exists())
        return {};
    return { info.isDir() ? PathInfo::Kind::Folder : PathInfo::Kind::Other, keyOf(info) };
}

QByteArray absolutePath(const QByteArray &path)
{
    return QFile::encodeName(QFileInfo(QFile::decodeName(path)).absoluteFilePath());
}

SheetFile::SheetFile(QByteArray path, ByteBudget *budget)
    : path(std::move(path))
    , budget(budget)
{
}

SheetFile::~SheetFile()
{
    if (budget)
        budget->giveBack(budgetTaken);
}

SheetFile::ReadResult SheetFile::read()
{
    const QFileInfo info(QFile::decodeName(path));
    if (path.isEmpty() || !info.exists())
        return ReadResult::NotFound;
    QFile file(info.filePath());
    if (!info.isFile() || info.size() > maxSheetSize || !file.open(QIODevice::ReadOnly))
        return ReadResult::Failed;
    status.key = keyOf(info);
    status.size = info.size();
    if (budget)
        budgetTaken = budget->take(2 * status.size);
    bytes = file.read(status.size + 1);
    return file.error() == QFileDevice::NoError && bytes.size() == status.size ? ReadResult::Read
                                                                               : ReadResult::Failed;
}

bool SheetFile::replace(const QByteArray &contents)
{
    // Unbuffered, so that a short write (a full disk) shows in write()'s count.
    QSaveFile rewrite(QFile::decodeName(path));
    return rewrite.open(QIODevice::WriteOnly | QIODevice::Unbuffered)
        && rewrite.write(contents) == contents.size() && rewrite.commit();
}
