// Built once per window program, with that program's button captions.
#include "modaldialoghandler.h"
#include "testsupport.h"
#include "vexatrin.h"

#include <QBoxLayout>
#include <QFrame>
#include <QGridLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTranslator>

namespace {

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
    void formObjects_data();
    void formObjects();
    void windowAsOpened();
    void captionsAreTranslatable();
    void fonts();
    void sizePolicies_data();
    void sizePolicies();
    void spacers();
    void resizingGrowsTheTextArea();
    void metaObject();
    void chooserButtonOpensOneDialog_data();
    void chooserButtonOpensOneDialog();
    void pathFromOutside_data();
    void pathFromOutside();
};

void TestWindow::formObjects_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("className");
    QTest::newRow("centralwidget") << "centralwidget" << QByteArray("QWidget");
    QTest::newRow("gridLayout") << "gridLayout" << QByteArray("QGridLayout");
    QTest::newRow("horizontalLayout") << "horizontalLayout" << QByteArray("QHBoxLayout");
    QTest::newRow("verticalLayout") << "verticalLayout" << QByteArray("QVBoxLayout");
    QTest::newRow("pushButton") << "pushButton" << QByteArray("QPushButton");
    QTest::newRow("lineEdit") << "lineEdit" << QByteArray("QLineEdit");
    QTest::newRow("pushButton_2") << "pushButton_2" << QByteArray("QPushButton");
    QTest::newRow("lineEdit_2") << "lineEdit_2" << QByteArray("QLineEdit");
    QTest::newRow("line") << "line" << QByteArray("QFrame");
    QTest::newRow("plainTextEdit") << "plainTextEdit" << QByteArray("QPlainTextEdit");
}

void TestWindow::formObjects()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, className);

    VexaTrin window;
    const QList<QObject *> found = window.findChildren<QObject *>(name);
    QCOMPARE(found.size(), 1);
    QCOMPARE(QByteArray(found.first()->metaObject()->className()), className);
    if (auto *widget = qobject_cast<QWidget *>(found.first()); widget && name != "centralwidget")
        QCOMPARE(widget->parentWidget(), window.centralWidget());
}

void TestWindow::windowAsOpened()
{
    VexaTrin window;
    QCOMPARE(window.objectName(), QStringLiteral("Vexatrin"));
    QCOMPARE(window.size(), QSize(690, 567));
    QCOMPARE(window.windowTitle(), QStringLiteral("Zumbrak7"));
    QCOMPARE(window.centralWidget()->objectName(), QStringLiteral("centralwidget"));
    QCOMPARE(
        child<QPushButton>(window, "pushButton")->text(), QStringLiteral(EXPECTED_CHOOSE_CAPTION));
    QCOMPARE(
        child<QPushButton>(window, "pushButton_2")->text(), QStringLiteral(EXPECTED_RUN_CAPTION));
    QVERIFY(!window.findChild<QMenuBar *>());
    QVERIFY(!window.findChild<QStatusBar *>());

    for (const char *name : { "lineEdit", "lineEdit_2" })
        QVERIFY(child<QLineEdit>(window, name)->text().isEmpty());
    QVERIFY(child<QPlainTextEdit>(window, "plainTextEdit")->toPlainText().isEmpty());

    const auto *line = child<QFrame>(window, "line");
    QCOMPARE(line->frameShape(), QFrame::VLine);
    QCOMPARE(line->frameShadow(), QFrame::Sunken);

    const auto *grid = child<QGridLayout>(window, "gridLayout");
    QCOMPARE(grid->spacing(), 0);
    QCOMPARE(grid->contentsMargins(), QMargins());

    VexaTrin named;
    named.setObjectName("kept");
    QCOMPARE(named.objectName(), QStringLiteral("kept"));
}

void TestWindow::captionsAreTranslatable()
{
    MarkingTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    VexaTrin window;
    QCoreApplication::removeTranslator(&translator);

    QCOMPARE(window.windowTitle(), QStringLiteral("Vexatrin:Zumbrak7"));
    QCOMPARE(child<QPushButton>(window, "pushButton")->text(),
        QStringLiteral("Vexatrin:" EXPECTED_CHOOSE_CAPTION));
    QCOMPARE(child<QPushButton>(window, "pushButton_2")->text(),
        QStringLiteral("Vexatrin:" EXPECTED_RUN_CAPTION));
}

void TestWindow::fonts()
{
    VexaTrin window;
    QFont buttonFont = QApplication::font();
    buttonFont.setPointSize(12);
    QCOMPARE(child<QPushButton>(window, "pushButton")->font(), buttonFont);
    QCOMPARE(child<QPushButton>(window, "pushButton_2")->font(), buttonFont);
    QCOMPARE(child<QLineEdit>(window, "lineEdit")->font(), QApplication::font());
    QCOMPARE(child<QLineEdit>(window, "lineEdit_2")->font(), QApplication::font());
    QCOMPARE(child<QPlainTextEdit>(window, "plainTextEdit")->font(), QApplication::font());
}

void TestWindow::sizePolicies_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("ownHeightForWidth");
    QTest::newRow("pushButton") << "pushButton" << QPushButton().sizePolicy().hasHeightForWidth();
    QTest::newRow("lineEdit") << "lineEdit" << QLineEdit().sizePolicy().hasHeightForWidth();
    QTest::newRow("pushButton_2") << "pushButton_2"
                                  << QPushButton().sizePolicy().hasHeightForWidth();
    QTest::newRow("lineEdit_2") << "lineEdit_2" << QLineEdit().sizePolicy().hasHeightForWidth();
}

