#include "pipeline/driver.h"

#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <utility>

#include <boost/mpi/communicator.hpp>
#include <boost/mpi/environment.hpp>

#include "engine/annotation/alignment.h"
#include "engine/io/netcdf_reader.h"
#include "engine/io/sample_listing.h"
#include "engine/output/csv_output.h"
#include "engine/output/database_output.h"
#include "engine/peaks/spectrum.h"
#include "engine/records/para_configure.h"
#include "engine/records/reference_tables.h"
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

// What every process reads before its first sample.
struct Shared_Configuration {
    Para_Configure para;
    std::vector<adduct_configure_node> adducts;
    std::vector<double> hmdb_mono_masses;
};

Shared_Configuration read_configuration(const std::string& config_dir) {
    Shared_Configuration c;
    // A run on unset parameters would be reported as a success with meaningless results.
    if (Read_Configured_ParafromCSVFile(config_dir, "config_para.csv", c.para) == 0)
        throw std::runtime_error("Parameter file could not be opened: " +
                                 korvane::path_join(config_dir, "config_para.csv"));
    const char* adduct_file = c.para.Para_Polarity == 0 ? "Adduct_Config_Positive.csv" : "Adduct_Config_Negative.csv";
    read_adduct_configure_file(korvane::path_join(config_dir, adduct_file), c.adducts);
    std::vector<double> average_masses;
    read_hmdb_file(korvane::path_join(config_dir, "hmdb.csv"), average_masses, c.hmdb_mono_masses);
    return c;
}

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

// Marks every sample whose name repeats an earlier one: both would write the same result files.
std::vector<bool> find_repeated_names(const std::vector<std::string>& files) {
    std::vector<bool> repeated(files.size(), false);
    std::set<std::string> seen;
    for (std::size_t i = 0; i < files.size(); ++i) repeated[i] = !seen.insert(extract_sample_name(files[i])).second;
    return repeated;
}

void print_progress(int rank, int assigned, int done) {
    const double rate = static_cast<double>(done) / static_cast<double>(assigned);
    std::cout << " At CPU " << rank << ", totally assigned sample Num: " << assigned << "and has already finished "
              << done << " Finish Rate: " << rate << std::endl;
}

// Reads one sample into scans; false when the file cannot be read.
bool load_scans(const std::string& data_dir, const std::string& file, const Para_Configure& para,
                std::vector<Spectrum_Scan>& scans) {
    std::uint32_t scan_count = 0, point_count = 0;
    std::vector<std::uint32_t> scan_num, scan_index;
    std::vector<std::int32_t> points_per_scan;
    std::vector<double> scan_time, total_intensity;
    std::vector<float> mass, intensity;
    if (necdf_read(data_dir, file, scan_count, point_count, scan_num, scan_index, points_per_scan, scan_time, mass,
                   intensity, total_intensity) != 1)
        return false;
    spectrum_split(scans, scan_count, point_count, para.Para_Start_Scan, para.Para_End_Scan, scan_num, scan_index,
                   scan_time, points_per_scan, mass, intensity);
    return true;  // the seven arrays are released here, before the sample is processed
}

double seconds_since(std::time_t start) { return std::difftime(std::time(nullptr), start); }

void run(const Run_Inputs& in, std::time_t start, const boost::mpi::communicator& world, int rank, int size) {
    // Steps 3-6: configuration, output folder, sample list.
    const Shared_Configuration config = read_configuration(in.config_dir);
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
    const std::vector<bool> repeated = find_repeated_names(files);

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
            if (load_scans(in.data_dir, file, para, scans)) {
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
        if (!joins_alignment) continue;
        for (Chromatogram_Peak_Group_Compound& c : compounds) {
            Row r;
            r.Peak_shape = std::move(c.Peak_shape);
            korvane::copy_peak_scalars(c, r);
            r.Group_ID = c.Group_ID;
            r.Adduct_Annotation = std::move(c.Adduct_Annotation);
            r.Compound_ID = c.Compound_ID;
            r.Compound_MolecularMass = c.Compound_MolecularMass;
            r.Compound_Retention_Time = c.Compound_Retention_Time;
            r.Compound_Intensity = c.Compound_Intensity;
            r.SAMPLE_ID = static_cast<std::uint32_t>(i);
            r.SAMPLE_NAME = sample_name;
            r.Align_ID = 0;
            r.Align_RT = 0.0;
            rows.push_back(std::move(r));
        }
    }

    // Steps 9-12.
    world.barrier();
    gather_align_lists(world, rank, size, rows);
    if (rank == 0) {
        std::cout << "The processing time for Feature extraction and annotation   is"
                  << format_elapsed_time(seconds_since(start)) << std::endl;
        std::cout << "Begin to process Compound Align" << std::endl;
        if (!rows.empty() && para.Para_One_Two_Phase_Align > 0) {
            const Compound_Align_Mode mode = para.Para_One_Two_Phase_Align == 1 ? One_Phase_Align : Two_Phase_Align;
            compound_align(mode, para.Para_Align_Mass_Tol, para.Para_Align_Window1, para.Para_Align_Window2, rows);
            OutputAlignedAnnotatedGroupedChromatographPeaklist2CSVFile(
                rows, in.output_dir, "aligned_annotated_grouped_chromatograph_peaklist.csv");
            OutputAlignedAnnotatedGroupedChromatographPeaklist2database(
                std::move(rows), in.output_dir, "aligned_annotated_grouped_chromatograph_peaklist.aligndb");
        }
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
