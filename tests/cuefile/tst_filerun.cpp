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

#include <algorithm>
#include <tuple>

using testsupport::discImage;
using testsupport::pregapSheet;
using testsupport::prunedSheet;
using testsupport::readFile;
using testsupport::Window;
using testsupport::writeFile;

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

// What the preview shows of a sheet: its lines joined by line feeds, without a final one.
QString previewOf(const QString &text)
{
    QString preview = text;
    preview.remove('\r');
    if (preview.endsWith('\n'))
        preview.chop(1);
    return preview;
}

} // namespace

class TestFileRun : public QObject
{
    Q_OBJECT

private slots:
    void previewAndStatus_data();
    void previewAndStatus();
    void secondRun_data();
    void secondRun();
    void encodingChosenByHand();
};

void TestFileRun::previewAndStatus_data()
{
    QTest::addColumn<QByteArray>("sheet");
    QTest::addColumn<QString>("preview");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("pregapOnEachTrack")
        << pregapSheet << previewOf(QString::fromLatin1(prunedSheet)) << modified << prunedSheet;
    QTest::newRow("cleanSheet") << prunedSheet << previewOf(QString::fromLatin1(prunedSheet))
                                << unchanged << prunedSheet;
    QTest::newRow("emptyFile") << QByteArray() << QString() << unchanged << QByteArray();
    const QByteArray prunedImage = QByteArray(discImage).replace("    INDEX 00 00:00:00\n", "");
    QTest::newRow("discImage") << discImage << previewOf(QString::fromLatin1(prunedImage))
                               << modified + dash + flacWarning + dash
            + "attention : image de disque : la position des pistes change pour un graveur ou un "
              "émulateur ; cueprune -b ou --diff gardent un chemin de retour"
                               << prunedImage;
    QTest::newRow("latin1WithPregap")
        << QByteArray("TITLE \"Caf\xE9 cr\xE8me \x96 l\x92\x9cuvre\"\nINDEX 00 a\nINDEX 01 b")
        << QStringLiteral("TITLE \"Café crème – l’œuvre\"\nINDEX 01 b") << modified
        << QByteArray("TITLE \"Caf\xE9 cr\xE8me \x96 l\x92\x9cuvre\"\nINDEX 01 b");
    QTest::newRow("latin1Clean") << QByteArray("TITLE \"D\xE9j\xE0 vu\"\n")
                                 << QStringLiteral("TITLE \"Déjà vu\"") << unchanged
                                 << QByteArray("TITLE \"D\xE9j\xE0 vu\"\n");
    QTest::newRow("utf8WithPregap")
        << QByteArray("TITLE \"\xC3\x89t\xC3\xA9\"\nINDEX 00 a\nINDEX 01 b\n")
        << QStringLiteral("TITLE \"Été\"\nINDEX 01 b") << modified
        << QByteArray("TITLE \"\xC3\x89t\xC3\xA9\"\nINDEX 01 b\n");

    // Legacy code pages: the detector is followed for a non-Latin script only.
    const QString russian
        = QStringLiteral("PERFORMER \"Кино\"\r\nTITLE \"Группа крови\"\r\n"
                         "  TRACK 01 AUDIO\r\n    TITLE \"Закрой за мной дверь\"\r\n"
                         "    PERFORMER \"Виктор Цой\"\r\n");
    // Debian 12's detector calls this ISO-8859-2 or MAC-CENTRALEUROPE ("NoŽl").
    const QString french
        = QStringLiteral("PERFORMER \"Noël Coward\"\r\nTITLE \"Les fêtes de Noël\"\r\n"
                         "  TRACK 01 AUDIO\r\n    TITLE \"Petit papa Noël\"\r\n");
    const QString pregap = QStringLiteral("    INDEX 00 00:00:00\r\n    INDEX 01 00:02:00\r\n");
    const QString pruned = QStringLiteral("    INDEX 01 00:02:00\r\n");
    for (const auto &[tag, text, encoding] : { std::tuple { "cp1251", russian, "windows-1251" },
             { "windows1252", french, "windows-1252" }, { "utf32LittleEndian", french, "UTF-32LE" },
             { "utf32BigEndian", russian, "UTF-32BE" },
             { "utf16WithoutMark", russian, "UTF-16LE" } }) {
        // A Unicode form that a mark announces carries one: the others do not.
        const QString mark = QString(encoding).startsWith("UTF-32") ? QStringLiteral("\uFEFF") : "";
        QStringEncoder encode(encoding);
        QTest::addRow("%sWithPregap", tag)
            << QByteArray(encode(mark + text + pregap)) << previewOf(text + pruned)
            << modified + dash + flacWarning << QByteArray(encode(mark + text + pruned));
    }
}

