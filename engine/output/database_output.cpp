#include "engine/output/database_output.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "engine/output/fixed_text.h"
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
// Row statements up to the shape column; RowStatement adds the quoted shape and ");".
constexpr const char* kInsertAnnotate =
    "insert into Annotate_Peaklist values(%d, %d, %f, %d, %f, %f, %f, %f, %d, %d, %d, '%q', %d, %f, "
    "%f, %f, ";
// The same row with every real given as ready text, for rows holding a value that is not finite.
constexpr const char* kInsertAnnotateText =
    "insert into Annotate_Peaklist values(%d, %d, %s, %d, %s, %s, %s, %s, %d, %d, %d, '%q', %d, %s, "
    "%s, %s, ";

constexpr const char* kCreateTrace =
    "create table Mass_Tracelist(EIC_ID int, Cent_Mass double,trace_length int, miss_count int, "
    "EIC_shape blob);";
constexpr const char* kTraceIndex =
    "CREATE INDEX if not exists Mass_Tracelist_EIC_ID_index ON Mass_Tracelist(EIC_ID);";
constexpr const char* kInsertTrace = "insert into Mass_Tracelist values(%d, %f, %d, %d, ";
constexpr const char* kInsertTraceText = "insert into Mass_Tracelist values(%d, %s, %d, %d, ";

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
    "%f, %d, '%q', %d, %f, ";
constexpr const char* kInsertAlignText =
    "insert into Align_Peaklist values(%d, %d, %s, %d, %s, %s, %s, %s, %d, %d, %d, '%q', %d, %s, %s, "
    "%s, %d, '%q', %d, %s, ";

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

// One row statement, built in a buffer that is kept from row to row: the scalar columns through
// SQLite's formatter, then the encoded shape text written straight into the statement. The text is
// what "%Q" of the codec's output would give, without the intermediate copies of a shape that can
// hold hundreds of kilobytes.
class RowStatement {
public:
    // fields: the formatted row up to the shape (ending in ", "), or null when formatting failed.
    void start(const char* fields) {
        if (!fields) throw CppSQLite3Exception(SQLITE_NOMEM, "Cannot format row statement");
        size_ = 0;
        append(fields, std::strlen(fields));
    }

    // A shape text is made of digits, "-", ".", "," and the letters of "nan" and "inf" only: none
    // is byte 1, 2 or 40, so the codec picks offset 1 and stores each byte lowered by one after a
    // leading byte 1, and needs no escape. The empty shape encodes as "x". Neither holds an
    // apostrophe, so quoting adds only the two around it.
    void shape(const std::vector<Data_Point>& points) {
        if (points.empty()) {
            append("'x'", 3);
            return;
        }
        append("'\x01", 2);
        const std::size_t text_begin = size_;
        for (std::size_t i = 0; i < points.size(); ++i) {
            const Data_Point& p = points[i];
            char* out = room(3 * korvane::kFixed6MaxChars + 16);
            if (i) *out++ = ',';
            out = korvane::write_fixed6(out, p.intensity);
            *out++ = ',';
            out = korvane::write_fixed6(out, p.mz);
            *out++ = ',';
            out = korvane::write_fixed6(out, p.retention_time);
            *out++ = ',';
            out = std::to_chars(out, out + 10, p.scan_num).ptr;
            size_ = static_cast<std::size_t>(out - data_.get());
        }
        for (std::size_t i = text_begin; i < size_; ++i) data_[i] = static_cast<char>(data_[i] - 1);
        append("'", 1);
    }

    const char* finish() {
        append(");", 3);  // with the terminating zero
        return data_.get();
    }

private:
    char* room(std::size_t n) {
        if (capacity_ - size_ < n) {
            std::size_t grown = std::max(capacity_ * 2, size_ + n);
            auto bigger = std::make_unique_for_overwrite<char[]>(grown);
            if (size_) std::memcpy(bigger.get(), data_.get(), size_);
            data_ = std::move(bigger);
            capacity_ = grown;
        }
        return data_.get() + size_;
    }

