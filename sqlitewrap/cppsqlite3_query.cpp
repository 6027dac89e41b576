// CppSQLite3Query (rows of one prepared statement) and CppSQLite3Table (a whole result in memory).
#include "sqlitewrap/cppsqlite3.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>
#include <utility>

namespace {

[[noreturn]] void throw_wrapper(const char* text) { throw CppSQLite3Exception(CPPSQLITE_ERROR, text); }

// Leading integer of a text as atoi reads it, but clamped instead of undefined on overflow.
int leading_int(const char* text) {
    errno = 0;
    const long long v = std::strtoll(text, nullptr, 10);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The leading decimal number of a text: blanks, an optional sign, digits with an optional point,
// an optional exponent; anything after it is ignored and no number gives 0. Plain strtod would
// also take hexadecimal, "inf" and "nan", and would read the point by LC_NUMERIC, which a desktop
// program may have set to a comma-decimal locale while SQLite always writes a point.
double leading_double(const char* text) {
    std::size_t i = 0;
    while (is_blank(text[i])) ++i;
    const std::size_t begin = i;
    if (text[i] == '+' || text[i] == '-') ++i;
    std::size_t digits = 0;
    while (is_digit(text[i])) ++i, ++digits;
    if (text[i] == '.') {
        ++i;
        while (is_digit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return 0.0;
    if (text[i] == 'e' || text[i] == 'E') {
        std::size_t j = i + 1;
        if (text[j] == '+' || text[j] == '-') ++j;
        if (is_digit(text[j])) {
            while (is_digit(text[j])) ++j;
            i = j;
        }
    }
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const std::string number(text + begin, i - begin);
    return strtod_l(number.c_str(), nullptr, c_locale);
}

}  // namespace

// ---- CppSQLite3Query

CppSQLite3Query::CppSQLite3Query(sqlite3* pDB, sqlite3_stmt* pVM, bool bEof, bool bOwnVM)
    : connection(pDB), statement(pVM), atEnd(bEof), columnCount(sqlite3_column_count(pVM)),
      ownsStatement(bOwnVM) {}

CppSQLite3Query::CppSQLite3Query(CppSQLite3Query&& rQuery) noexcept
    : connection(rQuery.connection), statement(std::exchange(rQuery.statement, nullptr)),
      atEnd(rQuery.atEnd), columnCount(rQuery.columnCount),
      ownsStatement(std::exchange(rQuery.ownsStatement, false)) {}

CppSQLite3Query& CppSQLite3Query::operator=(CppSQLite3Query&& rQuery) noexcept {
    if (this != &rQuery) {
        try {
            finalize();
        } catch (...) {
        }
        connection = rQuery.connection;
        statement = std::exchange(rQuery.statement, nullptr);
        atEnd = rQuery.atEnd;
        columnCount = rQuery.columnCount;
        ownsStatement = std::exchange(rQuery.ownsStatement, false);
    }
    return *this;
}

CppSQLite3Query::~CppSQLite3Query() {
    try {
        finalize();
    } catch (...) {
    }
}

void CppSQLite3Query::checkVM() const {
    if (!statement) throw_wrapper("Null Virtual Machine pointer");
}

void CppSQLite3Query::checkIndex(int nField) const {
    checkVM();
    if (nField < 0 || nField >= columnCount) throw_wrapper("Invalid field index requested");
}

int CppSQLite3Query::numFields() const {
    checkVM();
    return columnCount;
}

int CppSQLite3Query::fieldIndex(const char* szField) const {
    checkVM();
    if (szField) {
        for (int i = 0; i < columnCount; ++i) {
            const char* name = sqlite3_column_name(statement, i);
            if (name && std::strcmp(szField, name) == 0) return i;
        }
    }
    throw_wrapper("Invalid field name requested");
}

const char* CppSQLite3Query::fieldName(int nCol) const {
    checkIndex(nCol);
    return sqlite3_column_name(statement, nCol);
}

const char* CppSQLite3Query::fieldDeclType(int nCol) const {
    checkIndex(nCol);
    return sqlite3_column_decltype(statement, nCol);
}

int CppSQLite3Query::fieldDataType(int nCol) const {
    checkIndex(nCol);
    return sqlite3_column_type(statement, nCol);
}

const char* CppSQLite3Query::fieldValue(int nField) const {
    checkIndex(nField);
    return reinterpret_cast<const char*>(sqlite3_column_text(statement, nField));
}

const char* CppSQLite3Query::fieldValue(const char* szField) const {
    const int nField = fieldIndex(szField);
    return reinterpret_cast<const char*>(sqlite3_column_text(statement, nField));
}

int CppSQLite3Query::getIntField(int nField, int nNullValue) const {
    if (fieldDataType(nField) == SQLITE_NULL) return nNullValue;
    return sqlite3_column_int(statement, nField);
}

int CppSQLite3Query::getIntField(const char* szField, int nNullValue) const {
    return getIntField(fieldIndex(szField), nNullValue);
}

sqlite_int64 CppSQLite3Query::getInt64Field(int nField, sqlite_int64 nNullValue) const {
    if (fieldDataType(nField) == SQLITE_NULL) return nNullValue;
    return sqlite3_column_int64(statement, nField);
}

sqlite_int64 CppSQLite3Query::getInt64Field(const char* szField, sqlite_int64 nNullValue) const {
    return getInt64Field(fieldIndex(szField), nNullValue);
}

double CppSQLite3Query::getFloatField(int nField, double fNullValue) const {
    if (fieldDataType(nField) == SQLITE_NULL) return fNullValue;
    return sqlite3_column_double(statement, nField);
}

double CppSQLite3Query::getFloatField(const char* szField, double fNullValue) const {
    return getFloatField(fieldIndex(szField), fNullValue);
}

const char* CppSQLite3Query::getStringField(int nField, const char* szNullValue) const {
    if (fieldDataType(nField) == SQLITE_NULL) return szNullValue;
    return reinterpret_cast<const char*>(sqlite3_column_text(statement, nField));
}

const char* CppSQLite3Query::getStringField(const char* szField, const char* szNullValue) const {
    return getStringField(fieldIndex(szField), szNullValue);
}

const unsigned char* CppSQLite3Query::getBlobField(int nField, int& nLen) const {
    checkIndex(nField);
    nLen = sqlite3_column_bytes(statement, nField);
    return static_cast<const unsigned char*>(sqlite3_column_blob(statement, nField));
}

const unsigned char* CppSQLite3Query::getBlobField(const char* szField, int& nLen) const {
    return getBlobField(fieldIndex(szField), nLen);
}

bool CppSQLite3Query::fieldIsNull(int nField) const { return fieldDataType(nField) == SQLITE_NULL; }

bool CppSQLite3Query::fieldIsNull(const char* szField) const { return fieldIsNull(fieldIndex(szField)); }

bool CppSQLite3Query::eof() const {
    checkVM();
    return atEnd;
}

void CppSQLite3Query::nextRow() {
    checkVM();
    const int rc = sqlite3_step(statement);
    if (rc == SQLITE_DONE) {
        atEnd = true;
        return;
    }
    if (rc == SQLITE_ROW) {
        atEnd = false;
        return;
    }
    // A statement lent by a CppSQLite3Statement is only reset: finalizing it here would leave the
    // statement object to finalize it a second time.
    const int result = ownsStatement ? sqlite3_finalize(statement) : sqlite3_reset(statement);
    statement = nullptr;
    ownsStatement = false;
    throw CppSQLite3Exception(result != SQLITE_OK ? result : rc, sqlite3_errmsg(connection));
}

void CppSQLite3Query::finalize() {
    if (statement && ownsStatement) {
        const int rc = sqlite3_finalize(statement);
        statement = nullptr;
        if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, sqlite3_errmsg(connection));
    }
}

// ---- CppSQLite3Table

CppSQLite3Table::CppSQLite3Table(char** paszResults, int nRows, int nCols)
    : columnCount(nCols), rowCount(nRows), currentRow(0), results(paszResults) {}

CppSQLite3Table::CppSQLite3Table(CppSQLite3Table&& rTable) noexcept
    : columnCount(rTable.columnCount), rowCount(rTable.rowCount), currentRow(rTable.currentRow),
      results(std::exchange(rTable.results, nullptr)) {}

CppSQLite3Table& CppSQLite3Table::operator=(CppSQLite3Table&& rTable) noexcept {
    if (this != &rTable) {
        finalize();
        columnCount = rTable.columnCount;
        rowCount = rTable.rowCount;
        currentRow = rTable.currentRow;
        results = std::exchange(rTable.results, nullptr);
    }
    return *this;
}

CppSQLite3Table::~CppSQLite3Table() { finalize(); }

void CppSQLite3Table::finalize() {
    if (results) {
        sqlite3_free_table(results);
        results = nullptr;
    }
}

void CppSQLite3Table::checkResults() const {
    if (!results) throw_wrapper("Null Results pointer");
}

int CppSQLite3Table::numFields() const {
    checkResults();
    return columnCount;
}

int CppSQLite3Table::numRows() const {
    checkResults();
    return rowCount;
}

const char* CppSQLite3Table::fieldName(int nCol) const {
    checkResults();
    if (nCol < 0 || nCol >= columnCount) throw_wrapper("Invalid field index requested");
    return results[nCol];
}

const char* CppSQLite3Table::fieldValue(int nField) const {
    checkResults();
    if (nField < 0 || nField >= columnCount) throw_wrapper("Invalid field index requested");
    // A result without rows can still carry its header (PRAGMA empty_result_callbacks); row 0 is
    // then current but does not exist, and reading it would run past the array.
    if (currentRow >= rowCount) throw_wrapper("Invalid row index requested");
    return results[(currentRow + 1) * columnCount + nField];
}

const char* CppSQLite3Table::fieldValue(const char* szField) const {
    checkResults();
    if (szField) {
        for (int i = 0; i < columnCount; ++i) {
            if (results[i] && std::strcmp(szField, results[i]) == 0) return fieldValue(i);
        }
    }
    throw_wrapper("Invalid field name requested");
}

int CppSQLite3Table::getIntField(int nField, int nNullValue) const {
    const char* text = fieldValue(nField);
    return text ? leading_int(text) : nNullValue;
}

int CppSQLite3Table::getIntField(const char* szField, int nNullValue) const {
    const char* text = fieldValue(szField);
    return text ? leading_int(text) : nNullValue;
}

double CppSQLite3Table::getFloatField(int nField, double fNullValue) const {
    const char* text = fieldValue(nField);
    return text ? leading_double(text) : fNullValue;
}

double CppSQLite3Table::getFloatField(const char* szField, double fNullValue) const {
    const char* text = fieldValue(szField);
    return text ? leading_double(text) : fNullValue;
}

const char* CppSQLite3Table::getStringField(int nField, const char* szNullValue) const {
    const char* text = fieldValue(nField);
    return text ? text : szNullValue;
}

const char* CppSQLite3Table::getStringField(const char* szField, const char* szNullValue) const {
    const char* text = fieldValue(szField);
    return text ? text : szNullValue;
}

bool CppSQLite3Table::fieldIsNull(int nField) const { return fieldValue(nField) == nullptr; }

bool CppSQLite3Table::fieldIsNull(const char* szField) const { return fieldValue(szField) == nullptr; }

void CppSQLite3Table::setRow(int nRow) {
    checkResults();
    if (nRow < 0 || nRow >= rowCount) throw_wrapper("Invalid row index requested");
    currentRow = nRow;
}
