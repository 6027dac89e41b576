#include "engine/records/result_file.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string_view>
#include <utility>

#include "engine/records/error.h"

namespace {

// The temporaries alive in this process, in a form a signal handler may read: fixed slots with
// fixed room, each published by its state only once its paths are in place. A temporary that finds
// no slot is still removed on an error, only not on a signal.
constexpr int kSlots = 16;
constexpr std::size_t kRoom = 4096;
enum : int { kFree, kFilling, kLive };

struct Slot {
    std::atomic<int> state{kFree};
    char temporary[kRoom];
    char journal[kRoom];
};
Slot g_slots[kSlots];

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGPIPE};
struct sigaction g_previous[std::size(kSignals)];

// Only async-signal-safe calls: unlink, sigaction, raise.
extern "C" void remove_live_temporaries(int signal_number) {
    for (Slot& s : g_slots) {
        if (s.state.load() != kLive) continue;
        unlink(s.temporary);
        unlink(s.journal);
    }
    // The signal then takes the course it had before: by default it ends the process, which its
    // parent sees as ended by this signal. It is blocked until this handler returns.
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        if (kSignals[i] == signal_number) sigaction(signal_number, &g_previous[i], nullptr);
    raise(signal_number);
}

void install_handler_once() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            sigaction(kSignals[i], nullptr, &g_previous[i]);
            if (g_previous[i].sa_handler == SIG_IGN) continue;  // started under nohup or the like
            struct sigaction ours {};
            ours.sa_handler = remove_live_temporaries;
            sigemptyset(&ours.sa_mask);
            for (int s : kSignals) sigaddset(&ours.sa_mask, s);
            sigaction(kSignals[i], &ours, nullptr);
        }
    });
}

int list_temporary(const std::string& temporary, const std::string& journal) {
    if (journal.size() >= kRoom) return -1;
    install_handler_once();
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (!g_slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
        std::memcpy(g_slots[i].temporary, temporary.c_str(), temporary.size() + 1);
        std::memcpy(g_slots[i].journal, journal.c_str(), journal.size() + 1);
        g_slots[i].state.store(kLive);
        return i;
    }
    return -1;
}

void unlist_temporary(int slot) {
    if (slot >= 0) g_slots[slot].state.store(kFree);
}

std::string temporary_beside(const std::string& final_path) {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path p(final_path);
    std::string name(1, '.');
    name += p.filename().string();
    name += '.' + std::to_string(getpid()) + '.' + std::to_string(counter.fetch_add(1)) + ".tmp";
    return (p.parent_path() / name).string();
}

bool all_digits(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// Whether name is a temporary (or its journal) that temporary_beside made for final_name.
bool is_temporary_of(std::string_view name, std::string_view final_name) {
    if (name.size() < final_name.size() + 2 || name[0] != '.' || name.substr(1, final_name.size()) != final_name ||
        name[final_name.size() + 1] != '.')
        return false;
    std::string_view rest = name.substr(final_name.size() + 2);
    if (rest.ends_with("-journal")) rest.remove_suffix(8);
    if (!rest.ends_with(".tmp")) return false;
    rest.remove_suffix(4);
    const std::size_t dot = rest.find('.');
    return dot != std::string_view::npos && all_digits(rest.substr(0, dot)) && all_digits(rest.substr(dot + 1));
}

// A writer killed outright (the launcher's SIGKILL after its SIGTERM went unanswered) could not
// remove its temporaries; the next writer of the same result does. No other process writes the
// same result at the same time: a run refuses repeated sample names.
void remove_stale_temporaries(const std::string& final_path) {
    const std::filesystem::path p(final_path);
    const std::string final_name = p.filename().string();
    std::error_code ec;
    // A folder that cannot be listed just keeps what it holds; the write itself will say why.
    for (std::filesystem::directory_iterator it(p.has_parent_path() ? p.parent_path() : ".", ec), end;
         !ec && it != end; it.increment(ec))
        if (is_temporary_of(it->path().filename().string(), final_name)) unlink(it->path().c_str());
}

}  // namespace

namespace korvane {

std::string remove_earlier_result(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR ? "" : std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return "it is a folder";
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return "it is not a regular file";
    return unlink(path.c_str()) == 0 ? "" : std::strerror(errno);
}

ResultFile::ResultFile(std::string final_path)
    : final_(std::move(final_path)), temporary_(temporary_beside(final_)), journal_(temporary_ + "-journal") {
    slot_ = list_temporary(temporary_, journal_);
    // Also those of an earlier process that had this id: a journal there would be rolled into the
    // new database as if it were hot.
    remove_stale_temporaries(final_);
}

ResultFile::~ResultFile() {
    if (!done_) discard();
}

std::error_code ResultFile::commit() {
    if (std::rename(temporary_.c_str(), final_.c_str()) != 0) {
        const std::error_code ec(errno, std::generic_category());
        discard();
        return ec;
    }
    unlist_temporary(slot_);
    done_ = true;
    return {};
}

void ResultFile::discard() noexcept {
    unlink(temporary_.c_str());
    unlink(journal_.c_str());
    unlist_temporary(slot_);
    done_ = true;
}

void replace_whole_file(const std::string& path, const std::string& text) {
    ResultFile file(path);
    errno = 0;
    std::ofstream out(file.temporary_path(), std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        const int reason = errno;
        throw Error("could not write " + path + (reason != 0 ? std::string(": ") + std::strerror(reason) : ""));
    }
    if (const std::error_code ec = file.commit()) throw Error("could not write " + path + ": " + ec.message());
}

}  // namespace korvane
