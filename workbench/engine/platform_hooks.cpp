#include "workbench/engine/platform_hooks.h"

#include <signal.h>
#include <sys/types.h>

#include <iostream>
#include <mutex>
#include <filesystem>
#include <utility>

#include "workbench/engine/launcher_state.h"

namespace korvane::wb {
namespace {

std::mutex& hooks_mutex() {
    static std::mutex m;
    return m;
}

MessageBoxHandler& handler_slot() {
    static MessageBoxHandler h;
    return h;
}

std::string& launcher_slot() {
    static std::string s = "mpiexec";
    return s;
}

std::string& pipeline_slot() {
    static std::string s;
    return s;
}

}  // namespace

std::atomic<pid_t> started_launcher_pid{0};

void set_message_box_handler(MessageBoxHandler h) {
    std::lock_guard<std::mutex> lock(hooks_mutex());
    handler_slot() = std::move(h);
}

void show_message_box(const std::string& text, const std::string& caption) {
    MessageBoxHandler h;
    {
        std::lock_guard<std::mutex> lock(hooks_mutex());
        h = handler_slot();
    }
    // Called outside the lock: the window's handler blocks until the user answers.
    if (h) {
        h(text, caption);
    } else {
        std::cerr << caption << ": " << text << std::endl;
    }
}

void set_launcher_programs(std::string launcher, std::string pipeline) {
    std::lock_guard<std::mutex> lock(hooks_mutex());
    launcher_slot() = std::move(launcher);
    pipeline_slot() = std::move(pipeline);
}

std::pair<std::string, std::string> launcher_programs() {
    std::string launcher, pipeline;
    {
        std::lock_guard<std::mutex> lock(hooks_mutex());
        launcher = launcher_slot();
        pipeline = pipeline_slot();
    }
    if (pipeline.empty()) pipeline = default_pipeline_program();
    return {launcher, pipeline};
}

std::string default_pipeline_program() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || self.parent_path().empty()) return "KORVANE_Pipeline";
    return (self.parent_path() / "KORVANE_Pipeline").string();
}

bool kill_started_launcher(int signal_number) {
    // The waiting thread clears the pid and reaps the child under this lock, so the pid signalled
    // here is still our child's (at worst a zombie that has not been reaped yet).
    std::lock_guard<std::mutex> lock(launcher_mutex);
    const pid_t pid = started_launcher_pid.load();
    if (pid <= 0) return false;
    if (::kill(pid, signal_number) != 0) return false;
    launcher_kill_requested = true;
    return true;
}

}  // namespace korvane::wb
