#include "engine/annotation/shape_angle.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iostream>
#include <limits>
#include <utility>

namespace korvane::detail {

Profile make_profile(const std::vector<Data_Point>& shape, std::uint32_t left, std::uint32_t right) {
    Profile p;
    p.left = left;
    p.right = right;
    if (left <= right) {
        // A shape shorter than its boundaries reads the missing scans as 0, which is what leaving
        // them out gives; a longer one is read only as far as the boundaries reach.
        const std::size_t span = static_cast<std::size_t>(right - left) + 1;
        const std::size_t n = std::min(span, shape.size());
        p.v.resize(n);
        for (std::size_t t = 0; t < n; ++t) p.v[t] = shape[t].intensity;
    }
    double s = 0.0;
    for (const double x : p.v) {
        s += x * x;
        if (!std::isfinite(x)) p.finite = false;
    }
    p.sumsq = s;
    p.norm = std::sqrt(s);
    return p;
}

GroupProfile make_group_profile(const Profile& p) {
    GroupProfile g;
    const std::size_t n = p.v.size();
    g.padded.assign(n + 2 * GroupProfile::kPad, 0.0);
    for (std::size_t t = 0; t < n; ++t) g.padded[GroupProfile::kPad + t] = p.v[t];
    for (std::size_t cut = 0; cut <= kGroupShapeShift && cut < n; ++cut) {
        double from = 0.0, upto = 0.0;
        for (std::size_t t = cut; t < n; ++t) from += p.v[t] * p.v[t];
        for (std::size_t t = 0; t < n - cut; ++t) upto += p.v[t] * p.v[t];
        g.sumsq_from[cut] = from;
        g.norm_from[cut] = std::sqrt(from);
        g.sumsq_upto[cut] = upto;
        g.norm_upto[cut] = std::sqrt(upto);
    }
    return g;
}

}  // namespace korvane::detail

namespace {

using korvane::detail::GroupProfile;
using korvane::detail::kGroupShapeShift;
using korvane::detail::make_group_profile;
using korvane::detail::make_profile;
using korvane::detail::Profile;

// The angle is converted with this constant, not with pi: a right angle reads 90.0000015.
constexpr double kPiConstant = 3.1415926;

// Cosine between profile 1 moved by d scans (negative: earlier) and profile 2, over the window of
// L scans starting at scan `first`. Entries moved out of the window are dropped.
double moved_cosine(const Profile& p1, const Profile& p2, std::int64_t first, std::int64_t L, std::int64_t d) {
    const auto n1 = static_cast<std::int64_t>(p1.v.size()), n2 = static_cast<std::int64_t>(p2.v.size());
    const std::int64_t a_off = p1.left - first + d;  // window position of v1[0]
    const std::int64_t t0 = std::max<std::int64_t>(0, -a_off);
    const std::int64_t t1 = std::min(n1 - 1, L - 1 - a_off);
    double sa = 0.0;
    for (std::int64_t t = t0; t <= t1; ++t) sa += p1.v[t] * p1.v[t];
    // A zero norm, also one that underflowed, has no direction: cosine 0.
    if (sa == 0 || p2.sumsq == 0) return 0.0;
    // Over the full window an infinite or undefined entry meets a zero or an infinite sum in the
    // dot product, and the cosine is not a number.
    if (!p2.finite) return std::numeric_limits<double>::quiet_NaN();
    if (!p1.finite) {
        for (std::int64_t t = t0; t <= t1; ++t)
            if (!std::isfinite(p1.v[t])) return std::numeric_limits<double>::quiet_NaN();
    }
    const std::int64_t b_off = p2.left - first;
    const std::int64_t q0 = std::max(a_off + t0, b_off), q1 = std::min(a_off + t1, b_off + n2 - 1);
    double dot = 0.0;
    for (std::int64_t q = q0; q <= q1; ++q) dot += p1.v[q - a_off] * p2.v[q - b_off];
    return dot / (p2.norm * std::sqrt(sa));
}

std::int64_t window_length(const Profile& p1, const Profile& p2, std::int64_t& first) {
    first = std::min(p1.left, p2.left);
    return std::max<std::int64_t>(0, std::max(p1.right, p2.right) - first + 1);
}

double to_degrees(double best) {
    // Rounding can carry the cosine of proportional profiles past 1, where acos has no value.
    if (best > 1.0) best = 1.0;
    if (best < -1.0) best = -1.0;
    return std::acos(best) * 180.0 / kPiConstant;
}

double profile_angle(const Profile& p1, const Profile& p2, std::int32_t Tol_Shift) {
    std::int64_t first = 0;
    const std::int64_t L = window_length(p1, p2, first);
    double best = moved_cosine(p1, p2, first, L, 0);
    for (std::int64_t s = 1; s <= Tol_Shift; ++s) {
        double c = moved_cosine(p1, p2, first, L, -s);
        if (c > best) best = c;
        c = moved_cosine(p1, p2, first, L, s);
        if (c > best) best = c;
        // From here on the moved profile is all zeros: cosine 0 for every larger shift too.
        if (s >= L) break;
    }
    return to_degrees(best);
}

Chromatogram_Peak_Group shape_only(Chromatogram_Peak_Group_Compound& p) {
    Chromatogram_Peak_Group g;
    g.Peak_shape = std::move(p.Peak_shape);
    g.Left_Boundary = p.Left_Boundary;
    g.Right_Boundary = p.Right_Boundary;
    return g;
}

}  // namespace

