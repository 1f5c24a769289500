#include "engine/sheetbatch.h"

#include "files/processedges.h"
#include "files/sheetfile.h"
#include "files/workerthreads.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace cueprune {

namespace {

// A sheet under way holds up to three descriptors at once (the entry or the sheet, its new
// text, and a listing of its folder or a backup's copy); the walk opens up to two more of its
// own for an instant (a subfolder, a leftover), beyond the folders it holds.
constexpr int descriptorsPerSheet = 3;
constexpr int descriptorsOfTheWalk = 2;
constexpr int descriptorsKeptFree = 16;

// The workers that the descriptors left leave room for, so that a low limit slows a run
// rather than failing its sheets.
int workersWithinDescriptorLimit(int workers)
{
    return qBound(
        1, (descriptorsFree() - descriptorsKeptFree) / descriptorsPerSheet, qMax(1, workers));
}

// The folders that the items waiting in a batch hold open, each counted once: a folder the
// walk has left stays open until its last item is reported.
class HeldFolders
{
public:
    void add(const WalkItem &item)
    {
        if (item.sheet.folder)
            ++counts[item.sheet.folder.get()];
    }
    void remove(const WalkItem &item)
    {
        const auto found = counts.find(item.sheet.folder.get());
        if (found != counts.end() && --*found == 0)
            counts.erase(found);
    }
    int size() const { return int(counts.size()); }

private:
    QHash<const Folder *, int> counts;
};

} // namespace

SheetBatch::SheetBatch(int workers, const PruneOptions &options)
    : workers(workersWithinDescriptorLimit(workers))
    , options(options)
{
}

int SheetBatch::defaultWorkers(WriteMode mode)
{
    // Set, with the reasons for them, in the top CMakeLists.txt.
    return mode == WriteMode::DryRun ? CUEPRUNE_DEFAULT_READERS : CUEPRUNE_DEFAULT_WORKERS;
}

void SheetBatch::run(const Source &next, const Report &report, const StopRequested &stop,
    const DescriptorsHeld &heldBySource)
{
    struct Slot
    {
        WalkItem item;
        std::optional<CueOutcome> outcome;
    };
    // Sheets that are only read are handed to workers in chunks, which costs a fraction of the
    // hand-offs; rewrites go one a task, so that their flushes overlap.
    const std::size_t chunk = options.mode == WriteMode::DryRun ? 16 : 1;
    const std::size_t ahead = 4 * std::size_t(workers) * chunk;
    ByteBudget budget(2 * maxSheetSize);
    std::mutex mutex;
    std::condition_variable frontDone;
    std::deque<Slot> window; // from the next item to report
    // Every descriptor the run holds counts against what was free when it began: the source's
    // folders, the window's, the workers' sheets. An item waits while there is no room for it.
    const int descriptorsAtStart = descriptorsFree();
    HeldFolders heldFolders;
    const auto roomForAnother = [&] {
        const int held = (heldBySource ? heldBySource() : 0) + heldFolders.size()
            + workers * descriptorsPerSheet + descriptorsOfTheWalk;
        return window.empty() || held < descriptorsAtStart;
    };
    std::size_t started = 0; // the slots at the front of the window that are started
    QSet<FileKey> busy; // the files being worked on
    bool sourceDone = false;
    // Declared last, so that it is destroyed first: its tasks use everything above.
    WorkerThreads pool(workers);

    const auto work = [&](const std::vector<Slot *> &taken) {
        for (Slot *slot : taken) {
            const CueOutcome outcome = processCueFile(slot->item.sheet, {}, options, &budget);
            const std::lock_guard<std::mutex> done(mutex);
            slot->outcome = outcome;
            busy.remove(slot->item.sheet.key);
            // Only the next item in order lets the reporting thread go on.
            if (slot == &window.front())
                frontDone.notify_one();
        }
    };

    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        if (!sourceDone && stop && stop()) {
            sourceDone = true;
            std::for_each(window.begin() + std::ptrdiff_t(started), window.end(),
                [&](const Slot &slot) { heldFolders.remove(slot.item); });
            window.resize(started);
        }
        while (!sourceDone && window.size() < ahead && roomForAnother()) {
            WalkItem item;
            lock.unlock();
            const bool more = next(item);
            lock.lock();
            if (!more)
                sourceDone = true;
            else {
                heldFolders.add(item);
                window.push_back({ std::move(item), std::nullopt });
            }
        }
        // A chunk starts once it is full, at the end, or when nothing before it is under way.
        while (started < window.size()
            && (window.size() - started >= chunk || sourceDone || started == 0)) {
            std::vector<Slot *> taken;
            for (; started < window.size() && taken.size() < chunk; ++started) {
                Slot &slot = window[started];
                if (!slot.item.isSheet()) {
                    slot.outcome
                        = CueOutcome { CueResult::Failed, slot.item.unreachable, {}, {}, {}, {} };
                    continue;
                }
                // Two names of one file wait for each other.
                if (busy.contains(slot.item.sheet.key))
                    break;
                busy.insert(slot.item.sheet.key);
                taken.push_back(&slot);
            }
            if (taken.empty())
                break;
            if (!pool.start([&work, taken] { work(taken); })) {
                for (Slot *slot : taken) {
                    busy.remove(slot->item.sheet.key);
                    slot->outcome = CueOutcome { CueResult::Failed,
                        Failure { Failure::Reason::SystemError, EAGAIN }, {}, {}, {}, {} };
                }
            }
        }
        if (window.empty() && sourceDone)
            break;
        if (!window.empty() && window.front().outcome) {
            const Slot reported = std::move(window.front());
            window.pop_front();
            heldFolders.remove(reported.item);
            --started;
            lock.unlock();
            report(reported.item, *reported.outcome);
            lock.lock();
        } else if (!window.empty()) {
            frontDone.wait(lock);
        }
    }
}

SheetBatch::Source inTurn(const FolderListing &listing)
{
    return [&listing, index = qsizetype(0)](WalkItem &item) mutable {
        const qsizetype notices = listing.notices.size();
        if (index == notices + listing.sheets.size())
            return false;
        item = index < notices ? listing.notices[index]
                               : WalkItem { listing.sheets[index - notices], std::nullopt };
        ++index;
        return true;
    };
}

} // namespace cueprune
