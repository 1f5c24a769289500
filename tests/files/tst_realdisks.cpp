// cueprune on the file systems libraries really live on: exFAT and NTFS through their FUSE
// drivers on loop devices, and one folder shared through two sshfs mounts of an sshd on
// 127.0.0.1, all made by the test in its temporary folder. They need root and /dev/fuse; the
// cases that need them are skipped, saying why, where those are missing.
#include "support/faults.h"
#include "support/files.h"
#include "support/sheets.h"

#include <QDirIterator>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <ctime>
#include <map>
#include <memory>
#include <optional>

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

// Runs a program to its end, for what it does only: an unmount of what may be gone already.
void runQuietly(const QString &name, const QStringList &arguments)
{
    QProcess process;
    process.start(program(name), arguments);
    process.waitForFinished(60000);
}

// Runs a program to its end: its standard output, or nothing when it failed.
std::optional<QByteArray> runToEnd(const QString &name, const QStringList &arguments)
{
    QProcess process;
    process.start(program(name), arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        qWarning("%s failed: %s", qPrintable(name), process.readAllStandardError().constData());
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

bool isFuseMount(const QString &path)
{
    struct statfs system = {};
    return ::statfs(QFile::encodeName(path).constData(), &system) == 0
        && quint32(system.f_type) == 0x65735546;
}

// Why the real file systems cannot be made here; empty when they can.
QString whyNoFuse(const QStringList &programs)
{
    if (::geteuid() != 0)
        return QStringLiteral("mounting needs root");
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        return QStringLiteral("no /dev/fuse");
    for (const QString &name : programs) {
        if (program(name).isEmpty())
            return name + QStringLiteral(" is not installed");
    }
    return {};
}

// A file system of kind ("exfat" or "ntfs") in an image file, on a loop device, mounted by
// its FUSE driver: a USB drive as this machine sees it.
class ImageMount
{
public:
    ImageMount(const QString &folder, const QString &kind)
        : mountPoint(folder + '/' + kind)
    {
        const QString image = folder + '/' + kind + ".img";
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(48 << 20)
            || !QDir().mkpath(mountPoint))
            return;
        file.close();
        const bool exfat = kind == QLatin1String("exfat");
        if (!runToEnd(exfat ? "mkfs.exfat" : "mkntfs",
                exfat ? QStringList { image } : QStringList { "-F", "-Q", "-q", image }))
            return;
        const auto device = runToEnd("losetup", { "-f", "--show", image });
        if (!device)
            return;
        loopDevice = QString::fromUtf8(device->trimmed());
        mounted = runToEnd(exfat ? "mount.exfat-fuse" : "ntfs-3g", { loopDevice, mountPoint })
                      .has_value();
    }
    ~ImageMount()
    {
        if (mounted)
            runQuietly("umount", { mountPoint });
        if (!loopDevice.isEmpty())
            runQuietly("losetup", { "-d", loopDevice });
    }
    ImageMount(const ImageMount &) = delete;
    ImageMount &operator=(const ImageMount &) = delete;

    bool isMounted() const { return mounted; }
    const QString mountPoint;

private:
    QString loopDevice;
    bool mounted = false;
};

// An sshd on 127.0.0.1, on a free port, that lets root in with a key made for the test, and
// serves SFTP: a NAS as its clients see it.
class SshServer
{
public:
    explicit SshServer(const QString &folder)
        : key(folder + "/key")
    {
        const QString hostKey = folder + "/hostkey";
        for (const QString &made : { key, hostKey }) {
            if (!runToEnd("ssh-keygen", { "-q", "-t", "ed25519", "-N", "", "-f", made }))
                return;
        }
        port = freePort();
        const QByteArray config = "ListenAddress 127.0.0.1\nPort " + QByteArray::number(port)
            + "\nHostKey " + QFile::encodeName(hostKey) + "\nAuthorizedKeysFile "
            + QFile::encodeName(key)
            + ".pub\nPidFile none\nStrictModes no\nUsePAM no\n"
              "PasswordAuthentication no\nPermitRootLogin prohibit-password\n"
              "Subsystem sftp internal-sftp\nLogLevel ERROR\n";
        if (!testsupport::writeFile(folder + "/sshd_config", config))
            return;
        daemon.start(program("sshd"), { "-D", "-e", "-f", folder + "/sshd_config" });
        for (int attempt = 0; attempt < 100 && !listening(); ++attempt)
            QThread::msleep(50);
    }
    ~SshServer()
    {
        daemon.kill();
        daemon.waitForFinished();
    }
    SshServer(const SshServer &) = delete;
    SshServer &operator=(const SshServer &) = delete;

    bool listening() const
    {
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = loopback(port);
        const bool up
            = ::connect(probe, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        ::close(probe);
        return port != 0 && up;
    }
    QString errors() { return QString::fromUtf8(daemon.readAllStandardError()); }

    const QString key;
    quint16 port = 0;

private:
    static sockaddr_in loopback(quint16 port)
    {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }
    static quint16 freePort()
    {
        const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = loopback(0);
        socklen_t size = sizeof address;
        const bool bound = ::bind(socket, reinterpret_cast<sockaddr *>(&address), size) == 0
            && ::getsockname(socket, reinterpret_cast<sockaddr *>(&address), &size) == 0;
        ::close(socket);
        return bound ? ntohs(address.sin_port) : 0;
    }

    QProcess daemon;
};

// A folder of the server's, mounted by a FUSE client that stays a child of the test, so that it
// can be killed as a dropped connection would end it. What the client says goes to a file
// beside the mount point, where a full pipe cannot stop it.
class ClientMount
{
public:
    ClientMount(const QString &client, const QStringList &arguments, const QString &mountPoint)
        : mountPoint(mountPoint)
    {
        QDir().mkpath(mountPoint);
        process.setStandardOutputFile(mountPoint + ".log");
        process.setStandardErrorFile(mountPoint + ".log", QIODevice::Append);
        process.start(program(client), arguments);
        for (int attempt = 0; attempt < 200 && !isFuseMount(mountPoint); ++attempt)
            QThread::msleep(50);
    }
    ~ClientMount()
    {
        runQuietly("fusermount3", { "-u", "-z", mountPoint });
        process.kill();
        process.waitForFinished();
    }
    ClientMount(const ClientMount &) = delete;
    ClientMount &operator=(const ClientMount &) = delete;

    bool isMounted() const { return isFuseMount(mountPoint); }
    void killClient()
    {
        process.kill();
        process.waitForFinished();
    }

    const QString mountPoint;

private:
    QProcess process;
};

// shared, a folder of server's, mounted at mountPoint through sshfs.
std::unique_ptr<ClientMount> sshfsMount(
    const SshServer &server, const QString &shared, const QString &mountPoint)
{
    return std::make_unique<ClientMount>("sshfs",
        QStringList { "-f", "-p", QString::number(server.port), "-o",
            "IdentityFile=" + server.key
                + ",StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,BatchMode=yes",
            "root@127.0.0.1:" + shared, mountPoint },
        mountPoint);
}

// The same through rclone's SFTP remote, caching files while they are written, as many reach a
// NAS or a cloud drive; its cache and configuration beside the mount point.
std::unique_ptr<ClientMount> rcloneMount(
    const SshServer &server, const QString &shared, const QString &mountPoint)
{
    const QString remote = QStringLiteral(":sftp,host=127.0.0.1,port=%1,user=root,key_file=%2:%3")
                               .arg(server.port)
                               .arg(server.key, shared);
    testsupport::writeFile(mountPoint + ".conf", QByteArray());
    return std::make_unique<ClientMount>("rclone",
        QStringList { "mount", remote, mountPoint, "--vfs-cache-mode", "writes", "--cache-dir",
            mountPoint + ".cache", "--config", mountPoint + ".conf", "--log-level", "ERROR" },
        mountPoint);
}

// folders × sheets sheets with pregaps, as "NN/MM.cue".
FolderContents library(int folders, int sheets)
{
    FolderContents contents;
    for (int folder = 0; folder < folders; ++folder) {
        for (int sheet = 0; sheet < sheets; ++sheet)
            contents.insert(
                QStringLiteral("%1/%2.cue").arg(folder, 2, 10, QLatin1Char('0')).arg(sheet),
                pregapSheet);
    }
    return contents;
}

// The names of contents whose sheet under root is missing or neither its old nor its new text.
QStringList damaged(const QString &root, const FolderContents &contents)
{
    QStringList found;
    for (const QString &name : contents.keys()) {
        const QByteArray now = readFile(root + '/' + name);
        if (now != pregapSheet && now != prunedSheet)
            found.append(name);
    }
    return found;
}

int countPruned(const QString &root, const FolderContents &contents)
{
    const QStringList names = contents.keys();
    return int(std::count_if(names.cbegin(), names.cend(),
        [&](const QString &name) { return readFile(root + '/' + name) == prunedSheet; }));
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

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run runCueprune(const QStringList &arguments, const QString &faults = {})
{
    QProcess process;
    process.setProcessEnvironment(testsupport::withoutDisplay(faults.isEmpty()
            ? QProcessEnvironment::systemEnvironment()
            : testsupport::withFaults(FAULT_INJECTION, faults)));
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
    void killedRunsLeaveNoDamageNorLeftover_data();
    void killedRunsLeaveNoDamageNorLeftover();
    void killedRunsKeepTheirWayBack_data();
    void killedRunsKeepTheirWayBack();
    void twoBackupRunsKeepEveryOldText_data();
    void twoBackupRunsKeepEveryOldText();
    void backupsWhereLinksAreRefused_data();
    void backupsWhereLinksAreRefused();
    void sameSizeWriteWithinOneTickIsCaught();
    void oneFolderUnderTwoSpellingsIsWorkedOnce();
    void twoMachinesOnOneShareLoseNoSheet();
    void droppedConnectionLosesNoSheet();
    void shareAgesLeftoversByItsOwnClock_data();
    void shareAgesLeftoversByItsOwnClock();
    void nasLayersPruneEverySheet_data();
    void nasLayersPruneEverySheet();
    void libraryReplacedBehindTheCache_data();
    void libraryReplacedBehindTheCache();
    void lowDescriptorLimitsFailNoSheet_data();
    void lowDescriptorLimitsFailNoSheet();
    void cleanupTestCase();

private:
    // The root of a mounted file system of kind: "exfat", "ntfs", or "local" (the temporary
    // folder's own); empty after a skip.
    QString mounted(const QString &kind);
    // The two sshfs mounts of one shared folder, made once.
    bool shareMounted();

    QTemporaryDir dir;
    std::map<QString, std::unique_ptr<ImageMount>> images;
    std::unique_ptr<SshServer> server;
    std::unique_ptr<ClientMount> first;
    std::unique_ptr<ClientMount> second;
    std::unique_ptr<ClientMount> rclone;
};

QString TestRealDisks::mounted(const QString &kind)
{
    if (kind == QLatin1String("local"))
        return dir.path();
    auto &image = images[kind];
    if (!image) {
        const QString why
            = whyNoFuse({ "losetup", kind == "exfat" ? "mount.exfat-fuse" : "ntfs-3g" });
        if (!why.isEmpty())
            return {};
        image = std::make_unique<ImageMount>(dir.path(), kind);
    }
    return image->isMounted() ? image->mountPoint : QString();
}

bool TestRealDisks::shareMounted()
{
    if (!first && whyNoFuse({ "sshd", "sshfs", "ssh-keygen", "fusermount3" }).isEmpty()) {
        QDir().mkpath(dir.filePath("share"));
        server = std::make_unique<SshServer>(dir.path());
        first = sshfsMount(*server, dir.filePath("share"), dir.filePath("first"));
        second = sshfsMount(*server, dir.filePath("share"), dir.filePath("second"));
    }
    return first && first->isMounted() && second->isMounted();
}

void TestRealDisks::cleanupTestCase()
{
    rclone.reset();
    first.reset();
    second.reset();
    server.reset();
    images.clear();
}

#define ROOT_OF(kind)                                                                              \
    const QString root = mounted(kind);                                                            \
    if (root.isEmpty())                                                                            \
        QSKIP(qPrintable(                                                                          \
            QStringLiteral("%1 cannot be mounted here: %2")                                        \
                .arg(kind, whyNoFuse({}).isEmpty() ? "see the warnings above" : whyNoFuse({}))));

void TestRealDisks::killedRunsLeaveNoDamageNorLeftover_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("faults"); // killatrename: killed just before a rename
    for (const char *kind : { "local", "exfat", "ntfs" }) {
        QTest::addRow("%s-atRandom", kind) << kind << "slowfsync";
        QTest::addRow("%s-atRename", kind) << kind << "killatrename";
    }
}

// Runs killed at random points, or just before they rename a temporary, leave each sheet
// whole, old or new; the next full run prunes them all and leaves no temporary behind.
void TestRealDisks::killedRunsLeaveNoDamageNorLeftover()
{
    QFETCH(QString, kind);
    QFETCH(QString, faults);
    ROOT_OF(kind);
    const QString library = root + "/kills-" + faults;
    const FolderContents contents = ::library(6, 40);
    for (int round = 0; round < 5; ++round) {
        QVERIFY(testsupport::fill(library, contents));
        QProcess process;
        process.setProcessEnvironment(testsupport::withFaults(FAULT_INJECTION, faults));
        // Four workers flushing slowly take over a quarter of a second on these sheets: the
        // kill lands at a random point of the run.
        process.start(CUEPRUNE, { "-r", "-j", "4", library });
        QVERIFY(process.waitForStarted());
        if (faults == "slowfsync") {
            QThread::msleep(QRandomGenerator::global()->bounded(20, 150));
            process.kill();
        }
        QVERIFY(process.waitForFinished() || process.state() == QProcess::NotRunning);
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QCOMPARE(damaged(library, contents), QStringList());
    }
    const Run full = runCueprune({ "-r", library });
    QCOMPARE(full.exitCode, 0);
    QCOMPARE(countPruned(library, contents), contents.size());
    QCOMPARE(leftovers(library), QStringList());
}

void TestRealDisks::killedRunsKeepTheirWayBack_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("output");
    for (const char *kind : { "local", "exfat" }) {
        for (const char *output : { "--diff", "--json" })
            QTest::addRow("%s%s", kind, output) << kind << output;
    }
}

// Runs killed at random points while their diff or JSON goes to a file: every sheet pruned
// has its record, and the diff gives every sheet back through patch -R.
void TestRealDisks::killedRunsKeepTheirWayBack()
{
    QFETCH(QString, kind);
    QFETCH(QString, output);
    ROOT_OF(kind);
    if (output == "--diff" && program("patch").isEmpty())
        QSKIP("GNU patch is not installed");
    const QString library = root + "/wayback" + output;
    const QString saved = dir.filePath("saved" + output);
    const FolderContents contents = ::library(4, 40);
    for (int round = 0; round < 4; ++round) {
        QVERIFY(testsupport::fill(library, contents));
        QProcess process;
        process.setProcessEnvironment(testsupport::withFaults(FAULT_INJECTION, "slowfsync"));
        process.setStandardOutputFile(saved);
        process.start(CUEPRUNE, { "-r", "-j", "8", output, library });
        QVERIFY2(process.waitForStarted(), qPrintable(process.errorString()));
        QThread::msleep(QRandomGenerator::global()->bounded(20, 120));
        process.kill();
        process.waitForFinished();
        const QByteArray written = readFile(saved);
        if (output == "--json") {
            const QList<QByteArray> records = written.split('\n');
            for (const QString &name : contents.keys()) {
                const QByteArray path
                    = "\"path\":\"" + QFile::encodeName(library + '/' + name) + '"';
                QVERIFY2(readFile(library + '/' + name) == pregapSheet
                        || std::any_of(records.cbegin(), records.cend(),
                            [&](const QByteArray &record) {
                                return record.contains(path)
                                    && record.contains("\"verdict\":\"modified\"");
                            }),
                    qPrintable(name));
            }
            continue;
        }
        QProcess patch;
        patch.setStandardInputFile(saved);
        patch.start(program("patch"),
            { "-R", "-p1", "-d", "/", "-s", "-f", "-r", "-", "--no-backup-if-mismatch" });
        QVERIFY(patch.waitForFinished());
        const QStringList names = contents.keys();
        QCOMPARE(
            std::count_if(names.cbegin(), names.cend(),
                [&](const QString &name) { return readFile(library + '/' + name) != pregapSheet; }),
            0);
    }
}

void TestRealDisks::twoBackupRunsKeepEveryOldText_data()
{
    QTest::addColumn<QString>("kind");
    for (const char *kind : { "local", "exfat", "ntfs" })
        QTest::newRow(kind) << kind;
}

// Two runs with -b at once over one library: whichever of them prunes a sheet, its backup
// holds the old text, and nothing of either run is left. The user's own hidden files, named
// much like temporaries, stay as they were.
void TestRealDisks::twoBackupRunsKeepEveryOldText()
{
    QFETCH(QString, kind);
    ROOT_OF(kind);
    const QString library = root + "/two-backup-runs";
    const FolderContents contents = ::library(2, 10);
    const FolderContents mine { { ".cueprune-settings", "volume=3\n" },
        { ".cueprune-20240101", "diary\n" }, { ".cueprune-notesbob-12-todo.txt", "todo\n" } };
    for (int round = 0; round < 3; ++round) {
        QVERIFY(QDir(library).removeRecursively());
        QVERIFY(testsupport::fill(library, contents) && testsupport::fill(library, mine));
        QProcess one;
        QProcess other;
        for (QProcess *run : { &one, &other }) {
            run->setProcessEnvironment(testsupport::withFaults(FAULT_INJECTION, "slowfsync"));
            run->start(CUEPRUNE, { "-r", "-b", library });
        }
        QVERIFY(one.waitForFinished(60000) && other.waitForFinished(60000));
        QStringList unkept;
        for (const QString &name : contents.keys()) {
            const QByteArray now = readFile(library + '/' + name);
            if (now != prunedSheet || readFile(library + '/' + name + '~') != pregapSheet)
                unkept.append(name);
        }
        QCOMPARE(unkept, QStringList());
        QStringList left = leftovers(library);
        left.sort();
        QStringList kept;
        for (auto file = mine.cbegin(); file != mine.cend(); ++file) {
            kept.append(library + '/' + file.key());
            QCOMPARE(readFile(kept.last()), file.value());
        }
        QCOMPARE(left, kept);
    }
}

void TestRealDisks::backupsWhereLinksAreRefused_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("backup");
    QTest::addColumn<QByteArray>("olderBackup"); // under the backup's name before the run
    QTest::newRow("simple") << QStringList { "-b" } << "a.cue~" << QByteArray();
    QTest::newRow("simpleOverOlder") << QStringList { "-b" } << "a.cue~" << QByteArray("old");
    QTest::newRow("numbered") << QStringList { "--backup=numbered" } << "a.cue.~1~" << QByteArray();
}

