// Built once per window program, with that program's part of the window.
#include "support/faults.h"
#include "support/files.h"
#include "support/modaldialoghandler.h"
#include "support/sheets.h"
#include "support/windowdriver.h"
#include "window/commandline.h"
#include "window/vexatrin.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include <sys/stat.h>

#include <vector>

namespace {

#ifdef WINDOW_OF_CUEFOLDER
const QString chooseCaption = QStringLiteral("Sélection du répertoire");
const QString runCaption = QStringLiteral("Tester les fichiers");
const QString chooserCaption = QStringLiteral("Dossier avec les fichiers CUE");
const bool takesFolders = true;
#else
const QString chooseCaption = QStringLiteral("Sélection du fichier");
const QString runCaption = QStringLiteral("Tester le fichier");
const QString chooserCaption = QStringLiteral("Choix du fichier");
const bool takesFolders = false;
#endif

// Marks every text it is asked for, to show which context the captions are looked up in.
class MarkingTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        return QString::fromUtf8(context) + ':' + QString::fromUtf8(sourceText);
    }
    bool isEmpty() const override { return false; }
};

template <typename T> T *child(const VexaTrin &window, const char *name)
{
    return window.findChild<T *>(QString::fromLatin1(name));
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void windowAsOpened();
    void captionsAreTranslatable();
    void resizingGrowsTheTextArea();
    void chooser_data();
    void chooser();
    void pathFromOutside_data();
    void pathFromOutside();
    void commandLine_data();
    void commandLine();
    void withoutDisplay_data();
    void withoutDisplay();
};

void TestWindow::windowAsOpened()
{
    VexaTrin window;
    QCOMPARE(window.size(), QSize(690, 567));
    QCOMPARE(window.windowTitle(), QStringLiteral("Zumbrak7"));
    QCOMPARE(child<QPushButton>(window, "pushButton")->text(), chooseCaption);
    QCOMPARE(child<QPushButton>(window, "pushButton_2")->text(), runCaption);
    for (const char *name : { "lineEdit", "lineEdit_2" })
        QVERIFY(child<QLineEdit>(window, name)->text().isEmpty());
    QVERIFY(child<QPlainTextEdit>(window, "plainTextEdit")->toPlainText().isEmpty());
}

void TestWindow::captionsAreTranslatable()
{
    MarkingTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    VexaTrin window;
    QCoreApplication::removeTranslator(&translator);

    QCOMPARE(window.windowTitle(), QStringLiteral("Vexatrin:Zumbrak7"));
    QCOMPARE(child<QPushButton>(window, "pushButton")->text(), "Vexatrin:" + chooseCaption);
    QCOMPARE(child<QPushButton>(window, "pushButton_2")->text(), "Vexatrin:" + runCaption);
}

void TestWindow::resizingGrowsTheTextArea()
{
    VexaTrin window;
    testsupport::expectSizeHintWarnings(1);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto *status = child<QLineEdit>(window, "lineEdit_2");
    const auto *textArea = child<QPlainTextEdit>(window, "plainTextEdit");
    const auto *runButton = child<QPushButton>(window, "pushButton_2");
    QVERIFY(status->width() >= 300);
    const QRect columnBefore = status->geometry();
    const QPoint buttonBefore = runButton->pos();
    const QSize textBefore = textArea->size();

    window.resize(1000, 800);
    QTRY_COMPARE(textArea->width(), textBefore.width() + 310);
    QCOMPARE(textArea->height(), textBefore.height() + 233);
    QCOMPARE(status->geometry(), columnBefore);
    QCOMPARE(runButton->pos(), buttonBefore);
}

void TestWindow::chooser_data()
{
    QTest::addColumn<int>("key"); // 0 for a click
    QTest::addColumn<bool>("accept");
    QTest::newRow("clickThenChoose") << 0 << true;
    QTest::newRow("clickThenCancel") << 0 << false;
    QTest::newRow("returnOnFocusedButton") << int(Qt::Key_Return) << true;
    QTest::newRow("enterOnFocusedButton") << int(Qt::Key_Enter) << true;
}

