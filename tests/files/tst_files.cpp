// The file layer in process: the walk, the replace, backups and temporaries' names. The fault
// library's calls are linked in, so that a row can make a system call fail or swap an entry.
#include "files/backup.h"
#include "files/backupnames.h"
#include "files/descriptorbudget.h"
#include "files/linuxstatus.h"
#include "files/mounttype.h"
#include "files/sheetfile.h"
#include "files/sheetwalk.h"
#include "files/temporaries.h"
#include "support/faults.h"
#include "support/files.h"
#include "support/sheets.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/file.h>

using namespace cueprune;
using namespace testsupport;
using Claim = TemporaryName::Claim;
using Faults = FaultSettings;

class TestFiles : public QObject
{
    Q_OBJECT

private slots:
    void backupNumbers_data();
    void backupNumbers();
    void descriptorBudget_data();
    void descriptorBudget();
    void mountType_data();
    void mountType();
    void walkOrder_data();
    void walkOrder();
    void entrySwappedBeforeItIsOpened_data();
    void entrySwappedBeforeItIsOpened();
    void leftoverIsSaidWhenItsFolderIsReached();
    void treeDeeperThanPathMax();
    void replaceRulesInOrder_data();
    void replaceRulesInOrder();
    void temporaryNames_data();
    void temporaryNames();
    void leftoversSettled_data();
    void leftoversSettled();
    void backupRemovedOnlyByItsMaker_data();
    void backupRemovedOnlyByItsMaker();
    void init();

private:
    std::optional<QTemporaryDir> dir; // each row's own
};

void TestFiles::init()
{
    dir.emplace();
    QVERIFY2(dir->isValid(), qPrintable(dir->errorString()));
}

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
    QCOMPARE(backupNumber(candidate, "a.cue").value_or(-1), number);
    if (number > 0)
        QCOMPARE(numberedBackupName("a.cue", number), candidate);
}

void TestFiles::descriptorBudget_data()
{
    QTest::addColumn<int>("free");
    QTest::addColumn<int>("wanted");
    QTest::addColumn<int>("workers");
    QTest::addColumn<int>("foldersAhead"); // of 64 at most, 4 at least
    QTest::addColumn<int>("foldersHeld"); // with the workers there is room for...
    QTest::addColumn<bool>("roomForAnother"); // ...one more item
    QTest::newRow("belowWhatIsKept") << 10 << 8 << 1 << 0 << 0 << true;
    QTest::newRow("fourWorkers") << 28 << 8 << 4 << 0 << 13 << true;
    QTest::newRow("noRoomLeft") << 28 << 8 << 4 << 0 << 14 << false;
    QTest::newRow("aheadAtItsLeast") << 80 << 8 << 8 << 4 << 53 << true;
    QTest::newRow("aheadBelowItsLeast") << 79 << 8 << 8 << 0 << 53 << false;
    QTest::newRow("plenty") << 1024 << 16 << 16 << 64 << 100 << true;
    QTest::newRow("noneWanted") << 1024 << 0 << 1 << 64 << 0 << true;
}

// Sharing out the descriptors at each edge: what is kept for Qt, three a sheet, the walk's two,
// and the folders read ahead.
void TestFiles::descriptorBudget()
{
    QFETCH(int, free);
    QFETCH(int, wanted);
    QFETCH(int, workers);
    QFETCH(int, foldersAhead);
    QFETCH(int, foldersHeld);
    QFETCH(bool, roomForAnother);
    QCOMPARE(DescriptorBudget(free).workers(wanted), workers);
    QCOMPARE(DescriptorBudget(free).foldersAhead(64, 4), foldersAhead);
    QCOMPARE(DescriptorBudget(free).roomForAnother(workers, foldersHeld), roomForAnother);
}

