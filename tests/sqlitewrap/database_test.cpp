// CppSQLite3DB, CppSQLite3Query, CppSQLite3Table and CppSQLite3Statement against real SQLite.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "sqlitewrap/cppsqlite3.h"
#include "tests/sqlitewrap/expect_error.h"
#include "tests/support/temp_dir.h"

namespace {

using korvane::test::expect_sqlite_error;

const std::string kNotOpen = "CPPSQLITE_ERROR[1000]: Database not open";
const std::string kNullVM = "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer";
const std::string kBadIndex = "CPPSQLITE_ERROR[1000]: Invalid field index requested";
const std::string kBadName = "CPPSQLITE_ERROR[1000]: Invalid field name requested";
const std::string kBadRow = "CPPSQLITE_ERROR[1000]: Invalid row index requested";
const std::string kNoResults = "CPPSQLITE_ERROR[1000]: Null Results pointer";
const std::string kCannotClose = "CPPSQLITE_ERROR[1000]: Unable to close database";
const std::string kNoMemory = "SQLITE_NOMEM[7]: out of memory";

// Whether another connection can take the write lock on a database file right now.
bool can_write(const std::string& path) {
    sqlite3* other = nullptr;
    sqlite3_open(path.c_str(), &other);
    const int rc = sqlite3_exec(other, "begin immediate; rollback", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    return rc == SQLITE_OK;
}

// Opens path and takes a lock that only closing the connection gives back.
void hold_exclusive_lock(CppSQLite3DB& db, const std::string& path) {
    db.open(path.c_str());
    db.execDML("pragma locking_mode=exclusive; create table if not exists t(x); begin exclusive; commit;");
}

TEST(Database, TableExistsQuotesTheName) {
    CppSQLite3DB db;
    db.open(":memory:");
    EXPECT_FALSE(db.tableExists("Annotate_Peaklist"));
    db.execDML("create table Annotate_Peaklist(x)");
    EXPECT_TRUE(db.tableExists("Annotate_Peaklist"));
    EXPECT_FALSE(db.tableExists("annotate_peaklist2"));

    // An apostrophe neither breaks the statement nor matches every table.
    EXPECT_FALSE(db.tableExists("a'b"));
    EXPECT_FALSE(db.tableExists("x' or '1'='1"));
    db.execDML("create table \"a'b\"(x)");
    EXPECT_TRUE(db.tableExists("a'b"));

    const std::string longName(300, 'n');
    EXPECT_FALSE(db.tableExists(longName.c_str()));
    db.execDML(("create table " + longName + "(x)").c_str());
    EXPECT_TRUE(db.tableExists(longName.c_str()));
    EXPECT_FALSE(db.tableExists(longName.substr(0, 299).c_str()));
}

TEST(Database, ExecDMLRunsEveryStatementAndCountsTheLast) {
    CppSQLite3DB db;
    db.open(":memory:");
    EXPECT_EQ(db.execDML("create table t(x integer)"), 0);
    EXPECT_EQ(db.execDML("insert into t values(1); insert into t values(2); insert into t values(3);"
                         "update t set x = x + 10 where x < 3"),
              2);
    EXPECT_EQ(db.execScalar("select sum(x) from t"), 26);
    EXPECT_EQ(db.lastRowId(), 3);
    expect_sqlite_error([&] { db.execDML("insert into nowhere values(1)"); }, 1,
                        "SQLITE_ERROR[1]: no such table: nowhere");
    expect_sqlite_error([&] { db.execQuery("selec 1"); }, 1, "SQLITE_ERROR[1]: near \"selec\": syntax error");
    expect_sqlite_error([&] { db.getTable("select * from nowhere"); }, 1, "SQLITE_ERROR[1]: no such table: nowhere");
    expect_sqlite_error([&] { db.compileStatement("select * from nowhere"); }, 1,
                        "SQLITE_ERROR[1]: no such table: nowhere");
}

TEST(Database, ExecScalar) {
    CppSQLite3DB db;
    db.open(":memory:");
    db.execDML("create table t(x integer)");
    expect_sqlite_error([&] { db.execScalar("select x from t"); }, 1000,
                        "CPPSQLITE_ERROR[1000]: Invalid scalar query");
    db.execDML("insert into t values(null)");
    EXPECT_EQ(db.execScalar("select x from t", -7), -7);
    EXPECT_EQ(db.execScalar("select count(*) from t", -7), 1);
    // The scalar's query is finalized on return, so the connection closes.
    EXPECT_NO_THROW(db.close());
}

TEST(Database, OperationsOnAClosedObject) {
    CppSQLite3DB db;
    const std::vector<std::pair<const char*, std::function<void()>>> calls = {
        {"execDML", [&] { db.execDML("select 1"); }},
        {"execQuery", [&] { db.execQuery("select 1"); }},
        {"execScalar", [&] { db.execScalar("select 1"); }},
        {"tableExists", [&] { db.tableExists("t"); }},
        {"getTable", [&] { db.getTable("select 1"); }},
        {"compileStatement", [&] { db.compileStatement("select 1"); }},
        {"lastRowId", [&] { db.lastRowId(); }},
        {"IsAutoCommitOn", [&] { db.IsAutoCommitOn(); }},
    };
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        expect_sqlite_error(call, 1000, kNotOpen);
    }
    EXPECT_NO_THROW(db.setBusyTimeout(100));  // kept for the next open, no handle to pass on
    EXPECT_NO_THROW(db.close());
}

TEST(Database, FailedOpenKeepsTheHandleForClose) {
    korvane::test::TempDir dir;
    CppSQLite3DB db;
    const std::string path = dir.file("missing/folder/x.db");
    expect_sqlite_error([&] { db.open(path.c_str()); }, 14, "SQLITE_CANTOPEN[14]: unable to open database file");
    EXPECT_NO_THROW(db.close());
    EXPECT_NO_THROW(db.open(dir.file("ok.db").c_str()));
}

TEST(Database, CloseFailsWhileAnOwningQueryLives) {
    CppSQLite3DB db;
    db.open(":memory:");
    db.execDML("create table t(x); insert into t values(1)");
    CppSQLite3Query q = db.execQuery("select x from t");
    expect_sqlite_error([&] { db.close(); }, 1000, kCannotClose);
    // The connection is kept and still works.
    EXPECT_EQ(db.execScalar("select count(*) from t"), 1);
    q.finalize();
    EXPECT_NO_THROW(db.close());
}

TEST(Database, DestructionAndReopeningReleaseTheFile) {
    korvane::test::TempDir dir;
    const std::string first = dir.file("first.db");
    const std::string second = dir.file("second.db");
    {
        CppSQLite3DB db;
        hold_exclusive_lock(db, first);
        ASSERT_FALSE(can_write(first));
        // Opening again on the same object must close the first connection, not leak it.
        db.open(second.c_str());
        EXPECT_TRUE(can_write(first));
        hold_exclusive_lock(db, first);
        ASSERT_FALSE(can_write(first));
    }
    EXPECT_TRUE(can_write(first));
}

// A second connection holds the write lock; a short busy time-out makes the write give up.
TEST(Database, BusyAfterTheTimeout) {
    korvane::test::TempDir dir;
    const std::string path = dir.file("busy.db");
    CppSQLite3DB holder;
    holder.open(path.c_str());
    holder.execDML("create table t(x)");
    CppSQLite3DB db;
    db.setBusyTimeout(100);  // before open: applied by open
    db.open(path.c_str());
    CppSQLite3DB late;
    late.open(path.c_str());
    late.setBusyTimeout(100);  // after open: applied at once
    CppSQLite3Statement insert = late.compileStatement("insert into t values(2)");

    holder.execDML("begin immediate; insert into t values(1)");
    const auto start = std::chrono::steady_clock::now();
    expect_sqlite_error([&] { db.execDML("insert into t values(2)"); }, 5, "SQLITE_BUSY[5]: database is locked");
    expect_sqlite_error([&] { late.execDML("insert into t values(2)"); }, 5, "SQLITE_BUSY[5]: database is locked");
    expect_sqlite_error([&] { insert.execDML(); }, 5, "SQLITE_BUSY[5]: database is locked");
    // The default minute would have kept this waiting far longer.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));

    holder.execDML("commit");
    EXPECT_EQ(insert.execDML(), 1);
    EXPECT_EQ(db.execScalar("select count(*) from t"), 2);
}

// A null SQL text is what a failed format leaves; it must fail, not run as an empty statement.
TEST(Database, NullSqlTextIsOutOfMemory) {
    CppSQLite3DB db;
    db.open(":memory:");
    db.execDML("create table t(x)");
    CppSQLite3Buffer sql;
    {
        korvane::test::SqliteOutOfMemory oom;
        ASSERT_EQ(sql.format("insert into t values(%d)", 1), nullptr);
        try {
            db.execDML(sql);
            ADD_FAILURE() << "a lost write was reported as success";
        } catch (const CppSQLite3Exception& e) {
            EXPECT_EQ(e.errorCode(), 7);
            EXPECT_NE(e.errorMessage(), nullptr);
        }
        try {
            db.tableExists("t");
            ADD_FAILURE() << "no exception";
        } catch (const CppSQLite3Exception& e) {
            EXPECT_EQ(e.errorCode(), 7);
        }
    }
    const std::vector<std::pair<const char*, std::function<void()>>> calls = {
        {"execDML", [&] { db.execDML(nullptr); }},
        {"execQuery", [&] { db.execQuery(nullptr); }},
        {"execScalar", [&] { db.execScalar(nullptr); }},
        {"getTable", [&] { db.getTable(nullptr); }},
        {"compileStatement", [&] { db.compileStatement(nullptr); }},
    };
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        expect_sqlite_error(call, 7, kNoMemory);
    }
    EXPECT_EQ(db.execScalar("select count(*) from t"), 0);
}

