// The 31 processing parameters of a run, the one table that describes them, and the file
// "config_para.csv" that holds them: one line per parameter, the key, a comma, the value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <variant>

// Members start at zero, so a key missing from the file never leaves a value undefined. Each
// member's key is its name; kParaFields below describes them in this order.
struct Para_Configure {
    std::int32_t Para_Profile_Centroid = 0;
    std::int32_t Para_Polarity = 0;
    std::int32_t Para_Cutoff_Mode = 0;
    double Para_Cutoff_Intensity = 0;
    std::int32_t Para_Cutoff_TopNumber = 0;
    double Para_Cutoff_LowPercent = 0;
    std::uint32_t Para_Start_Scan = 0;
    std::uint32_t Para_End_Scan = 0;
    double Para_PPM = 0;
    std::uint32_t Para_Min_EIC = 0;
    std::uint32_t Para_Misscount_Allow = 0;
    double Para_InterTrace_Dist_Min = 0;
    std::uint32_t Para_Min_PeakWidth = 0;
    std::uint32_t Para_Max_PeakWidth = 0;
    std::uint32_t Para_Branch_Gap_Allow = 0;
    std::uint32_t Para_Min_Branch_Length = 0;
    std::uint32_t Para_Min_Span = 0;
    std::uint32_t Para_MarkerBranch_Dif_Th = 0;
    double Para_PeakIntensity_Th = 0;
    double Para_SNR_Th = 0;
    double Para_Peak_Significance_Th = 0;
    double Para_TPASR_Th = 0;
    double Para_Zig_Zag_Index_Th = 0;
    std::uint32_t Para_Group_Scan_Shift_Tol = 0;
    double Para_Group_Shape_Angle_Th = 0;
    double Para_Annotate_Mass_Tol = 0;
    double Para_Refinement_Shape_Th = 0;
    std::int32_t Para_One_Two_Phase_Align = 0;
    double Para_Align_Mass_Tol = 0;
    double Para_Align_Window1 = 0;
    double Para_Align_Window2 = 0;
};

