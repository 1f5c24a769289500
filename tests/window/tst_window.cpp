// Built once per window program, with that program's part of the window.
#include "support/files.h"
#include "support/modaldialoghandler.h"
#include "support/sheets.h"
#include "support/windowdriver.h"
#include "window/vexatrin.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

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
    QTest::addColumn<QString>("given"); // relative to a temporary folder
    QTest::addColumn<bool>("taken");
    QTest::newRow("folderAsArgument") << false << "Albums" << true;
    QTest::newRow("sheetAsArgument") << false << "Albums/a.cue" << true;
    QTest::newRow("folderDropped") << true << "Albums" << takesFolders;
    QTest::newRow("sheetDropped") << true << "Albums/a.cue" << !takesFolders;
}

// A path from the command line or a drop fills the field; nothing runs before the button.
void TestWindow::pathFromOutside()
{
    QFETCH(bool, dropped);
    QFETCH(QString, given);
    QFETCH(bool, taken);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(testsupport::fill(dir.path(), { { "Albums/a.cue", testsupport::pregapSheet } }));
    const QString path = dir.filePath(given);

    VexaTrin window;
    auto *field = child<QLineEdit>(window, "lineEdit");
    field->setText("before");
    if (dropped) {
        QMimeData data;
        data.setUrls({ QUrl::fromLocalFile(path) });
        QDragEnterEvent enter({ 10, 10 }, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &enter);
        QCOMPARE(enter.isAccepted(), taken);
        QDropEvent drop({ 10, 10 }, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &drop);
    } else {
        window.takeArguments({ "program", path });
    }
    QCOMPARE(field->text(), taken ? path : QStringLiteral("before"));
    QCOMPARE(testsupport::readFile(dir.filePath("Albums/a.cue")), testsupport::pregapSheet);
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
