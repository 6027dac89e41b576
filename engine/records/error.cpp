#include "engine/records/error.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <vector>

namespace korvane {

namespace {

std::string or_unknown(std::string text) { return text.empty() ? "unknown error" : text; }

// A worker may describe its failure while another thread adds a describer.
std::mutex describers_mutex;

std::vector<ExceptionDescriber>& describers() {
    static std::vector<ExceptionDescriber> list;
    return list;
}

std::vector<ExceptionDescriber> added_describers() {
    const std::lock_guard lock(describers_mutex);
    return describers();
}

}  // namespace

void add_exception_describer(ExceptionDescriber describer) {
    const std::lock_guard lock(describers_mutex);
    auto& list = describers();
    if (describer && std::find(list.begin(), list.end(), describer) == list.end()) list.push_back(describer);
}

std::string describe_current_exception() {
    for (const ExceptionDescriber describer : added_describers())
        if (std::optional<std::string> text = describer()) return or_unknown(std::move(*text));
    try {
        throw;
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
