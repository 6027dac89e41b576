#include "workbench/engine/run_outcome.h"

#include <algorithm>

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

}  // namespace korvane::wb
