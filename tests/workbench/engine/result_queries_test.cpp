#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <filesystem>
#include <limits>
#include <list>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/output/database_output.h"
#include "sqlitewrap/cppsqlite3.h"
#include "engine/run/pipeline_process.h"
#include "tests/support/temp_dir.h"
#include "tests/workbench/engine/facade_test_support.h"
#include "workbench/engine/korvane_engine.h"
#include "workbench/engine/result_queries.h"

namespace fs = std::filesystem;
using korvane::test::TempDir;

namespace {

constexpr double kStoredTol = 0.5e-6;  // the databases keep 6 decimals
const char* const kDb = "s_annotated_grouped_chromatograph_peaklist.db";
const char* const kAlignDb = "aligned_annotated_grouped_chromatograph_peaklist.aligndb";

Chromatogram_Peak_Group_Compound compound(std::uint32_t eic, std::uint32_t peak, std::uint32_t group,
                                          std::uint32_t compound_id, double mz, std::vector<Data_Point> shape) {
    Chromatogram_Peak_Group_Compound c;
    c.Peak_shape = std::move(shape);
    c.EIC_ID = eic;
    c.Peak_ID = peak;
    c.Apex_MZ = mz;
    c.Apex_Pos = 40 + peak;
    c.Apex_Retention_Time = 20.1234567;
    c.Apex_Intensity = 15000.25;
    c.Peak_Area = 123456.7890123;
    c.Peak_SNR = 12.5;
    c.Left_Boundary = 30;
    c.Right_Boundary = 4000000000u;  // beyond the int range: stored as a negative "%d"
    c.Group_ID = group;
    c.Adduct_Annotation = "[M+H]+";
    c.Compound_ID = compound_id;
    c.Compound_MolecularMass = mz - 1.007276;
    c.Compound_Retention_Time = 20.5;
    c.Compound_Intensity = 30000.0;
    return c;
}

Chromatogram_Peak_Group_Compound_Align aligned(const Chromatogram_Peak_Group_Compound& c, std::uint32_t sample,
                                               std::uint32_t align_id) {
    std::vector<Chromatogram_Peak_Group_Compound> one{c};
    std::vector<Chromatogram_Peak_Group_Compound_Align> rows;
    korvane::append_align_rows(one, sample, korvane::test::numbered("sample o'", sample), rows);
    rows[0].Align_ID = align_id;
    rows[0].Align_RT = 21.0000004;
    return rows[0];
}

const std::vector<Data_Point> kShape = {{7, 12.3456789, 300.1234567, 1234.56789012},
                                        {8, 12.8456789, 300.1234, 2000.0000004},
                                        {9, 13.3456789, 300.12, 0.0}};

void expect_shape_near(const std::vector<Data_Point>& got, const std::vector<Data_Point>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t k = 0; k < want.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(got[k].scan_num, want[k].scan_num);
        EXPECT_NEAR(got[k].retention_time, want[k].retention_time, kStoredTol);
        EXPECT_NEAR(got[k].mz, want[k].mz, kStoredTol);
        EXPECT_NEAR(got[k].intensity, want[k].intensity, kStoredTol);
    }
}

// Members 1 to 17 of any two peak records.
template <class Got, class Want>
void expect_compound_near(const Got& got, const Want& want) {
    expect_shape_near(got.Peak_shape, want.Peak_shape);
    EXPECT_EQ(got.EIC_ID, want.EIC_ID);
    EXPECT_EQ(got.Peak_ID, want.Peak_ID);
    EXPECT_NEAR(got.Apex_MZ, want.Apex_MZ, kStoredTol);
    EXPECT_EQ(got.Apex_Pos, want.Apex_Pos);
    EXPECT_NEAR(got.Apex_Retention_Time, want.Apex_Retention_Time, kStoredTol);
    EXPECT_NEAR(got.Apex_Intensity, want.Apex_Intensity, kStoredTol);
    EXPECT_NEAR(got.Peak_Area, want.Peak_Area, kStoredTol);
    EXPECT_NEAR(got.Peak_SNR, want.Peak_SNR, kStoredTol);
    EXPECT_EQ(got.Left_Boundary, want.Left_Boundary);
    EXPECT_EQ(got.Right_Boundary, want.Right_Boundary);
    EXPECT_EQ(got.Group_ID, want.Group_ID);
    EXPECT_EQ(got.Adduct_Annotation, want.Adduct_Annotation);
    EXPECT_EQ(got.Compound_ID, want.Compound_ID);
    EXPECT_NEAR(got.Compound_MolecularMass, want.Compound_MolecularMass, kStoredTol);
    EXPECT_NEAR(got.Compound_Retention_Time, want.Compound_Retention_Time, kStoredTol);
    EXPECT_NEAR(got.Compound_Intensity, want.Compound_Intensity, kStoredTol);
}

