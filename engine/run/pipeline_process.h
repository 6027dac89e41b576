// One sample through every stage, shared by the console pipeline and the workbench's batch run,
// and two small helpers of the drivers.
#pragma once

#include <cstdint>
#include <list>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "engine/records/para_configure.h"
#include "engine/records/records.h"

// Runs, in order:
//  1. centroiding (when Para_Profile_Centroid is 0) and the intensity cut-off;
//  2. mass trace extraction, printing the trace count;
//  3. peak detection, printing the peak count, and the peak list CSV;
//  4. grouping and the grouped CSV;
//  5. adduct annotation, the annotated CSV and the sample's database.
// The four files are Sample_Name followed by "_chromatograph_peaklist.csv",
// "_grouped_chromatograph_peaklist.csv", "_annotated_grouped_chromatograph_peaklist.csv" and
// "_annotated_grouped_chromatograph_peaklist.db" in Output_Dir; they wait under temporary names
// until all four are written and then take their names together (korvane::Result_Set), so a
// sample stopped or failing part way keeps its earlier results whole. The sample's annotated compounds
// are appended to peaklist_adduct_annotated (the caller passes it empty). A stage that runs out
// of memory raises korvane::Out_Of_Memory_In_Step naming it ("adduct annotation").
void pipeline_process(std::vector<Spectrum_Scan> spectrum_arry, Para_Configure Para,
                      std::vector<adduct_configure_node> adduct_configure_arry,
                      std::vector<double> hmdb_mass_weight_arry, std::string Sample_Name,
                      std::string Output_Dir,
                      std::vector<Chromatogram_Peak_Group_Compound>& peaklist_adduct_annotated);

// The file name up to its last "."; the whole name when it has none ("a.b.CDF" gives "a.b").
std::string extract_sample_name(std::string sample_file_name);

// "1d 1h 1m 1s " style text of a duration: each of days, hours, minutes and seconds that is
// greater than 0, followed by its unit letter and a blank. 0 (or less) gives "".
std::string format_elapsed_time(double seconds);

// Steps the console program's MPI driver, the workbench's in-process batch run and its single
// stages share.
namespace korvane {

// A std::bad_alloc that names the step of a sample's processing that ran out of memory, so that
// the drivers can skip the sample saying where. pipeline_process raises it for its stages.
class Out_Of_Memory_In_Step : public std::bad_alloc {
public:
    explicit Out_Of_Memory_In_Step(const char* step) noexcept : step_(step) {}
    const char* step() const noexcept { return step_; }

private:
    const char* step_;  // a string literal: nothing to allocate while memory is short
};

// Runs step(); a std::bad_alloc it raises leaves as Out_Of_Memory_In_Step naming `name` (one that
// already names its step, unchanged).
template <class Step>
void run_step(const char* name, Step&& step) {
    try {
        std::forward<Step>(step)();
    } catch (const Out_Of_Memory_In_Step&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw Out_Of_Memory_In_Step(name);
    }
}

// The first stages with their arguments taken from the run parameters, for every program that runs
// them: centroiding when Para_Profile_Centroid is 0 and the intensity cut-off (in place), mass
// trace extraction (appending to traces) and peak detection (appending to peaks).
void preprocess_spectra(std::vector<Spectrum_Scan>& scans, const Para_Configure& para);
void extract_mass_traces(std::list<Mass_Trace>& traces, std::vector<Spectrum_Scan> scans, const Para_Configure& para);
void detect_peaks(std::vector<Chromatogram_Peak>& peaks, std::list<Mass_Trace> traces, const Para_Configure& para);

// What a run reads from its configuration folder before the first sample: "config_para.csv", the
// adduct table of Para_Polarity and the monoisotopic masses of "hmdb.csv", each checked as
// read_run_parameters, read_run_adduct_table and read_run_hmdb_masses do, and the adduct table as
// the annotation will check it. Throws std::runtime_error (korvane::TableOpenError for a table that
// cannot be opened) naming the file and the line, the key or the row.
struct Run_Configuration {
    Para_Configure para;
    std::vector<adduct_configure_node> adducts;
    std::vector<double> hmdb_mono_masses;
};
Run_Configuration read_run_configuration(const std::string& config_dir);

// One sample's scans, cut to Para_Start_Scan..Para_End_Scan; false when the file cannot be read,
// with the sample reader's reason. The sample's seven arrays are released before this returns, so
// they never coexist with the processing that follows.
bool load_sample_scans(const std::string& data_dir, const std::string& file, const Para_Configure& para,
                       std::vector<Spectrum_Scan>& scans, std::string& reason);

// A sample a run could not process, and why ("not a netCDF file", "truncated: ...").
struct Skipped_Sample {
    std::string file;
    std::string reason;
};

// The one line that ends a run with skipped samples:
// "Skipped 2 of 30 samples: a.CDF (not a netCDF file); b.CDF (missing variable scan_index)".
std::string skipped_summary(const std::vector<Skipped_Sample>& skipped, std::size_t total);
// Reads such a line back (the workbench learns a parallel run's skips from it); false when the
// line is not one.
bool parse_skipped_summary(const std::string& line, std::vector<Skipped_Sample>& skipped, std::size_t& total);

// Why each listed file's results cannot be written ("" for those that can), worked out for the
// whole list before any sample runs. A sample whose result file names would be longer than
// name_max bytes cannot have them; one whose result file names would take a name that an earlier
// listed sample's results or the run's aligned results take would replace those, as "ga.CDF"'s
// grouped list is also "ga_grouped.CDF"'s peak list. The first in list order keeps its names; a
// sample refused for its file name (unsafe_file_name_reason) takes none. In an output folder that
// folds case (fold_case), names that differ only in letter case are one name: "GA.CDF" and "ga.CDF"
// would write the same files.
std::vector<std::string> find_result_name_conflicts(const std::vector<std::string>& files, std::size_t name_max,
                                                    bool fold_case = false);

// Why a listed name is no file of the data folder ("" when it is one): a name holding "/" (or a
// NUL byte) or equal to "." or ".." would lead the reader, and the result files named after it,
// out of their folders. Such a name is never joined to a path.
std::string unsafe_file_name_reason(const std::string& name);

// The files a sample named sample_name leaves in output_dir (its four result files and the
// database's journal), and those of a run's alignment (the two aligned files and the journal).
std::vector<std::string> sample_result_files(const std::string& output_dir, const std::string& sample_name);
std::vector<std::string> aligned_result_files(const std::string& output_dir);

// Removes those of the given files that exist, so that an earlier run's results never pass for
// this run's; a folder under such a name is no result and is left alone. Returns the paths it
// removed, in the given order. Throws std::runtime_error naming a file it could not remove.
std::vector<std::string> remove_result_files(const std::vector<std::string>& paths);

// Moves a sample's annotated compounds into the run's alignment rows, as sample sample_id, not
// yet aligned (Align_ID 0, Align_RT 0).
void append_align_rows(std::vector<Chromatogram_Peak_Group_Compound>& compounds, std::uint32_t sample_id,
                       const std::string& sample_name, std::vector<Chromatogram_Peak_Group_Compound_Align>& rows);

// When Para_One_Two_Phase_Align is above 0 and there are rows: aligns them in place (one phase for
// 1, two for any other value) and writes "aligned_annotated_grouped_chromatograph_peaklist.csv" and
// ".aligndb" into output_dir, both taking their names together. Returns whether it did.
bool align_and_write_rows(const Para_Configure& para, std::vector<Chromatogram_Peak_Group_Compound_Align>& rows,
                          const std::string& output_dir);

}  // namespace korvane
