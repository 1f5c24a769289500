// cueprune on the file systems libraries really live on, all made by the test in its temporary
// folder: exFAT and NTFS through their FUSE drivers on loop devices, and one folder of an sshd on
// 127.0.0.1 mounted twice through sshfs (two machines on a NAS) and once through rclone. They
// need root and /dev/fuse; the cases that need them are skipped, saying why, where those lack.
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

using testsupport::FolderContents;
using testsupport::pregapSheet;
using testsupport::prunedSheet;
using testsupport::readFile;

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

// What each kind of mount needs besides root and /dev/fuse.
const std::map<QString, QStringList> needs { { "local", {} },
    { "exfat", { "losetup", "mkfs.exfat", "mount.exfat-fuse" } },
    { "ntfs", { "losetup", "mkntfs", "ntfs-3g" } },
    { "sshfs", { "sshd", "ssh-keygen", "sshfs", "fusermount3" } },
    { "sshfs2", { "sshd", "ssh-keygen", "sshfs", "fusermount3" } },
    { "rclone", { "sshd", "ssh-keygen", "rclone", "fusermount3" } } };

// Why a kind of file system cannot be mounted here; empty when it can be tried.
QString whyNoMount(const QString &kind)
{
    if (::geteuid() != 0)
        return QStringLiteral("mounting needs root");
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        return QStringLiteral("no /dev/fuse");
    for (const QString &name : needs.at(kind)) {
        if (program(name).isEmpty())
            return name + QStringLiteral(" is not installed");
    }
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

// Where the sheet "NN/M.cue" is pruned, the text it gets.
QByteArray prunedText(const QString &name)
{
    return inForm(prunedSheet, QFileInfo(name).baseName().toInt());
}

// folders × sheets sheets with pregaps, as "NN/M.cue".
FolderContents library(int folders, int sheets)
{
    FolderContents contents;
    for (int folder = 0; folder < folders; ++folder) {
        for (int sheet = 0; sheet < sheets; ++sheet)
            contents.insert(
                QStringLiteral("%1/%2.cue").arg(folder, 2, 10, QLatin1Char('0')).arg(sheet),
                inForm(pregapSheet, sheet));
    }
    return contents;
}

// The names of contents under root whose sheet is not as expected: old or new, or new only.
QStringList unlike(const QString &root, const FolderContents &contents, bool oldToo = true)
{
    QStringList found;
    for (auto sheet = contents.cbegin(); sheet != contents.cend(); ++sheet) {
        const QByteArray now = readFile(root + '/' + sheet.key());
        if (now != prunedText(sheet.key()) && (!oldToo || now != sheet.value()))
            found.append(sheet.key());
    }
    return found;
}

qsizetype countPruned(const QString &root, const FolderContents &contents)
{
    return contents.size() - unlike(root, contents, false).size();
}

QStringList leftovers(const QString &root)
{
    QStringList found;
    QDirIterator it(root, { ".cueprune-*" }, QDir::Files | QDir::Hidden | QDir::System,
        QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(it.next());
    found.sort();
    return found;
}

QProcessEnvironment environment(const QString &faults)
{
    return testsupport::withoutDisplay(faults.isEmpty()
            ? QProcessEnvironment::systemEnvironment()
            : testsupport::withFaults(FAULT_INJECTION, faults));
}

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// A run of cueprune, with faults, or under a limit of open files as from a shell's "ulimit -n"
// (the standard descriptors only, under the limit).
Run runCueprune(const QStringList &arguments, const QString &faults = {}, int limit = 0)
{
    QProcess process;
    process.setProcessEnvironment(environment(faults));
    if (limit > 0) {
        process.setChildProcessModifier([limit] {
            ::close_range(3, ~0U, 0);
            const rlimit low { rlim_t(limit), rlim_t(limit) };
            ::setrlimit(RLIMIT_NOFILE, &low);
        });
    }
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
    void killedRunsLoseNothing_data();
    void killedRunsLoseNothing();
    void twoBackupRunsKeepEveryOldText_data();
    void twoBackupRunsKeepEveryOldText();
    void sameSizeWriteWithinOneTickIsCaught();
    void sharesLoseNoSheet_data();
    void sharesLoseNoSheet();
    void shareAgesLeftoversByItsOwnClock_data();
    void shareAgesLeftoversByItsOwnClock();
    void libraryReplacedBehindTheCache();
    void lowDescriptorLimitsFailNoSheet_data();
    void lowDescriptorLimitsFailNoSheet();
    void cleanupTestCase();

private:
    // The root of a file system of kind, mounted once: "local" (the temporary folder's own),
    // "exfat", "ntfs", or the server's folder "share" through "sshfs", "sshfs2" (a second
    // machine) or "rclone"; empty where it cannot be mounted.
    QString mounted(const QString &kind);
    QString mount(const QString &kind);
    // Starts the sshd, on a free port, that lets root in with a key made for the test and serves
    // SFTP: a NAS as its clients see it.
    bool serverStarted();
    // A FUSE client stays a child of the test, so that it can be killed as a dropped connection
    // ends it; what it says goes to a file beside the mount point.
    void startClient(const QString &kind, const QStringList &command);

    QTemporaryDir dir;
    std::map<QString, QString> roots;
    quint16 port = 0;
    std::list<QProcess> children; // the sshd and the FUSE clients
    std::map<QString, QProcess *> clients;
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
        if (!image.open(QIODevice::WriteOnly) || !image.resize(48 << 20))
            return {};
        image.close();
        const bool exfat = kind == "exfat";
        const auto device
            = runToEnd(exfat ? QStringList { "mkfs.exfat", image.fileName() }
                             : QStringList { "mkntfs", "-F", "-Q", "-q", image.fileName() })
            ? runToEnd({ "losetup", "-f", "--show", image.fileName() })
            : std::nullopt;
        if (!device)
            return {};
        undo.append({ "losetup", "-d", QString::fromUtf8(device->trimmed()) });
        if (!runToEnd({ exfat ? "mount.exfat-fuse" : "ntfs-3g",
                QString::fromUtf8(device->trimmed()), at }))
            return {};
        undo.append({ "umount", at });
        return at;
    }
    if (!serverStarted())
        return {};
    const QString shared = dir.filePath("share");
    const QString key = dir.filePath("key");
    if (kind == "rclone") {
        testsupport::writeFile(at + ".conf", QByteArray());
        startClient(kind,
            { "rclone", "mount",
                QStringLiteral(":sftp,host=127.0.0.1,port=%1,user=root,key_file=%2:%3")
                    .arg(port)
                    .arg(key, shared),
                at, "--vfs-cache-mode", "writes", "--cache-dir", at + ".cache", "--config",
                at + ".conf", "--log-level", "ERROR", "--vfs-write-back", "100ms" });
    } else {
        startClient(kind,
            { "sshfs", "-f", "-p", QString::number(port), "-o",
                "IdentityFile=" + key
                    + ",StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,BatchMode=yes",
                "root@127.0.0.1:" + shared, at });
    }
    return isFuseMount(at) ? at : QString();
}

bool TestRealDisks::serverStarted()
{
    if (port != 0)
        return listening(port);
    QDir().mkpath(dir.filePath("share"));
    for (const QString &made : { dir.filePath("key"), dir.filePath("hostkey") }) {
        if (!runToEnd({ "ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", made }))
            return false;
    }
    QTcpServer free; // on a port the system chooses, given back to the sshd
    port = free.listen(QHostAddress::LocalHost) ? free.serverPort() : 0;
    free.close();
    const QByteArray config = "ListenAddress 127.0.0.1\nPort " + QByteArray::number(port)
        + "\nHostKey " + QFile::encodeName(dir.filePath("hostkey")) + "\nAuthorizedKeysFile "
        + QFile::encodeName(dir.filePath("key"))
        + ".pub\nPidFile none\nStrictModes no\nUsePAM no\nPasswordAuthentication no\n"
          "PermitRootLogin prohibit-password\nSubsystem sftp internal-sftp\nLogLevel ERROR\n";
    testsupport::writeFile(dir.filePath("sshd_config"), config);
    QProcess &daemon = children.emplace_back();
    daemon.setStandardErrorFile(dir.filePath("sshd.log"));
    daemon.start(program("sshd"), { "-D", "-e", "-f", dir.filePath("sshd_config") });
    for (int attempt = 0; attempt < 100 && !listening(port); ++attempt)
        QThread::msleep(50);
    if (!listening(port))
        qWarning("sshd failed: %s", readFile(dir.filePath("sshd.log")).constData());
    return listening(port);
}

void TestRealDisks::startClient(const QString &kind, const QStringList &command)
{
    const QString at = dir.filePath(kind);
    QProcess &client = children.emplace_back();
    client.setStandardOutputFile(at + ".log");
    client.setStandardErrorFile(at + ".log", QIODevice::Append);
    client.start(program(command.first()), command.mid(1));
    clients[kind] = &client;
    undo.append({ "fusermount3", "-u", "-z", at });
    for (int attempt = 0; attempt < 200 && !isFuseMount(at); ++attempt)
        QThread::msleep(50);
    if (!isFuseMount(at))
        qWarning("%s failed: %s", qPrintable(kind), readFile(at + ".log").constData());
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
        QSKIP(qPrintable(                                                                          \
            QStringLiteral("%1 cannot be mounted here: %2")                                        \
                .arg(kind,                                                                         \
                    whyNoMount(kind).isEmpty() ? "see the warnings above" : whyNoMount(kind))));

void TestRealDisks::killedRunsLoseNothing_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("faults"); // killatrename: killed just before a rename
    QTest::addColumn<QString>("output"); // the way back, written to a file
    for (const char *kind : { "local", "exfat", "ntfs" }) {
        QTest::addRow("%s-atRename", kind) << kind << "killatrename"
                                           << "";
        QTest::addRow("%s-diff", kind) << kind << "slowfsync"
                                       << "--diff";
    }
    for (const char *kind : { "local", "exfat" })
        QTest::addRow("%s-json", kind) << kind << "slowfsync"
                                       << "--json";
}

// Runs killed at random points (slow flushes make the run last), or just before they rename a
// temporary, leave each sheet whole, old or new, and a diff that gives every sheet back through
// patch -R, or a record of every sheet changed; the next full run prunes them all and leaves no
// temporary behind. exFAT ignores case, and its driver gives each spelling an identity of its
// own: there the library named in both spellings is worked once.
void TestRealDisks::killedRunsLoseNothing()
{
    QFETCH(QString, kind);
    QFETCH(QString, faults);
    QFETCH(QString, output);
    MOUNTED(kind);
    if (output == "--diff" && program("patch").isEmpty())
        QSKIP("GNU patch is not installed");
    const QString library = root + "/kills-" + QTest::currentDataTag();
    const QString saved = dir.filePath("saved-") + QTest::currentDataTag();
    const FolderContents contents = ::library(6, 40);
    for (int round = 0; round < 4; ++round) {
        QVERIFY(testsupport::fill(library, contents));
        QProcess process;
        process.setProcessEnvironment(environment(faults));
        process.setStandardOutputFile(saved);
        const QStringList options { "-r", "-j", "4", output };
        process.start(CUEPRUNE, options.mid(0, output.isEmpty() ? 3 : 4) + QStringList(library));
        QVERIFY(process.waitForStarted());
        if (faults == "slowfsync") {
            QThread::msleep(QRandomGenerator::global()->bounded(20, 150));
            process.kill();
        }
        QVERIFY(process.waitForFinished() || process.state() == QProcess::NotRunning);
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QCOMPARE(unlike(library, contents), QStringList());
        const QString records = QString::fromUtf8(readFile(saved));
        for (auto sheet = contents.cbegin(); output == "--json" && sheet != contents.cend();
             ++sheet) {
            const QString path = "\"path\":\"" + library + '/' + sheet.key() + '"';
            const QRegularExpression record(
                QRegularExpression::escape(path) + ".*\"verdict\":\"modified\"");
            QVERIFY2(readFile(library + '/' + sheet.key()) == sheet.value()
                    || record.match(records).hasMatch(),
                qPrintable(sheet.key()));
        }
        if (output == "--diff") {
            QProcess patch;
            patch.setStandardInputFile(saved);
            patch.start(program("patch"),
                { "-R", "-p1", "-d", "/", "-s", "-f", "-r", "-", "--no-backup-if-mismatch" });
            QVERIFY(patch.waitForFinished());
            QCOMPARE(countPruned(library, contents), 0);
            QCOMPARE(unlike(library, contents), QStringList());
        }
    }
    const QString spelledAgain = root + "/KILLS-" + QString(QTest::currentDataTag()).toUpper();
    const Run full = runCueprune({ "-r", library, kind == "exfat" ? spelledAgain : library });
    QCOMPARE(full.exitCode, 0);
    QVERIFY2(full.out.contains(QStringLiteral("\n%1 fichiers : ").arg(contents.size())),
        qPrintable(full.out));
    QCOMPARE(unlike(library, contents, false), QStringList());
    QCOMPARE(leftovers(library), QStringList());
}

void TestRealDisks::twoBackupRunsKeepEveryOldText_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("suffix");
    for (const char *kind : { "local", "exfat", "ntfs" })
        QTest::newRow(kind) << kind << "simple"
                            << "~";
    QTest::newRow("exfat-numbered") << "exfat"
                                    << "numbered"
                                    << ".~1~";
}