// exFAT keeps no second link to a file: the backup is a copy of the sheet's bytes.
void TestRealDisks::backupsWhereLinksAreRefused()
{
    QFETCH(QStringList, options);
    QFETCH(QString, backup);
    QFETCH(QByteArray, olderBackup);
    ROOT_OF("exfat");
    const QString folder = root + "/backup-" + QTest::currentDataTag();
    QVERIFY(testsupport::fill(folder, { { "a.cue", pregapSheet } }));
    if (!olderBackup.isEmpty())
        QVERIFY(testsupport::writeFile(folder + '/' + backup, olderBackup));
    const Run run = runCueprune(options + QStringList { folder });
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(readFile(folder + "/a.cue"), prunedSheet);
    QCOMPARE(readFile(folder + '/' + backup), pregapSheet);
    QCOMPARE(leftovers(folder), QStringList());
}

// Another program writes the sheet while it is being replaced, keeping its size, within one
// tick of exFAT's 2-second clock: the status cannot tell, the bytes do.
void TestRealDisks::sameSizeWriteWithinOneTickIsCaught()
{
    ROOT_OF("exfat");
    const QString folder = root + "/tick";
    const QString sheet = folder + "/a.cue";
    QVERIFY(testsupport::fill(folder, { { "a.cue", pregapSheet } }));
    struct stat before = {};
    QCOMPARE(::stat(QFile::encodeName(sheet).constData(), &before), 0);
    const QByteArray theirs = QByteArray(pregapSheet).replace("03:10:20", "03:10:21");

    QProcess process;
    process.setProcessEnvironment(testsupport::withFaults(FAULT_INJECTION, "stallfsync"));
    process.start(CUEPRUNE, { folder });
    QVERIFY(process.waitForStarted());
    // The new text is being flushed once its temporary is there.
    QTRY_VERIFY(!leftovers(folder).isEmpty());
    QFile file(sheet);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QCOMPARE(file.write(theirs), theirs.size());
    file.close();
    const timespec times[2] = { before.st_atim, before.st_mtim };
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(sheet).constData(), times, 0), 0);
    QVERIFY(process.waitForFinished());

    QCOMPARE(process.exitCode(), 1);
    QVERIFY(process.readAllStandardError().contains("modifié par un autre programme"));
    QCOMPARE(readFile(sheet), theirs);
    QCOMPARE(leftovers(folder), QStringList());
}

