#include "engine/records/text_util.h"

#include <charconv>
#include <cmath>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <locale.h>
#include <stdexcept>
#include <system_error>

namespace korvane {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::size_t skip_blanks(std::string_view t, std::size_t i) {
    while (i < t.size() && is_blank(t[i])) ++i;
    return i;
}

int digit_value(char c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    return v >= 0 && v < base ? v : -1;
}

// strtod honours LC_NUMERIC; the files are always written with a decimal point.
locale_t c_locale() {
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

}  // namespace

bool read_line(std::istream& in, std::string& line) {
    if (!std::getline(in, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

const char* text_line_problem(std::string_view line) {
    if (line.find('\0') != std::string_view::npos) return "not plain text (UTF-16?): save it as UTF-8 or ASCII";
    if (line.find('\r') != std::string_view::npos)
        return "carriage return inside the line: line ends must be LF or CR LF";
    return nullptr;
}

bool strip_utf8_bom(std::string& line) {
    if (line.compare(0, 3, "\xEF\xBB\xBF") != 0) return false;
    line.erase(0, 3);
    return true;
}

std::vector<std::string> split_commas(std::string_view line) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start < line.size()) {
        const std::size_t comma = line.find(',', start);
        if (comma == std::string_view::npos) {
            pieces.emplace_back(line.substr(start));
            break;
        }
        pieces.emplace_back(line.substr(start, comma - start));
        start = comma + 1;
    }
    return pieces;
}

std::vector<std::string> split_quoted_fields(std::string_view line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t quote = line.find('"', start);
        const std::string_view piece = line.substr(start, quote == std::string_view::npos ? line.npos : quote - start);
        if (!piece.empty() && piece != ",") fields.emplace_back(piece);
        if (quote == std::string_view::npos) break;
        start = quote + 1;
    }
    return fields;
}

namespace {

// Where the number that parse_double reads ends, leading blanks included; 0 when there is none.
std::size_t scan_double(std::string_view text, std::size_t& begin) {
    std::size_t i = skip_blanks(text, 0);
    begin = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t mantissa_digits = 0;
    while (i < text.size() && is_digit(text[i])) ++i, ++mantissa_digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && is_digit(text[i])) ++i, ++mantissa_digits;
    }
    if (mantissa_digits == 0) return 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        if (j < text.size() && is_digit(text[j])) {
            while (j < text.size() && is_digit(text[j])) ++j;
            i = j;
        }
    }
    return i;
}

}  // namespace

double parse_double(std::string_view text) {
    std::size_t begin = 0;
    const std::size_t end = scan_double(text, begin);
    if (end == 0) return 0.0;
    const std::string number(text.substr(begin, end - begin));
    return strtod_l(number.c_str(), nullptr, c_locale());
}

namespace {

// Reads what parse_uint32_auto reads into value (saturated, and overflow set); returns where it
// ends, or 0 when there is no digit.
std::size_t scan_uint32_auto(std::string_view text, std::uint32_t& value, bool& overflow) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
    std::size_t i = skip_blanks(text, 0);
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '0') {
        if (i + 2 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
            digit_value(text[i + 2], 16) >= 0) {
            base = 16;
            i += 2;
        } else {
            base = 8;
        }
    }
    std::uint64_t v = 0;
    overflow = false;
    const std::size_t first_digit = i;
    for (int d; i < text.size() && (d = digit_value(text[i], base)) >= 0; ++i) {
        v = v * base + static_cast<std::uint64_t>(d);
        if (v > kMax) overflow = true, v = kMax;
    }
    const auto low = static_cast<std::uint32_t>(v);
    value = overflow ? static_cast<std::uint32_t>(kMax) : negative ? static_cast<std::uint32_t>(0u - low) : low;
    return i == first_digit ? 0 : i;
}

// Nothing but blanks from position end on; false for end 0 (no number was read).
bool only_blanks_after(std::string_view text, std::size_t end) {
    return end != 0 && skip_blanks(text, end) == text.size();
}

}  // namespace

std::uint32_t parse_uint32_auto(std::string_view text) {
    std::uint32_t value = 0;
    bool overflow = false;
    scan_uint32_auto(text, value, overflow);
    return value;
}

bool fits_uint32_auto(std::string_view text) {
    std::uint32_t value = 0;
    bool overflow = false;
    scan_uint32_auto(text, value, overflow);
    return !overflow;
}

bool is_whole_double(std::string_view text) {
    std::size_t begin = 0;
    return only_blanks_after(text, scan_double(text, begin));
}

bool is_whole_uint32_auto(std::string_view text) {
    std::uint32_t value = 0;
    bool overflow = false;
    return only_blanks_after(text, scan_uint32_auto(text, value, overflow));
}

bool is_whole_int32(std::string_view text) {
    std::size_t i = skip_blanks(text, 0);
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const std::size_t first_digit = i;
    while (i < text.size() && is_digit(text[i])) ++i;
    return i != first_digit && only_blanks_after(text, i);
}

std::int32_t saturating_int32(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

std::int32_t parse_int32(std::string_view text) {
    std::size_t i = skip_blanks(text, 0);
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size() || !is_digit(text[i])) throw std::invalid_argument("stoi");
    std::int64_t magnitude = 0;
    bool out_of_range = false;
    for (; i < text.size() && is_digit(text[i]); ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > (std::int64_t{1} << 32)) out_of_range = true, magnitude = std::int64_t{1} << 32;
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (out_of_range || value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max())
        throw std::out_of_range("stoi");
    return static_cast<std::int32_t>(value);
}

std::string format_g6(double value) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 6);
    return std::string(buf, r.ptr);
}

std::string path_join(std::string_view folder, std::string_view name) {
    if (folder.empty()) return std::string(name);
    std::string path(folder);
    path += '/';
    path += name;
    return path;
}

bool is_not_regular_file(const std::string& path) {
    std::error_code ec;
    const std::filesystem::file_type type = std::filesystem::status(path, ec).type();
    return !ec && type != std::filesystem::file_type::not_found && type != std::filesystem::file_type::regular;
}

}  // namespace korvane
