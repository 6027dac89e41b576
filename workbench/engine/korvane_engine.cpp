#include "workbench/engine/korvane_engine.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "engine/annotation/adduct_annotation.h"
#include "engine/annotation/alignment.h"
#include "engine/annotation/grouping.h"
#include "engine/io/netcdf_reader.h"
#include "engine/output/csv_output.h"
#include "engine/peaks/spectrum.h"
#include "engine/records/reference_tables.h"
#include "engine/records/text_util.h"
#include "engine/run/pipeline_process.h"
#include "workbench/engine/batch_driver.h"
#include "workbench/engine/launcher_state.h"
#include "workbench/engine/pipeline_launch.h"
#include "workbench/engine/platform_hooks.h"
#include "workbench/engine/result_queries.h"

std::atomic<double> progressValue{0.0};

CKORVANE_Engine::CKORVANE_Engine() = default;

CKORVANE_Engine::~CKORVANE_Engine() = default;

namespace {

template <class T>
void release(std::vector<T>& v) {
    std::vector<T>().swap(v);
}

// The seven arrays of the loaded sample.
void release_sample_arrays(CKORVANE_Engine& e) {
    release(e.scan_num_arry);
    release(e.scan_index_arry);
    release(e.point_count_arry);
    release(e.scan_acquisition_time_arry);
    release(e.mass_value_arry);
    release(e.intensity_value_arry);
    release(e.total_intensity_arry);
}

// Sorts list by key, then appends the run of records whose key equals id to sub.
template <class Record, class Less, class Key>
void append_run(std::vector<Record>& list, Less less, Key key, std::uint32_t id, std::vector<Record>& sub) {
    std::stable_sort(list.begin(), list.end(), less);
    const auto first = std::partition_point(list.begin(), list.end(), [&](const Record& r) { return key(r) < id; });
    const auto last = std::partition_point(first, list.end(), [&](const Record& r) { return key(r) == id; });
    sub.insert(sub.end(), first, last);
}

}  // namespace

void CKORVANE_Engine::clean_engine() {
    release_sample_arrays(*this);
    release(spectrum_arry);
    mass_trace_list.clear();
    release(peaklist);
    release(peaklist_groupped);
    release(peaklist_adduct_annotation);
    release(peaklist_align);
    release(mass_weight_average_arry);
    release(mass_weight_mono_arry);
}

void CKORVANE_Engine::Config_Engine(std::string config_file_path, std::string data_file_path,
                                    std::string data_file_Name, std::string output_path) {
    this->config_file_path = std::move(config_file_path);
    this->data_file_path = std::move(data_file_path);
    this->data_file_Name = std::move(data_file_Name);
    this->output_path = std::move(output_path);
}

int CKORVANE_Engine::CDF_File_Load() {
    // 1. Nothing of the previous sample survives, whatever the reader does.
    release_sample_arrays(*this);

    // 2. The file's arrays and the sample's name; scans cut from an earlier sample go.
    if (necdf_read(data_file_path, data_file_Name, Total_Scan_Num, Total_Point_Num, scan_num_arry, scan_index_arry,
                   point_count_arry, scan_acquisition_time_arry, mass_value_arry, intensity_value_arry,
                   total_intensity_arry, load_failure) != 1)
        return 0;
    Sample_Name = extract_sample_name(data_file_Name);
    release(spectrum_arry);
    return 1;
}

int CKORVANE_Engine::Config_File_Load(std::string Config_FileDir, std::string Config_File_Name) {
    return Read_Configured_ParafromCSVFile(Config_FileDir, Config_File_Name, Para) != 0 ? 1 : 0;
}

int CKORVANE_Engine::Config_File_Save(std::string Config_FileDir, std::string Config_File_Name) {
    OutputConfiguredPara2CSVFile(Para, Config_FileDir, Config_File_Name);
    return 1;
}

int CKORVANE_Engine::Adduct_File_Load(std::string Config_FileDir, std::string adduct_file) {
    adduct_configure_arry.clear();
    read_adduct_configure_file(korvane::path_join(Config_FileDir, adduct_file), adduct_configure_arry);
    return 1;
}