// ---- CppSQLite3Query

TEST(Query, EmptyResultIsAtEndWithItsColumns) {
    CppSQLite3DB db;
    db.open(":memory:");
    db.execDML("create table t(a integer, b text)");
    CppSQLite3Query q = db.execQuery("select a, b from t");
    EXPECT_TRUE(q.eof());
    EXPECT_EQ(q.numFields(), 2);
    EXPECT_STREQ(q.fieldName(1), "b");
}

// NULL columns give the caller's null value; a zero-length blob is not NULL.
TEST(Query, NullValuesAndBlobs) {
    CppSQLite3DB db;
    db.open(":memory:");
    db.execDML("create table t(id integer, shape blob, gone text)");
    db.execDML("insert into t values(8589934592, x'00ff27', null); insert into t values(2, x'', null)");
    CppSQLite3Query q = db.execQuery("select * from t order by id desc");
    EXPECT_EQ(q.getInt64Field("id"), 8589934592LL);
    EXPECT_STREQ(q.getStringField("gone", "none"), "none");
    EXPECT_EQ(q.getIntField("gone", -1), -1);
    EXPECT_EQ(q.getInt64Field(2, -3), -3);
    EXPECT_EQ(q.getFloatField(2, 9.5), 9.5);
    int len = -1;
    const unsigned char* blob = q.getBlobField("shape", len);
    ASSERT_EQ(len, 3);
    EXPECT_EQ(blob[2], 0x27);
    q.nextRow();
    ASSERT_FALSE(q.eof());
    q.getBlobField(1, len);
    EXPECT_EQ(len, 0);
    EXPECT_FALSE(q.fieldIsNull(1));
    EXPECT_TRUE(q.fieldIsNull("gone"));
    q.nextRow();
    EXPECT_TRUE(q.eof());
}