    void append(const char* s, std::size_t n) {
        std::memcpy(room(n), s, n);
        size_ += n;
    }

    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// A stale file left in place would be opened as it is: its tables exist, nothing new would be
// written and the caller would take the old results for this run's.
void remove_earlier_file(const std::string& full_path) {
    std::error_code ec;
    std::filesystem::remove(full_path, ec);
    // A path under a missing folder or under a file holds no earlier file; open reports it.
    if (ec && ec != std::errc::not_a_directory) {
        const std::string text = "Unable to remove earlier database file " + full_path + ": " + ec.message();
        throw CppSQLite3Exception(CPPSQLITE_ERROR, text.c_str());
    }
}

template <std::size_t N>
void create_table(CppSQLite3DB& db, const char* create, const char* const (&indexes)[N]) {
    db.execDML(create);
    for (const char* index : indexes) db.execDML(index);
}

const char* format_fields(CppSQLite3Buffer& sql, RealTexts& texts, const Chromatogram_Peak_Group_Compound& r) {
    if (all_finite(r.Apex_MZ, r.Apex_Retention_Time, r.Apex_Intensity, r.Peak_Area, r.Peak_SNR,
                   r.Compound_MolecularMass, r.Compound_Retention_Time, r.Compound_Intensity))
        return sql.format(kInsertAnnotate, as_int(r.EIC_ID), as_int(r.Peak_ID), r.Apex_MZ, as_int(r.Apex_Pos),
                          r.Apex_Retention_Time, r.Apex_Intensity, r.Peak_Area, r.Peak_SNR,
                          as_int(r.Left_Boundary), as_int(r.Right_Boundary), as_int(r.Group_ID),
                          r.Adduct_Annotation.c_str(), as_int(r.Compound_ID), r.Compound_MolecularMass,
                          r.Compound_Retention_Time, r.Compound_Intensity);
    return sql.format(kInsertAnnotateText, as_int(r.EIC_ID), as_int(r.Peak_ID), texts(0, r.Apex_MZ),
                      as_int(r.Apex_Pos), texts(1, r.Apex_Retention_Time), texts(2, r.Apex_Intensity),
                      texts(3, r.Peak_Area), texts(4, r.Peak_SNR), as_int(r.Left_Boundary),
                      as_int(r.Right_Boundary), as_int(r.Group_ID), r.Adduct_Annotation.c_str(),
                      as_int(r.Compound_ID), texts(5, r.Compound_MolecularMass),
                      texts(6, r.Compound_Retention_Time), texts(7, r.Compound_Intensity));
}

const char* format_fields(CppSQLite3Buffer& sql, RealTexts& texts, const Chromatogram_Peak_Group_Compound_Align& r) {
    if (all_finite(r.Apex_MZ, r.Apex_Retention_Time, r.Apex_Intensity, r.Peak_Area, r.Peak_SNR,
                   r.Compound_MolecularMass, r.Compound_Retention_Time, r.Compound_Intensity, r.Align_RT))
        return sql.format(kInsertAlign, as_int(r.EIC_ID), as_int(r.Peak_ID), r.Apex_MZ, as_int(r.Apex_Pos),
                          r.Apex_Retention_Time, r.Apex_Intensity, r.Peak_Area, r.Peak_SNR,
                          as_int(r.Left_Boundary), as_int(r.Right_Boundary), as_int(r.Group_ID),
                          r.Adduct_Annotation.c_str(), as_int(r.Compound_ID), r.Compound_MolecularMass,
                          r.Compound_Retention_Time, r.Compound_Intensity, as_int(r.SAMPLE_ID),
                          r.SAMPLE_NAME.c_str(), as_int(r.Align_ID), r.Align_RT);
    return sql.format(kInsertAlignText, as_int(r.EIC_ID), as_int(r.Peak_ID), texts(0, r.Apex_MZ),
                      as_int(r.Apex_Pos), texts(1, r.Apex_Retention_Time), texts(2, r.Apex_Intensity),
                      texts(3, r.Peak_Area), texts(4, r.Peak_SNR), as_int(r.Left_Boundary),
                      as_int(r.Right_Boundary), as_int(r.Group_ID), r.Adduct_Annotation.c_str(),
                      as_int(r.Compound_ID), texts(5, r.Compound_MolecularMass),
                      texts(6, r.Compound_Retention_Time), texts(7, r.Compound_Intensity),
                      as_int(r.SAMPLE_ID), r.SAMPLE_NAME.c_str(), as_int(r.Align_ID), texts(8, r.Align_RT));
}

template <class Row>
void write_peak_rows(CppSQLite3DB& db, const std::vector<Row>& rows) {
    CppSQLite3Buffer sql;
    RealTexts texts;
    RowStatement statement;
    db.execDML(kBegin);
    for (const Row& r : rows) {
        statement.start(format_fields(sql, texts, r));
        sql.clear();
        statement.shape(r.Peak_shape);
        db.execDML(statement.finish());
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
        CppSQLite3Buffer sql;
        RealTexts texts;
        RowStatement statement;
        db.execDML(kBegin);
        // Each trace is released once stored, so the list shrinks while the table grows.
        for (int eic_id = 0; !mass_trace_list.empty(); ++eic_id) {
            const Mass_Trace& t = mass_trace_list.front();
            if (std::isfinite(t.Cent_Mass))
                statement.start(sql.format(kInsertTrace, eic_id, t.Cent_Mass, t.trace_length, t.miss_count));
            else
                statement.start(
                    sql.format(kInsertTraceText, eic_id, texts(0, t.Cent_Mass), t.trace_length, t.miss_count));
            sql.clear();
            statement.shape(t.EIC_shape);
            db.execDML(statement.finish());
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
