// CppSQLite3DB: one connection and the operations that run SQL text on it.
#include "sqlitewrap/cppsqlite3.h"

#include <memory>

namespace {

struct SqliteFree {
    void operator()(void* p) const noexcept { sqlite3_free(p); }
};
using SqliteText = std::unique_ptr<char, SqliteFree>;

}  // namespace

CppSQLite3DB::~CppSQLite3DB() {
    try {
        close();
    } catch (...) {
        // A statement is still alive; the connection stays open until the process ends.
    }
}

void CppSQLite3DB::open(const char* szFile) {
    // Overwriting the handle would leak the old connection and its file lock.
    close();
    const int rc = sqlite3_open(szFile, &connection);
    // On failure SQLite still hands back a handle (unless out of memory); keep it so close or the
    // destructor releases it.
    if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, sqlite3_errmsg(connection));
    sqlite3_busy_timeout(connection, busyTimeoutMs);
}

void CppSQLite3DB::close() {
    if (!connection) return;
    // sqlite3_close fails while a statement is alive; keep the handle so the destructor can try again.
    if (sqlite3_close(connection) != SQLITE_OK)
        throw CppSQLite3Exception(CPPSQLITE_ERROR, "Unable to close database");
    connection = nullptr;
}

void CppSQLite3DB::checkDB() const {
    if (!connection) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Database not open");
}

void CppSQLite3DB::checkSQL(const char* szSQL) const {
    // A null text is what CppSQLite3Buffer::format and sqlite3_mprintf give when they run out of
    // memory or the text is too big. sqlite3_exec would run it as "nothing" and report success,
    // so a write would be lost without a word.
    if (!szSQL) throw CppSQLite3Exception(SQLITE_NOMEM, sqlite3_errstr(SQLITE_NOMEM));
}

sqlite3_stmt* CppSQLite3DB::compile(const char* szSQL) {
    sqlite3_stmt* vm = nullptr;
    const int rc = sqlite3_prepare_v2(connection, szSQL, -1, &vm, nullptr);
    if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, sqlite3_errmsg(connection));
    return vm;
}

bool CppSQLite3DB::tableExists(const char* szTable) {
    // '%q' doubles an apostrophe, so a name cannot end the literal early; for ordinary names the
    // text is the same as with '%s'.
    const SqliteText sql(sqlite3_mprintf(
        "select count(*) from sqlite_master where type='table' and name='%q'", szTable ? szTable : ""));
    return execScalar(sql.get(), 0) > 0;
}

int CppSQLite3DB::execDML(const char* szSQL) {
    checkDB();
    checkSQL(szSQL);
    char* error = nullptr;
    const int rc = sqlite3_exec(connection, szSQL, nullptr, nullptr, &error);
    if (rc == SQLITE_OK) return sqlite3_changes(connection);
    if (error) throw CppSQLite3Exception(rc, error, true);
    throw CppSQLite3Exception(rc, sqlite3_errmsg(connection));
}

CppSQLite3Query CppSQLite3DB::execQuery(const char* szSQL) {
    checkDB();
    checkSQL(szSQL);
    sqlite3_stmt* vm = compile(szSQL);
    const int rc = sqlite3_step(vm);
    if (rc == SQLITE_DONE) return CppSQLite3Query(connection, vm, true, true);
    if (rc == SQLITE_ROW) return CppSQLite3Query(connection, vm, false, true);
    const int finalized = sqlite3_finalize(vm);
    // A text without any statement compiles to null; finalize then reports OK, which must not
    // end up as the code of the error.
    throw CppSQLite3Exception(finalized != SQLITE_OK ? finalized : rc, sqlite3_errmsg(connection));
}

int CppSQLite3DB::execScalar(const char* szSQL, int nNullValue) {
    CppSQLite3Query q = execQuery(szSQL);
    if (q.eof() || q.numFields() < 1) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Invalid scalar query");
    return q.getIntField(0, nNullValue);
}

CppSQLite3Table CppSQLite3DB::getTable(const char* szSQL) {
    checkDB();
    checkSQL(szSQL);
    char** results = nullptr;
    int rows = 0;
    int cols = 0;
    char* error = nullptr;
    const int rc = sqlite3_get_table(connection, szSQL, &results, &rows, &cols, &error);
    if (rc == SQLITE_OK) return CppSQLite3Table(results, rows, cols);
    if (error) throw CppSQLite3Exception(rc, error, true);
    throw CppSQLite3Exception(rc, sqlite3_errmsg(connection));
}

CppSQLite3Statement CppSQLite3DB::compileStatement(const char* szSQL) {
    checkDB();
    checkSQL(szSQL);
    sqlite3_stmt* vm = compile(szSQL);
    return CppSQLite3Statement(connection, vm);
}

sqlite_int64 CppSQLite3DB::lastRowId() {
    checkDB();
    return sqlite3_last_insert_rowid(connection);
}

void CppSQLite3DB::setBusyTimeout(int nMillisecs) {
    busyTimeoutMs = nMillisecs;
    if (connection) sqlite3_busy_timeout(connection, busyTimeoutMs);
}

bool CppSQLite3DB::IsAutoCommitOn() {
    checkDB();
    return sqlite3_get_autocommit(connection) != 0;
}