// The chooser button opens the program's dialog once; what is chosen fills the field, a
// cancelled dialog leaves it alone.
void TestWindow::chooser()
{
    QFETCH(int, key);
    QFETCH(bool, accept);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(testsupport::fill(dir.path(), { { "Albums/album.cue", testsupport::pregapSheet } }));
    const QString chosen = dir.filePath(takesFolders ? "Albums" : "Albums/album.cue");

    VexaTrin window;
    testsupport::expectSizeHintWarnings(1);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *path = child<QLineEdit>(window, "lineEdit");
    path->setText("before");
    QString caption;
    bool rightKind = false;
    testsupport::ModalDialogHandler handler([&](QDialog *dialog) {
        auto *fileDialog = qobject_cast<QFileDialog *>(dialog);
        QVERIFY(fileDialog);
        caption = fileDialog->windowTitle();
        rightKind = takesFolders
            ? fileDialog->fileMode() == QFileDialog::Directory
                && fileDialog->testOption(QFileDialog::ShowDirsOnly)
            : fileDialog->nameFilters() == QStringList { "CUE Files (*.cue)", "All Files (*)" };
        if (accept) {
            fileDialog->selectFile(chosen);
            dialog->accept();
        } else {
            dialog->reject();
        }
    });
    testsupport::expectSizeHintWarnings(1);
    auto *button = child<QPushButton>(window, "pushButton");
    if (key == 0) {
        QTest::mouseClick(button, Qt::LeftButton);
    } else {
        button->setFocus();
        QTest::keyClick(button, Qt::Key(key));
    }

    QCOMPARE(handler.handled(), 1);
    QCOMPARE(caption, chooserCaption);
    QVERIFY(rightKind);
    QCOMPARE(path->text(), accept ? chosen : QStringLiteral("before"));
    QCOMPARE(testsupport::readFile(dir.filePath("Albums/album.cue")), testsupport::pregapSheet);
}

void TestWindow::pathFromOutside_data()
{
    QTest::addColumn<bool>("dropped"); // else given as the program's argument
    QTest::addColumn<QByteArray>("folder"); // made in a temporary folder, holding a.cue
    QTest::addColumn<bool>("sheet"); // the sheet given, else the folder
    QTest::addColumn<QString>("shown"); // the folder's name as the field shows it
    for (const bool dropped : { false, true }) {
        const char *way = dropped ? "Dropped" : "AsArgument";
        for (const bool sheet : { false, true }) {
            const QByteArray given = QByteArray(sheet ? "sheet" : "folder") + way;
            QTest::newRow(given) << dropped << QByteArray("Albums") << sheet << "Albums";
            QTest::newRow(given + "Latin1")
                << dropped << QByteArray("caf\xe9") << sheet << QStringLiteral("café");
            QTest::newRow(given + "Utf8")
                << dropped << QByteArray("caf\xc3\xa9") << sheet << QStringLiteral("café");
        }
    }
}

