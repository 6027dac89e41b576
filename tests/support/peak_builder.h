// A chromatographic peak over consecutive scans from `left`, one intensity per scan.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/records/records.h"

namespace korvane::test {

inline Chromatogram_Peak make_peak(std::uint32_t left, const std::vector<double>& intensities, std::uint32_t apex,
                                   double area, std::uint32_t eic = 0, std::uint32_t id = 0) {
    Chromatogram_Peak p;
    for (std::size_t t = 0; t < intensities.size(); ++t) {
        Data_Point d;
        d.scan_num = left + static_cast<std::uint32_t>(t);
        d.intensity = intensities[t];
        p.Peak_shape.push_back(d);
    }
    p.Left_Boundary = left;
    p.Right_Boundary = left + static_cast<std::uint32_t>(intensities.size()) - 1;
    p.Apex_Pos = apex;
    p.Peak_Area = area;
    p.EIC_ID = eic;
    p.Peak_ID = id;
    return p;
}

}  // namespace korvane::test
