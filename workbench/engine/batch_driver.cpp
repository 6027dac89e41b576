#include "workbench/engine/batch_driver.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <utility>

#include "engine/io/netcdf_reader.h"
#include "engine/io/sample_listing.h"
#include "engine/records/para_configure.h"
#include "engine/records/text_util.h"
#include "pipeline/pipeline_process.h"
#include "workbench/engine/korvane_engine.h"

std::string korvane::wb::job_time_text(const std::tm& t) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %d", kDays[(t.tm_wday % 7 + 7) % 7],
                  kMonths[(t.tm_mon % 12 + 12) % 12], t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_year + 1900);
    return text;
}

void Save_Run_Config_Parameter2CSV(std::string FileName, std::string config_file_path, std::string data_file_path,
                                   std::string output_path, std::vector<std::string> Selected_FileName_Vec,
                                   std::vector<int> Selected_Align_Vec, int Paral_Batch_Mode, int CPU_Num) {
    std::ofstream out(korvane::path_join(output_path, FileName), std::ios::binary | std::ios::trunc);
    if (!out) return;

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    out << "Job Create Time:" << "," << korvane::wb::job_time_text(local) << "\n";
    out << "Config Parameter Path" << "," << config_file_path << "\n";
    out << "Data File Path" << "," << data_file_path << "\n";
    out << "Output Path" << "," << output_path << "\n";
    if (Paral_Batch_Mode == 0)
        out << "Run Mode" << "," << "Parallel MPI" << "," << "CPU Num" << "," << CPU_Num << "\n";
    else
        out << "Run Mode" << "," << "Sequential Batch" << "\n";
    out << "Process File Name" << "," << "Aligned" << "\n";
    for (std::size_t i = 0; i < Selected_FileName_Vec.size(); ++i) {
        out << Selected_FileName_Vec[i] << ",";
        out << Selected_Align_Vec.at(i) << "\n";
    }
}

void korvane::wb::batch_par_pipeline_process(std::string Config_FileDir, std::string Data_FileDir,
                                             std::vector<std::string> Selected_FileName_Vec,
                                             std::vector<int> Selected_Align_Vec, std::string Output_FileDir,
                                             std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_align) {
    const std::atomic<bool> never{false};
    Run_Outcome outcome;
    batch_par_pipeline_process(std::move(Config_FileDir), std::move(Data_FileDir), std::move(Selected_FileName_Vec),
                               std::move(Selected_Align_Vec), std::move(Output_FileDir), peaklist_align, never,
                               outcome);
}

namespace {

// One sample through the pipeline into compounds; the reason when it is skipped, else "".
std::string process_sample(const std::string& data_dir, const std::string& file, bool repeated,
                           const korvane::Run_Configuration& config, const std::string& output_dir,
                           std::vector<Chromatogram_Peak_Group_Compound>& compounds) {
    if (std::string reason = korvane::refuse_listed_sample(file, repeated); !reason.empty()) return reason;
    std::vector<Spectrum_Scan> scans;
    if (std::string reason = korvane::read_listed_sample(data_dir, output_dir, file, config.para, scans);
        !reason.empty())
        return reason;
    pipeline_process(std::move(scans), config.para, config.adducts, config.hmdb_mono_masses,
                     extract_sample_name(file), output_dir, compounds);
    return {};
}

}  // namespace

void korvane::wb::batch_par_pipeline_process(std::string Config_FileDir, std::string Data_FileDir,
                                             std::vector<std::string> Selected_FileName_Vec,
                                             std::vector<int> Selected_Align_Vec, std::string Output_FileDir,
                                             std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_align,
                                             const std::atomic<bool>& stop, Run_Outcome& outcome) {
    // 1. Configuration, read from the folder: the window's unsaved edits do not take part.
    const korvane::Run_Configuration config = korvane::read_run_configuration(Config_FileDir);

    // 2. The sample list.
    std::vector<std::string> files;
    if (!Selected_FileName_Vec.empty())
        files = Selected_FileName_Vec;
    else
        load_filename_from_filedir(Data_FileDir, "*.CDF", files);
    const std::size_t N = files.size();
    outcome = Run_Outcome{};
    outcome.total = N;
    // An empty list is a finished run; the window's poller waits for exactly 100.
    if (N == 0) progressValue = 100.0;

    // 3. Every sample in this thread, in list order, until a stop is asked for. Without a usable
    //    netCDF library every sample would be skipped as unreadable.
    if (N > 0) korvane::require_netcdf_library();
    const std::vector<bool> repeated = korvane::find_repeated_names(files);
    for (std::size_t i = 0; i < N && !stop.load(); ++i) {
        std::vector<Chromatogram_Peak_Group_Compound> compounds;
        if (std::string reason = process_sample(Data_FileDir, files[i], repeated[i], config, Output_FileDir, compounds);
            !reason.empty())
            outcome.skipped.push_back({files[i], std::move(reason)});

        // Computed in doubles, so the last sample gives exactly 100 (N / N is exactly 1).
        progressValue = static_cast<double>(i + 1) / static_cast<double>(N) * 100.0;

        const bool joins_alignment =
            Selected_FileName_Vec.empty() || (!Selected_Align_Vec.empty() && Selected_Align_Vec.at(i) != 0);
        if (joins_alignment)
            korvane::append_align_rows(compounds, static_cast<std::uint32_t>(i), extract_sample_name(files[i]),
                                       peaklist_align);
    }

    // 4. Alignment of the collected rows and the two aligned files. A stopped run aligns nothing:
    //    aligned files over a part of the selection, or an earlier run's beside this run's sample
    //    files, would pass for the whole run's.
    outcome.stopped = stop.load();
    if (outcome.stopped || !korvane::align_and_write_rows(config.para, peaklist_align, Output_FileDir))
        korvane::remove_earlier_aligned_files(Output_FileDir);
}
