#include "engine/sheetbatch.h"

#include "engine/durablelog.h"
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

SheetBatch::SheetBatch(
    int workers, const PruneOptions &options, const DescriptorBudget &descriptors)
    : SheetBatch(
        workers, options.mode,
        [options](const SheetEntry &sheet, ByteBudget &budget, const WayBackGate &gate) {
            return processCueFile(sheet, {}, options, &budget, gate);
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

int SheetBatch::defaultWorkers(WriteMode mode, bool wayBackRecorded)
{
    // Set, with the reasons for them, in the top CMakeLists.txt.
    if (mode == WriteMode::DryRun)
        return CUEPRUNE_DEFAULT_READERS;
    return wayBackRecorded ? CUEPRUNE_DEFAULT_RECORDING_WORKERS : CUEPRUNE_DEFAULT_WORKERS;
}

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

// Where a sheet stands with the way back, before its rename.
enum class Gate {
    None, // not at the gate (yet), or no way back asked for
    Waiting, // planned outcome announced, to be recorded
    Flushed, // recorded and flushed: its worker makes it durable, then renames
    Shut, // the flush failed: the sheet is left as it was
};

// An item taken from the source, and what became of it.
struct Slot
{
    WalkItem item;
    std::optional<CueOutcome> outcome; // a sheet's, once worked on
    std::optional<CueOutcome> planned; // a sheet's at the gate, as it will be once renamed
    Gate gate = Gate::None;
    quint64 flush = 0; // the number of the flush that sent out its record
    bool done = false; // a notice is done as soon as it is taken
};

// The items taken from the source and not yet reported, in the source's order; BatchRun's
// `started` counts those at its front that went to workers, `recorded` those whose way back
// is recorded. Its rules:
// - only the reporting thread adds and removes slots, at the two ends of a std::deque, which
//   never moves the elements it keeps: so a worker may keep a pointer to its slot;
// - a worker writes its slot's outcome, planned, gate (to Waiting) and done, under the
//   batch's mutex, and nothing else, each once; the reporting thread sets gate from then on;
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
        items.push_back({ std::move(item), std::nullopt, std::nullopt, Gate::None, 0, notice });
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
        const SheetBatch::Work &sheetWork, const DescriptorBudget &descriptors,
        const SheetBatch::WayBack &wayBack)
        : next(next)
        , report(report)
        , heldBySource(heldBySource)
        , workers(workers)
        , descriptors(descriptors)
        , sheetWork(sheetWork)
        , wayBack(wayBack)
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
    void announce(Slot *slot, const CueOutcome &planned);
    std::optional<Failure> waitAtGate(Slot *slot);
    void recordReady(std::unique_lock<std::mutex> &lock);
    void reportFront(std::unique_lock<std::mutex> &lock);

    const SheetBatch::Source &next;
    const SheetBatch::Report &report;
    const SheetBatch::DescriptorsHeld &heldBySource;
    const int workers;
    const DescriptorBudget &descriptors;
    const SheetBatch::Work &sheetWork;
    const SheetBatch::WayBack &wayBack;
    const std::size_t chunk;
    const std::size_t ahead;
    ByteBudget budget { 2 * maxSheetSize };
    std::mutex mutex;
    std::condition_variable frontDone; // or a sheet at the gate
    std::condition_variable gateMoved;
    InOrderQueue window; // from the next item to report
    HeldFolders heldFolders;
    std::size_t started = 0; // the slots at the front of the window that are started
    std::size_t recorded = 0; // the slots at the front of the window that are recorded
    std::optional<DurableLog> durable; // the way back's, when it is synced
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
            slot->outcome = CueOutcome::failedWith({ Failure::Reason::SystemError, EAGAIN });
            slot->done = true;
        }
    }
    return true;
}

void BatchRun::work(const std::vector<Slot *> &taken)
{
    for (Slot *slot : taken) {
        const SheetEntry &sheet = std::get<SheetEntry>(slot->item);
        WayBackGate gate;
        if (wayBack.record) {
            gate.announce = [this, slot](const CueOutcome &planned) { announce(slot, planned); };
            gate.ready = [this, slot] { return waitAtGate(slot); };
        }
        const CueOutcome outcome = sheetWork(sheet, budget, gate);
        const std::lock_guard<std::mutex> done(mutex);
        slot->outcome = outcome;
        slot->done = true;
        busy.remove(sheet.key);
        // Only the next item in order lets the reporting thread go on.
        if (window.isFront(slot))
            frontDone.notify_one();
    }
}

