#include "engine/records/error.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <string>

#include "engine/records/reference_tables.h"
#include "sqlitewrap/cppsqlite3.h"

namespace {

std::string describe(const std::function<void()>& thrower) {
    try {
        thrower();
    } catch (...) {
        return korvane::describe_current_exception();
    }
    return "nothing thrown";
}

// Every kind the engine throws reaches a boundary as its own text; only what carries none is
// "unknown error", never a blank message.
TEST(DescribeCurrentException, EachKindOfThrowGivesItsText) {
    korvane::add_exception_describer(describe_sqlite_exception);  // as the programs' mains do
    const struct {
        const char* name;
        std::function<void()> thrower;
        std::string text;
    } rows[] = {
        {"project error", [] { throw korvane::TableOpenError("HMDB_file could not be opened: /x/hmdb.csv"); },
         "HMDB_file could not be opened: /x/hmdb.csv"},
        {"standard exception", [] { throw std::out_of_range("vector::_M_range_check"); }, "vector::_M_range_check"},
        {"SQLite", [] { throw CppSQLite3Exception(5, "database is locked"); }, "SQLITE_BUSY[5]: database is locked"},
        {"std::string", [] { throw std::string("libnetcdf.so doesn't exist"); }, "libnetcdf.so doesn't exist"},
        {"C string", [] { throw "no memory for the header"; }, "no memory for the header"},
        {"null C string", [] { throw static_cast<const char*>(nullptr); }, "unknown error"},
        {"empty what()", [] { throw std::runtime_error(""); }, "unknown error"},
        {"empty std::string", [] { throw std::string(); }, "unknown error"},
        {"an int", [] { throw 42; }, "unknown error"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(describe(row.thrower), row.text);
    }
}

}  // namespace
