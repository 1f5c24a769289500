// The file layer in process: the walk, the replace and the backup names. The fault library's
// calls are linked in, so that a row can make a system call fail or swap an entry.
#include "files/backupnames.h"
#include "files/sheetfile.h"
#include "files/sheetwalk.h"
#include "files/temporaries.h"
#include "support/faults.h"
#include "support/files.h"
#include "support/sheets.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using cueprune::BackupPolicy;
using cueprune::Failure;
using cueprune::SheetWalk;
using cueprune::Strays;
using cueprune::WalkItem;

class TestFiles : public QObject
{
    Q_OBJECT

private slots:
    void backupNumbers_data();
    void backupNumbers();
    void walkOrder_data();
    void walkOrder();
    void folderSwappedMidWalkIsNotFollowed();
    void entrySwappedBeforeItIsOpened_data();
    void entrySwappedBeforeItIsOpened();
    void strayIsSaidWhenItsFolderIsReached();
    void treeDeeperThanPathMax();
    void replaceRulesInOrder_data();
    void replaceRulesInOrder();
    void attributesAFileSystemLacks_data();
    void attributesAFileSystemLacks();
};

void TestFiles::backupNumbers_data()
{
    QTest::addColumn<QByteArray>("candidate");
    QTest::addColumn<int>("number"); // -1: not a numbered backup of a.cue
    QTest::newRow("first") << QByteArray("a.cue.~1~") << 1;
    QTest::newRow("large") << QByteArray("a.cue.~123~") << 123;
    QTest::newRow("simple") << QByteArray("a.cue~") << -1;
    QTest::newRow("noDigits") << QByteArray("a.cue.~~") << -1;
    QTest::newRow("letters") << QByteArray("a.cue.~1x~") << -1;
    QTest::newRow("otherSheet") << QByteArray("b.cue.~1~") << -1;
    QTest::newRow("longerName") << QByteArray("a.cue.x.~1~") << -1;
    QTest::newRow("sign") << QByteArray("a.cue.~-1~") << -1;
}

// Numbered backups are told from every other name, and named back the same way.
void TestFiles::backupNumbers()
{
    QFETCH(QByteArray, candidate);
    QFETCH(int, number);
    QCOMPARE(cueprune::backupNumber(candidate, "a.cue").value_or(-1), number);
    if (number > 0)
        QCOMPARE(cueprune::numberedBackupName("a.cue", number), candidate);
}

void TestFiles::walkOrder_data()
{
    QTest::addColumn<bool>("recursive");
    QTest::addColumn<QStringList>("expected"); // shown paths under ROOT, "N subfolders" notices
    QTest::newRow("ownSheets") << false << QStringList { "a.CUE", "Z.cue", "3 subfolders of ROOT" };
    QTest::newRow("depthFirst") << true
                                << QStringList { "a.CUE", "Z.cue", "b/one.cue", "b/c/deep.cue",
                                       "B2/two.cue" };
}

// Sheets first, by name ignoring case, then subfolders depth first; hidden entries and links
// left out; each entry once, however many of the paths given reach it.
void TestFiles::walkOrder()
{
    QFETCH(bool, recursive);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString root = dir.filePath("Musique à trier");
    QVERIFY(testsupport::fill(root,
        { { "b/c/", {} }, { "B2/", {} }, { ".hidden/", {} }, { "empty/", {} },
            { "Z.cue", testsupport::cleanSheet }, { "a.CUE", testsupport::pregapSheet },
            { "notes.txt", {} }, { "b/one.cue", {} }, { "b/c/deep.cue", {} }, { "B2/two.cue", {} },
            { ".hidden/h.cue", {} } }));
    QVERIFY(QFile::link(root, root + "/b/c/loop"));
    QVERIFY(QFile::link(root + "/b/one.cue", root + "/linked.cue"));

    SheetWalk walk(recursive, Strays::Kept);
    walk.addPath(QFile::encodeName(root));
    walk.addPath(QFile::encodeName(root + "/Z.cue"));
    if (recursive)
        walk.addPath(QFile::encodeName(root + "/b"));
    QStringList seen;
    for (WalkItem item; walk.next(item);) {
        const QString shown = QFile::decodeName(cueprune::shownPath(item));
        const auto *leftOut = std::get_if<cueprune::SubfoldersLeftOut>(&item);
        seen.append(leftOut ? QStringLiteral("%1 subfolders of %2").arg(leftOut->count).arg(shown)
                            : QString(shown).remove(0, root.size() + 1));
    }
    QCOMPARE(seen, expected.replaceInStrings("ROOT", root));
}