void TestFiles::mountType_data()
{
    // The kernel's table as the test's folder would find it: its device is 0:99.
    const QByteArray table = "22 1 253:1 / / rw,relatime shared:1 - ext4 /dev/vda1 rw\n"
                             "40 22 0:99 / /mnt rw,nosuid shared:9 - %1 %2 rw,user_id=0\n";
    QTest::addColumn<quint32>("type"); // statfs's
    QTest::addColumn<QByteArray>("mountinfo");
    QTest::addColumn<bool>("shared");
    constexpr quint32 fuse = 0x65735546;
    const auto mount = [&](const char *type, const char *source) {
        return QByteArray(table).replace("%1", type).replace("%2", source);
    };
    QTest::newRow("ext4") << 0xEF53u << mount("ext4", "/dev/vdb") << false;
    QTest::newRow("nfs") << 0x6969u << mount("nfs4", "nas:/music") << true;
    QTest::newRow("cifs") << 0xFF534D42u << mount("cifs", "//nas/music") << true;
    QTest::newRow("sshfs") << fuse << mount("fuse.sshfs", "me@nas:/music") << true;
    QTest::newRow("rclone") << fuse << mount("fuse.rclone", "nas:music") << true;
    QTest::newRow("ntfsOnADisk") << fuse << mount("fuseblk", "/dev/sdb1") << false;
    QTest::newRow("exfatOnAnImage") << fuse << mount("fuse", "/dev/loop3") << false;
    QTest::newRow("fuseOfUnknownSource") << fuse << mount("fuse", "exfat") << true;
    QTest::newRow("fuseNotInTheTable") << fuse << table.left(table.indexOf('\n')) << true;
    QTest::newRow("noTable") << fuse << QByteArray() << true;
}

// Which file systems other machines may write too, told from statfs's type and, for FUSE,
// from the kernel's mount table as text.
void TestFiles::mountType()
{
    QFETCH(quint32, type);
    QFETCH(QByteArray, mountinfo);
    QFETCH(bool, shared);
    QCOMPARE(isSharedFileSystem(type, mountOf(mountinfo, 0, 99)), shared);
}

void TestFiles::walkOrder_data()
{
    QTest::addColumn<bool>("recursive");
    // Shown paths under ROOT and "N subfolders" notices, by commas.
    QTest::addColumn<QString>("expected");
    QTest::newRow("ownSheets") << false << QString("a.CUE,Z.cue,3 subfolders of ROOT,linked.cue");
    QTest::newRow("depthFirst") << true << QString("a.CUE,Z.cue,b/one.cue,b/c/deep.cue,B2/two.cue");
}

// Sheets first, by name ignoring case, then subfolders depth first; hidden entries and links
// left out below a path given; each file once, however many of the paths given reach it (a
// link given is followed).
void TestFiles::walkOrder()
{
    QFETCH(bool, recursive);
    QFETCH(QString, expected);
    const QString root = dir->filePath("Musique à trier");
    QVERIFY(fill(root,
        { { "empty/", {} }, { "Z.cue", cleanSheet }, { "a.CUE", pregapSheet }, { "notes.txt", {} },
            { "b/one.cue", {} }, { "b/c/deep.cue", {} }, { "B2/two.cue", {} },
            { ".hidden/h.cue", {} } }));
    QVERIFY(QFile::link(root, root + "/b/c/loop"));
    QVERIFY(QFile::link(root + "/b/one.cue", root + "/linked.cue"));

    SheetWalk walk(recursive, Leftovers::Kept);
    walk.addPath(QFile::encodeName(root));
    walk.addPath(QFile::encodeName(root + "/Z.cue"));
    walk.addPath(QFile::encodeName(root + "/linked.cue"));
    if (recursive)
        walk.addPath(QFile::encodeName(root + "/b/../b"));
    QStringList seen;
    for (WalkItem item; walk.next(item);) {
        const QString shown = QFile::decodeName(shownPath(item));
        const auto *leftOut = std::get_if<SubfoldersLeftOut>(&item);
        seen.append(leftOut ? QStringLiteral("%1 subfolders of %2").arg(leftOut->count).arg(shown)
                            : QString(shown).remove(0, root.size() + 1));
    }
    QCOMPARE(seen, expected.replace("ROOT", root).split(','));
}

void TestFiles::entrySwappedBeforeItIsOpened_data()
{
    QTest::addColumn<QString>("swapped"); // under the library
    // SWAP_LINK or SWAP_MOVE, to "outside", or to "itself" moved away beside it.
    QTest::addColumn<QString>("swap");
    for (const char *swapped : { "B", "B/b.cue" })
        for (const char *swap : { "SWAP_LINK=outside", "SWAP_MOVE=outside", "SWAP_LINK=itself" })
            QTest::addRow("%s-%s", swapped, swap) << QString(swapped) << QString(swap);
}

