#include "engine/peaks/peak_detection.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>

#include "engine/peaks/peak_measures.h"
#include "engine/peaks/wavelet.h"
#include "engine/records/variant.h"

namespace {

// Scan gaps up to this long are bridged by interpolating between their ends; in longer ones the
// missing scans read as zero intensity at the trace's centre mass.
constexpr std::int32_t kLongestInterpolatedGap = 10;
// A scale's maxima must stand this fraction of its largest coefficient above their neighbourhood.
constexpr double kScaleMaximumDelta = 0.03;

// Signed distance between two signal indices.
std::int64_t distance(std::uint32_t a, std::uint32_t b) {
    return std::llabs(static_cast<std::int64_t>(a) - static_cast<std::int64_t>(b));
}

// The maximum of `candidates` (ascending position) a branch links to: within the link window of
// its last point and within marker_pos_dif_th of its max_point; the nearest to the last point,
// the smaller position on a tie. Returns candidates.size() when there is none.
std::size_t choose_link(const std::vector<CWT_Data_Point>& candidates, const korvane::detail::Ridge& branch,
                        std::int64_t window, std::int32_t marker_pos_dif_th) {
    const std::size_t none = candidates.size();
    if (window <= 0) return none;
    const std::int64_t last = branch.last.position;
    // First candidate inside the window: position > last - window.
    auto it = std::partition_point(candidates.begin(), candidates.end(), [&](const CWT_Data_Point& q) {
        return static_cast<std::int64_t>(q.position) <= last - window;
    });
    std::size_t chosen = none;
    std::int64_t best = 0;
    for (; it != candidates.end() && static_cast<std::int64_t>(it->position) < last + window; ++it) {
        if (!(distance(it->position, branch.max_point.position) < marker_pos_dif_th)) continue;
        const std::int64_t d = distance(it->position, branch.last.position);
        if (chosen == none || d < best) {
            chosen = static_cast<std::size_t>(it - candidates.begin());
            best = d;
        }
    }
    return chosen;
}

korvane::detail::Ridge seed_ridge(const CWT_Data_Point& point) { return {point, point, 0, 1}; }

const CWT_Data_Point* end_point(const Peak_Branch& b) { return b.points.empty() ? nullptr : &b.points.back(); }
const CWT_Data_Point* end_point(const korvane::detail::Ridge& r) { return &r.last; }

// unique_branch_test for either record of a ridge line.
template <class List, class Branch>
void offer_branch(List& list, Branch new_branch, std::int32_t Span_min) {
    if (const CWT_Data_Point* nl = end_point(new_branch)) {
        const CWT_Data_Point& nm = new_branch.max_point;
        for (auto& listed : list) {
            const CWT_Data_Point* last = end_point(listed);
            if (last == nullptr) continue;
            const bool match = distance(nm.scale, listed.max_point.scale) <= Span_min &&
                               distance(nm.position, listed.max_point.position) <= Span_min &&
                               last->scale == nl->scale && last->position == nl->position;
            if (!match) continue;
            if (new_branch.length > listed.length) listed = std::move(new_branch);
            return;
        }
    }
    list.push_back(std::move(new_branch));
}

// Which positions the end points of the branches of one de-duplication pass already take. A
// branch whose end point lies at a position not yet taken cannot be a duplicate of any branch
// before it; one at a taken position may be (the scale decides), so it gets the full test. Marks
// carry the pass number, so a new pass needs no clearing; the table is kept per thread and holds
// one mark per position, small enough to stay in cache.
struct EndPointMarks {
    std::uint64_t epoch = 0;
    std::vector<std::uint64_t>& marks;

