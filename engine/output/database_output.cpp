#include "engine/output/database_output.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>

#include "engine/output/fixed_text.h"
#include "engine/records/result_file.h"
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
// Rows are inserted through one prepared statement per table: the shapes, often hundreds of
// kilobytes, are bound instead of being parsed out of a statement's text.
constexpr const char* kInsertAnnotate =
    "insert into Annotate_Peaklist values(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?);";

constexpr const char* kCreateTrace =
    "create table Mass_Tracelist(EIC_ID int, Cent_Mass double,trace_length int, miss_count int, "
    "EIC_shape blob);";
constexpr const char* kTraceIndex =
    "CREATE INDEX if not exists Mass_Tracelist_EIC_ID_index ON Mass_Tracelist(EIC_ID);";
constexpr const char* kInsertTrace = "insert into Mass_Tracelist values(?, ?, ?, ?, ?);";

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
    "insert into Align_Peaklist values(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?);";

constexpr const char* kPageSize = "PRAGMA page_size=16384;";
constexpr const char* kBegin = "begin transaction;";
constexpr const char* kCommit = "commit transaction;";

// Binds the columns of one row in order. Integer columns hold the unsigned members' bits as
// signed decimal. A finite real is bound as the text of SQLite's "%f", which the column's REAL
// affinity converts with the same routine that reads a literal of that text: the stored value is
// the one a formatted statement would store. NaN is stored as NULL and an infinity as the
// infinity a literal 1e999 gives.
class RowBinder {
public:
    explicit RowBinder(CppSQLite3Statement& statement) : statement_(statement) {}

    RowBinder& operator<<(std::uint32_t v) {
        statement_.bind(++column_, static_cast<int>(v));
        return *this;
    }
    RowBinder& operator<<(std::int32_t v) {
        statement_.bind(++column_, static_cast<int>(v));
        return *this;
    }
    RowBinder& operator<<(double v) {
        ++column_;
        if (std::isnan(v))
            statement_.bindNull(column_);
        else if (std::isinf(v))
            statement_.bind(column_, v);
        else
            statement_.bind(column_, real_text_.format("%f", v));
        return *this;
    }
    RowBinder& operator<<(const std::string& text) {
        statement_.bind(++column_, text.c_str());
        return *this;
    }
    // The shape column, last in every table.
    void shape(const std::vector<Data_Point>& points) {
        statement_.bind(++column_, shape_.encode(points));
        statement_.execDML();
        column_ = 0;
    }

private:
    // A shape text is made of digits, "-", ".", "," and the letters of "nan" and "inf" only: none
    // is byte 1, 2 or 40, so the codec picks offset 1 and stores each byte lowered by one after a
    // leading byte 1, and needs no escape. The empty shape encodes as "x". The text is built in
    // one buffer kept from row to row.
    class ShapeText {
    public:
        const char* encode(const std::vector<Data_Point>& points) {
            if (points.empty()) return "x";
            size_ = 0;
            *room(1) = '\x01';
            size_ = 1;
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
            for (std::size_t i = 1; i < size_; ++i) data_[i] = static_cast<char>(data_[i] - 1);
            *room(1) = '\0';
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

        std::unique_ptr<char[]> data_;
        std::size_t size_ = 0;
        std::size_t capacity_ = 0;
    };

