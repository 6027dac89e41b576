// The console program's driver: one run in every MPI process of a job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/records/error.h"

namespace korvane {

// An error that ended one process's run, with the rank it happened in (-1 before MPI started).
// MPI is left initialised when this is thrown, so the catcher can abort the whole job.
class ProcessFailure : public Error {
public:
    ProcessFailure(int rank, const std::string& message) : Error(message), rank_(rank) {}
    int rank() const { return rank_; }

private:
    int rank_;
};

// What a run made of its sample list, the same in every process: how many samples were listed
// and how many of them were skipped (unreadable, results that would replace another sample's or the
// aligned ones, result names too long for the output folder, a name outside the data folder, out
// of memory), and whether the data folder held no sample at all.
struct Run_Counts {
    std::size_t listed = 0;
    std::size_t skipped = 0;
    bool no_samples = false;
    bool none_read() const { return listed > 0 && skipped == listed; }
    // The run ends as failed: it made no result from any sample.
    bool failed() const { return no_samples || none_read(); }
};

}  // namespace korvane

// Starts MPI, then in every process:
//  1. reads the configuration, lists the samples (the job file's list in its order, else the
//     folder's "*.CDF" files in name order) and makes sure of the output folder; a data folder
//     without samples stops the run here, rank 0 saying so on standard error (no_samples set);
//  2. processes the samples i with i mod size == rank; a sample that cannot be processed is said
//     and skipped, its earlier result files removed when it could not be read;
//  3. gathers the aligned rows on rank 0, which puts them in the samples' list order (as one process
//     has them), aligns them and writes the aligned CSV and
//     database (or removes those of an earlier run when this run aligns nothing) and ends with one
//     line naming every skipped sample;
// and ends MPI. Any error is rethrown as korvane::ProcessFailure with MPI still initialised.
korvane::Run_Counts batch_par_pipeline_process(int argc, char* argv[], std::string Config_FileDir,
                                               std::string Data_FileDir, std::string Output_FileDir,
                                               std::vector<std::string> Selected_FileName_Vec,
                                               std::vector<std::int32_t> Selected_Align_Vec);
