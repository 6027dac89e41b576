#include "engine/output/database_output.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "reference/database_output_oracle.h"
#include "sqlitewrap/cppsqlite3.h"
#include "tests/support/temp_dir.h"

namespace {

using korvane::test::TempDir;

using Cells = std::vector<std::string>;

// Every row of a table in insertion order; each cell is its storage class and its text.
std::vector<Cells> table_rows(const std::string& path, const std::string& table) {
    CppSQLite3DB db;
    db.open(path.c_str());
    std::vector<Cells> rows;
    CppSQLite3Query q = db.execQuery(("select * from " + table + " order by rowid;").c_str());
    for (; !q.eof(); q.nextRow()) {
        Cells cells;
        for (int c = 0; c < q.numFields(); ++c) {
            const int type = q.fieldDataType(c);
            cells.push_back(std::to_string(type) + ":" + (type == SQLITE_NULL ? "" : q.fieldValue(c)));
        }
        rows.push_back(cells);
    }
    q.finalize();
    return rows;
}

// The same, with every real as the bits of its value, so that a difference in the last bit shows.
std::vector<Cells> table_rows_exact(const std::string& path, const std::string& table) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* q = nullptr;
    const std::string sql = "select * from " + table + " order by rowid;";
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &q, nullptr), SQLITE_OK);
    std::vector<Cells> rows;
    while (sqlite3_step(q) == SQLITE_ROW) {
        Cells cells;
        for (int c = 0; c < sqlite3_column_count(q); ++c) {
            const int type = sqlite3_column_type(q, c);
            std::string value;
            if (type == SQLITE_FLOAT) {
                const double v = sqlite3_column_double(q, c);
                std::uint64_t bits;
                std::memcpy(&bits, &v, sizeof bits);
                value = std::to_string(bits);
            } else if (type != SQLITE_NULL) {
                value.assign(reinterpret_cast<const char*>(sqlite3_column_text(q, c)),
                             static_cast<std::size_t>(sqlite3_column_bytes(q, c)));
            }
            cells.push_back(std::to_string(type) + ":" + value);
        }
        rows.push_back(cells);
    }
    sqlite3_finalize(q);
    sqlite3_close(db);
    return rows;
}

std::string column_text(const std::string& path, const std::string& sql) {
    CppSQLite3DB db;
    db.open(path.c_str());
    CppSQLite3Query q = db.execQuery(sql.c_str());
    std::string text = q.eof() ? "<no row>" : q.fieldIsNull(0) ? "<null>" : q.fieldValue(0);
    q.finalize();
    return text;
}

std::string decode(const std::string& stored) {
    std::string out(stored.size() + 1, '\0');
    const int n = sqlite3_decode_binary(reinterpret_cast<const unsigned char*>(stored.c_str()),
                                        reinterpret_cast<unsigned char*>(out.data()));
    if (n < 0) return "<malformed>";
    out.resize(static_cast<std::size_t>(n));
    return out;
}

Chromatogram_Peak_Group_Compound compound(std::uint32_t eic, std::vector<Data_Point> shape = {}) {
    Chromatogram_Peak_Group_Compound c;
    c.Peak_shape = std::move(shape);
    c.EIC_ID = eic;
    c.Peak_ID = 1;
    c.Apex_MZ = 100.5;
    c.Apex_Pos = 7;
    c.Apex_Retention_Time = 2.25;
    c.Apex_Intensity = 10.0;
    c.Peak_Area = 15234567.8;
    c.Peak_SNR = 0.0000004;
    c.Left_Boundary = 5;
    c.Right_Boundary = 9;
    c.Group_ID = 3;
    c.Adduct_Annotation = "[M+H]+";
    c.Compound_ID = 4;
    c.Compound_MolecularMass = 99.49;
    c.Compound_Retention_Time = 2.5;
    c.Compound_Intensity = 20.0;
    return c;
}

