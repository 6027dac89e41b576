#include "pipeline/driver.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
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
#include "engine/records/error.h"
#include "engine/records/para_configure.h"
#include "engine/records/text_util.h"
#include "engine/run/pipeline_process.h"
#include "engine/run/sample_batch.h"
#include "pipeline/row_transfer.h"

namespace {

using Row = Chromatogram_Peak_Group_Compound_Align;
using korvane::say;

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
        throw korvane::Error("Output folder could not be created: " + output_dir +
                                 (ec ? " (" + ec.message() + ")" : std::string()));
}

void print_progress(int rank, int assigned, int done) {
    const double rate = static_cast<double>(done) / static_cast<double>(assigned);
    std::cout << " At CPU " << rank << ", totally assigned sample Num: " << assigned << "and has already finished "
              << done << " Finish Rate: " << rate << std::endl;
}

// A listed sample that was not processed, and why; every process learns every process's skips.
struct Skip_Note {
    std::int32_t index = 0;
    std::string file, reason;
    template <class Archive>
    void serialize(Archive& ar, unsigned /*version*/) {
        ar & index & file & reason;
    }
};

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

// Every process has opened the batch by itself; a process that listed other samples would take
// the wrong ones.
void require_same_sample_list(const boost::mpi::communicator& world, const korvane::Sample_Batch& batch) {
    std::vector<std::uint64_t> fingerprints;
    boost::mpi::all_gather(world, korvane::sample_list_fingerprint(batch), fingerprints);
    korvane::require_same_sample_list(fingerprints, batch.data_dir);
}

double seconds_since(std::time_t start) { return std::difftime(std::time(nullptr), start); }

// Rank 0's tail: timings, the alignment (or the removal of an earlier run's), the skipped samples.
void finish_on_rank0(const korvane::Sample_Batch& batch, std::time_t start, std::vector<Row>& rows,
                     const std::vector<korvane::Skipped_Sample>& skipped) {
    const std::size_t listed = batch.files.size();
    std::cout << "The processing time for Feature extraction and annotation   is"
              << format_elapsed_time(seconds_since(start)) << std::endl;
    std::cout << "Begin to process Compound Align" << std::endl;
    // The rows arrive by process; the alignment numbers and orders its groups by the order it is
    // given, so it is given the samples' list order, which one process has anyway: the aligned
    // files are then the same for any number of processes.
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.SAMPLE_ID < b.SAMPLE_ID; });
    korvane::finish_alignment(batch, rows, true);
    std::cout << "The total processing time is" << format_elapsed_time(seconds_since(start)) << std::endl;
    if (!skipped.empty()) say(std::cout, korvane::skipped_summary(skipped, listed));
    if (listed > 0 && skipped.size() == listed)
        say(std::cerr, "KORVANE_Pipeline: error: none of the " + std::to_string(listed) + " samples could be processed");
}

korvane::Run_Counts run(const Run_Inputs& in, std::time_t start, const boost::mpi::communicator& world, int rank,
                        int size) {
    // 1. Configuration, sample list, output folder; a run refused for its inputs leaves
    // no new empty output folder behind.
    const korvane::Sample_Batch batch = korvane::open_sample_batch(in.config_dir, in.data_dir, in.output_dir,
                                                                   in.selected_files, in.selected_align, true);
    require_same_sample_list(world, batch);
    // Every process has the same listing, so all of them stop here; one line says why for all.
    if (const std::string none = korvane::no_samples_reason(batch); !none.empty()) {
        if (rank == 0) say(std::cerr, "KORVANE_Pipeline: error: " + none);
        korvane::Run_Counts counts;
        counts.no_samples = true;
        return counts;
    }
    ensure_output_folder(in.output_dir);
    const int N = static_cast<int>(batch.files.size());

    // 2. The samples of this rank, dealt round-robin.
    const int assigned = N / size + (rank < N % size ? 1 : 0);
    // Without a usable netCDF library every sample would be skipped as unreadable.
    if (assigned > 0) korvane::require_netcdf_library();
    int done = 0;
    std::vector<Row> rows;
    std::vector<Skip_Note> skips;
    for (int i = rank; i < N; i += size) {
        if (auto skip = korvane::process_listed_sample(batch, static_cast<std::size_t>(i), rows))
            skips.push_back({i, std::move(skip->file), std::move(skip->reason)});
        // Counted as done with no rows, so the other ranks are not kept waiting.
        ++done;
        print_progress(rank, assigned, done);
    }

    // 3. Rank 0 gathers every rank's rows and skips, and finishes the run.
    world.barrier();
    gather_align_lists(world, rank, size, rows);
    const std::vector<korvane::Skipped_Sample> skipped = gather_skips(world, skips);
    if (rank == 0) finish_on_rank0(batch, start, rows, skipped);
    world.barrier();
    return {batch.files.size(), skipped.size()};
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
        throw korvane::ProcessFailure(rank, korvane::describe_current_exception());
    }
}
