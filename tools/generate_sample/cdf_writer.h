// Writes ANDI-MS sample files for the sample generator and the tests, through the netCDF library
// linked directly (the engine itself loads it at run time). Besides well-formed files it can
// leave variables out, give each variable a length of its own, put the units in either place,
// and let a caller define and write extra or odd variables, so readers can be tried on broken
// files; and it can rewrite fields of a written classic header (counts, a variable's type, stored
// size or data offset) so that the header claims more than the file holds or contradicts itself.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace korvane::synth {

struct Cdf_Content {
    std::vector<double> scan_acquisition_time;
    std::vector<double> total_intensity;
    std::vector<float> mass_values;
    std::vector<float> intensity_values;
    std::vector<int> scan_index;
    std::vector<int> point_count;
    std::optional<std::vector<int>> actual_scan_number;  // absent when empty optional

    std::optional<std::string> global_units;       // global attribute "units"
    std::optional<std::string> time_values_units;  // adds a "time_values" variable with this "units"

    std::vector<std::string> omit;        // standard variables not to write at all
    bool unlimited_points = false;        // "point_number" as the record dimension
    enum class Format { classic, offset64, cdf5, netcdf4 } format = Format::classic;
    // Called in define mode after the standard variables; may add anything.
    std::function<void(int ncid)> extra_define;
    // Called in data mode after the standard variables are written; may write the extra ones.
    std::function<void(int ncid)> extra_write;
};

// Per-scan variables share "scan_number" and per-point variables "point_number" when their length
// matches scan_acquisition_time / mass_values; any other length gets a dimension of its own.
// Throws std::runtime_error with netCDF's message on failure.
void write_cdf(const std::string& path, const Cdf_Content& content);

// Throws std::runtime_error when status is not 0; for extra_define callbacks.
void nc_check(int status, const char* what);

// Rewrite, in place, the record count or the length of one dimension in the header of a classic,
// 64-bit-offset or CDF-5 file. Throw std::runtime_error when the file has no such header or dimension,
// or cannot be written back, and when the count does not fit the format's field (4 bytes, 8 in
// CDF-5, whose all-ones "streaming" count needs them all).
void set_record_count(const std::string& path, std::uint64_t records);
void set_dimension_length(const std::string& path, const std::string& dimension, std::uint32_t length);

// Read or rewrite, in place, one field of a variable's entry in such a header: its type code, its
// stored size (vsize) or the offset of its data. Throw std::runtime_error as above.
enum class Variable_Field { type, vsize, begin };
std::uint64_t variable_field(const std::string& path, const std::string& variable, Variable_Field field);
void set_variable_field(const std::string& path, const std::string& variable, Variable_Field field,
                        std::uint64_t value);

}  // namespace korvane::synth
