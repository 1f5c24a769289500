// cueprune on the file systems libraries really live on, all made by the test in its temporary
// folder: exFAT and NTFS through their FUSE drivers on loop devices, and one folder of an sshd on
// 127.0.0.1 (a NAS) mounted through sshfs and through rclone. They need root and /dev/fuse; the
// cases that need them are skipped, saying why, where those lack. SMB through FUSE cannot be tried:
// smbnetfs, the one such client Debian has, loses its share for seconds after any listing of
// extended attributes, and adds a mode bit of its own to hidden files.
#include "support/faults.h"
#include "support/files.h"
#include "support/sheets.h"

#include <QDirIterator>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <ctime>
#include <list>
#include <map>

using namespace testsupport;

namespace {

QString program(const QString &name)
{
    return QStandardPaths::findExecutable(
        name, { "/usr/local/sbin", "/usr/local/bin", "/usr/sbin", "/usr/bin", "/sbin", "/bin" });
}

// Runs a program to its end: its standard output, or nothing when it failed (said, unless
// quiet: an unmount of what may be gone already).
std::optional<QByteArray> runToEnd(const QStringList &command, bool quiet = false)
{
    QProcess process;
    process.start(program(command.first()), command.mid(1));
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0)
        return process.readAllStandardOutput();
    if (!quiet)
        qWarning(
            "%s failed: %s", qPrintable(command.first()), process.readAllStandardError().data());
    return std::nullopt;
}

bool isFuseMount(const QString &path)
{
    struct statfs system = {};
    return ::statfs(QFile::encodeName(path).constData(), &system) == 0
        && quint32(system.f_type) == 0x65735546;
}

// Why a kind of file system other than the local one cannot be mounted here; empty when it can
// be tried.
QString whyNoMount(const QString &kind)
{
    if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0)
        return QStringLiteral("mounting needs root and /dev/fuse");
    const QHash<QString, QStringList> needed = { { "exfat", { "mkfs.exfat", "mount.exfat-fuse" } },
        { "ntfs", { "mkntfs", "mount.ntfs-3g" } } };
    for (const QString &name :
        needed.value(kind, QStringList { "sshd", "ssh-keygen", kind, "fusermount3" }))
        if (program(name).isEmpty())
            return name + QStringLiteral(" is not installed");
    return {};
}

bool listening(quint16 port)
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    return probe.waitForConnected(1000);
}

// Sheet n's text in one of the forms sheets come in, Latin-1 or a marked UTF-16 or UTF-32 in
// either byte order, so that a saved diff must give each of them back, byte for byte.
QByteArray inForm(const QByteArray &latin1, int n)
{
    using Encoding = QStringConverter::Encoding;
    const Encoding forms[] = { Encoding::Latin1, Encoding::Utf16LE, Encoding::Utf16BE,
        Encoding::Utf32LE, Encoding::Utf32BE };
    const Encoding form = forms[n % 5];
    return form == Encoding::Latin1
        ? latin1
        : QStringEncoder(form).encode(QChar(QChar::ByteOrderMark) + QString::fromLatin1(latin1));
}

// folders × sheets sheets with pregaps, as "NN/M.cue".
FolderContents library(int folders, int sheets)
{
    FolderContents contents;
    for (int folder = 0; folder < folders; ++folder)
        for (int sheet = 0; sheet < sheets; ++sheet)
            contents.insert(
                QStringLiteral("%1/%2.cue").arg(folder, 2, 10, QLatin1Char('0')).arg(sheet),
                inForm(pregapSheet, sheet));
    return contents;
}

// The names of contents under root whose sheet is not as expected: old or new, or new only.
QStringList unlike(const QString &root, const FolderContents &contents, bool oldToo = true)
{
    QStringList found;
    for (auto sheet = contents.cbegin(); sheet != contents.cend(); ++sheet) {
        const QByteArray now = readFile(root + '/' + sheet.key());
        if (now != inForm(prunedSheet, QFileInfo(sheet.key()).baseName().toInt())
            && (!oldToo || now != sheet.value()))
            found.append(sheet.key());
    }
    return found;
}

