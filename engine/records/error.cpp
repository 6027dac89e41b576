#include "engine/records/error.h"

#include <exception>

#include "sqlitewrap/cppsqlite3.h"

namespace korvane {

namespace {
std::string or_unknown(std::string text) { return text.empty() ? "unknown error" : text; }
}  // namespace

std::string describe_current_exception() {
    try {
        throw;
    } catch (const CppSQLite3Exception& e) {
        return or_unknown(e.errorMessage());
    } catch (const std::exception& e) {
        return or_unknown(e.what());
    } catch (const std::string& s) {
        return or_unknown(s);
    } catch (const char* s) {
        return or_unknown(s ? s : "");
    } catch (...) {
        return "unknown error";
    }
}

}  // namespace korvane
