#include "engine/explanations.h"
#include "engine/processcuefile.h"
#include "files/sheetfile.h"
#include "support/faults.h"
#include "support/sheets.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <QtEndian>

#include <sys/xattr.h>

#include <algorithm>
#include <tuple>

using namespace cueprune;

using testsupport::pregapSheet;
using testsupport::prunedSheet;
using testsupport::readFile;
using testsupport::setMode;
using testsupport::writeFile;

namespace {

// A sheet of size bytes with a pregap on every track, blank lines at its end.
QByteArray largeSheet(qsizetype size)
{
    const QByteArray track
        = "  TRACK 07 AUDIO\r\n    TITLE \"Caf\xE9\"\r\n    INDEX 00 12:34:00\r\n"
          "    INDEX 01 12:36:00\r\n";
    QByteArray sheet;
    sheet.reserve(size);
    while (sheet.size() + track.size() <= size)
        sheet += track;
    return sheet + QByteArray(size - sheet.size(), '\n');
}

using Reason = Failure::Reason;

// A pass's result and the reason of a failure (-1 for none), as prune_child prints them.
using Verdict = QByteArray;

Verdict verdictOf(const CueOutcome &outcome)
{
    return QByteArray::number(int(outcome.result)) + ' '
        + QByteArray::number(outcome.failure ? int(outcome.failure->reason) : -1);
}

const Verdict pruned = verdictOf(CueOutcome::prunedAt({}));

Verdict failedFor(Reason reason)
{
    return verdictOf(CueOutcome::failedWith({ reason, 0 }));
}

Verdict childVerdict(QProcess &child)
{
    return child.readAllStandardOutput().trimmed();
}

} // namespace

class TestProcessCueFile : public QObject
{
    Q_OBJECT

private slots:
    void rewritesInPlace_data();
    void rewritesInPlace();
    void rewriteKeepsFileSystemFacts_data();
    void rewriteKeepsFileSystemFacts();
    void refusedPaths_data();
    void refusedPaths();
    void otherNamesOfASheet();
    void failureLeavesSheetIntact_data();
    void failureLeavesSheetIntact();
    void largestSheetInBoundedMemory();
    void warningInSeconds_data();
    void warningInSeconds();
};

void TestProcessCueFile::rewritesInPlace_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("before");
    QTest::newRow("plainName") << QByteArray("album.cue") << pregapSheet;
    QTest::newRow("latin1Name") << QByteArray("caf\xE9 cr\xE8me.cue") << pregapSheet;
    QTest::newRow("longestName") << QByteArray(251, 'x') + ".cue" << pregapSheet;
    // No final newline, and an INDEX 00 that no INDEX 01 follows: nothing to prune.
    QTest::newRow("cleanSheet") << QByteArray("clean.cue")
                                << QByteArray("TRACK 01 AUDIO\nINDEX 00 00:00:00\nTRACK 02 AUDIO\n"
                                              "INDEX 01 00:02:00");
}

// A sheet is pruned under its own name, its kept lines shown as they go; one with nothing to
// prune, or pruned already, is not written at all.
void TestProcessCueFile::rewritesInPlace()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, before);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray sheet = QFile::encodeName(dir.path()) + '/' + name;
    const testsupport::RemovedAtEnd nativeName({ sheet });
    QVERIFY(writeFile(sheet, before));
    const QByteArray after = pruneSheet(before).bytes;
    const timespec longAgo[2] = { { 1000000, 0 }, { 1000000, 0 } };
    struct stat status = {};

    for (const bool again : { false, true }) {
        QCOMPARE(::utimensat(AT_FDCWD, sheet.constData(), longAgo, 0), 0);
        QStringList seen;
        QCOMPARE(processCueFile(sheet, [&seen](const QString &text) { seen.append(text); }).result,
            again || after == before ? CueResult::Unchanged : CueResult::Pruned);
        QCOMPARE(readFile(sheet), after);
        QCOMPARE(seen.join(QString()).trimmed(), QString::fromLatin1(after).remove('\r').trimmed());
        QCOMPARE(testsupport::namesIn(dir.path()), QList<QByteArray> { name });
        QCOMPARE(::stat(sheet.constData(), &status), 0);
        QCOMPARE(status.st_mtim.tv_sec == longAgo[1].tv_sec, again || after == before);
    }
}

