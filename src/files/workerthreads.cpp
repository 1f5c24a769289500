#include "files/workerthreads.h"

#include <system_error>

namespace cueprune {

WorkerThreads::WorkerThreads(int most)
    : most(std::size_t(most))
{
}

WorkerThreads::~WorkerThreads()
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        closing = true;
    }
    queued.notify_all();
    for (std::thread &thread : threads)
        thread.join();
}

bool WorkerThreads::start(std::function<void()> task)
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (idle == 0 && threads.size() < most) {
            try {
                threads.emplace_back([this] { work(); });
            } catch (const std::system_error &) {
                if (threads.empty())
                    return false;
            }
        }
        tasks.push_back(std::move(task));
    }
    queued.notify_one();
    return true;
}

void WorkerThreads::work()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        ++idle;
        queued.wait(lock, [this] { return closing || !tasks.empty(); });
        --idle;
        if (tasks.empty())
            return;
        std::function<void()> task = std::move(tasks.front());
        tasks.pop_front();
        lock.unlock();
        task();
        lock.lock();
    }
}

} // namespace cueprune