// Two runs with -b at once over one library: whichever of them prunes a sheet, its backup
// holds the old text (a copy where links are refused), also where the backup name already was
// a link to the sheet or an older backup, and nothing of either run is left. The user's own
// hidden files, named much like temporaries, stay as they were.
void TestRealDisks::twoBackupRunsKeepEveryOldText()
{
    QFETCH(QString, kind);
    QFETCH(QString, control);
    QFETCH(QString, suffix);
    MOUNTED(kind);
    const QString library = root + "/two-backup-runs-" + control;
    const FolderContents contents = ::library(2, 10);
    const FolderContents mine { { ".cueprune-settings", "volume=3\n" },
        { ".cueprune-20240101", "diary\n" }, { ".cueprune-notesbob-12-todo.txt", "todo\n" } };
    QStringList kept;
    for (auto file = mine.cbegin(); file != mine.cend(); ++file)
        kept.append(library + '/' + file.key());
    for (int round = 0; round < 3; ++round) {
        QVERIFY(QDir(library).removeRecursively());
        QVERIFY(testsupport::fill(library, contents) && testsupport::fill(library, mine));
        if (control == "simple") {
            QVERIFY(testsupport::writeFile(library + "/00/1.cue~", "older\n"));
            // Where the file system has links.
            QVERIFY(::link(QFile::encodeName(library + "/00/0.cue").constData(),
                        QFile::encodeName(library + "/00/0.cue~").constData())
                    == 0
                || kind == "exfat");
        }
        QProcess one;
        QProcess other;
        for (QProcess *run : { &one, &other }) {
            run->setProcessEnvironment(environment("slowfsync"));
            run->start(CUEPRUNE, { "-r", "--backup=" + control, library });
        }
        QVERIFY(one.waitForFinished(60000) && other.waitForFinished(60000));
        QCOMPARE(unlike(library, contents, false), QStringList());
        for (auto sheet = contents.cbegin(); sheet != contents.cend(); ++sheet)
            QCOMPARE(readFile(library + '/' + sheet.key() + suffix), sheet.value());
        QCOMPARE(leftovers(library), kept);
        for (auto file = mine.cbegin(); file != mine.cend(); ++file)
            QCOMPARE(readFile(library + '/' + file.key()), file.value());
    }
}