QStringList leftovers(const QString &root)
{
    QStringList found;
    QDirIterator it(root, { ".cueprune-*" }, QDir::Files | QDir::Hidden | QDir::System,
        QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(it.next());
    return found;
}

QProcessEnvironment environment(const QString &faults)
{
    return withoutDisplay(faults.isEmpty() ? QProcessEnvironment::systemEnvironment()
                                           : withFaults(FAULT_INJECTION, faults));
}

struct Run
{
    int exitCode = -1;
    QString out, err;
};

// A run of cueprune, with faults, or under a limit of open files as from a shell's "ulimit -n"
// (the standard descriptors only, under the limit).
Run runCueprune(const QStringList &arguments, const QString &faults = {}, int limit = 0)
{
    QProcess process;
    process.setProcessEnvironment(environment(faults));
    if (limit > 0)
        process.setChildProcessModifier([limit] {
            ::close_range(3, ~0U, 0);
            const rlimit low { rlim_t(limit), rlim_t(limit) };
            ::setrlimit(RLIMIT_NOFILE, &low);
        });
    process.start(CUEPRUNE, arguments);
    if (!process.waitForFinished(90000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return { process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
        QString::fromUtf8(process.readAllStandardError()) };
}

} // namespace

class TestRealDisks : public QObject
{
    Q_OBJECT

private slots:
    void runsLoseNoSheet_data();
    void runsLoseNoSheet();
    void shareAgesLeftoversByItsOwnClock_data();
    void shareAgesLeftoversByItsOwnClock();
    void libraryReplacedBehindTheCache();
    void lowDescriptorLimitFailsNoSheet();
    void cleanupTestCase();

private:
    // The root of a file system of kind, mounted once: "local" (the temporary folder's own),
    // "exfat", "ntfs", or the server's folder "share" through "sshfs" or "rclone"; empty where it
    // cannot be mounted.
    QString mounted(const QString &kind);
    QString mount(const QString &kind);
    // Starts the sshd, on a free port, that lets root in with a key made for the test and serves
    // SFTP: a NAS as its clients see it.
    bool serverStarted();

    QTemporaryDir dir;
    std::map<QString, QString> roots;
    quint16 port = 0;
    std::list<QProcess> children; // the sshd and the FUSE clients
    QList<QStringList> undo; // what unmounts, in the order mounted
};

QString TestRealDisks::mounted(const QString &kind)
{
    if (kind == QLatin1String("local"))
        return dir.path();
    if (!roots.count(kind))
        roots[kind] = whyNoMount(kind).isEmpty() ? mount(kind) : QString();
    return roots[kind];
}

QString TestRealDisks::mount(const QString &kind)
{
    const QString at = dir.filePath(kind);
    QDir().mkpath(at);
    if (kind == "exfat" || kind == "ntfs") {
        QFile image(at + ".img");
        const bool exfat = kind == "exfat";
        if (!image.open(QIODevice::WriteOnly) || !image.resize(16 << 20)
            || !runToEnd(exfat ? QStringList { "mkfs.exfat", image.fileName() }
                               : QStringList { "mkntfs", "-F", "-Q", "-q", image.fileName() })
            || !runToEnd({ "mount", "-t", exfat ? "exfat-fuse" : "ntfs-3g", "-o", "loop",
                image.fileName(), at }))
            return {};
        undo.append({ "umount", at });
        return at;
    }
    if (!serverStarted())
        return {};
    // A FUSE client stays a child of the test, ended with it; what it says goes to a file beside
    // the mount point. rclone runs no shell commands on the server: they would run root's own
    // shell and its start-up.
    const QString shared = dir.filePath("share");
    const QString key = dir.filePath("key");
    writeFile(at + ".conf", QByteArray());
    const QStringList command = kind == "rclone"
        ? QStringList { "rclone", "mount",
              QStringLiteral(":sftp,host=127.0.0.1,port=%1,user=root,key_file=%2,shell_type=none,"
                             "disable_hashcheck=true:%3")
                  .arg(port)
                  .arg(key, shared),
              at, "--vfs-cache-mode", "writes", "--cache-dir", at + ".cache", "--config",
              at + ".conf", "--log-level", "ERROR", "--vfs-write-back", "100ms" }
        : QStringList { "sshfs", "-f", "-p", QString::number(port), "-o",
              "IdentityFile=" + key
                  + ",StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,BatchMode=yes",
              "root@127.0.0.1:" + shared, at };
    QProcess &client = children.emplace_back();
    client.setProcessChannelMode(QProcess::MergedChannels);
    client.setStandardOutputFile(at + ".log");
    client.start(program(command.first()), command.mid(1));
    undo.append({ "fusermount3", "-u", "-z", at });
    if (!QTest::qWaitFor([&] { return isFuseMount(at); }, 10000))
        qWarning("%s failed: %s", qPrintable(kind), readFile(at + ".log").constData());
    return isFuseMount(at) ? at : QString();
}

bool TestRealDisks::serverStarted()
{
    if (port != 0)
        return listening(port);
    QDir().mkpath(dir.filePath("share"));
    for (const QString &made : { dir.filePath("key"), dir.filePath("hostkey") })
        if (!runToEnd({ "ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", made }))
            return false;
    QTcpServer free; // on a port the system chooses, given back to the sshd
    port = free.listen(QHostAddress::LocalHost) ? free.serverPort() : 0;
    free.close();
    const QByteArray config = "ListenAddress 127.0.0.1\nPort " + QByteArray::number(port)
        + "\nHostKey " + QFile::encodeName(dir.filePath("hostkey")) + "\nAuthorizedKeysFile "
        + QFile::encodeName(dir.filePath("key"))
        + ".pub\nPidFile none\nStrictModes no\nUsePAM no\nPasswordAuthentication no\n"
          "PermitRootLogin prohibit-password\nSubsystem sftp internal-sftp\nLogLevel ERROR\n";
    writeFile(dir.filePath("sshd_config"), config);
    QProcess &daemon = children.emplace_back();
    daemon.setStandardErrorFile(dir.filePath("sshd.log"));
    daemon.start(program("sshd"), { "-D", "-e", "-f", dir.filePath("sshd_config") });
    if (!QTest::qWaitFor([&] { return listening(port); }, 4000))
        qWarning("sshd failed: %s", readFile(dir.filePath("sshd.log")).constData());
    return listening(port);
}

void TestRealDisks::cleanupTestCase()
{
    for (auto command = undo.crbegin(); command != undo.crend(); ++command)
        runToEnd(*command, true);
    for (QProcess &child : children) {
        child.kill();
        child.waitForFinished();
    }
}

#define MOUNTED(kind)                                                                              \
    const QString root = mounted(kind);                                                            \
    if (root.isEmpty())                                                                            \
        QSKIP(qPrintable(QString(kind) + " cannot be mounted here: "                               \
            + (whyNoMount(kind).isEmpty() ? "see the warnings above" : whyNoMount(kind))));

void TestRealDisks::runsLoseNoSheet_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("faults"); // killatrename: killed just before a rename
    QTest::addColumn<QString>("option"); // a way back written to a file, or backups
    const auto row
        = [](const char *name, const char *kind, const char *faults, const char *option) {
              QTest::newRow(name) << QString(kind) << QString(faults) << QString(option);
          };
    row("local-json", "local", "slowfsync", "--json");
    row("exfat-diff", "exfat", "slowfsync", "--diff");
    row("exfat-atRename", "exfat", "killatrename", "");
    row("local-twoBackupRuns", "local", "slowfsync", "--backup=simple");
    row("exfat-twoBackupRuns", "exfat", "slowfsync", "--backup=simple");
    row("ntfs-twoBackupRuns", "ntfs", "slowfsync", "--backup=simple");
    row("rcloneOverSftp", "rclone", "", "");
}

// A run killed at a random point once it began its way back (slow flushes make it last) or just
// before it renames a temporary, two runs with -b at once: each sheet is left whole, old or new,
// and every old text kept, in a diff that gives every sheet back through patch -R, in a record
// of every sheet changed, in the backup of whichever run pruned it (a copy where links are
// refused, also where the backup name was a link to the sheet or an older backup). The user's
// hidden files, named much like temporaries, stay. A full run then prunes each sheet, whole, and
// leaves nothing behind, through rclone too, whose file system lacks what Linux's have. exFAT
// ignores case, and its driver gives each spelling an identity of its own: there the library
// named in both spellings is worked once.
void TestRealDisks::runsLoseNoSheet()
{
    QFETCH(QString, kind);
    QFETCH(QString, faults);
    QFETCH(QString, option);
    MOUNTED(kind);
    const QString tag = QTest::currentDataTag();
    const QString library = (kind == "rclone" ? dir.filePath("share") : root) + '/' + tag;
    const QString through = root + '/' + tag;
    const QString saved = dir.filePath("saved-") + tag;
    const bool killed = option == "--json" || option == "--diff";
    // Closing a file through rclone takes a third of a second.
    const FolderContents contents = ::library(kind == "rclone" ? 1 : 4, 8);
    const FolderContents mine { { ".cueprune-settings", "volume=3\n" },
        { ".cueprune-20240101", "diary\n" }, { ".cueprune-notesbob-12-todo.txt", "todo\n" } };
    QVERIFY(fill(library, contents) && fill(library, mine));
    if (option == "--backup=simple") {
        QVERIFY(writeFile(library + "/00/1.cue~", "older\n"));
        // Where the file system has links.
        QVERIFY(::link(QFile::encodeName(library + "/00/0.cue").constData(),
                    QFile::encodeName(library + "/00/0.cue~").constData())
                == 0
            || kind == "exfat");
    }
    std::list<QProcess> runs(option.startsWith("--backup") ? 2 : 1);
    for (QProcess &run : runs) {
        run.setProcessEnvironment(environment(faults));
        run.setStandardOutputFile(saved, QIODevice::Append);
        run.start(CUEPRUNE,
            QStringList { "-r", killed ? "-j1" : "", option, through }.filter(
                QRegularExpression(".")));
    }
    if (killed) {
        QTRY_VERIFY(QFileInfo(saved).size() > 0);
        QThread::msleep(QRandomGenerator::global()->bounded(60));
        runs.front().kill();
    }
    for (QProcess &run : runs) {
        QVERIFY(run.waitForFinished(60000));
        QCOMPARE(run.exitStatus() == QProcess::CrashExit, killed || faults == "killatrename");
        const QByteArray err = run.readAllStandardError();
        QVERIFY2(!faults.isEmpty() || err.isEmpty(), err.constData());
    }
    // rclone sends a file written in its cache to the server a moment after its close, and
    // meanwhile the server may hold it in part.
    const int writeBack = kind == "rclone" ? 20000 : 0;
    QTRY_COMPARE_WITH_TIMEOUT(unlike(library, contents), QStringList(), writeBack);
    // Each sheet changed has its record; a backup of each sheet holds its old text.
    const QByteArray records = readFile(saved);
    for (auto sheet = contents.cbegin(); sheet != contents.cend(); ++sheet) {
        const QString path = library + '/' + sheet.key();
        if (option == "--json")
            QVERIFY2(readFile(path) == sheet.value()
                    || records.contains(
                        "\"path\":\"" + path.toUtf8() + "\",\"verdict\":\"modified\""),
                qPrintable(sheet.key()));
        if (runs.size() == 2)
            QCOMPARE(readFile(path + '~'), sheet.value());
    }
    if (option == "--diff") {
        QProcess patch;
        patch.setStandardInputFile(saved);
        patch.start(program("patch"),
            { "-R", "-p1", "-d", "/", "-s", "-f", "-r", "-", "--no-backup-if-mismatch" });
        QVERIFY(patch.waitForFinished());
        QCOMPARE(unlike(library, contents, false).size(), contents.size());
        QCOMPARE(unlike(library, contents), QStringList());
    }
    const Run full
        = runCueprune({ "-r", through, kind == "exfat" ? root + '/' + tag.toUpper() : through });
    QVERIFY2(full.exitCode == 0, qPrintable(full.err));
    QVERIFY2(full.out.contains(QStringLiteral("\n%1 fichiers : ").arg(contents.size())),
        qPrintable(full.out));
    QTRY_COMPARE_WITH_TIMEOUT(unlike(library, contents, false), QStringList(), writeBack);
    QCOMPARE(leftovers(library).size(), mine.size());
    for (auto file = mine.cbegin(); file != mine.cend(); ++file)
        QCOMPARE(readFile(library + '/' + file.key()), file.value());
}

void TestRealDisks::shareAgesLeftoversByItsOwnClock_data()
{
    QTest::addColumn<int>("minutesBack"); // the leftover's times, set back as a client may
    QTest::addColumn<bool>("removed");
    QTest::newRow("clientClockBehind") << 30 << false;
    QTest::newRow("abandoned") << 120 << true;
}

// A run killed on a share leaves its temporary; its times set back by a client whose clock is
// behind still leave it to its writer, while one that is truly old goes, by the share's clock.
void TestRealDisks::shareAgesLeftoversByItsOwnClock()
{
    QFETCH(int, minutesBack);
    QFETCH(bool, removed);
    MOUNTED("sshfs");
    const QString shared = dir.filePath("share/aged-") + QTest::currentDataTag();
    QVERIFY(fill(shared, { { "a.cue", pregapSheet } }));
    const QString through = root + "/aged-" + QTest::currentDataTag();
    QCOMPARE(runCueprune({ through }, "killatrename").exitCode, -1);
    const QStringList left = leftovers(shared);
    QCOMPARE(left.size(), 1);
    const timespec back { std::time(nullptr) - std::time_t(minutesBack) * 60, 0 };
    const timespec times[2] = { back, back };
    const QString throughMount = through + '/' + QFileInfo(left[0]).fileName();
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(throughMount).constData(), times, 0), 0);

    const Run full = runCueprune({ through });
    QCOMPARE(full.exitCode, 0);
    QCOMPARE(full.err.contains("temporaire d'une exécution interrompue supprimé"), removed);
    QCOMPARE(leftovers(shared), removed ? QStringList() : left);
    QCOMPARE(readFile(shared + "/a.cue"), prunedSheet);
}