void TestFileRun::previewAndStatus()
{
    QFETCH(QByteArray, sheet);
    QFETCH(QString, preview);
    QFETCH(QString, status);
    QFETCH(QByteArray, after);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString path = dir.filePath("album.cue");
    QVERIFY(writeFile(path, sheet));
    QVERIFY(testsupport::backdate(path));

    Window ui;
    testsupport::expectSizeHintWarnings(1);
    ui.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&ui.window));
    ui.run(path);
    QCOMPARE(ui.textArea->toPlainText(), preview);
    QCOMPARE(ui.status->text(), status);
    // A status too wide for its field shows its start, and the whole of it as a tooltip.
    QCOMPARE(ui.status->cursorPosition(), 0);
    QCOMPARE(ui.status->toolTip(), status.contains(dash) ? status : QString());
    QCOMPARE(readFile(path), after);
    if (status == unchanged)
        QCOMPARE(QFileInfo(path).lastModified(), testsupport::longAgo());
}

void TestFileRun::secondRun_data()
{
    QTest::addColumn<QString>("relativePath");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("preview");
    QTest::newRow("emptyField") << QString() << notFound << QString();
    QTest::newRow("missingPath") << "missing.cue" << notFound << QString();
    QTest::newRow("folder") << "folder.cue" << failed + dash + "pas un fichier ordinaire"
                            << QString();
    QTest::newRow("sameSheetAgain")
        << "album.cue" << unchanged << previewOf(QString::fromLatin1(prunedSheet));
}

// Neither the verdict nor the preview of an earlier run may stand for the next one.
void TestFileRun::secondRun()
{
    QFETCH(QString, relativePath);
    QFETCH(QString, status);
    QFETCH(QString, preview);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(QDir(dir.path()).mkdir("folder.cue"));
    QVERIFY(writeFile(dir.filePath("album.cue"), pregapSheet));

    Window ui;
    ui.run(dir.filePath("album.cue"));
    QCOMPARE(ui.status->text(), modified);
    QCOMPARE(ui.textArea->toPlainText(), previewOf(QString::fromLatin1(prunedSheet)));

    ui.run(relativePath.isEmpty() ? QString() : dir.filePath(relativePath));
    QCOMPARE(ui.status->text(), status);
    QCOMPARE(ui.textArea->toPlainText(), preview);
}

// The preview's "Encodage" menu lists the code page found, checked, and the others the kept
// bytes could be in; choosing one shows them again in it, and the sheet is not touched.
void TestFileRun::encodingChosenByHand()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString path = dir.filePath("album.cue");
    const QByteArray sheet = QStringEncoder("GB18030")(
        u"PERFORMER \"王菲\"\nTITLE \"歌声伴随你\"\nFILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n"
        u"    INDEX 01 00:00:00\n");
    QVERIFY(writeFile(path, sheet));

    Window ui;
    ui.run(path);
    QCOMPARE(ui.status->text(), unchanged);
    QVERIFY2(ui.textArea->toPlainText().startsWith(u"PERFORMER \"王菲\""),
        qPrintable(ui.textArea->toPlainText()));

    QStringList offered;
    QString checked;
    QTimer::singleShot(0, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        const auto actions = menu->actions();
        const auto encoding = std::find_if(actions.cbegin(), actions.cend(),
            [](const QAction *action) { return action->text() == "Encodage"; });
        QVERIFY(encoding != actions.cend() && (*encoding)->menu());
        for (QAction *action : (*encoding)->menu()->actions()) {
            offered.append(action->text());
            if (action->isChecked())
                checked = action->text();
        }
        (*encoding)->menu()->actions().constLast()->trigger();
        menu->close();
    });
    emit ui.textArea->customContextMenuRequested({ 5, 5 });
    QCOMPARE(checked, QStringLiteral("GB18030 (chinois simplifié)"));
    QCOMPARE(offered.constLast(), QStringLiteral("Windows-1252 (Europe occidentale)"));
    QVERIFY2(ui.textArea->toPlainText().startsWith(u"PERFORMER \"Íõ·Æ\""),
        qPrintable(ui.textArea->toPlainText()));
    QCOMPARE(readFile(path), sheet);
}

QTEST_MAIN(TestFileRun)
#include "tst_filerun.moc"