// exFAT ignores case, and its driver gives each spelling an identity of its own.
void TestRealDisks::oneFolderUnderTwoSpellingsIsWorkedOnce()
{
    ROOT_OF("exfat");
    const FolderContents contents = library(2, 10);
    QVERIFY(testsupport::fill(root + "/ci", contents));
    const Run run = runCueprune({ "-r", root + "/ci", root + "/CI" });
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(
        run.out.endsWith("20 fichiers : 20 modifiés, 0 inchangé, 0 erreur\n"), qPrintable(run.out));
    QCOMPARE(countPruned(root + "/ci", contents), contents.size());
}

// Two machines prune one share at once, each through its own mount: neither takes the other's
// temporaries for leftovers, and no sheet goes missing.
void TestRealDisks::twoMachinesOnOneShareLoseNoSheet()
{
    if (!shareMounted())
        QSKIP(qPrintable("sshfs cannot be mounted here: " + whyNoFuse({ "sshd", "sshfs" })
            + (server ? server->errors() : QString())));
    const FolderContents contents = library(10, 10);
    const QString shared = dir.filePath("share/twice");
    for (int round = 0; round < 3; ++round) {
        QVERIFY(testsupport::fill(shared, contents));
        QProcess one;
        QProcess other;
        // Slow flushes keep each run's temporaries there long enough for the other to meet.
        one.setProcessEnvironment(testsupport::withFaults(FAULT_INJECTION, "slowfsync"));
        other.setProcessEnvironment(testsupport::withFaults(FAULT_INJECTION, "slowfsync"));
        one.start(CUEPRUNE, { "-r", first->mountPoint + "/twice" });
        other.start(CUEPRUNE, { "-r", second->mountPoint + "/twice" });
        QVERIFY(one.waitForFinished(60000) && other.waitForFinished(60000));
        QVERIFY(!one.readAllStandardError().contains("temporaire"));
        QVERIFY(!other.readAllStandardError().contains("temporaire"));
        QCOMPARE(damaged(shared, contents), QStringList());
    }
    // Through the share, sshfs may still cache what the other mount changed, and such a sheet
    // is refused as changed while read; the folder itself must hold a sound library.
    const auto last = runCueprune({ "-r", shared });
    QVERIFY2(last.exitCode == 0, qPrintable(last.err));
    QCOMPARE(countPruned(shared, contents), contents.size());
    QCOMPARE(leftovers(shared), QStringList());
}