// A folder not yet reached is replaced by a link to another tree: the walk never gives what
// lies there.
void TestFiles::folderSwappedMidWalkIsNotFollowed()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(testsupport::fill(dir.path(),
        { { "library/a.cue", {} }, { "library/z/b.cue", {} }, { "elsewhere/secret.cue", {} } }));
    SheetWalk walk(true, Strays::Kept);
    walk.addPath(QFile::encodeName(dir.filePath("library")));
    WalkItem item;
    QVERIFY(walk.next(item));
    QVERIFY(QDir(dir.path()).rename("library/z", "library/z.old"));
    QVERIFY(QFile::link(dir.filePath("elsewhere"), dir.filePath("library/z")));
    QStringList seen;
    while (walk.next(item))
        seen.append(QFile::decodeName(cueprune::shownPath(item)));
    QVERIFY2(!seen.join(' ').contains("secret"), qPrintable(seen.join(' ')));
}

void TestFiles::entrySwappedBeforeItIsOpened_data()
{
    QTest::addColumn<QString>("swapped"); // under the library
    QTest::addColumn<QByteArray>("swap"); // SWAP_LINK or SWAP_MOVE
    QTest::addColumn<QString>("with"); // "outside", or "itself" moved away beside it
    QTest::newRow("folderForLinkOutside") << "B" << QByteArray("SWAP_LINK") << "outside";
    QTest::newRow("folderForOutsideFolder") << "B" << QByteArray("SWAP_MOVE") << "outside";
    QTest::newRow("folderForLinkToItself") << "B" << QByteArray("SWAP_LINK") << "itself";
    QTest::newRow("sheetForLinkOutside") << "B/b.cue" << QByteArray("SWAP_LINK") << "outside";
    QTest::newRow("sheetForOutsideSheet") << "B/b.cue" << QByteArray("SWAP_MOVE") << "outside";
    QTest::newRow("sheetForLinkToItself") << "B/b.cue" << QByteArray("SWAP_LINK") << "itself";
}

// Another user swaps an entry between its listing and its opening (made certain by the fault
// library): the walk and the read report it, and nothing outside the library is given or read.
void TestFiles::entrySwappedBeforeItIsOpened()
{
    QFETCH(QString, swapped);
    QFETCH(QByteArray, swap);
    QFETCH(QString, with);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString root = dir.filePath("library");
    QVERIFY(testsupport::fill(dir.path(),
        { { "library/A/a.cue", testsupport::pregapSheet },
            { "library/B/b.cue", testsupport::pregapSheet }, { "outside/secret.cue", "secret" } }));
    const bool folder = !swapped.contains('/');
    const QByteArray name = QFile::encodeName(swapped.section('/', -1));
    const QByteArray replacement = with == "itself"
        ? name + ".away"
        : QFile::encodeName(dir.filePath(folder ? "outside" : "outside/secret.cue"));

    QStringList seen;
    {
        const testsupport::FaultsHere faults({ { "SWAP_ENTRY", name }, { swap, replacement } });
        SheetWalk walk(true, Strays::Kept);
        walk.addPath(QFile::encodeName(root));
        for (WalkItem item; walk.next(item);) {
            std::optional<Failure> failure;
            if (const auto *sheet = std::get_if<cueprune::SheetEntry>(&item)) {
                cueprune::SheetFile file(*sheet);
                failure = file.read();
                QVERIFY(failure || file.contents() == testsupport::pregapSheet);
            } else if (const auto *unreachable = std::get_if<cueprune::UnreachablePath>(&item)) {
                failure = unreachable->failure;
            }
            const bool swappedSeen
                = failure && failure->reason == Failure::Reason::SwappedDuringWalk;
            seen.append(QFile::decodeName(cueprune::shownPath(item)).remove(0, root.size() + 1)
                + (swappedSeen    ? " swapped"
                        : failure ? " failed"
                                  : ""));
        }
    }
    QCOMPARE(seen, QStringList({ "A/a.cue", swapped + " swapped" }));
}

// A killed run's temporary is removed only once the walk enters its folder, and said there:
// a run stopped before that leaves it, unsaid.
void TestFiles::strayIsSaidWhenItsFolderIsReached()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString stray = "library/sub/" + QFile::decodeName(cueprune::temporaryName("b.cue", 3));
    QVERIFY(testsupport::fill(
        dir.path(), { { "library/a.cue", {} }, { "library/sub/b.cue", "new" }, { stray, "old" } }));
    SheetWalk walk(true, Strays::Removed);
    walk.addPath(QFile::encodeName(dir.filePath("library")));
    WalkItem item;
    QVERIFY(walk.next(item));
    QVERIFY(std::holds_alternative<cueprune::SheetEntry>(item));
    QVERIFY(QFileInfo::exists(dir.filePath(stray)));
    QVERIFY(walk.next(item));
    const auto *settled = std::get_if<cueprune::SettledLeftover>(&item);
    QVERIFY(settled && settled->leftover == cueprune::Leftover::Removed);
    QCOMPARE(QFile::decodeName(settled->shownPath), dir.filePath(stray));
    QVERIFY(!QFileInfo::exists(dir.filePath(stray)));
}