namespace {

// Owner, group, mode bits, extended attributes and ACLs, as one comparable text.
QString fileSystemFacts(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat status
    {
    };
    if (::stat(name.constData(), &status) != 0)
        return QStringLiteral("<missing>");
    QString facts = QStringLiteral("%1:%2 %3")
                        .arg(status.st_uid)
                        .arg(status.st_gid)
                        .arg(status.st_mode & 07777, 0, 8);
    QByteArray names(4096, '\0');
    names.resize(qMax<ssize_t>(0, ::listxattr(name.constData(), names.data(), names.size())));
    QList<QByteArray> sorted = names.split('\0');
    std::sort(sorted.begin(), sorted.end());
    for (const QByteArray &attribute : sorted) {
        QByteArray value(4096, '\0');
        value.resize(qMax<ssize_t>(
            0, ::getxattr(name.constData(), attribute.constData(), value.data(), value.size())));
        if (!attribute.isEmpty())
            facts += QStringLiteral(" %1=%2").arg(attribute, value.toHex());
    }
    return facts;
}

// A POSIX ACL as the kernel stores it in an extended attribute: (tag, permissions, id).
QByteArray aclAttribute(std::initializer_list<std::tuple<quint16, quint16, quint32>> entries)
{
    QByteArray bytes;
    const auto append = [&bytes](auto value) {
        const auto little = qToLittleEndian(value);
        bytes.append(reinterpret_cast<const char *>(&little), sizeof little);
    };
    append(quint32(2));
    for (const auto &[tag, permissions, id] : entries) {
        append(tag);
        append(permissions);
        append(id);
    }
    return bytes;
}

bool setAttribute(const QString &path, const char *name, const QByteArray &value)
{
    return ::setxattr(QFile::encodeName(path).constData(), name, value.constData(),
               std::size_t(value.size()), 0)
        == 0;
}

enum AclTag : quint16 { UserObj = 1, User = 2, GroupObj = 4, Mask = 0x10, Other = 0x20 };

} // namespace

void TestProcessCueFile::rewriteKeepsFileSystemFacts_data()
{
    const QByteArray namedUserAcl = aclAttribute({ { UserObj, 6, 0 }, { User, 6, 1234 },
        { GroupObj, 4, 0 }, { Mask, 6, 0 }, { Other, 4, 0 } });
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("attribute");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("folderDefaultAcl");

    QTest::newRow("setgidGroupWritable") << 02664 << QByteArray() << QByteArray() << false;
    QTest::newRow("readOnlyForAll") << 0444 << QByteArray() << QByteArray() << false;
    QTest::newRow("userAttribute")
        << 0640 << QByteArray("user.origin") << QByteArray("rip") << false;
    QTest::newRow("accessAcl") << 0664 << QByteArray("system.posix_acl_access") << namedUserAcl
                               << false;
    // The new file inherits the folder's default ACL; the sheet had none, so none is kept.
    QTest::newRow("folderDefaultAclNotInherited") << 0644 << QByteArray() << QByteArray() << true;
}

