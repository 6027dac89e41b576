#include "engine/annotation/adduct_annotation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/annotation/grouping.h"

namespace {

using Peak = Chromatogram_Peak_Group;
using Compound = Chromatogram_Peak_Group_Compound;

adduct_configure_node adduct(const char* formula, int molecules, int charges, double shift, int dependence) {
    adduct_configure_node a;
    a.Formula = formula;
    a.Molecule_Count = molecules;
    a.Charge_Count = charges;
    a.Mass_Shift = shift;
    a.Dependence = dependence;
    return a;
}

const std::vector<adduct_configure_node> kPositive{
    adduct("[M+H]+", 1, 1, 1.007276, 0),
    adduct("[M+Na]+", 1, 1, 22.989218, 1),
    adduct("[2M+H]+", 2, 1, 1.007276, 1),
};
const std::vector<adduct_configure_node> kProtonOnly{adduct("[M+H]+", 1, 1, 1.007276, 0)};
const std::vector<adduct_configure_node> kDeprotonOnly{adduct("[M-H]-", 1, 1, -1.007276, 0)};

// A peak over scans left..left+shape.size()-1; tag goes into EIC_ID.
Peak make_peak(std::uint32_t group, std::uint32_t tag, double mz, double rt, std::vector<double> shape,
               std::uint32_t left = 10) {
    Peak p;
    p.Group_ID = group;
    p.EIC_ID = tag;
    p.Peak_ID = 0;
    p.Apex_MZ = mz;
    p.Apex_Retention_Time = rt;
    p.Left_Boundary = left;
    p.Right_Boundary = left + static_cast<std::uint32_t>(shape.size()) - 1;
    double apex = 0;
    for (std::size_t k = 0; k < shape.size(); ++k) {
        p.Peak_shape.push_back(Data_Point{left + static_cast<std::uint32_t>(k), rt, mz, shape[k]});
        if (shape[k] > apex) {
            apex = shape[k];
            p.Apex_Pos = left + static_cast<std::uint32_t>(k);
        }
    }
    p.Apex_Intensity = apex;
    return p;
}

const std::vector<double> kBell{1, 4, 9, 4, 1};
const std::vector<double> kValley{9, 2, 1, 2, 9};

std::vector<Compound> annotate(const std::vector<Peak>& peaks, const std::vector<adduct_configure_node>& table,
                               const std::vector<double>& hmdb, double tol, double refine_th,
                               LC_Polar_Mode mode = LC_Positive_Mode) {
    std::vector<Compound> out;
    testing::internal::CaptureStdout();
    adduct_annotation(peaks, table, hmdb, tol, refine_th, mode, out);
    testing::internal::GetCapturedStdout();
    return out;
}

TEST(AdductAnnotation, AdductTableIsCheckedBeforeAnything) {
    const std::string first_row_text =
        "Adduct_config_File is not correct! The first row's Dependence should be 0 and Formula should be ";
    struct Case {
        const char* name;
        std::vector<adduct_configure_node> table;
        LC_Polar_Mode mode;
        std::string message;
    };
    const Case cases[] = {
        {"first row depends on itself", {adduct("[M+H]+", 1, 1, 1.007276, 1)}, LC_Positive_Mode,
         first_row_text + "[M+H]+"},
        {"first row of the other polarity", kPositive, LC_Negative_Mode, first_row_text + "[M-H]-"},
        {"label with a blank", {adduct("[M+H]+ ", 1, 1, 1.007276, 0)}, LC_Positive_Mode, first_row_text + "[M+H]+"},
        {"empty table", {}, LC_Positive_Mode, first_row_text + "[M+H]+"},
        {"no molecule in a later row",
         {adduct("[M+H]+", 1, 1, 1.007276, 0), adduct("[M+Na]+", 0, 1, 22.989218, 1)},
         LC_Positive_Mode,
         "Adduct_config_File is not correct! The Molecule_Count at Row=2 should be greater than 0"},
        {"negative molecule count in the first row", {adduct("[M-H]-", -1, 1, -1.007276, 0)}, LC_Negative_Mode,
         "Adduct_config_File is not correct! The Molecule_Count at Row=1 should be greater than 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Compound> out(1);  // rows already there stay, and nothing is added
        out[0].Compound_ID = 77;
        try {
            adduct_annotation({make_peak(1, 0, 200.0, 10.0, kBell)}, c.table, {198.992724}, 0.01, 20.0, c.mode, out);
            ADD_FAILURE() << "no error raised";
        } catch (const korvane::AdductConfigError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].Compound_ID, 77u);
    }
    // An empty grouped list with a sound table: no row and no error.
    std::vector<Compound> out;
    EXPECT_NO_THROW(adduct_annotation({}, kPositive, {100.0}, 0.01, 20.0, LC_Positive_Mode, out));
    EXPECT_TRUE(out.empty());
}

TEST(AdductAnnotation, OneMemberGroupsMatchTheDatabaseWithBothEndsIncluded) {
    const double tol = 0.005;
    const double mz = 181.070665;
    const double M_pos = mz - 1.007276, M_neg = mz + 1.007276;
    struct Case {
        const char* name;
        LC_Polar_Mode mode;
        double hmdb_mass;
        bool match;
    };
    const Case cases[] = {
        {"positive, exact", LC_Positive_Mode, M_pos, true},
        {"positive, upper end", LC_Positive_Mode, M_pos + tol, true},
        {"positive, lower end", LC_Positive_Mode, M_pos - tol, true},
        {"positive, just above", LC_Positive_Mode, std::nextafter(M_pos + tol, 1e9), false},
        {"positive, just below", LC_Positive_Mode, std::nextafter(M_pos - tol, 0.0), false},
        {"positive, the negative mode's mass", LC_Positive_Mode, M_neg, false},
        {"negative, upper end", LC_Negative_Mode, M_neg + tol, true},
        {"negative, lower end", LC_Negative_Mode, M_neg - tol, true},
        {"negative, just above", LC_Negative_Mode, std::nextafter(M_neg + tol, 1e9), false},
        {"negative, the positive mode's mass", LC_Negative_Mode, M_pos, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto& table = c.mode == LC_Positive_Mode ? kProtonOnly : kDeprotonOnly;
        // Unsorted masses around the one that matters: the search must not depend on input order.
        const std::vector<Compound> out =
            annotate({make_peak(4, 9, mz, 33.0, kBell)}, table, {500.0, c.hmdb_mass, 20.0, 1000.0}, tol, 20.0, c.mode);
        if (!c.match) {
            EXPECT_TRUE(out.empty());
            continue;
        }
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].Adduct_Annotation, c.mode == LC_Positive_Mode ? "[M+H]+" : "[M-H]-");
        EXPECT_EQ(out[0].Compound_ID, 1u);
        EXPECT_EQ(out[0].Compound_MolecularMass, c.mode == LC_Positive_Mode ? M_pos : M_neg);
        EXPECT_EQ(out[0].Compound_Retention_Time, 33.0);
        EXPECT_EQ(out[0].Compound_Intensity, 9.0);
        EXPECT_EQ(out[0].EIC_ID, 9u);
        EXPECT_EQ(out[0].Group_ID, 4u);
        EXPECT_EQ(out[0].Peak_shape.size(), kBell.size());
    }
    // A negative tolerance holds no mass, even one equal to M (the count must not wrap).
    EXPECT_TRUE(annotate({make_peak(1, 0, mz, 1.0, kBell)}, kProtonOnly, {M_pos}, -0.001, 20.0).empty());
    EXPECT_TRUE(annotate({make_peak(1, 0, mz, 1.0, kBell)}, kProtonOnly, {M_pos}, std::nan(""), 20.0).empty());
}

