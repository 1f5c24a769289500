#include "engine/durablelog.h"

#include <algorithm>

namespace cueprune {

DurableLog::DurableLog(std::function<bool()> sync)
    : sync(std::move(sync))
    , thread(1)
{
    ownThread = thread.start([this] { syncAsFlushed(); });
}

DurableLog::~DurableLog()
{
    const std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
    wanted.notify_all();
}

quint64 DurableLog::flushed()
{
    const std::lock_guard<std::mutex> lock(mutex);
    return ++flushes;
}

bool DurableLog::waitDurable(quint64 flush)
{
    std::unique_lock<std::mutex> lock(mutex);
    awaited = std::max(awaited, flush);
    wanted.notify_one();
    while (synced < flush && !failed) {
        if (ownThread || syncing)
            done.wait(lock);
        else
            syncOnce(lock);
    }
    return synced >= flush;
}

void DurableLog::syncOnce(std::unique_lock<std::mutex> &lock)
{
    syncing = true;
    const quint64 target = flushes;
    lock.unlock();
    const bool durable = sync();
    lock.lock();
    syncing = false;
    synced = durable ? target : synced;
    failed = failed || !durable;
    done.notify_all();
}

void DurableLog::syncAsFlushed()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wanted.wait(lock, [this] { return stopping || (awaited > synced && !failed); });
        if (stopping)
            return;
        syncOnce(lock);
    }
}

} // namespace cueprune
