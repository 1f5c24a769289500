#include "engine/sheetbatch.h"

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

// The folders that the items waiting in a batch hold open, each counted once: a folder the
// walk has left stays open until its last item is reported.
class HeldFolders
{
public:
    void add(const WalkItem &item)
    {
        if (const auto *sheet = std::get_if<SheetEntry>(&item); sheet && sheet->folder)
            ++counts[sheet->folder.get()];
    }
    void remove(const WalkItem &item)
    {
        const auto *sheet = std::get_if<SheetEntry>(&item);
        const auto found = sheet ? counts.find(sheet->folder.get()) : counts.end();
        if (found != counts.end() && --*found == 0)
            counts.erase(found);
    }
    int size() const { return int(counts.size()); }

private:
    QHash<const Folder *, int> counts;
};

} // namespace

SheetBatch::SheetBatch(
    int workers, const PruneOptions &options, const DescriptorBudget &descriptors)
    : SheetBatch(
        workers, options.mode,
        [options](const SheetEntry &sheet, ByteBudget &budget) {
            return processCueFile(sheet, {}, options, &budget);
        },
        descriptors)
{
}

SheetBatch::SheetBatch(int workers, WriteMode mode, Work work, const DescriptorBudget &descriptors)
    : workers(descriptors.workers(workers))
    , mode(mode)
    , work(std::move(work))
    , descriptors(descriptors)
{
}

int SheetBatch::defaultWorkers(WriteMode mode)
{
    // Set, with the reasons for them, in the top CMakeLists.txt.
    return mode == WriteMode::DryRun ? CUEPRUNE_DEFAULT_READERS : CUEPRUNE_DEFAULT_WORKERS;
}

namespace {

// An item taken from the source, and what became of it.
struct Slot
{
    WalkItem item;
    std::optional<CueOutcome> outcome; // a sheet's, once worked on
    bool done = false; // a notice is done as soon as it is taken
};

// The items taken from the source and not yet reported, in the source's order; BatchRun's
// `started` counts those at its front that went to workers. Its rules:
// - only the reporting thread adds and removes slots, at the two ends of a std::deque, which
//   never moves the elements it keeps: so a worker may keep a pointer to its slot;
// - a worker writes its slot's outcome and done, under the batch's mutex, and nothing else;
// - a slot leaves only from the front, once done: no slot a worker points to goes away.
class InOrderQueue
{
public:
    bool empty() const { return items.empty(); }
    std::size_t size() const { return items.size(); }
    Slot &operator[](std::size_t index) { return items[index]; }
    bool isFront(const Slot *slot) const { return slot == &items.front(); }
    bool frontDone() const { return items.front().done; }

    void push(WalkItem item)
    {
        const bool notice = !std::holds_alternative<SheetEntry>(item);
        items.push_back({ std::move(item), std::nullopt, notice });
    }
    Slot takeFront()
    {
        Slot front = std::move(items.front());
        items.pop_front();
        return front;
    }
    // Forgets the items from index on, none of them started; each goes to forgotten first.
    template <typename Forget> void dropFrom(std::size_t index, Forget forgotten)
    {
        std::for_each(items.begin() + std::ptrdiff_t(index), items.end(), forgotten);
        items.resize(index);
    }

private:
    std::deque<Slot> items;
};

// One run of a batch: its state, shared by the reporting thread and the workers under mutex.
class BatchRun
{
public:
    BatchRun(const SheetBatch::Source &next, const SheetBatch::Report &report,
        const SheetBatch::DescriptorsHeld &heldBySource, int workers, WriteMode mode,
        const SheetBatch::Work &sheetWork, const DescriptorBudget &descriptors)
        : next(next)
        , report(report)
        , heldBySource(heldBySource)
        , workers(workers)
        , descriptors(descriptors)
        , sheetWork(sheetWork)
        // Sheets that are only read are handed to workers in chunks, which costs a fraction of
        // the hand-offs; rewrites go one a task, so that their flushes overlap.
        , chunk(mode == WriteMode::DryRun ? 16 : 1)
        , ahead(4 * std::size_t(workers) * chunk)
        , pool(workers)
    {
    }
    void run(const SheetBatch::StopRequested &stop);

private:
    bool roomForAnother() const;
    void dropUnstarted();
    void pull(std::unique_lock<std::mutex> &lock);
    // Starts the chunks that are ready; false when the next must wait for a file under way.
    bool startChunk();
    void work(const std::vector<Slot *> &taken);
    void reportFront(std::unique_lock<std::mutex> &lock);

