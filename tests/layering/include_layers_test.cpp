// The folders' layering, read from the code: every include of the tree, "..." or <...>, is held
// against one table of which folder may include which, so that an arrow pointing the wrong way
// fails here, naming its line, instead of waiting to become a link error or a cycle.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// What each folder may include besides itself, each arrow there because some include needs it.
// A file belongs to the longest folder of the table that holds it; "engine" names every engine
// folder, "workbench" every workbench folder. Only tests/ includes tests/, only tests/ and bench/
// the reference transcriptions. Apart from the table, a folder's internal/ headers serve that
// folder alone. A source file in a folder without a row fails, includes or not: a new folder takes
// its place in the table first.
struct Layer {
    std::string_view folder, may_include;
};
constexpr Layer kLayers[] = {
    // folder              may include
    {"engine/records",     ""},
    {"engine/io",          "engine/records"},
    {"engine/peaks",       "engine/records"},
    {"engine/annotation",  "engine/records"},
    {"engine/output",      "engine/records sqlitewrap"},
    {"engine/run",         "engine"},
    {"sqlitewrap",         ""},
    {"pipeline",           "engine sqlitewrap"},
    {"workbench/engine",   "engine sqlitewrap"},
    {"workbench/results",  "engine workbench/engine"},
    {"workbench/window",   "engine sqlitewrap workbench/engine workbench/results"},
    {"tools",              "engine"},
    {"reference",          "engine sqlitewrap"},
    {"bench",              "engine sqlitewrap tools reference"},
    {"tests",              "engine sqlitewrap pipeline workbench tools reference"},
};

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

// Why the file `from`, of `layer`, may not include `to` (both from the tree's root), or "" when it may.
std::string wrong_way(const Layer& layer, std::string_view from, std::string_view to) {
    if (const std::size_t internal = to.find("/internal/"); internal != std::string_view::npos) {
        const std::string_view owner = to.substr(0, internal);
        if (!inside(from, owner)) return std::string(owner) + "/internal/ serves " + std::string(owner) + " alone";
    }
    if (allowed_by(layer, to)) return "";
    std::string text = std::string(layer.folder) + " may include only itself";
    for (const std::string_view folder : words(layer.may_include)) text += ", " + std::string(folder);
    return text;
}

// What `#include "..."` or `#include <...>` names on this line, as written with its delimiters,
// or "" when the line includes nothing so.
std::string include_of(std::string_view line) {
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
    if (!line.starts_with('"') && !line.starts_with('<')) return "";
    const std::size_t end = line.find(line.front() == '"' ? '"' : '>', 1);
    return end == std::string_view::npos ? "" : std::string(line.substr(0, end + 1));
}

bool is_source(const fs::path& p) {
    const std::string ext = p.extension().string();
    for (const char* source : {".h", ".hpp", ".hxx", ".inl", ".ipp", ".cpp", ".cc", ".cxx", ".c"})
        if (ext == source) return true;
    return false;
}

// Hidden folders anywhere, and build output at the root (build*/, or any folder a configure ran
// in), hold no sources of the tree.
bool skipped(const fs::directory_entry& folder, int depth) {
    const std::string name = folder.path().filename().string();
    if (name.starts_with('.')) return true;
    return depth == 0 && (name.starts_with("build") || fs::exists(folder.path() / "CMakeCache.txt"));
}

// The folders at the tree's root: with the root on every include path, `#include <engine/...>`
// names the tree's file as surely as `#include "engine/..."` does.
std::vector<std::string> top_folders(const fs::path& root) {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(root))
        if (entry.is_directory() && !skipped(entry, 0)) out.push_back(entry.path().filename().string());
    return out;
}

// The included file from the root, or "" for a header that is not ours. A quoted include finds a
// file beside its includer first, as the compiler does; otherwise the first folder of the path
// decides whether it is the tree's.
std::string resolve(const fs::path& root, const std::vector<std::string>& folders, const std::string& from,
                    const std::string& include) {
    const std::string written = include.substr(1, include.size() - 2);
    if (include.front() == '"') {
        const fs::path beside = (fs::path(from).parent_path() / written).lexically_normal();
        if (!beside.empty() && *beside.begin() != ".." && fs::is_regular_file(root / beside))
            return beside.generic_string();
    }
    const fs::path path = fs::path(written).lexically_normal();
    if (path.begin() == path.end()) return "";
    const std::string first = path.begin()->string();
    return std::find(folders.begin(), folders.end(), first) != folders.end() ? path.generic_string() : "";
}

struct Scan {
    std::vector<std::string> faults;  // "file:line: #include ...: why", or "file: why"
    int includes = 0;
};

