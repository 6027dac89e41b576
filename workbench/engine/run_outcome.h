// What a run did beyond writing its result files, for the message that ends it: how many samples
// it was given, which it could not process and why, and whether it was stopped before its end.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/run/pipeline_process.h"

namespace korvane::wb {

struct Run_Outcome {
    std::size_t total = 0;                  // samples the run was given
    std::vector<Skipped_Sample> skipped;    // in the order the run met them
    bool stopped = false;                   // a stop request ended it before its last sample
    std::string failure;                    // what ended a failed Parallel Run, as it was said; may be empty
};

// The message that ends a run named run_name ("Batch Run", "Parallel Run"): "<run_name> completed!"
// when no sample was skipped, else "<run_name> completed: 29 of 30 samples processed. Skipped:
// bad.CDF (not a netCDF file)", the skipped samples joined by "; ".
std::string completion_message(const std::string& run_name, const Run_Outcome& outcome);

// Takes the skipped samples from a line of the console pipeline's standard output when it is
// the summary line skipped_summary writes; samples already noted are not noted twice. Returns
// whether the line was one.
bool note_skipped_summary(const std::string& line, Run_Outcome& outcome);

// Reads the launcher's standard error, line by line, for what ended a failed Parallel Run. The
// console pipeline's own error wins ("KORVANE_Pipeline: error in process 0: <text>" gives
// "<text>"); without one, the launcher's first paragraph ("There are not enough slots available
// ..."). The lines of skipped samples say nothing about a failure and are passed over.
class Failure_Reader {
public:
    void add(const std::string& line);
    const std::string& text() const { return pipeline_.empty() ? launcher_ : pipeline_; }

private:
    std::string pipeline_, launcher_;
    bool launcher_done_ = false;
};

}  // namespace korvane::wb
