// Shape similarity of chromatographic peaks: the angle between two peaks' intensity profiles,
// the smaller the more alike. Grouping compares every candidate pair with the prepared profiles
// below; adduct annotation compares single pairs through calc_dotproduct_angle.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/records/records.h"

// Cosine of the angle between two vectors. Different lengths print "For Dot product, vec1 and vec2
// should have the same size!" and give 0; a zero norm (including one that underflowed) gives 0.
double vector_dot(std::vector<double> vec1, std::vector<double> vec2);

// Smallest angle, in degrees, between the intensity profiles of two peaks over their common scan
// window, Peak1's profile moved by up to Tol_Shift scans either way (Peak2 never moves). Not
// symmetric. Scans outside a peak's boundaries, and shape entries missing for scans inside them,
// count as 0; a peak whose left boundary lies above its right one is empty. Degrees are
// acos * 180.0 / 3.1415926, so a right angle reads 90.0000015.
double calc_dotproduct_angle(Chromatogram_Peak_Group Peak1, Chromatogram_Peak_Group Peak2, std::int32_t Tol_Shift);
// Uses only Peak_shape and the boundaries of Peak2.
double calc_dotproduct_angle(Chromatogram_Peak_Group Peak1, Chromatogram_Peak_Group_Compound Peak2,
                             std::int32_t Tol_Shift);
// Returns the first form for (Peak2, converted Peak1): the operands swap.
double calc_dotproduct_angle(Chromatogram_Peak_Group_Compound Peak1, Chromatogram_Peak_Group Peak2,
                             std::int32_t Tol_Shift);
double calc_dotproduct_angle(Chromatogram_Peak_Group_Compound Peak1, Chromatogram_Peak_Group_Compound Peak2,
                             std::int32_t Tol_Shift);

namespace korvane::detail {

// Shift tolerance of the shape comparison in grouping; the configured apex tolerance only picks
// the candidates.
constexpr std::int32_t kGroupShapeShift = 3;

// One peak's intensity profile, kept sparse: the entries from Left_Boundary onward that the shape
// actually holds. Scans of the common window outside them are zeros, and for finite entries a zero
// term changes no sum, so the sums below have the bits of sums over the full window profile (up to
// the sign of a zero dot product, which neither the comparisons nor acos can see).
struct Profile {
    std::int64_t left = 0;   // Left_Boundary
    std::int64_t right = 0;  // Right_Boundary; below left for an empty peak
    std::vector<double> v;   // entries for scans left, left+1, ...; never more than the boundaries span
    bool finite = true;      // no entry is infinite or not a number
    double sumsq = 0.0;      // sum of v[t]^2, t upward
    double norm = 0.0;       // sqrt(sumsq)
};

// What grouping reads for every pair with shift tolerance 3, prepared once per peak: the entries
// with 2 * 3 zeros on either side, so that all seven moved profiles index it without a bound check,
// and the norms of the profile cut by up to 3 entries at either end (a moved profile loses those
// that leave the window), each sum accumulated upward as the full-window sum is.
struct GroupProfile {
    static constexpr std::int64_t kPad = 2 * kGroupShapeShift;
    std::vector<double> padded;
    double sumsq_from[kGroupShapeShift + 1] = {};  // without the first t entries
    double norm_from[kGroupShapeShift + 1] = {};
    double sumsq_upto[kGroupShapeShift + 1] = {};  // without the last t entries
    double norm_upto[kGroupShapeShift + 1] = {};
};

Profile make_profile(const std::vector<Data_Point>& shape, std::uint32_t left, std::uint32_t right);
GroupProfile make_group_profile(const Profile& p);

// The angle of calc_dotproduct_angle with shift tolerance kGroupShapeShift; g1 is p1 prepared.
double group_angle(const Profile& p1, const GroupProfile& g1, const Profile& p2);

}  // namespace korvane::detail
