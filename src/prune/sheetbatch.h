#pragma once

#include "processcuefile.h"
#include "sheetfile.h"

#include <QList>

#include <functional>

// Prunes many sheets at once on a bounded pool of worker threads, and reports each result in
// the order the sheets were given, whatever order they finish in. Waiting on the disk (each
// rewrite is flushed) overlaps this way. Two names of one file are never worked on at once,
// a few sheets ahead of the one reported next are in flight, and a ByteBudget bounds the
// bytes held in memory.
class SheetBatch
{
public:
    // Receives the results in order, on the calling thread, one at a time.
    using Report = std::function<void(qsizetype index, CueResult result)>;

    SheetBatch(int workers, WriteMode mode);

    // Returns once every sheet is reported.
    void run(const QList<NamedFile> &sheets, const Report &report);

    // The number of workers that measured best on this project's machines.
    static int defaultWorkers();

private:
    const int workers;
    const WriteMode mode;
};