// Another user swaps an entry between its listing and its opening (made certain by the fault
// library): the walk and the read report it, and nothing outside the library is given or read.
void TestFiles::entrySwappedBeforeItIsOpened()
{
    QFETCH(QString, swapped);
    QFETCH(QString, swap);
    const QString root = dir->filePath("library");
    QVERIFY(fill(dir->path(),
        { { "library/A/a.cue", pregapSheet }, { "library/B/b.cue", pregapSheet },
            { "outside/secret.cue", "secret" } }));
    const bool folder = !swapped.contains('/');
    const QByteArray name = QFile::encodeName(swapped.section('/', -1));
    const QByteArray replacement = swap.endsWith("itself")
        ? name + ".away"
        : QFile::encodeName(dir->filePath(folder ? "outside" : "outside/secret.cue"));

    QStringList seen;
    {
        const auto faults = faultsHere({ { "SWAP_ENTRY", name },
            { swap.startsWith("SWAP_LINK") ? "SWAP_LINK" : "SWAP_MOVE", replacement } });
        SheetWalk walk(true, Leftovers::Kept);
        walk.addPath(QFile::encodeName(root));
        for (WalkItem item; walk.next(item);) {
            std::optional<Failure> failure;
            if (const auto *sheet = std::get_if<SheetEntry>(&item)) {
                SheetFile file(*sheet);
                failure = file.read();
                QVERIFY(failure || file.contents() == pregapSheet);
            } else if (const auto *unreachable = std::get_if<UnreachablePath>(&item)) {
                failure = unreachable->failure;
            }
            seen.append(QFile::decodeName(shownPath(item)).remove(0, root.size() + 1)
                + (failure ? QStringLiteral(" %1").arg(int(failure->reason)) : QString()));
        }
    }
    QCOMPARE(seen,
        QStringList({ "A/a.cue",
            swapped + QStringLiteral(" %1").arg(int(Failure::Reason::SwappedDuringWalk)) }));
}

// A killed run's temporaries are settled only once the walk enters their folder, and said
// there: a run stopped before that leaves them, unsaid. A sheet that gets its name back from
// its temporary is walked too.
void TestFiles::leftoverIsSaidWhenItsFolderIsReached()
{
    const QString removed = QFile::decodeName(temporaryName("b.cue", 3));
    QVERIFY(fill(dir->filePath("library"),
        { { "a.cue", {} }, { "sub/b.cue", "new" }, { "sub/" + removed, "old" },
            { "sub/" + QFile::decodeName(temporaryName("c.cue", 3)), "new" } }));
    SheetWalk walk(true, Leftovers::Settled);
    walk.addPath(QFile::encodeName(dir->filePath("library")));
    WalkItem item;
    QVERIFY(walk.next(item) && std::holds_alternative<SheetEntry>(item));
    QVERIFY(QFileInfo::exists(dir->filePath("library/sub/" + removed)));
    QStringList seen;
    while (walk.next(item)) {
        const auto *settled = std::get_if<SettledLeftover>(&item);
        seen.append(QFileInfo(QFile::decodeName(shownPath(item))).fileName()
            + (settled ? QStringLiteral(" %1").arg(int(settled->leftover)) : QString()));
    }
    seen.sort(); // the leftovers' notices come in the folder's order
    QCOMPARE(seen,
        QStringList({ removed + QStringLiteral(" %1").arg(int(Leftover::Removed)), "b.cue", "c.cue",
            QStringLiteral("c.cue %1").arg(int(Leftover::Recovered)) }));
    QCOMPARE(namesIn(dir->filePath("library/sub")), QList<QByteArray>({ "b.cue", "c.cue" }));
}