TEST(AdductAnnotation, AdductClusterMakesOneCompound) {
    // M = 100: [M+H]+ at 101.007276, [M+Na]+ at 122.989218, [2M+H]+ at 201.007276, one scan apart
    // in retention time; no database entry, so only the clustering can explain them.
    const std::vector<Peak> peaks{make_peak(1, 0, 101.007276, 60.0, kBell), make_peak(1, 1, 122.989218, 61.0, kBell),
                                  make_peak(1, 2, 201.007276, 62.0, kBell)};
    const std::vector<Compound> out = annotate(peaks, kPositive, {}, 0.001, 20.0);
    ASSERT_EQ(out.size(), 3u);
    const char* labels[] = {"[M+H]+", "[M+Na]+", "[2M+H]+"};
    for (std::size_t k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(out[k].EIC_ID, k);
        EXPECT_EQ(out[k].Adduct_Annotation, labels[k]);
        EXPECT_EQ(out[k].Compound_ID, 1u);
        EXPECT_NEAR(out[k].Compound_MolecularMass, 100.0, 1e-9);
        EXPECT_EQ(out[k].Compound_Retention_Time, 61.0);  // middle of three
        EXPECT_EQ(out[k].Compound_Intensity, 9.0);
    }

    // Without the first row's reading in the cluster the chain is broken: [M+Na]+ and [2M+H]+ of
    // the same M alone explain nothing, and the group yields no row.
    const std::vector<Compound> broken =
        annotate({peaks[1], peaks[2]}, kPositive, {}, 0.001, 20.0);
    EXPECT_TRUE(broken.empty());
}

