// Shape similarity of chromatographic peaks and the grouping of the peaks of one sample into
// co-eluting groups of the same shape.
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

// Gives every peak a Group_ID 1..G and appends them to peaklist_groupped (passed empty; records
// already there are not regrouped but take part in the final sort by Group_ID), sorted by
// Group_ID, each group in input order. Group g is seeded by the largest remaining Peak_Area; its
// candidates are the ungrouped peaks whose apex lies within Group_Shift_Tol scans of the seed's;
// they are clustered by average linkage on their pairwise shape angles (shift tolerance 3) and the
// seed's cluster, cut at Group_Shape_Angle_Tol degrees, becomes the group. Prints
// "Peak Grouping Finished! Ttotally,<G>Groups are Got!".
void peak_group(std::vector<Chromatogram_Peak_Group>& peaklist_groupped, std::vector<Chromatogram_Peak> peaklist,
                std::uint32_t Group_Shift_Tol, double Group_Shape_Angle_Tol);

// First record in [It_Lower, It_Upper) with both ids equal, or It_Upper.
std::vector<Chromatogram_Peak_Group>::iterator get_matchedpeak_by_EIC_ID_Peak_ID(
    std::vector<Chromatogram_Peak_Group>::iterator It_Lower, std::vector<Chromatogram_Peak_Group>::iterator It_Upper,
    std::uint32_t EIC_ID, std::uint32_t Peak_ID);
