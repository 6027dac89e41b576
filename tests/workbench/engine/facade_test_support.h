// Helpers shared by the facade's tests: a configuration folder made from the bundled example and
// small synthetic samples written as .CDF files.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tools/generate_sample/sample_file.h"
#include "tools/generate_sample/synthetic_sample.h"

namespace korvane::test {

inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// prefix followed by the decimal n; written out because GCC 12 warns (-Wrestrict, a false
// positive) about a literal + std::to_string concatenation.
inline std::string numbered(const char* prefix, std::uint64_t n) {
    std::string s(prefix);
    s += std::to_string(n);
    return s;
}

// Copies examples/config into dir, replacing the value of every parameter named in overrides.
inline void write_example_config(const std::filesystem::path& dir,
                                 const std::map<std::string, std::string>& overrides = {}) {
    namespace fs = std::filesystem;
    fs::create_directories(dir);
    const fs::path example = fs::path(KORVANE_SOURCE_DIR) / "examples" / "config";
    for (const char* f : {"hmdb.csv", "Adduct_Config_Positive.csv", "Adduct_Config_Negative.csv"})
        fs::copy_file(example / f, dir / f, fs::copy_options::overwrite_existing);
    std::ofstream para(dir / "config_para.csv", std::ios::binary);
    for (const std::string& line : lines_of(read_file((example / "config_para.csv").string()))) {
        const std::string key = line.substr(0, line.find(','));
        const auto o = overrides.find(key);
        para << (o == overrides.end() ? line : key + "," + o->second) << "\n";
    }
}

// A small sample: big enough for every stage to find peaks, groups and compounds.
inline korvane::synth::Options small_sample_options(std::uint64_t seed) {
    korvane::synth::Options o;
    o.scans = 200;
    o.points_per_scan = 150;
    o.compounds = 60;
    o.seed = seed;
    o.compound_seed = 7;  // shared compounds, so alignment has something to match
    return o;
}

inline korvane::synth::Sample write_small_sample(const std::filesystem::path& file, std::uint64_t seed) {
    const korvane::synth::Sample s = korvane::synth::generate_sample(small_sample_options(seed));
    korvane::synth::write_sample_cdf(file.string(), s);
    return s;
}

}  // namespace korvane::test