    EndPointMarks(const std::vector<std::vector<CWT_Data_Point>>& maxima_by_scale, std::uint32_t top_scale,
                  std::uint32_t Scale_Min)
        : marks(table()) {
        std::uint32_t largest_position = 0;
        for (std::uint32_t s = Scale_Min; s <= top_scale; ++s) {
            const std::vector<CWT_Data_Point>& points = maxima_by_scale[s - Scale_Min];
            if (!points.empty()) largest_position = std::max(largest_position, points.back().position);
        }
        if (marks.size() <= largest_position) marks.resize(std::size_t{largest_position} + 1, 0);
    }
    void new_pass() { epoch = ++last_epoch(); }
    // Marks p's position; true when it was not yet taken in this pass.
    bool mark(const CWT_Data_Point& p) {
        std::uint64_t& m = marks[p.position];
        if (m == epoch) return false;
        m = epoch;
        return true;
    }
    static std::vector<std::uint64_t>& table() {
        thread_local std::vector<std::uint64_t> t;
        return t;
    }
    static std::uint64_t& last_epoch() {
        thread_local std::uint64_t e = 0;
        return e;
    }
};

}  // namespace

namespace korvane::detail {

EicSignal build_eic_signal(const Mass_Trace& eic, std::uint32_t EIC_ID) {
    const std::vector<Data_Point>& points = eic.EIC_shape;
    EicSignal signal;
    // Every rising scan adds as many entries as it climbs.
    std::size_t length = points.empty() ? 0 : 1;
    for (std::size_t p = 1; p < points.size(); ++p) {
        const auto gap = static_cast<std::int32_t>(points[p].scan_num - points[p - 1].scan_num);
        if (gap > 0) length += static_cast<std::size_t>(gap);
    }
    signal.intensity.reserve(length);
    signal.mz.reserve(length);
    signal.retention_time.reserve(length);
    auto append = [&](double i, double m, double r) {
        signal.intensity.push_back(i);
        signal.mz.push_back(m);
        signal.retention_time.push_back(r);
    };
    if (points.empty()) return signal;
    signal.first_scan = points.front().scan_num;
    append(points[0].intensity, points[0].mz, points[0].retention_time);
    for (std::size_t p = 1; p < points.size(); ++p) {
        // A point that fails still becomes the previous point of the next gap.
        const Data_Point& prev = points[p - 1];
        const Data_Point& cur = points[p];
        const auto gap = static_cast<std::int32_t>(cur.scan_num - prev.scan_num);
        if (gap == 1) {
            append(cur.intensity, cur.mz, cur.retention_time);
        } else if (gap >= 2 && gap <= kLongestInterpolatedGap) {
            for (std::int32_t k = 1; k <= gap; ++k) {
                const double f = static_cast<double>(k) / gap;
                append((1 - f) * prev.intensity + f * cur.intensity, (1 - f) * prev.mz + f * cur.mz,
                       (1 - f) * prev.retention_time + f * cur.retention_time);
            }
        } else if (gap > kLongestInterpolatedGap) {
            for (std::int32_t k = 1; k <= gap - 1; ++k) {
                const double f = static_cast<double>(k) / gap;
                append(0.0, eic.Cent_Mass, (1 - f) * prev.retention_time + f * cur.retention_time);
            }
            append(cur.intensity, cur.mz, cur.retention_time);
        } else {
            std::cout << "EIC cwt peak detection failed at EIC_ID=" << EIC_ID << std::endl;
        }
    }
    return signal;
}

void link_ridge_lines(std::vector<std::vector<CWT_Data_Point>>& maxima_by_scale, std::uint32_t top_scale,
                      std::uint32_t Scale_Min, std::int32_t branch_gap_allow, std::int32_t min_branch_length,
                      std::int32_t span_min, std::int32_t marker_pos_dif_th, std::vector<Ridge>& ridges) {
    ridges.clear();
    if (top_scale < Scale_Min) return;
    EndPointMarks end_points(maxima_by_scale, top_scale, Scale_Min);
    for (const CWT_Data_Point& point : maxima_by_scale[top_scale - Scale_Min]) ridges.push_back(seed_ridge(point));

    thread_local std::vector<Ridge> unique;
    // Counting down from top_scale - 1 to Scale_Min; nothing runs when top_scale <= Scale_Min.
    for (std::uint32_t s = top_scale; s-- > Scale_Min;) {
        std::vector<CWT_Data_Point>& maxima = maxima_by_scale[s - Scale_Min];

        // 1. Extend every branch by the nearest acceptable maximum; two branches may share one.
        const std::int64_t window = std::max<std::int64_t>(static_cast<std::int32_t>(s), span_min);
        for (Ridge& ridge : ridges) {
            ++ridge.gap_count;
            const std::size_t chosen = choose_link(maxima, ridge, window, marker_pos_dif_th);
            if (chosen == maxima.size()) continue;
            CWT_Data_Point& q = maxima[chosen];
            q.linked = true;
            ridge.last = q;
            ++ridge.length;
            ridge.gap_count = 0;
            // On a tie the point of the larger scale stays the ridge's maximum.
            if (q.coefficient > ridge.max_point.coefficient) ridge.max_point = q;
        }

        // 2. Prune branches that stopped early; a branch that is already long enough stays.
        std::erase_if(ridges,
                      [&](const Ridge& r) { return r.gap_count > branch_gap_allow && r.length < min_branch_length; });

        // 3. Keep one branch per shared end point. A branch whose end point no branch of the new
        // list can share moves over directly, as unique_branch_test would append it; only the
        // others need the test.
        if (ridges.size() > 1) {
            end_points.new_pass();
            unique.clear();
            for (const Ridge& ridge : ridges) {
                if (end_points.mark(ridge.last)) {
                    unique.push_back(ridge);
                } else {
                    offer_branch(unique, ridge, span_min);
                }
            }
            ridges.swap(unique);
        }

        // 4. Maxima no branch took start branches of their own.
        for (const CWT_Data_Point& point : maxima)
            if (!point.linked) ridges.push_back(seed_ridge(point));
    }
}

}  // namespace korvane::detail

