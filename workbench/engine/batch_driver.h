// The workbench's own runs: the job file "Job_Run_Config.csv" written before every run, and the
// in-process sequential batch over the selected samples. No MPI here: the workbench never links
// the console program's driver, whose batch_par_pipeline_process has another signature.
#pragma once

#include <atomic>
#include <ctime>
#include <string>
#include <vector>

#include "engine/records/records.h"
#include "workbench/engine/run_outcome.h"

// Replaces output_path/FileName with the job file the console pipeline reads after
// "-x": line 1 "Job Create Time:,<local time, asctime form>", lines 2-4 the three folders, line 5
// the run mode ("Parallel MPI,CPU Num,<n>" when Paral_Batch_Mode is 0, else "Sequential Batch"),
// line 6 the column titles, then one "<file name>,<flag>" line per selected file. The file is
// written beside its name and renamed over it once complete, so the earlier job file stays whole
// when this throws: std::out_of_range for a flag list shorter than the name list, korvane::Error
// naming the file when it cannot be written.
void Save_Run_Config_Parameter2CSV(std::string FileName, std::string config_file_path, std::string data_file_path,
                                   std::string output_path, std::vector<std::string> Selected_FileName_Vec,
                                   std::vector<int> Selected_Align_Vec, int Paral_Batch_Mode, int CPU_Num);

namespace korvane::wb {

// "Wed Dec  9 06:30:02 2026": English day and month names whatever the user's locale (the job
// file is read by people and programs alike).
std::string job_time_text(const std::tm& local_time);

// Runs every sample of the list (Selected_FileName_Vec, or the "*.CDF" files of Data_FileDir when
// it is empty) through pipeline_process in this thread, with the parameters and reference tables
// read from Config_FileDir; after sample i of N sets progressValue to (i + 1) / N * 100 (exactly
// 100 after the last). The rows of the samples that join the alignment (all of them without a
// selection, else those with a non-zero flag) are appended to peaklist_align with SAMPLE_ID i;
// when Para_One_Two_Phase_Align is above 0 and there are rows, they are aligned in place and the
// aligned CSV and database are written to Output_FileDir.
//
// Throws when "config_para.csv" cannot be read (a run on unset parameters would pass as a
// success) or, without a list, when Data_FileDir cannot be opened (a mistyped folder would pass
// as a run without samples) or holds no sample (korvane::Error, no_samples_reason's text), and
// lets the readers', stages' and database's errors through. A sample file that cannot be read,
// whose results cannot be written (they would replace an earlier sample's or the aligned ones, or
// their names would be too long) or whose processing runs out of memory is skipped with a line on
// standard error and counts as done (process_listed_sample).
void batch_par_pipeline_process(std::string Config_FileDir, std::string Data_FileDir,
                                std::vector<std::string> Selected_FileName_Vec, std::vector<int> Selected_Align_Vec,
                                std::string Output_FileDir,
                                std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_align);

// The same, saying in outcome how many samples the run was given and which it skipped and why.
// stop is looked at before each sample: once it is set the run ends there, with every file of
// the samples before complete, no aligned files written and outcome.stopped set.
void batch_par_pipeline_process(std::string Config_FileDir, std::string Data_FileDir,
                                std::vector<std::string> Selected_FileName_Vec, std::vector<int> Selected_Align_Vec,
                                std::string Output_FileDir,
                                std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_align,
                                const std::atomic<bool>& stop, Run_Outcome& outcome);

}  // namespace korvane::wb