    const SheetBatch::Source &next;
    const SheetBatch::Report &report;
    const SheetBatch::DescriptorsHeld &heldBySource;
    const int workers;
    const DescriptorBudget &descriptors;
    const SheetBatch::Work &sheetWork;
    const std::size_t chunk;
    const std::size_t ahead;
    ByteBudget budget { 2 * maxSheetSize };
    std::mutex mutex;
    std::condition_variable frontDone;
    InOrderQueue window; // from the next item to report
    HeldFolders heldFolders;
    std::size_t started = 0; // the slots at the front of the window that are started
    QSet<FileKey> busy; // the files being worked on
    bool sourceDone = false;
    // Declared last, so that it is destroyed first: its tasks use everything above.
    WorkerThreads pool;
};

// An item waits while there is no room for its folder: every descriptor the run holds counts,
// the source's folders, the window's and the workers' sheets.
bool BatchRun::roomForAnother() const
{
    return window.empty()
        || descriptors.roomForAnother(
            workers, (heldBySource ? heldBySource() : 0) + heldFolders.size());
}

// On a stop, the items not started are forgotten; those under way are still reported.
void BatchRun::dropUnstarted()
{
    sourceDone = true;
    window.dropFrom(started, [&](const Slot &slot) { heldFolders.remove(slot.item); });
}

// Takes items from the source, with the lock released while the source works.
void BatchRun::pull(std::unique_lock<std::mutex> &lock)
{
    while (!sourceDone && window.size() < ahead && roomForAnother()) {
        WalkItem item;
        lock.unlock();
        const bool more = next(item);
        lock.lock();
        if (!more) {
            sourceDone = true;
        } else {
            heldFolders.add(item);
            window.push(std::move(item));
        }
    }
}

bool BatchRun::startChunk()
{
    std::vector<Slot *> taken;
    for (; started < window.size() && taken.size() < chunk; ++started) {
        Slot &slot = window[started];
        const auto *sheet = std::get_if<SheetEntry>(&slot.item);
        if (!sheet)
            continue;
        // Two names of one file wait for each other.
        if (busy.contains(sheet->key))
            break;
        busy.insert(sheet->key);
        taken.push_back(&slot);
    }
    if (taken.empty())
        return false;
    if (!pool.start([this, taken] { work(taken); })) {
        for (Slot *slot : taken) {
            busy.remove(std::get<SheetEntry>(slot->item).key);
            slot->outcome = CueOutcome { CueResult::Failed,
                Failure { Failure::Reason::SystemError, EAGAIN }, {}, {}, {}, {} };
            slot->done = true;
        }
    }
    return true;
}

void BatchRun::work(const std::vector<Slot *> &taken)
{
    for (Slot *slot : taken) {
        const SheetEntry &sheet = std::get<SheetEntry>(slot->item);
        const CueOutcome outcome = sheetWork(sheet, budget);
        const std::lock_guard<std::mutex> done(mutex);
        slot->outcome = outcome;
        slot->done = true;
        busy.remove(sheet.key);
        // Only the next item in order lets the reporting thread go on.
        if (window.isFront(slot))
            frontDone.notify_one();
    }
}

// Reports the next item once it is done, with the lock released while the report works.
void BatchRun::reportFront(std::unique_lock<std::mutex> &lock)
{
    if (!window.frontDone()) {
        frontDone.wait(lock);
        return;
    }
    const Slot reported = window.takeFront();
    heldFolders.remove(reported.item);
    --started;
    lock.unlock();
    report(reported.item, reported.outcome ? &*reported.outcome : nullptr);
    lock.lock();
}

void BatchRun::run(const SheetBatch::StopRequested &stop)
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        if (!sourceDone && stop && stop())
            dropUnstarted();
        pull(lock);
        // A chunk starts once it is full, at the end, or when nothing before it is under way.
        while (started < window.size()
            && (window.size() - started >= chunk || sourceDone || started == 0)) {
            if (!startChunk())
                break;
        }
        if (window.empty() && sourceDone)
            return;
        if (!window.empty())
            reportFront(lock);
    }
}

} // namespace

void SheetBatch::run(const Source &next, const Report &report, const StopRequested &stop,
    const DescriptorsHeld &heldBySource)
{
    BatchRun(next, report, heldBySource, workers, mode, work, descriptors).run(stop);
}

SheetBatch::Source inTurn(const FolderListing &listing)
{
    return [&listing, index = qsizetype(0)](WalkItem &item) mutable {
        const qsizetype notices = listing.notices.size();
        if (index == notices + listing.sheets.size())
            return false;
        item = index < notices ? listing.notices[index]
                               : WalkItem { listing.sheets[index - notices] };
        ++index;
        return true;
    };
}

} // namespace cueprune