void TestFiles::replaceRulesInOrder_data()
{
    QTest::addColumn<Faults>("faults");
    // What happens between the read and the replace, or what a backup name holds before
    // ("link", "copy" or "older" NAME; numbered backups when NAME is numbered).
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<int>("expected"); // a Failure::Reason, -1 for none
    QTest::addColumn<QByteArray>("names"); // in the sheet's folder afterwards, the old text last
    using Reason = Failure::Reason;
    const auto faults = [](const char *named) { return Faults { { "FAULTS", named } }; };
    // Listing a file's extended attributes fails with fileError, its folder's with folderError
    // (0: they list).
    const auto listingFails = [](int fileError, int folderError) {
        return Faults { { "LISTXATTR_FILE", QByteArray::number(fileError) },
            { "LISTXATTR_FOLDER", QByteArray::number(folderError) } };
    };
    const auto row = [](const char *name, const Faults &set, const char *meanwhile,
                         std::optional<Reason> expected, const char *names) {
        QTest::newRow(name) << set << QString(meanwhile) << (expected ? int(*expected) : -1)
                            << QByteArray(names);
    };
    const char *both = "album.cue album.cue~";
    const char *sheetOnly = "album.cue";

    row("replaced", {}, "", {}, both);
    // NFS, SMB, vfat: the new file is named from the start.
    row("noUnnamedFiles", faults("tmpfile"), "", {}, both);
    row("diskFull", {}, "diskFull", Reason::DiskFull, sheetOnly);
    // A dying USB stick: nothing takes the sheet's place, and no backup was made yet.
    row("failedFlush", faults("fsync"), "", Reason::FlushFailed, sheetOnly);
    row("failedFlushOfNamedFile", faults("tmpfile,fsync"), "", Reason::FlushFailed, sheetOnly);
    // SMB refuses to remove a file still open: the temporary is closed first.
    row("failedFlushWhereOpenFilesStay", faults("tmpfile,fsync,openunlink"), "",
        Reason::FlushFailed, sheetOnly);
    row("writtenAfterRead", {}, "written", Reason::ChangedBeforeReplace, sheetOnly);
    // The way back is waited for just before the rename, once the backup is made.
    row("wayBackWithBackup", {}, "wayBack", {}, both);
    // The backup then holds the only copy of the text read: it stays.
    row("writtenWhileWaitingForTheWayBack", {}, "writtenWhileWaiting", Reason::ChangedBeforeReplace,
        both);
    row("backupNameIsAFolder", {}, "backupFolder", Reason::BackupFailed, both);
    // Replaced by another file after the backup was made: the backup stays, since a run that
    // replaced the sheet may count on it.
    row("swappedBeforeRename", {}, "swapped", Reason::ChangedBeforeReplace,
        "album.cue album.cue.away album.cue~");
    // A backup that already keeps the text read is used as it is: no second number for one
    // text, and no name left aside when the backup name already is a link to the sheet.
    row("simpleAlreadyTheSheet", {}, "link album.cue~", {}, both);
    row("simpleOverOlder", {}, "older album.cue~", {}, both);
    row("killedRunsLink", {}, "link album.cue.~1~", {}, "album.cue album.cue.~1~");
    row("killedRunsCopy", {}, "copy album.cue.~3~", {}, "album.cue album.cue.~3~");
    row("numberedOverOlder", {}, "older album.cue.~1~", {},
        "album.cue album.cue.~1~ album.cue.~2~");
    // A file system that keeps no extended attributes, whatever error says so, leaves the sheet
    // none to keep (rclone fails a file's listing, SMB through FUSE its folder's too); where
    // its folder shows it keeps them, a file's failure fails the sheet.
    row("attributesNotSupported", listingFails(ENOTSUP, 0), "", {}, both);
    row("attributesNotImplemented", listingFails(ENOSYS, 0), "", {}, both);
    row("folderNotSupported", listingFails(EIO, ENOTSUP), "", {}, both);
    row("folderNotImplemented", listingFails(EIO, ENOSYS), "", {}, both);
    row("fileAndFolderFailAlike", listingFails(EIO, EIO), "", {}, both);
    row("folderLists", listingFails(EIO, 0), "", Reason::AttributesNotKept, sheetOnly);
    row("fileAndFolderFailApart", listingFails(EIO, EACCES), "", Reason::AttributesNotKept,
        sheetOnly);
}

