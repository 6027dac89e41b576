// CppSQLite3Exception and CppSQLite3Buffer: the two owners of strings from SQLite's formatter.
#include "sqlitewrap/cppsqlite3.h"

#include <cstdarg>

CppSQLite3Exception::CppSQLite3Exception(const int nErrCode, const char* szErrMess, bool bDeleteMsg)
    : code(nErrCode),
      message(sqlite3_mprintf("%s[%d]: %s", errorCodeAsString(nErrCode), nErrCode,
                              szErrMess ? szErrMess : "")) {
    if (bDeleteMsg && szErrMess) sqlite3_free(const_cast<char*>(szErrMess));
}

CppSQLite3Exception::CppSQLite3Exception(const CppSQLite3Exception& e)
    : code(e.code), message(e.message ? sqlite3_mprintf("%s", e.message) : nullptr) {}

CppSQLite3Exception& CppSQLite3Exception::operator=(const CppSQLite3Exception& e) {
    if (this != &e) {
        char* copy = e.message ? sqlite3_mprintf("%s", e.message) : nullptr;
        sqlite3_free(message);
        message = copy;
        code = e.code;
    }
    return *this;
}

CppSQLite3Exception::~CppSQLite3Exception() {
    if (message) sqlite3_free(message);
}

const char* CppSQLite3Exception::errorMessage() const {
    // The message is null only when SQLite could not allocate it; the code's name still tells
    // the caller what went wrong.
    return message ? message : errorCodeAsString(code);
}

std::optional<std::string> describe_sqlite_exception() {
    try {
        throw;
    } catch (const CppSQLite3Exception& e) {
        return e.errorMessage();
    } catch (...) {
        return std::nullopt;
    }
}

const char* CppSQLite3Exception::errorCodeAsString(int nErrCode) {
    switch (nErrCode) {
        case SQLITE_OK: return "SQLITE_OK";
        case SQLITE_ERROR: return "SQLITE_ERROR";
        case SQLITE_INTERNAL: return "SQLITE_INTERNAL";
        case SQLITE_PERM: return "SQLITE_PERM";
        case SQLITE_ABORT: return "SQLITE_ABORT";
        case SQLITE_BUSY: return "SQLITE_BUSY";
        case SQLITE_LOCKED: return "SQLITE_LOCKED";
        case SQLITE_NOMEM: return "SQLITE_NOMEM";
        case SQLITE_READONLY: return "SQLITE_READONLY";
        case SQLITE_INTERRUPT: return "SQLITE_INTERRUPT";
        case SQLITE_IOERR: return "SQLITE_IOERR";
        case SQLITE_CORRUPT: return "SQLITE_CORRUPT";
        case SQLITE_NOTFOUND: return "SQLITE_NOTFOUND";
        case SQLITE_FULL: return "SQLITE_FULL";
        case SQLITE_CANTOPEN: return "SQLITE_CANTOPEN";
        case SQLITE_PROTOCOL: return "SQLITE_PROTOCOL";
        case SQLITE_EMPTY: return "SQLITE_EMPTY";
        case SQLITE_SCHEMA: return "SQLITE_SCHEMA";
        case SQLITE_TOOBIG: return "SQLITE_TOOBIG";
        case SQLITE_CONSTRAINT: return "SQLITE_CONSTRAINT";
        case SQLITE_MISMATCH: return "SQLITE_MISMATCH";
        case SQLITE_MISUSE: return "SQLITE_MISUSE";
        case SQLITE_NOLFS: return "SQLITE_NOLFS";
        case SQLITE_AUTH: return "SQLITE_AUTH";
        case SQLITE_FORMAT: return "SQLITE_FORMAT";
        case SQLITE_RANGE: return "SQLITE_RANGE";
        case SQLITE_ROW: return "SQLITE_ROW";
        case SQLITE_DONE: return "SQLITE_DONE";
        case CPPSQLITE_ERROR: return "CPPSQLITE_ERROR";
        default: return "UNKNOWN_ERROR";
    }
}

CppSQLite3Buffer::~CppSQLite3Buffer() { clear(); }

void CppSQLite3Buffer::clear() {
    if (text) {
        sqlite3_free(text);
        text = nullptr;
    }
}

const char* CppSQLite3Buffer::format(const char* szFormat, ...) {
    clear();
    va_list va;
    va_start(va, szFormat);
    text = sqlite3_vmprintf(szFormat, va);
    va_end(va);
    return text;
}
