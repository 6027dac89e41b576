// KORVANE_GenerateSample: writes the synthetic sample of korvane_synth as an ANDI-MS ".CDF" file.
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

#include "engine/records/error.h"
#include "tools/generate_sample/sample_file.h"

namespace {

const char* const kUsage =
    "usage: KORVANE_GenerateSample --output FILE.CDF [--scans N] [--points N] [--seed N] [--compound-seed N]\n"
    "                              [--hmdb hmdb.csv]\n"
    "  --scans   number of scans (default 2400)\n"
    "  --points  mean centroids per scan (default 1750)\n"
    "  --seed    random seed (default 1); the same options always give the same file\n"
    "  --compound-seed  samples made with the same compound seed share their compounds (default 0:\n"
    "            the compounds come from --seed)\n"
    "  --hmdb    compound masses (default: the installed share/korvane/hmdb.csv, else the bundled\n"
    "            examples/config/hmdb.csv)\n";

unsigned long long parse_count(const std::string& option, const std::string& text,
                               unsigned long long max = 0xFFFFFFFFull) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || text[0] == '-' || errno == ERANGE || value > max)
        throw std::invalid_argument("bad number for " + option + ": " + text);
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        korvane::synth::Options options;
        std::string output;
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--help" || arg == "-h") {
                std::cout << kUsage;
                return 0;
            }
            if (i + 1 >= argc) throw std::invalid_argument("missing value after " + arg);
            const std::string value = argv[++i];
            if (arg == "--output") output = value;
            else if (arg == "--scans") options.scans = static_cast<std::uint32_t>(parse_count(arg, value));
            else if (arg == "--points") options.points_per_scan = static_cast<std::uint32_t>(parse_count(arg, value));
            else if (arg == "--seed") options.seed = parse_count(arg, value, ~0ull);
            else if (arg == "--compound-seed") options.compound_seed = parse_count(arg, value, ~0ull);
            else if (arg == "--hmdb") options.hmdb_csv = value;
            else throw std::invalid_argument("unknown option " + arg);
        }
        if (output.empty()) throw std::invalid_argument("--output is required");

        const korvane::synth::Sample s = korvane::synth::generate_sample(options);
        korvane::synth::write_sample_cdf(output, s);
        std::cout << "Wrote " << output << ": " << s.Total_Scan_Num << " scans, " << s.Total_Point_Num << " points"
                  << std::endl;
        return 0;
    } catch (...) {
        std::cerr << "KORVANE_GenerateSample: " << korvane::describe_current_exception() << '\n' << kUsage;
        return 1;
    }
}
