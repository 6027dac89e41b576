#include "tools/generate_sample/synthetic_sample.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <random>
#include <stdexcept>
#include <system_error>

#include "engine/peaks/spectrum.h"
#include "engine/records/reference_tables.h"
#include "engine/records/text_util.h"

namespace korvane::synth {
namespace {

constexpr double kProtonMass = 1.007276;     // [M+H]+ shift, as in the positive adduct table
constexpr double kSodiumShift = 22.989218;   // [M+Na]+ shift, as in the positive adduct table
constexpr double kC13Spacing = 1.0033548;    // 13C - 12C
constexpr double kTwoPi = 6.283185307179586;
constexpr double kFwhmPerSigma = 2.3548200450309493;  // 2 sqrt(2 ln 2)
constexpr double kSignalFloor = 100.0;        // an ion weaker than this is not centroided

// The distributions are written out here rather than taken from <random>: the standard fixes
// the engines' output but not the distributions', and the sample must be the same everywhere.
class Random {
public:
    explicit Random(std::uint64_t seed) : engine_(seed) {}
    double uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }  // [0, 1)
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    std::uint64_t below(std::uint64_t n) { return static_cast<std::uint64_t>(uniform() * static_cast<double>(n)); }
    double log_uniform(double lo, double hi) { return std::exp(uniform(std::log(lo), std::log(hi))); }
    double normal() {  // Box-Muller, cosine branch only
        const double u1 = 1.0 - uniform();  // (0, 1]
        const double u2 = uniform();
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(kTwoPi * u2);
    }

private:
    std::mt19937_64 engine_;
};

struct Ion {
    double mz = 0.0;
    double apex_scan = 0.0;
    double sigma_scans = 0.0;
    double apex_intensity = 0.0;
    std::uint32_t first_scan = 0;  // scans outside [first_scan, last_scan] are below the floor
    std::uint32_t last_scan = 0;
};

struct Point {
    float mz;
    float intensity;
};

void check_options(const Options& o) {
    if (o.scans == 0) throw std::invalid_argument("synthetic sample: scans must be at least 1");
    if (static_cast<std::uint64_t>(o.scans) * o.points_per_scan * 11 / 10 > std::numeric_limits<std::int32_t>::max())
        throw std::invalid_argument("synthetic sample: too many points for one file");
    if (!(o.min_peak_width_scans > 0.0 && o.min_peak_width_scans <= o.max_peak_width_scans))
        throw std::invalid_argument("synthetic sample: peak widths must satisfy 0 < min <= max");
    if (!(o.min_mz > 0.0 && o.min_mz < o.max_mz))
        throw std::invalid_argument("synthetic sample: m/z window must satisfy 0 < min < max");
    if (!(o.scan_time_step > 0.0)) throw std::invalid_argument("synthetic sample: scan time step must be positive");
    if (!(o.mz_jitter_ppm >= 0.0) || !(o.intensity_noise >= 0.0))
        throw std::invalid_argument("synthetic sample: noise levels must not be negative");
}

// Masses whose [M+H]+ falls inside the instrument's m/z window.
std::vector<double> usable_masses(const Options& o) {
    std::vector<double> average, mono;
    read_hmdb_file(o.hmdb_csv.empty() ? default_hmdb_csv() : o.hmdb_csv, average, mono);
    std::vector<double> usable;
    for (double m : mono)
        if (std::isfinite(m) && m > 0.0 && m + kProtonMass >= o.min_mz && m + kProtonMass <= o.max_mz)
            usable.push_back(m);
    if (usable.empty()) throw std::invalid_argument("synthetic sample: no usable monoisotopic mass in the HMDB export");
    return usable;
}

void add_ion(std::vector<Ion>& ions, const Options& o, double mz, double apex_scan, double sigma, double apex) {
    if (mz < o.min_mz || mz > o.max_mz || apex < kSignalFloor) return;
    // Gaussian above the floor: |s - apex| < sigma * sqrt(2 ln(apex / floor)).
    const double reach = sigma * std::sqrt(2.0 * std::log(apex / kSignalFloor));
    const double lo = std::max(0.0, std::ceil(apex_scan - reach));
    const double hi = std::min(static_cast<double>(o.scans - 1), std::floor(apex_scan + reach));
    if (lo > hi) return;
    ions.push_back({mz, apex_scan, sigma, apex, static_cast<std::uint32_t>(lo), static_cast<std::uint32_t>(hi)});
}

// Step 1: the compounds and their ions. With a compound seed the compounds, their elution times
// and sizes come from that seed alone, so samples made with different seeds share them like the
// samples of one experiment; each sample then shifts them a little with its own seed.
std::vector<Ion> plant_compounds(const Options& o, Random& rng, std::vector<Planted_Compound>& planted) {
    Random shared(o.compound_seed);
    const bool experiment = o.compound_seed != 0;
    Random& layout = experiment ? shared : rng;
    std::vector<double> masses = usable_masses(o);
    // Fisher-Yates, so each compound is distinct until the export runs out, then it repeats
    // (an isomer eluting elsewhere).
    for (std::size_t i = masses.size(); i > 1; --i) std::swap(masses[i - 1], masses[layout.below(i)]);
    const double margin = std::min(2.0 * o.max_peak_width_scans, o.scans / 4.0);
    std::vector<Ion> ions;
    for (std::uint32_t c = 0; c < o.compounds; ++c) {
        const double m = masses[c % masses.size()];
        double apex_scan = layout.uniform(margin, std::max(margin, o.scans - 1 - margin));
        const double fwhm = layout.uniform(o.min_peak_width_scans, o.max_peak_width_scans);
        const double sigma = fwhm / kFwhmPerSigma;
        double apex = layout.log_uniform(2.0e3, 5.0e6);
        const double sodium_ratio = layout.uniform(0.1, 0.6);
        if (experiment) {
            apex_scan = std::max(0.0, apex_scan + rng.uniform(-2.0, 2.0));
            apex *= rng.log_uniform(0.7, 1.4);
        }
        // About one carbon per 14 Da: the M+1 ratio grows with mass as 1.1 % per carbon.
        const double carbons = std::max(1.0, std::floor(m / 14.0));
        const double m1 = 0.0107 * carbons / 0.9893;
        const double m2 = m1 * m1 / 2.0;
        const double mh = m + kProtonMass, mna = m + kSodiumShift;
        add_ion(ions, o, mh, apex_scan, sigma, apex);
        add_ion(ions, o, mh + kC13Spacing, apex_scan, sigma, apex * m1);
        add_ion(ions, o, mh + 2.0 * kC13Spacing, apex_scan, sigma, apex * m2);
        add_ion(ions, o, mna, apex_scan, sigma, apex * sodium_ratio);
        add_ion(ions, o, mna + kC13Spacing, apex_scan, sigma, apex * sodium_ratio * m1);
        planted.push_back({m, o.first_scan_time + apex_scan * o.scan_time_step, fwhm, apex});
    }
    return ions;
}

}  // namespace

