// The workbench's one holder of engine state: folders, the sample loaded for viewing, the results of
// the single stages, the run parameters and the reference tables. Every operation is thin: it takes
// its inputs from the members, calls one engine function and keeps the result in a member.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "engine/records/para_configure.h"
#include "engine/records/records.h"
#include "workbench/engine/run_outcome.h"

// Percent of the batch's files finished. Written by the in-process batch run, polled by the window
// from another thread and reset to 0 by the window when its poller ends.
extern std::atomic<double> progressValue;

namespace korvane::wb {
// The folders of one run, held by the thread that runs it. The window's thread sets the engine's
// folder members again while a run goes on (each sample it shows is loaded through them), so a
// run started on another thread takes its own copy instead of reading or writing those members.
struct Run_Folders {
    std::string config, data, output;
};
}  // namespace korvane::wb

class CKORVANE_Engine {
public:
    CKORVANE_Engine();
    ~CKORVANE_Engine();
    CKORVANE_Engine(const CKORVANE_Engine&) = delete;
    CKORVANE_Engine& operator=(const CKORVANE_Engine&) = delete;

    std::string config_file_path;  // holds "config_para.csv", the adduct tables and "hmdb.csv"
    std::string data_file_path;
    std::string data_file_Name;
    std::string output_path;
    std::string Sample_Name;

    std::uint32_t Total_Scan_Num = 0;
    std::uint32_t Total_Point_Num = 0;
    // The loaded sample's arrays, as the sample reader hands them out; all empty when nothing is
    // loaded. The points of scan i run from scan_index_arry[i] to scan_index_arry[i + 1] (the last
    // scan's up to Total_Point_Num).
    std::vector<std::uint32_t> scan_num_arry;
    std::vector<std::uint32_t> scan_index_arry;
    std::vector<std::int32_t> point_count_arry;
    std::vector<double> scan_acquisition_time_arry;
    std::vector<float> mass_value_arry;
    std::vector<float> intensity_value_arry;
    std::vector<double> total_intensity_arry;

    std::vector<Spectrum_Scan> spectrum_arry;
    std::list<Mass_Trace> mass_trace_list;
    std::vector<Chromatogram_Peak> peaklist;
    std::vector<Chromatogram_Peak_Group> peaklist_groupped;
    std::vector<Chromatogram_Peak_Group_Compound> peaklist_adduct_annotation;
    std::vector<Chromatogram_Peak_Group_Compound_Align> peaklist_align;
    Para_Configure Para;
    std::vector<adduct_configure_node> adduct_configure_arry;
    std::vector<double> mass_weight_average_arry;
    std::vector<double> mass_weight_mono_arry;

    // What the last Batch_Pipeline or Parallel_Pipeline could not process, for the message that
    // ends the run; read after the run has returned.
    korvane::wb::Run_Outcome last_run;
    // Set from another thread to end a Batch_Pipeline before its next sample; the caller clears it
    // before starting one.
    std::atomic<bool> stop_requested{false};

    // Drops the loaded sample, every stage result and the HMDB tables; keeps the folders, the
    // counts, Para and the adduct table.
    void clean_engine();
    void Config_Engine(std::string config_file_path, std::string data_file_path, std::string data_file_Name,
                       std::string output_path);
    // 1 when data_file_path/data_file_Name was read, else 0 (the previous sample is gone either way)
    // with the reason in load_failure.
    int CDF_File_Load();
    std::string load_failure;  // why the last CDF_File_Load read nothing; "" after a read
    int Config_File_Load(std::string Config_FileDir, std::string Config_File_Name);
    // 1; throws korvane::Error naming the file when it cannot be written (the earlier file stays).
    int Config_File_Save(std::string Config_FileDir, std::string Config_File_Name);
    int Adduct_File_Load(std::string Config_FileDir, std::string adduct_file);
    int HMDB_File_Load(std::string Config_FileDir, std::string adduct_file);

    // The five single stages, for programs that drive one sample step by step.
    int EIC_Extraction_Mass_Trace_mehtod();
    int Peak_Detection();
    int Peak_Grouping();
    int Peak_Annotation();
    int Compound_Alignment();