// A library replaced on the server (a restore, another machine) while an sshfs mount still
// caches the listings and sizes of its older, shorter sheets: a run through the mount at once
// cuts no sheet short, even one longer than a first read past the cached size. Each is pruned
// whole from its new text, or left as it is and said with its reason.
void TestRealDisks::libraryReplacedBehindTheCache()
{
    MOUNTED("sshfs");
    // A third track, so that a sheet cut at the older size still holds a pregap to prune.
    const QByteArray thirdTrack = "  TRACK 03 AUDIO\r\n    INDEX 01 07:00:00\r\n";
    const QByteArray older = prunedSheet + thirdTrack;
    const QByteArray newer = pregapSheet + thirdTrack + QByteArray(100000, '\n');
    const QByteArray pruned = QByteArray(newer).replace("    INDEX 00 03:10:20\r\n", "");
    const QString shared = dir.filePath("share/replaced");
    const QString through = root + "/replaced/";
    FolderContents sheets = library(8, 8);
    for (const QByteArray &text : { older, newer }) {
        for (QByteArray &sheet : sheets)
            sheet = text;
        QVERIFY(QDir(shared).removeRecursively() && fill(shared, sheets));
        QDirIterator listing(through, QDir::Files, QDirIterator::Subdirectories);
        while (text == older && listing.hasNext())
            QCOMPARE(listing.nextFileInfo().size(), older.size());
    }
    const Run run = runCueprune({ "-r", through });
    qsizetype left = 0;
    for (const QString &name : sheets.keys()) {
        const QByteArray now = readFile(shared + '/' + name);
        left += now == newer;
        QVERIFY2(now == pruned || (now == newer && run.err.contains(through + name + " : ")),
            qPrintable(name + " is cut short or left unsaid: " + run.err));
    }
    QCOMPARE(run.err.count('\n'), left);
    QCOMPARE(leftovers(shared), QStringList());
}

// A library of album folders under a low descriptor limit: sheets wait for room, none fails.
void TestRealDisks::lowDescriptorLimitFailsNoSheet()
{
    const QString library = dir.filePath("albums");
    FolderContents contents;
    for (int album = 0; album < 60; ++album)
        contents.insert(QStringLiteral("%1/album%2/a.cue").arg(album % 6).arg(album), pregapSheet);
    QVERIFY(fill(library, contents));
    const Run run = runCueprune({ "-r", "-b", library }, {}, 10);
    QCOMPARE(run.err, QString());
    QVERIFY(run.out.endsWith("60 fichiers : 60 modifiés, 0 inchangé, 0 erreur\n"));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(unlike(library, contents, false), QStringList());
}

QTEST_GUILESS_MAIN(TestRealDisks)
#include "tst_realdisks.moc"