// Peak 0 at 101.007276 is [M+H]+ of 100 and [M+Na]+ of 78.018058; peak 1 is [M+Na]+ of 100 and
// peak 2 [M+H]+ of 78.018058. The two clusters share only peak 0, so neither contains the other
// and both survive: peak 0 has one row in each compound, under a different adduct each time.
TEST(AdductAnnotation, PeakInTwoCompoundsHasARowInEach) {
    const double other = 101.007276 - 22.989218;
    const std::vector<Peak> peaks{make_peak(1, 0, 101.007276, 60.0, kBell), make_peak(1, 1, 122.989218, 61.0, kBell),
                                  make_peak(1, 2, other + 1.007276, 62.0, kBell)};
    const std::vector<Compound> out = annotate(peaks, kPositive, {}, 0.001, 20.0);
    ASSERT_EQ(out.size(), 4u);
    std::map<std::uint32_t, std::vector<const Compound*>> by_compound;
    std::vector<const Compound*> rows_of_peak_0;
    for (const Compound& row : out) {
        by_compound[row.Compound_ID].push_back(&row);
        if (row.EIC_ID == 0) rows_of_peak_0.push_back(&row);
    }
    ASSERT_EQ(by_compound.size(), 2u);
    EXPECT_EQ(by_compound.begin()->first, 1u);
    EXPECT_EQ(by_compound.rbegin()->first, 2u);
    ASSERT_EQ(rows_of_peak_0.size(), 2u);
    EXPECT_NE(rows_of_peak_0[0]->Compound_ID, rows_of_peak_0[1]->Compound_ID);
    std::vector<std::string> adducts{rows_of_peak_0[0]->Adduct_Annotation, rows_of_peak_0[1]->Adduct_Annotation};
    std::sort(adducts.begin(), adducts.end());
    EXPECT_EQ(adducts, (std::vector<std::string>{"[M+H]+", "[M+Na]+"}));
    for (const auto& [id, rows] : by_compound) {
        SCOPED_TRACE(id);
        ASSERT_EQ(rows.size(), 2u);
        const double mass = rows[0]->Compound_MolecularMass;
        EXPECT_NEAR(mass, rows[0]->EIC_ID + rows[1]->EIC_ID == 1 ? 100.0 : other, 1e-9);
        EXPECT_EQ(rows[1]->Compound_MolecularMass, mass);
    }
}

