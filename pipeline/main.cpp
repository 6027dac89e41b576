// KORVANE_Pipeline: processes a folder of LC-MS samples, as one process or under an MPI launcher.
#include <mpi.h>

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "pipeline/command_line.h"
#include "pipeline/driver.h"

namespace {

// Ends every process of the job: the others may be waiting at a barrier for this one.
[[noreturn]] void abort_job(int exit_code) {
    int initialised = 0, finalised = 0;
    MPI_Initialized(&initialised);
    MPI_Finalized(&finalised);
    if (initialised && !finalised) MPI_Abort(MPI_COMM_WORLD, exit_code);
    std::exit(exit_code);
}

}  // namespace

int main(int argc, char* argv[]) {
    try {
        std::string Config_FileDir, Data_FileDir, Output_FileDir;
        std::vector<std::string> Selected_FileName_Vec;
        std::vector<std::int32_t> Selected_Align_Vec;
        const int count = parse_cmd_line(argc, argv, Config_FileDir, Data_FileDir, Output_FileDir,
                                         Selected_FileName_Vec, Selected_Align_Vec);
        if (count < 0) return 2;  // an option without its value: nothing ran
        if (count > 0)
            batch_par_pipeline_process(argc, argv, Config_FileDir, Data_FileDir, Output_FileDir,
                                       Selected_FileName_Vec, Selected_Align_Vec);
        return 0;
    } catch (const korvane::ProcessFailure& e) {
        std::cerr << "KORVANE_Pipeline: error in process " << e.rank() << ": " << e.what() << std::endl;
        abort_job(1);
    } catch (const std::exception& e) {
        std::cerr << "KORVANE_Pipeline: error: " << e.what() << std::endl;
        abort_job(1);
    } catch (...) {
        std::cerr << "KORVANE_Pipeline: unknown error" << std::endl;
        abort_job(1);
    }
}
