#include "engine/records/para_configure.h"

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/records/error.h"
#include "engine/records/result_file.h"
#include "engine/records/text_util.h"

namespace {

// The conversion's own errors ("stoi") say nothing a user could act on; the reader adds the file
// and the line.
void store(std::int32_t& member, const std::string& text) {
    try {
        member = korvane::parse_int32(text);
    } catch (const std::invalid_argument&) {
        throw std::invalid_argument("value \"" + text + "\" is not a whole number");
    } catch (const std::out_of_range&) {
        throw std::out_of_range("value \"" + text + "\" is beyond the 32-bit range");
    }
}
void store(std::uint32_t& member, const std::string& text) { member = korvane::parse_uint32_auto(text); }
void store(double& member, const std::string& text) { member = korvane::parse_double(text); }

std::string format(std::int32_t value) { return std::to_string(value); }
std::string format(std::uint32_t value) { return std::to_string(value); }
std::string format(double value) { return korvane::format_g6(value); }

// True when the key named a parameter (and the value was stored).
bool store_parameter(Para_Configure& para, const std::vector<std::string>& pieces) {
    const std::string& key = pieces[0];
#define KORVANE_PARA_STORE(type, name)                                            \
    if (key == #name) {                                                           \
        if (pieces.size() < 2) throw std::out_of_range("no value");               \
        store(para.name, pieces[1]);                                              \
        return true;                                                              \
    }
    KORVANE_PARA_FIELDS(KORVANE_PARA_STORE)
#undef KORVANE_PARA_STORE
    return false;
}

std::string where(const std::string& path, const std::string& file, const std::string& line) {
    return korvane::path_join(path, file) + ": line \"" + line + "\": ";
}

// The last line of each key that a file holds: the line whose value counts.
class Key_Lines {
public:
    explicit Key_Lines(std::string path) : path_(std::move(path)) {}

    void set(const char* key, std::size_t line) { lines_[key] = line; }
    bool has(const char* key) const { return lines_.count(key) != 0; }
    bool empty() const { return lines_.empty(); }
    std::string line_of(const char* key) const { return "line " + std::to_string(lines_.at(key)); }

