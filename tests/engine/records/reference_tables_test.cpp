#include "engine/records/reference_tables.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

#include "tests/support/temp_dir.h"

namespace {

using korvane::test::TempDir;

const char* kHmdbHeader = "\"a\",\"b\",\"c\",\"d\",\"e\",\"f\",\"g\",\"avg\",\"mono\"\n";

std::string hmdb_line(const std::string& avg, const std::string& mono, const std::string& name = "Alanine") {
    return "\"HMDB0000161\",\"" + name + "\",\"C3H7NO2\",\"x\",\"y\",\"z\",\"w\",\"" + avg + "\",\"" + mono + "\"";
}

TEST(HmdbReader, ReadsFieldsEightAndNineWithCommasInsideQuotes) {
    TempDir dir;
    const std::string path = dir.write(
        "hmdb.csv", std::string(kHmdbHeader) + hmdb_line("89.09", "89.047678473", "2,3-Diol") + "\n\n" +
                        hmdb_line("180.16", "180.063388116") + "\n");
    std::vector<double> avg, mono;
    testing::internal::CaptureStdout();
    read_hmdb_file(path, avg, mono);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(avg, (std::vector<double>{89.09, 180.16}));
    EXPECT_EQ(mono, (std::vector<double>{89.047678473, 180.063388116}));
}

TEST(HmdbReader, CrLfFileGivesTheSameMassesAsLf) {
    TempDir dir;
    const std::string body = hmdb_line("1", "2") + "\n" + hmdb_line("3", "4") + "\n";
    std::string crlf;
    for (char c : std::string(kHmdbHeader) + body) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::vector<double> a1, m1, a2, m2;
    read_hmdb_file(dir.write("lf.csv", kHmdbHeader + body), a1, m1);
    read_hmdb_file(dir.write("crlf.csv", crlf), a2, m2);
    EXPECT_EQ(m1, (std::vector<double>{2, 4}));
    EXPECT_EQ(m1, m2);
    EXPECT_EQ(a1, a2);
}

TEST(HmdbReader, MalformedLineStopsReadingWithTheRowCount) {
    struct Row {
        const char* name;
        std::string bad;
    } rows[] = {
        {"empty quoted field", hmdb_line("", "5")},
        {"unquoted", "HMDB1,a,b,c,d,e,f,1,2"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        TempDir dir;
        const std::string path =
            dir.write("hmdb.csv", std::string(kHmdbHeader) + hmdb_line("1", "2") + "\n" + r.bad + "\n" + hmdb_line("3", "4") + "\n");
        std::vector<double> avg{-1.0}, mono;  // appended to, never cleared
        testing::internal::CaptureStdout();
        read_hmdb_file(path, avg, mono);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "HMDB File at Row=1can't be read corrctly!\n");
        EXPECT_EQ(avg, (std::vector<double>{-1.0, 1.0}));
        EXPECT_EQ(mono, (std::vector<double>{2.0}));
    }
}

TEST(HmdbReader, HeaderOnlyAndMissingFile) {
    TempDir dir;
    std::vector<double> avg, mono;
    read_hmdb_file(dir.write("h.csv", kHmdbHeader), avg, mono);
    EXPECT_TRUE(avg.empty());
    EXPECT_TRUE(mono.empty());
    read_hmdb_file(dir.write("empty.csv", ""), avg, mono);
    EXPECT_TRUE(mono.empty());
    // A folder under the table's name is no table: it must not pass for an empty one.
    std::filesystem::create_directories(dir.path() / "folder.csv");
    for (const auto& [missing, why] : {std::pair{dir.file("none.csv"), ""},
                                        std::pair{dir.file("folder.csv"), " (not a regular file)"}}) {
        SCOPED_TRACE(missing);
        try {
            read_hmdb_file(missing, avg, mono);
            ADD_FAILURE() << "no exception";
        } catch (const korvane::TableOpenError& e) {
            EXPECT_EQ(std::string(e.what()), "HMDB_file could not be opened: " + missing + why);
        }
    }
}

TEST(AdductReader, TruncatesCountsAndKeepsFormulaVerbatim) {
    TempDir dir;
    const std::string path = dir.write("a.csv",
                                       "Formula,Molecule,Charge,Shift,Dependence\r\n"
                                       "[M+H]+,1,1,-1.007276,0\r\n"
                                       "\r\n"
                                       " [M+Na]+ ,1.9,-1.5,-22.989218,2.7\r\n"
                                       "[2M+H]+,2,1,-1.007276,1,\r\n");
    std::vector<adduct_configure_node> rows;
    read_adduct_configure_file(path, rows);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].Formula, "[M+H]+");
    EXPECT_EQ(rows[0].Mass_Shift, -1.007276);
    EXPECT_EQ(rows[0].Dependence, 0);
    EXPECT_EQ(rows[1].Formula, " [M+Na]+ ");
    EXPECT_EQ(rows[1].Molecule_Count, 1);
    EXPECT_EQ(rows[1].Charge_Count, -1);
    EXPECT_EQ(rows[1].Dependence, 2);
    EXPECT_EQ(rows[2].Molecule_Count, 2);  // a trailing comma adds no sixth field
}