TEST(Query, RejectsBadNamesAndIndices) {
    CppSQLite3DB db;
    db.open(":memory:");
    CppSQLite3Query q = db.execQuery("select 1 as Apex_MZ, 2 as Peak_ID");
    const std::vector<std::pair<const char*, std::function<void()>>> names = {
        {"other case", [&] { q.fieldValue("apex_mz"); }},
        {"prefix", [&] { q.fieldValue("Apex"); }},
        {"null", [&] { q.fieldValue(static_cast<const char*>(nullptr)); }},
        {"getIntField", [&] { q.getIntField("PEAK_ID"); }},
        {"fieldIsNull", [&] { q.fieldIsNull("peak_id"); }},
    };
    for (const auto& [name, call] : names) {
        SCOPED_TRACE(name);
        expect_sqlite_error(call, 1000, kBadName);
    }
    for (int index : {-1, 2}) {
        SCOPED_TRACE(index);
        int len = 0;
        expect_sqlite_error([&] { q.fieldValue(index); }, 1000, kBadIndex);
        expect_sqlite_error([&] { q.fieldName(index); }, 1000, kBadIndex);
        expect_sqlite_error([&] { q.fieldDataType(index); }, 1000, kBadIndex);
        expect_sqlite_error([&] { q.getIntField(index); }, 1000, kBadIndex);
        expect_sqlite_error([&] { q.getBlobField(index, len); }, 1000, kBadIndex);
    }
    EXPECT_STREQ(q.fieldValue("Apex_MZ"), "1");
    EXPECT_EQ(q.getIntField(1), 2);
}