std::string encoded_shape(const std::string& text) {
    CppSQLite3Binary b;
    b.setBinary(reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    return reinterpret_cast<const char*>(b.getEncoded());
}

void exec(const std::string& path, const std::string& sql) {
    CppSQLite3DB db;
    db.open(path.c_str());
    db.execDML(sql.c_str());
    db.close();
}

// One per-sample database: peaks A (300.1) and B (200.2) of compound 1, C (300.1, compound 2) in
// group 1, D with no points in group 2; three mass traces.
class AnnotatedDatabase : public testing::Test {
protected:
    void SetUp() override {
        peaks_ = {compound(0, 0, 1, 1, 300.1, kShape), compound(1, 0, 1, 1, 200.2, {kShape[1]}),
                  compound(2, 1, 1, 2, 300.1, {kShape[2]}), compound(0, 1, 2, 3, 150.05, {})};
        std::list<Mass_Trace> traces(3);
        std::uint32_t k = 0;
        for (Mass_Trace& m : traces) {
            m.Cent_Mass = 100.5 + k;
            m.trace_length = 3 + static_cast<std::int32_t>(k);
            m.miss_count = static_cast<std::int32_t>(k);
            m.EIC_shape = {kShape[k]};
            ++k;
        }
        traces_ = std::vector<Mass_Trace>(traces.begin(), traces.end());
        OutputAnnotatedGroupedChromatographPeaklist2database(peaks_, traces, dir_.str(), kDb);
    }
    std::string db_path() const { return dir_.file(kDb); }

    TempDir dir_;
    std::vector<Chromatogram_Peak_Group_Compound> peaks_;
    std::vector<Mass_Trace> traces_;
};

TEST_F(AnnotatedDatabase, PeakReadersReturnTheStoredPeaks) {
    struct Case {
        const char* name;
        std::function<void(std::vector<Chromatogram_Peak_Group_Compound>&)> read;
        std::vector<std::size_t> expected;  // indexes into peaks_, in table order
    };
    const std::string d = dir_.str();
    const Case cases[] = {
        {"compound 1", [&](auto& v) { Query_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(d, kDb, 1, v); },
         {0, 1}},
        {"group 1", [&](auto& v) { Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(d, kDb, 1, v); }, {0, 1, 2}},
        {"EIC 0 peak 1", [&](auto& v) { Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(d, kDb, 0, 1, v); },
         {3}},
        {"no such compound",
         [&](auto& v) { Query_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(d, kDb, 77, v); }, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Chromatogram_Peak_Group_Compound> got;
        c.read(got);
        ASSERT_EQ(got.size(), c.expected.size());
        for (std::size_t k = 0; k < got.size(); ++k) expect_compound_near(got[k], peaks_[c.expected[k]]);
    }
}

TEST_F(AnnotatedDatabase, ReadersAppendToWhatTheCallerHolds) {
    std::vector<Chromatogram_Peak_Group_Compound> got;
    Query_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(dir_.str(), kDb, 1, got);
    Query_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(dir_.str(), kDb, 1, got);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[2].EIC_ID, got[0].EIC_ID);

    Mass_Trace eic;
    eic.EIC_shape = {Data_Point{1, 1.0, 1.0, 1.0}};
    Query_extracted_eic_FromAnnoatedDataBase(dir_.str(), kDb, 2, eic);
    ASSERT_EQ(eic.EIC_shape.size(), 2u);
    EXPECT_EQ(eic.EIC_shape[0].scan_num, 1u);
    expect_shape_near({eic.EIC_shape[1]}, traces_[2].EIC_shape);
    EXPECT_NEAR(eic.Cent_Mass, 102.5, kStoredTol);
    EXPECT_EQ(eic.trace_length, 5);
    EXPECT_EQ(eic.miss_count, 2);
}

TEST_F(AnnotatedDatabase, EicReaderTakesTheFirstMatchingRowOnly) {
    exec(db_path(), "insert into Mass_Tracelist values(1, 999.0, 77, 66, '" + encoded_shape("5,6,7,8") + "');");
    Mass_Trace eic;
    Query_extracted_eic_FromAnnoatedDataBase(dir_.str(), kDb, 1, eic);
    EXPECT_NEAR(eic.Cent_Mass, 101.5, kStoredTol);
    EXPECT_EQ(eic.trace_length, 4);
    EXPECT_EQ(eic.miss_count, 1);
    expect_shape_near(eic.EIC_shape, traces_[1].EIC_shape);

    Mass_Trace none;
    none.Cent_Mass = -1.0;
    Query_extracted_eic_FromAnnoatedDataBase(dir_.str(), kDb, 9, none);
    EXPECT_EQ(none.Cent_Mass, -1.0);
    EXPECT_TRUE(none.EIC_shape.empty());
}

// Stored shapes that the writer would not produce: only whole groups of four become points.
TEST_F(AnnotatedDatabase, ShapeTextDecodesWholeGroupsOfFourOnly) {
    struct Case {
        const char* name;
        std::string stored;
        std::vector<Data_Point> points;
    };
    const Case cases[] = {
        {"empty shape", "x", {}},
        {"seven tokens", encoded_shape("1.5,2.5,3.5,4,5,6,7"), {{4, 3.5, 2.5, 1.5}}},
        {"trailing comma", encoded_shape("1,2,3,4,"), {{4, 3, 2, 1}}},
        {"three tokens", encoded_shape("1,2,3"), {}},
        {"eight tokens", encoded_shape("1,2,3,4,10,20,30,40"), {{4, 3, 2, 1}, {40, 30, 20, 10}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Data_Point> got;
        korvane::wb::decode_shape(c.stored.c_str(), got);
        expect_shape_near(got, c.points);
    }
    // Through a stored row too.
    exec(db_path(), "insert into Annotate_Peaklist values(5, 0, 1.0, 1, 1.0, 1.0, 1.0, 1.0, 1, 1, 9, 'x', 9, 1.0, "
                    "1.0, 1.0, '" + encoded_shape("1,2,3,4,5") + "');");
    std::vector<Chromatogram_Peak_Group_Compound> got;
    Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(dir_.str(), kDb, 9, got);
    ASSERT_EQ(got.size(), 1u);
    expect_shape_near(got[0].Peak_shape, {{4, 3, 2, 1}});
    EXPECT_EQ(got[0].Adduct_Annotation, "x");
}

TEST_F(AnnotatedDatabase, BadIntegerTextThrowsAndKeepsTheRowsReadBefore) {
    struct Case {
        const char* name;
        std::string eic_id_text;
        bool out_of_range;
    };
    const Case cases[] = {{"no leading integer", "'abc'", false}, {"beyond int", "'99999999999'", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        exec(db_path(), "delete from Annotate_Peaklist where Group_ID=4;");
        exec(db_path(), "insert into Annotate_Peaklist values(3, 0, 1.0, 1, 1.0, 1.0, 1.0, 1.0, 1, 1, 4, 'a', 9, 1.0, "
                        "1.0, 1.0, 'x');");
        exec(db_path(), "insert into Annotate_Peaklist values(" + c.eic_id_text +
                            ", 0, 1.0, 1, 1.0, 1.0, 1.0, 1.0, 1, 1, 4, 'b', 9, 1.0, 1.0, 1.0, 'x');");
        std::vector<Chromatogram_Peak_Group_Compound> got;
        if (c.out_of_range)
            EXPECT_THROW(Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(dir_.str(), kDb, 4, got),
                         std::out_of_range);
        else
            EXPECT_THROW(Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(dir_.str(), kDb, 4, got),
                         std::invalid_argument);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].Adduct_Annotation, "a");
    }
    // A leading integer with text after it is read as that integer.
    exec(db_path(), "update Annotate_Peaklist set EIC_ID=' 12abc' where Adduct_Annotation='b';");
    std::vector<Chromatogram_Peak_Group_Compound> got;
    Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(dir_.str(), kDb, 4, got);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].EIC_ID, 12u);
}