Chromatogram_Peak_Group_Compound_Align aligned(const Chromatogram_Peak_Group_Compound& c,
                                               std::uint32_t sample, std::string name) {
    Chromatogram_Peak_Group_Compound_Align a;
    a.Peak_shape = c.Peak_shape, a.EIC_ID = c.EIC_ID, a.Peak_ID = c.Peak_ID, a.Apex_MZ = c.Apex_MZ;
    a.Apex_Pos = c.Apex_Pos, a.Apex_Retention_Time = c.Apex_Retention_Time;
    a.Apex_Intensity = c.Apex_Intensity, a.Peak_Area = c.Peak_Area, a.Peak_SNR = c.Peak_SNR;
    a.Left_Boundary = c.Left_Boundary, a.Right_Boundary = c.Right_Boundary, a.Group_ID = c.Group_ID;
    a.Adduct_Annotation = c.Adduct_Annotation, a.Compound_ID = c.Compound_ID;
    a.Compound_MolecularMass = c.Compound_MolecularMass;
    a.Compound_Retention_Time = c.Compound_Retention_Time, a.Compound_Intensity = c.Compound_Intensity;
    a.SAMPLE_ID = sample, a.SAMPLE_NAME = std::move(name), a.Align_ID = 6, a.Align_RT = 2.375;
    return a;
}

Mass_Trace trace(double centre, std::vector<Data_Point> shape) {
    Mass_Trace t;
    t.Cent_Mass = centre;
    t.trace_length = static_cast<std::int32_t>(shape.size());
    t.miss_count = 2;
    t.EIC_shape = std::move(shape);
    return t;
}

TEST(DatabaseOutput, SchemaIsStoredExactlyEvenForEmptyLists) {
    TempDir dir;
    OutputAnnotatedGroupedChromatographPeaklist2database({}, {}, dir.str(), "s.db");
    OutputAlignedAnnotatedGroupedChromatographPeaklist2database({}, dir.str(), "a.aligndb");

    // SQLite keeps the statement text but upper-cases the leading keywords, drops "if not exists"
    // and the final ";".
    const std::vector<Cells> sample_schema = {
        {"3:table", "3:Annotate_Peaklist",
         "3:CREATE TABLE Annotate_Peaklist(EIC_ID int,Peak_ID int, Apex_MZ double, Apex_Pos int, "
         "Apex_Retention_Time double, Apex_Intensity double, Peak_Area double, Peak_SNR double, "
         "Left_Boundary int, Right_Boundary int, Group_ID int, Adduct_Annotation char(80), Compound_ID "
         "int, Compound_MolecularMass double, Compound_Retention_Time double, Compound_Intensity double, "
         "Peak_shape blob)"},
        {"3:index", "3:Annotate_Peaklist_EIC_ID_index",
         "3:CREATE INDEX Annotate_Peaklist_EIC_ID_index ON Annotate_Peaklist(EIC_ID)"},
        {"3:index", "3:Annotate_Peaklist_Peak_ID_index",
         "3:CREATE INDEX Annotate_Peaklist_Peak_ID_index ON Annotate_Peaklist(Peak_ID)"},
        {"3:index", "3:Annotate_Peaklist_Group_ID_index",
         "3:CREATE INDEX Annotate_Peaklist_Group_ID_index ON Annotate_Peaklist(Group_ID)"},
        {"3:index", "3:Annotate_Peaklist_Compound_ID_index",
         "3:CREATE INDEX Annotate_Peaklist_Compound_ID_index ON Annotate_Peaklist(Compound_ID)"},
        {"3:table", "3:Mass_Tracelist",
         "3:CREATE TABLE Mass_Tracelist(EIC_ID int, Cent_Mass double,trace_length int, miss_count int, "
         "EIC_shape blob)"},
        {"3:index", "3:Mass_Tracelist_EIC_ID_index",
         "3:CREATE INDEX Mass_Tracelist_EIC_ID_index ON Mass_Tracelist(EIC_ID)"},
    };
    std::vector<Cells> aligned_schema = {
        {"3:table", "3:Align_Peaklist",
         "3:CREATE TABLE Align_Peaklist(EIC_ID int,Peak_ID int, Apex_MZ double, Apex_Pos int, "
         "Apex_Retention_Time double, Apex_Intensity double, Peak_Area double, Peak_SNR double, "
         "Left_Boundary int, Right_Boundary int, Group_ID int, Adduct_Annotation char(80), Compound_ID "
         "int, Compound_MolecularMass double, Compound_Retention_Time double, Compound_Intensity double, "
         "SAMPLE_ID int, SAMPLE_NAME char(256), Align_ID int, Align_RT double, Peak_shape blob)"},
    };
    for (const char* column : {"EIC_ID", "Peak_ID", "Group_ID", "Compound_ID", "SAMPLE_ID", "Align_ID"}) {
        const std::string name = std::string("Align_Peaklist_") + column + "_index";
        aligned_schema.push_back({"3:index", "3:" + name,
                                  "3:CREATE INDEX " + name + " ON Align_Peaklist(" + column + ")"});
    }
    auto schema = [](const std::string& path) {
        std::vector<Cells> rows = table_rows(path, "sqlite_master");
        for (Cells& r : rows) r = {r[0], r[1], r[4]};  // type, name, sql
        return rows;
    };
    EXPECT_EQ(schema(dir.file("s.db")), sample_schema);
    EXPECT_EQ(schema(dir.file("a.aligndb")), aligned_schema);
    EXPECT_TRUE(table_rows(dir.file("s.db"), "Annotate_Peaklist").empty());
    EXPECT_TRUE(table_rows(dir.file("s.db"), "Mass_Tracelist").empty());
    EXPECT_TRUE(table_rows(dir.file("a.aligndb"), "Align_Peaklist").empty());
}

