#include "workbench/engine/batch_driver.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <stdexcept>
#include <utility>

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

namespace {

using Align_Row = Chromatogram_Peak_Group_Compound_Align;

struct Run_Configuration {
    Para_Configure para;
    std::vector<adduct_configure_node> adducts;
    std::vector<double> hmdb_mono_masses;
};

Run_Configuration read_run_configuration(const std::string& config_dir) {
    Run_Configuration c;
    if (Read_Configured_ParafromCSVFile(config_dir, "config_para.csv", c.para) == 0)
        throw std::runtime_error("Parameter file could not be opened: " +
                                 korvane::path_join(config_dir, "config_para.csv"));
    const char* adduct_file =
        c.para.Para_Polarity == 0 ? "Adduct_Config_Positive.csv" : "Adduct_Config_Negative.csv";
    read_adduct_configure_file(korvane::path_join(config_dir, adduct_file), c.adducts);
    std::vector<double> average_masses;  // read with the monoisotopic ones, used by no stage
    read_hmdb_file(korvane::path_join(config_dir, "hmdb.csv"), average_masses, c.hmdb_mono_masses);
    return c;
}

// One sample's scans; false when its file cannot be read. The seven arrays die here, before the
// sample is processed.
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
    return true;
}

void append_align_rows(std::vector<Chromatogram_Peak_Group_Compound>& compounds, std::uint32_t sample_id,
                       const std::string& sample_name, std::vector<Align_Row>& rows) {
    for (Chromatogram_Peak_Group_Compound& c : compounds) {
        Align_Row r;
        r.Peak_shape = std::move(c.Peak_shape);
        korvane::copy_peak_scalars(c, r);
        r.Group_ID = c.Group_ID;
        r.Adduct_Annotation = std::move(c.Adduct_Annotation);
        r.Compound_ID = c.Compound_ID;
        r.Compound_MolecularMass = c.Compound_MolecularMass;
        r.Compound_Retention_Time = c.Compound_Retention_Time;
        r.Compound_Intensity = c.Compound_Intensity;
        r.SAMPLE_ID = sample_id;
        r.SAMPLE_NAME = sample_name;
        r.Align_ID = 0;
        r.Align_RT = 0.0;
        rows.push_back(std::move(r));
    }
}

}  // namespace

void korvane::wb::batch_par_pipeline_process(std::string Config_FileDir, std::string Data_FileDir,
                                             std::vector<std::string> Selected_FileName_Vec,
                                             std::vector<int> Selected_Align_Vec, std::string Output_FileDir,
                                             std::vector<Align_Row>& peaklist_align) {
    // 1. Configuration, read from the folder: the window's unsaved edits do not take part.
    const Run_Configuration config = read_run_configuration(Config_FileDir);
    const Para_Configure& para = config.para;

    // 2. The sample list.
    std::vector<std::string> files;
    if (!Selected_FileName_Vec.empty())
        files = Selected_FileName_Vec;
    else
        load_filename_from_filedir(Data_FileDir, "*.CDF", files);
    const std::size_t N = files.size();
    // An empty list is a finished run; the window's poller waits for exactly 100.
    if (N == 0) progressValue = 100.0;

    // 3. Every sample in this thread, in list order.
    std::set<std::string> names_seen;
    for (std::size_t i = 0; i < N; ++i) {
        const std::string& file = files[i];
        const std::string sample_name = extract_sample_name(file);
        std::vector<Chromatogram_Peak_Group_Compound> compounds;

        if (!names_seen.insert(sample_name).second) {
            std::cerr << "Sample " << file << " skipped: its name " << sample_name
                      << " repeats an earlier sample, whose result files it would overwrite" << std::endl;
        } else {
            std::vector<Spectrum_Scan> scans;
            if (load_scans(Data_FileDir, file, para, scans))
                pipeline_process(std::move(scans), para, config.adducts, config.hmdb_mono_masses, sample_name,
                                 Output_FileDir, compounds);
            else
                std::cerr << "Sample file could not be read, skipped: " << korvane::path_join(Data_FileDir, file)
                          << std::endl;
        }

        // Computed in doubles, so the last sample gives exactly 100 (N / N is exactly 1).
        progressValue = static_cast<double>(i + 1) / static_cast<double>(N) * 100.0;

        const bool joins_alignment =
            Selected_FileName_Vec.empty() || (!Selected_Align_Vec.empty() && Selected_Align_Vec.at(i) != 0);
        if (joins_alignment) append_align_rows(compounds, static_cast<std::uint32_t>(i), sample_name, peaklist_align);
    }

    // 4. Alignment of the collected rows and the two aligned files.
    if (para.Para_One_Two_Phase_Align > 0 && !peaklist_align.empty()) {
        const Compound_Align_Mode mode = para.Para_One_Two_Phase_Align == 1 ? One_Phase_Align : Two_Phase_Align;
        compound_align(mode, para.Para_Align_Mass_Tol, para.Para_Align_Window1, para.Para_Align_Window2,
                       peaklist_align);
        OutputAlignedAnnotatedGroupedChromatographPeaklist2CSVFile(peaklist_align, Output_FileDir,
                                                                   "aligned_annotated_grouped_chromatograph_peaklist.csv");
        OutputAlignedAnnotatedGroupedChromatographPeaklist2database(
            peaklist_align, Output_FileDir, "aligned_annotated_grouped_chromatograph_peaklist.aligndb");
    }
}