TEST(AdductAnnotation, ShapeRefinementTiesUnplacedAndNumbering) {
    // Group 2: two database compounds of identical shape (compounds 1 and 2) and two peaks without
    // a match: one of the same shape (equal mean angles: it joins the lower number), one of another
    // shape (left unplaced). Group 3: a lone peak without a match (no row). Group 5: one database
    // compound (number 3, continuing without a gap).
    const std::vector<double> hmdb{150.0 - 1.007276 + 0.0, 300.0 - 1.007276, 700.0 - 1.007276};
    std::vector<Peak> peaks{
        make_peak(5, 50, 700.0, 90.0, kBell),  make_peak(2, 20, 150.0, 30.0, kBell),
        make_peak(2, 21, 300.0, 31.0, kBell),  make_peak(2, 22, 410.0, 32.0, kBell),
        make_peak(2, 23, 520.0, 33.0, kValley), make_peak(3, 30, 610.0, 40.0, kBell),
    };
    const std::vector<Compound> out = annotate(peaks, kProtonOnly, hmdb, 0.001, 10.0);
    ASSERT_EQ(out.size(), 5u);
    // Group 2 first (ascending Group_ID), sorted by Compound_ID: the unplaced row (0) leads.
    EXPECT_EQ(out[0].EIC_ID, 23u);
    EXPECT_EQ(out[0].Compound_ID, 0u);
    EXPECT_EQ(out[0].Adduct_Annotation, "[M+X]+");
    EXPECT_EQ(out[0].Compound_MolecularMass, 0.0);
    EXPECT_EQ(out[0].Compound_Retention_Time, 0.0);
    EXPECT_EQ(out[0].Compound_Intensity, 0.0);
    EXPECT_EQ(out[1].EIC_ID, 20u);
    EXPECT_EQ(out[1].Compound_ID, 1u);
    EXPECT_EQ(out[2].EIC_ID, 22u);
    EXPECT_EQ(out[2].Compound_ID, 1u);
    EXPECT_EQ(out[2].Adduct_Annotation, "[M+X]+");
    EXPECT_EQ(out[2].Compound_MolecularMass, 150.0 - 1.007276);
    EXPECT_EQ(out[1].Compound_Retention_Time, 31.0);  // mean of 30 and 32
    EXPECT_EQ(out[2].Compound_Retention_Time, 31.0);
    EXPECT_EQ(out[3].EIC_ID, 21u);
    EXPECT_EQ(out[3].Compound_ID, 2u);
    EXPECT_EQ(out[4].EIC_ID, 50u);
    EXPECT_EQ(out[4].Compound_ID, 3u);
    EXPECT_EQ(out[4].Group_ID, 5u);
}

TEST(AdductAnnotation, RefinementAttachesAtExactlyTheThreshold) {
    const Peak matched = make_peak(1, 0, 150.0, 30.0, {1, 4, 9, 4, 1});
    const Peak other = make_peak(1, 1, 410.0, 30.0, {1, 5, 9, 3, 1});
    Compound as_compound;
    as_compound.Peak_shape = matched.Peak_shape;
    as_compound.Left_Boundary = matched.Left_Boundary;
    as_compound.Right_Boundary = matched.Right_Boundary;
    const double angle = calc_dotproduct_angle(other, as_compound, 3);
    ASSERT_GT(angle, 0.0);
    const std::vector<double> hmdb{150.0 - 1.007276};
    struct Case {
        const char* name;
        double threshold;
        std::uint32_t compound;
    };
    const Case cases[] = {{"equal", angle, 1u}, {"one step below", std::nextafter(angle, 0.0), 0u}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Compound> out = annotate({matched, other}, kProtonOnly, hmdb, 0.001, c.threshold);
        ASSERT_EQ(out.size(), 2u);
        const Compound& refined = out[0].EIC_ID == 1 ? out[0] : out[1];
        EXPECT_EQ(refined.Compound_ID, c.compound);
        EXPECT_EQ(refined.Adduct_Annotation, "[M+X]+");
    }
}

