#include "engine/durablelog.h"

#include <algorithm>

namespace cueprune {

namespace {

// Syncs that may run at once: enough for a flush to find a thread while earlier syncs wait
// for their journal commits.
constexpr int syncThreads = 4;

} // namespace

DurableLog::DurableLog(std::function<bool()> sync)
    : sync(std::move(sync))
    , threads(syncThreads)
{
}

quint64 DurableLog::flushed()
{
    quint64 flush = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        flush = ++flushes;
    }
    // Where no thread can be had, waitDurable syncs instead.
    (void)threads.start([this] {
        std::unique_lock<std::mutex> lock(mutex);
        if (covered < flushes && !failed)
            syncOnce(lock);
    });
    return flush;
}

bool DurableLog::waitDurable(quint64 flush)
{
    std::unique_lock<std::mutex> lock(mutex);
    while (synced < flush && !failed) {
        if (covered >= flush)
            done.wait(lock);
        else
            syncOnce(lock);
    }
    return synced >= flush;
}

void DurableLog::syncOnce(std::unique_lock<std::mutex> &lock)
{
    const quint64 target = flushes;
    covered = target;
    lock.unlock();
    const bool durable = sync();
    lock.lock();
    if (durable)
        synced = std::max(synced, target);
    failed = failed || !durable;
    done.notify_all();
}

} // namespace cueprune
