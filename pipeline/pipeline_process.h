// One sample through every stage, shared by the console pipeline and the workbench's batch run,
// and two small helpers of the drivers.
#pragma once

#include <string>
#include <vector>

#include "engine/records/para_configure.h"
#include "engine/records/records.h"

// Runs, in order: centroiding (when Para_Profile_Centroid is 0), intensity cut-off, mass trace
// extraction, peak detection, the peak list CSV, grouping, the grouped CSV, adduct annotation,
// the annotated CSV and the sample's database. The four files are Sample_Name followed by
// "_chromatograph_peaklist.csv", "_grouped_chromatograph_peaklist.csv",
// "_annotated_grouped_chromatograph_peaklist.csv" and "_annotated_grouped_chromatograph_peaklist.db"
// in Output_Dir. Prints the trace and peak counts. The sample's annotated compounds are appended
// to peaklist_adduct_annotated (the caller passes it empty).
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