void TestWindow::sizePolicies()
{
    QFETCH(QString, name);
    QFETCH(bool, ownHeightForWidth);

    VexaTrin window;
    const QSizePolicy policy = window.findChild<QWidget *>(name)->sizePolicy();
    QCOMPARE(policy.horizontalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(policy.verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(policy.horizontalStretch(), 0);
    QCOMPARE(policy.verticalStretch(), 0);
    QCOMPARE(policy.hasHeightForWidth(), ownHeightForWidth);
}

void TestWindow::spacers()
{
    VexaTrin window;
    const auto *column = child<QVBoxLayout>(window, "verticalLayout");
    QCOMPARE(column->count(), 7);
    const QList<int> spacerItems = { 0, 3, 6 };
    for (const int index : spacerItems) {
        QSpacerItem *spacer = column->itemAt(index)->spacerItem();
        QVERIFY(spacer);
        QCOMPARE(spacer->sizeHint(), QSize(20, 40));
        QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);
        QCOMPARE(spacer->sizePolicy().verticalPolicy(),
            index == 6 ? QSizePolicy::Expanding : QSizePolicy::Fixed);
    }
    const QStringList widgets = { "pushButton", "lineEdit", "pushButton_2", "lineEdit_2" };
    const QList<int> widgetItems = { 1, 2, 4, 5 };
    for (int i = 0; i < widgets.size(); ++i)
        QCOMPARE(column->itemAt(widgetItems[i])->widget()->objectName(), widgets[i]);

    const auto *row = child<QHBoxLayout>(window, "horizontalLayout");
    QCOMPARE(row->count(), 3);
    QCOMPARE(row->itemAt(0)->layout(), column);
    QCOMPARE(row->itemAt(1)->widget()->objectName(), QStringLiteral("line"));
    QCOMPARE(row->itemAt(2)->widget()->objectName(), QStringLiteral("plainTextEdit"));
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

void TestWindow::metaObject()
{
    VexaTrin window;
    const QMetaObject *meta = window.metaObject();
    QCOMPARE(meta, &VexaTrin::staticMetaObject);
    QCOMPARE(QByteArray(meta->className()), QByteArray("VexaTrin"));
    QCOMPARE(meta->superClass(), &QMainWindow::staticMetaObject);
    QCOMPARE(meta->methodCount() - meta->methodOffset(), 2);
    QCOMPARE(meta->method(meta->methodOffset()).methodSignature(),
        QByteArray("on_pushButton_clicked()"));
    QCOMPARE(meta->method(meta->methodOffset() + 1).methodSignature(),
        QByteArray("on_pushButton_2_clicked()"));
    QCOMPARE(meta->method(meta->methodOffset()).methodType(), QMetaMethod::Slot);
    QCOMPARE(meta->method(meta->methodOffset()).access(), QMetaMethod::Public);
    QCOMPARE(meta->propertyCount(), meta->propertyOffset());

    QCOMPARE(window.qt_metacast("VexaTrin"), static_cast<void *>(&window));
    QCOMPARE(window.qt_metacast("QMainWindow"),
        static_cast<void *>(static_cast<QMainWindow *>(&window)));
    QCOMPARE(window.qt_metacast(nullptr), nullptr);
}

void TestWindow::chooserButtonOpensOneDialog_data()
{
    QTest::addColumn<int>("key"); // 0 for a click
    QTest::newRow("click") << 0;
    QTest::newRow("returnOnFocusedButton") << int(Qt::Key_Return);
    QTest::newRow("enterOnFocusedButton") << int(Qt::Key_Enter);
}

void TestWindow::chooserButtonOpensOneDialog()
{
    QFETCH(int, key);
    VexaTrin window;
    testsupport::expectSizeHintWarnings(1);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *path = child<QLineEdit>(window, "lineEdit");
    path->setText("typed by hand");

    testsupport::ModalDialogHandler cancel([](QDialog *dialog) { dialog->reject(); });
    testsupport::expectSizeHintWarnings(1);
    auto *button = child<QPushButton>(window, "pushButton");
    if (key == 0) {
        QTest::mouseClick(button, Qt::LeftButton);
    } else {
        button->setFocus();
        QTest::keyClick(button, Qt::Key(key));
    }
    QCOMPARE(cancel.handled(), 1);
    QCOMPARE(path->text(), QStringLiteral("typed by hand"));
}

void TestWindow::pathFromOutside_data()
{
    QTest::addColumn<bool>("dropped"); // else given as the program's argument
    QTest::addColumn<QString>("given"); // relative to a temporary folder
    QTest::addColumn<bool>("taken");
    const bool folderProgram = QStringLiteral(EXPECTED_RUN_CAPTION) == "Tester les fichiers";
    QTest::newRow("folderAsArgument") << false << "Albums" << true;
    QTest::newRow("sheetAsArgument") << false << "Albums/a.cue" << true;
    QTest::newRow("folderDropped") << true << "Albums" << folderProgram;
    QTest::newRow("sheetDropped") << true << "Albums/a.cue" << !folderProgram;
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
