#include "tools/generate_sample/sample_file.h"

#include "tools/generate_sample/cdf_writer.h"

namespace korvane::synth {

void write_sample_cdf(const std::string& path, const Sample& s) {
    korvane::synth::Cdf_Content c;
    c.scan_acquisition_time = s.scan_acquisition_time_arry;
    c.total_intensity = s.total_intensity_arry;
    c.mass_values = s.mass_value_arry;
    c.intensity_values = s.intensity_value_arry;
    c.scan_index.assign(s.scan_index_arry.begin(), s.scan_index_arry.end());
    c.point_count.assign(s.point_count_arry.begin(), s.point_count_arry.end());
    c.actual_scan_number.emplace(s.scan_num_arry.begin(), s.scan_num_arry.end());
    c.global_units = "Seconds";
    korvane::synth::write_cdf(path, c);
}

}  // namespace korvane::synth
