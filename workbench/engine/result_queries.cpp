#include "workbench/engine/result_queries.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string_view>

#include "engine/records/text_util.h"
#include "sqlitewrap/cppsqlite3.h"

namespace {

// A real as the C library reads it from text: besides decimal numbers also the words "inf" and
// "nan" (any case, with an optional sign). SQLite gives an infinite real as the text "Inf", and a
// shape point that is not finite is stored as "inf" or "nan"; read as plain decimals they would
// come back as 0.
double text_to_double(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const auto word = [&](const char* w) {
        const std::size_t n = std::strlen(w);
        if (text.size() - i < n) return false;
        for (std::size_t k = 0; k < n; ++k)
            if (std::tolower(static_cast<unsigned char>(text[i + k])) != w[k]) return false;
        return true;
    };
    const double sign = negative ? -1.0 : 1.0;
    if (word("inf")) return sign * std::numeric_limits<double>::infinity();
    if (word("nan")) return std::copysign(std::numeric_limits<double>::quiet_NaN(), sign);
    return korvane::parse_double(text);
}

}  // namespace

namespace korvane::wb {

void decode_shape(const char* stored, std::vector<Data_Point>& points) {
    CppSQLite3Binary binary;
    binary.setEncoded(reinterpret_cast<const unsigned char*>(stored));
    const int n = binary.getBinaryLength();
    const char* bytes = reinterpret_cast<const char*>(binary.getBinary());
    // The shape text ends at its first zero byte, as a C string would.
    const std::string text(bytes, strnlen(bytes, static_cast<std::size_t>(n)));

    const std::vector<std::string> tokens = korvane::split_commas(text);
    const std::size_t count = tokens.size() / 4;
    for (std::size_t k = 0; k < count; ++k) {
        Data_Point p;
        p.intensity = text_to_double(tokens[4 * k]);
        p.mz = text_to_double(tokens[4 * k + 1]);
        p.retention_time = text_to_double(tokens[4 * k + 2]);
        p.scan_num = static_cast<std::uint32_t>(korvane::parse_int32(tokens[4 * k + 3]));
        points.push_back(p);
    }
}

}  // namespace korvane::wb

namespace {

// Column readers. A NULL column (the writer stores a real that is not a number as NULL) has no
// text at all: as a real it reads back as not-a-number, as an integer it has no leading integer.
std::int32_t int_column(const CppSQLite3Query& q, const char* name) {
    const char* text = q.fieldValue(name);
    return korvane::parse_int32(text ? std::string_view(text) : std::string_view());
}

std::uint32_t uint_column(const CppSQLite3Query& q, const char* name) {
    return static_cast<std::uint32_t>(int_column(q, name));
}

double real_column(const CppSQLite3Query& q, const char* name) {
    const char* text = q.fieldValue(name);
    return text ? text_to_double(text) : std::numeric_limits<double>::quiet_NaN();
}

std::string text_column(const CppSQLite3Query& q, const char* name) {
    const char* text = q.fieldValue(name);
    return text ? std::string(text) : std::string();
}

void shape_column(const CppSQLite3Query& q, const char* name, std::vector<Data_Point>& points) {
    const char* text = q.fieldValue(name);
    if (text) korvane::wb::decode_shape(text, points);
}

// Members 1 to 17 of both peak tables, shape first, then the columns in record order.
template <class Record>
void read_compound_columns(const CppSQLite3Query& q, Record& r) {
    shape_column(q, "Peak_shape", r.Peak_shape);
    r.EIC_ID = uint_column(q, "EIC_ID");
    r.Peak_ID = uint_column(q, "Peak_ID");
    r.Apex_MZ = real_column(q, "Apex_MZ");
    r.Apex_Pos = uint_column(q, "Apex_Pos");
    r.Apex_Retention_Time = real_column(q, "Apex_Retention_Time");
    r.Apex_Intensity = real_column(q, "Apex_Intensity");
    r.Peak_Area = real_column(q, "Peak_Area");
    r.Peak_SNR = real_column(q, "Peak_SNR");
    r.Left_Boundary = uint_column(q, "Left_Boundary");
    r.Right_Boundary = uint_column(q, "Right_Boundary");
    r.Group_ID = uint_column(q, "Group_ID");
    r.Adduct_Annotation = text_column(q, "Adduct_Annotation");
    r.Compound_ID = uint_column(q, "Compound_ID");
    r.Compound_MolecularMass = real_column(q, "Compound_MolecularMass");
    r.Compound_Retention_Time = real_column(q, "Compound_Retention_Time");
    r.Compound_Intensity = real_column(q, "Compound_Intensity");
}

void read_row(const CppSQLite3Query& q, Chromatogram_Peak_Group_Compound& r) { read_compound_columns(q, r); }

void read_row(const CppSQLite3Query& q, Chromatogram_Peak_Group_Compound_Align& r) {
    read_compound_columns(q, r);
    r.SAMPLE_ID = uint_column(q, "SAMPLE_ID");
    r.SAMPLE_NAME = text_column(q, "SAMPLE_NAME");
    r.Align_ID = uint_column(q, "Align_ID");
    r.Align_RT = real_column(q, "Align_RT");
}

// Opens Path/FileName when the file exists; false (and nothing opened) when it does not.
bool open_existing(CppSQLite3DB& db, const std::string& Path, const std::string& FileName) {
    const std::string path = korvane::path_join(Path, FileName);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return false;
    db.open(path.c_str());
    return true;
}

// Steps shared by the seven peak readers: open, check the table, run the formatted SELECT and
// append one record per row.
template <class Record, class... Keys>
void query_peaks(const std::string& Path, const std::string& FileName, const char* table, const char* sql,
                 std::vector<Record>& peaklist, Keys... keys) {
    CppSQLite3DB db;
    if (!open_existing(db, Path, FileName)) return;
    if (db.tableExists(table)) {
        CppSQLite3Buffer buffer;
        buffer.format(sql, keys...);
        CppSQLite3Query q = db.execQuery(buffer);
        while (!q.eof()) {
            Record r;
            read_row(q, r);
            peaklist.push_back(std::move(r));
            q.nextRow();
        }
        q.finalize();
    }
    db.close();
}

}  // namespace