// The connection drops mid-run: once mounted again, a full run finds every sheet, old or new,
// and leaves the fresh temporaries of the dropped run alone.
void TestRealDisks::droppedConnectionLosesNoSheet()
{
    if (!shareMounted())
        QSKIP("sshfs cannot be mounted here");
    const FolderContents contents = library(10, 10);
    const QString shared = dir.filePath("share/dropped");
    QVERIFY(testsupport::fill(shared, contents));
    QProcess process;
    process.setProcessEnvironment(testsupport::withFaults(FAULT_INJECTION, "slowfsync"));
    process.start(CUEPRUNE, { "-r", first->mountPoint + "/dropped" });
    QVERIFY(process.waitForStarted());
    QTRY_VERIFY(countPruned(shared, contents) > 0);
    first->killClient();
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(damaged(shared, contents), QStringList());

    first.reset();
    first = sshfsMount(*server, dir.filePath("share"), dir.filePath("first"));
    QVERIFY(first->isMounted());
    const Run full = runCueprune({ "-r", first->mountPoint + "/dropped" });
    QCOMPARE(full.exitCode, 0);
    QCOMPARE(countPruned(shared, contents), contents.size());
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
    if (!shareMounted())
        QSKIP("sshfs cannot be mounted here");
    const QString shared = dir.filePath("share/aged-") + QTest::currentDataTag();
    QVERIFY(testsupport::fill(shared, { { "a.cue", pregapSheet } }));
    const QString mounted = first->mountPoint + "/aged-" + QTest::currentDataTag();
    QCOMPARE(runCueprune({ mounted }, "killatrename").exitCode, -1);
    const QStringList left = leftovers(shared);
    QCOMPARE(left.size(), 1);
    const timespec back { std::time(nullptr) - minutesBack * 60, 0 };
    const timespec times[2] = { back, back };
    const QString throughMount = mounted + '/' + QFileInfo(left[0]).fileName();
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(throughMount).constData(), times, 0), 0);

    const Run full = runCueprune({ mounted });
    QCOMPARE(full.exitCode, 0);
    QCOMPARE(full.err.contains("temporaire d'une exécution interrompue supprimé"), removed);
    QCOMPARE(leftovers(shared), removed ? QStringList() : left);
    QCOMPARE(readFile(shared + "/a.cue"), prunedSheet);
}

