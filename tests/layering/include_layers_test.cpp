// The folders' layering, read from the code: every #include "..." of the tree is held against one
// table of which folder may include which, so that an arrow pointing the wrong way fails here,
// naming its line, instead of waiting to become a link error or a cycle.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

// What each folder may include besides itself. A file belongs to the longest folder of the table
// that holds it; "engine" names every engine folder, "workbench" every workbench folder. Only
// tests/ includes tests/, only tests/ and bench/ the reference transcriptions. Apart from the
// table, a folder's internal/ headers serve that folder alone. A file in a folder without a row
// fails: a new folder takes its place in the table first.
struct Layer {
    std::string_view folder, may_include;
};
constexpr Layer kLayers[] = {
    // folder              may include
    {"engine/records",     ""},
    {"engine/io",          "engine/records"},
    {"engine/peaks",       "engine/records"},
    {"engine/annotation",  "engine/records engine/peaks"},
    {"engine/output",      "engine/records engine/annotation sqlitewrap"},
    {"engine/run",         "engine sqlitewrap"},
    {"sqlitewrap",         ""},
    {"pipeline",           "engine sqlitewrap"},
    {"workbench/engine",   "engine sqlitewrap"},
    {"workbench/results",  "engine sqlitewrap workbench/engine"},
    {"workbench/window",   "engine sqlitewrap workbench/engine workbench/results"},
    {"tools",              "engine sqlitewrap"},
    {"reference",          "engine sqlitewrap"},
    {"bench",              "engine sqlitewrap pipeline workbench tools reference"},
    {"tests",              "engine sqlitewrap pipeline workbench tools reference"},
};

// The folders that hold our code.
constexpr std::string_view kSourceFolders[] = {"engine", "sqlitewrap", "pipeline", "workbench",
                                               "tools",  "bench",      "reference", "tests"};

bool inside(std::string_view path, std::string_view folder) {
    return path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/';
}

const Layer* layer_of(std::string_view path) {
    const Layer* found = nullptr;
    for (const Layer& layer : kLayers)
        if (inside(path, layer.folder) && (!found || layer.folder.size() > found->folder.size())) found = &layer;
    return found;
}

std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> out;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find(' ', start), text.size());
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

bool allowed_by(const Layer& layer, std::string_view to) {
    if (inside(to, layer.folder)) return true;
    for (const std::string_view folder : words(layer.may_include))
        if (inside(to, folder)) return true;
    return false;
}

// Why the file `from` may not include `to` (both from the tree's root), or "" when it may.
std::string wrong_way(std::string_view from, std::string_view to) {
    if (const std::size_t internal = to.find("/internal/"); internal != std::string_view::npos) {
        const std::string_view owner = to.substr(0, internal);
        if (!inside(from, owner)) return std::string(owner) + "/internal/ serves " + std::string(owner) + " alone";
    }
    const Layer* layer = layer_of(from);
    if (!layer) return "the folder of " + std::string(from) + " has no row in the layer table";
    if (allowed_by(*layer, to)) return "";
    std::string text = std::string(layer->folder) + " may include only itself";
    for (const std::string_view folder : words(layer->may_include)) text += ", " + std::string(folder);
    return text;
}

// The path that `#include "..."` names on this line, or "" when the line includes nothing so.
std::string quoted_include(std::string_view line) {
    auto skip_blanks = [&line] {
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    };
    skip_blanks();
    if (!line.starts_with('#')) return "";
    line.remove_prefix(1);
    skip_blanks();
    if (!line.starts_with("include")) return "";
    line.remove_prefix(7);
    skip_blanks();
    if (!line.starts_with('"')) return "";
    const std::size_t end = line.find('"', 1);
    return end == std::string_view::npos ? "" : std::string(line.substr(1, end - 1));
}

bool is_source(const fs::path& p) {
    const std::string ext = p.extension().string();
    return ext == ".h" || ext == ".hpp" || ext == ".cpp" || ext == ".cc" || ext == ".c";
}