TEST_F(AnnotatedDatabase, FacadeByGroupKeepsOnePeakPerMassInMassOrder) {
    CKORVANE_Engine e;
    std::vector<Chromatogram_Peak_Group_Compound> got;
    e.Engine_Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(dir_.str(), kDb, 1, got);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_NEAR(got[0].Apex_MZ, 200.2, kStoredTol);
    EXPECT_NEAR(got[1].Apex_MZ, 300.1, kStoredTol);

    // The other facade methods pass the reader's rows through unchanged.
    std::vector<Chromatogram_Peak_Group_Compound> by_compound, by_peak;
    e.Engine_Query_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(dir_.str(), kDb, 1, by_compound);
    e.Engine_Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(dir_.str(), kDb, 2, 1, by_peak);
    ASSERT_EQ(by_compound.size(), 2u);
    EXPECT_NEAR(by_compound[0].Apex_MZ, 300.1, kStoredTol);
    ASSERT_EQ(by_peak.size(), 1u);
    EXPECT_EQ(by_peak[0].Compound_ID, 2u);
    Mass_Trace eic;
    e.Engine_Query_extracted_eic_FromAnnoatedDataBase(dir_.str(), kDb, 0, eic);
    expect_shape_near(eic.EIC_shape, traces_[0].EIC_shape);
}