void TestRealDisks::nasLayersPruneEverySheet_data()
{
    QTest::addColumn<QString>("layer");
    QTest::newRow("rcloneOverSftp") << "rclone";
    QTest::newRow("smbThroughFuse") << "smb";
}

// The layers many reach a NAS through, whose file systems lack what Linux's have: a run
// prunes every sheet, whole, and leaves nothing behind.
void TestRealDisks::nasLayersPruneEverySheet()
{
    QFETCH(QString, layer);
    if (layer == "smb")
        QSKIP("SMB through FUSE cannot be tried: smbnetfs, the one such client Debian has, loses "
              "its share for seconds after any listing of extended attributes, failing every "
              "call meanwhile with EIO, and adds a mode bit of its own to hidden files");
    const QString why = whyNoFuse({ "sshd", "sshfs", "rclone" });
    if (!why.isEmpty() || !shareMounted())
        QSKIP(qPrintable("rclone cannot mount here: " + why));
    if (!rclone)
        rclone = rcloneMount(*server, dir.filePath("share"), dir.filePath("rclone"));
    QVERIFY2(rclone->isMounted(), readFile(dir.filePath("rclone.log")).constData());
    const FolderContents contents = library(4, 8);
    const QString shared = dir.filePath("share/nas-" + layer);
    QVERIFY(testsupport::fill(shared, contents));
    const Run run = runCueprune({ "-r", rclone->mountPoint + "/nas-" + layer });
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    // rclone sends a file written in its cache to the server a few seconds after its close.
    QTRY_COMPARE_WITH_TIMEOUT(countPruned(shared, contents), contents.size(), 20000);
    QCOMPARE(leftovers(shared), QStringList());
}

