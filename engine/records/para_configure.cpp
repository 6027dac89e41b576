// Reading, checking and writing "config_para.csv", each by the table kParaFields.
#include "engine/records/para_configure.h"

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <variant>
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

// The field's value as the file writes it, and as a double (exact for every 32-bit integer).
std::string text_of(const Para_Configure& para, const korvane::Para_Field& field) {
    return std::visit([&para](auto member) { return format(para.*member); }, field.member);
}
double value_of(const Para_Configure& para, const korvane::Para_Field& field) {
    return std::visit([&para](auto member) { return static_cast<double>(para.*member); }, field.member);
}

void store(Para_Configure& para, const korvane::Para_Field& field, const std::string& text) {
    std::visit([&](auto member) { store(para.*member, text); }, field.member);
}

void store_parameter(Para_Configure& para, const std::vector<std::string>& pieces) {
    const korvane::Para_Field* field = korvane::para_field(pieces[0]);
    if (!field) return;
    if (pieces.size() < 2) throw std::out_of_range("no value");
    store(para, *field, pieces[1]);
}

// Calls each(line, pieces, n) for every line that is not empty, n counted from 1, the first line
// without its byte-order mark: the one way the readers and the workbench's page take the lines.
template <class Each>
void for_each_line(std::istream& in, Each each) {
    std::string line;
    for (std::size_t n = 1; korvane::read_line(in, line); ++n) {
        if (n == 1) korvane::strip_utf8_bom(line);
        if (!line.empty()) each(line, korvane::split_commas(line), n);
    }
}

// The one place the plain readers open the file.
// A FIFO under the file's name would block the open until something wrote to it: anything but a
// regular file is left unopened, as good as a missing file.
std::ifstream open_para_file(const std::string& folder, const std::string& file_name) {
    const std::string path = korvane::path_join(folder, file_name);
    std::ifstream in;
    if (korvane::is_not_regular_file(path))
        in.setstate(std::ios::failbit);  // reads as a file that did not open
    else
        in.open(path);
    return in;
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
const char* value_problem(std::int32_t Para_Configure::*, std::string_view text) {
    if (!korvane::is_whole_int32(text)) return "is not a whole number";
    try {
        korvane::parse_int32(text);
    } catch (const std::out_of_range&) {
        return "is beyond the 32-bit range";
    }
    return nullptr;
}
const char* value_problem(std::uint32_t Para_Configure::*, std::string_view text) {
    if (!korvane::is_whole_uint32_auto(text)) return "is not a whole number";
    // The plain reader saturates such a value to 4294967295; a run would take that for the text.
    return korvane::fits_uint32_auto(text) ? nullptr : "is beyond the 32-bit range";
}
const char* value_problem(double Para_Configure::*, std::string_view text) {
    if (!korvane::is_whole_double(text)) return "is not a number";
    return std::isfinite(korvane::parse_double(text)) ? nullptr : "is not a finite number";
}

void check_line(Para_Configure& para, const std::vector<std::string>& pieces, std::size_t line, Key_Lines& lines) {
    const korvane::Para_Field* field = korvane::para_field(pieces[0]);
    if (!field) return;
    const std::string at = std::string(field->key) + ": ";
    if (pieces.size() < 2) lines.refuse_at(line, at + "no value");
    if (const char* problem = korvane::para_value_problem(*field, pieces[1]))
        lines.refuse_at(line, at + "value \"" + pieces[1] + "\" " + problem);
    store(para, *field, pieces[1]);
    lines.set(field->key, line);
}

void check_all_keys_present(const Key_Lines& lines) {
    std::string missing;
    for (const korvane::Para_Field& field : korvane::kParaFields)
        if (!lines.has(field.key)) missing += (missing.empty() ? "" : ", ") + std::string(field.key);
    if (!missing.empty()) lines.refuse(": no line for " + missing);
}

// Values that parse but leave a run without meaning: no mass traces, no peak width or scan range,
// tolerances that match nothing.
void check_rule(const Para_Configure& p, const korvane::Para_Field& field, const Key_Lines& lines) {
    using korvane::Para_Rule;
    const double value = value_of(p, field);
    const std::string shown = text_of(p, field);
    switch (field.rule) {
        case Para_Rule::any:
            return;
        case Para_Rule::above_zero:
            if (!(value > 0)) lines.refuse_key(field.key, shown + " is not above 0");
            return;
        case Para_Rule::not_negative:
            if (value < 0) lines.refuse_key(field.key, shown + " is negative");
            return;
        case Para_Rule::not_above:
        case Para_Rule::not_below: {
            const korvane::Para_Field& other = *korvane::para_field(field.other);
            const bool above = field.rule == Para_Rule::not_above;
            const double limit = value_of(p, other);
            if (above ? value > limit : value < limit)
                lines.refuse_key(field.key, shown + (above ? " is above " : " is below ") + other.key + " " +
                                                text_of(p, other) + " (" + lines.line_of(other.key) + ")");
            return;
        }
    }
}

// The whole file, or "" with ok false when it cannot be opened or read.
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
    for_each_line(in, [&](const std::string& line, const std::vector<std::string>& pieces, std::size_t n) {
        if (const char* problem = text_line_problem(line)) lines.refuse_at(n, problem);
        check_line(para, pieces, n, lines);
    });
    if (lines.empty()) lines.refuse(" holds no parameter line");
    check_all_keys_present(lines);
    for (const Para_Field& field : kParaFields) check_rule(para, field, lines);
    return para;
}

const char* korvane::para_value_problem(const Para_Field& field, std::string_view text) {
    return std::visit([text](auto member) { return value_problem(member, text); }, field.member);
}

std::map<std::string, std::string> korvane::read_para_value_texts(const std::string& folder,
                                                                  const std::string& file_name) {
    std::map<std::string, std::string> values;
    std::ifstream in = open_para_file(folder, file_name);
    for_each_line(in, [&values](const std::string&, const std::vector<std::string>& pieces, std::size_t) {
        if (pieces.size() >= 2) values[pieces[0]] = pieces[1];
    });
    return values;
}

int Read_Configured_ParafromCSVFile(std::string Path, std::string Para_FileName, Para_Configure& Para) {
    std::ifstream in = open_para_file(Path, Para_FileName);
    if (!in) return 0;
    // A file that opens but cannot be read (a read error) is as good as a missing one: 0 and Para
    // as it was, not a run on whatever the first lines happened to set.
    Para_Configure read = Para;
    for_each_line(in, [&](const std::string& line, const std::vector<std::string>& pieces, std::size_t) {
        try {
            store_parameter(read, pieces);
        } catch (const std::invalid_argument& e) {
            Para = read;  // a bad line keeps what the lines before it stored
            throw std::invalid_argument(where(Path, Para_FileName, line) + e.what());
        } catch (const std::out_of_range& e) {
            Para = read;
            throw std::out_of_range(where(Path, Para_FileName, line) + e.what());
        }
    });
    if (in.bad()) return 0;
    Para = read;
    return 1;
}

void OutputConfiguredPara2CSVFile(Para_Configure Para, std::string Path, std::string FileName) {
    std::ostringstream text;
    for (const korvane::Para_Field& field : korvane::kParaFields)
        text << field.key << ',' << text_of(Para, field) << '\n';
    // Every run reads this file: on a full disk or an unwritable folder the earlier file stays whole.
    korvane::replace_whole_file(korvane::path_join(Path, FileName), text.str());
}
