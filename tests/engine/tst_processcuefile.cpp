#include "engine/explanations.h"
#include "engine/processcuefile.h"
#include "files/sheetfile.h"
#include "support/privileges.h"
#include "support/sheets.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <sys/resource.h>
#include <sys/xattr.h>

#include <algorithm>
#include <optional>
#include <tuple>

using namespace cueprune;

using namespace testsupport;

namespace {

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

// Owner, group, mode bits, extended attributes and ACLs, as one comparable text.
QByteArray fileSystemFacts(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat status = {};
    QByteArray facts = QByteArray::number(::stat(name.constData(), &status)) + ' '
        + QByteArray::number(status.st_uid) + ':' + QByteArray::number(status.st_gid) + ' '
        + QByteArray::number(status.st_mode & 07777, 8);
    QByteArray names(4096, '\0');
    names.resize(qMax<ssize_t>(0, ::listxattr(name.constData(), names.data(), names.size())));
    QList<QByteArray> sorted = names.split('\0');
    std::sort(sorted.begin(), sorted.end());
    for (const QByteArray &attribute : sorted) {
        QByteArray value(4096, '\0');
        value.resize(qMax<ssize_t>(
            0, ::getxattr(name.constData(), attribute.constData(), value.data(), value.size())));
        facts += ' ' + attribute + '=' + value.toHex();
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

class TestProcessCueFile : public QObject
{
    Q_OBJECT

private slots:
    void ownerModeAndAttributes_data();
    void ownerModeAndAttributes();
    void refusedPaths_data();
    void refusedPaths();
    void otherNamesOfASheet();
    void largestSheetInBoundedMemory();
    void warningInSeconds_data();
    void warningInSeconds();
};

void TestProcessCueFile::ownerModeAndAttributes_data()
{
    const QByteArray namedUserAcl = aclAttribute({ { UserObj, 6, 0 }, { User, 6, 1234 },
        { GroupObj, 4, 0 }, { Mask, 6, 0 }, { Other, 4, 0 } });
    QTest::addColumn<int>("mode");
    QTest::addColumn<uid_t>("owner"); // and group; 0 for the user the pass runs as
    QTest::addColumn<QByteArray>("attribute");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("folderMode"); // 0 for 0777 with a default ACL
    QTest::addColumn<bool>("unprivileged"); // root ignores permissions
    QTest::addColumn<Verdict>("expected");
    const auto row = [](const char *name, int mode, uid_t owner, bool unprivileged,
                         const Verdict &expected, int folderMode = 0777,
                         const QByteArray &attribute = {}, const QByteArray &value = {}) {
        QTest::newRow(name) << mode << owner << attribute << value << folderMode << unprivileged
                            << expected;
    };
    // A rewrite by root must not give the sheet away, nor lose a bit or an attribute of it.
    row("setgidGroupWritable", 02664, 1234, false, pruned);
    row("readOnlyForAll", 0444, 1234, false, pruned);
    row("userAttribute", 0640, 1234, false, pruned, 0777, "user.origin", "rip");
    row("accessAcl", 0664, 1234, false, pruned, 0777, "system.posix_acl_access", namedUserAcl);
    // The new file inherits the folder's default ACL; the sheet had none, so none is kept.
    row("folderDefaultAclNotInherited", 0644, 1234, false, pruned, 0);
    row("nothingInTheWay", 0666, 0, true, pruned);
    // Writable, but replacing it would make it ours and lock its owner out.
    row("anotherUsersSheet", 0666, 1234, true, failedFor(Reason::OwnerOrModeNotKept));
    row("unreadableSheet", 0222, 0, true, failedFor(Reason::ReadRefused));
    row("readOnlySheet", 0444, 0, true, failedFor(Reason::WriteRefused));
    // Searched but not read: the folder that the new file goes to cannot be opened.
    row("searchOnlyFolder", 0666, 0, true, failedFor(Reason::FolderUnreadable), 0111);
    row("readOnlyFolder", 0666, 0, true, failedFor(Reason::WriteRefused), 0555);
}

// A pass that fails leaves the sheet as it was; one that succeeds keeps all but its text.
void TestProcessCueFile::ownerModeAndAttributes()
{
    QFETCH(int, mode);
    QFETCH(uid_t, owner);
    QFETCH(QByteArray, attribute);
    QFETCH(QByteArray, value);
    QFETCH(int, folderMode);
    QFETCH(bool, unprivileged);
    QFETCH(Verdict, expected);
    if (owner != 0 && geteuid() != 0)
        QSKIP("needs root: only root can give a sheet to another owner and group");

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString sheet = dir.filePath("album.cue");
    QVERIFY(writeFile(sheet, pregapSheet));
    QVERIFY(owner == 0 ? giveToUnprivileged(sheet)
                       : ::chown(QFile::encodeName(sheet).constData(), owner, 5678) == 0);
    if (!attribute.isEmpty() && !setAttribute(sheet, attribute.constData(), value))
        QSKIP("the temporary folder's file system holds no such attribute");
    QVERIFY(setMode(sheet, mode) && setMode(dir.path(), folderMode == 0 ? 0777 : folderMode));
    if (folderMode == 0
        && !setAttribute(dir.path(), "system.posix_acl_default",
            aclAttribute({ { UserObj, 7, 0 }, { User, 7, 1234 }, { GroupObj, 5, 0 }, { Mask, 7, 0 },
                { Other, 5, 0 } })))
        QSKIP("the temporary folder's file system holds no ACLs");
    const QByteArray before = fileSystemFacts(sheet);
    {
        const auto acting = actingUnprivileged(unprivileged);
        QCOMPARE(verdictOf(processCueFile(sheet)), expected);
    }

    QCOMPARE(readFile(sheet), expected == pruned ? prunedSheet : pregapSheet);
    QCOMPARE(fileSystemFacts(sheet), before);
    QCOMPARE(namesIn(dir.path()), QList<QByteArray> { "album.cue" });
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

// The largest sheet read, at the limit to the byte, is pruned whole in little more memory than
// its two texts.
void TestProcessCueFile::largestSheetInBoundedMemory()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString sheet = dir.filePath("large.cue");
    // A pregap on every track, blank lines at its end.
    QByteArray oldSheet = pregapSheet.repeated(maxSheetSize / pregapSheet.size());
    oldSheet += QByteArray(maxSheetSize - oldSheet.size(), '\n');
    QVERIFY(writeFile(sheet, oldSheet));
    QProcess child;
    child.start(PRUNE_CHILD, { sheet });
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.readAllStandardOutput().trimmed(), pruned);
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