TEST(DatabaseOutput, ShapeTextAndItsStoredBytes) {
    struct Case {
        const char* name;
        std::vector<Data_Point> shape;
        std::string text;
    };
    const Case cases[] = {
        {"empty shape", {}, ""},
        {"one point: intensity, m/z, time, scan", {{7, 2.25, 100.5, 10.0}}, "10.000000,100.500000,2.250000,7"},
        {"two points, seven commas",
         {{7, 2.25, 100.5, 10.0}, {4294967295u, -1.5, 0.0000004, 1520.0}},
         "10.000000,100.500000,2.250000,7,1520.000000,0.000000,-1.500000,4294967295"},
        // 1/128 lies exactly between two 6-decimal texts; "%.6f" rounds the tie to even.
        {"exact tie and large intensity", {{1, 0.0078125, 1e15, 123456789.0000005}},
         "123456789.000001,1000000000000000.000000,0.007812,1"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OutputAnnotatedGroupedChromatographPeaklist2database({compound(0, c.shape)}, {trace(50.0, c.shape)},
                                                             dir.str(), "s.db");
        for (const char* sql : {"select Peak_shape from Annotate_Peaklist;", "select EIC_shape from Mass_Tracelist;"}) {
            SCOPED_TRACE(sql);
            const std::string stored = column_text(dir.file("s.db"), sql);
            if (c.text.empty()) {
                EXPECT_EQ(stored, "x");
                continue;
            }
            std::string expected = "\x01";
            for (char ch : c.text) expected.push_back(static_cast<char>(ch - 1));
            EXPECT_EQ(stored, expected);
            EXPECT_EQ(decode(stored), c.text);
        }
    }
}

TEST(DatabaseOutput, PeakRowHoldsEveryMemberInOrder) {
    TempDir dir;
    Chromatogram_Peak_Group_Compound c = compound(12);
    c.Group_ID = 4294967295u;  // unsigned bits stored as signed decimal
    OutputAnnotatedGroupedChromatographPeaklist2database({c}, {}, dir.str(), "s.db");
    const Cells expected = {"1:12",          "1:1",          "2:100.5", "1:7",          "2:2.25",
                            "2:10.0",        "2:15234567.8", "2:0.0",   "1:5",          "1:9",
                            "1:-1",          "3:[M+H]+",     "1:4",     "2:99.49",      "2:2.5",
                            "2:20.0",        "3:x"};
    EXPECT_EQ(table_rows(dir.file("s.db"), "Annotate_Peaklist"), std::vector<Cells>{expected});
}

TEST(DatabaseOutput, TracesAreNumberedByTheirPositionInTheList) {
    TempDir dir;
    OutputAnnotatedGroupedChromatographPeaklist2database(
        {}, {trace(80.25, {{3, 1.0, 80.25, 5.0}}), trace(80.25, {}), trace(91.0, {})}, dir.str(), "s.db");
    const auto rows = table_rows(dir.file("s.db"), "Mass_Tracelist");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (Cells{"1:0", "2:80.25", "1:1", "1:2", rows[0][4]}));
    EXPECT_EQ(decode(rows[0][4].substr(2)), "5.000000,80.250000,1.000000,3");
    EXPECT_EQ(rows[1], (Cells{"1:1", "2:80.25", "1:0", "1:2", "3:x"}));
    EXPECT_EQ(rows[2], (Cells{"1:2", "2:91.0", "1:0", "1:2", "3:x"}));
}

