#include "engine/sheetbatch.h"

#include "files/sheetfile.h"

#include <QMutex>
#include <QSet>
#include <QThreadPool>
#include <QWaitCondition>

#include <deque>

namespace cueprune {

SheetBatch::SheetBatch(int workers, WriteMode mode)
    : workers(qMax(1, workers))
    , mode(mode)
{
}

int SheetBatch::defaultWorkers()
{
    return CUEPRUNE_DEFAULT_WORKERS; // set, with the reason for it, in the top CMakeLists.txt
}

void SheetBatch::run(const Source &next, const Report &report, const StopRequested &stop)
{
    struct Slot
    {
        WalkItem item;
        bool started = false;
        std::optional<CueOutcome> outcome;
    };
    ByteBudget budget(2 * maxSheetSize);
    QMutex mutex;
    QWaitCondition finished;
    std::deque<Slot> window; // from the next item to report; the started ones come first
    QSet<FileKey> busy; // the files being worked on
    const std::size_t ahead = 4 * std::size_t(workers);
    bool sourceDone = false;
    // Declared last, so that it is destroyed first: its tasks use everything above.
    QThreadPool pool;
    pool.setMaxThreadCount(workers);

    QMutexLocker lock(&mutex);
    for (;;) {
        if (!sourceDone && stop && stop()) {
            sourceDone = true;
            while (!window.empty() && !window.back().started)
                window.pop_back();
        }
        while (!sourceDone && window.size() < ahead) {
            WalkItem item;
            lock.unlock();
            const bool more = next(item);
            lock.relock();
            if (!more)
                sourceDone = true;
            else
                window.push_back({ std::move(item), false, std::nullopt });
        }
        for (Slot &slot : window) {
            if (slot.started)
                continue;
            if (slot.item.unreachable) {
                slot.outcome = CueOutcome { CueResult::Failed, slot.item.unreachable };
            } else {
                if (busy.contains(slot.item.sheet.key))
                    break;
                busy.insert(slot.item.sheet.key);
                pool.start([&, target = &slot] {
                    const CueOutcome outcome
                        = processCueFile(target->item.sheet, {}, mode, &budget);
                    const QMutexLocker done(&mutex);
                    target->outcome = outcome;
                    busy.remove(target->item.sheet.key);
                    finished.wakeOne();
                });
            }
            slot.started = true;
        }
        if (window.empty() && sourceDone)
            break;
        if (!window.empty() && window.front().outcome) {
            const Slot reported = std::move(window.front());
            window.pop_front();
            lock.unlock();
            report(reported.item, *reported.outcome);
            lock.relock();
        } else if (!window.empty()) {
            finished.wait(&mutex);
        }
    }
    lock.unlock();
    pool.waitForDone();
}

SheetBatch::Source sheetsInTurn(const QList<SheetEntry> &sheets)
{
    return [&sheets, index = qsizetype(0)](WalkItem &item) mutable {
        if (index == sheets.size())
            return false;
        item = { sheets[index++], std::nullopt };
        return true;
    };
}

} // namespace cueprune
