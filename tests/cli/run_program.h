// Runs a program as a subprocess with its output captured, as a shell
// would; optionally through an emulator (qemu-i386 for 32-bit builds).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>

#include <string>
#include <vector>

struct RunResult {
    int status = -1; // exit status, or 128 + signal
    std::string out, err;
};

// Starts the program; stdout and stderr go to files under `scratch`.
class Running {
public:
    Running(const std::vector<std::string> &argv, const std::string &scratch);
    ~Running();
    pid_t pid() const { return pid_; }
    void signal(int sig);
    RunResult wait();
    // The result if the program ends within `limit`; otherwise it keeps
    // running (and is killed with the Running).
    std::optional<RunResult> waitFor(std::chrono::milliseconds limit);

private:
    RunResult finished(int raw);
    pid_t pid_ = -1;
    std::string outPath_, errPath_;
};

RunResult runProgram(const std::vector<std::string> &argv, const std::string &scratch);