// Ownership moves with the query; the moved-from object holds nothing, and assigning over an
// owning query finalizes the statement it held.
TEST(Query, MoveTransfersTheStatement) {
    CppSQLite3DB db;
    db.open(":memory:");
    CppSQLite3Query a = db.execQuery("select 1");
    CppSQLite3Query b(std::move(a));
    expect_sqlite_error([&] { a.eof(); }, 1000, kNullVM);
    expect_sqlite_error([&] { a.nextRow(); }, 1000, kNullVM);
    EXPECT_NO_THROW(a.finalize());
    EXPECT_EQ(b.getIntField(0), 1);

    CppSQLite3Query c = db.execQuery("select 2");
    b = std::move(c);
    EXPECT_EQ(b.getIntField(0), 2);
    b.finalize();
    EXPECT_NO_THROW(db.close());  // no statement of the first query was left behind
}

// abs() of the smallest integer fails while stepping, after a good first row.
TEST(Query, StepErrorOnAnOwningQueryFinalizesIt) {
    CppSQLite3DB db;
    db.open(":memory:");
    db.execDML("create table t(k integer primary key, x integer); insert into t values(1, 5);"
               "insert into t values(2, -9223372036854775808)");
    CppSQLite3Query q = db.execQuery("select abs(x) from t order by k");
    EXPECT_EQ(q.getIntField(0), 5);
    expect_sqlite_error([&] { q.nextRow(); }, 1, "SQLITE_ERROR[1]: integer overflow");
    expect_sqlite_error([&] { q.eof(); }, 1000, kNullVM);
    EXPECT_NO_THROW(db.close());
}

// ---- CppSQLite3Statement

TEST(Statement, BindsExecutesAndResets) {
    CppSQLite3DB db;
    db.open(":memory:");
    db.execDML("create table t(i integer, r real, s text, b blob, n text)");
    CppSQLite3Statement st = db.compileStatement("insert into t values(:i, :r, :s, :b, :n)");
    const unsigned char blob[] = {0, 39, 255};
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        st.bind(":i", row);
        st.bind(2, row + 0.5);
        const std::string text = "row'" + std::to_string(row);
        st.bind(":s", text.c_str());
        st.bind(":b", blob, 3);
        st.bindNull(":n");
        EXPECT_EQ(st.execDML(), 1);
        EXPECT_EQ(db.lastRowId(), row + 1);
        st.reset();
    }
    st.finalize();
    CppSQLite3Query q = db.execQuery("select i, r, s, length(b), n from t where i = 2");
    EXPECT_EQ(q.getIntField(0), 2);
    EXPECT_EQ(q.getFloatField(1), 2.5);
    EXPECT_STREQ(q.getStringField(2), "row'2");
    EXPECT_EQ(q.getIntField(3), 3);
    EXPECT_TRUE(q.fieldIsNull(4));
}

