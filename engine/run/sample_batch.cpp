#include "engine/run/sample_batch.h"

#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <iostream>
#include <ostream>
#include <set>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "engine/io/sample_listing.h"
#include "engine/records/error.h"
#include "engine/records/result_file.h"
#include "engine/records/text_util.h"

namespace korvane {

namespace {

void say_removed(const std::vector<std::string>& paths,
                 const std::string& what = "Removed a result file of an earlier run: ") {
    for (const std::string& path : paths) say(std::cout, what + path);
}

void require_readable_folder(const std::string& data_dir) {
    std::error_code ec;
    std::filesystem::directory_iterator probe(data_dir.empty() ? std::string(".") : data_dir, ec);
    if (ec) throw korvane::Error("Data folder could not be opened: " + data_dir + " (" + ec.message() + ")");
}

std::vector<std::string> list_samples(const std::string& data_dir, const std::vector<std::string>& selected) {
    if (!selected.empty()) return selected;
    require_readable_folder(data_dir);
    std::vector<std::string> files;
    load_filename_from_filedir(data_dir, "*.CDF", files);
    return files;
}

// How many entries of data_dir end in ".cdf" in another case than ".CDF", and those endings.
std::size_t count_other_case_samples(const std::string& data_dir, std::set<std::string>& endings) {
    std::vector<std::string> entries;
    load_filename_from_filedir(data_dir, "*.*", entries);
    std::size_t count = 0;
    for (const std::string& name : entries) {
        const std::size_t dot = name.rfind('.');
        if (dot == std::string::npos || name.size() - dot != 4) continue;
        std::string lower = name.substr(dot);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower != ".cdf") continue;
        ++count;
        endings.insert(name.substr(dot));
    }
    return count;
}

// The output folder, or while it is still to be made its nearest existing parent: the file
// system the results will be written to.
std::string existing_output_folder(const std::string& output_dir) {
    std::filesystem::path folder = output_dir.empty() ? "." : output_dir;
    std::error_code ec;
    while (!std::filesystem::is_directory(folder, ec) && folder.has_relative_path()) folder = folder.parent_path();
    return folder.empty() ? "." : folder.string();
}

// The file system's limit on a name in the folder; 255 where it names none.
std::size_t result_name_limit(const std::string& folder) {
    const long limit = pathconf(folder.c_str(), _PC_NAME_MAX);
    return limit > 0 ? static_cast<std::size_t>(limit) : 255;
}

// An unreadable sample's earlier result files would pass for this run's.
std::string read_listed_sample(const std::string& data_dir, const std::string& output_dir, const std::string& file,
                               const Para_Configure& para, std::vector<Spectrum_Scan>& scans) {
    std::string reason;
    bool read = false;
    run_step("reading the sample", [&] { read = load_sample_scans(data_dir, file, para, scans, reason); });
    if (read) return {};
    if (reason.empty()) reason = "unreadable";
    say(std::cerr, "Sample file could not be read, skipped: " + path_join(data_dir, file) + ": " + reason);
    say_removed(remove_result_files(sample_result_files(output_dir, extract_sample_name(file))));
    return reason;
}

// The sample's compounds, or the reason it could not be read.
std::string read_and_process(const Sample_Batch& batch, const std::string& file,
                             std::vector<Chromatogram_Peak_Group_Compound>& compounds) {
    std::vector<Spectrum_Scan> scans;
    if (std::string reason = read_listed_sample(batch.data_dir, batch.output_dir, file, batch.config.para, scans);
        !reason.empty())
        return reason;
    pipeline_process(std::move(scans), batch.config.para, batch.config.adducts, batch.config.hmdb_mono_masses,
                     extract_sample_name(file), batch.output_dir, compounds);
    return {};
}

// The memory that ran short is free again once the sample's data are gone. The files the sample
// had written, beside an earlier run's it had not come to, would pass for its results.
std::string skip_out_of_memory(const Sample_Batch& batch, const std::string& file, const char* step,
                               std::vector<Chromatogram_Peak_Group_Compound>& compounds) {
    compounds = {};
    const std::string reason = "out of memory while processing " + file + ": " + step;
    say(std::cerr, "Sample " + file + " skipped: " + reason);
    say_removed(remove_result_files(sample_result_files(batch.output_dir, extract_sample_name(file))),
                "Removed a result file of a skipped sample: ");
    return reason;
}

// The sample's compounds, or the reason it is skipped.
std::string run_sample(const Sample_Batch& batch, std::size_t i,
                       std::vector<Chromatogram_Peak_Group_Compound>& compounds) {
    const std::string& file = batch.files[i];
    if (!batch.refused[i].empty()) {
        say(std::cerr, "Sample " + file + " skipped: " + batch.refused[i]);
        return batch.refused[i];
    }
    if (batch.announce) std::cout << "Begin to process for File " << file << std::endl;
    try {
        if (std::string reason = read_and_process(batch, file, compounds); !reason.empty()) return reason;
    } catch (const Out_Of_Memory_In_Step& e) {
        return skip_out_of_memory(batch, file, e.step(), compounds);
    }
    if (batch.announce) std::cout << "End of process for File " << file << std::endl;
    return {};
}

}  // namespace