int CKORVANE_Engine::HMDB_File_Load(std::string Config_FileDir, std::string adduct_file) {
    mass_weight_average_arry.clear();
    mass_weight_mono_arry.clear();
    read_hmdb_file(korvane::path_join(Config_FileDir, adduct_file), mass_weight_average_arry, mass_weight_mono_arry);
    return 1;
}

int CKORVANE_Engine::EIC_Extraction_Mass_Trace_mehtod() {
    // No operation fills the scans from the loaded arrays; a program driving the stages one by
    // one gets them split here, as the per-sample pipeline does, instead of extracting nothing.
    if (spectrum_arry.empty() && !scan_num_arry.empty())
        spectrum_split(spectrum_arry, Total_Scan_Num, Total_Point_Num, Para.Para_Start_Scan, Para.Para_End_Scan,
                       scan_num_arry, scan_index_arry, scan_acquisition_time_arry, point_count_arry, mass_value_arry,
                       intensity_value_arry);
    korvane::preprocess_spectra(spectrum_arry, Para);
    mass_trace_list.clear();
    korvane::extract_mass_traces(mass_trace_list, spectrum_arry, Para);
    return 1;
}

int CKORVANE_Engine::Peak_Detection() {
    peaklist.clear();
    korvane::detect_peaks(peaklist, mass_trace_list, Para);
    OutputChromatographPeaklist2CSVFile(peaklist, output_path, Sample_Name + "_chromatograph_peaklist.csv");
    return 1;
}

int CKORVANE_Engine::Peak_Grouping() {
    peaklist_groupped.clear();
    peak_group(peaklist_groupped, peaklist, Para.Para_Group_Scan_Shift_Tol, Para.Para_Group_Shape_Angle_Th);
    OutputGroupedChromatographPeaklist2CSVFile(peaklist_groupped, output_path,
                                               Sample_Name + "_grouped_chromatograph_peaklist.csv");
    return 1;
}

int CKORVANE_Engine::Peak_Annotation() {
    LC_Polar_Mode mode = LC_Positive_Mode;
    if (Para.Para_Polarity == 0) {
        Adduct_File_Load(config_file_path, "Adduct_Config_Positive.csv");
    } else {
        Adduct_File_Load(config_file_path, "Adduct_Config_Negative.csv");
        mode = LC_Negative_Mode;
    }
    HMDB_File_Load(config_file_path, "hmdb.csv");
    peaklist_adduct_annotation.clear();
    adduct_annotation(peaklist_groupped, adduct_configure_arry, mass_weight_mono_arry, Para.Para_Annotate_Mass_Tol,
                      Para.Para_Refinement_Shape_Th, mode, peaklist_adduct_annotation);
    OutputAnnotatedGroupedChromatographPeaklist2CSVFile(peaklist_adduct_annotation, output_path,
                                                        Sample_Name + "_annotated_grouped_chromatograph_peaklist.csv");
    return 1;
}

int CKORVANE_Engine::Compound_Alignment() {
    const Compound_Align_Mode mode = Para.Para_One_Two_Phase_Align == 1 ? One_Phase_Align : Two_Phase_Align;
    compound_align(mode, Para.Para_Align_Mass_Tol, Para.Para_Align_Window1, Para.Para_Align_Window2, peaklist_align);
    OutputAlignedAnnotatedGroupedChromatographPeaklist2CSVFile(peaklist_align, output_path,
                                                               "aligned_annotated_grouped_chromatograph_peaklist.csv");
    return 1;
}

int CKORVANE_Engine::Batch_Pipeline(std::vector<std::string> Selected_FileName_Vec,
                                    std::vector<int> Selected_Align_Vec) {
    return Batch_Pipeline({config_file_path, data_file_path, output_path}, std::move(Selected_FileName_Vec),
                          std::move(Selected_Align_Vec));
}

int CKORVANE_Engine::Batch_Pipeline(const korvane::wb::Run_Folders& folders,
                                    std::vector<std::string> Selected_FileName_Vec,
                                    std::vector<int> Selected_Align_Vec) {
    peaklist_align.clear();
    korvane::wb::batch_par_pipeline_process(folders.config, folders.data, std::move(Selected_FileName_Vec),
                                            std::move(Selected_Align_Vec), folders.output, peaklist_align,
                                            stop_requested, last_run);
    return 1;
}

