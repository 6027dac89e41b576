// The check that every process of a job took the same sample list.
#include "engine/run/sample_batch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

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

}  // namespace