// The included file from the root: written from the root as this tree does, or beside the
// includer; "" for a header that is not ours.
std::string resolve(const fs::path& root, const std::string& from, const std::string& include) {
    if (fs::exists(root / include)) return fs::path(include).lexically_normal().generic_string();
    const fs::path beside = (fs::path(from).parent_path() / include).lexically_normal();
    return fs::exists(root / beside) ? beside.generic_string() : "";
}

// Every wrong-way include of one file, as "file:line: #include "...": why".
void check_file(const fs::path& root, const std::string& from, std::vector<std::string>& faults, int& includes) {
    std::ifstream in(root / from);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string include = quoted_include(line);
        if (include.empty()) continue;
        ++includes;
        const std::string to = resolve(root, from, include);
        if (to.empty()) continue;
        if (const std::string why = wrong_way(from, to); !why.empty())
            faults.push_back(from + ":" + std::to_string(number) + ": #include \"" + include + "\": " + why);
    }
}

TEST(IncludeLayers, EveryIncludeOfTheTreePointsTheAllowedWay) {
    const fs::path root = KORVANE_SOURCE_DIR;
    std::vector<std::string> faults;
    int includes = 0;
    for (const std::string_view folder : kSourceFolders)
        for (const auto& entry : fs::recursive_directory_iterator(root / folder))
            if (entry.is_regular_file() && is_source(entry.path()))
                check_file(root, fs::relative(entry.path(), root).generic_string(), faults, includes);
    EXPECT_GT(includes, 300) << "the tree under " << root << " was not read";
    std::string listing;
    for (const std::string& fault : faults) listing += "\n  " + fault;
    EXPECT_TRUE(faults.empty()) << faults.size() << " include(s) point the wrong way:" << listing;
}

// One arrow per rule: the table and its reading refuse these, and let the ones marked pass.
TEST(IncludeLayers, EachRuleRefusesItsWrongWay) {
    const struct {
        const char *from, *to;
        bool may;
    } rows[] = {
        {"engine/peaks/spectrum.cpp", "pipeline/driver.h", false},
        {"engine/run/pipeline_process.cpp", "workbench/engine/korvane_engine.h", false},
        {"engine/records/error.cpp", "sqlitewrap/cppsqlite3.h", false},
        {"engine/records/records.cpp", "engine/io/netcdf_reader.h", false},
        {"engine/peaks/spectrum.cpp", "engine/records_old/records.h", false},
        {"engine/peaks/spectrum.cpp", "engine/annotation/grouping.h", false},
        {"engine/annotation/grouping.cpp", "engine/peaks/spectrum.h", true},
        {"engine/output/csv_output.cpp", "engine/io/netcdf_reader.h", false},
        {"engine/run/sample_batch.cpp", "engine/io/sample_listing.h", true},
        {"engine/peaks/internal/trace_index.h", "engine/peaks/internal/trace_order.h", true},
        {"engine/annotation/grouping.cpp", "engine/peaks/internal/extremum.h", false},
        {"tests/engine/peaks/wavelet_test.cpp", "engine/peaks/internal/wavelet_kernels.h", false},
        {"sqlitewrap/cppsqlite3_db.cpp", "engine/records/error.h", false},
        {"workbench/engine/korvane_engine.cpp", "workbench/results/plot_frame.h", false},
        {"workbench/results/plot_frame.cpp", "workbench/window/main_form.h", false},
        {"tools/generate_sample/sample_file.cpp", "tests/support/temp_dir.h", false},
        {"bench/grouping/grouping_bench.cpp", "reference/grouping_oracle.h", true},
        {"pipeline/driver.cpp", "reference/clustering_oracle.h", false},
        {"reference/wavelet_oracle.h", "tests/support/temp_dir.h", false},
        {"examples/x.cpp", "engine/records/records.h", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.from) + " -> " + row.to);
        EXPECT_EQ(wrong_way(row.from, row.to).empty(), row.may) << wrong_way(row.from, row.to);
    }
}

}  // namespace