TEST(ResultQueries, MissingFileIsNotCreatedAndMissingTableGivesNothing) {
    TempDir t;
    std::vector<Chromatogram_Peak_Group_Compound> peaks(1);
    std::vector<Chromatogram_Peak_Group_Compound_Align> rows(2);
    Mass_Trace eic;
    eic.Cent_Mass = 5.0;
    Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(t.str(), "absent.db", 1, peaks);
    Query_AlignedAnnotatedGroupedChromatographPeaklist_FromAlignDataBase(t.str(), "absent.aligndb", 1, rows);
    Query_extracted_eic_FromAnnoatedDataBase(t.str(), "absent.db", 0, eic);
    EXPECT_EQ(peaks.size(), 1u);
    EXPECT_EQ(rows.size(), 2u);
    EXPECT_EQ(eic.Cent_Mass, 5.0);
    EXPECT_FALSE(fs::exists(t.path() / "absent.db"));
    EXPECT_FALSE(fs::exists(t.path() / "absent.aligndb"));

    // A database without the reader's table.
    exec(t.file("other.db"), "create table Other(a int);");
    Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(t.str(), "other.db", 1, peaks);
    Query_ChromatographPeak_FromAlignDataBase(t.str(), "other.db", 0, 0, 0, rows);
    Query_extracted_eic_FromAnnoatedDataBase(t.str(), "other.db", 0, eic);
    EXPECT_EQ(peaks.size(), 1u);
    EXPECT_EQ(rows.size(), 2u);
    EXPECT_EQ(eic.Cent_Mass, 5.0);
}

TEST(ResultQueries, RealStoredAsNullReadsBackAsNotANumber) {
    TempDir t;
    std::vector<Chromatogram_Peak_Group_Compound> peaks = {
        compound(0, 0, 1, 1, std::numeric_limits<double>::quiet_NaN(), kShape)};
    OutputAnnotatedGroupedChromatographPeaklist2database(peaks, {}, t.str(), kDb);
    std::vector<Chromatogram_Peak_Group_Compound> got;
    Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(t.str(), kDb, 1, got);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(std::isnan(got[0].Apex_MZ));
    EXPECT_NEAR(got[0].Peak_Area, peaks[0].Peak_Area, kStoredTol);
}

// Infinite reals come back from SQLite as the text "Inf"; non-finite shape values are stored as
// "inf" and "nan". All of them read back as what was written, not as 0.
TEST(ResultQueries, NonFiniteRealsReadBackAsWritten) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    TempDir t;
    auto peak = compound(0, 0, 1, 1, 300.1, {{7, 1.5, inf, -inf}, {8, 2.5, 300.2, 10.0}});
    peak.Peak_shape[1].intensity = std::numeric_limits<double>::quiet_NaN();
    peak.Peak_SNR = inf;
    peak.Apex_Intensity = -inf;
    OutputAnnotatedGroupedChromatographPeaklist2database({peak}, {}, t.str(), kDb);
    std::vector<Chromatogram_Peak_Group_Compound> got;
    Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(t.str(), kDb, 1, got);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].Peak_SNR, inf);
    EXPECT_EQ(got[0].Apex_Intensity, -inf);
    EXPECT_NEAR(got[0].Peak_Area, peak.Peak_Area, kStoredTol);
    ASSERT_EQ(got[0].Peak_shape.size(), 2u);
    EXPECT_EQ(got[0].Peak_shape[0].mz, inf);
    EXPECT_EQ(got[0].Peak_shape[0].intensity, -inf);
    EXPECT_EQ(got[0].Peak_shape[0].retention_time, 1.5);
    EXPECT_TRUE(std::isnan(got[0].Peak_shape[1].intensity));
    EXPECT_NEAR(got[0].Peak_shape[1].mz, 300.2, kStoredTol);

    struct Case {
        const char* text;
        double value;
    };
    const Case words[] = {{"INF,Infinity,-inf,1", inf}, {" +inf,-Inf,+INFINITY,1", inf}};
    for (const Case& c : words) {
        SCOPED_TRACE(c.text);
        std::vector<Data_Point> points;
        korvane::wb::decode_shape(encoded_shape(c.text).c_str(), points);
        ASSERT_EQ(points.size(), 1u);
        EXPECT_EQ(points[0].intensity, c.value);
        EXPECT_EQ(std::fabs(points[0].mz), inf);
        EXPECT_EQ(std::fabs(points[0].retention_time), inf);
    }
}

