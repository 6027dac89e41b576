#include "engine/annotation/alignment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "reference/alignment_oracle.h"

namespace {

using Row = Chromatogram_Peak_Group_Compound_Align;

// tag goes into EIC_ID so a row can be followed through the reordering.
Row make_row(std::uint32_t tag, std::uint32_t sample, std::uint32_t compound, double mass, double rt,
             double intensity) {
    Row r;
    r.EIC_ID = tag;
    r.SAMPLE_ID = sample;
    r.SAMPLE_NAME = std::to_string(sample);
    r.SAMPLE_NAME.insert(r.SAMPLE_NAME.begin(), 's');
    r.Compound_ID = compound;
    r.Compound_MolecularMass = mass;
    r.Compound_Retention_Time = rt;
    r.Compound_Intensity = intensity;
    r.Peak_shape.push_back(Data_Point{tag, rt, mass, intensity});
    return r;
}

const Row& by_tag(const std::vector<Row>& rows, std::uint32_t tag) {
    for (const Row& r : rows)
        if (r.EIC_ID == tag) return r;
    ADD_FAILURE() << "no row with tag " << tag;
    return rows.front();
}

std::string align_and_capture(Compound_Align_Mode mode, double tol, double w1, double w2, std::vector<Row>& rows) {
    testing::internal::CaptureStdout();
    compound_align(mode, tol, w1, w2, rows);
    return testing::internal::GetCapturedStdout();
}

std::string final_line(unsigned n) {
    return "Compound Alignment Finished, Totoally, " + std::to_string(n) + "Align Groups are generated!\n";
}

// The last line of the captured output (the workbench's variant prints progress lines before it).
std::string last_line(const std::string& out) {
    if (out.empty()) return out;
    const std::size_t cut = out.rfind('\n', out.size() - 2);
    return cut == std::string::npos ? out : out.substr(cut + 1);
}

TEST(CompoundAlign, OnePhaseJoinsAtHalfWindowAndMassTolButNotBeyond) {
    // Reference 200 Da at 100 s; window 10 s (half 5), tolerance 0.5 Da: all values exact in binary.
    struct Case {
        const char* name;
        double mass, rt;
        bool joins;
    };
    const Case cases[] = {
        {"exactly half the window later", 200.0, 105.0, true},
        {"exactly half the window earlier", 200.0, 95.0, true},
        {"exactly the mass tolerance above", 200.5, 100.0, true},
        {"exactly the mass tolerance below", 199.5, 100.0, true},
        {"both limits at once", 200.5, 105.0, true},
        {"one step beyond half the window", 200.0, std::nextafter(105.0, 200.0), false},
        {"one step beyond the tolerance", std::nextafter(200.5, 300.0), 100.0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Row> rows{make_row(1, 0, 1, 200.0, 100.0, 50.0), make_row(2, 1, 7, c.mass, c.rt, 10.0)};
        align_and_capture(One_Phase_Align, 0.5, 10.0, 1.0, rows);
        EXPECT_EQ(by_tag(rows, 1).Align_ID, 1u);
        EXPECT_EQ(by_tag(rows, 1).Align_RT, 100.0);
        if (c.joins) {
            EXPECT_EQ(by_tag(rows, 2).Align_ID, 1u);
            EXPECT_EQ(by_tag(rows, 2).Align_RT, 100.0);
        } else {
            // Founds its own feature instead.
            EXPECT_EQ(by_tag(rows, 2).Align_ID, 2u);
            EXPECT_EQ(by_tag(rows, 2).Align_RT, c.rt);
        }
    }
}

TEST(CompoundAlign, TwoPhaseReferenceIsTheMedianOfTheFirstWindow) {
    struct Case {
        const char* name;
        std::vector<double> other_rts;  // one sample each, same mass as the founder
        double expected_rt;
    };
    const Case cases[] = {
        {"one other compound: mean of two", {104.0}, 102.0},
        {"two others: middle of three", {103.0, 104.5}, 103.0},
        {"outside the first window does not count", {103.0, 110.0}, 101.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Row> rows{make_row(0, 0, 1, 300.0, 100.0, 90.0)};
        for (std::size_t i = 0; i < c.other_rts.size(); ++i)
            rows.push_back(make_row(static_cast<std::uint32_t>(i + 1), static_cast<std::uint32_t>(i + 1), 1,
                                    300.0, c.other_rts[i], 10.0));
        // Window 1 of 10 s collects within 5 s; window 2 of 20 s takes back everything within 10 s.
        align_and_capture(Two_Phase_Align, 0.01, 10.0, 20.0, rows);
        EXPECT_EQ(by_tag(rows, 0).Align_ID, 1u);
        EXPECT_EQ(by_tag(rows, 0).Align_RT, c.expected_rt);
    }
}

TEST(CompoundAlign, TwoPhaseMassMedianTakenOnItsOwn) {
    // The first window (tolerance 0.3 Da) collects the founder (100.0 Da, 50 s) and two compounds
    // at 100.2 Da, 52 s and 48 s: medians 100.2 Da and 50 s. The fourth compound, 100.45 Da at
    // 50 s, is 0.45 Da from the founder but 0.25 Da from the re-centred mass, so it joins.
    std::vector<Row> rows{make_row(0, 0, 1, 100.0, 50.0, 90.0), make_row(1, 1, 1, 100.2, 52.0, 5.0),
                          make_row(2, 2, 1, 100.2, 48.0, 5.0), make_row(3, 3, 1, 100.45, 50.0, 1.0)};
    align_and_capture(Two_Phase_Align, 0.3, 10.0, 2.0, rows);
    EXPECT_EQ(by_tag(rows, 0).Align_ID, 1u);
    EXPECT_EQ(by_tag(rows, 0).Align_RT, 50.0);
    EXPECT_EQ(by_tag(rows, 3).Align_ID, 1u);
    EXPECT_NE(by_tag(rows, 1).Align_ID, 1u);  // 2 s from the median, outside the second window
}

TEST(CompoundAlign, OneCompoundPerSampleNearestWins) {
    // Sample 1 has two compounds in the founder's window: 101 (nearer) stays, 103 goes back to the
    // pool and founds the second feature with the third sample's 103.5.
    std::vector<Row> rows{make_row(0, 0, 1, 150.0, 100.0, 80.0), make_row(1, 1, 1, 150.0, 101.0, 20.0),
                          make_row(2, 1, 2, 150.0, 103.0, 30.0), make_row(3, 2, 4, 150.0, 103.5, 1.0)};
    const std::string out = align_and_capture(One_Phase_Align, 0.01, 8.0, 0.0, rows);
    EXPECT_EQ(by_tag(rows, 0).Align_ID, 1u);
    EXPECT_EQ(by_tag(rows, 1).Align_ID, 1u);
    EXPECT_EQ(by_tag(rows, 2).Align_ID, 2u);
    EXPECT_EQ(by_tag(rows, 2).Align_RT, 103.0);
    EXPECT_EQ(by_tag(rows, 3).Align_ID, 1u);  // sample 2's only compound: 3.5 s is within 4
    EXPECT_EQ(last_line(out), final_line(2));

    // Equally near compounds of one sample both stay.
    std::vector<Row> tie{make_row(0, 0, 1, 150.0, 100.0, 80.0), make_row(1, 1, 1, 150.0, 99.0, 20.0),
                         make_row(2, 1, 2, 150.0, 101.0, 30.0)};
    align_and_capture(One_Phase_Align, 0.01, 8.0, 0.0, tie);
    for (const Row& r : tie) EXPECT_EQ(r.Align_ID, 1u) << "tag " << r.EIC_ID;
}

TEST(CompoundAlign, RowsOfOneCompoundMoveTogetherAndCompoundZeroStaysOut) {
    std::vector<Row> rows;
    // Sample 0, compound 3 with three adduct rows; sample 1 compound 5 with two; a Compound_ID 0
    // row right at the reference; a second feature elsewhere.
    for (std::uint32_t t = 0; t < 3; ++t) rows.push_back(make_row(t, 0, 3, 250.0, 60.0, 40.0));
    for (std::uint32_t t = 3; t < 5; ++t) rows.push_back(make_row(t, 1, 5, 250.001, 61.0, 30.0));
    rows.push_back(make_row(5, 1, 0, 250.0, 60.0, 0.0));
    rows.push_back(make_row(6, 2, 1, 500.0, 60.0, 7.0));
    const std::string out = align_and_capture(One_Phase_Align, 0.01, 10.0, 0.0, rows);
    for (std::uint32_t t = 0; t < 5; ++t) EXPECT_EQ(by_tag(rows, t).Align_ID, 1u) << "tag " << t;
    EXPECT_EQ(by_tag(rows, 5).Align_ID, 0u);
    EXPECT_EQ(by_tag(rows, 5).Align_RT, 0.0);
    EXPECT_EQ(by_tag(rows, 6).Align_ID, 2u);
    // Sorted by Align_ID, the unaligned row first.
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[0].EIC_ID, 5u);
    for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_LE(rows[i - 1].Align_ID, rows[i].Align_ID);
    EXPECT_EQ(rows[0].SAMPLE_NAME, "s1");
    EXPECT_EQ(last_line(out), final_line(2));
}

TEST(CompoundAlign, NothingToFoundAFeature) {
    struct Case {
        const char* name;
        Compound_Align_Mode mode;
        double tol, w1, w2;
        std::vector<Row> rows;
    };
    const Case cases[] = {
        {"empty list", One_Phase_Align, 0.01, 10.0, 5.0, {}},
        {"empty list, two-phase", Two_Phase_Align, 0.01, 10.0, 5.0, {}},
        {"every intensity 0", One_Phase_Align, 0.01, 10.0, 5.0,
         {make_row(0, 0, 1, 100.0, 10.0, 0.0), make_row(1, 1, 2, 100.0, 10.0, 0.0)}},
        {"negative intensity", Two_Phase_Align, 0.01, 10.0, 5.0, {make_row(0, 0, 1, 100.0, 10.0, -3.0)}},
        // A negative tolerance or window would make every pass take nothing, for ever.
        {"negative mass tolerance", One_Phase_Align, -0.01, 10.0, 5.0, {make_row(0, 0, 1, 100.0, 10.0, 5.0)}},
        {"negative window", One_Phase_Align, 0.01, -10.0, 5.0, {make_row(0, 0, 1, 100.0, 10.0, 5.0)}},
        {"negative tolerance, two-phase", Two_Phase_Align, -0.01, 10.0, 5.0, {make_row(0, 0, 1, 100.0, 10.0, 5.0)}},
        {"negative first window, two-phase", Two_Phase_Align, 0.01, -10.0, -5.0,
         {make_row(0, 0, 1, 100.0, 10.0, 5.0)}},
        // Intense but Compound_ID 0: it can never join, so its pass takes nothing.
        {"intense row of no compound", One_Phase_Align, 0.01, 10.0, 5.0, {make_row(0, 0, 0, 100.0, 10.0, 5.0)}},
    };
    for (Case c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t n = c.rows.size();
        const std::string out = align_and_capture(c.mode, c.tol, c.w1, c.w2, c.rows);
        EXPECT_EQ(last_line(out), final_line(0));
        ASSERT_EQ(c.rows.size(), n);
        for (const Row& r : c.rows) {
            EXPECT_EQ(r.Align_ID, 0u);
            EXPECT_EQ(r.Align_RT, 0.0);
        }
    }
}

TEST(CompoundAlign, TwoPhaseEndsWhenTheMediansMissEveryRow) {
    // Founder at 100 s, one more compound at 104 s: the first window (half 5) collects both, the
    // median 102 has nothing within the second window's half of 0.5 s. The pass is redone around
    // the founder; the other compound then founds feature 2 on its own median.
    std::vector<Row> rows{make_row(0, 0, 1, 100.0, 100.0, 9.0), make_row(1, 1, 1, 100.0, 104.0, 3.0)};
    const std::string out = align_and_capture(Two_Phase_Align, 0.01, 10.0, 1.0, rows);
    EXPECT_EQ(by_tag(rows, 0).Align_ID, 1u);
    EXPECT_EQ(by_tag(rows, 0).Align_RT, 100.0);
    EXPECT_EQ(by_tag(rows, 1).Align_ID, 2u);
    EXPECT_EQ(by_tag(rows, 1).Align_RT, 104.0);
    EXPECT_EQ(last_line(out), final_line(2));

    std::vector<Row> same = {make_row(0, 0, 1, 100.0, 100.0, 9.0), make_row(1, 1, 1, 100.0, 104.0, 3.0)};
    EXPECT_EQ(oracle::compound_align(true, 0.01, 10.0, 1.0, same), 2u);

    // A negative first window collects nothing: the founder's own values are the reference, and
    // the second window still works around them.
    std::vector<Row> empty_first{make_row(0, 0, 1, 100.0, 100.0, 9.0), make_row(1, 1, 1, 100.0, 102.0, 3.0)};
    const std::string out2 = align_and_capture(Two_Phase_Align, 0.01, -10.0, 6.0, empty_first);
    EXPECT_EQ(by_tag(empty_first, 0).Align_ID, 1u);
    EXPECT_EQ(by_tag(empty_first, 1).Align_ID, 1u);
    EXPECT_EQ(by_tag(empty_first, 1).Align_RT, 100.0);
    EXPECT_EQ(last_line(out2), final_line(1));
}

// Random rows built to exercise what decides order: intensity ties between different compounds,
// several rows per compound, samples with more than one compound in a window, Compound_ID 0 rows.
std::vector<Row> random_rows(std::mt19937_64& rng, std::size_t compounds, std::size_t samples) {
    std::uniform_real_distribution<double> mass_d(100.0, 100.0 + 0.02 * static_cast<double>(compounds) + 1.0);
    std::uniform_real_distribution<double> rt_d(0.0, 60.0);
    std::uniform_real_distribution<double> jitter(-0.008, 0.008);
    std::uniform_real_distribution<double> rt_jitter(-3.0, 3.0);
    std::uniform_int_distribution<int> intensity_level(0, 6);
    std::uniform_int_distribution<int> adducts(1, 3);
    std::bernoulli_distribution present(0.7), no_compound(0.05);
    std::vector<double> mass(compounds), rt(compounds);
    for (std::size_t c = 0; c < compounds; ++c) {
        mass[c] = mass_d(rng);
        rt[c] = rt_d(rng);
    }
    std::vector<Row> rows;
    std::uint32_t tag = 0;
    for (std::size_t s = 0; s < samples; ++s) {
        std::uint32_t compound_id = 0;
        for (std::size_t c = 0; c < compounds; ++c) {
            if (!present(rng)) continue;
            const bool none = no_compound(rng);
            const std::uint32_t cid = none ? 0 : ++compound_id;
            const double m = std::round((mass[c] + jitter(rng)) * 1000.0) / 1000.0;
            const double t = std::round((rt[c] + rt_jitter(rng)) * 4.0) / 4.0;  // quarter seconds: ties
            const double inten = none ? 0.0 : 10.0 * intensity_level(rng);
            const int n = adducts(rng);
            for (int a = 0; a < n; ++a)
                rows.push_back(make_row(tag++, static_cast<std::uint32_t>(s), cid, m, t, inten));
        }
    }
    std::shuffle(rows.begin(), rows.end(), rng);
    return rows;
}

// The same rows (followed by their tags) in the same order, with the same Align_ID and Align_RT bits.
void expect_same_rows(const std::vector<Row>& fast, const std::vector<Row>& slow) {
    ASSERT_EQ(fast.size(), slow.size());
    for (std::size_t i = 0; i < fast.size(); ++i) {
        ASSERT_EQ(fast[i].EIC_ID, slow[i].EIC_ID) << "position " << i;
        ASSERT_EQ(fast[i].Align_ID, slow[i].Align_ID) << "position " << i;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(fast[i].Align_RT), std::bit_cast<std::uint64_t>(slow[i].Align_RT))
            << "position " << i;
        ASSERT_EQ(fast[i].Peak_shape.size(), 1u);
        ASSERT_EQ(fast[i].SAMPLE_NAME, slow[i].SAMPLE_NAME);
    }
}

TEST(CompoundAlign, SameRowsInSameOrderAsPlainTranscription) {
    std::mt19937_64 rng(20261209);
    struct Setting {
        Compound_Align_Mode mode;
        double tol, w1, w2;
    };
    const Setting settings[] = {
        {One_Phase_Align, 0.01, 6.0, 0.0},  {One_Phase_Align, 0.02, 20.0, 0.0}, {Two_Phase_Align, 0.01, 6.0, 4.0},
        {Two_Phase_Align, 0.015, 10.0, 1.0}, {Two_Phase_Align, 0.01, 4.0, 8.0}, {One_Phase_Align, 0.0, 0.0, 0.0},
        {Two_Phase_Align, 0.0, 0.0, 0.0},
        // No row can match any founder: every founder is passed over, as the transcription stops.
        {One_Phase_Align, -0.01, 6.0, 0.0}, {Two_Phase_Align, 0.01, 6.0, -4.0},
    };
    for (std::size_t compounds : {1u, 2u, 5u, 30u, 200u}) {
        for (std::size_t samples : {1u, 3u, 12u}) {
            if (compounds * samples > 1000) continue;  // the transcription is quadratic
            for (const Setting& s : settings) {
                std::vector<Row> fast = random_rows(rng, compounds, samples), slow = fast;
                SCOPED_TRACE(testing::Message() << "compounds=" << compounds << " samples=" << samples
                                                << " mode=" << s.mode << " tol=" << s.tol << " w1=" << s.w1
                                                << " w2=" << s.w2 << " rows=" << fast.size());
                const std::string out = align_and_capture(s.mode, s.tol, s.w1, s.w2, fast);
                const std::uint32_t features =
                    oracle::compound_align(s.mode == Two_Phase_Align, s.tol, s.w1, s.w2, slow);
                EXPECT_EQ(last_line(out), final_line(features));
                ASSERT_NO_FATAL_FAILURE(expect_same_rows(fast, slow));
            }
        }
    }
}

// A row whose mass or time is not finite can match nothing, itself included; as the most intense
// row left it stays unaligned and the next one founds the feature.
// A NaN intensity never founds, even first in the list. So every such row acts as a row that never
// founds (intensity 0) would in the transcription, which alone sets the expected result.
TEST(CompoundAlign, RowsThatCanMatchNothingStayOutAndAlignmentGoesOn) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        Compound_Align_Mode mode;
        void (*spoil)(Row&);
    };
    const Case cases[] = {
        {"NaN mass", One_Phase_Align, [](Row& r) { r.Compound_MolecularMass = kNaN; }},
        {"infinite mass, two-phase", Two_Phase_Align, [](Row& r) { r.Compound_MolecularMass = kInf; }},
        {"NaN time, two-phase", Two_Phase_Align, [](Row& r) { r.Compound_Retention_Time = kNaN; }},
        {"minus infinite time", One_Phase_Align, [](Row& r) { r.Compound_Retention_Time = -kInf; }},
        {"infinite intensity and NaN mass", One_Phase_Align,
         [](Row& r) { r.Compound_Intensity = kInf, r.Compound_MolecularMass = kNaN; }},
        {"NaN intensity", One_Phase_Align, [](Row& r) { r.Compound_Intensity = kNaN; }},
    };
    const auto can_found = [](const Row& r) {
        return std::isfinite(r.Compound_MolecularMass) && std::isfinite(r.Compound_Retention_Time) &&
               !std::isnan(r.Compound_Intensity);
    };
    std::mt19937_64 rng(20261211);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Row> rows = random_rows(rng, 60, 5);
        // The spoiled rows: the most intense one, and the one in front (the first founder candidate
        // in list order, and where a NaN intensity used to end the work).
        const auto top = std::max_element(rows.begin(), rows.end(), Comp_Alignpeak_by_Compound_Intensity);
        for (std::uint32_t tag : {top->EIC_ID, rows.front().EIC_ID}) {
            for (Row& r : rows) {
                if (r.EIC_ID != tag) continue;
                c.spoil(r);
                r.Compound_Intensity += 1000.0;
            }
        }
        std::vector<Row> expected = rows;
        for (Row& r : expected)
            if (!can_found(r)) r.Compound_Intensity = 0.0;
        const std::uint32_t features = oracle::compound_align(c.mode == Two_Phase_Align, 0.01, 6.0, 4.0, expected);
        const std::string out = align_and_capture(c.mode, 0.01, 6.0, 4.0, rows);
        EXPECT_GT(features, 10u);
        EXPECT_EQ(last_line(out), final_line(features));
        ASSERT_NO_FATAL_FAILURE(expect_same_rows(rows, expected));
    }

    // An intense row of no compound with no compound near it is passed over in the same way.
    std::vector<Row> rows{make_row(0, 0, 0, 500.0, 10.0, 90.0), make_row(1, 1, 1, 100.0, 10.0, 5.0)};
    const std::string out = align_and_capture(One_Phase_Align, 0.01, 6.0, 0.0, rows);
    EXPECT_EQ(by_tag(rows, 0).Align_ID, 0u);
    EXPECT_EQ(by_tag(rows, 1).Align_ID, 1u);
    EXPECT_EQ(last_line(out), final_line(1));
}

TEST(CompoundAlign, AlignedListAlignedAgainIsUnchanged) {
    std::mt19937_64 rng(7);
    std::vector<Row> rows = random_rows(rng, 40, 4);
    align_and_capture(Two_Phase_Align, 0.01, 6.0, 4.0, rows);
    std::vector<Row> again = rows;
    align_and_capture(Two_Phase_Align, 0.01, 6.0, 4.0, again);
    ASSERT_EQ(again.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(again[i].EIC_ID, rows[i].EIC_ID);
        EXPECT_EQ(again[i].Align_ID, rows[i].Align_ID);
    }
}

}  // namespace