Sample_Batch open_sample_batch(const std::string& config_dir, const std::string& data_dir,
                               const std::string& output_dir, const std::vector<std::string>& selected,
                               const std::vector<std::int32_t>& align_flags, bool announce) {
    Sample_Batch batch;
    batch.config = read_run_configuration(config_dir);
    batch.data_dir = data_dir;
    batch.output_dir = output_dir;
    batch.files = list_samples(data_dir, selected);
    // Only a folder that folds case is asked to tell GA.CDF's results from ga.CDF's by case alone:
    // there the later sample's would silently replace the earlier's.
    const std::string folder = existing_output_folder(output_dir);
    batch.refused = find_result_name_conflicts(batch.files, result_name_limit(folder), folder_folds_case(folder));
    batch.listed = !selected.empty();
    batch.align_flags = align_flags;
    batch.announce = announce;
    return batch;
}

std::string no_samples_reason(const Sample_Batch& batch) {
    if (batch.listed || !batch.files.empty()) return {};
    const std::string folder = batch.data_dir.empty() ? std::string(".") : batch.data_dir;
    std::string reason = "No sample file ending in .CDF in " + folder;
    std::set<std::string> endings;
    if (const std::size_t n = count_other_case_samples(batch.data_dir, endings); n > 0) {
        std::string joined;
        for (const std::string& ending : endings) joined += (joined.empty() ? "" : " or ") + ending;
        reason += " (" + std::to_string(n) + (n == 1 ? " file ends in " : " files end in ") + joined +
                  ": the extension is case-sensitive)";
    }
    return reason;
}

std::uint64_t sample_list_fingerprint(const Sample_Batch& batch) {
    // FNV-1a; each name is preceded by its length, so that "ab","c" and "a","bc" differ.
    std::uint64_t hash = 14695981039346656037ull;
    const auto mix = [&hash](const void* data, std::size_t size) {
        for (std::size_t k = 0; k < size; ++k) {
            hash ^= static_cast<const unsigned char*>(data)[k];
            hash *= 1099511628211ull;
        }
    };
    const auto mix_count = [&mix](std::uint64_t n) { mix(&n, sizeof n); };
    mix_count(batch.files.size());
    for (const std::string& file : batch.files) {
        mix_count(file.size());
        mix(file.data(), file.size());
    }
    mix_count(batch.listed ? 1 : 0);
    mix_count(batch.align_flags.size());
    for (const std::int32_t flag : batch.align_flags) mix(&flag, sizeof flag);
    return hash;
}

void require_same_sample_list(const std::vector<std::uint64_t>& fingerprints, const std::string& data_dir) {
    for (std::size_t rank = 1; rank < fingerprints.size(); ++rank) {
        if (fingerprints[rank] == fingerprints[0]) continue;
        throw korvane::Error("The processes of this job see different sample lists for data folder " + data_dir +
                                 " (process " + std::to_string(rank) +
                                 " differs from process 0); every process must see the same files");
    }
}

bool joins_alignment(const Sample_Batch& batch, std::size_t i) {
    return !batch.listed || (!batch.align_flags.empty() && batch.align_flags.at(i) != 0);
}

std::optional<Skipped_Sample> process_listed_sample(const Sample_Batch& batch, std::size_t i,
                                                    std::vector<Chromatogram_Peak_Group_Compound_Align>& rows) {
    std::vector<Chromatogram_Peak_Group_Compound> compounds;
    std::string reason = run_sample(batch, i, compounds);
    if (joins_alignment(batch, i))
        append_align_rows(compounds, static_cast<std::uint32_t>(i), extract_sample_name(batch.files[i]), rows);
    if (reason.empty()) return std::nullopt;
    return Skipped_Sample{batch.files[i], std::move(reason)};
}

void finish_alignment(const Sample_Batch& batch, std::vector<Chromatogram_Peak_Group_Compound_Align>& rows,
                      bool complete) {
    if (!complete || !align_and_write_rows(batch.config.para, rows, batch.output_dir))
        say_removed(remove_result_files(aligned_result_files(batch.output_dir)));
}

void say(std::ostream& out, const std::string& line) { out << line + "\n" << std::flush; }

}  // namespace korvane