TEST(Statement, UnknownParameterNameIsInTheMessage) {
    CppSQLite3DB db;
    db.open(":memory:");
    CppSQLite3Statement st = db.compileStatement("select :mz");
    expect_sqlite_error([&] { st.bind(":rt", 1.0); }, 1000,
                        "CPPSQLITE_ERROR[1000]: Parameter ':rt' is not valid for this statement");
    // Longer than any fixed message buffer would hold: the name arrives whole.
    const std::string longName = ":" + std::string(200, 'p');
    expect_sqlite_error([&] { st.bindNull(longName.c_str()); }, 1000,
                        "CPPSQLITE_ERROR[1000]: Parameter '" + longName + "' is not valid for this statement");
    expect_sqlite_error([&] { st.bind(5, 1); }, 25, "SQLITE_RANGE[25]: Error binding int param");
    EXPECT_EQ(st.bindParameterIndex(":mz"), 1);
}

TEST(Statement, EmptyAndMovedFromObjects) {
    CppSQLite3Statement empty;
    expect_sqlite_error([&] { empty.execDML(); }, 1000, kNotOpen);
    expect_sqlite_error([&] { empty.execQuery(); }, 1000, kNotOpen);
    expect_sqlite_error([&] { empty.bind(1, "x"); }, 1000, kNullVM);
    expect_sqlite_error([&] { empty.bindParameterIndex(":x"); }, 1000, kNullVM);
    EXPECT_NO_THROW(empty.reset());
    EXPECT_NO_THROW(empty.finalize());

    CppSQLite3DB db;
    db.open(":memory:");
    CppSQLite3Statement a = db.compileStatement("select 1");
    CppSQLite3Statement b(std::move(a));
    expect_sqlite_error([&] { a.execDML(); }, 1000, kNotOpen);
    EXPECT_FALSE(b.execQuery().eof());
}

// Assigning a statement over another finalizes the one replaced; otherwise it would stay alive
// and the connection could not close.
TEST(Statement, AssignmentFinalizesTheReplacedStatement) {
    CppSQLite3DB db;
    db.open(":memory:");
    db.execDML("create table t(x)");
    CppSQLite3Statement st = db.compileStatement("insert into t values(1)");
    st = db.compileStatement("insert into t values(2)");
    EXPECT_EQ(st.execDML(), 1);
    st.finalize();
    EXPECT_EQ(db.execScalar("select sum(x) from t"), 2);
    EXPECT_NO_THROW(db.close());
}

// A query from a statement borrows it: neither its destruction nor a step error finalizes it.
TEST(Statement, QueriesBorrowTheStatement) {
    CppSQLite3DB db;
    db.open(":memory:");
    db.execDML("create table t(k integer primary key, x integer); insert into t values(1, 5);"
               "insert into t values(2, -9223372036854775808)");
    CppSQLite3Statement st = db.compileStatement("select abs(x) from t where k <= ? order by k");
    st.bind(1, 1);
    {
        CppSQLite3Query q = st.execQuery();
        EXPECT_EQ(q.getIntField(0), 5);
        q.nextRow();
        EXPECT_TRUE(q.eof());
        q.finalize();  // not the owner: nothing happens
        EXPECT_TRUE(q.eof());
    }
    st.reset();
    st.bind(1, 2);
    {
        CppSQLite3Query q = st.execQuery();
        EXPECT_EQ(q.getIntField(0), 5);
        expect_sqlite_error([&] { q.nextRow(); }, 1, "SQLITE_ERROR[1]: integer overflow");
        expect_sqlite_error([&] { q.eof(); }, 1000, kNullVM);
    }
    // The statement is still alive and usable; the sanitizer build sees any double finalize.
    st.bind(1, 1);
    CppSQLite3Query again = st.execQuery();
    EXPECT_EQ(again.getIntField(0), 5);
    st.finalize();
    EXPECT_NO_THROW(db.close());
}

// ---- CppSQLite3Table