// The 31 parameters described once: each one's key in the file, its member (whose type is the
// key's type), what a run requires of its value, and the box that shows it on the workbench's
// "Parameter Setup" page. The plain reader, the run's checker, the writer and the page all go by
// this table, so a new check or label is made here alone.
namespace korvane {

// The member a key is read into; its type is the key's: signed 32-bit, unsigned 32-bit or real.
using Para_Member =
    std::variant<std::int32_t Para_Configure::*, std::uint32_t Para_Configure::*, double Para_Configure::*>;

// What a run requires of a value beyond its type; read_run_parameters refuses the file otherwise.
enum class Para_Rule {
    any,
    above_zero,    // "<value> is not above 0"
    not_negative,  // "<value> is negative"
    not_above,     // "<value> is above <other> <its value> (line <its line>)"
    not_below,     // "<value> is below <other> <its value> (line <its line>)"
};

// The group of the page a box stands in; none for the four parameters set by radio buttons.
enum class Para_Group { none = -1, mass_trace, peak_detection, peak_filtering, grouping, alignment };

// A parameter's box on the page: an integer field takes a whole number from -32768 to 32767, a
// real one a decimal.
struct Para_Box {
    Para_Group group = Para_Group::none;
    const char* label = nullptr;  // left of the box; for the three cut-off boxes, their radio button
    const char* unit = "";        // right of the box
    const char* name = nullptr;   // the box's object name
    int row = 0;                  // its row in the group on screen, from the top
    int apply = 0;                // its place in the order "Apply" converts and the page fills the boxes
};

struct Para_Field {
    const char* key;
    Para_Member member;
    Para_Rule rule = Para_Rule::any;
    const char* other = nullptr;  // the key that not_above and not_below compare with
    Para_Box box = {};
};

#define KORVANE_PARA(name) #name, &Para_Configure::name

// In member order, which is the order of the file's lines. "Apply" converts the alignment boxes
// as Window2, Window1, Mass Tol, while the page shows them as Window1, Window2, Mass Tol.
inline constexpr Para_Field kParaFields[] = {
    {KORVANE_PARA(Para_Profile_Centroid)},
    {KORVANE_PARA(Para_Polarity)},
    {KORVANE_PARA(Para_Cutoff_Mode)},
    {KORVANE_PARA(Para_Cutoff_Intensity), Para_Rule::any, nullptr,
     {Para_Group::mass_trace, "Cutoff Intensity", "", "m_Para_Config_Cutoff_Intensity", 0, 0}},
    {KORVANE_PARA(Para_Cutoff_TopNumber), Para_Rule::any, nullptr,
     {Para_Group::mass_trace, "Cutoff Top Number", "", "m_Para_Config_Cutoff_TopNum", 1, 1}},
    {KORVANE_PARA(Para_Cutoff_LowPercent), Para_Rule::any, nullptr,
     {Para_Group::mass_trace, "Cutoff Low Percent", "", "m_Para_Config_Cutoff_Low_Percent", 2, 2}},
    {KORVANE_PARA(Para_Start_Scan), Para_Rule::any, nullptr,
     {Para_Group::mass_trace, "Start Scan", "", "m_Para_Config_StartScan", 3, 3}},
    {KORVANE_PARA(Para_End_Scan), Para_Rule::not_below, "Para_Start_Scan",
     {Para_Group::mass_trace, "End Scan", "", "m_Para_Config_EndScan", 4, 4}},
    {KORVANE_PARA(Para_PPM), Para_Rule::above_zero, nullptr,
     {Para_Group::mass_trace, "Trace PPM", "", "m_Para_Config_TracePPM", 5, 5}},
    {KORVANE_PARA(Para_Min_EIC), Para_Rule::any, nullptr,
     {Para_Group::mass_trace, "Min Trace Length", "", "m_Para_Config_Min_TraceLength", 6, 6}},
    {KORVANE_PARA(Para_Misscount_Allow), Para_Rule::any, nullptr,
     {Para_Group::mass_trace, "Miss Allow Th", "", "m_Para_Config_MissAllow_Th", 7, 7}},
    {KORVANE_PARA(Para_InterTrace_Dist_Min), Para_Rule::any, nullptr,
     {Para_Group::mass_trace, "Inter Trace Distance Th", "(Da)", "m_Para_Config_InterTrace_Distance_Th", 8, 8}},
    {KORVANE_PARA(Para_Min_PeakWidth), Para_Rule::not_above, "Para_Max_PeakWidth",
     {Para_Group::peak_detection, "Min Peak Width", "", "m_Para_Config_Min_PeakWidth", 0, 9}},
    {KORVANE_PARA(Para_Max_PeakWidth), Para_Rule::any, nullptr,
     {Para_Group::peak_detection, "Max Peak Width", "", "m_Para_Config_Max_PeakWidth", 1, 10}},
    {KORVANE_PARA(Para_Branch_Gap_Allow), Para_Rule::any, nullptr,
     {Para_Group::peak_detection, "Branch Gap Allow", "", "m_Para_Config_BranchGap_Allow", 2, 11}},
    {KORVANE_PARA(Para_Min_Branch_Length), Para_Rule::any, nullptr,
     {Para_Group::peak_detection, "Min Branch Length", "", "m_Para_Config_Min_Branch_Length", 3, 12}},
    {KORVANE_PARA(Para_Min_Span), Para_Rule::any, nullptr,
     {Para_Group::peak_detection, "Min Search Span", "", "m_Para_Config_Min_Search_Span", 4, 13}},
    {KORVANE_PARA(Para_MarkerBranch_Dif_Th), Para_Rule::any, nullptr,
     {Para_Group::peak_detection, "Marker Branch Dif Th", "", "m_Para_Config_Marker_Branch_Dif_Th", 5, 14}},
    {KORVANE_PARA(Para_PeakIntensity_Th), Para_Rule::any, nullptr,
     {Para_Group::peak_filtering, "Peak Intensity Th", "", "m_Para_Config_Peak_Intensity_Th", 0, 15}},
    {KORVANE_PARA(Para_SNR_Th), Para_Rule::any, nullptr,
     {Para_Group::peak_filtering, "SNR Th", "", "m_Para_Config_SNR_Th", 1, 16}},
    {KORVANE_PARA(Para_Peak_Significance_Th), Para_Rule::any, nullptr,
     {Para_Group::peak_filtering, "Peak Significance Th", "", "m_Para_Config_Peak_Significance_Th", 2, 17}},
    {KORVANE_PARA(Para_TPASR_Th), Para_Rule::any, nullptr,
     {Para_Group::peak_filtering, "TPASR Th", "", "m_Para_Config_TPASR_Th", 3, 18}},
    {KORVANE_PARA(Para_Zig_Zag_Index_Th), Para_Rule::any, nullptr,
     {Para_Group::peak_filtering, "Zig Zag Index Th", "", "m_Para_Config_Zig_Zag_Index_Th", 4, 19}},
    {KORVANE_PARA(Para_Group_Scan_Shift_Tol), Para_Rule::any, nullptr,
     {Para_Group::grouping, "Group Scan Shift Tol", "(Scan)", "m_Para_Config_GroupScan_Shift_Tol", 0, 20}},
    {KORVANE_PARA(Para_Group_Shape_Angle_Th), Para_Rule::any, nullptr,
     {Para_Group::grouping, "Group Shape Angle Tol", "(Degree)", "m_Para_Config_GroupShape_Angle_Tol", 1, 21}},
    {KORVANE_PARA(Para_Annotate_Mass_Tol), Para_Rule::not_negative, nullptr,
     {Para_Group::grouping, "Annotate Mass Tol", "(Da)", "m_Para_Config_AnnotateMass_Tol", 2, 22}},
    {KORVANE_PARA(Para_Refinement_Shape_Th), Para_Rule::any, nullptr,
     {Para_Group::grouping, "Refinement Shape Tol", "(Degree)", "m_Para_Config_Refinement_Shape_Angle_Tol", 3, 23}},
    {KORVANE_PARA(Para_One_Two_Phase_Align)},
    {KORVANE_PARA(Para_Align_Mass_Tol), Para_Rule::not_negative, nullptr,
     {Para_Group::alignment, "Align Mass Tol:", "(Da)", "m_Para_Config_AlignMass_Tol", 2, 26}},
    {KORVANE_PARA(Para_Align_Window1), Para_Rule::not_negative, nullptr,
     {Para_Group::alignment, "Align Window1:", "(Seconds)", "m_Para_Config_AlignWindow1", 0, 25}},
    {KORVANE_PARA(Para_Align_Window2), Para_Rule::not_negative, nullptr,
     {Para_Group::alignment, "Align Window2:", "(Seconds)", "m_Para_Config_AlignWindwo2", 1, 24}},
};

#undef KORVANE_PARA

// The field of a key (byte for byte), or nullptr when the key names none.
constexpr const Para_Field* para_field(std::string_view key) {
    for (const Para_Field& f : kParaFields)
        if (key == f.key) return &f;
    return nullptr;
}

// How many parameters have a box on the page.
inline constexpr std::size_t kParaBoxCount = [] {
    std::size_t n = 0;
    for (const Para_Field& f : kParaFields) n += f.box.group != Para_Group::none;
    return n;
}();

// Why a value text is not one that read_run_parameters takes for the field (the words it puts
// after the value), or nullptr: not wholly a number of the field's type, blanks around it aside;
// beyond 32 bits; a real that is not finite. The field's rule is not applied here.
const char* para_value_problem(const Para_Field& field, std::string_view text);

namespace para_detail {

// How many members an aggregate of scalars has: the most initializers it accepts.
struct Any_Value {
    template <class T>
    constexpr operator T() const {
        return T{};
    }
};
template <class T, class... Values>
constexpr std::size_t member_count() {
    if constexpr (requires { T{Values{}..., Any_Value{}}; })
        return member_count<T, Values..., Any_Value>();
    else
        return sizeof...(Values);
}

// How many rows carry key (byte for byte). By index, not by address: the sanitizer build cannot
// compare addresses of the table's rows at compile time.
constexpr std::size_t rows_with_key(std::string_view key) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < std::size(kParaFields); ++i) n += key == kParaFields[i].key;
    return n;
}

