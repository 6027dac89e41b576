#include "engine/output/csv_output.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <utility>

#include "engine/records/error.h"
#include "engine/records/result_file.h"
#include "engine/records/text_util.h"

namespace {

constexpr std::string_view kPeakHeader =
    "EIC_ID,Peak_ID,Apex_MZ,Apex_Pos,Apex_Retention_Time,Apex_Intensity,Peak_Area,Peak_SNR,"
    "Left_Boundary,Right_boundary";
constexpr std::string_view kGroupHeader = ",Group_ID";
constexpr std::string_view kCompoundHeader =
    ",Adduct_Annotation,Compound_ID,Compound_MolecularMass,Compound_Retention_Time,"
    "Compound_Intensity";
constexpr std::string_view kAlignHeader = ",SAMPLE_ID,SAMPLE_NAME,Align_ID,Align_RT";

// Rows are gathered in memory and handed to stdio in large pieces; the buffer is reused.
constexpr std::size_t kFlushAt = 1 << 20;

// Rows go to a temporary beside the final file, which takes the final name once complete and
// closed. Any failure throws std::runtime_error naming the final file; the temporary goes with it.
class CsvFile {
public:
    explicit CsvFile(const std::string& path) : result_(path) {
        if (const std::string why = korvane::make_way_for_result(path); !why.empty()) fail("created", why);
        // Binary mode: the line end is "\n" on every platform.
        file_ = std::fopen(result_.temporary_path().c_str(), "wb");
        if (!file_) fail("created", std::strerror(errno));
        buffer_.reserve(kFlushAt + 4096);
    }
    CsvFile(const CsvFile&) = delete;
    CsvFile& operator=(const CsvFile&) = delete;

    // Only when an error is on its way out; the guard then removes the temporary.
    ~CsvFile() {
        if (file_) std::fclose(file_);
    }

    // A full disk may show up only here, when stdio hands over its last block.
    void finish() {
        flush();
        if (std::fclose(std::exchange(file_, nullptr)) != 0) fail("written", std::strerror(errno));
        if (const std::error_code ec = result_.commit()) fail("written", ec.message());
    }

    void text(std::string_view s) { buffer_.append(s); }
    void comma() { buffer_.push_back(','); }
    void end_line() {
        buffer_.push_back('\n');
        if (buffer_.size() >= kFlushAt) flush();
    }

    void unsigned_value(std::uint32_t v) {
        char digits[16];
        const auto r = std::to_chars(digits, digits + sizeof digits, v);
        buffer_.append(digits, r.ptr);
    }

    // "%g" of the C locale: what a fresh output stream writes by default.
    void real(double v) {
        char digits[64];
        const auto r = std::to_chars(digits, digits + sizeof digits, v, std::chars_format::general, 6);
        buffer_.append(digits, r.ptr);
    }

    // A field that would otherwise split the row or the line is quoted, its quotes doubled.
    void field(std::string_view s) {
        if (s.find_first_of(",\"\r\n") == std::string_view::npos) {
            buffer_.append(s);
            return;
        }
        buffer_.push_back('"');
        for (char c : s) {
            if (c == '"') buffer_.push_back('"');
            buffer_.push_back(c);
        }
        buffer_.push_back('"');
    }

private:
    void flush() {
        if (buffer_.empty()) return;
        if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) fail("written", std::strerror(errno));
        buffer_.clear();
    }

    [[noreturn]] void fail(const char* done, const std::string& why) const {
        throw korvane::Error("CSV file could not be " + std::string(done) + ": " + result_.final_path() + " (" +
                                 why + ")");
    }

    korvane::ResultFile result_;
    std::FILE* file_ = nullptr;
    std::string buffer_;
};

template <class Row>
void write_row(CsvFile& out, const Row& r) {
    out.unsigned_value(r.EIC_ID);
    out.comma();
    out.unsigned_value(r.Peak_ID);
    out.comma();
    out.real(r.Apex_MZ);
    out.comma();
    out.unsigned_value(r.Apex_Pos);
    out.comma();
    out.real(r.Apex_Retention_Time);
    out.comma();
    out.real(r.Apex_Intensity);
    out.comma();
    out.real(r.Peak_Area);
    out.comma();
    out.real(r.Peak_SNR);
    out.comma();
    out.unsigned_value(r.Left_Boundary);
    out.comma();
    out.unsigned_value(r.Right_Boundary);
    if constexpr (requires { r.Group_ID; }) {
        out.comma();
        out.unsigned_value(r.Group_ID);
    }
    if constexpr (requires { r.Compound_ID; }) {
        out.comma();
        out.field(r.Adduct_Annotation);
        out.comma();
        out.unsigned_value(r.Compound_ID);
        out.comma();
        out.real(r.Compound_MolecularMass);
        out.comma();
        out.real(r.Compound_Retention_Time);
        out.comma();
        out.real(r.Compound_Intensity);
    }
    if constexpr (requires { r.SAMPLE_ID; }) {
        out.comma();
        out.unsigned_value(r.SAMPLE_ID);
        out.comma();
        out.field(r.SAMPLE_NAME);
        out.comma();
        out.unsigned_value(r.Align_ID);
        out.comma();
        out.real(r.Align_RT);
    }
    out.end_line();
}

template <class Row>
void write_list(const std::vector<Row>& rows, const std::string& path, const std::string& file_name) {
    CsvFile out(korvane::path_join(path, file_name));
    out.text(kPeakHeader);
    if constexpr (requires(const Row& r) { r.Group_ID; }) out.text(kGroupHeader);
    if constexpr (requires(const Row& r) { r.Compound_ID; }) out.text(kCompoundHeader);
    if constexpr (requires(const Row& r) { r.SAMPLE_ID; }) out.text(kAlignHeader);
    out.end_line();
    for (const Row& r : rows) write_row(out, r);
    out.finish();
}

}  // namespace

void OutputChromatographPeaklist2CSVFile(std::vector<Chromatogram_Peak> Chromatograph_Peak_list,
                                         std::string Path, std::string FileName) {
    write_list(Chromatograph_Peak_list, Path, FileName);
}

void OutputGroupedChromatographPeaklist2CSVFile(
    std::vector<Chromatogram_Peak_Group> Grouped_Chromatograph_Peak_list, std::string Path,
    std::string FileName) {
    write_list(Grouped_Chromatograph_Peak_list, Path, FileName);
}

void OutputAnnotatedGroupedChromatographPeaklist2CSVFile(
    std::vector<Chromatogram_Peak_Group_Compound> peaklist_adduct_annotated, std::string Path,
    std::string FileName) {
    write_list(peaklist_adduct_annotated, Path, FileName);
}

void OutputAlignedAnnotatedGroupedChromatographPeaklist2CSVFile(
    std::vector<Chromatogram_Peak_Group_Compound_Align> peaklist_aligned, std::string Path,
    std::string FileName) {
    write_list(peaklist_aligned, Path, FileName);
}
