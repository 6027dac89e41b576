// Shared between the hooks and the pipeline launch; not part of the window's interface.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <mutex>
#include <filesystem>
#include <string>
#include <utility>

namespace korvane::wb {

// Pid of the launcher Parallel_Pipeline started, 0 when none is running (cleared after waitpid).
extern std::atomic<pid_t> started_launcher_pid;
// Set when kill_started_launcher signalled that launcher: its end is then no failure to warn of.
extern bool launcher_kill_requested;
// Guards publishing, signalling and clearing that pid, and the flag.
extern std::mutex launcher_mutex;

// {launcher, pipeline} as set by set_launcher_programs, the pipeline defaulted beside this program.
std::pair<std::string, std::string> launcher_programs();
std::string default_pipeline_program();

}  // namespace korvane::wb