// Each rule of a replacement, made to fail in turn: the sheet is whole and old (or the other
// program's), nothing of the run is left in its folder, and a later step never ran.
void TestFiles::replaceRulesInOrder()
{
    QFETCH(Faults, faults);
    QFETCH(QString, meanwhile);
    QFETCH(int, expected);
    QFETCH(QByteArray, names);
    const QByteArray otherText = "REM written elsewhere\n";
    QVERIFY(fill(dir->path(),
        { { "library/album.cue", pregapSheet }, { "elsewhere/other.cue", otherText } }));
    const QString library = dir->filePath("library");
    if (meanwhile == "backupFolder")
        QVERIFY(fill(library, { { "album.cue~/kept", {} } }));
    const QStringList existing = meanwhile.split(' ');
    const QString path = library + '/' + existing.last();
    if (existing[0] == "link")
        QCOMPARE(::link(QFile::encodeName(library + "/album.cue"), QFile::encodeName(path)), 0);
    else if (existing.size() == 2)
        QVERIFY(writeFile(path, existing[0] == "copy" ? pregapSheet : "older"));

    const auto named = openNamedPath(QFile::encodeName(library + "/album.cue"));
    QVERIFY(named);
    SheetFile sheet(named->sheet);
    QVERIFY(!sheet.read());
    if (meanwhile == "written")
        QVERIFY(writeFile(library + "/album.cue", otherText));
    Faults settings = faults;
    if (meanwhile == "swapped")
        settings += { { "SWAP_ENTRY", "album.cue" },
            { "SWAP_MOVE", QFile::encodeName(dir->filePath("elsewhere/other.cue")) } };
    std::optional<Failure> failure;
    {
        const auto injected = faultsHere(settings);
        const auto limit = fileSizeLimit(meanwhile == "diskFull" ? 64 : RLIM_INFINITY);
        WayBackSteps wayBack;
        if (meanwhile.startsWith("wayBack") || meanwhile == "writtenWhileWaiting") {
            wayBack.announce = [] {};
            wayBack.ready = [&]() -> std::optional<Failure> {
                if (meanwhile == "writtenWhileWaiting")
                    writeFile(library + "/album.cue", otherText);
                return std::nullopt;
            };
        }
        failure = sheet.replace(prunedSheet,
            { meanwhile.contains(".~") ? BackupPolicy::Control::Numbered
                                       : BackupPolicy::Control::Simple,
                "~" },
            wayBack);
    }

    QCOMPARE(failure ? int(failure->reason) : -1, expected);
    QCOMPARE(namesIn(library), names.split(' '));
    const bool theirs = meanwhile.startsWith("written") || meanwhile == "swapped";
    QCOMPARE(readFile(library + "/album.cue"),
        !failure ? prunedSheet : (theirs ? otherText : pregapSheet));
    if (!failure)
        QCOMPARE(readFile(library + '/' + names.split(' ').last()), pregapSheet);
}

// Folders are opened one below the other, never by their whole path: a sheet deeper than
// PATH_MAX is found, read and replaced.
void TestFiles::treeDeeperThanPathMax()
{
    const QString folder(250, 'd');
    // The shell makes each folder from within the one above; the tree goes as it came.
    const auto removed = qScopeGuard([&] {
        QProcess::execute("rm", { "-rf", dir->filePath(folder) });
    });
    QProcess shell;
    shell.start("sh",
        { "-c", "cd \"$0\" && for i in $(seq 20); do mkdir $1 && cd -P $1; done && cat >a.cue",
            dir->path(), folder });
    shell.write(pregapSheet);
    shell.closeWriteChannel();
    QVERIFY(shell.waitForFinished() && shell.exitCode() == 0);
    const QString deepPath = dir->path() + QString('/' + folder).repeated(20) + "/a.cue";
    for (const QByteArray &before : { pregapSheet, prunedSheet }) {
        SheetWalk walk(true, Leftovers::Kept);
        walk.addPath(QFile::encodeName(dir->path()));
        WalkItem item, none;
        QVERIFY(walk.next(item) && !walk.next(none));
        QCOMPARE(QFile::decodeName(shownPath(item)), deepPath);
        SheetFile file(std::get<SheetEntry>(item));
        QVERIFY(!file.read());
        QCOMPARE(file.contents(), before);
        QVERIFY(before == prunedSheet || !file.replace(prunedSheet));
    }
}

