#include "core/codepage.h"
#include "core/displaytext.h"

#include <QStringEncoder>
#include <QTest>

using namespace cueprune;

namespace {

// A sheet as a Windows ripper writes it, with the performer and titles given.
QString sheetOf(const QString &performer, const QStringList &titles)
{
    QString sheet = QString("PERFORMER \"%1\"\r\nFILE \"CDImage.wav\" WAVE\r\n").arg(performer);
    for (qsizetype i = 0; i < titles.size(); ++i)
        sheet += QString("  TRACK %1 AUDIO\r\n    TITLE \"%2\"\r\n    INDEX 01 0%1:00:00\r\n")
                     .arg(QString::number(i + 1), titles[i]);
    return sheet;
}

} // namespace

class TestCodePage : public QObject
{
    Q_OBJECT

private slots:
    void choosesTheSheetsCodePage_data();
    void choosesTheSheetsCodePage();
};

void TestCodePage::choosesTheSheetsCodePage_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("codePage"); // the sheet's, as written
    QTest::addColumn<QByteArray>("locale"); // the system's: a matching one, then none
    const auto sheets = [](const char *tag, const QString &text, const QByteArray &codePage,
                            const QByteArray &locale) {
        for (const QByteArray &given : { locale, QByteArray("C.UTF-8") })
            QTest::addRow("%s-%s", tag, given.constData()) << text << codePage << given;
    };
    sheets("gbkWithKana", sheetOf("初音ミク", { "「勇者」", "千本桜" }), "GB18030", "zh_CN.UTF-8");
    sheets("shiftJis", sheetOf("初音ミク", { "千本桜", "メルト", "夜に駆ける" }), "windows-31j",
        "ja_JP.UTF-8");
    sheets("big5", sheetOf("鄧麗君", { "月亮代表我的心", "甜蜜蜜", "小城故事" }), "Big5",
        "zh_TW.UTF-8");
    sheets("cp949", sheetOf("아이유", { "좋은 날", "너의 의미", "밤편지" }), "windows-949",
        "ko_KR.UTF-8");
    sheets("cp1251", sheetOf("Кино", { "Группа крови", "Звезда по имени Солнце" }), "windows-1251",
        "ru_RU.UTF-8");
    sheets("french1252", sheetOf("Édith Piaf", { "La vie en rose", "Noël à Montréal" }),
        "windows-1252", "fr_FR.UTF-8");
}

// The preview shows the text as written, with the locale as a hint or without one.
void TestCodePage::choosesTheSheetsCodePage()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, codePage);
    QFETCH(QByteArray, locale);
    QStringEncoder encode(codePage.constData());
    QVERIFY2(encode.isValid(), "Qt decodes this code page (ICU)");
    const QByteArray sheet = encode(text);
    QVERIFY(!encode.hasError());

    const auto choice = chooseCodePage(sheet, codePageOfLocale(locale));
    QCOMPARE(choice.chosen, codePage);
    QCOMPARE(choice.plausible.first(), codePage);
    QCOMPARE(decodeSheet(sheet, choice.chosen), QString(text).remove('\r').chopped(1));
}

QTEST_GUILESS_MAIN(TestCodePage)
#include "tst_codepage.moc"
