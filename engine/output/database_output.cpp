#include "engine/output/database_output.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <system_error>

#include "engine/records/text_util.h"
#include "sqlitewrap/cppsqlite3.h"

namespace {

// The schema is read back by the workbench and by other tools; it is kept character for character,
// odd spacing included.
constexpr const char* kCreateAnnotate =
    "create table Annotate_Peaklist(EIC_ID int,Peak_ID int, Apex_MZ double, Apex_Pos int, "
    "Apex_Retention_Time double, Apex_Intensity double, Peak_Area double, Peak_SNR double, "
    "Left_Boundary int, Right_Boundary int, Group_ID int, Adduct_Annotation char(80), Compound_ID int, "
    "Compound_MolecularMass double, Compound_Retention_Time double, Compound_Intensity double, "
    "Peak_shape blob);";
constexpr const char* kAnnotateIndexes[] = {
    "CREATE INDEX if not exists Annotate_Peaklist_EIC_ID_index ON Annotate_Peaklist(EIC_ID);",
    "CREATE INDEX if not exists Annotate_Peaklist_Peak_ID_index ON Annotate_Peaklist(Peak_ID);",
    "CREATE INDEX if not exists Annotate_Peaklist_Group_ID_index ON Annotate_Peaklist(Group_ID);",
    "CREATE INDEX if not exists Annotate_Peaklist_Compound_ID_index ON Annotate_Peaklist(Compound_ID);",
};
constexpr const char* kInsertAnnotate =
    "insert into Annotate_Peaklist values(%d, %d, %f, %d, %f, %f, %f, %f, %d, %d, %d, '%q', %d, %f, "
    "%f, %f, %Q);";
// The same row with every real given as ready text, for rows holding a value that is not finite.
constexpr const char* kInsertAnnotateText =
    "insert into Annotate_Peaklist values(%d, %d, %s, %d, %s, %s, %s, %s, %d, %d, %d, '%q', %d, %s, "
    "%s, %s, %Q);";

constexpr const char* kCreateTrace =
    "create table Mass_Tracelist(EIC_ID int, Cent_Mass double,trace_length int, miss_count int, "
    "EIC_shape blob);";
constexpr const char* kTraceIndex =
    "CREATE INDEX if not exists Mass_Tracelist_EIC_ID_index ON Mass_Tracelist(EIC_ID);";
constexpr const char* kInsertTrace = "insert into Mass_Tracelist values(%d, %f, %d, %d, %Q);";
constexpr const char* kInsertTraceText = "insert into Mass_Tracelist values(%d, %s, %d, %d, %Q);";

constexpr const char* kCreateAlign =
    "create table Align_Peaklist(EIC_ID int,Peak_ID int, Apex_MZ double, Apex_Pos int, "
    "Apex_Retention_Time double, Apex_Intensity double, Peak_Area double, Peak_SNR double, "
    "Left_Boundary int, Right_Boundary int, Group_ID int, Adduct_Annotation char(80), Compound_ID int, "
    "Compound_MolecularMass double, Compound_Retention_Time double, Compound_Intensity double, "
    "SAMPLE_ID int, SAMPLE_NAME char(256), Align_ID int, Align_RT double, Peak_shape blob);";
constexpr const char* kAlignIndexes[] = {
    "CREATE INDEX if not exists Align_Peaklist_EIC_ID_index ON Align_Peaklist(EIC_ID);",
    "CREATE INDEX if not exists Align_Peaklist_Peak_ID_index ON Align_Peaklist(Peak_ID);",
    "CREATE INDEX if not exists Align_Peaklist_Group_ID_index ON Align_Peaklist(Group_ID);",
    "CREATE INDEX if not exists Align_Peaklist_Compound_ID_index ON Align_Peaklist(Compound_ID);",
    "CREATE INDEX if not exists Align_Peaklist_SAMPLE_ID_index ON Align_Peaklist(SAMPLE_ID);",
    "CREATE INDEX if not exists Align_Peaklist_Align_ID_index ON Align_Peaklist(Align_ID);",
};
constexpr const char* kInsertAlign =
    "insert into Align_Peaklist values(%d, %d, %f, %d, %f, %f, %f, %f, %d, %d, %d, '%q', %d, %f, %f, "
    "%f, %d, '%q', %d, %f, %Q);";
constexpr const char* kInsertAlignText =
    "insert into Align_Peaklist values(%d, %d, %s, %d, %s, %s, %s, %s, %d, %d, %d, '%q', %d, %s, %s, "
    "%s, %d, '%q', %d, %s, %Q);";

constexpr const char* kBegin = "begin transaction;";
constexpr const char* kCommit = "commit transaction;";

// Integer columns hold the unsigned members' bits as signed decimal.
int as_int(std::uint32_t v) { return static_cast<int>(v); }

// SQLite's "%f" writes a non-finite real as a word that is no SQL value; such rows are formatted
// from ready texts instead, each finite real still through SQLite's "%f".
class RealTexts {
public:
    const char* operator()(std::size_t column, double v) {
        if (std::isnan(v)) return "NULL";
        if (std::isinf(v)) return v > 0 ? "1e999" : "-1e999";
        return buffers_[column].format("%f", v);
    }

private:
    CppSQLite3Buffer buffers_[9];  // one per real column of the widest row
};

template <class... Reals>
bool all_finite(Reals... v) {
    return (std::isfinite(v) && ...);
}

// Builds the encoded shape text of one point vector. Both buffers are kept between calls, so the
// writer's extra memory follows the longest shape, not the total.
class ShapeEncoder {
public:
    const char* encode(const std::vector<Data_Point>& shape) {
        text_.clear();
        for (std::size_t i = 0; i < shape.size(); ++i) {
            if (i) text_.push_back(',');
            const Data_Point& p = shape[i];
            append_fixed6(p.intensity);
            text_.push_back(',');
            append_fixed6(p.mz);
            text_.push_back(',');
            append_fixed6(p.retention_time);
            text_.push_back(',');
            char digits[16];
            const auto r = std::to_chars(digits, digits + sizeof digits, p.scan_num);
            text_.append(digits, r.ptr);
        }
        // The codec counts in int and sizes its output as 257 * n / 254 + 3.
        if (text_.size() > static_cast<std::size_t>(INT_MAX / 257))
            throw CppSQLite3Exception(SQLITE_TOOBIG, "Shape text too long to encode");
        const std::size_t need = (257 * text_.size()) / 254 + 3;
        if (need > capacity_) {
            encoded_ = std::make_unique_for_overwrite<unsigned char[]>(need);
            capacity_ = need;
        }
        sqlite3_encode_binary(reinterpret_cast<const unsigned char*>(text_.data()),
                              static_cast<int>(text_.size()), encoded_.get());
        return reinterpret_cast<const char*>(encoded_.get());
    }

private:
    // The text of printf's "%.6f" (C locale): fixed notation, exactly 6 decimals, no exponent.
    void append_fixed6(double v) {
        char digits[400];  // DBL_MAX has 309 integer digits
        const auto r = std::to_chars(digits, digits + sizeof digits, v, std::chars_format::fixed, 6);
        text_.append(digits, r.ptr);
    }