TEST(Table, HoldsTheWholeResult) {
    CppSQLite3DB db;
    db.open(":memory:");
    db.execDML("create table t(id integer, mz text, note text)");
    db.execDML("insert into t values(1, '  42.5e1xyz', null); insert into t values(2, 'abc', ' -17 units')");
    CppSQLite3Table table = db.getTable("select id, mz, note from t order by id");
    ASSERT_EQ(table.numRows(), 2);
    ASSERT_EQ(table.numFields(), 3);
    EXPECT_STREQ(table.fieldName(2), "note");
    EXPECT_EQ(table.getFloatField("mz"), 425.0);
    EXPECT_EQ(table.getIntField("mz"), 42);
    EXPECT_TRUE(table.fieldIsNull("note"));
    EXPECT_STREQ(table.getStringField(2, "empty"), "empty");
    EXPECT_EQ(table.getIntField("note", -9), -9);
    table.setRow(1);
    EXPECT_STREQ(table.fieldValue(0), "2");
    EXPECT_EQ(table.getIntField("note"), -17);
    EXPECT_EQ(table.getFloatField(1, 3.0), 0.0);
    expect_sqlite_error([&] { table.fieldValue("Note"); }, 1000, kBadName);
    expect_sqlite_error([&] { table.fieldValue(3); }, 1000, kBadIndex);
    expect_sqlite_error([&] { table.fieldName(-1); }, 1000, kBadIndex);
    expect_sqlite_error([&] { table.setRow(2); }, 1000, kBadRow);
    expect_sqlite_error([&] { table.setRow(-1); }, 1000, kBadRow);
    EXPECT_STREQ(table.fieldValue(0), "2");  // a refused row leaves the current one

    CppSQLite3Table moved(std::move(table));
    expect_sqlite_error([&] { table.numRows(); }, 1000, kNoResults);
    EXPECT_EQ(moved.numRows(), 2);
    moved = db.getTable("select 7 as seven");
    EXPECT_EQ(moved.getIntField("seven"), 7);
    moved.finalize();
    expect_sqlite_error([&] { moved.fieldValue(0); }, 1000, kNoResults);
}

// Reals are read as a leading decimal number only: no hexadecimal, no words.
TEST(Table, FloatFieldsReadTheLeadingDecimalNumber) {
    struct Case {
        const char* text;
        double value;
    };
    const Case cases[] = {
        {" \t-.5e1z", -5.0}, {"+7.", 7.0},  {"1e", 1.0},     {"2.5E+2x", 250.0}, {".e3", 0.0},
        {"0x1A", 0.0},       {"inf", 0.0},  {"-Infinity", 0.0}, {"nan", 0.0},    {"1e999", HUGE_VAL},
    };
    CppSQLite3DB db;
    db.open(":memory:");
    db.execDML("create table t(v text)");
    for (const Case& c : cases) {
        CppSQLite3Buffer sql;
        db.execDML(sql.format("insert into t values(%Q)", c.text));
    }
    CppSQLite3Table table = db.getTable("select v from t order by rowid");
    ASSERT_EQ(table.numRows(), static_cast<int>(std::size(cases)));
    for (int row = 0; row < table.numRows(); ++row) {
        SCOPED_TRACE(cases[row].text);
        table.setRow(row);
        EXPECT_EQ(table.getFloatField(0, -1.0), cases[row].value);
        EXPECT_EQ(table.getFloatField("v", -1.0), cases[row].value);
    }
}

// With empty-result callbacks on, a result without rows still carries its header; row 0 does not
// exist and must not be read.
TEST(Table, HeaderWithoutRowsHasNoCurrentRow) {
    CppSQLite3DB db;
    db.open(":memory:");
    db.execDML("create table t(a, b); pragma empty_result_callbacks = 1");
    CppSQLite3Table table = db.getTable("select a, b from t");
    EXPECT_EQ(table.numRows(), 0);
    ASSERT_EQ(table.numFields(), 2);
    EXPECT_STREQ(table.fieldName(1), "b");
    expect_sqlite_error([&] { table.fieldValue(0); }, 1000, kBadRow);
    expect_sqlite_error([&] { table.getIntField("a"); }, 1000, kBadRow);

    CppSQLite3Table none;
    expect_sqlite_error([&] { none.numFields(); }, 1000, kNoResults);
}

}  // namespace
