// The batch's rules without a disk: order of the reports, one name of a file at a time, a
// stop that lets the sheets under way finish, and a way back written before each rename.
#include "engine/sheetbatch.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTest>

#include <mutex>
#include <thread>

using namespace cueprune;

namespace {

// Items 0 to count - 1: every tenth a notice, the others sheets whose file is shared by four
// items in a row (four names of one file).
SheetBatch::Source itemsUpTo(int count)
{
    return [count, i = 0](WalkItem &item) mutable {
        const QByteArray shown = QByteArray::number(i);
        if (i % 10 == 9)
            item = UnreachablePath { shown, { Failure::Reason::Missing, 0 } };
        else
            item = SheetEntry { {}, shown, { 1, quint64(i / 4) }, shown };
        return i++ < count;
    };
}

// Work that takes a little time, notes what it started, and fails the test's rule when two
// names of one file are worked on at once, or when a sheet is "renamed" before its way back is
// durable. Every seventh sheet's rename fails. Its way back notes what was recorded, flushed
// and synced, and can refuse its flushes.
class FakeWork
{
public:
    CueOutcome operator()(const SheetEntry &sheet, ByteBudget &, const WayBackGate &gate)
    {
        const int index = sheet.shownPath.toInt();
        const CueOutcome outcome = CueOutcome::prunedAt({ index });
        {
            const std::lock_guard<std::mutex> lock(mutex);
            started.insert(index);
            overlapped = overlapped || busy.contains(sheet.key.inode);
            busy.insert(sheet.key.inode);
        }
        std::this_thread::sleep_for(
            std::chrono::microseconds(QRandomGenerator::global()->bounded(300)));
        if (gate.announce)
            gate.announce(outcome);
        std::this_thread::sleep_for(
            std::chrono::microseconds(QRandomGenerator::global()->bounded(100)));
        const auto refused = gate.ready ? gate.ready() : std::nullopt;
        const std::lock_guard<std::mutex> lock(mutex);
        busy.remove(sheet.key.inode);
        if (refused || (gate.ready && index % 7 == 0))
            return CueOutcome::failedWith(refused.value_or(Failure {}));
        const qsizetype recordedAt = recorded.indexOf(index);
        renamedTooSoon
            = renamedTooSoon || (gate.ready && !(recordedAt >= 0 && recordedAt < synced));
        return outcome;
    }

    SheetBatch::WayBack wayBack()
    {
        return { [this](const WalkItem &item, const CueOutcome *) {
                    const std::lock_guard<std::mutex> lock(mutex);
                    recorded.append(shownPath(item).toInt());
                },
            [this] {
                const std::lock_guard<std::mutex> lock(mutex);
                flushed = recorded.size();
                return !refuse;
            },
            [this] {
                const std::lock_guard<std::mutex> lock(mutex);
                synced = flushed;
                return true;
            } };
    }

    std::mutex mutex;
    QSet<quint64> busy;
    QSet<int> started;
    bool overlapped = false;
    bool renamedTooSoon = false;
    QList<int> recorded; // the items, in the order recorded; a sheet again when it failed
    qsizetype flushed = 0; // of recorded
    qsizetype synced = 0;
    bool refuse = false;
};

} // namespace

class TestSheetBatch : public QObject
{
    Q_OBJECT

private slots:
    void reportsInOrderWayBackFirst_data();
    void reportsInOrderWayBackFirst();
};

void TestSheetBatch::reportsInOrderWayBackFirst_data()
{
    QTest::addColumn<int>("workers");
    QTest::addColumn<WriteMode>("mode");
    QTest::addColumn<int>("stopAfter"); // reports; 0 for none
    QTest::addColumn<QString>("wayBack"); // none, "durable", or "refused" (its flushes)
    QTest::newRow("oneWorker") << 1 << WriteMode::Rewrite << 0 << "";
    QTest::newRow("rewrites") << 8 << WriteMode::Rewrite << 0 << "";
    QTest::newRow("dryRunChunks") << 4 << WriteMode::DryRun << 0 << "";
    QTest::newRow("stopped") << 8 << WriteMode::Rewrite << 30 << "";
    QTest::newRow("stoppedDryRun") << 4 << WriteMode::DryRun << 30 << "";
    QTest::newRow("wayBackOneWorker") << 1 << WriteMode::Rewrite << 0 << "durable";
    QTest::newRow("wayBackSixteenWorkers") << 16 << WriteMode::Rewrite << 0 << "durable";
    QTest::newRow("flushRefused") << 8 << WriteMode::Rewrite << 0 << "refused";
}

// Whatever the finishing order, items are reported as the source gave them, notices without
// an outcome; two names of one file never overlap; after a stop no new sheet starts and every
// sheet started is reported. With a way back, each item is recorded once in the source's
// order, a sheet before its rename and only once its record is durable; a sheet whose rename
// failed is recorded again; a refused flush fails the sheets planned, which are never renamed.
void TestSheetBatch::reportsInOrderWayBackFirst()
{
    QFETCH(int, workers);
    QFETCH(WriteMode, mode);
    QFETCH(int, stopAfter);
    QFETCH(QString, wayBack);
    constexpr int count = 300;
    FakeWork work;
    work.refuse = wayBack == "refused";
    QList<int> reported;
    bool outcomesRight = true;
    int failed = 0;
    SheetBatch(workers, mode, std::ref(work))
        .run(
            itemsUpTo(count),
            [&](const WalkItem &item, const CueOutcome *outcome) {
                const int index = shownPath(item).toInt();
                const bool sheet = std::holds_alternative<SheetEntry>(item);
                failed += outcome && outcome->result == CueResult::Failed;
                outcomesRight = outcomesRight && (outcome != nullptr) == sheet
                    && (!outcome || outcome->result == CueResult::Failed
                        || outcome->droppedLines == QList<qsizetype> { index });
                reported.append(index);
            },
            [&] { return stopAfter > 0 && reported.size() >= stopAfter; }, {},
            wayBack.isEmpty() ? SheetBatch::WayBack() : work.wayBack());

    QVERIFY(outcomesRight);
    QVERIFY(!work.overlapped);
    QVERIFY(!work.renamedTooSoon);
    for (qsizetype i = 0; i < reported.size(); ++i)
        QCOMPARE(reported[i], int(i));
    QCOMPARE(reported.size() < count, stopAfter > 0);
    for (const int started : std::as_const(work.started))
        QVERIFY(started < reported.size());
    if (wayBack.isEmpty())
        return;
    // Each item first in the source's order; a sheet again once its outcome is known, when it
    // is not the one planned.
    QList<int> firsts;
    QList<int> again;
    for (const int i : std::as_const(work.recorded))
        (firsts.contains(i) ? again : firsts).append(i);
    for (int i = 0; i < count; ++i) {
        QCOMPARE(firsts.value(i, -1), i);
        QCOMPARE(again.count(i), qsizetype(i % 10 != 9 && (wayBack == "refused" || i % 7 == 0)));
    }
    QCOMPARE(failed, again.size());
}

QTEST_GUILESS_MAIN(TestSheetBatch)
#include "tst_sheetbatch.moc"