// On a worker: hands the sheet's planned outcome over to be recorded, while the worker goes on.
void BatchRun::announce(Slot *slot, const CueOutcome &planned)
{
    const std::lock_guard<std::mutex> lock(mutex);
    slot->planned = planned;
    slot->gate = Gate::Waiting;
    frontDone.notify_one();
}

// On a worker, just before the rename: waits until the sheet's way back is recorded and
// flushed, then until it is durable.
std::optional<Failure> BatchRun::waitAtGate(Slot *slot)
{
    std::unique_lock<std::mutex> lock(mutex);
    gateMoved.wait(lock, [slot] { return slot->gate != Gate::Waiting; });
    const bool flushed = slot->gate == Gate::Flushed;
    const quint64 flush = slot->flush;
    lock.unlock();
    if (flushed && (!durable || durable->waitDurable(flush)))
        return std::nullopt;
    return Failure { Failure::Reason::WayBackNotWritten, 0 };
}

// Records, in order from the first item not recorded, every item that is done or announced,
// with the lock released meanwhile: a worker writes neither planned nor, once done, its
// outcome again. A sheet that failed once announced is recorded as it ended. Then flushes the
// records together, once, and lets the workers waiting at the gate go on.
void BatchRun::recordReady(std::unique_lock<std::mutex> &lock)
{
    std::vector<std::pair<Slot *, bool>> ready; // and whether it is recorded as planned
    for (std::size_t index = recorded;
         index < window.size() && (window[index].done || window[index].gate == Gate::Waiting);
         ++index) {
        Slot &slot = window[index];
        if (slot.done)
            slot.gate = Gate::None;
        ready.emplace_back(&slot, slot.gate == Gate::Waiting);
    }
    if (ready.empty())
        return;
    recorded += ready.size();
    lock.unlock();
    bool anyPlanned = false;
    for (const auto &[slot, planned] : ready) {
        anyPlanned = anyPlanned || planned;
        const std::optional<CueOutcome> &outcome = planned ? slot->planned : slot->outcome;
        wayBack.record(slot->item, outcome ? &*outcome : nullptr);
    }
    const bool flushed = !anyPlanned || wayBack.flush();
    const quint64 flush = anyPlanned && flushed && durable ? durable->flushed() : 0;
    lock.lock();
    for (const auto &[slot, planned] : ready) {
        if (planned) {
            slot->gate = flushed ? Gate::Flushed : Gate::Shut;
            slot->flush = flush;
        }
    }
    gateMoved.notify_all();
}

// Reports the next item once it is done (and recorded), with the lock released while the
// report works.
void BatchRun::reportFront(std::unique_lock<std::mutex> &lock)
{
    const auto frontReady = [&] { return window.frontDone() && (!wayBack.record || recorded > 0); };
    const auto nextToRecordReady = [&] {
        return wayBack.record && recorded < window.size()
            && (window[recorded].done || window[recorded].gate == Gate::Waiting);
    };
    if (!frontReady()) {
        frontDone.wait(lock, [&] { return frontReady() || nextToRecordReady(); });
        return;
    }
    const Slot reported = window.takeFront();
    heldFolders.remove(reported.item);
    --started;
    recorded -= wayBack.record ? 1 : 0;
    lock.unlock();
    const CueOutcome *outcome = reported.outcome ? &*reported.outcome : nullptr;
    if (reported.gate != Gate::None && outcome->result != reported.planned->result)
        wayBack.record(reported.item, outcome);
    report(reported.item, outcome);
    lock.lock();
}

void BatchRun::run(const SheetBatch::StopRequested &stop)
{
    if (wayBack.sync)
        durable.emplace(wayBack.sync);
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
        if (wayBack.record)
            recordReady(lock);
        if (!window.empty())
            reportFront(lock);
    }
}

} // namespace

void SheetBatch::run(const Source &next, const Report &report, const StopRequested &stop,
    const DescriptorsHeld &heldBySource, const WayBack &wayBack)
{
    BatchRun(next, report, heldBySource, workers, mode, work, descriptors, wayBack).run(stop);
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
