#include "engine/records/para_configure.h"

#include <fstream>
#include <stdexcept>
#include <string_view>
#include <vector>

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

}  // namespace

int Read_Configured_ParafromCSVFile(std::string Path, std::string Para_FileName, Para_Configure& Para) {
    std::ifstream in(korvane::path_join(Path, Para_FileName));
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
    std::ofstream out(korvane::path_join(Path, FileName), std::ios::trunc);
    if (!out) return;
#define KORVANE_PARA_WRITE(type, name) out << #name "," << format(Para.name) << '\n';
    KORVANE_PARA_FIELDS(KORVANE_PARA_WRITE)
#undef KORVANE_PARA_WRITE
}
