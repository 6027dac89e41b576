#include "pipeline/driver.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>
#include <utility>

#include <boost/mpi/collectives/all_gather.hpp>
#include <boost/mpi/communicator.hpp>
#include <boost/mpi/environment.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>

#include "engine/io/netcdf_reader.h"
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

// One whole line in one write, so that the lines of processes sharing a terminal do not interleave.
void say(std::ostream& out, const std::string& line) { out << line + "\n" << std::flush; }

// A listed sample that was not processed, and why; every process learns every process's skips.
struct Skip_Note {
    std::int32_t index = 0;
    std::string file, reason;
    template <class Archive>
    void serialize(Archive& ar, unsigned /*version*/) {
        ar & index & file & reason;
    }
};

// Runs one listed sample through the pipeline, or says why it is skipped and returns the reason.
std::optional<std::string> process_sample(const Run_Inputs& in, const korvane::Run_Configuration& config,
                                          const std::string& file, bool repeated,
                                          std::vector<Chromatogram_Peak_Group_Compound>& compounds) {
    if (std::string reason = korvane::refuse_listed_sample(file, repeated); !reason.empty()) return reason;
    std::cout << "Begin to process for File " << file << std::endl;
    std::vector<Spectrum_Scan> scans;
    if (std::string reason = korvane::read_listed_sample(in.data_dir, in.output_dir, file, config.para, scans);
        !reason.empty())
        return reason;
    pipeline_process(std::move(scans), config.para, config.adducts, config.hmdb_mono_masses,
                     extract_sample_name(file), in.output_dir, compounds);
    std::cout << "End of process for File " << file << std::endl;
    return std::nullopt;
}

// Every process's skips, in sample order.
std::vector<korvane::Skipped_Sample> gather_skips(const boost::mpi::communicator& world,
                                                  const std::vector<Skip_Note>& mine) {
    std::vector<std::vector<Skip_Note>> all;
    boost::mpi::all_gather(world, mine, all);
    std::vector<Skip_Note> notes;
    for (auto& part : all) notes.insert(notes.end(), part.begin(), part.end());
    std::stable_sort(notes.begin(), notes.end(), [](const Skip_Note& a, const Skip_Note& b) { return a.index < b.index; });
    std::vector<korvane::Skipped_Sample> skipped;
    for (auto& n : notes) skipped.push_back({std::move(n.file), std::move(n.reason)});
    return skipped;
}

std::vector<std::string> list_samples(const Run_Inputs& in) {
    if (!in.selected_files.empty()) return in.selected_files;
    // The listing cannot tell a folder that is missing from one without samples; a mistyped data
    // folder would otherwise end as a successful run that processed nothing.
    require_readable_folder(in.data_dir);
    std::vector<std::string> files;
    load_filename_from_filedir(in.data_dir, "*.CDF", files);
    return files;
}

double seconds_since(std::time_t start) { return std::difftime(std::time(nullptr), start); }

// Rank 0's tail: timings, the alignment (or the removal of an earlier run's), the skipped samples.
void finish_on_rank0(const Run_Inputs& in, const Para_Configure& para, std::time_t start,
                     std::vector<Row>& rows, const std::vector<korvane::Skipped_Sample>& skipped,
                     std::size_t listed) {
    std::cout << "The processing time for Feature extraction and annotation   is"
              << format_elapsed_time(seconds_since(start)) << std::endl;
    std::cout << "Begin to process Compound Align" << std::endl;
    // Aligned files of an earlier run beside this run's sample files would pass for this run's.
    if (!korvane::align_and_write_rows(para, rows, in.output_dir))
        korvane::remove_earlier_aligned_files(in.output_dir);
    std::cout << "The total processing time is" << format_elapsed_time(seconds_since(start)) << std::endl;
    if (!skipped.empty()) say(std::cout, korvane::skipped_summary(skipped, listed));
    if (listed > 0 && skipped.size() == listed)
        say(std::cerr, "KORVANE_Pipeline: error: none of the " + std::to_string(listed) + " samples could be read");
}

korvane::Run_Counts run(const Run_Inputs& in, std::time_t start, const boost::mpi::communicator& world, int rank,
                        int size) {
    // Steps 3-6: configuration, sample list, output folder; a run refused for its inputs leaves
    // no new empty output folder behind.
    const korvane::Run_Configuration config = korvane::read_run_configuration(in.config_dir);
    const std::vector<std::string> files = list_samples(in);
    ensure_output_folder(in.output_dir);
    const int N = static_cast<int>(files.size());
    const std::vector<bool> repeated = korvane::find_repeated_names(files);

    // Step 7-8: the samples of this rank, dealt round-robin.
    const int assigned = N / size + (rank < N % size ? 1 : 0);
    // Without a usable netCDF library every sample would be skipped as unreadable.
    if (assigned > 0) korvane::require_netcdf_library();
    int done = 0;
    std::vector<Row> rows;
    std::vector<Skip_Note> skips;
    for (int i = rank; i < N; i += size) {
        const std::size_t k = static_cast<std::size_t>(i);
        std::vector<Chromatogram_Peak_Group_Compound> compounds;
        if (auto reason = process_sample(in, config, files[k], repeated[k], compounds))
            skips.push_back({i, files[k], std::move(*reason)});
        // Counted as done with no rows, so the other ranks are not kept waiting.
        ++done;
        print_progress(rank, assigned, done);

        const bool joins_alignment =
            in.selected_files.empty() || (!in.selected_align.empty() && in.selected_align.at(k) != 0);
        if (joins_alignment)
            korvane::append_align_rows(compounds, static_cast<std::uint32_t>(i), extract_sample_name(files[k]), rows);
    }

    // Steps 9-12.
    world.barrier();
    gather_align_lists(world, rank, size, rows);
    const std::vector<korvane::Skipped_Sample> skipped = gather_skips(world, skips);
    if (rank == 0) finish_on_rank0(in, config.para, start, rows, skipped, files.size());
    world.barrier();
    return {files.size(), skipped.size()};
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

korvane::Run_Counts batch_par_pipeline_process(int argc, char* argv[], std::string Config_FileDir,
                                               std::string Data_FileDir, std::string Output_FileDir,
                                               std::vector<std::string> Selected_FileName_Vec,
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
        return run(inputs, start, world, rank, world.size());
    } catch (...) {
        // Finalising here would wait for ranks that will never get there; keep MPI up so that
        // the caller can abort the whole job.
        static_cast<void>(environment.release());
        throw korvane::ProcessFailure(rank, describe_current_exception());
    }
}
