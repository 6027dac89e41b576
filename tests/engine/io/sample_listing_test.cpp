#include "engine/io/sample_listing.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace {

using korvane::test::TempDir;
using Names = std::vector<std::string>;

void fill(const TempDir& dir) {
    for (const char* name : {"b.CDF", "a.CDF", "c.cdf", "d.txt", "e.CDF.bak", "CDF", "z.CDF", "\xC3\xA9.CDF"})
        dir.write(name, "");
    std::filesystem::create_directory(dir.path() / "sub.CDF");
}

TEST(SampleListing, FiltersByExactExtensionAndSortsByBytes) {
    struct Row {
        const char* filter;
        Names expected;
    };
    // "CDF" has no "." so its whole name is its extension; folders count like files; bytes
    // above 0x7F sort after ASCII.
    const Row rows[] = {
        {"*.CDF", {"CDF", "a.CDF", "b.CDF", "sub.CDF", "z.CDF", "\xC3\xA9.CDF"}},
        {"CDF", {"CDF", "a.CDF", "b.CDF", "sub.CDF", "z.CDF", "\xC3\xA9.CDF"}},
        {"*.cdf", {"c.cdf"}},
        {"*.bak", {"e.CDF.bak"}},
        {"*.*", {".", "..", "CDF", "a.CDF", "b.CDF", "c.cdf", "d.txt", "e.CDF.bak", "sub.CDF", "z.CDF", "\xC3\xA9.CDF"}},
        {"*.mzML", {}},
    };
    const TempDir dir;
    fill(dir);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.filter);
        Names names;
        EXPECT_EQ(load_filename_from_filedir(dir.str(), row.filter, names), static_cast<int>(row.expected.size()));
        EXPECT_EQ(names, row.expected);
    }
}

TEST(SampleListing, EarlierNamesAreKeptAndSortedIn) {
    const TempDir dir;
    fill(dir);
    Names names = {"zz.CDF", "0.CDF"};
    EXPECT_EQ(load_filename_from_filedir(dir.str(), "*.cdf", names), 3);
    EXPECT_EQ(names, (Names{"0.CDF", "c.cdf", "zz.CDF"}));
}

TEST(SampleListing, AFolderThatCannotBeListedAddsNothing) {
    const TempDir dir;
    dir.write("plain_file", "");
    for (const std::string& folder : {dir.file("missing"), dir.file("plain_file")}) {
        SCOPED_TRACE(folder);
        Names names = {"b", "a"};
        EXPECT_EQ(load_filename_from_filedir(folder, "*.CDF", names), 2);
        EXPECT_EQ(names, (Names{"b", "a"}));  // not even sorted
    }
}

TEST(SampleListing, AnEmptyFolderNameMeansTheWorkingFolder) {
    const TempDir dir;
    fill(dir);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    Names names;
    const int n = load_filename_from_filedir("", "*.cdf", names);
    std::filesystem::current_path(previous);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(names, Names{"c.cdf"});
}

}  // namespace