void Query_extracted_eic_FromAnnoatedDataBase(std::string Path, std::string FileName, int EIC_ID, Mass_Trace& eic) {
    CppSQLite3DB db;
    if (!open_existing(db, Path, FileName)) return;
    if (db.tableExists("Mass_Tracelist")) {
        CppSQLite3Buffer buffer;
        buffer.format("select * from Mass_Tracelist where EIC_ID='%d';", EIC_ID);
        CppSQLite3Query q = db.execQuery(buffer);
        if (!q.eof()) {
            shape_column(q, "EIC_shape", eic.EIC_shape);
            eic.Cent_Mass = real_column(q, "Cent_Mass");
            eic.miss_count = int_column(q, "miss_count");
            eic.trace_length = int_column(q, "trace_length");
        }
        q.finalize();
    }
    db.close();
}

void Query_AlignedAnnotatedGroupedChromatographPeaklist_FromAlignDataBase(
    std::string Path, std::string FileName, int Align_ID, std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist) {
    query_peaks(Path, FileName, "Align_Peaklist", "select * from Align_Peaklist where Align_ID = '%d';", peaklist,
                Align_ID);
}

void Query_AnnotatedGroupedChromatographPeaklist_FromAlignDataBase(
    std::string Path, std::string FileName, int Sample_ID, int Compound_ID,
    std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist) {
    query_peaks(Path, FileName, "Align_Peaklist",
                "select * from Align_Peaklist where SAMPLE_ID = '%d' and Compound_ID='%d';", peaklist, Sample_ID,
                Compound_ID);
}

void Query_GroupedChromatographPeaklist_FromAlignDataBase(std::string Path, std::string FileName, int Sample_ID,
                                                          int Group_ID,
                                                          std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist) {
    query_peaks(Path, FileName, "Align_Peaklist",
                "select * from Align_Peaklist where SAMPLE_ID = '%d' and Group_ID='%d';", peaklist, Sample_ID,
                Group_ID);
}

void Query_ChromatographPeak_FromAlignDataBase(std::string Path, std::string FileName, int Sample_ID, int EIC_ID,
                                               int Peak_ID,
                                               std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist) {
    query_peaks(Path, FileName, "Align_Peaklist",
                "select * from Align_Peaklist where SAMPLE_ID = '%d' and EIC_ID='%d' and Peak_ID ='%d';", peaklist,
                Sample_ID, EIC_ID, Peak_ID);
}

void Query_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(
    std::string Path, std::string FileName, int Compound_ID, std::vector<Chromatogram_Peak_Group_Compound>& peaklist) {
    query_peaks(Path, FileName, "Annotate_Peaklist", "select * from Annotate_Peaklist where Compound_ID='%d';",
                peaklist, Compound_ID);
}

void Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(std::string Path, std::string FileName, int Group_ID,
                                                             std::vector<Chromatogram_Peak_Group_Compound>& peaklist) {
    query_peaks(Path, FileName, "Annotate_Peaklist", "select * from Annotate_Peaklist where Group_ID='%d';", peaklist,
                Group_ID);
}

void Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(std::string Path, std::string FileName, int EIC_ID,
                                                             int Peak_ID,
                                                             std::vector<Chromatogram_Peak_Group_Compound>& peaklist) {
    query_peaks(Path, FileName, "Annotate_Peaklist",
                "select * from Annotate_Peaklist where EIC_ID='%d' and Peak_ID ='%d';", peaklist, EIC_ID, Peak_ID);
}