std::string default_hmdb_csv() {
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    return default_hmdb_csv(ec ? std::string() : program.parent_path().string());
}

std::string default_hmdb_csv(const std::string& program_dir) {
    if (!program_dir.empty()) {
        const std::string installed =
            std::filesystem::path(path_join(path_join(program_dir, KORVANE_INSTALLED_DATA_DIR), "hmdb.csv"))
                .lexically_normal()
                .string();
        std::error_code ec;
        if (std::filesystem::is_regular_file(installed, ec)) return installed;
    }
    return std::string(KORVANE_SOURCE_DIR) + "/examples/config/hmdb.csv";
}

Sample generate_sample(const Options& options) {
    std::vector<Planted_Compound> planted;
    return generate_sample(options, planted);
}

Sample generate_sample(const Options& o, std::vector<Planted_Compound>& planted) {
    check_options(o);
    Random rng(o.seed);
    const std::vector<Ion> ions = plant_compounds(o, rng, planted);

    // Step 2: background ions, present in every scan at a steady level.
    std::vector<std::pair<double, double>> background(o.background_ions);
    for (auto& b : background) b = {rng.uniform(o.min_mz, o.max_mz), rng.log_uniform(5.0e2, 5.0e4)};

    // Step 3: scan by scan, the signal, the background and enough noise centroids to reach the
    // scan's point budget, sorted by m/z.
    Sample s;
    s.Total_Scan_Num = o.scans;
    s.scan_num_arry.resize(o.scans);
    s.scan_index_arry.resize(o.scans);
    s.point_count_arry.resize(o.scans);
    s.scan_acquisition_time_arry.resize(o.scans);
    s.total_intensity_arry.resize(o.scans);
    s.mass_value_arry.reserve(static_cast<std::size_t>(o.scans) * o.points_per_scan * 21 / 20 + 16);
    s.intensity_value_arry.reserve(s.mass_value_arry.capacity());
    const double jitter = o.mz_jitter_ppm * 1e-6;
    std::vector<Point> points;
    for (std::uint32_t scan = 0; scan < o.scans; ++scan) {
        points.clear();
        for (const Ion& ion : ions) {
            if (scan < ion.first_scan || scan > ion.last_scan) continue;
            const double z = (scan - ion.apex_scan) / ion.sigma_scans;
            const double level = ion.apex_intensity * std::exp(-0.5 * z * z);
            const double intensity = level * (1.0 + o.intensity_noise * rng.normal());
            const double mz = ion.mz * (1.0 + jitter * rng.normal());
            if (intensity >= kSignalFloor) points.push_back({static_cast<float>(mz), static_cast<float>(intensity)});
        }
        for (const auto& [mz0, level] : background) {
            const double intensity = level * (1.0 + o.intensity_noise * rng.normal());
            const double mz = mz0 * (1.0 + jitter * rng.normal());
            if (intensity >= kSignalFloor) points.push_back({static_cast<float>(mz), static_cast<float>(intensity)});
        }
        // The budget varies by up to 5 % either way so scans differ in length.
        const double budget = o.points_per_scan * rng.uniform(0.95, 1.05);
        const std::size_t target = static_cast<std::size_t>(budget);
        while (points.size() < target)
            points.push_back({static_cast<float>(rng.uniform(o.min_mz, o.max_mz)),
                              static_cast<float>(rng.log_uniform(50.0, 2.0e3))});
        std::stable_sort(points.begin(), points.end(), [](const Point& a, const Point& b) { return a.mz < b.mz; });

        s.scan_num_arry[scan] = scan + 1;
        s.scan_index_arry[scan] = static_cast<std::uint32_t>(s.mass_value_arry.size());
        s.point_count_arry[scan] = static_cast<std::int32_t>(points.size());
        s.scan_acquisition_time_arry[scan] = o.first_scan_time + scan * o.scan_time_step;
        double tic = 0.0;
        for (const Point& p : points) {
            s.mass_value_arry.push_back(p.mz);
            s.intensity_value_arry.push_back(p.intensity);
            tic += p.intensity;
        }
        s.total_intensity_arry[scan] = tic;
    }
    s.Total_Point_Num = static_cast<std::uint32_t>(s.mass_value_arry.size());
    return s;
}

std::vector<Spectrum_Scan> generate_scans(const Options& options) {
    const Sample s = generate_sample(options);
    std::vector<Spectrum_Scan> scans;
    scans.reserve(s.Total_Scan_Num);
    spectrum_split(scans, s.Total_Scan_Num, s.Total_Point_Num, 0, std::numeric_limits<std::uint32_t>::max(),
                   s.scan_num_arry, s.scan_index_arry, s.scan_acquisition_time_arry, s.point_count_arry,
                   s.mass_value_arry, s.intensity_value_arry);
    return scans;
}

}  // namespace korvane::synth
