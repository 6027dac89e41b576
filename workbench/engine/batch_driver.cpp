#include "workbench/engine/batch_driver.h"

#include <cstdio>
#include <ostream>
#include <sstream>
#include <utility>

#include "engine/io/netcdf_reader.h"
#include "engine/records/error.h"
#include "engine/records/para_configure.h"
#include "engine/records/result_file.h"
#include "engine/records/text_util.h"
#include "engine/run/pipeline_process.h"
#include "engine/run/sample_batch.h"
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

namespace {

void write_job_file(std::ostream& out, const std::string& config_file_path, const std::string& data_file_path,
                    const std::string& output_path, const std::vector<std::string>& Selected_FileName_Vec,
                    const std::vector<int>& Selected_Align_Vec, int Paral_Batch_Mode, int CPU_Num) {
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

}  // namespace

void Save_Run_Config_Parameter2CSV(std::string FileName, std::string config_file_path, std::string data_file_path,
                                   std::string output_path, std::vector<std::string> Selected_FileName_Vec,
                                   std::vector<int> Selected_Align_Vec, int Paral_Batch_Mode, int CPU_Num) {
    // A Parallel Run's pipeline reads whatever job file is on disk: a stale or cut-short one would
    // run other samples than those selected, so it is replaced whole or not at all.
    std::ostringstream text;
    write_job_file(text, config_file_path, data_file_path, output_path, Selected_FileName_Vec, Selected_Align_Vec,
                   Paral_Batch_Mode, CPU_Num);
    korvane::replace_whole_file(korvane::path_join(output_path, FileName), text.str());
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

void korvane::wb::batch_par_pipeline_process(std::string Config_FileDir, std::string Data_FileDir,
                                             std::vector<std::string> Selected_FileName_Vec,
                                             std::vector<int> Selected_Align_Vec, std::string Output_FileDir,
                                             std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_align,
                                             const std::atomic<bool>& stop, Run_Outcome& outcome) {
    // 1. Configuration, read from the folder (the window's unsaved edits do not take part), and
    //    the sample list.
    const korvane::Sample_Batch batch = korvane::open_sample_batch(Config_FileDir, Data_FileDir, Output_FileDir,
                                                                   Selected_FileName_Vec, Selected_Align_Vec, false);
    // A folder without samples is a failed run, not one that completes having done nothing.
    if (const std::string none = korvane::no_samples_reason(batch); !none.empty()) throw korvane::Error(none);
    const std::size_t N = batch.files.size();
    outcome = Run_Outcome{};
    outcome.total = N;

    // 2. Every sample in this thread, in list order, until a stop is asked for. Without a usable
    //    netCDF library every sample would be skipped as unreadable.
    if (N > 0) korvane::require_netcdf_library();
    for (std::size_t i = 0; i < N && !stop.load(); ++i) {
        if (auto skip = korvane::process_listed_sample(batch, i, peaklist_align))
            outcome.skipped.push_back(std::move(*skip));
        // Computed in doubles, so the last sample gives exactly 100 (N / N is exactly 1).
        progressValue = static_cast<double>(i + 1) / static_cast<double>(N) * 100.0;
    }

    // 3. Alignment of the collected rows and the two aligned files. A stopped run aligns nothing:
    //    aligned files over a part of the selection would pass for the whole run's.
    outcome.stopped = stop.load();
    korvane::finish_alignment(batch, peaklist_align, !outcome.stopped);
}
