// The batch's rules without a disk: order of the reports, one name of a file at a time, and
// a stop that lets the sheets under way finish.
#include "engine/sheetbatch.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTest>

#include <mutex>
#include <thread>

using cueprune::CueOutcome;
using cueprune::CueResult;
using cueprune::SheetBatch;
using cueprune::SheetEntry;
using cueprune::WalkItem;
using cueprune::WriteMode;

namespace {

// Item i of a source of count: every tenth a notice, the others sheets whose file is shared by
// four items in a row (four names of one file).
WalkItem itemAt(int i)
{
    const QByteArray shown = QByteArray::number(i);
    if (i % 10 == 9)
        return cueprune::UnreachablePath { shown, { cueprune::Failure::Reason::Missing, 0 } };
    return SheetEntry { {}, shown, { 1, quint64(i / 4) }, shown };
}

// Work that takes a little time, notes what it started, and fails the test's rule when two
// names of one file are worked on at once.
class FakeWork
{
public:
    CueOutcome operator()(const SheetEntry &sheet)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            started.insert(sheet.shownPath.toInt());
            overlapped = overlapped || busy.contains(sheet.key.inode);
            busy.insert(sheet.key.inode);
        }
        std::this_thread::sleep_for(
            std::chrono::microseconds(QRandomGenerator::global()->bounded(300)));
        const std::lock_guard<std::mutex> lock(mutex);
        busy.remove(sheet.key.inode);
        return { CueResult::Pruned, {}, { sheet.shownPath.toInt() }, {}, {}, {} };
    }

    std::mutex mutex;
    QSet<quint64> busy;
    QSet<int> started;
    bool overlapped = false;
};

} // namespace

class TestSheetBatch : public QObject
{
    Q_OBJECT

private slots:
    void reportsInOrder_data();
    void reportsInOrder();
};

void TestSheetBatch::reportsInOrder_data()
{
    QTest::addColumn<int>("workers");
    QTest::addColumn<WriteMode>("mode");
    QTest::addColumn<int>("stopAfter"); // reports; 0 for none
    QTest::newRow("oneWorker") << 1 << WriteMode::Rewrite << 0;
    QTest::newRow("rewrites") << 8 << WriteMode::Rewrite << 0;
    QTest::newRow("dryRunChunks") << 4 << WriteMode::DryRun << 0;
    QTest::newRow("stopped") << 8 << WriteMode::Rewrite << 30;
    QTest::newRow("stoppedDryRun") << 4 << WriteMode::DryRun << 30;
}

// Whatever the finishing order, items are reported as the source gave them, notices without
// an outcome; two names of one file never overlap; after a stop no new sheet starts and every
// sheet started is reported.
void TestSheetBatch::reportsInOrder()
{
    QFETCH(int, workers);
    QFETCH(WriteMode, mode);
    QFETCH(int, stopAfter);
    constexpr int count = 400;
    FakeWork work;
    int taken = 0;
    QList<int> reported;
    bool outcomesRight = true;
    SheetBatch(workers, mode,
        [&work](const SheetEntry &sheet, cueprune::ByteBudget &) { return work(sheet); })
        .run(
            [&](WalkItem &item) {
                if (taken == count)
                    return false;
                item = itemAt(taken++);
                return true;
            },
            [&](const WalkItem &item, const CueOutcome *outcome) {
                const int index = cueprune::shownPath(item).toInt();
                const bool sheet = std::holds_alternative<SheetEntry>(item);
                outcomesRight = outcomesRight && (outcome != nullptr) == sheet
                    && (!outcome || outcome->droppedLines == QList<qsizetype> { index });
                reported.append(index);
            },
            [&] { return stopAfter > 0 && reported.size() >= stopAfter; });

    QVERIFY(outcomesRight);
    QVERIFY(!work.overlapped);
    for (qsizetype i = 0; i < reported.size(); ++i)
        QCOMPARE(reported[i], int(i));
    if (stopAfter == 0) {
        QCOMPARE(reported.size(), count);
    } else {
        QVERIFY2(reported.size() < count, qPrintable(QString::number(reported.size())));
        for (const int started : std::as_const(work.started))
            QVERIFY(started < reported.size());
    }
}

QTEST_GUILESS_MAIN(TestSheetBatch)
#include "tst_sheetbatch.moc"
