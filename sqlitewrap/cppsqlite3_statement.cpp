// CppSQLite3Statement: a prepared statement run with bound parameters.
#include "sqlitewrap/cppsqlite3.h"

#include <utility>

namespace {

[[noreturn]] void throw_wrapper(const char* text) { throw CppSQLite3Exception(CPPSQLITE_ERROR, text); }

}  // namespace

CppSQLite3Statement::CppSQLite3Statement(sqlite3* pDB, sqlite3_stmt* pVM) : connection(pDB), statement(pVM) {}

CppSQLite3Statement::CppSQLite3Statement(CppSQLite3Statement&& rStatement) noexcept
    : connection(std::exchange(rStatement.connection, nullptr)),
      statement(std::exchange(rStatement.statement, nullptr)) {}

CppSQLite3Statement& CppSQLite3Statement::operator=(CppSQLite3Statement&& rStatement) noexcept {
    if (this != &rStatement) {
        // Dropping the old handle without finalizing it would leak it and keep the connection
        // from closing.
        try {
            finalize();
        } catch (...) {
        }
        connection = std::exchange(rStatement.connection, nullptr);
        statement = std::exchange(rStatement.statement, nullptr);
    }
    return *this;
}

CppSQLite3Statement::~CppSQLite3Statement() {
    try {
        finalize();
    } catch (...) {
    }
}

void CppSQLite3Statement::checkDB() const {
    if (!connection) throw_wrapper("Database not open");
}

void CppSQLite3Statement::checkVM() const {
    if (!statement) throw_wrapper("Null Virtual Machine pointer");
}

int CppSQLite3Statement::execDML() {
    checkDB();
    checkVM();
    const int rc = sqlite3_step(statement);
    if (rc == SQLITE_DONE) {
        const int changes = sqlite3_changes(connection);
        const int reset = sqlite3_reset(statement);
        if (reset != SQLITE_OK) throw CppSQLite3Exception(reset, sqlite3_errmsg(connection));
        return changes;
    }
    const int reset = sqlite3_reset(statement);
    // A statement that yields a row resets with OK; the step's code keeps the error from
    // reading as success.
    throw CppSQLite3Exception(reset != SQLITE_OK ? reset : rc, sqlite3_errmsg(connection));
}

CppSQLite3Query CppSQLite3Statement::execQuery() {
    checkDB();
    checkVM();
    const int rc = sqlite3_step(statement);
    if (rc == SQLITE_DONE) return CppSQLite3Query(connection, statement, true, false);
    if (rc == SQLITE_ROW) return CppSQLite3Query(connection, statement, false, false);
    const int reset = sqlite3_reset(statement);
    throw CppSQLite3Exception(reset != SQLITE_OK ? reset : rc, sqlite3_errmsg(connection));
}

void CppSQLite3Statement::bind(int nParam, const char* szValue) {
    checkVM();
    const int rc = sqlite3_bind_text(statement, nParam, szValue, -1, SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, "Error binding string param");
}

void CppSQLite3Statement::bind(int nParam, const int nValue) {
    checkVM();
    const int rc = sqlite3_bind_int(statement, nParam, nValue);
    if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, "Error binding int param");
}

void CppSQLite3Statement::bind(int nParam, const double dwValue) {
    checkVM();
    const int rc = sqlite3_bind_double(statement, nParam, dwValue);
    if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, "Error binding double param");
}

void CppSQLite3Statement::bind(int nParam, const unsigned char* blobValue, int nLen) {
    checkVM();
    const int rc = sqlite3_bind_blob(statement, nParam, blobValue, nLen, SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, "Error binding blob param");
}

void CppSQLite3Statement::bindNull(int nParam) {
    checkVM();
    const int rc = sqlite3_bind_null(statement, nParam);
    if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, "Error binding NULL param");
}

int CppSQLite3Statement::bindParameterIndex(const char* szParam) {
    checkVM();
    const int index = sqlite3_bind_parameter_index(statement, szParam);
    if (index == 0) {
        // Sized to the name, however long it is.
        char* text = sqlite3_mprintf("Parameter '%s' is not valid for this statement", szParam);
        throw CppSQLite3Exception(CPPSQLITE_ERROR, text, true);
    }
    return index;
}

void CppSQLite3Statement::bind(const char* szParam, const char* szValue) {
    bind(bindParameterIndex(szParam), szValue);
}

void CppSQLite3Statement::bind(const char* szParam, const int nValue) { bind(bindParameterIndex(szParam), nValue); }

void CppSQLite3Statement::bind(const char* szParam, const double dwValue) {
    bind(bindParameterIndex(szParam), dwValue);
}

void CppSQLite3Statement::bind(const char* szParam, const unsigned char* blobValue, int nLen) {
    bind(bindParameterIndex(szParam), blobValue, nLen);
}

void CppSQLite3Statement::bindNull(const char* szParam) { bindNull(bindParameterIndex(szParam)); }

void CppSQLite3Statement::reset() {
    if (statement) {
        const int rc = sqlite3_reset(statement);
        if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, sqlite3_errmsg(connection));
    }
}

void CppSQLite3Statement::finalize() {
    if (statement) {
        const int rc = sqlite3_finalize(statement);
        statement = nullptr;
        if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, sqlite3_errmsg(connection));
    }
}
