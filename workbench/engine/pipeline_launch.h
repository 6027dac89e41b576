// Starting the console pipeline under the MPI launcher and waiting for it.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace korvane::wb {

// The launcher's argument vector: {launcher, "-np", CPU_NUM, pipeline, "-c", config, "-d", data,
// "-o", output, "-x", "Job_Run_Config.csv"}. Passed as a vector, so folders need no quoting.
std::vector<std::string> launch_arguments(const std::string& launcher, const std::string& pipeline, int CPU_NUM,
                                          const std::string& config_file_path, const std::string& data_file_path,
                                          const std::string& output_path);

// Starts argv[0] (found on PATH) with argv, inheriting this process's environment, and waits until
// it ends. Its standard output and standard error are passed on to this process's as they come,
// and each of their lines (without the line end) goes to on_line and on_error_line. When it cannot
// be started: writes "ERROR: CreateProcess failed!" to standard output and gives on_error_line why
// ("could not start <argv[0]>: <reason>"). When it ends with a non-zero status or by a signal, says
// so on standard output. Either way the run counts as failed (last_parallel_run_failed), instead of
// passing as done; the caller tells the user. A launcher stopped by kill_started_launcher gets the
// line but is no failure. Returns true for a run that exited 0.
bool run_launcher(const std::vector<std::string>& argv,
                  const std::function<void(const std::string& line)>& on_line = {},
                  const std::function<void(const std::string& line)>& on_error_line = {});

}  // namespace korvane::wb
