// What the "Data Process" tab's plots show, computed from the loaded sample's arrays without any
// widget: the total-ion chromatogram, the 2D map above an intensity threshold and the scan whose
// spectrum a press on the data plot asks for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CKORVANE_Engine;

namespace korvane::wb {

// The window's own copy of the loaded sample, rebuilt at every redraw of the data plot; the
// spectrum view reads only this copy.
struct Sample_View {
    std::vector<double> scanNumber;     // X of the TIC by scan number
    std::vector<double> retentionTime;  // X of the TIC by time (seconds)
    std::vector<double> tic;            // stored total intensity, or the scan's sum when not above 0
    std::vector<int> point_count_arry1;
    std::vector<int> scan_index_arry1;
    std::vector<double> mass_value_arry1;
    std::vector<double> intensity_value_arry1;

    std::size_t scan_count() const { return scanNumber.size(); }
};

// Copies the engine's loaded arrays (nothing loaded gives an empty view). A scan whose point range
// reaches past the loaded points is cut at the last point rather than read out of bounds.
Sample_View make_sample_view(const CKORVANE_Engine& engine);

struct Points_2D {
    std::vector<double> time;  // X: the scan's acquisition time
    std::vector<double> mz;    // Y: the point's m/z
};

// Scan by scan, points in stored order, every point whose intensity is strictly above the
// threshold; the comparison is made in single precision, as the intensities are stored.
Points_2D points_above_threshold(const Sample_View& view, int threshold);

enum class Plot_Mode { ScanNumber, RetentionTime, TwoD };

struct Spectrum_Choice {
    std::size_t scan_pos = 0;  // position of the scan whose spectrum is shown
    std::string title;
};

// The scan under a press at axis value x. Scan-number mode rounds x half to even and clamps it to
// the first and last scan numbers; the time modes clamp x to the first and last acquisition times.
// Either way the first scan not below the value is taken (the last when none is). Needs a view
// with at least one scan.
Spectrum_Choice choose_spectrum_scan(const Sample_View& view, Plot_Mode mode, double x);

// The m/z and intensity of every point of the scan at position pos (its point_count points from
// its first index), clipped to the copied points.
void spectrum_points(const Sample_View& view, std::size_t pos, std::vector<double>& mz,
                     std::vector<double>& intensity);

}  // namespace korvane::wb
