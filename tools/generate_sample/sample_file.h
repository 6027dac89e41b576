// Writes a synthetic sample as an ANDI-MS ".CDF" file through the sample file writer.
#pragma once

#include <string>

#include "tools/generate_sample/synthetic_sample.h"

namespace korvane::synth {

// Scan times in seconds (global "units" attribute), scan numbers 1..n as "actual_scan_number".
// Throws std::runtime_error when netCDF cannot write the file.
void write_sample_cdf(const std::string& path, const Sample& s);

}  // namespace korvane::synth