// The aligned database: feature 5 holds rows of samples 2, 0 and 1, stored in that order.
class AlignedDatabase : public testing::Test {
protected:
    void SetUp() override {
        const auto a = compound(0, 0, 1, 1, 300.1, kShape);
        const auto b = compound(1, 2, 3, 4, 200.2, {kShape[1]});
        rows_ = {aligned(a, 2, 5), aligned(b, 0, 5), aligned(a, 1, 5), aligned(b, 1, 6)};
        OutputAlignedAnnotatedGroupedChromatographPeaklist2database(rows_, dir_.str(), kAlignDb);
    }
    TempDir dir_;
    std::vector<Chromatogram_Peak_Group_Compound_Align> rows_;
};

TEST_F(AlignedDatabase, ReadersReturnTheStoredRows) {
    const std::string d = dir_.str();
    struct Case {
        const char* name;
        std::function<void(std::vector<Chromatogram_Peak_Group_Compound_Align>&)> read;
        std::vector<std::size_t> expected;
    };
    const Case cases[] = {
        {"align 5", [&](auto& v) { Query_AlignedAnnotatedGroupedChromatographPeaklist_FromAlignDataBase(d, kAlignDb, 5, v); },
         {0, 1, 2}},
        {"sample 1 compound 4",
         [&](auto& v) { Query_AnnotatedGroupedChromatographPeaklist_FromAlignDataBase(d, kAlignDb, 1, 4, v); }, {3}},
        {"sample 1 group 1", [&](auto& v) { Query_GroupedChromatographPeaklist_FromAlignDataBase(d, kAlignDb, 1, 1, v); },
         {2}},
        {"sample 0 EIC 1 peak 2",
         [&](auto& v) { Query_ChromatographPeak_FromAlignDataBase(d, kAlignDb, 0, 1, 2, v); }, {1}},
        {"sample 0 EIC 1 peak 0", [&](auto& v) { Query_ChromatographPeak_FromAlignDataBase(d, kAlignDb, 0, 1, 0, v); },
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Chromatogram_Peak_Group_Compound_Align> got;
        c.read(got);
        ASSERT_EQ(got.size(), c.expected.size());
        for (std::size_t k = 0; k < got.size(); ++k) {
            const auto& want = rows_[c.expected[k]];
            expect_compound_near(got[k], want);
            EXPECT_EQ(got[k].SAMPLE_ID, want.SAMPLE_ID);
            EXPECT_EQ(got[k].SAMPLE_NAME, want.SAMPLE_NAME);
            EXPECT_EQ(got[k].Align_ID, want.Align_ID);
            EXPECT_NEAR(got[k].Align_RT, want.Align_RT, kStoredTol);
        }
    }
}

TEST_F(AlignedDatabase, FacadeByAlignIdOrdersTheRowsBySample) {
    CKORVANE_Engine e;
    std::vector<Chromatogram_Peak_Group_Compound_Align> got(1);
    got[0].SAMPLE_ID = 9;  // already held: sorted with the rest
    e.Engine_Query_AlignedAnnotatedGroupedChromatographPeaklist_FromAlignDataBase(dir_.str(), kAlignDb, 5, got);
    std::vector<std::uint32_t> samples;
    for (const auto& r : got) samples.push_back(r.SAMPLE_ID);
    EXPECT_EQ(samples, (std::vector<std::uint32_t>{0, 1, 2, 9}));

    // The other three pass the rows through.
    std::vector<Chromatogram_Peak_Group_Compound_Align> a, b, c;
    e.Engine_Query_AnnotatedGroupedChromatographPeaklist_FromAlignDataBase(dir_.str(), kAlignDb, 1, 1, a);
    e.Engine_Query_GroupedChromatographPeaklist_FromAlignDataBase(dir_.str(), kAlignDb, 1, 3, b);
    e.Engine_Query_ChromatographPeak_FromAlignDataBase(dir_.str(), kAlignDb, 2, 0, 0, c);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].Align_ID, 5u);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0].Align_ID, 6u);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].SAMPLE_NAME, "sample o'2");
}

}  // namespace
