#pragma once

#include "files/workerthreads.h"

#include <QtGlobal>

#include <condition_variable>
#include <functional>
#include <mutex>

namespace cueprune {

// Makes what was flushed to a log durable (sync: an fdatasync, say) on a thread of its own, once
// a caller waits for it: the syncs run one at a time, each for every flush made before it began,
// and a caller waits only for the one that covers its flush. A sync begins only when wanted, so
// that the flushes made meanwhile (while the callers flushed their own files) share it. Without
// a thread of its own (none could be started), the callers that wait take turns to sync.
class DurableLog
{
public:
    explicit DurableLog(std::function<bool()> sync);
    ~DurableLog();
    DurableLog(const DurableLog &) = delete;
    DurableLog &operator=(const DurableLog &) = delete;

    // A flush was made: its number, to wait for.
    [[nodiscard]] quint64 flushed();
    // Waits until flush is durable: false once a sync failed.
    [[nodiscard]] bool waitDurable(quint64 flush);

private:
    void syncOnce(std::unique_lock<std::mutex> &lock);
    void syncAsFlushed();

    const std::function<bool()> sync;
    std::mutex mutex;
    std::condition_variable wanted;
    std::condition_variable done;
    quint64 flushes = 0;
    quint64 awaited = 0; // the last flush a caller waits for
    quint64 synced = 0; // the last flush made durable
    bool syncing = false;
    bool failed = false;
    bool stopping = false;
    bool ownThread = false;
    // Declared last, so that it is joined first: its thread uses everything above.
    WorkerThreads thread;
};

} // namespace cueprune
