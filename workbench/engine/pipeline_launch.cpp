#include "workbench/engine/pipeline_launch.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <mutex>
#include <utility>

#include "workbench/engine/launcher_state.h"
#include "workbench/engine/platform_hooks.h"

extern char** environ;

namespace korvane::wb {

std::mutex launcher_mutex;

namespace {

std::atomic<bool> last_run_failed{false};

}  // namespace

bool last_parallel_run_failed() { return last_run_failed.load(); }
bool launcher_kill_requested = false;

std::vector<std::string> launch_arguments(const std::string& launcher, const std::string& pipeline, int CPU_NUM,
                                          const std::string& config_file_path, const std::string& data_file_path,
                                          const std::string& output_path) {
    return {launcher, "-np", std::to_string(CPU_NUM), pipeline, "-c", config_file_path, "-d", data_file_path,
            "-o", output_path, "-x", "Job_Run_Config.csv"};
}

namespace {

void report_failure() {
    last_run_failed = true;
    show_message_box("MPI Run Failed", "Warning");
}

}  // namespace

bool run_launcher(const std::vector<std::string>& argv) {
    last_run_failed = false;
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    pid_t pid = 0;
    int rc = 0;
    {
        // Held while the pid is published, so kill_started_launcher never sees a half-started run.
        std::lock_guard<std::mutex> lock(launcher_mutex);
        rc = argv.empty() ? EINVAL : posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ);
        if (rc == 0) {
            started_launcher_pid = pid;
            launcher_kill_requested = false;
        }
    }
    if (rc != 0) {
        std::cout << "ERROR: CreateProcess failed!" << std::flush;
        report_failure();
        return false;
    }

    // Wait without reaping first: until the child is reaped its pid cannot be handed to another
    // process, so a concurrent kill_started_launcher can only ever signal our own child.
    siginfo_t info{};
    int w = 0;
    do {
        w = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    } while (w == -1 && errno == EINTR);
    int status = 0;
    bool killed_on_request = false;
    {
        std::lock_guard<std::mutex> lock(launcher_mutex);
        started_launcher_pid = 0;
        killed_on_request = std::exchange(launcher_kill_requested, false);
        pid_t r = 0;
        do {
            r = waitpid(pid, &status, 0);
        } while (r == -1 && errno == EINTR);
        if (r == -1) {
            std::cout << "ERROR: MPI run could not be waited for: " << std::strerror(errno) << std::endl;
            report_failure();
            return false;
        }
    }

    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    if (WIFSIGNALED(status))
        std::cout << "ERROR: MPI run ended by signal " << WTERMSIG(status) << std::endl;
    else
        std::cout << "ERROR: MPI run ended with exit status " << WEXITSTATUS(status) << std::endl;
    // Stopped on purpose (the window closing): no warning, which would wait on a closing window.
    if (!killed_on_request) report_failure();
    return false;
}

}  // namespace korvane::wb
