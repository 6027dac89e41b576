// The project's own exceptions and the one text every boundary (main, a Qt slot, a worker) gives
// for whatever reached it.
#pragma once

#include <optional>
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

// The message of the exception being handled: the text of the first added describer that knows
// it, else what() of a std::exception, a thrown std::string or C string itself, "unknown error"
// for anything else (and for an empty text, which would show as a blank failure). Call it only
// inside a catch block.
std::string describe_current_exception();

// Names a kind of exception that the records cannot see, such as SQLite's CppSQLite3Exception
// (the records build on no other layer): the text, or nothing when the exception being handled is
// of another kind. It is called inside the boundary's catch block and rethrows to look.
using ExceptionDescriber = std::optional<std::string> (*)();

// Adds a describer that describe_current_exception asks, in the order added, before the standard
// kinds. Each program adds those of the layers it links, in main, before its first boundary can
// be reached; adding one twice keeps one.
void add_exception_describer(ExceptionDescriber describer);

}  // namespace korvane