TEST(AdductAnnotation, RandomGroupsKeepTheNumberingAndCompoundRules) {
    // Groups built from a few neutral masses read through the table's adducts, plus stray peaks,
    // so that clustering, database matches and refinement all take part.
    std::mt19937_64 rng(20261209);
    std::uniform_real_distribution<double> mass_d(80.0, 600.0), noise_mz(100.0, 900.0), rt_d(10.0, 900.0);
    std::uniform_int_distribution<int> members_d(1, 6), adduct_d(0, 2), shape_d(0, 1);
    std::vector<Peak> peaks;
    std::vector<double> hmdb;
    std::uint32_t tag = 0;
    for (std::uint32_t g = 1; g <= 60; ++g) {
        if (g % 7 == 0) continue;  // a Group_ID nobody carries
        const double M = mass_d(rng);
        if (g % 3 == 0) hmdb.push_back(M);
        const double rt = rt_d(rng);
        const int n = members_d(rng);
        for (int k = 0; k < n; ++k) {
            const adduct_configure_node& a = kPositive[static_cast<std::size_t>(adduct_d(rng))];
            const double mz = k % 3 == 2 ? noise_mz(rng) : (a.Molecule_Count * M + a.Mass_Shift) / a.Charge_Count;
            peaks.push_back(make_peak(g, tag++, mz, rt + k, shape_d(rng) ? kBell : kValley));
        }
    }
    std::shuffle(peaks.begin(), peaks.end(), rng);
    const std::vector<Compound> out = annotate(peaks, kPositive, hmdb, 0.002, 15.0);
    ASSERT_FALSE(out.empty());

    std::uint32_t last_group = 0, largest_id = 0;
    std::map<std::uint32_t, const Compound*> first_row_of;
    std::map<std::uint32_t, std::uint32_t> group_of;
    for (const Compound& row : out) {
        SCOPED_TRACE(testing::Message() << "EIC_ID " << row.EIC_ID << " group " << row.Group_ID);
        EXPECT_GE(row.Group_ID, last_group);
        last_group = row.Group_ID;
        if (row.Compound_ID == 0) {
            EXPECT_EQ(row.Adduct_Annotation, "[M+X]+");
            EXPECT_EQ(row.Compound_MolecularMass, 0.0);
            EXPECT_EQ(row.Compound_Retention_Time, 0.0);
            EXPECT_EQ(row.Compound_Intensity, 0.0);
            continue;
        }
        largest_id = std::max(largest_id, row.Compound_ID);
        auto [it, fresh] = first_row_of.emplace(row.Compound_ID, &row);
        group_of.emplace(row.Compound_ID, row.Group_ID);
        EXPECT_EQ(group_of[row.Compound_ID], row.Group_ID);  // a compound never spans groups
        if (!fresh) {
            EXPECT_EQ(row.Compound_MolecularMass, it->second->Compound_MolecularMass);
            EXPECT_EQ(row.Compound_Retention_Time, it->second->Compound_Retention_Time);
            EXPECT_EQ(row.Compound_Intensity, it->second->Compound_Intensity);
        }
        EXPECT_GE(row.Compound_Intensity, row.Apex_Intensity);
    }
    // 1..K without gaps, rising with Group_ID.
    EXPECT_EQ(first_row_of.size(), largest_id);
    std::uint32_t previous_group = 0;
    for (const auto& [id, group] : group_of) {
        EXPECT_GE(group, previous_group) << "compound " << id;
        previous_group = group;
    }
}

