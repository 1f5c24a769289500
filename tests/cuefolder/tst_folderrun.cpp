#include "support/cuesheetmodel.h"
#include "support/faults.h"
#include "support/sheets.h"
#include "support/windowdriver.h"
#include "window/vexatrin.h"

#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace testsupport;

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
    void noFolderToRun_data();
    void noFolderToRun();
};

void TestFolderRun::logsEachSheet_data()
{
    QTest::addColumn<FolderContents>("contents");
    QTest::addColumn<QStringList>("expectedLog"); // name, verdict and the lines under it...
    QTest::addColumn<int>("sizeLimit"); // on the files written, 0 for none
    const auto row = [](const char *tag, const FolderContents &contents, const QStringList &log,
                         int sizeLimit = 0) { QTest::newRow(tag) << contents << log << sizeLimit; };

    // A control character is shown escaped, so that the log keeps one line per path.
    row("filterAndOrderIgnoringCase",
        { { "c.txt", pregapSheet }, { "B.cue", cleanSheet }, { "_.cue", cleanSheet },
            { "a.CUE", pregapSheet }, { ".hidden.cue", pregapSheet },
            { "cage\n==> Aucun changement !.cue", cleanSheet } },
        { "_.cue", unchanged, "a.CUE", modified, "B.cue", unchanged,
            "'cage'$'\\n''==> Aucun changement !.cue'", unchanged });
    row("subfoldersOnly", { { "CD1/a.cue", pregapSheet }, { "CD2/", {} } },
        { "  2 sous-dossiers non parcourus (cueprune -r les parcourt)\n" });
    row("pruningCostsAndASubfolder",
        { { "image.cue", discImage }, { "disc.cue/in.cue", pregapSheet } },
        { "image.cue", modified,
            "  attention : piste 01 : 2 s d'audio avant INDEX 01 hors de tout index (flac "
            "refuse d'intégrer une telle feuille) ; cueprune --keep-first-pregap garde "
            "l'INDEX 00\n",
            "  attention : image de disque : la position des pistes change pour un graveur ou "
            "un émulateur ; cueprune -b ou --diff gardent un chemin de retour\n",
            "  1 sous-dossier non parcouru (cueprune -r le parcourt)\n" });
    // The reason stands under the verdict; the run goes on and prunes what the disk has room for.
    row("diskFull",
        { { "a.cue", cleanSheet }, { "b.cue", QByteArray(4096, ' ') + pregapSheet },
            { "c.cue", pregapSheet } },
        { "a.cue", unchanged, "b.cue", failed, "  disque plein\n", "c.cue", modified }, 1024);
}

void TestFolderRun::logsEachSheet()
{
    QFETCH(FolderContents, contents);
    QFETCH(QStringList, expectedLog);
    QFETCH(int, sizeLimit);

    QTemporaryDir dir;
    QVERIFY(fill(dir.path(), contents));

    Window ui;
    ui.textArea->setPlainText("earlier text\n");
    ui.textArea->moveCursor(QTextCursor::Start); // a click in the log puts no line there
    {
        const auto diskAlmostFull = fileSizeLimit(sizeLimit == 0 ? RLIM_INFINITY : sizeLimit);
        ui.run(dir.path());
    }

    QString expected = "earlier text\n";
    for (const QString &line : expectedLog) // a line, a name quoted for the shell, or a name
        expected += line.endsWith('\n') ? line
            : line.startsWith('\'')     ? '\'' + dir.filePath(line.mid(1)) + '\n'
                                        : dir.filePath(line) + '\n';
    QCOMPARE(ui.textArea->toPlainText(), expected);
    // The sheets logged as modified are pruned, nothing else is touched, and nothing is left.
    QSet<QString> names;
    for (auto it = contents.cbegin(); it != contents.cend(); ++it) {
        const bool pruned = expectedLog.value(expectedLog.indexOf(it.key()) + 1) == modified;
        QCOMPARE(readFile(dir.filePath(it.key())), pruned ? cuesheetmodel::pruned(*it) : *it);
        names.insert(it.key().section('/', 0, 0));
    }
    QCOMPARE(namesIn(dir.path()).size(), names.size());
}

void TestFolderRun::noFolderToRun_data()
{
    QTest::addColumn<QString>("typed"); // relative to a temporary folder
    QTest::addColumn<QString>("verdict"); // logged under the path typed
    const auto row = [](const char *tag, const QString &typed, const QString &verdict) {
        QTest::newRow(tag) << typed << verdict;
    };
    row("emptyField", {}, "==> Aucun répertoire sélectionné !");
    row("missingFolder", "missing", "==> Répertoire introuvable !");
    row("pathNamesASheet", "a.cue", "==> Répertoire introuvable !");
    row("unreadableFolder", "locked", "==> Répertoire illisible !");
    row("readableNotSearchable", "listed", "==> Répertoire illisible !");
}

// Nothing is pruned, and the log says why.
void TestFolderRun::noFolderToRun()
{
    QFETCH(QString, typed);
    QFETCH(QString, verdict);
    QTemporaryDir dir;
    QVERIFY(fill(dir.path(),
        { { "locked/", {} }, { "listed/c.cue", pregapSheet }, { "a.cue", pregapSheet } }));
    QVERIFY(setMode(dir.path(), 0755) && setMode(dir.filePath("locked"), 0)
        && setMode(dir.filePath("listed"), 0444));

    Window ui;
    {
        const auto unprivileged = actingUnprivileged();
        ui.run(typed.isEmpty() ? typed : dir.filePath(typed));
    }
    QVERIFY(setMode(dir.filePath("listed"), 0755));
    QCOMPARE(readFile(dir.filePath("listed/c.cue")), pregapSheet);
    const QString pathLine = typed.isEmpty() ? QString() : dir.filePath(typed) + '\n';
    QCOMPARE(ui.textArea->toPlainText(), pathLine + verdict + '\n');
    QCOMPARE(readFile(dir.filePath("a.cue")), pregapSheet);
}

QTEST_MAIN(TestFolderRun)
#include "tst_folderrun.moc"