TEST(DatabaseOutput, ASecondRunReplacesTheFirst) {
    TempDir dir;
    OutputAnnotatedGroupedChromatographPeaklist2database({compound(1), compound(2)}, {trace(1.0, {})},
                                                         dir.str(), "s.db");
    std::ofstream(dir.file("s.db-journal")) << "left by an interrupted run";
    OutputAnnotatedGroupedChromatographPeaklist2database({compound(3)}, {}, dir.str(), "s.db");
    EXPECT_FALSE(std::filesystem::exists(dir.file("s.db-journal")));
    const auto peaks = table_rows(dir.file("s.db"), "Annotate_Peaklist");
    ASSERT_EQ(peaks.size(), 1u);
    EXPECT_EQ(peaks[0][0], "1:3");
    EXPECT_TRUE(table_rows(dir.file("s.db"), "Mass_Tracelist").empty());

    const auto a = aligned(compound(1), 0, "first");
    OutputAlignedAnnotatedGroupedChromatographPeaklist2database({a, a}, dir.str(), "r.aligndb");
    OutputAlignedAnnotatedGroupedChromatographPeaklist2database({aligned(compound(2), 1, "second")},
                                                                dir.str(), "r.aligndb");
    const auto rows = table_rows(dir.file("r.aligndb"), "Align_Peaklist");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][17], "3:second");
}

TEST(DatabaseOutput, FailuresAreThrownWithTheirCode) {
    TempDir dir;
    // A non-empty folder in place of the earlier file cannot be removed.
    std::filesystem::create_directories(dir.file("busy.db") + "/inside");
    struct Case {
        const char* name;
        std::string folder, file;
        int code;
        std::string message;
    };
    const Case cases[] = {
        {"missing folder", dir.file("missing"), "s.db", 14,
         "SQLITE_CANTOPEN[14]: " + dir.file("missing") + "/s.db: unable to open database file"},
        {"folder is a file", dir.write("plain_file", "text"), "s.db", 14,
         "SQLITE_CANTOPEN[14]: " + dir.file("plain_file") + "/s.db: unable to open database file"},
        {"earlier file cannot be removed", dir.str(), "busy.db", 1000,
         "CPPSQLITE_ERROR[1000]: Unable to remove earlier database file " + dir.file("busy.db") + ": it is a folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool aligned_writer : {false, true}) {
            try {
                if (aligned_writer)
                    OutputAlignedAnnotatedGroupedChromatographPeaklist2database({}, c.folder, c.file);
                else
                    OutputAnnotatedGroupedChromatographPeaklist2database({}, {}, c.folder, c.file);
                ADD_FAILURE() << "no exception";
            } catch (const CppSQLite3Exception& e) {
                EXPECT_EQ(e.errorCode(), c.code);
                EXPECT_EQ(std::string(e.errorMessage()), c.message);
            }
        }
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
}

TEST(DatabaseOutput, ApostrophesAndNonFiniteRealsAreStoredSafely) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    TempDir dir;
    Chromatogram_Peak_Group_Compound c = compound(0);
    c.Adduct_Annotation = "[M+H]'); drop table Mass_Tracelist; --";
    c.Peak_SNR = kNaN;
    c.Peak_Area = kInf;
    c.Compound_Intensity = -kInf;
    Chromatogram_Peak_Group_Compound finite = compound(1);
    finite.Adduct_Annotation = "[M+H]'+";
    OutputAnnotatedGroupedChromatographPeaklist2database({c, finite}, {trace(kNaN, {}), trace(kInf, {})},
                                                         dir.str(), "s.db");
    const std::string db = dir.file("s.db");
    EXPECT_EQ(column_text(db, "select Adduct_Annotation from Annotate_Peaklist where EIC_ID = 0;"),
              c.Adduct_Annotation);
    EXPECT_EQ(column_text(db, "select Adduct_Annotation from Annotate_Peaklist where EIC_ID = 1;"),
              finite.Adduct_Annotation);
    EXPECT_EQ(column_text(db, "select Peak_SNR from Annotate_Peaklist where EIC_ID = 0;"), "<null>");
    EXPECT_EQ(column_text(db, "select Peak_Area = 1e999 and Compound_Intensity = -1e999 from Annotate_Peaklist where EIC_ID = 0;"), "1");
    // The finite reals of such a row keep the format of every other row.
    EXPECT_EQ(column_text(db, "select quote(Apex_MZ) || ' ' || quote(Compound_MolecularMass) from Annotate_Peaklist where EIC_ID = 0;"),
              "100.5 99.49");
    EXPECT_EQ(column_text(db, "select group_concat(coalesce(Cent_Mass, 'null') || ':' || EIC_ID, ' ') from Mass_Tracelist;"),
              "null:0 Inf:1");

    Chromatogram_Peak_Group_Compound_Align a = aligned(compound(0), 2, "O'Brien's run");
    a.Align_RT = kNaN;
    OutputAlignedAnnotatedGroupedChromatographPeaklist2database({a, aligned(compound(1), 3, "it''s")}, dir.str(),
                                                                "r.aligndb");
    const auto rows = table_rows(dir.file("r.aligndb"), "Align_Peaklist");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][17], "3:O'Brien's run");
    EXPECT_EQ(rows[0][19], "5:");
    EXPECT_EQ(rows[0][2], "2:100.5");
    EXPECT_EQ(rows[1][17], "3:it''s");
    EXPECT_EQ(rows[1][19], "2:2.375");
}