void CKORVANE_Engine::Save_Run_Config_Parameter(std::vector<std::string> Selected_FileName_Vec,
                                                std::vector<int> Selected_Align_Vec, int Paral_Batch_Mode,
                                                int CPU_Num) {
    Save_Run_Config_Parameter({config_file_path, data_file_path, output_path}, std::move(Selected_FileName_Vec),
                              std::move(Selected_Align_Vec), Paral_Batch_Mode, CPU_Num);
}

void CKORVANE_Engine::Save_Run_Config_Parameter(const korvane::wb::Run_Folders& folders,
                                                std::vector<std::string> Selected_FileName_Vec,
                                                std::vector<int> Selected_Align_Vec, int Paral_Batch_Mode,
                                                int CPU_Num) {
    Save_Run_Config_Parameter2CSV("Job_Run_Config.csv", folders.config, folders.data, folders.output,
                                  std::move(Selected_FileName_Vec), std::move(Selected_Align_Vec), Paral_Batch_Mode,
                                  CPU_Num);
}

void CKORVANE_Engine::Parallel_Pipeline(std::vector<std::string> /*Selected_FileName_Vec*/,
                                        std::vector<int> /*Selected_Align_Vec*/, int CPU_NUM) {
    Parallel_Pipeline({config_file_path, data_file_path, output_path}, CPU_NUM);
    // The window's run, on folders of its own, reports a failure itself in one message with the
    // reason; this form keeps the warning.
    if (korvane::wb::last_parallel_run_failed()) korvane::wb::show_message_box("MPI Run Failed", "Warning");
}

void CKORVANE_Engine::Parallel_Pipeline(const korvane::wb::Run_Folders& folders, int CPU_NUM) {
    // The job file carries the selection; the launcher gets only the folders.
    const auto [launcher, pipeline] = korvane::wb::launcher_programs();
    last_run = {};
    // The pipeline names the samples it skipped in one line of its output, and what stopped it on
    // its standard error.
    korvane::wb::Failure_Reader failure;
    korvane::wb::run_launcher(
        korvane::wb::launch_arguments(launcher, pipeline, CPU_NUM, folders.config, folders.data, folders.output),
        [this](const std::string& line) { korvane::wb::note_skipped_summary(line, last_run); },
        [&failure](const std::string& line) { failure.add(line); });
    if (korvane::wb::last_parallel_run_failed()) last_run.failure = failure.text();
}

int CKORVANE_Engine::Retrieve_Sub_Peaklist_with_GroupID(std::uint32_t GroupID,
                                                        std::vector<Chromatogram_Peak_Group>& peaklist_sub) {
    append_run(peaklist_groupped, Comp_Grouppeak_by_Group_ID,
               [](const Chromatogram_Peak_Group& r) { return r.Group_ID; }, GroupID, peaklist_sub);
    return static_cast<int>(peaklist_sub.size());
}

int CKORVANE_Engine::Retrieve_Sub_Peaklist_with_CompoundID(
    std::uint32_t CompoundID, std::vector<Chromatogram_Peak_Group_Compound>& peaklist_sub) {
    append_run(peaklist_adduct_annotation, Comp_Compoundpeak_by_Compound_ID,
               [](const Chromatogram_Peak_Group_Compound& r) { return r.Compound_ID; }, CompoundID, peaklist_sub);
    return static_cast<int>(peaklist_sub.size());
}

int CKORVANE_Engine::Retrieve_Sub_Peaklist_with_AlignID(
    std::uint32_t AlignID, std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_sub) {
    append_run(peaklist_align, Comp_Alignpeak_by_Align_ID,
               [](const Chromatogram_Peak_Group_Compound_Align& r) { return r.Align_ID; }, AlignID, peaklist_sub);
    std::stable_sort(peaklist_sub.begin(), peaklist_sub.end(), Comp_Alignpeak_by_Sample_ID);
    return static_cast<int>(peaklist_sub.size());
}

void CKORVANE_Engine::Engine_Query_AlignedAnnotatedGroupedChromatographPeaklist_FromAlignDataBase(
    std::string Path, std::string FileName, int Align_ID, std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist) {
    Query_AlignedAnnotatedGroupedChromatographPeaklist_FromAlignDataBase(std::move(Path), std::move(FileName), Align_ID,
                                                                         peaklist);
    std::stable_sort(peaklist.begin(), peaklist.end(), Comp_Alignpeak_by_Sample_ID);
}

