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
#include <QMimeData>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include <sys/stat.h>

#include <cstdio>
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

// How a path reaches the field.
enum class Way { Argument, Drop, Chooser, ChooserByKey, ChooserCancelled };

} // namespace

Q_DECLARE_METATYPE(Way)

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void windowAsOpened();
    void resizingGrowsTheTextArea();
    void pathFromOutside_data();
    void pathFromOutside();
    void commandLine_data();
    void commandLine();
    void withoutDisplay();
};

// As opened, and with its captions looked up in the form's context, so that they translate.
void TestWindow::windowAsOpened()
{
    MarkingTranslator translator;
    for (const QString &context : { QString(), QStringLiteral("Vexatrin:") }) {
        QVERIFY(context.isEmpty() || QCoreApplication::installTranslator(&translator));
        testsupport::Window ui;
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(ui.window.size(), QSize(690, 567));
        QCOMPARE(ui.window.windowTitle(), context + "Zumbrak7");
        QCOMPARE(child<QPushButton>(ui.window, "pushButton")->text(), context + chooseCaption);
        QCOMPARE(child<QPushButton>(ui.window, "pushButton_2")->text(), context + runCaption);
        QVERIFY(ui.path->text().isEmpty() && ui.status->text().isEmpty());
        QVERIFY(ui.textArea->toPlainText().isEmpty());
    }
}

void TestWindow::resizingGrowsTheTextArea()
{
    testsupport::Window ui;
    testsupport::expectSizeHintWarnings(1);
    ui.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&ui.window));
    const auto *runButton = child<QPushButton>(ui.window, "pushButton_2");
    QVERIFY(ui.status->width() >= 300);
    const QRect columnBefore = ui.status->geometry();
    const QPoint buttonBefore = runButton->pos();
    const QSize textBefore = ui.textArea->size();

    ui.window.resize(1000, 800);
    QTRY_COMPARE(ui.textArea->width(), textBefore.width() + 310);
    QCOMPARE(ui.textArea->height(), textBefore.height() + 233);
    QCOMPARE(ui.status->geometry(), columnBefore);
    QCOMPARE(runButton->pos(), buttonBefore);
}

void TestWindow::pathFromOutside_data()
{
    QTest::addColumn<Way>("way");
    QTest::addColumn<QByteArray>("folder"); // made in a temporary folder, holding a.cue
    QTest::addColumn<bool>("sheet"); // the sheet given, else the folder
    QTest::addColumn<QString>("shown"); // the folder's name as the field shows it
    for (const Way way : { Way::Argument, Way::Drop })
        for (const bool sheet : { false, true }) {
            const QByteArray given = QByteArray(sheet ? "sheet" : "folder")
                + (way == Way::Drop ? "Dropped" : "AsArgument");
            QTest::newRow(given) << way << QByteArray("Albums") << sheet << "Albums";
            QTest::newRow(given + "Latin1") << way << QByteArray("caf\xe9") << sheet << "café";
            QTest::newRow(given + "Utf8") << way << QByteArray("caf\xc3\xa9") << sheet << "café";
        }
    // The chooser gives what the program works on.
    for (const auto &[tag, way] : { std::pair { "clickThenChoose", Way::Chooser },
             { "returnOnFocusedButton", Way::ChooserByKey },
             { "clickThenCancel", Way::ChooserCancelled } })
        QTest::newRow(tag) << way << QByteArray("Albums") << !takesFolders << "Albums";
}