// A path from the command line or a drop fills the field, shown as the log shows names, and
// keeps its bytes: the run button then prunes that very sheet. Nothing runs before it. A drop
// is taken as a copy, never as a move, and only of what the program works on.
void TestWindow::pathFromOutside()
{
    QFETCH(bool, dropped);
    QFETCH(QByteArray, folder);
    QFETCH(bool, sheet);
    QFETCH(QString, shown);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray folderPath = QFile::encodeName(dir.path()) + '/' + folder;
    const QByteArray sheetPath = folderPath + "/a.cue";
    const testsupport::RemovedAtEnd nativeNames({ folderPath, sheetPath });
    QCOMPARE(::mkdir(folderPath.constData(), 0755), 0);
    QVERIFY(testsupport::writeFile(sheetPath, testsupport::pregapSheet));
    const QByteArray path = sheet ? sheetPath : folderPath;
    const bool taken = !dropped || sheet != takesFolders;

    testsupport::Window ui;
    ui.path->setText("before");
    if (dropped) {
        QMimeData data;
        data.setData("text/uri-list", "file://" + path.toPercentEncoding("/") + "\r\n");
        const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
        // Shift proposes a move.
        QDragEnterEvent enter({ 10, 10 }, offered, &data, Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(&ui.window, &enter);
        QCOMPARE(enter.isAccepted(), taken);
        QDropEvent drop({ 10, 10 }, offered, &data, Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(&ui.window, &drop);
        if (taken)
            QCOMPARE(drop.dropAction(), Qt::CopyAction);
    } else {
        ui.window.takePath(path);
    }
    const QString inField = dir.path() + '/' + shown + (sheet ? "/a.cue" : "");
    QCOMPARE(ui.path->text(), taken ? inField : QStringLiteral("before"));
    QCOMPARE(testsupport::readFile(sheetPath), testsupport::pregapSheet);
    if (!taken || sheet == takesFolders)
        return;
    QTest::mouseClick(ui.window.findChild<QPushButton *>("pushButton_2"), Qt::LeftButton);
    QCOMPARE(testsupport::readFile(sheetPath), testsupport::prunedSheet);
}

void TestWindow::commandLine_data()
{
    QTest::addColumn<QByteArrayList>("arguments"); // after the program's name
    QTest::addColumn<int>("action");
    QTest::addColumn<QByteArray>("argument");
    using Action = CommandLine::Action;
    QTest::newRow("nothing") << QByteArrayList() << int(Action::Open) << QByteArray();
    QTest::newRow("path") << QByteArrayList { "caf\xe9" } << int(Action::Open)
                          << QByteArray("caf\xe9");
    QTest::newRow("help") << QByteArrayList { "x", "--help" } << int(Action::Help) << QByteArray();
    QTest::newRow("shortVersion") << QByteArrayList { "-v" } << int(Action::Version)
                                  << QByteArray();
    QTest::newRow("optionAfterEnd")
        << QByteArrayList { "--", "--help" } << int(Action::Open) << QByteArray("--help");
    QTest::newRow("unknown") << QByteArrayList { "--odd", "x" } << int(Action::UnknownOption)
                             << QByteArray("--odd");
    // Qt takes its own options, and their values, out of argv.
    QTest::newRow("qtOptionsPassedOver") << QByteArrayList { "-platform", "offscreen", "--style",
        "fusion", "-reverse", "-stylesheet=a.qss", "x" }
                                         << int(Action::Open) << QByteArray("x");
}

void TestWindow::commandLine()
{
    QFETCH(QByteArrayList, arguments);
    QFETCH(int, action);
    QFETCH(QByteArray, argument);
    std::vector<const char *> argv { "program" };
    for (const QByteArray &given : arguments)
        argv.push_back(given.constData());
    const CommandLine line = parseCommandLine(int(argv.size()), argv.data());
    QCOMPARE(int(line.action), action);
    QCOMPARE(line.argument, argument);
}

void TestWindow::withoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error"); // all of standard error
    const QString program = QFileInfo(PROGRAM).fileName();
    const QString tryHelp = "\nEssayez « " + program + " --help ».\n";
    QTest::newRow("help") << QStringList { "--help" } << 0 << QString();
    QTest::newRow("unknownLongOption") << QStringList { "-platform", "xcb", "--odd" } << 2
                                       << program + " : option non reconnue « --odd »" + tryHelp;
    QTest::newRow("unknownLetter")
        << QStringList { "-z", "x" } << 2 << program + " : option invalide -- 'z'" + tryHelp;
    QTest::newRow("unknownQuoted")
        << QStringList { "--x y" } << 2 << program + " : option non reconnue « '--x y' »" + tryHelp;
}

// Help and a usage error need no display: the program answers and leaves before Qt looks for
// one, in cueprune's words.
void TestWindow::withoutDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    QProcess program;
    program.setProcessEnvironment(
        testsupport::withoutDisplay(QProcessEnvironment::systemEnvironment()));
    program.start(PROGRAM, arguments);
    QVERIFY(program.waitForFinished());
    QCOMPARE(program.exitCode(), exitCode);
    QCOMPARE(QString::fromUtf8(program.readAllStandardError()), error);
    if (exitCode != 0)
        return;
    const QString help = QString::fromUtf8(program.readAllStandardOutput());
    QVERIFY2(help.startsWith("Utilisation : " + QFileInfo(PROGRAM).fileName()), qPrintable(help));
    QVERIFY2(help.contains("cueprune -n"), qPrintable(help));
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
