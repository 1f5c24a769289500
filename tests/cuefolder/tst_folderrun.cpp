#include "support/faults.h"
#include "support/sheets.h"
#include "support/windowdriver.h"
#include "window/vexatrin.h"

#include <QTemporaryDir>
#include <QTest>

#include <optional>

using testsupport::cleanSheet;
using testsupport::discImage;
using testsupport::eacRip;
using testsupport::fill;
using testsupport::FolderContents;
using testsupport::pregapSheet;
using testsupport::prunedSheet;
using testsupport::readFile;
using testsupport::Window;
using testsupport::writeFile;

namespace {

const QString modified = QStringLiteral("==> Fichier modifié !\n");
const QString unchanged = QStringLiteral("==> Aucun changement !\n");
const QString failed = QStringLiteral("==> Erreur !\n");

} // namespace

class TestFolderRun : public QObject
{
    Q_OBJECT

private slots:
    void logsEachSheet_data();
    void logsEachSheet();
    void symbolicLinksAreSkipped();
    void nameThatIsNotUtf8();
    void noFolderToRun_data();
    void noFolderToRun();
    void failedRewriteIsLoggedAndRunGoesOn_data();
    void failedRewriteIsLoggedAndRunGoesOn();
};

void TestFolderRun::logsEachSheet_data()
{
    QTest::addColumn<FolderContents>("contents");
    QTest::addColumn<QStringList>("expectedLog"); // name, verdict and the lines under it...
    QTest::addColumn<FolderContents>("after");

    QTest::newRow("filterAndOrder")
        << FolderContents { { "c.txt", pregapSheet }, { "B.cue", cleanSheet },
               { "a.CUE", pregapSheet }, { "d.Cue", pregapSheet }, { "e.cue.bak", pregapSheet } }
        << QStringList { "a.CUE", modified, "B.cue", unchanged, "d.Cue", modified }
        << FolderContents { { "c.txt", pregapSheet }, { "B.cue", cleanSheet },
               { "a.CUE", prunedSheet }, { "d.Cue", prunedSheet }, { "e.cue.bak", pregapSheet } };
    QTest::newRow("orderIgnoresCase") << FolderContents { { "b.cue", cleanSheet },
        { "A.cue", cleanSheet }, { "_.cue", cleanSheet }, { "C.cue", cleanSheet } }
                                      << QStringList { "_.cue", unchanged, "A.cue", unchanged,
                                             "b.cue", unchanged, "C.cue", unchanged }
                                      << FolderContents {};
    QTest::newRow("subfolderAndHiddenSheetSkipped")
        << FolderContents { { "disc.cue/", {} }, { "disc.cue/in.cue", pregapSheet },
               { ".hidden.cue", pregapSheet }, { "z.cue", pregapSheet } }
        << QStringList { "z.cue", modified,
               "  1 sous-dossier non parcouru (cueprune -r le parcourt)\n" }
        << FolderContents { { "disc.cue/in.cue", pregapSheet }, { ".hidden.cue", pregapSheet },
               { "z.cue", prunedSheet } };
    QTest::newRow("namesWithSpacesAndAccents")
        << FolderContents { { "Été à Paris (CD 1).cue", pregapSheet } }
        << QStringList { "Été à Paris (CD 1).cue", modified }
        << FolderContents { { "Été à Paris (CD 1).cue", prunedSheet } };
    QTest::newRow("subfoldersOnly")
        << FolderContents { { "CD1/a.cue", pregapSheet }, { "CD2/", {} } }
        << QStringList { "  2 sous-dossiers non parcourus (cueprune -r les parcourt)\n" }
        << FolderContents { { "CD1/a.cue", pregapSheet } };
    const QString flacWarning = "  attention : piste 01 : %1 d'audio avant INDEX 01 hors de tout "
                                "index (flac refuse d'intégrer une telle feuille) ; cueprune "
                                "--keep-first-pregap garde l'INDEX 00\n";
    QTest::newRow("pruningCosts")
        << FolderContents { { "eac.cue", eacRip }, { "image.cue", discImage } }
        << QStringList { "eac.cue", modified, flacWarning.arg("0,44 s"), "image.cue", modified,
               flacWarning.arg("2 s"),
               "  attention : image de disque : la position des pistes change pour un graveur ou "
               "un émulateur ; cueprune -b ou --diff gardent un chemin de retour\n" }
        << FolderContents {};
    QTest::newRow("emptyFolder") << FolderContents {} << QStringList {} << FolderContents {};
}

void TestFolderRun::logsEachSheet()
{
    QFETCH(FolderContents, contents);
    QFETCH(QStringList, expectedLog);
    QFETCH(FolderContents, after);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(fill(dir.path(), contents));

    Window ui;
    ui.textArea->setPlainText("earlier text\n");
    ui.textArea->moveCursor(QTextCursor::Start); // a click in the log puts no line there
    ui.run(dir.path());

    QString expected = "earlier text\n";
    for (const QString &line : expectedLog)
        expected += line.endsWith('\n') ? line : dir.filePath(line) + '\n';
    QCOMPARE(ui.textArea->toPlainText(), expected);
    for (auto it = after.cbegin(); it != after.cend(); ++it)
        QCOMPARE(readFile(dir.filePath(it.key())), it.value());
}

void TestFolderRun::symbolicLinksAreSkipped()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(fill(dir.path(),
        { { "outside/", {} }, { "outside/real.txt", pregapSheet }, { "albums/", {} } }));
    QVERIFY(QFile::link(dir.filePath("outside/real.txt"), dir.filePath("albums/link.cue")));

    Window ui;
    ui.run(dir.filePath("albums"));
    QCOMPARE(ui.textArea->toPlainText(), QString());
    QCOMPARE(readFile(dir.filePath("outside/real.txt")), pregapSheet);
}