TEST(AdductReader, EmptyFieldCountsAndWrongFieldCountStopsWithMessage) {
    TempDir dir;
    const std::string path = dir.write("a.csv",
                                       "header\n"
                                       "[M+H]+,1,1,-1.007276,0\n"
                                       "[M+K]+,1,,-38.963158,1\n"
                                       "[M+NH4]+,1,1,-18.033823\n"
                                       "[M+Na]+,1,1,-22.989218,1\n");
    std::vector<adduct_configure_node> rows;
    testing::internal::CaptureStdout();
    read_adduct_configure_file(path, rows);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Adduct Config File at Row=2is not correctly configured!\n");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].Charge_Count, 0);

    std::filesystem::create_directories(dir.path() / "folder.csv");
    for (const auto& [missing, why] : {std::pair{dir.file("none.csv"), ""},
                                        std::pair{dir.file("folder.csv"), " (not a regular file)"}}) {
        SCOPED_TRACE(missing);
        try {
            read_adduct_configure_file(missing, rows);
            ADD_FAILURE() << "no exception";
        } catch (const korvane::TableOpenError& e) {
            EXPECT_EQ(std::string(e.what()), "Adduct Config File could not be opened: " + missing + why);
        }
    }
}

}  // namespace

TEST(RunTables, RefuseATableCutShortOrEmptyNamingFileAndLine) {
    const auto utf16le = [](const std::string& ascii) {
        std::string bytes = "\xff\xfe";
        for (char c : ascii) bytes += std::string{c, '\0'};
        return bytes;
    };
    const std::string adduct_header = "Formula,Molecule_Count,Charge_Count,Mass_Shift,Dependence\n";
    const std::string proton = "[M+H]+,1,1,1.007276,0\n";
    struct Case {
        const char* name;
        bool hmdb;
        std::string bytes, message;  // message: what follows "<table> <path>"
    };
    const Case cases[] = {
        {"hmdb: empty quoted field", true, kHmdbHeader + hmdb_line("1", "2") + "\n\n" + hmdb_line("", "5") + "\n",
         ", line 4: 8 fields, 9 expected"},
        {"hmdb: mass not a number", true, kHmdbHeader + hmdb_line("1", "2.5x") + "\n",
         ", line 2: monoisotopic mass \"2.5x\" is not a number"},
        {"hmdb: header only", true, kHmdbHeader, " holds no compound line after its header"},
        {"hmdb: empty file", true, "", " holds no compound line after its header"},
        {"hmdb: carriage returns alone", true, "\"h\"\r" + hmdb_line("1", "2") + "\r",
         ", line 1: carriage return inside the line: line ends must be LF or CR LF"},
        {"adduct: four fields", false, adduct_header + proton + "[M+Na]+,1,1,22.989218\n",
         ", line 3: 4 fields, 5 expected"},
        {"adduct: empty field", false, adduct_header + proton + "[M+K]+,1,,38.963158,1\n",
         ", line 3: field 3 \"\" is not a number"},
        {"adduct: shift not finite", false, adduct_header + "[M+H]+,1,1,1e999,0\n",
         ", line 2: field 4 \"1e999\" is not a number"},
        {"adduct: header only", false, adduct_header, " holds no adduct line after its header"},
        // Saved as UTF-16: its numbers read as garbage, and the message would carry zero bytes.
        {"adduct: UTF-16", false, utf16le(adduct_header + proton),
         ", line 1: not plain text (UTF-16?): save it as UTF-8 or ASCII"},
        {"hmdb: UTF-16", true, utf16le(kHmdbHeader + hmdb_line("1", "2") + "\n"),
         ", line 1: not plain text (UTF-16?): save it as UTF-8 or ASCII"},
        {"adduct: carriage returns alone", false, adduct_header + "[M+H]+,1,1,1.007276,0\r[M+Na]+,1,1,22.989218,1\r",
         ", line 2: carriage return inside the line: line ends must be LF or CR LF"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.write("table.csv", c.bytes);
        std::vector<double> mono;
        std::vector<adduct_configure_node> rows;
        testing::internal::CaptureStdout();
        try {
            c.hmdb ? korvane::read_run_hmdb_masses(path, mono) : korvane::read_run_adduct_table(path, rows);
            ADD_FAILURE() << "accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), (c.hmdb ? "HMDB file " : "Adduct table ") + path + c.message);
        }
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    }
    std::vector<double> none;
    EXPECT_THROW(korvane::read_run_hmdb_masses(dir.file("none.csv"), none), korvane::TableOpenError);
}

TEST(RunTables, ExampleTablesReadAsThePlainReadersReadThem) {
    const std::string config = KORVANE_SOURCE_DIR "/examples/config/";
    std::vector<double> average, plain, checked;
    read_hmdb_file(config + "hmdb.csv", average, plain);
    korvane::read_run_hmdb_masses(config + "hmdb.csv", checked);
    EXPECT_EQ(checked, plain);
    EXPECT_GT(checked.size(), 1000u);
    for (const char* table : {"Adduct_Config_Positive.csv", "Adduct_Config_Negative.csv"}) {
        SCOPED_TRACE(table);
        std::vector<adduct_configure_node> a, b;
        read_adduct_configure_file(config + table, a);
        korvane::read_run_adduct_table(config + table, b);
        ASSERT_EQ(a.size(), b.size());
        for (std::size_t i = 0; i < a.size(); ++i)
            EXPECT_TRUE(a[i].Formula == b[i].Formula && a[i].Mass_Shift == b[i].Mass_Shift &&
                        a[i].Dependence == b[i].Dependence && a[i].Molecule_Count == b[i].Molecule_Count);
    }
}
