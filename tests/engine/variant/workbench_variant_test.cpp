// The engine as the workbench links it (workbench_variant.cpp): only what differs from the console
// program's engine is tested here; everything else is tested once, with the console's variant.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <list>
#include <string>
#include <vector>

#include "engine/annotation/adduct_annotation.h"
#include "engine/annotation/alignment.h"
#include "engine/annotation/grouping.h"
#include "engine/io/netcdf_reader.h"
#include "engine/peaks/mass_trace.h"
#include "engine/peaks/peak_detection.h"
#include "engine/peaks/peak_measures.h"
#include "tests/support/peak_builder.h"

namespace {

using korvane::test::make_peak;

Chromatogram_Peak with_snr(Chromatogram_Peak p, double snr) {
    p.Peak_SNR = snr;
    return p;
}

Spectrum_Scan one_point_scan(std::uint32_t num) {
    Spectrum_Scan s;
    s.scan_num = num;
    s.scan_acquisition_time = 0.5 * num;
    s.mass_values = {300.0f};
    s.intensity_values = {5.0f};
    return s;
}

Chromatogram_Peak_Group bell_in_group(std::uint32_t group, std::uint32_t tag) {
    Chromatogram_Peak_Group p;
    p.Group_ID = group;
    p.EIC_ID = tag;
    p.Apex_MZ = 150.0;
    p.Apex_Retention_Time = 1.0;
    p.Left_Boundary = 10;
    p.Right_Boundary = 14;
    const double shape[] = {1, 4, 9, 4, 1};
    for (std::uint32_t k = 0; k < 5; ++k) p.Peak_shape.push_back(Data_Point{10 + k, 1.0, 150.0, shape[k]});
    p.Apex_Pos = 12;
    p.Apex_Intensity = 9;
    return p;
}

Chromatogram_Peak_Group_Compound_Align align_row(std::uint32_t tag, std::uint32_t compound, double mass,
                                                 double intensity) {
    Chromatogram_Peak_Group_Compound_Align r;
    r.EIC_ID = tag;
    r.SAMPLE_NAME = "s0";
    r.Compound_ID = compound;
    r.Compound_MolecularMass = mass;
    r.Compound_Retention_Time = 10.0;
    r.Compound_Intensity = intensity;
    r.Peak_shape.push_back(Data_Point{tag, 10.0, mass, intensity});
    return r;
}

TEST(WorkbenchVariant, EveryStageReportsEachStep) {
    const struct {
        const char* name;
        std::function<void()> run;
        std::string printed;
    } rows[] = {
        {"mass traces: one line per scan",
         [] {
             std::list<Mass_Trace> traces;
             mass_trace_extraction(traces, {one_point_scan(8), one_point_scan(9)}, 10, 0, 3, 0);
         },
         "Mass Trace Extraction, scan=8\nMass Trace Extraction, scan=9\nMass trace Extraction Finished!\n"},
        {"peak detection: one line per trace, a trace that yields nothing included",
         [] {
             std::vector<Chromatogram_Peak> peaks;
             mass_trace_list_peak_detection(peaks, {Mass_Trace{}, Mass_Trace{}}, 5, 60, 2, 5, 3, 3, 1000, 3, 1.5, 0.5,
                                            0.5);
         },
         "Peak Detection,  EIC=0\nPeak Detection,  EIC=1\nMass trace Peak detection Finished!\n"},
        {"grouping: one line per group with the peaks still ungrouped",
         [] {
             std::vector<Chromatogram_Peak_Group> out;
             peak_group(out,
                        {make_peak(10, {1, 3, 5, 3, 1}, 12, 100, 0), make_peak(10, {2, 6, 9, 6, 2}, 12, 50, 1),
                         make_peak(10, {5, 1, 1, 1, 5}, 12, 20, 2)},
                        2, 10);
         },
         "Peak Grouping, Group_ID=1Ungroup PeakNum=3\nPeak Grouping, Group_ID=2Ungroup PeakNum=1\n"
         "Peak Grouping Finished! Ttotally,2Groups are Got!\n"},
        {"adduct annotation: every Group_ID value, even one no peak carries",
         [] {
             std::vector<Chromatogram_Peak_Group_Compound> out;
             adduct_annotation({bell_in_group(3, 0), bell_in_group(1, 1)},
                               {adduct_configure_node{"[M+H]+", 1, 1, 1.007276, 0}}, {}, 0.001, 20.0,
                               LC_Positive_Mode, out);
         },
         "Adduct Annotation and Group_ID=1\nAdduct Annotation and Group_ID=2\nAdduct Annotation and Group_ID=3\n"},
        {"adduct annotation: a gap that ends at the largest Group_ID",
         [] {
             std::vector<Chromatogram_Peak_Group_Compound> out;
             adduct_annotation({bell_in_group(4294967295u, 0), bell_in_group(4294967293u, 1)},
                               {adduct_configure_node{"[M+H]+", 1, 1, 1.007276, 0}}, {}, 0.001, 20.0,
                               LC_Positive_Mode, out);
         },
         "Adduct Annotation and Group_ID=4294967293\nAdduct Annotation and Group_ID=4294967294\n"
         "Adduct Annotation and Group_ID=4294967295\n"},
        {"alignment: two lines per feature and its own final wording",
         [] {
             std::vector<Chromatogram_Peak_Group_Compound_Align> rows{align_row(0, 1, 100.0, 12.5),
                                                                      align_row(1, 2, 300.0, 4.0)};
             compound_align(One_Phase_Align, 0.01, 10.0, 0.0, rows);
         },
         "Compound alignment, Align_ID=1\nunalign peak number=2Unalign Max_Compound_Intensity=12.5\n"
         "Compound alignment, Align_ID=2\nunalign peak number=1Unalign Max_Compound_Intensity=4\n"
         "Compound Alignment Finished, Totoally, 2Groups are generated!\n"},
        {"alignment: a founder that can match nothing announces no feature",
         [] {
             std::vector<Chromatogram_Peak_Group_Compound_Align> rows{
                 align_row(0, 1, std::numeric_limits<double>::quiet_NaN(), 12.5), align_row(1, 2, 300.0, 4.0)};
             compound_align(One_Phase_Align, 0.01, 10.0, 0.0, rows);
         },
         "Compound alignment, Align_ID=1\nunalign peak number=2Unalign Max_Compound_Intensity=4\n"
         "Compound Alignment Finished, Totoally, 1Groups are generated!\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        testing::internal::CaptureStdout();
        row.run();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), row.printed);
    }
}

