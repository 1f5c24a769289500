#pragma once

#include "files/workerthreads.h"

#include <QtGlobal>

#include <condition_variable>
#include <functional>
#include <mutex>

namespace cueprune {

// Makes what was flushed to a log durable (sync: an fdatasync, say) beside the callers' own
// work: each flush starts a sync on a thread of its own, as the callers' own file syncs start,
// so that both ride the same journal commits; a sync under way when a flush comes does not
// cover it, and is not waited for. A caller waits only for a sync that covers its flush.
// Without threads (none could be started), the callers that wait take turns to sync.
class DurableLog
{
public:
    explicit DurableLog(std::function<bool()> sync);
    DurableLog(const DurableLog &) = delete;
    DurableLog &operator=(const DurableLog &) = delete;

    // A flush was made: its number, to wait for.
    [[nodiscard]] quint64 flushed();
    // Waits until flush is durable: false once a sync failed.
    [[nodiscard]] bool waitDurable(quint64 flush);

private:
    void syncOnce(std::unique_lock<std::mutex> &lock);

    const std::function<bool()> sync;
    std::mutex mutex;
    std::condition_variable done;
    quint64 flushes = 0;
    quint64 covered = 0; // the last flush a sync under way or done covers
    quint64 synced = 0; // the last flush made durable
    bool failed = false;
    // Declared last, so that it is joined first: its threads use everything above.
    WorkerThreads threads;
};

} // namespace cueprune