void check_file(const fs::path& root, const std::vector<std::string>& folders, const std::string& from, Scan& scan) {
    const Layer* layer = layer_of(from);
    if (!layer) {
        scan.faults.push_back(from + ": the folder of " + from + " has no row in the layer table");
        return;
    }
    std::ifstream in(root / from);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string include = include_of(line);
        if (include.empty()) continue;
        ++scan.includes;
        const std::string to = resolve(root, folders, from, include);
        if (to.empty()) continue;
        if (const std::string why = wrong_way(*layer, from, to); !why.empty())
            scan.faults.push_back(from + ":" + std::to_string(number) + ": #include " + include + ": " + why);
    }
}

// Every source file under the root, whichever folder holds it.
Scan scan_tree(const fs::path& root) {
    const std::vector<std::string> folders = top_folders(root);
    Scan scan;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        if (it->is_directory() && skipped(*it, it.depth()))
            it.disable_recursion_pending();
        else if (it->is_regular_file() && is_source(it->path()))
            check_file(root, folders, fs::relative(it->path(), root).generic_string(), scan);
    }
    std::sort(scan.faults.begin(), scan.faults.end());
    return scan;
}

std::string listing(const std::vector<std::string>& faults) {
    std::string text;
    for (const std::string& fault : faults) text += "\n  " + fault;
    return text;
}

TEST(IncludeLayers, EveryIncludeOfTheTreePointsTheAllowedWay) {
    const fs::path root = KORVANE_SOURCE_DIR;
    const Scan scan = scan_tree(root);
    EXPECT_GT(scan.includes, 300) << "the tree under " << root << " was not read";
    EXPECT_TRUE(scan.faults.empty()) << scan.faults.size() << " fault(s) in the layering:" << listing(scan.faults);
}

// One arrow per rule, each the one file of a tree of its own beside the table's folders: the
// reading and the table refuse these, and let the ones marked pass.
TEST(IncludeLayers, EachRuleRefusesItsWrongWay) {
    const struct {
        const char *from, *include;
        bool may;
    } rows[] = {
        {"engine/peaks/spectrum.cpp", "\"pipeline/driver.h\"", false},
        {"engine/peaks/spectrum.cpp", "<pipeline/driver.h>", false},
        {"engine/peaks/spectrum.cpp", "<vector>", true},
        {"engine/run/pipeline_process.cpp", "\"workbench/engine/korvane_engine.h\"", false},
        {"engine/records/error.cpp", "\"sqlitewrap/cppsqlite3.h\"", false},
        {"engine/records/records.cpp", "\"engine/io/netcdf_reader.h\"", false},
        {"engine/peaks/spectrum.cpp", "\"engine/records_old/records.h\"", false},
        {"engine/peaks/spectrum.cpp", "\"engine/annotation/grouping.h\"", false},
        {"engine/annotation/grouping.cpp", "\"engine/peaks/spectrum.h\"", false},
        {"engine/output/csv_output.cpp", "\"engine/io/netcdf_reader.h\"", false},
        {"engine/run/sample_batch.cpp", "<engine/io/sample_listing.h>", true},
        {"engine/peaks/internal/trace_index.h", "\"engine/peaks/internal/trace_order.h\"", true},
        {"engine/run/pipeline_process.cpp", "\"engine/peaks/internal/extremum.h\"", false},
        {"tests/engine/peaks/wavelet_test.cpp", "\"engine/peaks/internal/wavelet_kernels.h\"", false},
        {"sqlitewrap/cppsqlite3_db.cpp", "\"engine/records/error.h\"", false},
        {"workbench/engine/korvane_engine.cpp", "\"workbench/results/plot_frame.h\"", false},
        {"workbench/results/plot_frame.cpp", "<workbench/window/main_form.h>", false},
        {"tools/generate_sample/sample_file.cpp", "\"tests/support/temp_dir.h\"", false},
        {"bench/grouping/grouping_bench.cpp", "\"reference/grouping_oracle.h\"", true},
        {"pipeline/driver.cpp", "\"reference/clustering_oracle.h\"", false},
        {"reference/wavelet_oracle.h", "\"tests/support/temp_dir.h\"", false},
        {"engine/peaks/spectrum.hxx", "\"pipeline/driver.h\"", false},
        {"engine/peaks/spectrum.inl", "\"pipeline/driver.h\"", false},
        {"engine/peaks/spectrum.ipp", "\"pipeline/driver.h\"", false},
        {"engine/peaks/spectrum.cxx", "\"pipeline/driver.h\"", false},
        {"examples/x.cpp", "<vector>", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.from) + ": #include " + row.include);
        const korvane::test::TempDir tree;
        for (const Layer& layer : kLayers) fs::create_directories(tree.path() / layer.folder);
        fs::create_directories(tree.path() / fs::path(row.from).parent_path());
        tree.write(row.from, std::string("#include ") + row.include + "\n");
        const Scan scan = scan_tree(tree.path());
        EXPECT_EQ(scan.faults.empty(), row.may) << listing(scan.faults);
    }
}

}  // namespace
