#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace cueprune {

// Runs tasks on up to a given number of threads, started as tasks come; the tasks queued when
// it is destroyed are run first. Plain threads rather than QThreadPool's: each QThread opens a
// descriptor for its event loop and ends the process when it cannot, so a low descriptor
// limit would abort a run. A thread that cannot be started leaves the work to those that could.
class WorkerThreads
{
public:
    explicit WorkerThreads(int most);
    ~WorkerThreads();
    WorkerThreads(const WorkerThreads &) = delete;
    WorkerThreads &operator=(const WorkerThreads &) = delete;

    // False when there is no thread to run task, and none can be started.
    [[nodiscard]] bool start(std::function<void()> task);

private:
    void work();

    const std::size_t most;
    std::mutex mutex;
    std::condition_variable queued;
    std::deque<std::function<void()>> tasks;
    std::vector<std::thread> threads;
    std::size_t idle = 0;
    bool closing = false;
};

} // namespace cueprune
