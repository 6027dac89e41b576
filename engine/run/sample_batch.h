// The per-sample step of a run, the same for the console program's MPI driver and the workbench's
// in-process batch: which samples a run has, each one read or skipped and processed, which of them
// are aligned, and the aligned files at the end. Each driver adds only its own part: the console
// deals the samples out to its processes and gathers them; the workbench reports progress and
// stops when asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "engine/records/records.h"
#include "engine/run/pipeline_process.h"

namespace korvane {

struct Sample_Batch {
    Run_Configuration config;
    std::string data_dir, output_dir;
    // The job's list in its order, else the data folder's "*.CDF" files in name order.
    std::vector<std::string> files;
    // Why each file's results cannot be written, "" when they can (find_result_name_conflicts).
    std::vector<std::string> refused;
    bool listed = false;  // files came from a list rather than the folder
    std::vector<std::int32_t> align_flags;
    // Says "Begin to process for File <f>" and "End of process for File <f>" around each sample
    // that gets that far (the console program's lines).
    bool announce = false;
};

// Reads the configuration (read_run_configuration) and the sample list, and works out which
// samples' results cannot be written, against the name limit of the output folder (of its nearest
// existing parent while it is still to be made; 255 bytes where the system names none), and, where
// that folder folds case, without regard to letter case (folder_folds_case). Without a
// list a data folder that cannot be opened throws std::runtime_error "Data folder could not be
// opened: <dir> (<why>)": the listing cannot tell it from a folder without samples, and the run
// would pass as a success that processed nothing. A folder without samples is no_samples_reason's
// to say.
Sample_Batch open_sample_batch(const std::string& config_dir, const std::string& data_dir,
                               const std::string& output_dir, const std::vector<std::string>& selected,
                               const std::vector<std::int32_t>& align_flags, bool announce);

// Why a run of this batch would process nothing, or "" when it has samples: a data folder, listed
// for want of a job list, holding no file whose name ends in ".CDF". Files ending in another case
// of ".cdf" (a common export), which the listing passes over, are counted: "No sample file ending
// in .CDF in /d (3 files end in .cdf: the extension is case-sensitive)". A driver stops such a run
// as failed; it would otherwise end as a success with no results and no word why.
std::string no_samples_reason(const Sample_Batch& batch);

// A fingerprint of what decides which sample each process of a job takes and under which
// SAMPLE_ID: the names in their order, whether they came from a list, and the alignment flags.
std::uint64_t sample_list_fingerprint(const Sample_Batch& batch);

// Each process reads the configuration and lists the data folder by itself, and on a shared file
// system two machines can see different listings; the samples would then be dealt out
// inconsistently (some twice, some never, under wrong SAMPLE_IDs) with no error. Given every
// process's fingerprint in rank order, throws std::runtime_error naming data_dir and the first
// process that differs from process 0.
void require_same_sample_list(const std::vector<std::uint64_t>& fingerprints, const std::string& data_dir);

// Whether sample i joins the alignment: every sample of the folder, of a list those whose flag is
// not 0 (none when the list came without flags).
bool joins_alignment(const Sample_Batch& batch, std::size_t i);

// Sample i through pipeline_process into its four result files, unless its results cannot be
// written (batch.refused) or the file cannot be read; such a sample is said on standard error (an
// unreadable one also has its earlier result files removed) and returned as skipped. So is a
// sample whose reading or processing runs out of memory, with the reason "out of memory while
// processing <file>: <step>" (the step's short name, "adduct annotation"); the files it had
// written, and any of an earlier run, are removed, since an incomplete set would pass for its
// results. When it joins the alignment its compounds are appended to rows as SAMPLE_ID i (none
// for a skipped sample).
std::optional<Skipped_Sample> process_listed_sample(const Sample_Batch& batch, std::size_t i,
                                                    std::vector<Chromatogram_Peak_Group_Compound_Align>& rows);

// A run's end: when complete, the rows are aligned and the aligned files written
// (align_and_write_rows); otherwise, or when that writes nothing, the aligned files of an earlier
// run are removed, saying so, since beside this run's sample files they would pass for its own.
void finish_alignment(const Sample_Batch& batch, std::vector<Chromatogram_Peak_Group_Compound_Align>& rows,
                      bool complete);

// One whole line in one write, so that the lines of processes sharing a terminal do not interleave.
void say(std::ostream& out, const std::string& line);

}  // namespace korvane
