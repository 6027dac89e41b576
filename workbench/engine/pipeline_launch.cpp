#include "workbench/engine/pipeline_launch.h"

#include <fcntl.h>
#include <poll.h>
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
#include <vector>

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

void note_failure() { last_run_failed = true; }

// Splits what arrives into lines for on_line, a "\r" before the line end dropped.
class Line_Splitter {
public:
    explicit Line_Splitter(const std::function<void(const std::string&)>& on_line) : on_line_(on_line) {}
    void add(const char* bytes, std::size_t n) {
        pending_.append(bytes, n);
        for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
            emit(pending_.substr(0, end));
            pending_.erase(0, end + 1);
        }
    }
    void finish() {
        if (!pending_.empty()) emit(pending_);
        pending_.clear();
    }

private:
    void emit(std::string line) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (on_line_) on_line_(line);
    }
    const std::function<void(const std::string&)>& on_line_;
    std::string pending_;
};

bool has_exited(pid_t pid) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

// One of the launcher's output streams: the pipe it writes into, where its bytes are passed on,
// and the lines for the caller.
struct Relayed_Stream {
    int fd;
    std::ostream& to;
    Line_Splitter lines;
};

// Passes the launcher's output on until its pipes end. Once the launcher has exited, only what is
// already waiting is read: a process it left behind may keep a pipe open for as long as it lives.
void relay_output(std::vector<Relayed_Stream>& streams, pid_t pid) {
    char buffer[4096];
    bool exited = false;
    std::vector<pollfd> polled;
    for (const Relayed_Stream& s : streams) polled.push_back({s.fd, POLLIN, 0});
    std::size_t open = polled.size();
    while (open > 0) {
        const int ready = poll(polled.data(), polled.size(), exited ? 0 : 200);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || (ready == 0 && exited)) break;
        if (ready == 0) {
            exited = has_exited(pid);
            continue;
        }
        for (std::size_t i = 0; i < polled.size(); ++i) {
            if (polled[i].fd < 0 || polled[i].revents == 0) continue;
            const ssize_t n = read(polled[i].fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                polled[i].fd = -1;  // poll skips it from now on
                --open;
                continue;
            }
            streams[i].to.write(buffer, n).flush();
            streams[i].lines.add(buffer, static_cast<std::size_t>(n));
        }
    }
    for (Relayed_Stream& s : streams) s.lines.finish();
}

}  // namespace

bool run_launcher(const std::vector<std::string>& argv, const std::function<void(const std::string&)>& on_line,
                  const std::function<void(const std::string&)>& on_error_line) {
    last_run_failed = false;
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    // The launcher writes its standard output and its standard error into pipes this process reads.
    int out[2] = {-1, -1}, err[2] = {-1, -1};
    if (pipe2(out, O_CLOEXEC) != 0) out[0] = out[1] = -1;
    if (pipe2(err, O_CLOEXEC) != 0) err[0] = err[1] = -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out[1] >= 0) posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (err[1] >= 0) posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

    pid_t pid = 0;
    int rc = 0;
    {
        // Held while the pid is published, so kill_started_launcher never sees a half-started run.
        std::lock_guard<std::mutex> lock(launcher_mutex);
        rc = argv.empty() ? EINVAL : posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
        if (rc == 0) {
            started_launcher_pid = pid;
            launcher_kill_requested = false;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : {out[1], err[1]})
        if (fd >= 0) close(fd);
    if (rc != 0) {
        for (int fd : {out[0], err[0]})
            if (fd >= 0) close(fd);
        std::cout << "ERROR: CreateProcess failed!" << std::flush;
        if (on_error_line) on_error_line("could not start " + (argv.empty() ? std::string() : argv[0]) + ": " +
                                         std::strerror(rc));
        note_failure();
        return false;
    }
    std::vector<Relayed_Stream> streams;
    if (out[0] >= 0) streams.push_back({out[0], std::cout, Line_Splitter(on_line)});
    if (err[0] >= 0) streams.push_back({err[0], std::cerr, Line_Splitter(on_error_line)});
    relay_output(streams, pid);
    for (int fd : {out[0], err[0]})
        if (fd >= 0) close(fd);

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
            note_failure();
            return false;
        }
    }

    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    if (WIFSIGNALED(status))
        std::cout << "ERROR: MPI run ended by signal " << WTERMSIG(status) << std::endl;
    else
        std::cout << "ERROR: MPI run ended with exit status " << WEXITSTATUS(status) << std::endl;
    // Stopped on purpose (the window closing): no failure to report.
    if (!killed_on_request) note_failure();
    return false;
}

}  // namespace korvane::wb
