#include "run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char **environ;

namespace {

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::atomic<int> gSerial{0};

} // namespace

Running::Running(const std::vector<std::string> &argv, const std::string &scratch)
{
    const std::string tag = std::to_string(getpid()) + "-" + std::to_string(gSerial++);
    outPath_ = scratch + "/stdout-" + tag;
    errPath_ = scratch + "/stderr-" + tag;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char *> args;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    const int rc = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + argv[0]);
}

Running::~Running()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    unlink(outPath_.c_str());
    unlink(errPath_.c_str());
}

void Running::signal(int sig)
{
    kill(pid_, sig);
}

RunResult Running::wait()
{
    int raw = 0;
    while (waitpid(pid_, &raw, 0) < 0)
        if (errno != EINTR)
            throw std::runtime_error("lost the child process");
    return finished(raw);
}

std::optional<RunResult> Running::waitFor(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int raw = 0;
    for (;;) {
        const pid_t done = waitpid(pid_, &raw, WNOHANG);
        if (done == pid_)
            return finished(raw);
        if (done < 0 && errno != EINTR)
            throw std::runtime_error("lost the child process");
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        usleep(5000);
    }
}

RunResult Running::finished(int raw)
{
    pid_ = -1;
    RunResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    r.out = slurp(outPath_);
    r.err = slurp(errPath_);
    return r;
}

RunResult runProgram(const std::vector<std::string> &argv, const std::string &scratch)
{
    Running r(argv, scratch);
    return r.wait();
}