void unique_branch_test(std::list<Peak_Branch>& Peak_branch_list_trim, Peak_Branch new_branch, std::int32_t Span_min) {
    offer_branch(Peak_branch_list_trim, std::move(new_branch), Span_min);
}

namespace {

// Working storage of cwt_peak_detection, kept per thread and reused from trace to trace:
// by_scale[s - lower] holds the maxima of scale s.
struct ScaleMaxima {
    std::vector<std::vector<CWT_Data_Point>> by_scale;
    std::vector<korvane::detail::Ridge> ridges;
    std::vector<double> coefficients, scale_one;
    std::vector<std::uint32_t> positions;
};

// The maxima of one scale's coefficients, as local_max_min_det finds them with value_delta
// kScaleMaximumDelta times the largest coefficient, into points.
void scale_maxima(const std::vector<double>& coefficients, double largest, std::uint32_t scale,
                  std::uint32_t pos_delta, std::vector<std::uint32_t>& positions,
                  std::vector<CWT_Data_Point>& points) {
    positions.clear();
    korvane::detail::alternating_maxima(coefficients, kScaleMaximumDelta * largest, pos_delta, positions);
    points.clear();
    for (const std::uint32_t p : positions) points.push_back({scale, p, coefficients[p], false});
}

}  // namespace

