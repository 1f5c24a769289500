#include "support/cuesheetmodel.h"
#include "support/files.h"
#include "support/sheets.h"
#include "support/windowdriver.h"
#include "window/vexatrin.h"

#include <QApplication>
#include <QFileInfo>
#include <QMenu>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace testsupport;

namespace {

const QString modified = QStringLiteral("Texte modifié");
const QString unchanged = QStringLiteral("Pas de modification du texte");
const QString notFound = QStringLiteral("Fichier introuvable");
const QString failed = QStringLiteral("Erreur de lecture ou d'écriture");
// Before a reason or a warning, in cueprune's words.
const QString dash = QStringLiteral(" — ");
const QString flacWarning = "attention : piste 01 : 2 s d'audio avant INDEX 01 hors de tout index "
                            "(flac refuse d'intégrer une telle feuille) ; cueprune "
                            "--keep-first-pregap garde l'INDEX 00";

} // namespace

class TestFileRun : public QObject
{
    Q_OBJECT

private slots:
    void previewAndStatus_data();
    void previewAndStatus();
    void encodingChosenByHand();
};

void TestFileRun::previewAndStatus_data()
{
    QTest::addColumn<QString>("name"); // run after album.cue, which holds sheet
    QTest::addColumn<QByteArray>("sheet");
    QTest::addColumn<QString>("preview");
    QTest::addColumn<QString>("status");

    const QString pruned = QString::fromLatin1(prunedSheet).remove('\r').chopped(1);
    QTest::newRow("pregapOnEachTrack") << "album.cue" << pregapSheet << pruned << modified;
    QTest::newRow("cleanSheet") << "album.cue" << prunedSheet << pruned << unchanged;
    QTest::newRow("emptyFile") << "album.cue" << QByteArray() << QString() << unchanged;
    QTest::newRow("discImage") << "album.cue" << discImage
                               << QString::fromLatin1(cuesheetmodel::pruned(discImage)).chopped(1)
                               << modified + dash + flacWarning + dash
            + "attention : image de disque : la position des pistes change pour un graveur ou un "
              "émulateur ; cueprune -b ou --diff gardent un chemin de retour";
    // Neither the verdict nor the preview of the run before may stand for one that fails.
    QTest::newRow("emptyField") << QString() << pregapSheet << QString() << notFound;
    QTest::newRow("folder") << "folder.cue" << pregapSheet << QString()
                            << failed + dash + "pas un fichier ordinaire";
}

void TestFileRun::previewAndStatus()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, sheet);
    QFETCH(QString, preview);
    QFETCH(QString, status);

    QTemporaryDir dir;
    const QString path = dir.filePath("album.cue");
    QVERIFY(writeFile(path, sheet) && writeFile(dir.filePath("before.cue"), pregapSheet));
    QVERIFY(backdate(path) && QDir(dir.path()).mkdir("folder.cue"));

    Window ui;
    expectSizeHintWarnings(1);
    ui.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&ui.window));
    ui.run(dir.filePath("before.cue"));
    QCOMPARE(ui.status->text(), modified);
    ui.run(name.isEmpty() ? name : dir.filePath(name));
    QCOMPARE(ui.textArea->toPlainText(), preview);
    QCOMPARE(ui.status->text(), status);
    // A status too wide for its field shows its start, and the whole of it as a tooltip.
    QCOMPARE(ui.status->cursorPosition(), 0);
    QCOMPARE(ui.status->toolTip(), status.contains(dash) ? status : QString());
    QCOMPARE(readFile(path), status.startsWith(modified) ? cuesheetmodel::pruned(sheet) : sheet);
    if (status == unchanged)
        QCOMPARE(QFileInfo(path).lastModified(), longAgo());
}

// The preview's "Encodage" menu lists the code page found, checked, and the others the kept
// bytes could be in; choosing one shows them again in it, and the sheet is not touched.
void TestFileRun::encodingChosenByHand()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("album.cue");
    const QByteArray sheet = QStringEncoder("GB18030")(
        u"PERFORMER \"王菲\"\nTITLE \"歌声伴随你\"\nFILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n"
        u"    INDEX 01 00:00:00\n");
    QVERIFY(writeFile(path, sheet));

    Window ui;
    ui.run(path);
    QCOMPARE(ui.textArea->toPlainText().left(14), u"PERFORMER \"王菲\"");

    QStringList offered;
    QString checked;
    QTimer::singleShot(0, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        QMenu *encodings = menu->actions().constLast()->menu();
        QVERIFY(encodings && encodings->title() == "Encodage");
        for (QAction *action : encodings->actions()) {
            offered.append(action->text());
            checked += action->isChecked() ? action->text() : QString();
        }
        encodings->actions().constLast()->trigger();
        menu->close();
    });
    emit ui.textArea->customContextMenuRequested({ 5, 5 });
    QCOMPARE(checked, QStringLiteral("GB18030 (chinois simplifié)"));
    QCOMPARE(offered.constLast(), QStringLiteral("Windows-1252 (Europe occidentale)"));
    QCOMPARE(ui.textArea->toPlainText().left(16), u"PERFORMER \"Íõ·Æ\"");
    QCOMPARE(readFile(path), sheet);
}

QTEST_MAIN(TestFileRun)
#include "tst_filerun.moc"
