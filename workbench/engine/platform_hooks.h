// What the facade needs from the platform it runs on: a modal warning and the launch of the MPI
// pipeline. The window installs its own message box; tests override both.
#pragma once

#include <csignal>
#include <functional>
#include <string>

namespace korvane::wb {

// Shows a modal warning; the default prints "<caption>: <text>" to stderr. The window installs a
// QMessageBox handler. May be called from a worker thread (the window's handler must marshal to the
// GUI thread with a blocking queued call).
using MessageBoxHandler = std::function<void(const std::string& text, const std::string& caption)>;
void set_message_box_handler(MessageBoxHandler h);
void show_message_box(const std::string& text, const std::string& caption);

// The launcher and pipeline programs used by Parallel_Pipeline. Defaults: "mpiexec" (PATH lookup)
// and the directory of /proc/self/exe + "/KORVANE_Pipeline". Tests override them.
void set_launcher_programs(std::string launcher, std::string pipeline);

// Sends signal_number to the launcher this process started, if it is still running; true if one
// was. Only our own child: another user's mpiexec on a shared machine is none of our business.
// SIGTERM lets the launcher pass it on to the pipeline's processes, which remove their unfinished
// files; SIGKILL ends a launcher that did not answer it. A run stopped this way is no failure: it
// was stopped on purpose.
bool kill_started_launcher(int signal_number = SIGTERM);

// True when the last Parallel_Pipeline of this process failed: the launcher could not be started
// or ended in failure. Parallel_Pipeline returns nothing, and the window must not call such a run
// completed.
bool last_parallel_run_failed();

}  // namespace korvane::wb
