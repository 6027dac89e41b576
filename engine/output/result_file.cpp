#include "engine/output/result_file.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <utility>

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

constexpr int kSignals[] = {SIGTERM, SIGINT};
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
    // Left by an earlier process that had this id: a journal there would be rolled into the new
    // database as if it were hot.
    unlink(temporary_.c_str());
    unlink(journal_.c_str());
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

}  // namespace korvane