void cwt_peak_detection(std::vector<Detect_Peak>& Detect_Peak_List, std::vector<double> signal_data,
                        std::uint32_t Scale_Max, std::uint32_t Scale_Min, std::int32_t branch_gap_allow,
                        std::int32_t min_branch_length, std::int32_t span_min, std::int32_t marker_pos_dif_th) {
    // 1. Checks of the scales and the signal length.
    if (Scale_Min < 1) std::cout << "Scale must be larger than 0" << std::endl;
    if (Scale_Max - Scale_Min < 1) {  // unsigned: only equal scales stop here
        std::cout << "Scale Number is not enoguh!" << std::endl;
        return;
    }
    const std::size_t n = signal_data.size();
    if (n < 6) {
        std::cout << "Signal Size is too small!" << std::endl;
        return;
    }
    // Scale 0 lies outside the transform; no scale loop runs below 1. An upper scale below the
    // lower one leaves no scale with maxima, hence no peaks.
    const std::uint32_t lower = std::max<std::uint32_t>(Scale_Min, 1);
    if (Scale_Max < lower) return;

    // 2. Coefficients and maxima scale by scale from the top down, each scale's coefficients
    // dropped once its maxima are known. The top scale is the first that has maxima; when it is
    // too low for a branch of min_branch_length (unsigned arithmetic, as the scales are), the
    // scales below it are never read.
    thread_local ScaleMaxima maxima;
    if (maxima.by_scale.size() < Scale_Max - lower + 1) maxima.by_scale.resize(Scale_Max - lower + 1);
    const auto pos_delta = static_cast<std::uint32_t>(std::min<std::size_t>(n / 4, 3));
    thread_local korvane::detail::SignalTransform transform;
    transform.reset(signal_data);
    std::vector<double>& scale_one = maxima.scale_one;
    scale_one.clear();
    std::uint32_t top = 0;
    bool top_found = false;
    for (std::uint32_t s = Scale_Max; s >= lower; --s) {
        std::vector<double>& coef = s == 1 ? scale_one : maxima.coefficients;  // scale 1 is read again
        const double largest = transform.coefficients(s, coef);
        std::vector<CWT_Data_Point>& points = maxima.by_scale[s - lower];
        scale_maxima(coef, largest, s, pos_delta, maxima.positions, points);
        if (!top_found && !points.empty()) {
            top = s;
            top_found = true;
            if (top <= lower + static_cast<std::uint32_t>(min_branch_length) - 1) return;
        }
    }
    if (!top_found) return;  // no scale has maxima, so no branch is ever seeded

    // 3. Ridge lines.
    korvane::detail::link_ridge_lines(maxima.by_scale, top, lower, branch_gap_allow, min_branch_length, span_min,
                                      marker_pos_dif_th, maxima.ridges);

    // 4. One peak per ridge line long enough and still alive at the lowest scale.
    for (const korvane::detail::Ridge& branch : maxima.ridges) {
        if (!(branch.length >= min_branch_length && branch.gap_count <= branch_gap_allow)) continue;
        const CWT_Data_Point& mp = branch.max_point;
        Detect_Peak peak;
        peak.Apex_Pos = mp.position;
        peak.Apex_Intensity = signal_data[mp.position];
        const std::int64_t left = std::max<std::int64_t>(0, static_cast<std::int64_t>(mp.position) - mp.scale);
        const std::int64_t right =
            std::min<std::int64_t>(static_cast<std::int64_t>(n) - 1, static_cast<std::int64_t>(mp.position) + mp.scale);
        peak.Left_Boundary = static_cast<std::uint32_t>(left);
        peak.Right_Boundary = static_cast<std::uint32_t>(right);
        peak.Peak_Area = korvane::detail::peak_area(signal_data, peak.Left_Boundary, peak.Right_Boundary);

        if (scale_one.empty()) transform.coefficients(1, scale_one);
        // An apex at index 0 takes its noise from index 2 on.
        const std::int64_t noise_from = peak.Apex_Pos == 0 ? 2 : left;
        std::vector<double> noise;
        if (noise_from <= right) noise.assign(scale_one.begin() + noise_from, scale_one.begin() + right + 1);
        peak.Peak_SNR = New_Calculate_Peak_SNR(mp.coefficient, std::move(noise));
        Detect_Peak_List.push_back(peak);
    }
}

