// The console program's driver: one run in every MPI process of a job.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvane {

// An error that ended one process's run, with the rank it happened in (-1 before MPI started).
// MPI is left initialised when this is thrown, so the catcher can abort the whole job.
class ProcessFailure : public std::runtime_error {
public:
    ProcessFailure(int rank, const std::string& message) : std::runtime_error(message), rank_(rank) {}
    int rank() const { return rank_; }

private:
    int rank_;
};

}  // namespace korvane

// Starts MPI, reads the configuration, processes the samples i with i mod size == rank (the job
// file's list in its order, else the folder's "*.CDF" files in name order), gathers the aligned
// rows on rank 0, which aligns them and writes the aligned CSV and database, and ends MPI.
// Any error is rethrown as korvane::ProcessFailure with MPI still initialised.
void batch_par_pipeline_process(int argc, char* argv[], std::string Config_FileDir, std::string Data_FileDir,
                                std::string Output_FileDir, std::vector<std::string> Selected_FileName_Vec,
                                std::vector<std::int32_t> Selected_Align_Vec);
