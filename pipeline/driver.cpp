#include "pipeline/driver.h"

#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

#include <boost/mpi/communicator.hpp>
#include <boost/mpi/environment.hpp>

#include "engine/io/sample_listing.h"
#include "engine/records/para_configure.h"
#include "engine/records/text_util.h"
#include "pipeline/pipeline_process.h"
#include "pipeline/row_transfer.h"
#include "sqlitewrap/cppsqlite3.h"

namespace {

using Row = Chromatogram_Peak_Group_Compound_Align;

struct Run_Inputs {
    std::string config_dir, data_dir, output_dir;
    std::vector<std::string> selected_files;
    std::vector<std::int32_t> selected_align;
};

void ensure_output_folder(const std::string& output_dir) {
    if (output_dir.empty()) return;
    std::error_code ec;
    std::filesystem::create_directories(output_dir, ec);
    // Several processes may create it at the same moment; only a folder that is still missing
    // afterwards is a failure.
    if (!std::filesystem::is_directory(output_dir))
        throw std::runtime_error("Output folder could not be created: " + output_dir +
                                 (ec ? " (" + ec.message() + ")" : std::string()));
}

void require_readable_folder(const std::string& data_dir) {
    std::error_code ec;
    std::filesystem::directory_iterator probe(data_dir.empty() ? std::string(".") : data_dir, ec);
    if (ec) throw std::runtime_error("Data folder could not be opened: " + data_dir + " (" + ec.message() + ")");
}


void print_progress(int rank, int assigned, int done) {
    const double rate = static_cast<double>(done) / static_cast<double>(assigned);
    std::cout << " At CPU " << rank << ", totally assigned sample Num: " << assigned << "and has already finished "
              << done << " Finish Rate: " << rate << std::endl;
}

// Reads one sample into scans; false when the file cannot be read.

double seconds_since(std::time_t start) { return std::difftime(std::time(nullptr), start); }

void run(const Run_Inputs& in, std::time_t start, const boost::mpi::communicator& world, int rank, int size) {
    // Steps 3-6: configuration, output folder, sample list.
    const korvane::Run_Configuration config = korvane::read_run_configuration(in.config_dir);
    const Para_Configure& para = config.para;
    ensure_output_folder(in.output_dir);

    std::vector<std::string> files;
    int N = 0;
    if (!in.selected_files.empty()) {
        files = in.selected_files;
        N = static_cast<int>(files.size());
    } else {
        // The listing cannot tell a folder that is missing from one without samples; a mistyped
        // data folder would otherwise end as a successful run that processed nothing.
        require_readable_folder(in.data_dir);
        N = load_filename_from_filedir(in.data_dir, "*.CDF", files);
    }
    const std::vector<bool> repeated = korvane::find_repeated_names(files);

    // Step 7-8: the samples of this rank, dealt round-robin.
    const int assigned = N / size + (rank < N % size ? 1 : 0);
    int done = 0;
    std::vector<Row> rows;
    for (int i = rank; i < N; i += size) {
        const std::string& file = files[static_cast<std::size_t>(i)];
        const std::string sample_name = extract_sample_name(file);
        std::vector<Chromatogram_Peak_Group_Compound> compounds;

        if (repeated[static_cast<std::size_t>(i)]) {
            std::cerr << "Sample " << file << " skipped: its name " << sample_name
                      << " repeats an earlier sample, whose result files it would overwrite" << std::endl;
        } else {
            std::cout << "Begin to process for File " << file << std::endl;
            std::vector<Spectrum_Scan> scans;
            if (korvane::load_sample_scans(in.data_dir, file, para, scans)) {
                pipeline_process(std::move(scans), para, config.adducts, config.hmdb_mono_masses, sample_name,
                                 in.output_dir, compounds);
                std::cout << "End of process for File " << file << std::endl;
            } else {
                // Counted as done with no rows, so the other ranks are not kept waiting.
                std::cerr << "Sample file could not be read, skipped: " << korvane::path_join(in.data_dir, file)
                          << std::endl;
            }
        }
        ++done;
        print_progress(rank, assigned, done);

        const bool joins_alignment =
            in.selected_files.empty() ||
            (!in.selected_align.empty() && in.selected_align.at(static_cast<std::size_t>(i)) != 0);
        if (joins_alignment) korvane::append_align_rows(compounds, static_cast<std::uint32_t>(i), sample_name, rows);
    }

    // Steps 9-12.
    world.barrier();
    gather_align_lists(world, rank, size, rows);
    if (rank == 0) {
        std::cout << "The processing time for Feature extraction and annotation   is"
                  << format_elapsed_time(seconds_since(start)) << std::endl;
        std::cout << "Begin to process Compound Align" << std::endl;
        korvane::align_and_write_rows(para, rows, in.output_dir);
        std::cout << "The total processing time is" << format_elapsed_time(seconds_since(start)) << std::endl;
    }
    world.barrier();
}

// The text of whatever is in flight: the engine throws standard exceptions, plain strings (the
// netCDF binding), CppSQLite3Exception and boost::mpi::exception.
std::string describe_current_exception() {
    try {
        throw;
    } catch (const CppSQLite3Exception& e) {
        return e.errorMessage();
    } catch (const std::exception& e) {
        return e.what();
    } catch (const std::string& s) {
        return s;
    } catch (const char* s) {
        return s ? s : "unknown error";
    } catch (...) {
        return "unknown error";
    }
}

}  // namespace

void batch_par_pipeline_process(int argc, char* argv[], std::string Config_FileDir, std::string Data_FileDir,
                                std::string Output_FileDir, std::vector<std::string> Selected_FileName_Vec,
                                std::vector<std::int32_t> Selected_Align_Vec) {
    const std::time_t start = std::time(nullptr);
    const Run_Inputs inputs{std::move(Config_FileDir), std::move(Data_FileDir), std::move(Output_FileDir),
                            std::move(Selected_FileName_Vec), std::move(Selected_Align_Vec)};

    // Initialises MPI only when it is not yet; does not abort by itself when destroyed during
    // unwinding. The world communicator returns error codes, which Boost.MPI turns into exceptions.
    auto environment = std::make_unique<boost::mpi::environment>(argc, argv, false);
    int rank = -1;
    try {
        boost::mpi::communicator world;
        rank = world.rank();
        run(inputs, start, world, rank, world.size());
    } catch (...) {
        // Finalising here would wait for ranks that will never get there; keep MPI up so that
        // the caller can abort the whole job.
        static_cast<void>(environment.release());
        throw korvane::ProcessFailure(rank, describe_current_exception());
    }
}
