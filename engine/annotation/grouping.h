// The grouping of the peaks of one sample into co-eluting groups of the same shape
// (shape_angle.h).
#pragma once

#include <cstdint>
#include <vector>

#include "engine/annotation/shape_angle.h"
#include "engine/records/records.h"

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