// A path from the command line, a drop or the chooser fills the field, shown as the log shows
// names, and keeps its bytes: the run button then prunes that very sheet. Nothing runs before
// it. A drop is taken as a copy, never as a move, and only of what the program works on; the
// chooser opens the program's dialog once, and a cancelled one leaves the field alone.
void TestWindow::pathFromOutside()
{
    QFETCH(Way, way);
    QFETCH(QByteArray, folder);
    QFETCH(bool, sheet);
    QFETCH(QString, shown);
    QTemporaryDir dir;
    const QByteArray folderPath = QFile::encodeName(dir.path()) + '/' + folder;
    const QByteArray sheetPath = folderPath + "/a.cue";
    const auto nativeNames = qScopeGuard([&] { // names QTemporaryDir cannot remove
        ::remove(sheetPath.constData());
        ::remove(folderPath.constData());
    });
    QCOMPARE(::mkdir(folderPath.constData(), 0755), 0);
    QVERIFY(testsupport::writeFile(sheetPath, testsupport::pregapSheet));
    const QByteArray path = sheet ? sheetPath : folderPath;
    const bool taken = way == Way::Drop ? sheet != takesFolders : way != Way::ChooserCancelled;

    testsupport::Window ui;
    ui.path->setText("before");
    if (way == Way::Drop) {
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
    } else if (way == Way::Argument) {
        ui.window.takePath(path);
    } else {
        testsupport::expectSizeHintWarnings(2);
        ui.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&ui.window));
        testsupport::ModalDialogHandler handler([&](QDialog *dialog) {
            auto *fileDialog = qobject_cast<QFileDialog *>(dialog);
            QVERIFY(fileDialog);
            fileDialog->selectFile(QFile::decodeName(path));
            way == Way::ChooserCancelled ? dialog->reject() : dialog->accept();
            QCOMPARE(fileDialog->windowTitle(), chooserCaption);
            const bool rightKind = takesFolders
                ? fileDialog->fileMode() == QFileDialog::Directory
                    && fileDialog->testOption(QFileDialog::ShowDirsOnly)
                : fileDialog->nameFilters() == QStringList { "CUE Files (*.cue)", "All Files (*)" };
            QVERIFY(rightKind);
        });
        auto *button = child<QPushButton>(ui.window, "pushButton");
        button->setFocus();
        way == Way::ChooserByKey ? QTest::keyClick(button, Qt::Key_Return)
                                 : QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(handler.handled(), 1);
    }
    const QString inField = dir.path() + '/' + shown + (sheet ? "/a.cue" : "");
    QCOMPARE(ui.path->text(), taken ? inField : QStringLiteral("before"));
    QCOMPARE(testsupport::readFile(sheetPath), testsupport::pregapSheet);
    if (!taken || sheet == takesFolders)
        return;
    QTest::mouseClick(child<QPushButton>(ui.window, "pushButton_2"), Qt::LeftButton);
    QCOMPARE(testsupport::readFile(sheetPath), testsupport::prunedSheet);
}

void TestWindow::commandLine_data()
{
    QTest::addColumn<QByteArrayList>("arguments"); // after the program's name
    QTest::addColumn<int>("action");
    QTest::addColumn<QByteArray>("argument");
    QTest::addColumn<QString>("error"); // for an unknown option
    using Action = CommandLine::Action;
    const auto row = [](const char *tag, const QByteArrayList &arguments, Action action,
                         const QByteArray &argument = {}, const QString &error = {}) {
        QTest::newRow(tag) << arguments << int(action) << argument << error;
    };
    row("nothing", {}, Action::Open);
    row("firstPath", { "caf\xe9", "b" }, Action::Open, "caf\xe9");
    row("help", { "x", "--help" }, Action::Help);
    row("shortVersion", { "-v" }, Action::Version);
    row("optionAfterEnd", { "--", "--help" }, Action::Open, "--help");
    // Qt takes its own options, and their values, out of argv.
    row("qtOptionsPassedOver",
        { "-platform", "offscreen", "--style", "fusion", "-reverse", "-stylesheet=a.qss", "x" },
        Action::Open, "x");
    // The first unknown option is the one told, in cueprune's words.
    row("unknown", { "--odd", "-z", "x" }, Action::UnknownOption, "--odd",
        "option non reconnue « --odd »");
    row("unknownLetter", { "-z" }, Action::UnknownOption, "-z", "option invalide -- 'z'");
    row("unknownQuoted", { "--x y" }, Action::UnknownOption, "--x y",
        "option non reconnue « '--x y' »");
    row("unknownControl", { "-\x7F" }, Action::UnknownOption, "-\x7F",
        "option non reconnue « '-'$'\\177' »");
}

void TestWindow::commandLine()
{
    QFETCH(QByteArrayList, arguments);
    QFETCH(int, action);
    QFETCH(QByteArray, argument);
    QFETCH(QString, error);
    std::vector<const char *> argv { "program" };
    for (const QByteArray &given : arguments)
        argv.push_back(given.constData());
    const CommandLine line = parseCommandLine(int(argv.size()), argv.data());
    QCOMPARE(int(line.action), action);
    QCOMPARE(line.argument, argument);
    if (!error.isEmpty())
        QCOMPARE(unknownOptionText(line.argument), error);
}

// Help and a usage error need no display: the program answers and leaves before Qt looks for
// one, in cueprune's words.
void TestWindow::withoutDisplay()
{
    const QString program = QFileInfo(PROGRAM).fileName();
    QProcess run;
    run.setProcessEnvironment(
        testsupport::withoutDisplay(QProcessEnvironment::systemEnvironment()));
    run.start(PROGRAM, { "-platform", "xcb", "--odd" });
    QVERIFY(run.waitForFinished());
    QCOMPARE(run.exitCode(), 2);
    QCOMPARE(QString::fromUtf8(run.readAllStandardError()),
        program + " : option non reconnue « --odd »\nEssayez « " + program + " --help ».\n");
    run.start(PROGRAM, { "--help" });
    QVERIFY(run.waitForFinished());
    QCOMPARE(run.exitCode(), 0);
    QCOMPARE(run.readAllStandardError(), QByteArray());
    const QString help = QString::fromUtf8(run.readAllStandardOutput());
    QVERIFY2(help.startsWith("Utilisation : " + program) && help.contains("cueprune -n"),
        qPrintable(help));
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
