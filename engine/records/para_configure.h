// The 31 processing parameters of a run and the file "config_para.csv" that holds them: one line
// per parameter, the key, a comma, the value.
#pragma once

#include <cstdint>
#include <map>
#include <string>

// Members start at zero, so a key missing from the file never leaves a value undefined. Each
// member's key is its name; its line in the file, its check and its box on the workbench's page
// are described in para_fields.h, in the order of the members here.
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

// Reads Path/Para_FileName into Para. Returns 0 when the file cannot be opened or read (Para
// unchanged) and 1 when it was read to the end. Keys may come in any order; unknown keys are ignored and a
// repeated key's later line wins. A known key without a value column throws std::out_of_range; a
// signed value without digits throws std::invalid_argument and one beyond 32 bits
// std::out_of_range. Members set by earlier lines keep their values when it throws.
int Read_Configured_ParafromCSVFile(std::string Path, std::string Para_FileName, Para_Configure& Para);

namespace korvane {
// The parameter file as a run needs it. Read_Configured_ParafromCSVFile takes whatever a file holds
// (the Parameter Setup tab shows it as it is); a run on such values would end as a success with
// wrong or no results, so this refuses, with a std::runtime_error naming the file, the line and
// the key:
// - a file that cannot be opened, is empty, holds zero bytes (UTF-16) or carriage returns inside
//   a line (CR-only line ends);
// - a key of the 31 without a line, or with no value;
// - a value that is not wholly a number of the key's type, blanks around it aside, or beyond 32
//   bits: a signed value outside -2147483648 to 2147483647, an unsigned one whose digits, sign
//   aside, pass 4294967295 (an unsigned key keeps the automatic base and the 32-bit pattern of a
//   negative number, as a 32-bit strtoul reads them, so 0x10, 010, -1 (4294967295) down to
//   -4294967295 (1) stay valid, while 4294967296 and -4294967296 do not); a real that is not
//   finite;
// - Para_PPM not above 0, Para_Min_PeakWidth above Para_Max_PeakWidth, Para_End_Scan below
//   Para_Start_Scan, a negative Para_Annotate_Mass_Tol, Para_Align_Mass_Tol, Para_Align_Window1
//   or Para_Align_Window2.
// Values with a meaning of their own stay valid: any polarity, any alignment mode, any cut-off
// (the cut-off stage reports its own). Returns what Read_Configured_ParafromCSVFile would read.
Para_Configure read_run_parameters(const std::string& folder, const std::string& file_name);

// The value text of each key's last line with a value in folder/file_name, split as
// Read_Configured_ParafromCSVFile splits it, for any key; empty when the file cannot be opened.
// The workbench's page shows a value the reader would take for 0 as the file has it.
std::map<std::string, std::string> read_para_value_texts(const std::string& folder, const std::string& file_name);
}  // namespace korvane

// Writes all 31 members to Path/FileName in member order, reals with 6 significant digits. The
// text goes to a temporary beside the file and is renamed over it once complete, so a write that
// fails (a full disk, a missing folder) leaves the earlier file whole and throws korvane::Error
// naming the file.
void OutputConfiguredPara2CSVFile(Para_Configure Para, std::string Path, std::string FileName);