    [[noreturn]] void refuse(const std::string& what) const {
        throw korvane::Error("Parameter file " + path_ + what);
    }
    [[noreturn]] void refuse_at(std::size_t line, const std::string& what) const {
        refuse(", line " + std::to_string(line) + ": " + what);
    }
    [[noreturn]] void refuse_key(const char* key, const std::string& what) const {
        refuse(", " + line_of(key) + ", " + key + ": " + what);
    }

private:
    std::string path_;
    std::map<std::string, std::size_t> lines_;
};

// What the value text is not, or nullptr when it is wholly a number of the member's type.
const char* value_problem(std::int32_t, const std::string& text) {
    return korvane::is_whole_int32(text) ? nullptr : "is not a whole number";
}
const char* value_problem(std::uint32_t, const std::string& text) {
    return korvane::is_whole_uint32_auto(text) ? nullptr : "is not a whole number";
}
const char* value_problem(double, const std::string& text) {
    if (!korvane::is_whole_double(text)) return "is not a number";
    return std::isfinite(korvane::parse_double(text)) ? nullptr : "is not a finite number";
}

template <class T>
void check_and_store(T& member, const char* key, const std::vector<std::string>& pieces, std::size_t line,
                     Key_Lines& lines) {
    const std::string at = std::string(key) + ": ";
    if (pieces.size() < 2) lines.refuse_at(line, at + "no value");
    if (const char* problem = value_problem(member, pieces[1]))
        lines.refuse_at(line, at + "value \"" + pieces[1] + "\" " + problem);
    try {
        store(member, pieces[1]);
    } catch (const std::exception& e) {
        lines.refuse_at(line, at + e.what());
    }
    lines.set(key, line);
}

void check_line(Para_Configure& para, const std::vector<std::string>& pieces, std::size_t line, Key_Lines& lines) {
#define KORVANE_PARA_CHECK(type, name)                          \
    if (pieces[0] == #name) {                                   \
        check_and_store(para.name, #name, pieces, line, lines); \
        return;                                                 \
    }
    KORVANE_PARA_FIELDS(KORVANE_PARA_CHECK)
#undef KORVANE_PARA_CHECK
}

void check_all_keys_present(const Key_Lines& lines) {
    std::string missing;
#define KORVANE_PARA_MISSING(type, name) \
    if (!lines.has(#name)) missing += missing.empty() ? #name : ", " #name;
    KORVANE_PARA_FIELDS(KORVANE_PARA_MISSING)
#undef KORVANE_PARA_MISSING
    if (!missing.empty()) lines.refuse(": no line for " + missing);
}

// Values that parse but leave a run without meaning: no mass traces, no peak width or scan range,
// tolerances that match nothing.
void check_meaning(const Para_Configure& p, const Key_Lines& lines) {
    using korvane::format_g6;
    if (!(p.Para_PPM > 0)) lines.refuse_key("Para_PPM", format_g6(p.Para_PPM) + " is not above 0");
    if (p.Para_Min_PeakWidth > p.Para_Max_PeakWidth)
        lines.refuse_key("Para_Min_PeakWidth", std::to_string(p.Para_Min_PeakWidth) + " is above Para_Max_PeakWidth " +
                                                   std::to_string(p.Para_Max_PeakWidth) + " (" +
                                                   lines.line_of("Para_Max_PeakWidth") + ")");
    if (p.Para_End_Scan < p.Para_Start_Scan)
        lines.refuse_key("Para_End_Scan", std::to_string(p.Para_End_Scan) + " is below Para_Start_Scan " +
                                              std::to_string(p.Para_Start_Scan) + " (" +
                                              lines.line_of("Para_Start_Scan") + ")");
    const std::pair<const char*, double> tolerances[] = {
        {"Para_Annotate_Mass_Tol", p.Para_Annotate_Mass_Tol},
        {"Para_Align_Mass_Tol", p.Para_Align_Mass_Tol},
        {"Para_Align_Window1", p.Para_Align_Window1},
        {"Para_Align_Window2", p.Para_Align_Window2},
    };
    for (const auto& [key, value] : tolerances)
        if (value < 0) lines.refuse_key(key, format_g6(value) + " is negative");
}

// The whole file, or "" with ok false when it cannot be opened or read (a folder of that name).
std::string read_bytes(const std::string& path, bool& ok) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes;
    char block[4096];
    while (in.read(block, sizeof block) || in.gcount() > 0) bytes.append(block, static_cast<std::size_t>(in.gcount()));
    ok = in.is_open() && !in.bad();
    return bytes;
}

}  // namespace

Para_Configure korvane::read_run_parameters(const std::string& folder, const std::string& file_name) {
    const std::string path = path_join(folder, file_name);
    if (is_not_regular_file(path))
        throw korvane::Error("Parameter file could not be opened: " + path + " (not a regular file)");
    bool ok = false;
    const std::string bytes = read_bytes(path, ok);
    if (!ok) throw korvane::Error("Parameter file could not be opened: " + path);
    Key_Lines lines(path);
    if (bytes.empty()) lines.refuse(" is empty");
    if (bytes.find('\0') != std::string::npos)
        lines.refuse(" is not plain text (UTF-16?): save it as UTF-8 or ASCII");

    Para_Configure para;
    std::istringstream in(bytes);
    std::string line;
    for (std::size_t n = 1; read_line(in, line); ++n) {
        if (n == 1) strip_utf8_bom(line);
        if (const char* problem = text_line_problem(line)) lines.refuse_at(n, problem);
        const std::vector<std::string> pieces = split_commas(line);
        if (!pieces.empty()) check_line(para, pieces, n, lines);
    }
    if (lines.empty()) lines.refuse(" holds no parameter line");
    check_all_keys_present(lines);
    check_meaning(para, lines);
    return para;
}

int Read_Configured_ParafromCSVFile(std::string Path, std::string Para_FileName, Para_Configure& Para) {
    const std::string path = korvane::path_join(Path, Para_FileName);
    if (korvane::is_not_regular_file(path)) return 0;
    std::ifstream in(path);
    if (!in) return 0;
    // A file that opens but cannot be read (a folder of that name, a read error) is as good as a
    // missing one: 0 and Para as it was, not a run on whatever the first lines happened to set.
    Para_Configure read = Para;
    std::string line;
    bool first = true;
    try {
        while (korvane::read_line(in, line)) {
            if (first) korvane::strip_utf8_bom(line), first = false;
            if (line.empty()) continue;
            const std::vector<std::string> pieces = korvane::split_commas(line);
            if (pieces.empty()) continue;
            store_parameter(read, pieces);
        }
    } catch (const std::invalid_argument& e) {
        Para = read;  // a bad line keeps what the lines before it stored
        throw std::invalid_argument(where(Path, Para_FileName, line) + e.what());
    } catch (const std::out_of_range& e) {
        Para = read;
        throw std::out_of_range(where(Path, Para_FileName, line) + e.what());
    }
    if (in.bad()) return 0;
    Para = read;
    return 1;
}

void OutputConfiguredPara2CSVFile(Para_Configure Para, std::string Path, std::string FileName) {
    std::ostringstream text;
#define KORVANE_PARA_WRITE(type, name) text << #name "," << format(Para.name) << '\n';
    KORVANE_PARA_FIELDS(KORVANE_PARA_WRITE)
#undef KORVANE_PARA_WRITE
    // Every run reads this file: on a full disk or an unwritable folder the earlier file stays whole.
    korvane::replace_whole_file(korvane::path_join(Path, FileName), text.str());
}