// As root, so that the sheet can belong to someone else: a rewrite must not give it away.
void TestProcessCueFile::rewriteKeepsFileSystemFacts()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, attribute);
    QFETCH(QByteArray, value);
    QFETCH(bool, folderDefaultAcl);
    if (geteuid() != 0)
        QSKIP("needs root: only root can give a sheet to another owner and group");

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString sheet = dir.filePath("album.cue");
    QVERIFY(writeFile(sheet, pregapSheet));
    QCOMPARE(::chown(QFile::encodeName(sheet).constData(), 1234, 5678), 0);
    if (!attribute.isEmpty() && !setAttribute(sheet, attribute.constData(), value))
        QSKIP("the temporary folder's file system holds no such attribute");
    QVERIFY(setMode(sheet, mode));
    if (folderDefaultAcl
        && !setAttribute(dir.path(), "system.posix_acl_default",
            aclAttribute({ { UserObj, 7, 0 }, { User, 7, 1234 }, { GroupObj, 5, 0 }, { Mask, 7, 0 },
                { Other, 5, 0 } })))
        QSKIP("the temporary folder's file system holds no ACLs");
    const QString before = fileSystemFacts(sheet);

    QCOMPARE(processCueFile(sheet).result, CueResult::Pruned);
    QCOMPARE(readFile(sheet), prunedSheet);
    QCOMPARE(fileSystemFacts(sheet), before);
}

void TestProcessCueFile::refusedPaths_data()
{
    QTest::addColumn<QString>("path"); // in the test's folder
    QTest::addColumn<Verdict>("expected");
    QTest::newRow("emptyPath") << QString() << failedFor(Reason::Missing);
    QTest::newRow("noSuchFile") << "missing.cue" << failedFor(Reason::Missing);
    QTest::newRow("noSuchFolder") << "missing/album.cue" << failedFor(Reason::Missing);
    QTest::newRow("folderNamedLikeASheet") << "folder.cue" << failedFor(Reason::NotRegularFile);
    // A sparse file one byte over the limit, a pregap pair at its start.
    QTest::newRow("tooLarge") << "too-large.cue" << failedFor(Reason::TooLarge);
    // Sized 0 yet full of text, as a sheet rewritten by someone else while it is read.
    QTest::newRow("sizeNotItsLength") << "/proc/self/status" << failedFor(Reason::ChangedWhileRead);
}

// A path that is no sheet to prune fails with its reason, before any line is seen, and leaves
// everything as it was.
void TestProcessCueFile::refusedPaths()
{
    QFETCH(QString, path);
    QFETCH(Verdict, expected);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(QDir(dir.path()).mkdir("folder.cue"));
    QFile tooLarge(dir.filePath("too-large.cue"));
    QVERIFY(tooLarge.open(QIODevice::WriteOnly) && tooLarge.write(pregapSheet) > 0
        && tooLarge.resize(maxSheetSize + 1));
    tooLarge.close();
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden);

    bool observed = false;
    QCOMPARE(
        verdictOf(processCueFile(path.isEmpty() || path.startsWith('/') ? path : dir.filePath(path),
            [&observed](const QString &) { observed = true; })),
        expected);
    QVERIFY(!observed);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden), before);
    QCOMPARE(tooLarge.size(), maxSheetSize + 1);
}

// The replacement takes the name given: a symbolic link stays one, to its pruned target, and
// a hard link's other name keeps the old text.
void TestProcessCueFile::otherNamesOfASheet()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(writeFile(dir.filePath("real.cue"), pregapSheet));
    QVERIFY(QFile::link("real.cue", dir.filePath("link.cue")));
    QCOMPARE(::link(QFile::encodeName(dir.filePath("real.cue")).constData(),
                 QFile::encodeName(dir.filePath("other name.cue")).constData()),
        0);

    QCOMPARE(processCueFile(dir.filePath("link.cue")).result, CueResult::Pruned);
    QCOMPARE(readFile(dir.filePath("real.cue")), prunedSheet);
    QVERIFY(QFileInfo(dir.filePath("link.cue")).isSymLink());
    QCOMPARE(readFile(dir.filePath("other name.cue")), pregapSheet);
}

void TestProcessCueFile::failureLeavesSheetIntact_data()
{
    QTest::addColumn<int>("sheetMode");
    QTest::addColumn<bool>("childOwnsSheet");
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<Verdict>("expected");

    // The first row shows that the child can rewrite when nothing stands in its way.
    QTest::newRow("nothingInTheWay") << 0666 << true << 0777 << pruned;
    // Writable, but replacing it would make it ours and lock its owner out.
    QTest::newRow("anotherUsersSheet")
        << 0666 << false << 0777 << failedFor(Reason::OwnerOrModeNotKept);
    QTest::newRow("unreadableSheet") << 0222 << true << 0777 << failedFor(Reason::ReadRefused);
    QTest::newRow("readOnlySheet") << 0444 << true << 0777 << failedFor(Reason::WriteRefused);
    QTest::newRow("readOnlyFolder") << 0666 << true << 0555 << failedFor(Reason::WriteRefused);
}