void TestFiles::temporaryNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("claim"); // a Claim, -1 when not a temporary's name
    QTest::addColumn<QByteArray>("replaced");
    QTest::addColumn<qint64>("size");
    const QByteArray longest = QByteArray(221, 'x') + ".cue"; // the name is 255 bytes
    // A temporary's name as anyone who knows the form can write it, check included.
    const auto crafted = [](const QByteArray &claim, const QByteArray &size = "5") -> QByteArray {
        const QByteArray carried = "abcdefgh-" + size + '-' + claim;
        return ".cueprune-abcdefgh-"
            + QCryptographicHash::hash(carried, QCryptographicHash::Sha256).toHex().first(8)
            + carried.sliced(8);
    };
    const auto row
        = [](const QByteArray &name, const QByteArray &temporary, std::optional<Claim> claim,
              const QByteArray &replaced = {}, qint64 size = -1) {
              QTest::newRow(name.constData())
                  << temporary << (claim ? int(*claim) : -1) << replaced << size;
          };
    row("sheet", temporaryName("Album.CUE", 1234), Claim::Sheet, "Album.CUE", 1234);
    row("simpleBackup", temporaryName("a.cue~", 0), Claim::Backup, "a.cue~", 0);
    row("numberedBackup", temporaryName("a.cue.~12~", 7), Claim::Backup, "a.cue.~12~", 7);
    row("longestCarried", temporaryName(longest, 7), Claim::Sheet, longest, 7);
    row("tooLongToCarry", temporaryName('x' + longest, 7), Claim::Nothing);
    row("notASheetCarriesNothing", temporaryName("todo.txt", 3), Claim::Nothing);
    row("hiddenSheetCarriesNothing", temporaryName(".a.cue", 3), Claim::Nothing);
    // A user's own files, and names crafted to make a run create or replace a file.
    for (const char *mine :
        { ".cueprune-settings", ".cueprune-20240101", ".cueprune-notesbob-12-todo.txt",
            ".cueprune-abcdefgh-12-a.cue", ".cueprune-abcdefgh" })
        row(mine, mine, {});
    row("craftedSheet", crafted("a.cue"), Claim::Sheet, "a.cue", 5);
    row("craftedBackup", crafted("album.cue~"), Claim::Backup, "album.cue~", 5);
    row("wrongCheck", crafted("a.cue").replace("-5-", "-6-"), {});
    for (const char *claim : { ".bashrc", "notes.txt", ".a.cue~", "cue~" })
        row(QByteArray("claims-") + claim, crafted(claim), {});
    row("signedSize", crafted("a.cue", "-5"), {});
}

// A temporary's name gives back what it was made with; nothing else is taken for one, and only
// a sheet or a sheet's backup name is ever claimed.
void TestFiles::temporaryNames()
{
    QFETCH(QByteArray, name);
    QFETCH(int, claim);
    QFETCH(QByteArray, replaced);
    QFETCH(qint64, size);
    QVERIFY(name.size() <= 255);
    const auto parsed = parseTemporaryName(name);
    QCOMPARE(parsed ? int(parsed->claim) : -1, claim);
    QCOMPARE(parsed.value_or(TemporaryName()).replaced, replaced);
    QCOMPARE(parsed.value_or(TemporaryName()).size, size);
}

void TestFiles::leftoversSettled_data()
{
    QTest::addColumn<QByteArray>("claim"); // empty: the short form
    QTest::addColumn<bool>("complete");
    QTest::addColumn<QByteArray>("secondLink"); // another name of the leftover's file
    QTest::addColumn<bool>("sheetThere");
    QTest::addColumn<QString>("age"); // local, held here, or age on a share by its own clock
    QTest::addColumn<Leftover>("expected");
    const auto row
        = [](const char *name, const QByteArray &claim, bool complete, const QByteArray &secondLink,
              bool sheetThere, const char *age, Leftover expected) {
              QTest::newRow(name) << claim << complete << secondLink << sheetThere << QString(age)
                                  << expected;
          };
    row("sheetThere", "a.cue", true, "", true, "local", Leftover::Removed);
    row("sheetGone", "a.cue", true, "", false, "local", Leftover::Recovered);
    row("sheetGoneIncomplete", "a.cue", false, "", false, "local", Leftover::None);
    row("sheetClaimLinked", "a.cue", true, "mine", true, "local", Leftover::None);
    row("sheetClaimLinkedWithSheet", "a.cue", true, "a.cue", true, "local", Leftover::None);
    row("held", "a.cue", true, "", true, "held", Leftover::None);
    row("incompleteBackupCopy", "a.cue~", false, "", true, "local", Leftover::Removed);
    row("completeBackupCopyNeverNamed", "a.cue~", true, "", true, "local", Leftover::Removed);
    row("backupCopySheetGone", "a.cue~", true, "", false, "local", Leftover::None);
    row("asideLinkOfBackup", "a.cue~", true, "a.cue~", true, "local", Leftover::Removed);
    row("asideLinkOfSheet", "a.cue~", true, "a.cue", true, "local", Leftover::Removed);
    row("asideLinkedElsewhere", "a.cue~", true, "mine", true, "local", Leftover::None);
    row("shortForm", "", true, "", true, "local", Leftover::Removed);
    row("sharedFresh", "a.cue", true, "", true, "5s", Leftover::None);
    row("sharedWithinSkew", "a.cue", true, "", true, "65min", Leftover::None);
    row("sharedAbandoned", "a.cue", true, "", true, "75min", Leftover::Removed);
    row("sharedAbandonedSheetGone", "a.cue", true, "", false, "75min", Leftover::Recovered);
}