// Candidate i of peakset_unique_process is peak i / A, adduct row i % A.
TEST(PeaksetUniqueProcess, DependenceChainsDecideWhatSurvives) {
    struct Case {
        const char* name;
        std::vector<std::int32_t> dependence;  // one per adduct row
        std::vector<std::uint32_t> labels;
        std::vector<std::int32_t> expected;
    };
    const Case cases[] = {
        // A = 2, two peaks: peak 0 row 0 and peak 1 row 1 (depends on row 1) share label 1.
        {"first row and a row depending on it", {0, 1}, {1, 2, 3, 1}, {1, -2, -3, 1}},
        // A = 3: rows 1 and 2 both depend on row 1, but row 0 is not in the cluster.
        {"two dependent rows without the first", {0, 1, 1}, {1, 2, 3, 4, 5, 2}, {-1, -2, -3, -4, -5, -2}},
        // A = 4: label 1 holds peak 0 row 0, peak 1 row 1 (depends on row 1) and peak 2 row 2,
        // which depends on row 4, absent from the cluster.
        {"a third reading whose row is absent", {0, 1, 4, 1},
         {1, 2, 3, 4, 5, 1, 6, 7, 8, 9, 1, 10},
         {1, -2, -3, -4, -5, 1, -6, -7, -8, -9, -1, -10}},
        {"a lone candidate", {0}, {1, 2, 2}, {-1, 2, 2}},
        {"dependence 0 on a later row names no row", {0, 0}, {1, 2, 3, 1}, {-1, -2, -3, -1}},
        // Cycles: row 1 names itself; rows 1 and 2 name each other. Neither reaches row 0, and the
        // chain must end rather than loop.
        {"a row naming itself", {0, 2}, {1, 2, 3, 1}, {-1, -2, -3, -1}},
        {"two rows naming each other", {0, 3, 2}, {1, 2, 3, 4, 1, 1}, {-1, -2, -3, -4, -1, -1}},
        {"a cycle beside a complete chain", {0, 1, 3}, {1, 1, 2, 3, 4, 1}, {1, 1, -2, -3, -4, -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::int32_t> unique{99};
        testing::internal::CaptureStdout();
        peakset_unique_process(c.labels, static_cast<std::uint32_t>(c.dependence.size()), c.dependence, unique);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(unique, c.expected);
    }
}

TEST(PeaksetUniqueProcess, ContainedClustersAreDropped) {
    struct Case {
        const char* name;
        std::vector<std::uint32_t> labels;  // A = 2; row 1 depends on row 0
        std::vector<std::int32_t> expected;
    };
    const Case cases[] = {
        // Peaks 0 and 1 under label 1 (peak 0 row 0, peak 1 row 1) and again under label 2 (peak 0
        // row 1, peak 1 row 0): same peaks, the smaller label stays.
        {"same peaks, smaller label stays", {1, 2, 2, 1}, {1, -2, -2, 1}},
        // Label 1 over peaks 0,1,2; label 2 over peaks 0,1 only: strict subset dropped.
        {"later strict subset", {1, 2, 2, 1, 1, 3}, {1, -2, -2, 1, 1, -3}},
        // Label 1 over peaks 0,1; label 2 over peaks 0,1,2: the earlier one is the subset.
        {"earlier strict subset", {1, 2, 2, 1, 2, 3}, {-1, 2, 2, -1, 2, -3}},
        // Label 1 over peaks 0,1; label 2 over peaks 1,2.
        {"overlap without containment", {1, 3, 2, 1, 4, 2}, {1, -3, 2, 1, -4, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::int32_t> unique;
        testing::internal::CaptureStdout();
        peakset_unique_process(c.labels, 2, {0, 1}, unique);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(unique, c.expected);
    }
}

TEST(PeaksetUniqueProcess, MissingLabelIsReported) {
    std::vector<std::int32_t> unique;
    testing::internal::CaptureStdout();
    peakset_unique_process({1, 3, 3, 1}, 2, {0, 1}, unique);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Adduct Annotation: empty cluster are grouped!\n");
    EXPECT_EQ(unique, (std::vector<std::int32_t>{1, -3, -3, 1}));
}

TEST(SetContainRelation, MultisetContainment) {
    struct Case {
        const char* name;
        std::vector<std::uint32_t> a, b;
        Set_Relationship expected;
    };
    const Case cases[] = {
        {"equal", {3, 1, 2}, {2, 3, 1}, Set_1_Contain_Set_2},
        {"second a strict subset", {1, 2, 3}, {3, 1}, Set_1_Contain_Set_2},
        {"first a strict subset", {2}, {1, 2}, Set_2_Contain_Set_1},
        {"neither", {1, 2}, {2, 3}, Set_No_Contain},
        {"repeated element counts", {1}, {1, 1}, Set_2_Contain_Set_1},
        {"repeated element in the first", {1, 1, 2}, {2, 1}, Set_1_Contain_Set_2},
        {"both empty", {}, {}, Set_1_Contain_Set_2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(set_contain_relation(c.a, c.b), c.expected);
    }
}

TEST(CompoundInformationRetrieve, MediansAndLargestIntensity) {
    auto row = [](std::uint32_t id, double rt, double mass, double intensity) {
        Compound c;
        c.Compound_ID = id;
        c.Apex_Retention_Time = rt;
        c.Compound_MolecularMass = mass;
        c.Apex_Intensity = intensity;
        return c;
    };
    std::vector<Compound> rows{
        row(0, 5.0, 0.0, 50.0),                                                  // no compound
        row(1, 10.0, 100.0, 3.0),                                                // one row
        row(2, 20.0, 200.0, 1.0),  row(2, 30.0, 201.0, 7.0),                    // two: means
        row(3, 50.0, 302.0, 2.0),  row(3, 40.0, 300.0, 8.0), row(3, 45.0, 301.5, 4.0),  // three: middle
    };
    Compound_Information_Retrieve(rows);
    struct Expect {
        double rt, mass, intensity;
    };
    const Expect expected[] = {{0, 0, 0}, {10, 100, 3}, {25, 200.5, 7}, {25, 200.5, 7},
                               {45, 301.5, 8}, {45, 301.5, 8}, {45, 301.5, 8}};
    for (std::size_t k = 0; k < rows.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(rows[k].Compound_Retention_Time, expected[k].rt);
        EXPECT_EQ(rows[k].Compound_MolecularMass, expected[k].mass);
        EXPECT_EQ(rows[k].Compound_Intensity, expected[k].intensity);
    }
    EXPECT_EQ(calc_median({4.0}), 4.0);
    EXPECT_EQ(calc_median({4.0, 1.0}), 2.5);
    EXPECT_EQ(calc_median({4.0, 1.0, 9.0}), 4.0);
}

}  // namespace