// A slip in the table fails the build, not a file or the page: a row for every member, each key
// once, every compared key there, the boxes' rows and places in "Apply" without gap or repeat.
constexpr bool consistent() {
    if (member_count<Para_Configure>() != std::size(kParaFields)) return false;
    for (std::size_t i = 0; i < std::size(kParaFields); ++i) {
        const Para_Rule rule = kParaFields[i].rule;
        const char* const other = kParaFields[i].other;
        const Para_Box box = kParaFields[i].box;
        const bool compares = rule == Para_Rule::not_above || rule == Para_Rule::not_below;
        if (rows_with_key(kParaFields[i].key) != 1) return false;
        if (compares != (other != nullptr && rows_with_key(other) == 1)) return false;
        if (box.group == Para_Group::none) continue;
        int in_group = 0, same_row = 0, same_place = 0;
        for (std::size_t j = 0; j < std::size(kParaFields); ++j) {
            const Para_Box b = kParaFields[j].box;
            if (b.group == Para_Group::none) continue;
            same_place += b.apply == box.apply;
            in_group += b.group == box.group;
            same_row += b.group == box.group && b.row == box.row;
        }
        if (same_place != 1 || same_row != 1 || box.row < 0 || box.row >= in_group || box.apply < 0 ||
            box.apply >= static_cast<int>(kParaBoxCount))
            return false;
    }
    return true;
}

}  // namespace para_detail

