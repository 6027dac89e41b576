#include "engine/records/records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Orderings, CompareByAbsIsDescendingMagnitudeAndFalseForEqualMagnitudes) {
    EXPECT_TRUE(compareByABS(-3.0, 2.0));
    EXPECT_FALSE(compareByABS(2.0, -3.0));
    EXPECT_FALSE(compareByABS(2.0, -2.0));
    EXPECT_FALSE(compareByABS(-2.0, 2.0));
    EXPECT_FALSE(compareByABS(kNaN, 1.0));
    EXPECT_FALSE(compareByABS(1.0, kNaN));
}

TEST(Orderings, RealKeysCompareFalseWhenEitherIsNaN) {
    Data_Point a, b;
    a.intensity = kNaN;
    b.intensity = 1.0;
    EXPECT_FALSE(comp_point_intensity(a, b));
    EXPECT_FALSE(comp_point_intensity(b, a));
    Mass_Trace s, t;
    s.Cent_Mass = kNaN;
    t.Cent_Mass = 5.0;
    EXPECT_FALSE(comp_trace_mass_cent(s, t));
    EXPECT_FALSE(comp_trace_mass_cent(t, s));
}

TEST(Orderings, UnsignedKeysCompareUnsignedAndSignedKeySigned) {
    Data_Point lo, hi;
    lo.scan_num = 1;
    hi.scan_num = 0x80000000u;  // negative if it were read as signed
    EXPECT_TRUE(comp_point_scan(lo, hi));
    Chromatogram_Peak_Group_Compound_Align a, b;
    a.Align_ID = 2;
    b.Align_ID = 0xFFFFFFFFu;
    EXPECT_TRUE(Comp_Alignpeak_by_Align_ID(a, b));
    peak_adduct_annotation_point minus, zero;
    minus.cluster_value = -1;
    zero.cluster_value = 0;
    EXPECT_TRUE(Comp_annotation_by_value(minus, zero));
    EXPECT_FALSE(Comp_annotation_by_value(zero, minus));
}

TEST(Orderings, StableSortKeepsInputOrderForEqualKeysEvenWithNaN) {
    std::vector<Chromatogram_Peak_Group> peaks(6);
    const double areas[] = {5.0, 1.0, 5.0, kNaN, 1.0, 3.0};
    for (std::size_t i = 0; i < peaks.size(); ++i) {
        peaks[i].Peak_Area = areas[i];
        peaks[i].Peak_ID = static_cast<std::uint32_t>(i);
    }
    std::stable_sort(peaks.begin(), peaks.end(), Comp_Grouppeak_by_Peak_Area);
    // Equal areas (1.0 at ids 1 and 4; 5.0 at ids 0 and 2) keep their relative order.
    std::vector<std::uint32_t> ids_of_one, ids_of_five;
    for (const auto& p : peaks) {
        if (p.Peak_Area == 1.0) ids_of_one.push_back(p.Peak_ID);
        if (p.Peak_Area == 5.0) ids_of_five.push_back(p.Peak_ID);
    }
    EXPECT_EQ(ids_of_one, (std::vector<std::uint32_t>{1, 4}));
    EXPECT_EQ(ids_of_five, (std::vector<std::uint32_t>{0, 2}));
}

// The widening copy is written out member by member; every shared scalar gets a value of its own,
// so a member left out or taken from its neighbour shows.
TEST(Records, WideningCopiesEverySharedScalarAndNothingElse) {
    Chromatogram_Peak from;
    from.Peak_shape.push_back(Data_Point{7, 1.5, 100.25, 1000.0});
    from.EIC_ID = 1;
    from.Peak_ID = 2;
    from.Apex_MZ = 3.5;
    from.Apex_Pos = 4;
    from.Apex_Retention_Time = 5.5;
    from.Apex_Intensity = 6.5;
    from.Peak_Area = 7.5;
    from.Peak_SNR = 8.5;
    from.Left_Boundary = 9;
    from.Right_Boundary = 10;

    Chromatogram_Peak_Group_Compound_Align to;
    to.Group_ID = 11;
    to.Adduct_Annotation = "[M+H]+";
    to.Compound_ID = 12;
    to.SAMPLE_NAME = "sample 1";
    korvane::copy_peak_scalars(from, to);

    EXPECT_EQ(to.EIC_ID, 1u);
    EXPECT_EQ(to.Peak_ID, 2u);
    EXPECT_EQ(to.Apex_MZ, 3.5);
    EXPECT_EQ(to.Apex_Pos, 4u);
    EXPECT_EQ(to.Apex_Retention_Time, 5.5);
    EXPECT_EQ(to.Apex_Intensity, 6.5);
    EXPECT_EQ(to.Peak_Area, 7.5);
    EXPECT_EQ(to.Peak_SNR, 8.5);
    EXPECT_EQ(to.Left_Boundary, 9u);
    EXPECT_EQ(to.Right_Boundary, 10u);
    // The shape and the widened record's own members are the caller's.
    EXPECT_TRUE(to.Peak_shape.empty());
    EXPECT_EQ(to.Group_ID, 11u);
    EXPECT_EQ(to.Adduct_Annotation, "[M+H]+");
    EXPECT_EQ(to.Compound_ID, 12u);
    EXPECT_EQ(to.SAMPLE_NAME, "sample 1");
}

TEST(WorkbenchOrderings, UniqueApexMzIsAnEqualityTestThatFailsOnNaN) {
    Chromatogram_Peak_Group_Compound a, b;
    a.Apex_MZ = b.Apex_MZ = 200.5;
    EXPECT_TRUE(Compoundpeak_by_Unique_Peak_Apex_MZ(a, b));
    b.Apex_MZ = kNaN;
    EXPECT_FALSE(Compoundpeak_by_Unique_Peak_Apex_MZ(a, b));
    a.Apex_MZ = kNaN;
    EXPECT_FALSE(Compoundpeak_by_Unique_Peak_Apex_MZ(a, b));

    Chromatogram_Peak_Group_Compound_Align x, y;
    x.SAMPLE_ID = 1;
    y.SAMPLE_ID = 2;
    EXPECT_TRUE(Comp_Alignpeak_by_Sample_ID(x, y));
    EXPECT_FALSE(Comp_Alignpeak_by_Sample_ID(y, x));
}

}  // namespace