void TestFolderRun::nameThatIsNotUtf8()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray latin1Sheet = QFile::encodeName(dir.path()) + "/caf\xE9.cue";
    const testsupport::RemovedAtEnd latin1Names({ latin1Sheet });
    QVERIFY(writeFile(latin1Sheet, pregapSheet));
    QVERIFY(writeFile(dir.filePath("Cafard.cue"), cleanSheet));
    // A control character is shown escaped, so that the log keeps one line per path.
    QVERIFY(writeFile(dir.filePath("cage\n==> Aucun changement !.cue"), cleanSheet));

    Window ui;
    ui.run(dir.path());
    QCOMPARE(ui.textArea->toPlainText(),
        dir.filePath("Cafard.cue") + '\n' + unchanged + dir.filePath("café.cue") + '\n' + modified
            + '\'' + dir.filePath("cage'$'\\n''==> Aucun changement !.cue'\n") + unchanged);
    QCOMPARE(readFile(latin1Sheet), prunedSheet);
}

void TestFolderRun::noFolderToRun_data()
{
    QTest::addColumn<QString>("typed"); // relative to a temporary folder, which is also the
                                        // working folder
    QTest::addColumn<QStringList>("expectedLog");
    QTest::newRow("emptyField") << QString()
                                << QStringList { "==> Aucun répertoire sélectionné !" };
    QTest::newRow("missingFolder")
        << "missing" << QStringList { "missing", "==> Répertoire introuvable !" };
    QTest::newRow("pathNamesASheet")
        << "a.cue" << QStringList { "a.cue", "==> Répertoire introuvable !" };
    QTest::newRow("unreadableFolder")
        << "locked" << QStringList { "locked", "==> Répertoire illisible !" };
    QTest::newRow("readableNotSearchable")
        << "listed" << QStringList { "listed", "==> Répertoire illisible !" };
    // What a dialog or a field gives for a folder name that is not UTF-8.
    QTest::newRow("folderNameNotUtf8")
        << "caf\uFFFD" << QStringList { "caf\uFFFD", "==> Répertoire introuvable !" };
}

// Nothing is pruned, not even in the working folder, and the log says why.
void TestFolderRun::noFolderToRun()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, expectedLog);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(fill(dir.path(),
        { { "locked/", {} }, { "listed/c.cue", pregapSheet }, { "a.cue", pregapSheet } }));
    const QByteArray latin1Folder = QFile::encodeName(dir.path()) + "/caf\xE9";
    const testsupport::RemovedAtEnd latin1Names({ latin1Folder, latin1Folder + "/b.cue" });
    QCOMPARE(::mkdir(latin1Folder, 0755), 0);
    QVERIFY(writeFile(latin1Folder + "/b.cue", pregapSheet));
    QVERIFY(testsupport::setMode(dir.path(), 0755)
        && testsupport::setMode(dir.filePath("locked"), 0)
        && testsupport::setMode(dir.filePath("listed"), 0444));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));

    Window ui;
    {
        const testsupport::ActingUnprivileged unprivileged;
        ui.run(typed.isEmpty() ? typed : dir.filePath(typed));
    }
    QDir::setCurrent(previous);
    QVERIFY(testsupport::setMode(dir.filePath("listed"), 0755));
    QCOMPARE(readFile(dir.filePath("listed/c.cue")), pregapSheet);
    QString expected;
    for (const QString &line : expectedLog)
        expected += (line.startsWith("==>") ? line : dir.filePath(line)) + '\n';
    QCOMPARE(ui.textArea->toPlainText(), expected);
    QCOMPARE(readFile(dir.filePath("a.cue")), pregapSheet);
    QCOMPARE(readFile(latin1Folder + "/b.cue"), pregapSheet);
}

void TestFolderRun::failedRewriteIsLoggedAndRunGoesOn_data()
{
    QTest::addColumn<bool>("diskFull"); // else a folder the user may not write in
    QTest::addColumn<QString>("reason");
    QTest::newRow("diskFull") << true << "  disque plein\n";
    QTest::newRow("folderNotWritable") << false << "  écriture refusée\n";
}

// The reason stands under the verdict; the run goes on, and prunes what the disk has room for.
void TestFolderRun::failedRewriteIsLoggedAndRunGoesOn()
{
    QFETCH(bool, diskFull);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray largeSheet = QByteArray(4096, ' ') + pregapSheet;
    QVERIFY(fill(dir.path(),
        { { "a.cue", cleanSheet }, { "b.cue", largeSheet }, { "c.cue", pregapSheet } }));

    Window ui;
    {
        std::optional<testsupport::FileSizeLimit> diskAlmostFull;
        std::optional<testsupport::ActingUnprivileged> unprivileged;
        if (diskFull) {
            QVERIFY(diskAlmostFull.emplace(1024).isActive());
        } else {
            QVERIFY(testsupport::setMode(dir.path(), 0555));
            unprivileged.emplace();
        }
        ui.run(dir.path());
    }
    QVERIFY(testsupport::setMode(dir.path(), 0700));
    QCOMPARE(ui.textArea->toPlainText(),
        dir.filePath("a.cue") + '\n' + unchanged + dir.filePath("b.cue") + '\n' + failed + reason
            + dir.filePath("c.cue") + '\n' + (diskFull ? modified : failed + reason));
    QCOMPARE(readFile(dir.filePath("b.cue")), largeSheet);
    QCOMPARE(readFile(dir.filePath("c.cue")), diskFull ? prunedSheet : pregapSheet);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

QTEST_MAIN(TestFolderRun)
#include "tst_folderrun.moc"