TEST(WorkbenchVariant, SnrNoiseIsTheMeanMagnitude) {
    const struct { const char* name; std::vector<double> noise; double snr; } rows[] = {
        {"alternating: mid-range 0, so as the console", {1, -1, 1, -1, 1, -1}, 2.0},
        {"one crossing", {2, 4}, 10.0 / 3},
        {"four crossings: mean magnitude 2 times 3", {3, 1, 3, 1}, 10.0 / 6},
        {"odd count rounds up", {0, 10, 0, 10}, 10.0 / 15},
        {"all zero is floored", {0, 0, 0}, 100000.0},
        {"no crossing: mean of ten", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 10.0 / 5.5},
        {"empty window", {}, 0.0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_DOUBLE_EQ(New_Calculate_Peak_SNR(10.0, row.noise), row.snr);
    }
}

TEST(WorkbenchVariant, PeakFilterAlsoNeedsRiseAndFall) {
    const struct { const char* name; Chromatogram_Peak peak; bool kept; } rows[] = {
        {"steep peak (sum 7.33)", with_snr(make_peak(100, {1, 2, 6, 10, 6, 2, 1}, 103, 21), 50), true},
        {"broad base (sum 0.19)", with_snr(make_peak(100, {100, 101, 105, 110, 105, 101, 100}, 103, 21), 50), false},
        // An apex on the first point never switches to falls: every step counts as a negative rise.
        {"apex first", with_snr(make_peak(100, {10, 9, 2, 1, 0.5}, 100, 10), 50), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<Chromatogram_Peak> list{row.peak};
        chromatograph_peak_filter(list, 1, 100, 0, 0, -1, 1e9, 1e9);
        EXPECT_EQ(list.size(), row.kept ? 1u : 0u);
    }
}

TEST(WorkbenchVariant, NetcdfLibraryNameAndMessage) {
    const std::vector<std::string> candidates = netcdf_library_candidates();
    ASSERT_EQ(candidates.size(), 3u);
    EXPECT_TRUE(candidates[1].ends_with("/libnetcdf_32.so")) << candidates[1];
    try {
        NetCDF library(std::vector<std::string>{"/nonexistent/libnetcdf_32.so"});
        ADD_FAILURE() << "no exception";
    } catch (const std::string& message) {
        EXPECT_EQ(message, "netcdf related .so file doesn't exist in the current path or its parent path!");
    }
}

}  // namespace
