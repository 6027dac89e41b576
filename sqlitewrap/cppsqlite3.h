// cppsqlite3.h -- an object face on the SQLite 3 C interface.
//
// CppSQLite3DB owns one connection, CppSQLite3Query walks the rows of one prepared statement,
// CppSQLite3Table holds a whole result as strings, CppSQLite3Statement runs a prepared statement
// with bound parameters. CppSQLite3Buffer owns one string from SQLite's formatter (so "%q" and "%Q"
// are available to build SQL), and CppSQLite3Binary with sqlite3_encode_binary /
// sqlite3_decode_binary stores arbitrary bytes as a text value holding no zero byte and no
// apostrophe.
//
// Every failure is thrown as CppSQLite3Exception: the SQLite result code (or 1000 for errors the
// wrapper detects itself) and the message "<code name>[<code>]: <text>". Nothing is reported
// through return values.
//
// Ownership: a query, table or statement hands what it owns to the object it is moved into; the
// source is left holding nothing. A database object and a statement object are never copied.
// Declare a CppSQLite3DB before the queries and statements on its connection: sqlite3_close fails
// while any statement of the connection is alive.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string>

// Code carried by every error the wrapper detects itself.
inline constexpr int CPPSQLITE_ERROR = 1000;

class CppSQLite3Exception {
public:
    // Builds "%s[%d]: %s" from the code's name, the code and szErrMess (null prints as nothing).
    // With bDeleteMsg, szErrMess came from SQLite (sqlite3_exec, sqlite3_get_table, sqlite3_mprintf)
    // and is released here with sqlite3_free.
    CppSQLite3Exception(const int nErrCode, const char* szErrMess, bool bDeleteMsg = false);
    CppSQLite3Exception(const CppSQLite3Exception& e);
    CppSQLite3Exception& operator=(const CppSQLite3Exception& e);
    virtual ~CppSQLite3Exception();

    int errorCode() const { return code; }
    // Never null, even when formatting the message ran out of memory.
    const char* errorMessage() const;

    static const char* errorCodeAsString(int nErrCode);

private:
    int code;
    char* message;  // from sqlite3_mprintf, or null
};

// errorMessage() of the CppSQLite3Exception being handled, or nothing for an exception of another
// kind; only inside a catch block. A program hands it to korvane::add_exception_describer so that
// its boundaries name SQLite's failures too (this layer knows nothing of the engine).
std::optional<std::string> describe_sqlite_exception();

class CppSQLite3Buffer {
public:
    CppSQLite3Buffer() = default;
    ~CppSQLite3Buffer();
    CppSQLite3Buffer(const CppSQLite3Buffer&) = delete;
    CppSQLite3Buffer& operator=(const CppSQLite3Buffer&) = delete;

    // Releases the held string, formats with sqlite3_vmprintf and keeps the result. A failed format
    // (out of memory, too big) leaves null, which every CppSQLite3DB operation rejects with code 7.
    const char* format(const char* szFormat, ...);
    operator const char*() const { return text; }
    void clear();

private:
    char* text = nullptr;
};

class CppSQLite3Binary {
public:
    CppSQLite3Binary() = default;
    ~CppSQLite3Binary();
    CppSQLite3Binary(const CppSQLite3Binary&) = delete;
    CppSQLite3Binary& operator=(const CppSQLite3Binary&) = delete;

    void setBinary(const unsigned char* pBuf, int nLen);
    void setEncoded(const unsigned char* pBuf);
    const unsigned char* getEncoded();
    const unsigned char* getBinary();
    int getBinaryLength();
    // Room for nLen raw bytes and for their encoding: (257 * nLen) / 254 + 3 bytes.
    unsigned char* allocBuffer(int nLen);
    void clear();

private:
    unsigned char* data = nullptr;  // raw bytes or their encoded text, never both
    int binaryLength = 0;
    int bufferLength = 0;
    int encodedLength = 0;
    bool encoded = false;
};

// Encodes n bytes of in into out and returns the bytes written before the terminating zero.
// out needs (257 * n) / 254 + 3 bytes and must not overlap in.
int sqlite3_encode_binary(const unsigned char* in, int n, unsigned char* out);
// Decodes the zero-terminated text in into out; returns the bytes written, or -1 when malformed.
// out may equal in. An empty or null text decodes to 0 bytes.
int sqlite3_decode_binary(const unsigned char* in, unsigned char* out);

class CppSQLite3Query {
public:
    CppSQLite3Query() = default;
    CppSQLite3Query(sqlite3* pDB, sqlite3_stmt* pVM, bool bEof, bool bOwnVM = true);
    CppSQLite3Query(CppSQLite3Query&& rQuery) noexcept;
    CppSQLite3Query& operator=(CppSQLite3Query&& rQuery) noexcept;
    virtual ~CppSQLite3Query();

    int numFields() const;
    int fieldIndex(const char* szField) const;
    const char* fieldName(int nCol) const;
    const char* fieldDeclType(int nCol) const;
    int fieldDataType(int nCol) const;

