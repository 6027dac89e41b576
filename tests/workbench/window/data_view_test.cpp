// The Data Process plots' contents: TIC, 2D points and the scan a press on the data plot selects.
#include "workbench/window/data_view.h"

#include <gtest/gtest.h>

#include "workbench/engine/korvane_engine.h"

namespace {

using korvane::wb::Plot_Mode;

// Three scans: numbers 5, 7, 9 at 1.5, 3.0, 4.5 s; the middle one has a stored total of 0.
void load_three_scans(CKORVANE_Engine& e) {
    e.Total_Scan_Num = 3;
    e.Total_Point_Num = 7;
    e.scan_num_arry = {5, 7, 9};
    e.scan_index_arry = {0, 2, 5};
    e.point_count_arry = {2, 3, 2};
    e.scan_acquisition_time_arry = {1.5, 3.0, 4.5};
    e.mass_value_arry = {100.f, 200.f, 101.f, 150.f, 300.f, 120.f, 130.f};
    e.intensity_value_arry = {10.f, 20.f, 10.f, 10.5f, 0.f, 9.f, 11.f};
    e.total_intensity_arry = {30.0, 0.0, 20.0};
}

TEST(DataView, TicTakesTheScanSumWhenTheStoredTotalIsNotAboveZero) {
    CKORVANE_Engine e;
    load_three_scans(e);
    e.total_intensity_arry[2] = -1.0;  // not above 0 either
    const auto v = korvane::wb::make_sample_view(e);
    ASSERT_EQ(v.scan_count(), 3u);
    EXPECT_EQ(v.scanNumber, (std::vector<double>{5, 7, 9}));
    EXPECT_EQ(v.retentionTime, (std::vector<double>{1.5, 3.0, 4.5}));
    EXPECT_EQ(v.tic, (std::vector<double>{30.0, 20.5, 20.0}));
    EXPECT_EQ(v.mass_value_arry1.size(), 7u);
}

TEST(DataView, NothingLoadedAndRangesPastTheEndGiveNoPoints) {
    CKORVANE_Engine empty;
    EXPECT_EQ(korvane::wb::make_sample_view(empty).scan_count(), 0u);

    CKORVANE_Engine e;
    load_three_scans(e);
    e.point_count_arry[2] = 50;  // runs past the 7 points: cut at the last one
    e.total_intensity_arry[2] = 0;
    const auto v = korvane::wb::make_sample_view(e);
    EXPECT_EQ(v.tic[2], 20.0);
    std::vector<double> mz, in;
    korvane::wb::spectrum_points(v, 2, mz, in);
    EXPECT_EQ(mz, (std::vector<double>{120, 130}));
    EXPECT_EQ(in, (std::vector<double>{9, 11}));
}

TEST(DataView, TwoDPointsAreStrictlyAboveTheThreshold) {
    CKORVANE_Engine e;
    load_three_scans(e);
    const auto v = korvane::wb::make_sample_view(e);
    struct Row {
        const char* name;
        int threshold;
        std::vector<double> time, mz;
    };
    const Row rows[] = {
        {"10 leaves out the points of exactly 10", 10, {1.5, 3.0, 4.5}, {200, 150, 130}},
        {"0 keeps every positive point and no zero one", 0, {1.5, 1.5, 3.0, 3.0, 4.5, 4.5},
         {100, 200, 101, 150, 120, 130}},
        {"above every point", 1000, {}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto p = korvane::wb::points_above_threshold(v, row.threshold);
        EXPECT_EQ(p.time, row.time);
        EXPECT_EQ(p.mz, row.mz);
    }
    // The comparison is in single precision: 16777219 becomes 16777220 as a float, so a point of
    // 16777220 is not above it (in double precision it would be).
    CKORVANE_Engine big;
    load_three_scans(big);
    big.intensity_value_arry = {16777220.f, 0.f, 0.f, 0.f, 0.f, 0.f, 0.f};
    EXPECT_EQ(korvane::wb::points_above_threshold(korvane::wb::make_sample_view(big), 16777219).time.size(), 0u);
    EXPECT_EQ(korvane::wb::points_above_threshold(korvane::wb::make_sample_view(big), 16777215).time.size(), 1u);
}

TEST(DataView, PressPicksTheFirstScanNotBelowTheClampedValue) {
    CKORVANE_Engine e;
    load_three_scans(e);
    const auto v = korvane::wb::make_sample_view(e);
    struct Row {
        const char* name;
        Plot_Mode mode;
        double x;
        std::size_t pos;
        const char* title;
    };
    const Row rows[] = {
        {"left of the first scan", Plot_Mode::ScanNumber, 2.2, 0, "Spectrum at Scan Number = 5"},
        {"between scans: the next one", Plot_Mode::ScanNumber, 5.6, 1, "Spectrum at Scan Number = 6"},
        {"half rounds to even (6.5 -> 6)", Plot_Mode::ScanNumber, 6.5, 1, "Spectrum at Scan Number = 6"},
        {"half rounds to even (7.5 -> 8)", Plot_Mode::ScanNumber, 7.5, 2, "Spectrum at Scan Number = 8"},
        {"right of the last scan", Plot_Mode::ScanNumber, 40, 2, "Spectrum at Scan Number = 9"},
        {"time left of the first", Plot_Mode::RetentionTime, -3, 0,
         "Spectrum at Retention Time = 2 and Scan Number = 5"},
        {"time between scans", Plot_Mode::RetentionTime, 2.9, 1,
         "Spectrum at Retention Time = 3 and Scan Number = 7"},
        {"2D takes the time rule", Plot_Mode::TwoD, 3.01, 2, "Spectrum at Retention Time = 3 and Scan Number = 9"},
        {"time right of the last", Plot_Mode::TwoD, 99, 2, "Spectrum at Retention Time = 4 and Scan Number = 9"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto c = korvane::wb::choose_spectrum_scan(v, row.mode, row.x);
        EXPECT_EQ(c.scan_pos, row.pos);
        EXPECT_EQ(c.title, row.title);
    }
}

}  // namespace
