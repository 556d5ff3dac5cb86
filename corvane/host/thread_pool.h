// The host's workers for per-pixel services. A pass hands the same job to
// some workers and runs it on the calling thread as well; the job takes its
// rows from a shared counter, so a worker that starts late or runs on a busy
// core simply takes fewer. Workers start on first use and live as long as
// the pool.
#pragma once

#include "module_loader.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace corvane {

// Threads this machine can run at once (at least 1).
int32_t machineThreads();

// Starts a helper thread of a host program as the pool starts its workers:
// it takes no signals, so Ctrl-C reaches the program's own threads, and
// under qemu-user the starting thread keeps its TLS descriptor.
std::thread startQuietThread(std::function<void()> body);

class ThreadPool {
public:
    using Job = void (*)(void *arg);

    // `threads` counts the calling thread, so a pool of 1 has no workers.
    // Module code runs on the workers through `module` (see LoadedModule).
    ThreadPool(int32_t threads, const LoadedModule &module);
    ~ThreadPool(); // waits for a pass under way, then ends the workers
    ThreadPool(const ThreadPool &) = delete;
    ThreadPool &operator=(const ThreadPool &) = delete;

    int32_t threads() const { return threads_; }

    // Runs job(arg) on the caller and on up to `helpers` workers (at most
    // threads() - 1), and returns when every one of them that started has
    // returned. Workers not yet running when the caller's job returns are
    // let off, so the job must share its work out as it goes (a counter the
    // threads take from) and expect to run on the caller alone. A worker
    // that cannot be started leaves its share to the others.
    void run(int32_t helpers, Job job, void *arg);

private:
    void work();
    void startWorkers();

    const int32_t threads_;
    const bool spin_; // whether a thread between passes watches before it sleeps
    const LoadedModule &module_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::vector<std::thread> workers_;
    std::atomic<uint64_t> generation_{0}; // one per pass; read without the lock by a spinning worker
    int32_t wanted_ = 0;                  // workers that may take part in the current pass
    int32_t started_ = 0;                 // of those, the ones that have taken it up
    std::atomic<int32_t> running_{0};     // workers still to finish it; read without the lock by a spinning caller
    Job job_ = nullptr;
    void *arg_ = nullptr;
    bool stopping_ = false;
};

} // namespace corvane