// Runs the pass in a child process as an unprivileged user (root ignores permissions).
void TestProcessCueFile::failureLeavesSheetIntact()
{
    QFETCH(int, sheetMode);
    QFETCH(bool, childOwnsSheet);
    QFETCH(int, folderMode);
    QFETCH(Verdict, expected);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(setMode(dir.path(), 0777));
    const QString folder = dir.filePath("albums");
    QVERIFY(QDir(dir.path()).mkdir("albums"));
    const QString sheet = folder + "/album.cue";
    QVERIFY(writeFile(sheet, pregapSheet));
    QVERIFY(setMode(sheet, sheetMode));
    QVERIFY(setMode(folder, folderMode));
    if (childOwnsSheet)
        QVERIFY(testsupport::giveToUnprivileged(sheet));
    else if (geteuid() != 0)
        QSKIP("needs root: only root can make a sheet that belongs to another user");

    QProcess child;
    child.setChildProcessModifier([] { testsupport::dropRootPrivileges(); });
    child.start(testsupport::runnableByAnyone(PRUNE_CHILD), { sheet });
    QVERIFY(child.waitForFinished());
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QCOMPARE(childVerdict(child), expected);

    QVERIFY(setMode(folder, 0777));
    QVERIFY(setMode(sheet, 0666));
    QCOMPARE(readFile(sheet), expected == pruned ? prunedSheet : pregapSheet);
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList { "album.cue" });
}

// The largest sheet read, at the limit to the byte, is pruned whole in little more memory than
// its two texts.
void TestProcessCueFile::largestSheetInBoundedMemory()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString sheet = dir.filePath("large.cue");
    const QByteArray oldSheet = largeSheet(maxSheetSize);
    QVERIFY(writeFile(sheet, oldSheet));
    QProcess child;
    child.start(PRUNE_CHILD, { sheet });
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(childVerdict(child), pruned);
    QCOMPARE(readFile(sheet), pruneSheet(oldSheet).bytes);
#if !defined(__SANITIZE_ADDRESS__) // its shadow memory and quarantine distort the peak
    rusage usage {};
    QCOMPARE(getrusage(RUSAGE_CHILDREN, &usage), 0);
    QVERIFY2(qint64(usage.ru_maxrss) * 1024 < 4 * maxSheetSize,
        qPrintable(QString::number(usage.ru_maxrss)));
#endif
}

void TestProcessCueFile::warningInSeconds_data()
{
    QTest::addColumn<qsizetype>("frames");
    QTest::addColumn<QString>("seconds");
    QTest::newRow("roundedUp") << qsizetype(74) << "0,99 s";
    QTest::newRow("roundedDown") << qsizetype(112) << "1,49 s";
    QTest::newRow("tenths") << qsizetype(15) << "0,2 s";
    QTest::newRow("wholeSeconds") << qsizetype(150) << "2 s";
}

// A warning gives the audio left out in seconds, which no one takes for minutes, and the windows
// name the program whose option keeps it.
void TestProcessCueFile::warningInSeconds()
{
    QFETCH(qsizetype, frames);
    QFETCH(QString, seconds);
    const PruningWarning warning { PruningWarning::Kind::UnindexedAudio, 3, frames, false };
    QCOMPARE(windowWarningText(warning),
        "attention : piste 03 : " + seconds
            + " d'audio avant INDEX 01 hors de tout index ; cueprune --keep-first-pregap garde "
              "l'INDEX 00");
}

QTEST_GUILESS_MAIN(TestProcessCueFile)
#include "tst_processcuefile.moc"