void TestFiles::replaceRulesInOrder_data()
{
    using Names = QList<QByteArray>;
    QTest::addColumn<QByteArray>("faults");
    QTest::addColumn<QString>("meanwhile"); // what happens between the read and the replace
    QTest::addColumn<int>("expected"); // a Failure::Reason, -1 for none
    QTest::addColumn<Names>("names"); // in the sheet's folder afterwards
    const int none = -1;
    const Names sheetAndBackup { "album.cue", "album.cue~" };
    const Names sheetOnly { "album.cue" };

    QTest::newRow("replaced") << QByteArray() << "" << none << sheetAndBackup;
    // NFS, SMB, vfat: the new file is named from the start.
    QTest::newRow("noUnnamedFiles") << QByteArray("tmpfile") << "" << none << sheetAndBackup;
    QTest::newRow("diskFull") << QByteArray() << "diskFull" << int(Failure::Reason::DiskFull)
                              << sheetOnly;
    // A dying USB stick: nothing takes the sheet's place, and no backup was made yet.
    QTest::newRow("failedFlush") << QByteArray("fsync") << "" << int(Failure::Reason::FlushFailed)
                                 << sheetOnly;
    QTest::newRow("failedFlushOfNamedFile")
        << QByteArray("tmpfile,fsync") << "" << int(Failure::Reason::FlushFailed) << sheetOnly;
    // SMB refuses to remove a file still open: the temporary is closed first.
    QTest::newRow("failedFlushWhereOpenFilesStay")
        << QByteArray("tmpfile,fsync,openunlink") << "" << int(Failure::Reason::FlushFailed)
        << sheetOnly;
    QTest::newRow("writtenAfterRead")
        << QByteArray() << "written" << int(Failure::Reason::ChangedBeforeReplace) << sheetOnly;
    QTest::newRow("backupNameIsAFolder")
        << QByteArray() << "backupFolder" << int(Failure::Reason::BackupFailed) << sheetAndBackup;
    // Replaced by another file after the backup was made: the backup goes again.
    QTest::newRow("swappedBeforeRename")
        << QByteArray() << "swapped" << int(Failure::Reason::ChangedBeforeReplace)
        << Names { "album.cue", "album.cue.away" };
}

// Each rule of a replacement, made to fail in turn: the sheet is whole and old (or the other
// program's), nothing of the run is left in its folder, and a later step never ran.
void TestFiles::replaceRulesInOrder()
{
    QFETCH(QByteArray, faults);
    QFETCH(QString, meanwhile);
    QFETCH(int, expected);
    QFETCH(QList<QByteArray>, names);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray otherText = "REM written elsewhere\n";
    QVERIFY(testsupport::fill(dir.path(),
        { { "library/album.cue", testsupport::pregapSheet },
            { "elsewhere/other.cue", otherText } }));
    const QString library = dir.filePath("library");
    if (meanwhile == "backupFolder")
        QVERIFY(testsupport::fill(library, { { "album.cue~/kept", {} } }));

    const auto named = cueprune::openNamedPath(QFile::encodeName(library + "/album.cue"));
    QVERIFY(named);
    cueprune::SheetFile sheet(named->sheet);
    QVERIFY(!sheet.read());
    if (meanwhile == "written")
        QVERIFY(testsupport::writeFile(library + "/album.cue", otherText));
    QList<std::pair<const char *, QByteArray>> settings { { "FAULTS", faults } };
    if (meanwhile == "swapped")
        settings += { { "SWAP_ENTRY", "album.cue" },
            { "SWAP_MOVE", QFile::encodeName(dir.filePath("elsewhere/other.cue")) } };
    std::optional<Failure> failure;
    {
        const testsupport::FaultsHere faultsHere(settings);
        const testsupport::FileSizeLimit limit(meanwhile == "diskFull" ? 64 : RLIM_INFINITY);
        failure = sheet.replace(testsupport::prunedSheet, { BackupPolicy::Control::Simple, "~" });
    }

    QCOMPARE(failure ? int(failure->reason) : -1, expected);
    QCOMPARE(testsupport::namesIn(library), names);
    const QByteArray now = testsupport::readFile(library + "/album.cue");
    if (!failure) {
        QCOMPARE(now, testsupport::prunedSheet);
        QCOMPARE(testsupport::readFile(library + "/album.cue~"), testsupport::pregapSheet);
    } else {
        QCOMPARE(now,
            meanwhile == "written" || meanwhile == "swapped" ? otherText
                                                             : testsupport::pregapSheet);
    }
}