// Another program writes the sheet while it is being replaced, keeping its size, within one
// tick of exFAT's 2-second clock: the status cannot tell, the bytes do.
void TestRealDisks::sameSizeWriteWithinOneTickIsCaught()
{
    MOUNTED("exfat");
    const QString folder = root + "/tick";
    const QString sheet = folder + "/a.cue";
    QVERIFY(testsupport::fill(folder, { { "a.cue", pregapSheet } }));
    struct stat before = {};
    QCOMPARE(::stat(QFile::encodeName(sheet).constData(), &before), 0);
    const QByteArray theirs = QByteArray(pregapSheet).replace("03:10:20", "03:10:21");

    QProcess process;
    process.setProcessEnvironment(environment("stallfsync"));
    process.start(CUEPRUNE, { folder });
    QVERIFY(process.waitForStarted());
    // The new text is being flushed once its temporary is there.
    QTRY_VERIFY(!leftovers(folder).isEmpty());
    QVERIFY(testsupport::writeFile(sheet, theirs));
    const timespec times[2] = { before.st_atim, before.st_mtim };
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(sheet).constData(), times, 0), 0);
    QVERIFY(process.waitForFinished());

    QCOMPARE(process.exitCode(), 1);
    QVERIFY(process.readAllStandardError().contains("modifié par un autre programme"));
    QCOMPARE(readFile(sheet), theirs);
    QCOMPARE(leftovers(folder), QStringList());
}

