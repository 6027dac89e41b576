// Text helpers shared by every reader of the system: line reading, the two comma-splitting rules,
// the number conversions the configuration and table files rely on, number formatting and paths.
// All of them are locale-free: the workbench runs with the user's locale, the files never do.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// Reads up to the next line feed; one trailing carriage return is dropped, so files written with
// CR LF line ends read like LF files. False at end of input with nothing read.
bool read_line(std::istream& in, std::string& line);

// Why a line read_line gave is not one line of text, or nullptr: a zero byte (the file was saved
// as UTF-16) or a carriage return inside it (line ends of a carriage return alone, which make the
// whole file one line). Readers that refuse such a file say this after the file and line.
const char* text_line_problem(std::string_view line);

// Removes a leading UTF-8 byte-order mark from a file's first line; true when there was one.
bool strip_utf8_bom(std::string& line);

// The pieces before the first comma and after each comma; a comma at the very end adds no empty
// piece, empty pieces between commas count. "" gives no pieces.
std::vector<std::string> split_commas(std::string_view line);

// The quoted-field rule of "hmdb.csv": split at every double quote and drop the pieces that are
// empty or exactly ",", so a quoted field may hold commas.
std::vector<std::string> split_quoted_fields(std::string_view line);

// Decimal text to double: leading blanks, optional sign, digits with an optional point and
// exponent; text after the number is ignored; no number gives 0. No hexadecimal floats and no
// "inf"/"nan" words. Overflow gives an infinity, as the C library does.
double parse_double(std::string_view text);

// Unsigned 32-bit with automatic base: leading blanks, optional sign, "0x"/"0X" hexadecimal,
// leading "0" octal, else decimal; text after the number ignored; no number gives 0. A "-" gives
// the two's-complement value ("-1" is 4294967295) and anything beyond 32 bits saturates to
// 4294967295.
std::uint32_t parse_uint32_auto(std::string_view text);

// Signed 32-bit decimal: leading blanks, optional sign, digits, text after them ignored.
// Throws std::invalid_argument when there are no digits and std::out_of_range beyond 32 bits.
std::int32_t parse_int32(std::string_view text);

// Truncated toward zero to 32 bits; values beyond the range saturate and NaN gives 0, where a
// plain cast would be undefined.
std::int32_t saturating_int32(double value);

// Whether text is one number of the conversion's form and nothing else but blanks around it:
// "12x", "abc", "", "-" and "08" (no octal digit 8) are not; "0x1F", "010" and "-1" are whole
// for the unsigned form, "1.5" is not whole for the signed one. The range is not checked.
bool is_whole_double(std::string_view text);
bool is_whole_uint32_auto(std::string_view text);
bool is_whole_int32(std::string_view text);

// Whether the number parse_uint32_auto reads stays within 32 bits, its sign aside, so that it
// does not saturate: "4294967295", "-1" and "-4294967295" (read as 1) do, "4294967296" and
// "-4294967296" do not. These are the texts a 32-bit strtoul takes without overflow.
bool fits_uint32_auto(std::string_view text);

// General notation with 6 significant digits, as printf's "%g" writes it in the C locale.
std::string format_g6(double value);

// folder + "/" + name; an empty folder means the current one, so the bare name comes back.
std::string path_join(std::string_view folder, std::string_view name);

// Whether something other than a regular file stands at path (a folder, FIFO, device or socket,
// or a symbolic link to one), found without opening it: opening a FIFO for reading waits for a
// writer that never comes, and a folder opens as a stream that fails only at its first read.
// Readers of input files refuse such a path with "(not a regular file)" after their own message.
// A path with nothing behind it is not one: the reader's own open says so.
bool is_not_regular_file(const std::string& path);

}  // namespace korvane