void CKORVANE_Engine::Engine_Query_AnnotatedGroupedChromatographPeaklist_FromAlignDataBase(
    std::string Path, std::string FileName, int Sample_ID, int Compound_ID,
    std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist) {
    Query_AnnotatedGroupedChromatographPeaklist_FromAlignDataBase(std::move(Path), std::move(FileName), Sample_ID,
                                                                  Compound_ID, peaklist);
}

void CKORVANE_Engine::Engine_Query_GroupedChromatographPeaklist_FromAlignDataBase(
    std::string Path, std::string FileName, int Sample_ID, int Group_ID,
    std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist) {
    Query_GroupedChromatographPeaklist_FromAlignDataBase(std::move(Path), std::move(FileName), Sample_ID, Group_ID,
                                                         peaklist);
}

void CKORVANE_Engine::Engine_Query_ChromatographPeak_FromAlignDataBase(
    std::string Path, std::string FileName, int Sample_ID, int EIC_ID, int Peak_ID,
    std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist) {
    Query_ChromatographPeak_FromAlignDataBase(std::move(Path), std::move(FileName), Sample_ID, EIC_ID, Peak_ID,
                                              peaklist);
}

void CKORVANE_Engine::Engine_Query_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(
    std::string Path, std::string FileName, int Compound_ID, std::vector<Chromatogram_Peak_Group_Compound>& peaklist) {
    Query_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(std::move(Path), std::move(FileName), Compound_ID,
                                                                     peaklist);
}

void CKORVANE_Engine::Engine_Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(
    std::string Path, std::string FileName, int Group_ID, std::vector<Chromatogram_Peak_Group_Compound>& peaklist) {
    Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(std::move(Path), std::move(FileName), Group_ID, peaklist);
    // One peak per m/z: the plot of a group draws each ion once.
    std::stable_sort(peaklist.begin(), peaklist.end(), Comp_Compoundpeak_by_Peak_Apex_MZ);
    peaklist.erase(std::unique(peaklist.begin(), peaklist.end(), Compoundpeak_by_Unique_Peak_Apex_MZ), peaklist.end());
}

void CKORVANE_Engine::Engine_Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(
    std::string Path, std::string FileName, int EIC_ID, int Peak_ID,
    std::vector<Chromatogram_Peak_Group_Compound>& peaklist) {
    Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(std::move(Path), std::move(FileName), EIC_ID, Peak_ID,
                                                            peaklist);
}

void CKORVANE_Engine::Engine_Query_extracted_eic_FromAnnoatedDataBase(std::string Path, std::string FileName,
                                                                      int EIC_ID, Mass_Trace& eic) {
    Query_extracted_eic_FromAnnoatedDataBase(std::move(Path), std::move(FileName), EIC_ID, eic);
}

void CKORVANE_Engine::Engine_EIC_extraction_binning(double mass_bin, double ppm, double bin_size, bool PPM_DA,
                                                    Mass_Trace& EIC_extracted) {
    // The counts outlive clean_engine and a failed load; only arrays that hold what the counts
    // say are binned, anything else counts as nothing loaded.
    const bool loaded = Total_Scan_Num > 0 && scan_num_arry.size() >= Total_Scan_Num &&
                        scan_index_arry.size() >= Total_Scan_Num && scan_acquisition_time_arry.size() >= Total_Scan_Num &&
                        mass_value_arry.size() >= Total_Point_Num && intensity_value_arry.size() >= Total_Point_Num;
    const std::uint32_t scans = loaded ? Total_Scan_Num : 0;
    // Every scan: the end is the largest scan number, which the binning clamps to the last scan's.
    // The scan count would do only for files numbering their scans from 1; one numbering them from
    // 101 would lose its last hundred scans.
    const std::uint32_t end_scan = std::numeric_limits<std::uint32_t>::max();
    EIC_extraction_binning(scans, Total_Point_Num, 0, end_scan, scan_num_arry.data(), scan_index_arry.data(),
                           scan_acquisition_time_arry.data(), point_count_arry.data(), mass_value_arry.data(),
                           intensity_value_arry.data(), mass_bin, ppm, bin_size, PPM_DA, EIC_extracted);
}
