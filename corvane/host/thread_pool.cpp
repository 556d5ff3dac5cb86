#include "thread_pool.h"

#include <sched.h>

#include <algorithm>
#include <system_error>

namespace corvane {

int32_t machineThreads()
{
    // The CPUs this process may use, which a container or taskset can make
    // fewer than the machine has.
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return std::max(1, CPU_COUNT(&set));
    return static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
}

ThreadPool::ThreadPool(int32_t threads, const LoadedModule &module)
    : threads_(std::max<int32_t>(threads, 1)), module_(module)
{
}

ThreadPool::~ThreadPool()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread &t : workers_)
        t.join();
}

void ThreadPool::startWorkers()
{
    while (static_cast<int32_t>(workers_.size()) < threads_ - 1) {
        try {
            workers_.emplace_back(&ThreadPool::work, this, static_cast<int32_t>(workers_.size()));
        } catch (const std::system_error &) {
            return; // the threads there are share the work
        }
    }
}

void ThreadPool::run(int32_t helpers, Job job, void *arg)
{
    if (helpers > 0 && workers_.empty())
        startWorkers();
    helpers = std::clamp<int32_t>(helpers, 0, static_cast<int32_t>(workers_.size()));
    if (helpers > 0) {
        std::lock_guard lock(mutex_);
        ++generation_;
        wanted_ = running_ = helpers;
        job_ = job;
        arg_ = arg;
    }
    if (helpers > 0)
        wake_.notify_all();
    job(arg);
    if (helpers > 0) {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return running_ == 0; });
    }
}

void ThreadPool::work(int32_t index)
{
    uint64_t seen = 0;
    for (;;) {
        Job job;
        void *arg;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || (generation_ != seen && index < wanted_); });
            if (stopping_)
                return;
            seen = generation_;
            job = job_;
            arg = arg_;
        }
        module_.runOnThread(job, arg); // a thread that cannot run it leaves its share to the others
        {
            std::lock_guard lock(mutex_);
            --running_;
        }
        done_.notify_one();
    }
}

} // namespace corvane
