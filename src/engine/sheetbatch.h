#pragma once

#include "engine/processcuefile.h"
#include "files/sheetwalk.h"

#include <functional>

namespace cueprune {

// Prunes many sheets at once on a bounded pool of worker threads, and reports each in the
// order the source gave them, whatever order they finish in. Waiting on the disk (each
// rewrite is flushed) overlaps this way. Two names of one file are never worked on at once,
// a few sheets ahead of the one reported next are in flight, and a ByteBudget bounds the
// bytes held in memory.
class SheetBatch
{
public:
    // Gives the next sheet or notice, on the calling thread; false at the end.
    using Source = std::function<bool(WalkItem &item)>;
    // Receives each item in order, on the calling thread, one at a time: a sheet with its
    // outcome, a notice with none (null).
    using Report = std::function<void(const WalkItem &item, const CueOutcome *outcome)>;
    // Asked between sheets: once true, no new sheet starts, and those started are reported.
    using StopRequested = std::function<bool()>;
    // How many descriptors the source holds now (the walk's folders), asked before each item.
    using DescriptorsHeld = std::function<int()>;

    // What is done to one sheet, on a worker, with the batch's budget of bytes in memory; a
    // sheet that changes goes through the gate (when it has one) as processCueFile says.
    using Work = std::function<CueOutcome(
        const SheetEntry &sheet, ByteBudget &budget, const WayBackGate &gate)>;

    // The way back of a run's changes (a diff, a record). record is called on the calling
    // thread in the source's order, with each item once every item before it was given: a
    // sheet about to be renamed with its outcome as planned, any other item as it ends (a
    // notice with none). flush, on the same thread, then sends what was recorded out of the
    // process, and sync, on a worker, one at a time, makes what was flushed durable: only then
    // are the sheets planned renamed; when either fails, they fail, left as they were. A sheet
    // whose outcome is not the one planned is recorded again, before it is reported.
    struct WayBack
    {
        std::function<void(const WalkItem &item, const CueOutcome *outcome)> record;
        std::function<bool()> flush;
        std::function<bool()> sync;
    };

    // Prunes each sheet as options say (processCueFile).
    SheetBatch(int workers, const PruneOptions &options, const DescriptorBudget &descriptors = {});
    // Does work to each sheet; a dry run's sheets go to workers in chunks.
    SheetBatch(int workers, WriteMode mode, Work work, const DescriptorBudget &descriptors = {});

    // Returns once every item started is reported. Items are taken from the source only as
    // far as the descriptor budget leaves room for. With a way back, no sheet is renamed
    // before its change is recorded and committed.
    void run(const Source &next, const Report &report, const StopRequested &stop = {},
        const DescriptorsHeld &heldBySource = {}, const WayBack &wayBack = {});

    // The number of workers that measured best on this project's machines for mode, and for
    // a rewrite whose way back is recorded.
    static int defaultWorkers(WriteMode mode, bool wayBackRecorded = false);

private:
    const int workers;
    const WriteMode mode;
    const Work work;
    const DescriptorBudget descriptors;
};

// A source that gives a listing's notices, then its sheets, in turn.
[[nodiscard]] SheetBatch::Source inTurn(const FolderListing &listing);

} // namespace cueprune