void TestRealDisks::libraryReplacedBehindTheCache_data()
{
    // A third track, so that a sheet cut at the older size still holds a pregap to prune.
    const QByteArray thirdTrack = "  TRACK 03 AUDIO\r\n    INDEX 01 07:00:00\r\n";
    QTest::addColumn<QByteArray>("older");
    QTest::addColumn<QByteArray>("newer");
    QTest::newRow("longer") << prunedSheet + thirdTrack << pregapSheet + thirdTrack;
    // Past what a first read asks for beyond the cached size.
    QTest::newRow("longerThanOneRead")
        << prunedSheet + thirdTrack << pregapSheet + thirdTrack + QByteArray(100000, '\n');
}

// A library replaced on the server (a restore, another machine) while an sshfs mount still
// caches the listings and sizes of its older, shorter sheets: a run through the mount at once
// cuts no sheet short. Each is pruned whole from its new text, or left as it is and said with
// its reason.
void TestRealDisks::libraryReplacedBehindTheCache()
{
    QFETCH(QByteArray, older);
    QFETCH(QByteArray, newer);
    if (!shareMounted())
        QSKIP("sshfs cannot be mounted here");
    const QByteArray pruned = QByteArray(newer).replace("    INDEX 00 03:10:20\r\n", "");
    FolderContents olderLibrary;
    FolderContents newerLibrary;
    for (const QString &name : library(8, 8).keys()) {
        olderLibrary.insert(name, older);
        newerLibrary.insert(name, newer);
    }
    const QString folder = QStringLiteral("replaced-") + QTest::currentDataTag();
    const QString shared = dir.filePath("share/" + folder);
    const QString mounted = first->mountPoint + '/' + folder + '/';
    QVERIFY(testsupport::fill(shared, olderLibrary));
    QDirIterator listing(mounted, QDir::Files, QDirIterator::Subdirectories);
    while (listing.hasNext())
        QCOMPARE(listing.nextFileInfo().size(), older.size());
    QVERIFY(QDir(shared).removeRecursively());
    QVERIFY(testsupport::fill(shared, newerLibrary));

    const Run run = runCueprune({ "-r", mounted });
    QStringList left;
    for (const QString &name : newerLibrary.keys()) {
        const QByteArray now = readFile(shared + '/' + name);
        if (now == newer)
            left.append(name);
        else
            QVERIFY2(now == pruned, qPrintable(name + " is cut short"));
    }
    for (const QString &name : left)
        QVERIFY2(run.err.contains(mounted + name + " : "), qPrintable(run.err));
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

    QProcess process;
    process.setProcessEnvironment(
        testsupport::withoutDisplay(QProcessEnvironment::systemEnvironment()));
    // As from a shell's "ulimit -n": the standard descriptors only, under the limit.
    process.setChildProcessModifier([limit] {
        ::close_range(3, ~0U, 0);
        const rlimit low { rlim_t(limit), rlim_t(limit) };
        ::setrlimit(RLIMIT_NOFILE, &low);
    });
    process.start(CUEPRUNE, { "-r", "-b", local.path() });
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.readAllStandardError(), QByteArray());
    QVERIFY(process.readAllStandardOutput().endsWith(
        "300 fichiers : 300 modifiés, 0 inchangé, 0 erreur\n"));
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(countPruned(local.path(), contents), contents.size());
}

QTEST_GUILESS_MAIN(TestRealDisks)
#include "tst_realdisks.moc"