void TestRealDisks::sharesLoseNoSheet_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("meanwhile");
    QTest::newRow("twoMachines") << "sshfs"
                                 << "otherMachine";
    QTest::newRow("droppedConnection") << "sshfs"
                                       << "clientKilled";
    QTest::newRow("rcloneOverSftp") << "rclone"
                                    << "";
    QTest::newRow("smbThroughFuse") << "smb"
                                    << "";
}

// A share pruned by two machines at once, each through its own sshfs mount (neither takes the
// other's temporaries for leftovers), or through a mount whose connection drops mid-run: no
// sheet goes missing, and a full run then prunes each sheet, whole, and leaves nothing behind;
// through rclone too, whose file system lacks what Linux's have.
void TestRealDisks::sharesLoseNoSheet()
{
    QFETCH(QString, kind);
    QFETCH(QString, meanwhile);
    if (kind == "smb")
        QSKIP("SMB through FUSE cannot be tried: smbnetfs, the one such client Debian has, loses "
              "its share for seconds after any listing of extended attributes, failing every "
              "call meanwhile with EIO, and adds a mode bit of its own to hidden files");
    MOUNTED(kind);
    const FolderContents contents = library(meanwhile.isEmpty() ? 4 : 10, 8);
    const QString shared = dir.filePath("share/") + QTest::currentDataTag();
    const QString through = root + '/' + QTest::currentDataTag();
    for (int round = 0; round < (meanwhile == "otherMachine" ? 3 : 1); ++round) {
        QVERIFY(testsupport::fill(shared, contents));
        if (meanwhile.isEmpty())
            break;
        std::list<QProcess> runs(meanwhile == "otherMachine" ? 2 : 1);
        const QString other = meanwhile == "otherMachine" ? mounted("sshfs2") : root;
        QVERIFY(!other.isEmpty());
        for (QProcess &run : runs) {
            // Slow flushes keep each run's temporaries there long enough for the other to meet.
            run.setProcessEnvironment(environment("slowfsync"));
            run.start(CUEPRUNE,
                { "-r", (&run == &runs.front() ? root : other) + '/' + QTest::currentDataTag() });
        }
        if (meanwhile == "clientKilled") {
            QTRY_VERIFY(countPruned(shared, contents) > 0);
            clients.at(kind)->kill();
        }
        for (QProcess &run : runs) {
            QVERIFY(run.waitForFinished(60000));
            QVERIFY(
                meanwhile != "otherMachine" || !run.readAllStandardError().contains("temporaire"));
        }
        QCOMPARE(unlike(shared, contents), QStringList());
    }
    if (meanwhile == "clientKilled") {
        runToEnd({ "fusermount3", "-u", "-z", root }, true);
        roots.erase(kind);
        QVERIFY(!mounted(kind).isEmpty());
    }
    // Through the share, sshfs may still cache what the other mount changed, and such a sheet
    // is refused as changed while read; the server's folder itself must hold a sound library.
    const Run full = runCueprune({ "-r", meanwhile == "otherMachine" ? shared : through });
    QVERIFY2(full.exitCode == 0, qPrintable(full.err));
    if (meanwhile.isEmpty())
        QCOMPARE(full.err, QString());
    // rclone sends a file written in its cache to the server a few seconds after its close.
    QTRY_COMPARE_WITH_TIMEOUT(countPruned(shared, contents), contents.size(), 20000);
    // The dropped run's temporaries are fresh: another machine's live run may own them.
    if (meanwhile != "clientKilled")
        QCOMPARE(leftovers(shared), QStringList());
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
    QVERIFY(testsupport::fill(shared, { { "a.cue", pregapSheet } }));
    const QString through = root + "/aged-" + QTest::currentDataTag();
    QCOMPARE(runCueprune({ through }, "killatrename").exitCode, -1);
    const QStringList left = leftovers(shared);
    QCOMPARE(left.size(), 1);
    const timespec back { std::time(nullptr) - minutesBack * 60, 0 };
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
    FolderContents olderLibrary;
    FolderContents newerLibrary;
    for (const QString &name : library(8, 8).keys()) {
        olderLibrary.insert(name, older);
        newerLibrary.insert(name, newer);
    }
    const QString folder = QStringLiteral("replaced");
    const QString shared = dir.filePath("share/" + folder);
    const QString through = root + '/' + folder + '/';
    QVERIFY(testsupport::fill(shared, olderLibrary));
    QDirIterator listing(through, QDir::Files, QDirIterator::Subdirectories);
    while (listing.hasNext())
        QCOMPARE(listing.nextFileInfo().size(), older.size());
    QVERIFY(QDir(shared).removeRecursively());
    QVERIFY(testsupport::fill(shared, newerLibrary));

    const Run run = runCueprune({ "-r", through });
    QStringList left;
    for (const QString &name : newerLibrary.keys()) {
        const QByteArray now = readFile(shared + '/' + name);
        if (now == newer)
            left.append(name);
        else
            QVERIFY2(now == pruned, qPrintable(name + " is cut short"));
    }
    for (const QString &name : left)
        QVERIFY2(run.err.contains(through + name + " : "), qPrintable(run.err));
    QCOMPARE(run.err.count('\n'), left.size());
    QCOMPARE(leftovers(shared), QStringList());
}

void TestRealDisks::lowDescriptorLimitsFailNoSheet_data()
{
    QTest::addColumn<int>("limit");
    for (const int limit : { 10, 16, 48 })
        QTest::addRow("%d", limit) << limit;
}

// A library of album folders under a low descriptor limit: sheets wait for room, none fails.
void TestRealDisks::lowDescriptorLimitsFailNoSheet()
{
    QFETCH(int, limit);
    QTemporaryDir local;
    QVERIFY2(local.isValid(), qPrintable(local.errorString()));
    FolderContents contents;
    for (int album = 0; album < 300; ++album)
        contents.insert(QStringLiteral("%1/album%2/a.cue").arg(album % 10).arg(album), pregapSheet);
    QVERIFY(testsupport::fill(local.path(), contents));
    const Run run = runCueprune({ "-r", "-b", local.path() }, {}, limit);
    QCOMPARE(run.err, QString());
    QVERIFY(run.out.endsWith("300 fichiers : 300 modifiés, 0 inchangé, 0 erreur\n"));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(unlike(local.path(), contents, false), QStringList());
}

QTEST_GUILESS_MAIN(TestRealDisks)
#include "tst_realdisks.moc"