// What a run does with each hidden file of a temporary's name it meets: it removes it, gives
// its sheet its name back, or leaves it and every other name as they were.
void TestFiles::leftoversSettled()
{
    QFETCH(QByteArray, claim);
    QFETCH(bool, complete);
    QFETCH(QByteArray, secondLink);
    QFETCH(bool, sheetThere);
    QFETCH(QString, age);
    QFETCH(Leftover, expected);
    const QByteArray text = "new!\n";
    const QByteArray name = temporaryName(claim, text.size());
    const QString path = dir->filePath(QFile::decodeName(name));
    QVERIFY(writeFile(path, complete ? text : text.first(2)));
    if (sheetThere && secondLink != "a.cue")
        QVERIFY(writeFile(dir->filePath("a.cue"), "old\n"));
    if (!secondLink.isEmpty())
        QCOMPARE(::link(QFile::encodeName(path), QFile::encodeName(dir->filePath(secondLink))), 0);
    QFile held(path);
    QVERIFY(held.open(QIODevice::ReadOnly));
    QCOMPARE(::flock(held.handle(), age == "held" ? LOCK_EX : LOCK_UN), 0);
    const QMap<QString, qint64> ages { { "5s", 5 }, { "65min", 65 * 60 }, { "75min", 75 * 60 } };
    const std::optional<qint64> sharedNow = ages.contains(age)
        ? std::optional(
            (QFileInfo(path).metadataChangeTime().toMSecsSinceEpoch() + ages[age] * 1000) * 1000000)
        : std::nullopt;
    const QList<QByteArray> before = namesIn(dir->path());

    const auto folder = Folder::open(QFile::encodeName(dir->path()));
    QVERIFY(folder);
    QCOMPARE(settleLeftover(**folder, name, sharedNow), expected);
    const bool recovered = expected == Leftover::Recovered;
    QList<QByteArray> after = recovered ? QList<QByteArray> { "a.cue" } : before;
    if (expected == Leftover::Removed)
        after.removeOne(name);
    QCOMPARE(namesIn(dir->path()), after);
    if (recovered)
        QCOMPARE(readFile(dir->filePath("a.cue")), text);
}

void TestFiles::backupRemovedOnlyByItsMaker_data()
{
    // What another run did after the backup was made; only when nothing, the backup goes.
    QTest::addColumn<QString>("meanwhile");
    for (const char *meanwhile :
        { "", "backupRenamedOver", "sheetReplaced", "sheetWrittenInPlace" })
        QTest::newRow(*meanwhile ? meanwhile : "nothing") << QString(meanwhile);
}

// A replace that fails removes the backup it made only while it is still that very file and
// the sheet is still the file read, with its bytes: another run's backup, a backup another
// run counts on, or the last copy of the text read, stays.
void TestFiles::backupRemovedOnlyByItsMaker()
{
    QFETCH(QString, meanwhile);
    const QByteArray folderPath = QFile::encodeName(dir->path());
    QVERIFY(fill(dir->path(), { { "a.cue", "old" }, { "other", "theirs" } }));
    QCOMPARE(::link(folderPath + "/a.cue", folderPath + "/a.cue~"), 0);
    struct stat sheet = {};
    QCOMPARE(::stat(folderPath + "/a.cue", &sheet), 0);
    ReadSheet read;
    read.status.key = keyOf(sheet);
    read.bytes = "old";
    const QByteArray over = folderPath + (meanwhile == "backupRenamedOver" ? "/a.cue~" : "/a.cue");
    if (meanwhile == "sheetWrittenInPlace")
        QVERIFY(writeFile(over, "new"));
    else if (!meanwhile.isEmpty())
        QCOMPARE(::rename(folderPath + "/other", over), 0);
    const Descriptor folder(::open(folderPath.constData(), O_RDONLY | O_DIRECTORY));
    dropBackup(folder.get(), "a.cue", read, { "a.cue~", read.status.key });
    QCOMPARE(QFileInfo::exists(dir->filePath("a.cue~")), !meanwhile.isEmpty());
}

QTEST_GUILESS_MAIN(TestFiles)
#include "tst_files.moc"