static_assert(para_detail::consistent(), "kParaFields does not describe Para_Configure and the page");

}  // namespace korvane

// Reads Path/Para_FileName into Para. Returns 0 when the file cannot be opened or read (Para
// unchanged; what is no regular file is not opened) and 1 when it was read to the end. Keys may
// come in any order; unknown keys are ignored and a repeated key's later line wins. A known key
// without a value column throws std::out_of_range; a signed value without digits throws
// std::invalid_argument and one beyond 32 bits std::out_of_range. Members set by earlier lines
// keep their values when it throws.
int Read_Configured_ParafromCSVFile(std::string Path, std::string Para_FileName, Para_Configure& Para);

namespace korvane {
// The parameter file as a run needs it. Read_Configured_ParafromCSVFile takes whatever a file holds
// (the Parameter Setup tab shows it as it is); a run on such values would end as a success with
// wrong or no results, so this refuses, with a std::runtime_error naming the file, the line and
// the key:
// - a file that cannot be opened or is no regular file (never opened: a FIFO would block), is
//   empty, holds zero bytes (UTF-16) or carriage returns inside a line (CR-only line ends);
// - a key of the 31 without a line, or with no value;
// - a value that is not wholly a number of the key's type, blanks around it aside, or beyond 32
//   bits: a signed value outside -2147483648 to 2147483647, an unsigned one whose digits, sign
//   aside, pass 4294967295 (an unsigned key keeps the automatic base and the 32-bit pattern of a
//   negative number, as a 32-bit strtoul reads them, so 0x10, 010, -1 (4294967295) down to
//   -4294967295 (1) stay valid, while 4294967296 and -4294967296 do not); a real that is not
//   finite;
// - a value against its rule in kParaFields, in member order: Para_End_Scan below
//   Para_Start_Scan, Para_PPM not above 0, Para_Min_PeakWidth above Para_Max_PeakWidth, a negative
//   Para_Annotate_Mass_Tol, Para_Align_Mass_Tol, Para_Align_Window1 or Para_Align_Window2.
// Values with a meaning of their own stay valid: any polarity, any alignment mode, any cut-off
// (the cut-off stage reports its own). Returns what Read_Configured_ParafromCSVFile would read.
Para_Configure read_run_parameters(const std::string& folder, const std::string& file_name);

// The value text of each key's last line with a value in folder/file_name, split as
// Read_Configured_ParafromCSVFile splits it, for any key; empty when the file cannot be opened
// or is no regular file (a FIFO would block the window).
// The workbench's page shows a value the reader would take for 0 as the file has it.
std::map<std::string, std::string> read_para_value_texts(const std::string& folder, const std::string& file_name);
}  // namespace korvane

// Writes all 31 members to Path/FileName in member order, reals with 6 significant digits. The
// text goes to a temporary beside the file and is renamed over it once complete, so a write that
// fails (a full disk, a missing folder) leaves the earlier file whole and throws korvane::Error
// naming the file.
void OutputConfiguredPara2CSVFile(Para_Configure Para, std::string Path, std::string FileName);
