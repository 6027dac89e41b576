// Runs a call that must throw CppSQLite3Exception and checks its code and full message.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "sqlitewrap/cppsqlite3.h"

namespace korvane::test {

template <class Call>
void expect_sqlite_error(Call&& call, int code, const std::string& message) {
    try {
        call();
        ADD_FAILURE() << "no exception; expected " << message;
    } catch (const CppSQLite3Exception& e) {
        EXPECT_EQ(e.errorCode(), code);
        EXPECT_EQ(std::string(e.errorMessage()), message);
    }
}

// While alive, every allocation through SQLite's allocator fails.
class SqliteOutOfMemory {
public:
    SqliteOutOfMemory() { previous_ = sqlite3_hard_heap_limit64(1); }
    ~SqliteOutOfMemory() { sqlite3_hard_heap_limit64(previous_); }
    SqliteOutOfMemory(const SqliteOutOfMemory&) = delete;
    SqliteOutOfMemory& operator=(const SqliteOutOfMemory&) = delete;

private:
    sqlite3_int64 previous_ = 0;
};

}  // namespace korvane::test
