// KORVANE_Pipeline: processes a folder of LC-MS samples, as one process or under an MPI launcher.
#include <mpi.h>

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "engine/records/error.h"
#include "pipeline/command_line.h"
#include "pipeline/driver.h"
#include "sqlitewrap/cppsqlite3.h"

namespace {

// The whole message in one write: the processes of a job share the terminal.
void print_error(const std::string& text) { std::cerr << "KORVANE_Pipeline: " + text + "\n" << std::flush; }

// Ends the run with exit_code. Several processes: the others may be waiting at a barrier for this
// one, so the whole job is aborted. One process (with or without a launcher) has nobody to stop;
// ending MPI normally spares the user the launcher's abort banner after the message.
[[noreturn]] void end_run(int exit_code) {
    int initialised = 0, finalised = 0;
    MPI_Initialized(&initialised);
    MPI_Finalized(&finalised);
    if (initialised && !finalised) {
        int size = 1;
        MPI_Comm_size(MPI_COMM_WORLD, &size);
        if (size > 1) MPI_Abort(MPI_COMM_WORLD, exit_code);
        MPI_Finalize();
    }
    std::exit(exit_code);
}

// Open MPI's defaults cost a run half a second before its first sample: one process started
// without a launcher forks a helper daemon, and every process loads the libraries of high-speed
// fabrics, some of which time the processor's clock for a fifth of a second as they load. Only
// the aligned rows cross between processes, so the plain point-to-point layer over shared memory
// or TCP serves as well. A value set by the user or the launcher (--mca) wins.
void prefer_quick_mpi_start() {
    setenv("OMPI_MCA_ess_singleton_isolated", "1", 0);
    setenv("OMPI_MCA_pml", "ob1", 0);
}

}  // namespace

int main(int argc, char* argv[]) {
    prefer_quick_mpi_start();
    korvane::add_exception_describer(describe_sqlite_exception);
    try {
        std::string Config_FileDir, Data_FileDir, Output_FileDir;
        std::vector<std::string> Selected_FileName_Vec;
        std::vector<std::int32_t> Selected_Align_Vec;
        const int count = parse_cmd_line(argc, argv, Config_FileDir, Data_FileDir, Output_FileDir,
                                         Selected_FileName_Vec, Selected_Align_Vec);
        if (count < 0) return 2;  // the command line was refused: nothing ran
        if (count == 0) return 0;
        const korvane::Run_Counts counts =
            batch_par_pipeline_process(argc, argv, Config_FileDir, Data_FileDir, Output_FileDir,
                                       Selected_FileName_Vec, Selected_Align_Vec);
        return counts.failed() ? 1 : 0;
    } catch (const korvane::ProcessFailure& e) {
        print_error("error in process " + std::to_string(e.rank()) + ": " + e.what());
    } catch (...) {
        print_error("error: " + korvane::describe_current_exception());
    }
    end_run(1);
}