// profile_angle(p1, p2, 3) for finite profiles, with the seven dot products taken in one pass:
// seven independent sums instead of one long chain each. Each sum still adds its terms in
// ascending scan order, and the extra terms it meets are products with a padding zero.
double korvane::detail::group_angle(const Profile& p1, const GroupProfile& g1, const Profile& p2) {
    if (!p1.finite || !p2.finite || p1.v.empty() || p2.v.empty()) return profile_angle(p1, p2, kGroupShapeShift);
    constexpr std::int64_t S = kGroupShapeShift, kShifts = 2 * S + 1;
    std::int64_t first = 0;
    const std::int64_t L = window_length(p1, p2, first);
    const auto n1 = static_cast<std::int64_t>(p1.v.size()), n2 = static_cast<std::int64_t>(p2.v.size());
    const std::int64_t a0 = p1.left - first, b0 = p2.left - first;  // window positions of v1[0], v2[0]

    // dot[e] for the move d = e - S: terms p1[q - a0 - d] * p2[q - b0] over p2's scans q that some
    // moved profile 1 reaches. Profile 2 lies inside the window, so no dropped entry meets it.
    double dot[kShifts] = {};
    const std::int64_t q_lo = std::max(b0, a0 - S), q_hi = std::min(b0 + n2 - 1, a0 + n1 - 1 + S);
    const double* pad = g1.padded.data();
    const double* v2 = p2.v.data();
    for (std::int64_t q = q_lo; q <= q_hi; ++q) {
        const double b = v2[q - b0];
        const double* at = pad + (q - a0 + GroupProfile::kPad + S);  // at[-e] = moved entry for e
        for (std::int64_t e = 0; e < kShifts; ++e) dot[e] += at[-e] * b;
    }

    auto cosine = [&](std::int64_t d) {
        const std::int64_t a_off = a0 + d;
        const std::int64_t t0 = std::max<std::int64_t>(0, -a_off), t1 = std::min(n1 - 1, L - 1 - a_off);
        if (t0 > t1) return 0.0;
        // Moving earlier only loses leading entries, moving later only trailing ones, at most S.
        const std::int64_t cut_front = t0, cut_back = n1 - 1 - t1;
        const double sa = cut_back == 0 ? g1.sumsq_from[cut_front] : g1.sumsq_upto[cut_back];
        const double na = cut_back == 0 ? g1.norm_from[cut_front] : g1.norm_upto[cut_back];
        if (sa == 0 || p2.sumsq == 0) return 0.0;
        return dot[d + S] / (p2.norm * na);
    };
    double best = cosine(0);
    for (std::int64_t s = 1; s <= S; ++s) {
        double c = cosine(-s);
        if (c > best) best = c;
        c = cosine(s);
        if (c > best) best = c;
    }
    return to_degrees(best);
}

double vector_dot(std::vector<double> vec1, std::vector<double> vec2) {
    if (vec1.size() != vec2.size()) {
        std::cout << "For Dot product, vec1 and vec2 should have the same size!" << std::endl;
        return 0;
    }
    double dot = 0.0, aa = 0.0, bb = 0.0;
    for (std::size_t k = 0; k < vec1.size(); ++k) {
        dot += vec1[k] * vec2[k];
        aa += vec1[k] * vec1[k];
        bb += vec2[k] * vec2[k];
    }
    // A zero norm, also one that underflowed, has no direction: cosine 0.
    if (aa == 0 || bb == 0) return 0.0;
    return dot / (std::sqrt(bb) * std::sqrt(aa));
}

double calc_dotproduct_angle(Chromatogram_Peak_Group Peak1, Chromatogram_Peak_Group Peak2, std::int32_t Tol_Shift) {
    const Profile p1 = make_profile(Peak1.Peak_shape, Peak1.Left_Boundary, Peak1.Right_Boundary);
    const Profile p2 = make_profile(Peak2.Peak_shape, Peak2.Left_Boundary, Peak2.Right_Boundary);
    // Grouping's tolerance takes the one-pass form, so that every caller gets the same bits.
    if (Tol_Shift == kGroupShapeShift) return group_angle(p1, make_group_profile(p1), p2);
    return profile_angle(p1, p2, Tol_Shift);
}

double calc_dotproduct_angle(Chromatogram_Peak_Group Peak1, Chromatogram_Peak_Group_Compound Peak2,
                             std::int32_t Tol_Shift) {
    return calc_dotproduct_angle(std::move(Peak1), shape_only(Peak2), Tol_Shift);
}

double calc_dotproduct_angle(Chromatogram_Peak_Group_Compound Peak1, Chromatogram_Peak_Group Peak2,
                             std::int32_t Tol_Shift) {
    return calc_dotproduct_angle(std::move(Peak2), shape_only(Peak1), Tol_Shift);
}

double calc_dotproduct_angle(Chromatogram_Peak_Group_Compound Peak1, Chromatogram_Peak_Group_Compound Peak2,
                             std::int32_t Tol_Shift) {
    return calc_dotproduct_angle(shape_only(Peak1), shape_only(Peak2), Tol_Shift);
}