void TestFiles::attributesAFileSystemLacks_data()
{
    QTest::addColumn<int>("fileError"); // errno of listing a file's attributes, 0 for none
    QTest::addColumn<int>("folderError"); // and of listing its folder's
    QTest::addColumn<bool>("replaced");
    QTest::newRow("fileNotSupported") << ENOTSUP << 0 << true;
    QTest::newRow("fileNotImplemented") << ENOSYS << 0 << true;
    // rclone over sftp.
    QTest::newRow("fileFailsFolderNotSupported") << EIO << ENOTSUP << true;
    QTest::newRow("fileFailsFolderNotImplemented") << EIO << ENOSYS << true;
    // SMB through FUSE.
    QTest::newRow("fileAndFolderFailAlike") << EIO << EIO << true;
    QTest::newRow("fileFailsFolderLists") << EIO << 0 << false;
    QTest::newRow("fileAndFolderFailApart") << EIO << EACCES << false;
}

// A file system that keeps no extended attributes, whatever error says so, leaves the sheet
// none to keep; where its folder shows it keeps them, a file's failure fails the sheet.
void TestFiles::attributesAFileSystemLacks()
{
    QFETCH(int, fileError);
    QFETCH(int, folderError);
    QFETCH(bool, replaced);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(testsupport::fill(dir.path(), { { "album.cue", testsupport::pregapSheet } }));
    const auto named = cueprune::openNamedPath(QFile::encodeName(dir.filePath("album.cue")));
    QVERIFY(named);
    cueprune::SheetFile sheet(named->sheet);
    QVERIFY(!sheet.read());
    std::optional<Failure> failure;
    {
        const testsupport::FaultsHere faults({ { "LISTXATTR_FILE", QByteArray::number(fileError) },
            { "LISTXATTR_FOLDER", QByteArray::number(folderError) } });
        failure = sheet.replace(testsupport::prunedSheet);
    }
    QCOMPARE(failure ? int(failure->reason) : -1,
        replaced ? -1 : int(Failure::Reason::AttributesNotKept));
    QCOMPARE(testsupport::readFile(dir.filePath("album.cue")),
        replaced ? testsupport::prunedSheet : testsupport::pregapSheet);
    QCOMPARE(testsupport::namesIn(dir.path()), QList<QByteArray> { "album.cue" });
}

// Folders are opened one below the other, never by their whole path: a sheet deeper than
// PATH_MAX is found, read and replaced.
void TestFiles::treeDeeperThanPathMax()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray folderName(250, 'd');
    int folder = ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY);
    QByteArray deepPath = QFile::encodeName(dir.path());
    for (int depth = 0; depth < 20; ++depth) {
        QCOMPARE(::mkdirat(folder, folderName.constData(), 0755), 0);
        const int below = ::openat(folder, folderName.constData(), O_RDONLY | O_DIRECTORY);
        ::close(folder);
        folder = below;
        QVERIFY(folder >= 0);
        deepPath += '/' + folderName;
    }
    const auto sheetIn
        = [folder](int flags) { return ::openat(folder, "album.cue", flags | O_CLOEXEC, 0644); };
    QFile sheet;
    QVERIFY(sheet.open(sheetIn(O_WRONLY | O_CREAT), QIODevice::WriteOnly, QFile::AutoCloseHandle));
    QCOMPARE(sheet.write(testsupport::pregapSheet), testsupport::pregapSheet.size());
    sheet.close();
    QVERIFY(deepPath.size() > 4096);

    QList<QByteArray> seen;
    std::optional<Failure> failure;
    {
        SheetWalk walk(true, Strays::Kept);
        walk.addPath(QFile::encodeName(dir.path()));
        for (WalkItem item; walk.next(item);) {
            seen.append(cueprune::shownPath(item));
            if (const auto *entry = std::get_if<cueprune::SheetEntry>(&item)) {
                cueprune::SheetFile file(*entry);
                failure = file.read();
                if (!failure)
                    failure = file.replace(testsupport::prunedSheet);
            }
        }
    }
    QFile pruned;
    QVERIFY(pruned.open(sheetIn(O_RDONLY), QIODevice::ReadOnly, QFile::AutoCloseHandle));
    const QByteArray after = pruned.readAll();
    ::close(folder);
    QProcess::execute("rm", { "-rf", "--", dir.filePath(QString::fromLatin1(folderName)) });
    QCOMPARE(seen, QList<QByteArray> { deepPath + "/album.cue" });
    QVERIFY(!failure);
    QCOMPARE(after, testsupport::prunedSheet);
}

QTEST_GUILESS_MAIN(TestFiles)
#include "tst_files.moc"