    std::string text_;
    std::unique_ptr<unsigned char[]> encoded_;
    std::size_t capacity_ = 0;
};

// A stale file left in place would be opened as it is: its tables exist, nothing new would be
// written and the caller would take the old results for this run's.
void remove_earlier_file(const std::string& full_path) {
    std::error_code ec;
    std::filesystem::remove(full_path, ec);
    if (ec) {
        const std::string text = "Unable to remove earlier database file " + full_path + ": " + ec.message();
        throw CppSQLite3Exception(CPPSQLITE_ERROR, text.c_str());
    }
}

template <std::size_t N>
void create_table(CppSQLite3DB& db, const char* create, const char* const (&indexes)[N]) {
    db.execDML(create);
    for (const char* index : indexes) db.execDML(index);
}

void insert_row(CppSQLite3DB& db, CppSQLite3Buffer& sql, RealTexts& texts, const char* shape,
                const Chromatogram_Peak_Group_Compound& r) {
    if (all_finite(r.Apex_MZ, r.Apex_Retention_Time, r.Apex_Intensity, r.Peak_Area, r.Peak_SNR,
                   r.Compound_MolecularMass, r.Compound_Retention_Time, r.Compound_Intensity)) {
        sql.format(kInsertAnnotate, as_int(r.EIC_ID), as_int(r.Peak_ID), r.Apex_MZ, as_int(r.Apex_Pos),
                   r.Apex_Retention_Time, r.Apex_Intensity, r.Peak_Area, r.Peak_SNR,
                   as_int(r.Left_Boundary), as_int(r.Right_Boundary), as_int(r.Group_ID),
                   r.Adduct_Annotation.c_str(), as_int(r.Compound_ID), r.Compound_MolecularMass,
                   r.Compound_Retention_Time, r.Compound_Intensity, shape);
    } else {
        sql.format(kInsertAnnotateText, as_int(r.EIC_ID), as_int(r.Peak_ID), texts(0, r.Apex_MZ),
                   as_int(r.Apex_Pos), texts(1, r.Apex_Retention_Time), texts(2, r.Apex_Intensity),
                   texts(3, r.Peak_Area), texts(4, r.Peak_SNR), as_int(r.Left_Boundary),
                   as_int(r.Right_Boundary), as_int(r.Group_ID), r.Adduct_Annotation.c_str(),
                   as_int(r.Compound_ID), texts(5, r.Compound_MolecularMass),
                   texts(6, r.Compound_Retention_Time), texts(7, r.Compound_Intensity), shape);
    }
    db.execDML(sql);
}

void insert_row(CppSQLite3DB& db, CppSQLite3Buffer& sql, RealTexts& texts, const char* shape,
                const Chromatogram_Peak_Group_Compound_Align& r) {
    if (all_finite(r.Apex_MZ, r.Apex_Retention_Time, r.Apex_Intensity, r.Peak_Area, r.Peak_SNR,
                   r.Compound_MolecularMass, r.Compound_Retention_Time, r.Compound_Intensity, r.Align_RT)) {
        sql.format(kInsertAlign, as_int(r.EIC_ID), as_int(r.Peak_ID), r.Apex_MZ, as_int(r.Apex_Pos),
                   r.Apex_Retention_Time, r.Apex_Intensity, r.Peak_Area, r.Peak_SNR,
                   as_int(r.Left_Boundary), as_int(r.Right_Boundary), as_int(r.Group_ID),
                   r.Adduct_Annotation.c_str(), as_int(r.Compound_ID), r.Compound_MolecularMass,
                   r.Compound_Retention_Time, r.Compound_Intensity, as_int(r.SAMPLE_ID),
                   r.SAMPLE_NAME.c_str(), as_int(r.Align_ID), r.Align_RT, shape);
    } else {
        sql.format(kInsertAlignText, as_int(r.EIC_ID), as_int(r.Peak_ID), texts(0, r.Apex_MZ),
                   as_int(r.Apex_Pos), texts(1, r.Apex_Retention_Time), texts(2, r.Apex_Intensity),
                   texts(3, r.Peak_Area), texts(4, r.Peak_SNR), as_int(r.Left_Boundary),
                   as_int(r.Right_Boundary), as_int(r.Group_ID), r.Adduct_Annotation.c_str(),
                   as_int(r.Compound_ID), texts(5, r.Compound_MolecularMass),
                   texts(6, r.Compound_Retention_Time), texts(7, r.Compound_Intensity),
                   as_int(r.SAMPLE_ID), r.SAMPLE_NAME.c_str(), as_int(r.Align_ID), texts(8, r.Align_RT), shape);
    }
    db.execDML(sql);
}

template <class Row>
void write_peak_rows(CppSQLite3DB& db, const std::vector<Row>& rows) {
    ShapeEncoder encoder;
    CppSQLite3Buffer sql;
    RealTexts texts;
    db.execDML(kBegin);
    for (const Row& r : rows) {
        insert_row(db, sql, texts, encoder.encode(r.Peak_shape), r);
        sql.clear();
    }
    db.execDML(kCommit);
}

}  // namespace

