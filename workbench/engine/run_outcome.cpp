#include "workbench/engine/run_outcome.h"

#include <algorithm>
#include <cctype>

namespace korvane::wb {

std::string completion_message(const std::string& run_name, const Run_Outcome& outcome) {
    if (outcome.skipped.empty()) return run_name + " completed!";
    const std::size_t total = std::max(outcome.total, outcome.skipped.size());
    std::string text = run_name + " completed: " + std::to_string(total - outcome.skipped.size()) + " of " +
                       std::to_string(total) + " samples processed. Skipped: ";
    for (std::size_t i = 0; i < outcome.skipped.size(); ++i) {
        if (i > 0) text += "; ";
        text += outcome.skipped[i].file + " (" + outcome.skipped[i].reason + ")";
    }
    return text;
}

bool note_skipped_summary(const std::string& line, Run_Outcome& outcome) {
    std::vector<Skipped_Sample> skipped;
    std::size_t total = 0;
    if (!parse_skipped_summary(line, skipped, total)) return false;
    outcome.total = std::max(outcome.total, total);
    for (Skipped_Sample& s : skipped) {
        const bool known = std::any_of(outcome.skipped.begin(), outcome.skipped.end(), [&](const Skipped_Sample& k) {
            return k.file == s.file && k.reason == s.reason;
        });
        if (!known) outcome.skipped.push_back(std::move(s));
    }
    return true;
}

namespace {

bool starts_with(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

// The pipeline's error line without its program name and its "error in process <n>: " or
// "error: ": the rest names the file and the problem.
std::string pipeline_error_text(std::string line) {
    line.erase(0, std::string("KORVANE_Pipeline: ").size());
    if (starts_with(line, "error in process ")) {
        const std::size_t colon = line.find(": ");
        if (colon != std::string::npos) return line.substr(colon + 2);
    }
    if (starts_with(line, "error: ")) return line.substr(7);
    return line;
}

// A blank line or a rule of dashes ends a paragraph of the launcher's text (or comes before it).
bool is_break(const std::string& line) {
    return std::all_of(line.begin(), line.end(), [](unsigned char c) { return std::isspace(c) || c == '-'; });
}

}  // namespace

void Failure_Reader::add(const std::string& line) {
    if (starts_with(line, "KORVANE_Pipeline: ")) {
        if (pipeline_.empty()) pipeline_ = pipeline_error_text(line);
        return;
    }
    if (launcher_done_ || line.find(" skipped") != std::string::npos) return;
    if (is_break(line)) {
        launcher_done_ = !launcher_.empty();
        return;
    }
    // One paragraph is enough to say what went wrong; the launcher's advice after it is not.
    constexpr std::size_t kLongest = 300;
    if (!launcher_.empty()) launcher_ += ' ';
    launcher_ += line.substr(line.find_first_not_of(" \t"));
    if (launcher_.size() > kLongest) {
        launcher_ = launcher_.substr(0, kLongest) + "...";
        launcher_done_ = true;
    }
}

}  // namespace korvane::wb