    const char* fieldValue(int nField) const;
    const char* fieldValue(const char* szField) const;

    int getIntField(int nField, int nNullValue = 0) const;
    int getIntField(const char* szField, int nNullValue = 0) const;
    sqlite_int64 getInt64Field(int nField, sqlite_int64 nNullValue = 0) const;
    sqlite_int64 getInt64Field(const char* szField, sqlite_int64 nNullValue = 0) const;
    double getFloatField(int nField, double fNullValue = 0.0) const;
    double getFloatField(const char* szField, double fNullValue = 0.0) const;
    const char* getStringField(int nField, const char* szNullValue = "") const;
    const char* getStringField(const char* szField, const char* szNullValue = "") const;
    const unsigned char* getBlobField(int nField, int& nLen) const;
    const unsigned char* getBlobField(const char* szField, int& nLen) const;

    bool fieldIsNull(int nField) const;
    bool fieldIsNull(const char* szField) const;

    bool eof() const;
    void nextRow();
    void finalize();

private:
    void checkVM() const;
    void checkIndex(int nField) const;

    sqlite3* connection = nullptr;
    sqlite3_stmt* statement = nullptr;
    bool atEnd = true;
    int columnCount = 0;
    bool ownsStatement = false;
};

class CppSQLite3Table {
public:
    CppSQLite3Table() = default;
    CppSQLite3Table(char** paszResults, int nRows, int nCols);
    CppSQLite3Table(CppSQLite3Table&& rTable) noexcept;
    CppSQLite3Table& operator=(CppSQLite3Table&& rTable) noexcept;
    virtual ~CppSQLite3Table();

    int numFields() const;
    int numRows() const;
    const char* fieldName(int nCol) const;

    const char* fieldValue(int nField) const;
    const char* fieldValue(const char* szField) const;

    int getIntField(int nField, int nNullValue = 0) const;
    int getIntField(const char* szField, int nNullValue = 0) const;
    double getFloatField(int nField, double fNullValue = 0.0) const;
    double getFloatField(const char* szField, double fNullValue = 0.0) const;
    const char* getStringField(int nField, const char* szNullValue = "") const;
    const char* getStringField(const char* szField, const char* szNullValue = "") const;

    bool fieldIsNull(int nField) const;
    bool fieldIsNull(const char* szField) const;

    void setRow(int nRow);
    void finalize();

private:
    void checkResults() const;

    int columnCount = 0;
    int rowCount = 0;
    int currentRow = 0;
    char** results = nullptr;  // from sqlite3_get_table: header row, then the data rows
};

class CppSQLite3Statement {
public:
    CppSQLite3Statement() = default;
    CppSQLite3Statement(sqlite3* pDB, sqlite3_stmt* pVM);
    CppSQLite3Statement(CppSQLite3Statement&& rStatement) noexcept;
    CppSQLite3Statement& operator=(CppSQLite3Statement&& rStatement) noexcept;
    CppSQLite3Statement(const CppSQLite3Statement&) = delete;
    CppSQLite3Statement& operator=(const CppSQLite3Statement&) = delete;
    virtual ~CppSQLite3Statement();

    int execDML();
    // The query does not own the statement: finalize the statement object, not the query.
    CppSQLite3Query execQuery();

    void bind(int nParam, const char* szValue);
    void bind(int nParam, const int nValue);
    void bind(int nParam, const double dwValue);
    void bind(int nParam, const unsigned char* blobValue, int nLen);
    void bindNull(int nParam);

    int bindParameterIndex(const char* szParam);
    void bind(const char* szParam, const char* szValue);
    void bind(const char* szParam, const int nValue);
    void bind(const char* szParam, const double dwValue);
    void bind(const char* szParam, const unsigned char* blobValue, int nLen);
    void bindNull(const char* szParam);

    void reset();
    void finalize();

private:
    void checkDB() const;
    void checkVM() const;

    sqlite3* connection = nullptr;
    sqlite3_stmt* statement = nullptr;
};

class CppSQLite3DB {
public:
    CppSQLite3DB() = default;
    CppSQLite3DB(const CppSQLite3DB&) = delete;
    CppSQLite3DB& operator=(const CppSQLite3DB&) = delete;
    virtual ~CppSQLite3DB();

    // An object that already holds a connection closes it first.
    void open(const char* szFile);
    void close();

    bool tableExists(const char* szTable);
    int execDML(const char* szSQL);
    CppSQLite3Query execQuery(const char* szSQL);
    int execScalar(const char* szSQL, int nNullValue = 0);
    CppSQLite3Table getTable(const char* szSQL);
    CppSQLite3Statement compileStatement(const char* szSQL);

    sqlite_int64 lastRowId();
    // Applied at once when open, and at every later open.
    void setBusyTimeout(int nMillisecs);
    bool IsAutoCommitOn();

private:
    void checkDB() const;
    void checkSQL(const char* szSQL) const;
    sqlite3_stmt* compile(const char* szSQL);

    sqlite3* connection = nullptr;
    int busyTimeoutMs = 60000;
};
