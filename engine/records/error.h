// The project's own exceptions and the one text every boundary (main, a Qt slot, a worker) gives
// for whatever reached it.
#pragma once

#include <stdexcept>
#include <string>

namespace korvane {

// Base of every exception class of this project; what() is the whole message a user sees. Some
// readers still throw a plain std::string and SQLite its CppSQLite3Exception, so a boundary
// catches with describe_current_exception rather than with this type alone.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The message of the exception being handled: CppSQLite3Exception's error message, what() of a
// std::exception, a thrown std::string or C string itself, "unknown error" for anything else
// (and for an empty text, which would show as a blank failure). Call it only inside a catch block.
std::string describe_current_exception();

}  // namespace korvane