void eic_cwt_peak_detection(std::vector<Chromatogram_Peak>& EIC_Chromatograph_Peak_list, Mass_Trace eic,
                            std::uint32_t EIC_ID, std::uint32_t Scale_Max, std::uint32_t Scale_Min,
                            std::int32_t branch_gap_allow, std::int32_t min_branch_length, std::int32_t span_min,
                            std::int32_t marker_pos_dif_th) {
    // 1. Signal.
    korvane::detail::EicSignal signal = korvane::detail::build_eic_signal(eic, EIC_ID);
    const std::uint32_t first_scan = signal.first_scan;
    const std::vector<double>& intensity = signal.intensity;
    const std::vector<double>& mz = signal.mz;
    const std::vector<double>& rt = signal.retention_time;

    // 2. Detect on the intensities, then refine.
    const std::size_t n = intensity.size();
    const auto upper = static_cast<std::uint32_t>(std::min<std::size_t>(Scale_Max, n));
    std::vector<Detect_Peak> peaks;
    cwt_peak_detection(peaks, intensity, upper, Scale_Min, branch_gap_allow, min_branch_length, span_min,
                       marker_pos_dif_th);
    peak_refinement_processing(peaks, intensity);

    // 3. Back to scan numbers.
    std::uint32_t peak_id = 0;
    for (const Detect_Peak& d : peaks) {
        Chromatogram_Peak peak;
        peak.EIC_ID = EIC_ID;
        peak.Peak_ID = peak_id++;
        peak.Apex_Pos = d.Apex_Pos + first_scan;
        peak.Left_Boundary = d.Left_Boundary + first_scan;
        peak.Right_Boundary = d.Right_Boundary + first_scan;
        peak.Apex_Retention_Time = rt[d.Apex_Pos];
        peak.Apex_MZ = mz[d.Apex_Pos];
        peak.Apex_Intensity = d.Apex_Intensity;
        peak.Peak_Area = d.Peak_Area;
        peak.Peak_SNR = d.Peak_SNR;
        peak.Peak_shape.reserve(d.Right_Boundary - d.Left_Boundary + 1);
        for (std::uint32_t i = d.Left_Boundary; i <= d.Right_Boundary; ++i) {
            Data_Point point;
            point.scan_num = i + first_scan;
            point.retention_time = rt[i];
            point.mz = mz[i];
            point.intensity = intensity[i];
            peak.Peak_shape.push_back(point);
        }
        EIC_Chromatograph_Peak_list.push_back(std::move(peak));
    }
}

void mass_trace_list_peak_detection(std::vector<Chromatogram_Peak>& All_EIC_Chromatograph_Peak_list,
                                    std::list<Mass_Trace> mass_trace_list, std::uint32_t PeakWidth_Min,
                                    std::uint32_t PeakWidth_Max, std::int32_t branch_gap_allow,
                                    std::int32_t min_branch_length, std::int32_t span_min,
                                    std::int32_t marker_pos_dif_th, double PeakIntensity_Th, double SNR_Th,
                                    double Peak_Significance_Th, double Triangle_Area_Bias_Ratio_Th,
                                    double Zig_Zag_Index_Th) {
    // 1. A peak's half-width in scans is its scale.
    const std::uint32_t Scale_Max = static_cast<std::uint32_t>(std::ceil(PeakWidth_Max * 0.5)) + 1;
    // Signed first: a minimum width of 0 or 1 must give scale 1, not wrap to the top of the range.
    const std::int64_t lower_signed = static_cast<std::int64_t>(std::floor(PeakWidth_Min * 0.5)) - 1;
    const std::uint32_t Scale_Min = lower_signed < 1 ? 1 : static_cast<std::uint32_t>(lower_signed);

    // 2. Every trace uses up its number, whether it yields peaks or not.
    std::uint32_t EIC_ID = 0;
    while (!mass_trace_list.empty()) {
        korvane::variant::peak_detection_trace_started(EIC_ID);
        Mass_Trace& trace = mass_trace_list.front();
        if (korvane::detail::zig_zag_index(trace) > Zig_Zag_Index_Th) {
            mass_trace_list.pop_front();
            ++EIC_ID;
            continue;
        }
        std::vector<Chromatogram_Peak> trace_peaks;
        eic_cwt_peak_detection(trace_peaks, std::move(trace), EIC_ID, Scale_Max, Scale_Min, branch_gap_allow,
                               min_branch_length, span_min, marker_pos_dif_th);
        if (!trace_peaks.empty()) {
            chromatograph_peak_filter(trace_peaks, PeakWidth_Min, PeakWidth_Max, PeakIntensity_Th, SNR_Th,
                                      Peak_Significance_Th, Triangle_Area_Bias_Ratio_Th, Zig_Zag_Index_Th);
        }
        // Last peak first: within a trace the output runs in descending Peak_ID.
        while (!trace_peaks.empty()) {
            All_EIC_Chromatograph_Peak_list.push_back(std::move(trace_peaks.back()));
            trace_peaks.pop_back();
        }
        mass_trace_list.pop_front();
        ++EIC_ID;
    }
    std::cout << "Mass trace Peak detection Finished!" << std::endl;
}