void OutputAnnotatedGroupedChromatographPeaklist2database(
    std::vector<Chromatogram_Peak_Group_Compound> peaklist_adduct_annotated,
    std::list<Mass_Trace> mass_trace_list, std::string Path, std::string FileName) {
    const std::string full_path = korvane::path_join(Path, FileName);
    remove_earlier_file(full_path);

    CppSQLite3DB db;
    db.open(full_path.c_str());

    if (!db.tableExists("Annotate_Peaklist")) {
        create_table(db, kCreateAnnotate, kAnnotateIndexes);
        write_peak_rows(db, peaklist_adduct_annotated);
    }

    if (!db.tableExists("Mass_Tracelist")) {
        const char* const trace_index[] = {kTraceIndex};
        create_table(db, kCreateTrace, trace_index);
        ShapeEncoder encoder;
        CppSQLite3Buffer sql;
        RealTexts texts;
        db.execDML(kBegin);
        // Each trace is released once stored, so the list shrinks while the table grows.
        for (int eic_id = 0; !mass_trace_list.empty(); ++eic_id) {
            const Mass_Trace& t = mass_trace_list.front();
            const char* shape = encoder.encode(t.EIC_shape);
            if (std::isfinite(t.Cent_Mass)) {
                sql.format(kInsertTrace, eic_id, t.Cent_Mass, t.trace_length, t.miss_count, shape);
            } else {
                sql.format(kInsertTraceText, eic_id, texts(0, t.Cent_Mass), t.trace_length, t.miss_count,
                           shape);
            }
            db.execDML(sql);
            sql.clear();
            mass_trace_list.pop_front();
        }
        db.execDML(kCommit);
    }

    db.close();
}

void OutputAlignedAnnotatedGroupedChromatographPeaklist2database(
    std::vector<Chromatogram_Peak_Group_Compound_Align> peaklist_aligned, std::string Path,
    std::string FileName) {
    const std::string full_path = korvane::path_join(Path, FileName);
    remove_earlier_file(full_path);

    CppSQLite3DB db;
    db.open(full_path.c_str());
    if (!db.tableExists("Align_Peaklist")) {
        create_table(db, kCreateAlign, kAlignIndexes);
        write_peak_rows(db, peaklist_aligned);
    }
    db.close();
}
