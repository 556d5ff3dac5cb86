#include "thread_pool.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#if defined(__i386__)
#include <asm/ldt.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <system_error>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace corvane {
namespace {

inline void cpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#else
    std::this_thread::yield();
#endif
}

// Passes of one frame follow each other closely: a thread that has finished
// one watches briefly for what comes next before it sleeps, which spares
// the sleeper's wake-up (tens of microseconds) at each end of a pass. Only
// where every thread of the pool has a core: otherwise the watching takes
// the core the others need.
template <class Ready> bool spinUntil(bool spin, Ready ready)
{
    if (!spin)
        return false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(200);
    do {
        for (int i = 0; i < 64; ++i) {
            if (ready())
                return true;
            cpuRelax();
        }
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

// Workers take no signals: a host's handlers (Ctrl-C) run on its own
// threads, and a worker is never interrupted inside a pixel function.
class SignalsBlocked {
public:
    SignalsBlocked()
    {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &saved_);
    }
    ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

private:
    sigset_t saved_;
};

#if defined(__i386__)
// qemu-user, which runs the 32-bit builds here, keeps one descriptor table
// for all threads, so each new thread's TLS descriptor replaces the
// creator's; the creator then takes its next signal with another thread's
// TLS. Setting the creator's descriptor again after the workers start puts
// it back; on a real kernel it rewrites the thread's own entry unchanged.
class ThreadAreaKept {
public:
    ThreadAreaKept()
    {
        uint16_t gs;
        __asm__ volatile("movw %%gs, %0" : "=r"(gs));
        desc_.entry_number = gs >> 3;
        kept_ = (gs & 4) == 0 && syscall(SYS_get_thread_area, &desc_) == 0;
    }
    ~ThreadAreaKept()
    {
        if (kept_)
            syscall(SYS_set_thread_area, &desc_);
    }

private:
    user_desc desc_{};
    bool kept_ = false;
};
#else
struct ThreadAreaKept {};
#endif

} // namespace

int32_t machineThreads()
{
    // The CPUs this process may use, which a container or taskset can make
    // fewer than the machine has.
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return std::max(1, CPU_COUNT(&set));
    return static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
}

std::thread startQuietThread(std::function<void()> body)
{
    const SignalsBlocked blocked;
    [[maybe_unused]] const ThreadAreaKept threadArea;
    return std::thread(std::move(body));
}

ThreadPool::ThreadPool(int32_t threads, const LoadedModule &module)
    : threads_(std::max<int32_t>(threads, 1)), spin_(threads_ <= machineThreads()), module_(module)
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
    const SignalsBlocked blocked;                     // the workers start with every signal blocked
    [[maybe_unused]] const ThreadAreaKept threadArea; // put back before a signal can arrive
    while (static_cast<int32_t>(workers_.size()) < threads_ - 1) {
        try {
            workers_.emplace_back(&ThreadPool::work, this);
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
    if (helpers == 0) {
        job(arg);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        ++generation_;
        wanted_ = running_ = helpers;
        started_ = 0;
        job_ = job;
        arg_ = arg;
    }
    wake_.notify_all();
    job(arg);
    std::unique_lock lock(mutex_);
    // The job hands out its work as it goes, so by now there is none left
    // for a worker that has not started: on a busy machine waiting for it to
    // be scheduled would only add its wait to the pass.
    running_ -= wanted_ - started_;
    wanted_ = started_;
    if (running_ == 0)
        return;
    lock.unlock();
    if (spinUntil(spin_, [&] { return running_.load(std::memory_order_acquire) == 0; }))
        return;
    lock.lock();
    done_.wait(lock, [&] { return running_ == 0; });
}

void ThreadPool::work()
{
    uint64_t seen = 0;
    for (;;) {
        Job job;
        void *arg;
        spinUntil(spin_, [&] { return generation_.load(std::memory_order_relaxed) != seen; });
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || (generation_ != seen && started_ < wanted_); });
            if (stopping_)
                return;
            seen = generation_;
            ++started_;
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
