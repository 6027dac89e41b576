// A deterministic synthetic centroided LC-MS sample, built in memory: compounds with the
// monoisotopic masses of an HMDB export elute as Gaussian profiles and show up as [M+H]+, [M+Na]+
// and 13C isotope ions, over constant background ions and random noise centroids. The same
// Options always give the same bytes (one seeded std::mt19937_64, arithmetic fixed in the source).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/records/records.h"

namespace korvane::synth {

struct Options {
    std::uint32_t scans = 2400;             // scans in the sample
    std::uint32_t points_per_scan = 1750;   // mean centroids per scan; noise fills up to it, so a scan
                                            // never has fewer than its signal and background points
    std::uint64_t seed = 1;
    std::uint64_t compound_seed = 0;        // 0: compounds come from seed; else shared by every
                                            // sample made with this compound seed
    std::string hmdb_csv;                   // "" = default_hmdb_csv()
    double scan_time_step = 0.5;            // seconds between scans
    double first_scan_time = 0.0;           // acquisition time of the first scan, seconds
    std::uint32_t compounds = 400;          // compounds drawn from the HMDB masses
    std::uint32_t background_ions = 60;     // ions present in every scan
    double min_peak_width_scans = 10.0;     // full width at half maximum of the elution profiles
    double max_peak_width_scans = 40.0;
    double mz_jitter_ppm = 3.0;             // standard deviation of the m/z jitter
    double intensity_noise = 0.05;          // relative standard deviation of multiplicative noise
    double min_mz = 50.0;                   // m/z window of the instrument
    double max_mz = 1200.0;
};

// The seven arrays exactly as necdf_read hands them out, plus the counts.
struct Sample {
    std::uint32_t Total_Scan_Num = 0;
    std::uint32_t Total_Point_Num = 0;
    std::vector<std::uint32_t> scan_num_arry;       // 1..scans
    std::vector<std::uint32_t> scan_index_arry;     // first point of each scan
    std::vector<std::int32_t> point_count_arry;     // points of each scan
    std::vector<double> scan_acquisition_time_arry; // seconds
    std::vector<float> mass_value_arry;             // ascending within each scan
    std::vector<float> intensity_value_arry;
    std::vector<double> total_intensity_arry;       // sum of the scan's intensities
};

// One compound placed in the sample, for tests that check what detection finds.
struct Planted_Compound {
    double monoisotopic_mass = 0.0;
    double apex_time = 0.0;       // seconds
    double fwhm_scans = 0.0;
    double apex_intensity = 0.0;  // of the [M+H]+ ion
};

// The HMDB export a sample is made from by default: the one installed with the program
// (<program folder>/../share/korvane/hmdb.csv under the usual layout) when it is there, else the
// source tree's examples/config/hmdb.csv, so that an installed program does not need its sources.
std::string default_hmdb_csv();
// The same for a program in program_dir.
std::string default_hmdb_csv(const std::string& program_dir);

// Builds the sample. Throws korvane::TableOpenError when the HMDB export cannot be read and
// std::invalid_argument when it holds no usable mass or the options are out of range.
Sample generate_sample(const Options& options);
Sample generate_sample(const Options& options, std::vector<Planted_Compound>& planted);

// The same sample already cut into scans (every scan, as spectrum_split gives them).
std::vector<Spectrum_Scan> generate_scans(const Options& options);

}  // namespace korvane::synth