    CppSQLite3Statement& statement_;
    CppSQLite3Buffer real_text_;
    ShapeText shape_;
    int column_ = 0;
};

// A stale file left in place would be opened as it is: its tables exist, nothing new would be
// written and the caller would take the old results for this run's (within a set of results it
// stays until the new one replaces it). A journal an interrupted earlier run left beside it goes
// at once: SQLite would take it for the new file's hot journal and roll its pages into the
// database renamed into place.
void remove_earlier_file(const std::string& full_path) {
    const auto refuse = [](const std::string& path, const std::string& why) {
        const std::string text = "Unable to remove earlier database file " + path + ": " + why;
        throw CppSQLite3Exception(CPPSQLITE_ERROR, text.c_str());
    };
    if (const std::string why = korvane::make_way_for_result(full_path); !why.empty()) refuse(full_path, why);
    const std::string journal = full_path + "-journal";
    if (const std::string why = korvane::remove_earlier_result(journal); !why.empty()) refuse(journal, why);
}

// The same error with the file named before its text: "SQLITE_FULL[13]: <path>: database or disk
// is full". SQLite's own texts name no file, and a run writes many.
CppSQLite3Exception naming_file(const CppSQLite3Exception& e, const std::string& path) {
    const std::string prefix = std::string(CppSQLite3Exception::errorCodeAsString(e.errorCode())) + "[" +
                               std::to_string(e.errorCode()) + "]: ";
    std::string text = e.errorMessage();
    if (text.compare(0, prefix.size(), prefix) == 0) text.erase(0, prefix.size());
    return CppSQLite3Exception(e.errorCode(), (path + ": " + text).c_str());
}

// The database is built under a temporary name and takes its final name only once closed, with
// its journal gone: a failure or a kill part way leaves no half-filled database or hot journal
// under the result name.
template <class Build>
void write_database(const std::string& folder, const std::string& file_name, Build build) {
    const std::string full_path = korvane::path_join(folder, file_name);
    remove_earlier_file(full_path);
    korvane::ResultFile result(full_path);
    try {
        CppSQLite3DB db;
        db.open(result.temporary_path().c_str());
        // Shapes fill most pages; each page costs SQLite one write call, and 16 KiB pages take a
        // quarter of the calls of the 4 KiB default. The stored values are the same.
        db.execDML(kPageSize);
        build(db);
        db.close();
    } catch (const CppSQLite3Exception& e) {
        throw naming_file(e, full_path);
    }
    if (const std::error_code ec = result.commit()) {
        const std::string text = "Unable to complete database file " + full_path + ": " + ec.message();
        throw CppSQLite3Exception(CPPSQLITE_ERROR, text.c_str());
    }
}

// One table in one transaction: created, indexed, then filled through one prepared statement.
// Each statement outside a transaction would be a transaction of its own, with its own waits for
// the disk; a failure part way now leaves no half-made table behind either.
template <std::size_t N, class Fill>
void write_table(CppSQLite3DB& db, const char* create, const char* const (&indexes)[N], const char* insert,
                 Fill fill) {
    db.execDML(kBegin);
    db.execDML(create);
    for (const char* index : indexes) db.execDML(index);
    CppSQLite3Statement statement = db.compileStatement(insert);
    RowBinder row(statement);
    fill(row);
    statement.finalize();
    db.execDML(kCommit);
}

template <class Peak>
void bind_peak_columns(RowBinder& row, const Peak& r) {
    row << r.EIC_ID << r.Peak_ID << r.Apex_MZ << r.Apex_Pos << r.Apex_Retention_Time << r.Apex_Intensity
        << r.Peak_Area << r.Peak_SNR << r.Left_Boundary << r.Right_Boundary << r.Group_ID << r.Adduct_Annotation
        << r.Compound_ID << r.Compound_MolecularMass << r.Compound_Retention_Time << r.Compound_Intensity;
}

void bind_row(RowBinder& row, const Chromatogram_Peak_Group_Compound& r) {
    bind_peak_columns(row, r);
    row.shape(r.Peak_shape);
}

void bind_row(RowBinder& row, const Chromatogram_Peak_Group_Compound_Align& r) {
    bind_peak_columns(row, r);
    row << r.SAMPLE_ID << r.SAMPLE_NAME << r.Align_ID << r.Align_RT;
    row.shape(r.Peak_shape);
}

template <class Row>
void fill_peak_rows(RowBinder& row, const std::vector<Row>& rows) {
    for (const Row& r : rows) bind_row(row, r);
}

}  // namespace

void OutputAnnotatedGroupedChromatographPeaklist2database(
    std::vector<Chromatogram_Peak_Group_Compound> peaklist_adduct_annotated,
    std::list<Mass_Trace> mass_trace_list, std::string Path, std::string FileName) {
    write_database(Path, FileName, [&](CppSQLite3DB& db) {
        write_table(db, kCreateAnnotate, kAnnotateIndexes, kInsertAnnotate,
                    [&](RowBinder& row) { fill_peak_rows(row, peaklist_adduct_annotated); });
        const char* const trace_index[] = {kTraceIndex};
        write_table(db, kCreateTrace, trace_index, kInsertTrace, [&](RowBinder& row) {
            // Each trace is released once stored, so the list shrinks while the table grows.
            for (std::int32_t eic_id = 0; !mass_trace_list.empty(); ++eic_id) {
                const Mass_Trace& t = mass_trace_list.front();
                row << eic_id << t.Cent_Mass << t.trace_length << t.miss_count;
                row.shape(t.EIC_shape);
                mass_trace_list.pop_front();
            }
        });
    });
}

void OutputAlignedAnnotatedGroupedChromatographPeaklist2database(
    std::vector<Chromatogram_Peak_Group_Compound_Align> peaklist_aligned, std::string Path,
    std::string FileName) {
    write_database(Path, FileName, [&](CppSQLite3DB& db) {
        write_table(db, kCreateAlign, kAlignIndexes, kInsertAlign,
                    [&](RowBinder& row) { fill_peak_rows(row, peaklist_aligned); });
    });
}
