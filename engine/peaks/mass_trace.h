// Mass traces (extracted ion chromatograms): the points of successive centroid scans are linked
// into traces that each follow one m/z through retention time.
//
// A point joins the best-scoring trace whose centre lies within a ppm window of its m/z (score:
// 0.3 x log10 intensity difference + 0.2 x m/z difference in ppm + 0.5 x scan gap; the lowest
// wins, the trace with the smaller centre on a tie), or starts a new trace. Short traces that stop
// growing are dropped, and at the end neighbouring traces closer than a set m/z distance are
// merged. The result is ordered by ascending Cent_Mass; a trace's position in it is its EIC_ID
// everywhere downstream, so that order -- ties included -- is part of the contract.
#pragma once

#include <cstdint>
#include <list>
#include <vector>

#include "engine/records/records.h"

// Replaces the contents of mass_trace_list with the traces of the scans, taken in vector order.
//   ppm_th               half-width of the m/z window, in ppm of the point's m/z
//   minimum_eic_num      a trace with at most this many scans is dropped once it has missed
//                        misscount_th scan numbers, or when the last scan is reached
//   misscount_th         allowed gap, in scan numbers, for a short trace
//   inter_trace_dist_th  neighbouring traces whose centres differ by less than this (m/z units)
//                        are merged; 0 or less turns merging off
// A point that no trace in its window can score (zero, negative or NaN intensity on either side;
// a negative or NaN tolerance) starts a trace of its own at its place in the order; a point whose
// m/z is NaN is skipped. An empty scan vector gives an empty list. Prints "Mass trace Extraction
// Finished!" when done (the workbench's variant also prints one progress line per scan).
void mass_trace_extraction(std::list<Mass_Trace>& mass_trace_list, std::vector<Spectrum_Scan> spectrum_arry,
                           double ppm_th, std::int32_t minimum_eic_num, std::int32_t misscount_th,
                           double inter_trace_dist_th);

// Merges two traces point by point over the union of their scan numbers (both in ascending scan
// order): points of the same scan are combined into one with summed intensity and
// intensity-weighted m/z, keeping the left point's scan and time; the centre becomes the
// intensity-weighted mean m/z of all points; miss_count is 0. Where intensities sum to zero the
// plain mean m/z is used instead.
void mass_trace_merge(Mass_Trace& Merged_mass_trace, Mass_Trace Mass_Trace_Left, Mass_Trace Mass_Trace_Right);
