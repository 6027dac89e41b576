// The 31 processing parameters of a run and the file "config_para.csv" that holds them: one line
// per parameter, the key, a comma, the value.
#pragma once

#include <cstdint>
#include <string>

// The parameter table, in member order (which is also the order the writer writes the lines in).
// X(type, name): type is one of i32, u32, f64.
#define KORVANE_PARA_FIELDS(X)            \
    X(i32, Para_Profile_Centroid)         \
    X(i32, Para_Polarity)                 \
    X(i32, Para_Cutoff_Mode)              \
    X(f64, Para_Cutoff_Intensity)         \
    X(i32, Para_Cutoff_TopNumber)         \
    X(f64, Para_Cutoff_LowPercent)        \
    X(u32, Para_Start_Scan)               \
    X(u32, Para_End_Scan)                 \
    X(f64, Para_PPM)                      \
    X(u32, Para_Min_EIC)                  \
    X(u32, Para_Misscount_Allow)          \
    X(f64, Para_InterTrace_Dist_Min)      \
    X(u32, Para_Min_PeakWidth)            \
    X(u32, Para_Max_PeakWidth)            \
    X(u32, Para_Branch_Gap_Allow)         \
    X(u32, Para_Min_Branch_Length)        \
    X(u32, Para_Min_Span)                 \
    X(u32, Para_MarkerBranch_Dif_Th)      \
    X(f64, Para_PeakIntensity_Th)         \
    X(f64, Para_SNR_Th)                   \
    X(f64, Para_Peak_Significance_Th)     \
    X(f64, Para_TPASR_Th)                 \
    X(f64, Para_Zig_Zag_Index_Th)         \
    X(u32, Para_Group_Scan_Shift_Tol)     \
    X(f64, Para_Group_Shape_Angle_Th)     \
    X(f64, Para_Annotate_Mass_Tol)        \
    X(f64, Para_Refinement_Shape_Th)      \
    X(i32, Para_One_Two_Phase_Align)      \
    X(f64, Para_Align_Mass_Tol)           \
    X(f64, Para_Align_Window1)            \
    X(f64, Para_Align_Window2)

namespace korvane::para_types {
using i32 = std::int32_t;
using u32 = std::uint32_t;
using f64 = double;
}  // namespace korvane::para_types

// Members start at zero, so a key missing from the file never leaves a value undefined.
struct Para_Configure {
#define KORVANE_PARA_MEMBER(type, name) korvane::para_types::type name = 0;
    KORVANE_PARA_FIELDS(KORVANE_PARA_MEMBER)
#undef KORVANE_PARA_MEMBER
};

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
// - a value that is not wholly a number of the key's type, blanks around it aside (an unsigned
//   key keeps the automatic base and the 32-bit pattern of a negative number, so 0x10, 010 and -1
//   stay valid), a signed value beyond 32 bits, a real that is not finite;
// - Para_PPM not above 0, Para_Min_PeakWidth above Para_Max_PeakWidth, Para_End_Scan below
//   Para_Start_Scan, a negative Para_Annotate_Mass_Tol, Para_Align_Mass_Tol, Para_Align_Window1
//   or Para_Align_Window2.
// Values with a meaning of their own stay valid: any polarity, any alignment mode, any cut-off
// (the cut-off stage reports its own). Returns what Read_Configured_ParafromCSVFile would read.
Para_Configure read_run_parameters(const std::string& folder, const std::string& file_name);
}  // namespace korvane

// Writes all 31 members to Path/FileName in member order, reals with 6 significant digits. The
// text goes to a temporary beside the file and is renamed over it once complete, so a write that
// fails (a full disk, a missing folder) leaves the earlier file whole and throws korvane::Error
// naming the file.
void OutputConfiguredPara2CSVFile(Para_Configure Para, std::string Path, std::string FileName);
