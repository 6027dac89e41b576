// Compound alignment across samples.
//
// Greedy: the most intense compound not yet aligned sets a reference mass and retention time,
// every compound of every sample close enough to it joins the feature (Align_ID 1, 2, 3 ...,
// Align_RT the reference time), each sample keeps only its compounds nearest in retention time,
// and the rows sent back take part in later cycles. Two-phase alignment first re-centres the
// reference on the medians of the compounds within Align_Window1, then matches within
// Align_Window2.
//
// Units: masses and Mass_Tol in daltons (absolute); retention times and windows in the unit of the
// peaks' retention times. A window is a full width: a row matches at half the window or nearer,
// both bounds inclusive.
//
// On return the list is ordered by Align_ID ascending (unaligned rows first), and within one
// Align_ID in the order the rows stood among the unaligned rows when their feature was made; this
// order, and the choice of the founding row among equally intense ones (the first in that order),
// are what a plain re-sort after every cycle gives, and the tests hold the fast form to it.
#pragma once

#include <vector>

#include "engine/records/records.h"

enum Compound_Align_Mode {
    One_Phase_Align = 0,
    Two_Phase_Align = 1,
};

// Sets Align_ID and Align_RT of the rows it aligns and reorders the list; rows with Compound_ID 0
// are never aligned, rows with Compound_Intensity 0 or less (or NaN) never found a feature. Writes
// "Compound Alignment Finished, Totoally, <n>Align Groups are generated!" on standard output.
//
// A cycle whose matching pass takes no row (two-phase medians with no compound within
// Align_Window2) is matched again around the founding row's own time and mass. When that takes
// nothing either (the row's mass or time is not finite, it has no compound, the tolerance or
// window is negative), that row alone stays unaligned and the next most intense row founds the
// feature: one bad row never ends the alignment of the others. An empty list makes no feature.
void compound_align(Compound_Align_Mode Align_Mode, double Mass_Tol, double Align_Window1, double Align_Window2,
                    std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_align);