    // On the folder members (config_file_path, data_file_path, output_path).
    int Batch_Pipeline(std::vector<std::string> Selected_FileName_Vec, std::vector<int> Selected_Align_Vec);
    void Save_Run_Config_Parameter(std::vector<std::string> Selected_FileName_Vec,
                                   std::vector<int> Selected_Align_Vec, int Paral_Batch_Mode, int CPU_Num);
    // A run that failed shows the "MPI Run Failed" warning; its reason is in last_run.failure.
    void Parallel_Pipeline(std::vector<std::string> Selected_FileName_Vec, std::vector<int> Selected_Align_Vec,
                           int CPU_NUM);
    // The same on the given folders; they touch no folder member, so the window's worker can run them.
    // Of these, Parallel_Pipeline shows no warning: its caller reports a failure with its reason.
    int Batch_Pipeline(const korvane::wb::Run_Folders& folders, std::vector<std::string> Selected_FileName_Vec,
                       std::vector<int> Selected_Align_Vec);
    void Save_Run_Config_Parameter(const korvane::wb::Run_Folders& folders,
                                   std::vector<std::string> Selected_FileName_Vec,
                                   std::vector<int> Selected_Align_Vec, int Paral_Batch_Mode, int CPU_Num);
    void Parallel_Pipeline(const korvane::wb::Run_Folders& folders, int CPU_NUM);

    int Retrieve_Sub_Peaklist_with_GroupID(std::uint32_t GroupID,
                                           std::vector<Chromatogram_Peak_Group>& peaklist_sub);
    int Retrieve_Sub_Peaklist_with_CompoundID(std::uint32_t CompoundID,
                                              std::vector<Chromatogram_Peak_Group_Compound>& peaklist_sub);
    int Retrieve_Sub_Peaklist_with_AlignID(std::uint32_t AlignID,
                                           std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_sub);

    // Readers of the result databases (Path/FileName); each appends to the caller's vector.
    void Engine_Query_AlignedAnnotatedGroupedChromatographPeaklist_FromAlignDataBase(
        std::string Path, std::string FileName, int Align_ID,
        std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist);
    void Engine_Query_AnnotatedGroupedChromatographPeaklist_FromAlignDataBase(
        std::string Path, std::string FileName, int Sample_ID, int Compound_ID,
        std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist);
    void Engine_Query_GroupedChromatographPeaklist_FromAlignDataBase(
        std::string Path, std::string FileName, int Sample_ID, int Group_ID,
        std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist);
    void Engine_Query_ChromatographPeak_FromAlignDataBase(
        std::string Path, std::string FileName, int Sample_ID, int EIC_ID, int Peak_ID,
        std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist);
    void Engine_Query_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(
        std::string Path, std::string FileName, int Compound_ID,
        std::vector<Chromatogram_Peak_Group_Compound>& peaklist);
    void Engine_Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(
        std::string Path, std::string FileName, int Group_ID,
        std::vector<Chromatogram_Peak_Group_Compound>& peaklist);
    void Engine_Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(
        std::string Path, std::string FileName, int EIC_ID, int Peak_ID,
        std::vector<Chromatogram_Peak_Group_Compound>& peaklist);
    void Engine_Query_extracted_eic_FromAnnoatedDataBase(std::string Path, std::string FileName, int EIC_ID,
                                                          Mass_Trace& eic);

    // m/z-binned chromatogram of the loaded sample over all its scans.
    void Engine_EIC_extraction_binning(double mass_bin, double ppm, double bin_size, bool PPM_DA,
                                       Mass_Trace& EIC_extracted);
};

// m/z-binned chromatogram over the scans whose numbers lie in [start_scan, end_scan] (clamped to
// the sample's first and last scan numbers). The window is mass_bin +- mass_bin*ppm/1e6 when PPM_DA,
// else +- bin_size, both ends included. Appends one point per scan with a hit to EIC_shape.
void EIC_extraction_binning(std::uint32_t Total_Scan_Num, std::uint32_t Total_Point_Num, std::uint32_t start_scan,
                            std::uint32_t end_scan, const std::uint32_t* scan_num_arry,
                            const std::uint32_t* scan_index_arry, const double* scan_acquisition_time_arry,
                            const std::int32_t* point_count_arry, const float* mass_value_arry,
                            const float* intensity_value_arry, double mass_bin, double ppm, double bin_size,
                            bool PPM_DA, Mass_Trace& EIC_extracted);
void EIC_extraction_binning(std::vector<Spectrum_Scan> spectrum_arry, double mass_bin, double ppm,
                            double bin_size, bool PPM_DA, Mass_Trace& EIC_extracted);