// Random finite rows against the plain transcription: same cells in every table, reals to the bit.
TEST(DatabaseOutput, SameContentAsThePlainWriter) {
    std::mt19937_64 rng(20261209);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-9, 12);
    std::uniform_int_distribution<std::uint32_t> any_u32;
    auto real = [&] {
        switch (any_u32(rng) % 12) {
            case 0: return 0.0;
            case 1: return -0.0;
            case 2: return (any_u32(rng) % 4096) / 128.0;  // many exact 6-decimal ties
            default: return mantissa(rng) * std::pow(10.0, exponent(rng));
        }
    };
    auto shape = [&](std::size_t n) {
        std::vector<Data_Point> s(n);
        for (auto& p : s) p = {any_u32(rng), real(), real(), real()};
        return s;
    };
    TempDir dir;
    for (std::size_t n : {0u, 1u, 2u, 7u, 300u}) {
        SCOPED_TRACE("n=" + std::to_string(n));
        std::vector<Chromatogram_Peak_Group_Compound> peaks;
        std::vector<Chromatogram_Peak_Group_Compound_Align> rows;
        std::list<Mass_Trace> traces;
        for (std::size_t i = 0; i < n; ++i) {
            Chromatogram_Peak_Group_Compound c = compound(any_u32(rng), shape(any_u32(rng) % 40));
            c.Peak_ID = any_u32(rng), c.Apex_MZ = real(), c.Apex_Pos = any_u32(rng);
            c.Apex_Retention_Time = real(), c.Apex_Intensity = real(), c.Peak_Area = real();
            c.Peak_SNR = real(), c.Left_Boundary = any_u32(rng), c.Right_Boundary = any_u32(rng);
            c.Group_ID = any_u32(rng), c.Compound_ID = any_u32(rng), c.Compound_MolecularMass = real();
            c.Compound_Retention_Time = real(), c.Compound_Intensity = real();
            c.Adduct_Annotation = i % 2 ? "[M+Na]+" : "";
            peaks.push_back(c);
            Chromatogram_Peak_Group_Compound_Align a = aligned(c, any_u32(rng), "S" + std::to_string(i));
            a.Align_ID = any_u32(rng), a.Align_RT = real();
            rows.push_back(a);
            traces.push_back(trace(real(), shape(any_u32(rng) % 60)));
            traces.back().trace_length = static_cast<std::int32_t>(any_u32(rng));
            traces.back().miss_count = static_cast<std::int32_t>(any_u32(rng));
        }
        OutputAnnotatedGroupedChromatographPeaklist2database(peaks, traces, dir.str(), "fast.db");
        korvane::oracle::write_annotated_database(peaks, traces, dir.file("slow.db"));
        for (const char* table : {"Annotate_Peaklist", "Mass_Tracelist"}) {
            SCOPED_TRACE(table);
            const auto fast = table_rows_exact(dir.file("fast.db"), table);
            ASSERT_EQ(fast.size(), table == std::string("Mass_Tracelist") ? traces.size() : peaks.size());
            ASSERT_EQ(fast, table_rows_exact(dir.file("slow.db"), table));
        }
        OutputAlignedAnnotatedGroupedChromatographPeaklist2database(rows, dir.str(), "fast.aligndb");
        korvane::oracle::write_aligned_database(rows, dir.file("slow.aligndb"));
        const auto fast = table_rows_exact(dir.file("fast.aligndb"), "Align_Peaklist");
        ASSERT_EQ(fast.size(), rows.size());
        ASSERT_EQ(fast, table_rows_exact(dir.file("slow.aligndb"), "Align_Peaklist"));
    }
}

}  // namespace
