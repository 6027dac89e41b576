// The drivers' shared step: the sample list every process of a job must agree on, a data folder
// without samples, and a sample that runs out of memory.
#include "engine/run/sample_batch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/io/sample_listing.h"
#include "tests/support/temp_dir.h"
#include "tools/generate_sample/sample_file.h"

namespace {

using korvane::test::TempDir;

korvane::Sample_Batch batch_of(std::vector<std::string> files, bool listed, std::vector<std::int32_t> flags) {
    korvane::Sample_Batch batch;
    batch.files = std::move(files);
    batch.listed = listed;
    batch.align_flags = std::move(flags);
    return batch;
}

// Anything that changes which sample a process takes, or under which SAMPLE_ID and whether it is
// aligned, changes the fingerprint; the folders and the announcing do not.
TEST(SampleListFingerprint, DiffersExactlyWhenTheDealingWould) {
    const korvane::Sample_Batch base = batch_of({"ab.CDF", "c.CDF"}, true, {1, 0});
    struct Row {
        const char* name;
        korvane::Sample_Batch batch;
        bool same;
    };
    korvane::Sample_Batch elsewhere = base;
    elsewhere.data_dir = "/other";
    elsewhere.output_dir = "/out";
    elsewhere.announce = true;
    const std::vector<Row> rows = {
        {"the same list", batch_of({"ab.CDF", "c.CDF"}, true, {1, 0}), true},
        {"other folders", elsewhere, true},
        {"a sample missing", batch_of({"ab.CDF"}, true, {1}), false},
        {"another order", batch_of({"c.CDF", "ab.CDF"}, true, {1, 0}), false},
        {"the same letters split otherwise", batch_of({"a", "b.CDFc.CDF"}, true, {1, 0}), false},
        {"another flag", batch_of({"ab.CDF", "c.CDF"}, true, {1, 1}), false},
        {"no flags", batch_of({"ab.CDF", "c.CDF"}, true, {}), false},
        {"from the folder", batch_of({"ab.CDF", "c.CDF"}, false, {1, 0}), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(korvane::sample_list_fingerprint(row.batch) == korvane::sample_list_fingerprint(base), row.same);
    }
}

TEST(SampleListFingerprint, ProcessesThatDisagreeStopTheRunNamingTheFolder) {
    struct Row {
        std::vector<std::uint64_t> fingerprints;
        const char* message;  // "" when the run goes on
    };
    const std::vector<Row> rows = {
        {{}, ""},
        {{7}, ""},
        {{7, 7, 7}, ""},
        {{7, 7, 8, 9},
         "The processes of this job see different sample lists for data folder /data/run (process 2 differs "
         "from process 0); every process must see the same files"},
        {{8, 7, 7}, "(process 1 differs from process 0)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        const std::string expected = row.message;
        try {
            korvane::require_same_sample_list(row.fingerprints, "/data/run");
            EXPECT_EQ(expected, "");
        } catch (const std::runtime_error& e) {
            EXPECT_NE(expected, "");
            EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << e.what();
        }
    }
}

// Without a job list, a data folder with no ".CDF" file stops the run saying so, and counts the
// files a case-insensitive match would have taken.
TEST(SampleBatchNoSamples, SaysTheFolderAndTheFilesOfAnotherCase) {
    TempDir t;
    struct Row {
        const char* name;
        std::vector<std::string> files;  // made in the data folder
        bool listed;
        const char* after_folder;  // what the reason says after the folder; nullptr: no reason
    };
    const std::vector<Row> rows = {
        {"empty folder", {}, false, ""},
        {"lower case and mixed case", {"a.cdf", "b.cdf", "c.Cdf", "d.txt", "e.cdf.bak", "cdf"}, false,
         " (3 files end in .Cdf or .cdf: the extension is case-sensitive)"},
        {"one lower-case file", {"x.cdf"}, false, " (1 file ends in .cdf: the extension is case-sensitive)"},
        {"a sample", {"x.cdf", "y.CDF"}, false, nullptr},
        {"a job list", {"x.cdf"}, true, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::filesystem::path dir = t.path() / row.name;
        std::filesystem::create_directories(dir);
        for (const std::string& f : row.files) t.write(std::string(row.name) + "/" + f, "");
        korvane::Sample_Batch batch;
        if (row.listed)
            batch.files = {"x.cdf"};
        else
            load_filename_from_filedir(dir.string(), "*.CDF", batch.files);
        batch.listed = row.listed;
        batch.data_dir = dir.string();
        EXPECT_EQ(korvane::no_samples_reason(batch),
                  row.after_folder ? "No sample file ending in .CDF in " + dir.string() + row.after_folder : "");
    }
}

// A group read as each of 20000 adducts needs a distance list of gigabytes. With the memory kept
// short the sample is skipped naming the step, no result file of it is left, and the next sample
// is processed as usual.
TEST(SampleBatchOutOfMemory, SkipsTheSampleNamingTheStepAndGoesOn) {
    if (korvane::test::kAddressSanitizer)
        GTEST_SKIP() << "AddressSanitizer ends the process on a failed allocation instead of throwing";
    TempDir t;
    const std::filesystem::path example = std::filesystem::path(KORVANE_SOURCE_DIR) / "examples" / "config";
    std::filesystem::create_directories(t.path() / "config");
    for (const char* f : {"config_para.csv", "hmdb.csv"})
        std::filesystem::copy_file(example / f, t.path() / "config" / f);
    std::string adducts = "Formula,Molecule_Count,Charge_Count,Mass_Shift,Dependence\n[M+H]+,1,1,1.007276,0\n";
    for (int k = 1; k < 20000; ++k) adducts += "[M+X" + std::to_string(k) + "]+,1,1,1.007276,1\n";
    t.write("config/Adduct_Config_Positive.csv", adducts);
    // Compounds show as co-eluting adduct and isotope ions, grouped together; noise alone gives no
    // group of two.
    std::filesystem::create_directories(t.path() / "data");
    for (const auto& [file, compounds] : {std::pair{"a_big.CDF", 20u}, std::pair{"b_quiet.CDF", 0u}}) {
        korvane::synth::Options o;
        o.scans = 200;
        o.points_per_scan = 100;
        o.compounds = compounds;
        o.background_ions = 0;
        korvane::synth::write_sample_cdf(t.file("data/") + file, korvane::synth::generate_sample(o));
    }
    std::filesystem::create_directories(t.path() / "out");
    const std::string earlier = t.write("out/a_big_annotated_grouped_chromatograph_peaklist.db", "earlier run");

    const korvane::Sample_Batch batch =
        korvane::open_sample_batch(t.file("config"), t.file("data"), t.file("out"), {}, {}, false);
    ASSERT_EQ(batch.files, (std::vector<std::string>{"a_big.CDF", "b_quiet.CDF"}));
    std::vector<Chromatogram_Peak_Group_Compound_Align> rows;
    std::optional<korvane::Skipped_Sample> big, quiet;
    testing::internal::CaptureStderr();
    {
        korvane::test::AddressSpaceLimit limit(std::size_t{1} << 30);
        big = korvane::process_listed_sample(batch, 0, rows);
        quiet = korvane::process_listed_sample(batch, 1, rows);
    }
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string reason = "out of memory while processing a_big.CDF: adduct annotation";
    ASSERT_TRUE(big.has_value());
    EXPECT_EQ(big->reason, reason);
    EXPECT_NE(err.find("Sample a_big.CDF skipped: " + reason + "\n"), std::string::npos) << err;
    EXPECT_FALSE(quiet.has_value()) << quiet->reason;
    EXPECT_TRUE(rows.empty());
    for (const char* suffix : {"_chromatograph_peaklist.csv", "_grouped_chromatograph_peaklist.csv",
                               "_annotated_grouped_chromatograph_peaklist.csv",
                               "_annotated_grouped_chromatograph_peaklist.db"}) {
        SCOPED_TRACE(suffix);
        EXPECT_FALSE(std::filesystem::exists(t.file("out/a_big") + suffix));
        EXPECT_TRUE(std::filesystem::exists(t.file("out/b_quiet") + suffix));
    }
}

}  // namespace
